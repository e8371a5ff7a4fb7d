// An internet item: one resource to transfer, with its address, local file,
// credentials and options, and everything of one transfer of it: the resource
// information learnt from the server, the segment map, the errors, the workers
// running for it and the stream they write into. The item drives its workers,
// turns their events into changes of its own state and forwards them to its
// control, which raises the public events and informs its notifiers.
//
// Threads: an item belongs to the user-interface thread; every operation and
// every event runs there. Its workers run on their own threads and reach it
// only through their hooks, delivered on that thread; what they share directly
// is the item's stream, positioned and written under the item's stream lock.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "base/clTypes.h"
#include "download/ErrorList.h"
#include "download/ResourceState.h"
#include "platform/inet/InetClient.h"
#include "rtl/Collection.h"
#include "rtl/Streams.h"
#include "url/ResourceInfo.h"

namespace rtl {
class Component;
}  // namespace rtl
class TclCustomThreader;
class TclInternetConnection;
class TclMultiInternetControl;
class TclHttpRequestBuilder;
class TclURLParser;

// A running worker and the segment it transfers (none for the information
// worker, or when the map was cleared while it ran).
struct TclThreaderHolder {
  TclCustomThreader* Threader = nullptr;
  TclResourceStateItem* StateItem = nullptr;
  // The worker reported its final status: it no longer holds its segment,
  // though its holder stays until its end hook has run.
  bool Finished = false;
  // The item told the worker to stop; what it reports afterwards is dropped.
  bool Stopped = false;
  // When the worker was made and how many bytes its segment had then, and
  // when its first and its latest block arrived (none yet: epoch): what its
  // speed is estimated from.
  std::chrono::steady_clock::time_point Started{};
  std::int64_t StartBytes = 0;
  std::chrono::steady_clock::time_point FirstBlock{};
  std::chrono::steady_clock::time_point LastBlock{};
  // The item's connection the worker uses while it runs, when connections
  // are handed over (see HandsOverConnections).
  TclInternetConnection* Connection = nullptr;
  // The worker's segment was cut short while its request ran: its
  // connection still carries the rest of that answer and cannot be reused
  // as it is (the next request on it connects again).
  bool Shrunk = false;
  // Its read in flight was aborted to cut the segment there: its connection
  // is closed (an abort may even wait in it) and is not handed on.
  bool Cut = false;
};

// A connection of the item's that no worker uses now, with what its last
// worker showed of it: bytes per second and seconds to its first block.
struct TclIdleConnection {
  TclInternetConnection* Connection = nullptr;
  double Speed = 0;
  double Latency = 0;
};

class TclInternetItem : public rtl::CollectionItem {
 public:
  explicit TclInternetItem(rtl::Collection* collection);
  // Stops and waits for busy workers, then releases everything.
  ~TclInternetItem() override;
  std::string ClassName() const override { return "TclInternetItem"; }

  // Refuses ("Operation is in progress", 0) while busy; prepares the request
  // attachment; starts; with Async false waits until every worker has ended.
  void Start(bool async);
  // Stops every running worker and returns at once. Nothing is started for
  // this transfer afterwards: no takeover, no data phase.
  void Stop();
  bool IsBusy() const { return !holders_.empty(); }
  // Waits, serving messages, until the worker list is empty.
  void WaitForWorkers();

  void Assign(const rtl::Persistent& source) override;

  // A stream of the user's to receive the data instead of a file (not owned).
  rtl::Stream* DataStream() const { return dataStream_; }
  void SetDataStream(rtl::Stream* value) { dataStream_ = value; }

  const std::string& URL() const { return url_; }
  virtual void SetURL(const std::string& value);
  const std::string& LocalFile() const { return localFile_; }
  virtual void SetLocalFile(const std::string& value);
  const std::string& UserName() const { return userName_; }
  virtual void SetUserName(const std::string& value);
  const std::string& Password() const { return password_; }
  virtual void SetPassword(const std::string& value);
  int ThreadCount() const { return threadCount_; }
  void SetThreadCount(int value);  // 1..10
  bool KeepConnection() const { return keepConnection_; }
  void SetKeepConnection(bool value) { keepConnection_ = value; }
  TclProcessPriority Priority() const { return priority_; }
  void SetPriority(TclProcessPriority value) { priority_ = value; }
  TclCertificateFlags CertificateFlags() const { return certificateFlags_; }
  void SetCertificateFlags(TclCertificateFlags value) { certificateFlags_ = value; }
  bool UseInternetErrorDialog() const { return useInternetErrorDialog_; }
  void SetUseInternetErrorDialog(bool value) { useInternetErrorDialog_ = value; }
  // The request attachment.
  TclHttpRequestBuilder* HTTPRequest() const { return httpRequest_; }
  void SetHTTPRequest(TclHttpRequestBuilder* value);
  bool UseHTTPRequest() const { return useHTTPRequest_; }
  void SetUseHTTPRequest(bool value) { useHTTPRequest_ = value; }
  // Forgets Component when it is the attached builder (it is being destroyed).
  void DropHTTPRequest(rtl::Component* component);

  TclProcessStatus Status() const { return status_; }
  TclResourceInfo* ResourceInfo() const { return resourceInfo_.get(); }
  TclResourceState& ResourceState() { return resourceState_; }
  const TclResourceState& ResourceState() const { return resourceState_; }
  TclErrorList& Errors() { return errors_; }
  int WorkerCount() const { return static_cast<int>(holders_.size()); }

  virtual TclMultiInternetControl* GetControl() const = 0;

 protected:
  virtual bool CanProcess() { return true; }
  virtual void InitThreader(TclCustomThreader* threader);
  virtual rtl::Stream* GetDataStream() = 0;
  // Makes the worker for one transfer step; CreateThreader does the rest.
  virtual TclCustomThreader* NewThreader(rtl::Stream* stream, bool infoOnly) = 0;
  virtual void InternalStart(bool infoOnly);
  virtual void ThreaderTerminated(TclCustomThreader* threader);
  // A worker completed its segment and found no failed one to take over: a
  // subclass may give it more work. Nothing here.
  virtual void ContinueWork(TclCustomThreader*) {}
  // True: every worker gets a connection of the item's, and a worker that
  // ends well leaves it, warm and of known speed, to the next worker the
  // item starts. False here: each worker makes its own (or uses the shared
  // one).
  virtual bool HandsOverConnections() const { return false; }
  virtual void DoProcessCompleted(TclCustomThreader* threader);
  virtual void SetStatus(TclProcessStatus status);
  virtual void DoGetResourceInfo(TclResourceInfo* info);
  virtual void ItemChanged();
  virtual void CloseDataStream();
  virtual void ReleaseResources();

  // True once Stop was called in the current transfer.
  bool StopRequested() const { return stopRequested_; }
  // True once a worker failed in a way that ends the whole transfer (see
  // StopOthers): no takeover follows.
  bool Abandoned() const { return abandoned_; }
  // True once a worker saw the resource change under the transfer.
  bool ResourceChangeSeen() const { return resourceChanged_; }
  // Forgets an abandoned transfer, for one started afresh.
  void ClearAbandoned() { abandoned_ = resourceChanged_ = false; }
  // Stops every worker but Keep, for a failure no other worker can get past.
  void StopOthers(TclCustomThreader* keep);
  // A worker for Segment (or none), registered in the worker list and set up.
  TclCustomThreader* CreateThreader(TclResourceStateItem* segment, bool infoOnly);
  // Starts a data worker for Segment with the item's resource information and
  // the address Parser holds (parsed by an earlier worker).
  void StartSuccessor(TclResourceStateItem* segment, TclURLParser& parser);
  // The connection the next worker gets, when one is free (null otherwise).
  const TclIdleConnection* NextIdleConnection() const;
  // The item's workers, for the subclass's decisions.
  std::vector<TclThreaderHolder>& Holders() { return holders_; }
  // True while a worker that has not ended holds Segment.
  bool SegmentHeld(const TclResourceStateItem* segment) const;
  // Empties the segment map, dropping every holder's segment reference.
  void ClearResourceState();
  TclResourceStateItem* HolderSegment(TclCustomThreader* threader) const;
  bool ControlLoading() const;
  rtl::Stream* OwnStream() const { return ownStream_.get(); }
  void SetOwnStream(std::unique_ptr<rtl::Stream> stream) { ownStream_ = std::move(stream); }
  void KeepResourceInfo(TclResourceInfo* info);
  // The item's own connection, made on first use.
  TclInternetConnection* OwnConnection();
  // For the download item's destructor: release while the whole item exists.
  void Release();

 private:
  void RemoveHolder(TclCustomThreader* threader);
  // Gives the connection Holder used back: to the free ones when Reusable,
  // else it is freed (it may hold a pending abort or a broken chain).
  void ReleaseWorkerConnection(TclThreaderHolder& holder, bool reusable);
  // Frees every connection of the transfer's workers (none may be running).
  void DropWorkerConnections();
  TclThreaderHolder* HolderOf(TclCustomThreader* threader);
  void HandleStatus(TclCustomThreader* threader, TclProcessStatus status);
  void HandleError(TclCustomThreader* threader, const std::string& error, std::int32_t code);
  void HandleUrlParsing(URL_COMPONENTSA& components);

  rtl::Stream* dataStream_ = nullptr;
  std::unique_ptr<rtl::Stream> ownStream_;
  std::vector<TclThreaderHolder> holders_;
  std::string password_;
  std::string userName_;
  std::string url_;
  std::string localFile_;
  TclProcessStatus status_ = psUnknown;
  TclProcessPriority priority_ = ppNormal;
  std::unique_ptr<TclResourceInfo> resourceInfo_;
  TclErrorList errors_;
  TclCertificateFlags certificateFlags_;
  bool useInternetErrorDialog_ = true;
  int threadCount_ = 1;
  TclResourceState resourceState_;
  bool keepConnection_ = false;
  std::unique_ptr<TclInternetConnection> ownConnection_;
  // The connections handed from worker to worker in this transfer, and the
  // ones no worker uses now, the one freed last first.
  std::vector<std::unique_ptr<TclInternetConnection>> workerConnections_;
  std::vector<TclIdleConnection> idleConnections_;
  TclHttpRequestBuilder* httpRequest_ = nullptr;
  bool useHTTPRequest_ = false;
  bool released_ = false;
  bool stopRequested_ = false;
  bool abandoned_ = false;
  bool resourceChanged_ = false;

  friend class TclDownLoadItem;
};

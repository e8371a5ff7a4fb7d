// The download item and the download list. A transfer runs in two phases: an
// information phase with one worker that only asks the server about the
// resource, then a data phase with one worker per segment of the map. The item
// names its local file (from the address, the server's file name and the
// control's folder), writes compressed content into a work file and unpacks
// it when done, stamps the file with the server's date and makes a preview of
// the first bytes.
//
// Threads: as every item, the user-interface thread's.
#pragma once

#include <mutex>
#include <string>

#include "download/InternetItem.h"
#include "rtl/DateTime.h"
#include "rtl/StringList.h"
#include "url/URLParser.h"

class TclCustomMultiDownLoaderControl;
class TclDownLoadList;

class TclDownLoadItem : public TclInternetItem {
 public:
  explicit TclDownLoadItem(rtl::Collection* collection);
  ~TclDownLoadItem() override;
  std::string ClassName() const override { return "TclDownLoadItem"; }

  void DefineProperties(rtl::Properties& properties) override;

  void SetURL(const std::string& value) override;
  bool AllowCompression() const { return allowCompression_; }
  void SetAllowCompression(bool value) { allowCompression_ = value; }
  // The file actually written: LocalFile, or LocalFile + "~" while the content
  // arrives compressed.
  const std::string& WorkFile() const { return workFile_; }
  bool InfoPhase() const { return infoPhase_; }
  bool DataPhase() const { return dataPhase_; }
  const rtl::StringList& PreviewText() const { return preview_; }
  // The server's date of the resource when the segment map was built. A map
  // is resumed only onto a resource that still has this date (and size): a
  // file that changed on the server is fetched afresh, never spliced.
  rtl::DateTime MapDate() const { return mapDate_; }
  void SetMapDate(rtl::DateTime value) { mapDate_ = value; }
  // The resource's validators when the map was built (ETag, Last-Modified
  // text). A map with them is resumed only onto a resource that still sends
  // the same ones (the size alone when it sends none); a map without them
  // (from an older record) falls back to MapDate.
  const std::string& MapETag() const { return mapETag_; }
  const std::string& MapLastModified() const { return mapLastModified_; }
  bool MapHasValidators() const { return mapHasValidators_; }
  void SetMapValidators(const std::string& etag, const std::string& lastModified);
  // Whether the data phase of the current transfer continued the map (true)
  // or started it afresh.
  bool ResumedMap() const { return resumedMap_; }

  TclMultiInternetControl* GetControl() const override;
  TclCustomMultiDownLoaderControl* DownLoader() const;

 protected:
  bool CanProcess() override;
  rtl::Stream* GetDataStream() override;
  TclCustomThreader* NewThreader(rtl::Stream* stream, bool infoOnly) override;
  void InternalStart(bool infoOnly) override;
  void DoProcessCompleted(TclCustomThreader* threader) override;
  void SetStatus(TclProcessStatus status) override;
  void DoGetResourceInfo(TclResourceInfo* info) override;
  void CloseDataStream() override;
  void ReleaseResources() override;
  // With the control's SplitSegments: a waiting segment of a resumed map,
  // else the end of the running segment that will finish last.
  void ContinueWork(TclCustomThreader* finishing) override;
  // With SplitSegments, over connections of each worker's own (not FTP).
  bool HandsOverConnections() const override;

  virtual void DoDataTextProceed();
  virtual void MakePreviewText();

 private:
  void StartSegments(const TclURLParser& parser);
  int SegmentCount() const;
  // A segment of the map with bytes still to fetch that no worker holds and
  // none has failed on (a resumed map may have more segments than workers).
  TclResourceStateItem* WaitingSegment() const;
  // True when running segments may be split: a sized resource that accepts
  // ranges over a connection of each worker's own.
  bool Splittable() const;
  // Splits a running segment for a worker on the next free connection to
  // take over; false when no split is worth it.
  bool SplitRunningSegment();
  // While a free connection waits and segments run, the item looks again
  // every kRecheckMs whether one has become worth splitting (a worker's
  // speed shows only after its first blocks).
  void ArmRecheck();
  void DisarmRecheck();
  void Recheck();
  bool Compressed() const;
  bool IsFtp() const;
  bool Resumable(const std::string& file) const;
  void RecordError(const std::string& error);
  // A compressed body that does not decode fails the item.
  void FailUndecodable(const std::string& error);
  bool SameResourceAsMap() const;
  // The end of the furthest byte the map holds.
  std::int64_t MapDoneEnd() const;
  // After a change of the resource under the transfer: everything again
  // from the information phase, with a fresh map, once per start.
  bool RestartPending() const;
  void StartAfresh();

  rtl::StringList preview_;
  bool infoPhase_ = false;
  bool dataPhase_ = false;
  std::mutex streamLock_;
  bool allowCompression_ = true;
  std::string workFile_;
  rtl::DateTime mapDate_ = 0;
  std::string mapETag_;
  std::string mapLastModified_;
  bool mapHasValidators_ = false;
  bool resumedMap_ = false;
  bool restartedAfterChange_ = false;
  // The address as the information worker parsed it, for the workers the
  // item starts later.
  TclURLParser dataParser_;
  std::uint32_t recheckTimer_ = 0;
};

class TclDownLoadList : public rtl::OwnedCollection<TclDownLoadItem> {
 public:
  explicit TclDownLoadList(TclCustomMultiDownLoaderControl* control) : control_(control) {}
  // Frees the items while this is still a download list: a busy item stops
  // and waits for its workers, which report to the control through it.
  ~TclDownLoadList() override { Clear(); }
  std::string ClassName() const override { return "TclDownLoadList"; }

  // A new item at the end, its LocalFile in the control's folder.
  TclDownLoadItem* Add();
  TclCustomMultiDownLoaderControl* GetControl() const { return control_; }

 private:
  TclCustomMultiDownLoaderControl* control_;
};

// The control's folder combined with the file-name part (after the last
// separator) of Path; a separator is put between them when the folder is not
// empty and does not end in one.
std::string CombineLocalFile(const std::string& folder, const std::string& path);
// The file name a server suggested, reduced to its last path component; "",
// "." and ".." give no name. The suggestion is outside input: it never picks a
// folder.
std::string SafeSuggestedFileName(const std::string& suggested);

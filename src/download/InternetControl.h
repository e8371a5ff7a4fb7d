// The two lower layers of the download control: TclCustomInternetControl keeps
// the settings every item copies into its workers, counts busy items, keeps the
// registered notifiers and saves its settings to the registry;
// TclMultiInternetControl adds the public events, their dispatch operations
// (called by the items) and the starting of items.
//
// Threads: only the user-interface thread calls into a control; worker events
// reach it through the items, on that thread.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "base/clTypes.h"
#include "platform/inet/InetClient.h"
#include "rtl/Component.h"

class TclInternetConnection;
class TclInternetItem;
class TclResourceInfo;
class TclResourceStateItem;
class TclControlNotifier;
class TclCustomInternetControl;
class TclMultiInternetControl;
namespace rtl {
class StringList;
class Properties;
}  // namespace rtl

using TclControlNotifyEvent = std::function<void(rtl::Component* sender)>;
using TclItemEvent = std::function<void(TclMultiInternetControl* sender, TclInternetItem* item)>;
using TclStatusChangedEvent = std::function<void(TclMultiInternetControl* sender,
                                                 TclInternetItem* item, TclProcessStatus status)>;
using TclGetResourceInfoEvent = std::function<void(
    TclMultiInternetControl* sender, TclInternetItem* item, TclResourceInfo* resourceInfo)>;
using TclDataItemProceedEvent = std::function<void(
    TclMultiInternetControl* sender, TclInternetItem* item, TclResourceInfo* resourceInfo,
    TclResourceStateItem* stateItem, const char* currentData, std::int32_t currentDataSize)>;
using TclErrorEvent = std::function<void(TclMultiInternetControl* sender, TclInternetItem* item,
                                         const std::string& error, std::int32_t errorCode)>;
using TclURLParsingEvent = std::function<void(
    TclMultiInternetControl* sender, TclInternetItem* item, URL_COMPONENTSA& urlComponents)>;
using TclGetCertificateEvent =
    std::function<void(TclMultiInternetControl* sender, TclInternetItem* item,
                       PCCERT_CONTEXT& certContext, bool& handled)>;
// Beyond the classic events: an item's worker failed an attempt and tries again
// after PauseMs (nothing is recorded in the item's errors).
using TclRetryingEvent =
    std::function<void(TclMultiInternetControl* sender, TclInternetItem* item,
                       const std::string& error, std::int32_t errorCode, int pauseMs)>;
using TclDataTextProceedEvent = std::function<void(
    TclMultiInternetControl* sender, TclInternetItem* item, const rtl::StringList& text)>;

class TclCustomInternetControl : public rtl::Component {
 public:
  explicit TclCustomInternetControl(rtl::Component* owner);
  ~TclCustomInternetControl() override;

  // Settings; setters ignore values out of range (see each).
  int TryCount() const { return tryCount_; }
  void SetTryCount(int value);  // > 0
  int BatchSize() const { return batchSize_; }
  void SetBatchSize(int value);  // > 0
  int TimeOut() const { return timeOut_; }
  void SetTimeOut(int value);  // > 0
  int ReconnectAfter() const { return reconnectAfter_; }
  void SetReconnectAfter(int value);  // > 0
  std::int64_t MinResourceSize() const { return minResourceSize_; }
  void SetMinResourceSize(std::int64_t value);  // >= 0, 0 = no limit
  std::int64_t MaxResourceSize() const { return maxResourceSize_; }
  void SetMaxResourceSize(std::int64_t value);  // >= 0, 0 = no limit
  const std::string& Proxy() const { return proxy_; }
  void SetProxy(const std::string& value) { proxy_ = value; }
  const std::string& ProxyBypass() const { return proxyBypass_; }
  void SetProxyBypass(const std::string& value) { proxyBypass_ = value; }
  const std::string& InternetAgent() const { return internetAgent_; }
  void SetInternetAgent(const std::string& value) { internetAgent_ = value; }
  char DefaultChar() const { return defaultChar_; }
  void SetDefaultChar(char value);  // code 32 or more
  bool PassiveFTPMode() const { return passiveFTPMode_; }
  void SetPassiveFTPMode(bool value) { passiveFTPMode_ = value; }
  bool DoNotGetResourceInfo() const { return doNotGetResourceInfo_; }
  void SetDoNotGetResourceInfo(bool value) { doNotGetResourceInfo_ = value; }
  // Beyond the classic settings; each default keeps the classic behaviour.
  // False: an error no retry can mend (400, 401, 403, 404, 405, 410, 416 to a
  // whole-file request, a refused certificate, an invalid URL, FTP 530 or 550)
  // ends the item at once with its message instead of using up TryCount.
  bool RetryPermanentErrors() const { return retryPermanentErrors_; }
  void SetRetryPermanentErrors(bool value) { retryPermanentErrors_ = value; }
  // True: a 429 or 503 answer with Retry-After pauses that long (at most 60 s)
  // before the next attempt instead of ReconnectAfter.
  bool HonorRetryAfter() const { return honorRetryAfter_; }
  void SetHonorRetryAfter(bool value) { honorRetryAfter_ = value; }
  // True: a HEAD answered 405 or 501 (servers that refuse HEAD) falls back to
  // the information GET for the resource's facts instead of failing.
  bool HeadFallback() const { return headFallback_; }
  void SetHeadFallback(bool value) { headFallback_ = value; }
  // True: a missing Last-Modified or Content-Type is still reported (text and
  // status as before) but no longer costs the segments when Content-Length
  // gave the size; a resume then relies on the ETag or on the size alone.
  bool KeepSizeWithoutHeaders() const { return keepSizeWithoutHeaders_; }
  void SetKeepSizeWithoutHeaders(bool value) { keepSizeWithoutHeaders_ = value; }
  // True: a worker that completes its segment, when no failed or waiting
  // segment is left to take over, takes over the end of the running segment
  // that will finish last (split off where the two are expected to finish
  // together, at least 1 MiB and BatchSize); the running worker stops at the
  // split. A resumed map with more segments than the item's workers is
  // worked through by as many workers. False: the classic fixed segments.
  bool SplitSegments() const { return splitSegments_; }
  void SetSplitSegments(bool value) { splitSegments_ = value; }
  // True: the information phase asks with HEAD alone when the HEAD gave the
  // length and range support (no information GET whose body is thrown away).
  bool HeadOnlyInfo() const { return headOnlyInfo_; }
  void SetHeadOnlyInfo(bool value) { headOnlyInfo_ = value; }
  // True: data workers use the item's resource information without a HEAD
  // of their own (a ranged download is then one request per segment and one
  // for the information).
  bool ReuseResourceInfo() const { return reuseResourceInfo_; }
  void SetReuseResourceInfo(bool value) { reuseResourceInfo_ = value; }
  // A connection shared by all items (not owned; watched for its destruction).
  TclInternetConnection* Connection() const { return connection_; }
  void SetConnection(TclInternetConnection* value);

  // Items currently started and not yet completed.
  int BusyCount() const { return busyCount_; }
  bool IsBusy() const { return busyCount_ > 0; }
  void BeginBusy();
  void EndBusy();
  const TclControlNotifyEvent& OnIsBusyChanged() const { return onIsBusyChanged_; }
  void SetOnIsBusyChanged(TclControlNotifyEvent handler) { onIsBusyChanged_ = std::move(handler); }

  void AddNotifier(TclControlNotifier* notifier);
  void RemoveNotifier(TclControlNotifier* notifier);
  int NotifierCount() const { return static_cast<int>(notifiers_.size()); }

  // The published settings as one stored value "Data" of the current user's
  // registry key; loading ignores anything it cannot restore.
  virtual void LoadFromRegistry(const std::string& key);
  virtual void SaveToRegistry(const std::string& key);

  virtual void DoIsBusyChanged();

  template <class F>
  void ForEachNotifier(F&& call) {
    // The count taken first: a notifier that unregisters inside the broadcast
    // shortens the list without making the loop skip or repeat anyone.
    const std::size_t count = notifiers_.size();
    for (std::size_t i = 0; i < count && i < notifiers_.size(); ++i) call(notifiers_[i]);
  }

 protected:
  void Notification(rtl::Component* component, rtl::Operation operation) override;
  virtual void ComponentRemoved(rtl::Component* component) = 0;

 private:
  int busyCount_ = 0;
  int tryCount_ = 5;
  int batchSize_ = 8192;
  int timeOut_ = 5000;
  TclControlNotifyEvent onIsBusyChanged_;
  std::int64_t minResourceSize_ = 0;
  std::int64_t maxResourceSize_ = 0;
  std::string proxy_;
  std::string proxyBypass_;
  std::string internetAgent_;
  char defaultChar_ = static_cast<char>(128);
  bool passiveFTPMode_ = false;
  std::vector<TclControlNotifier*> notifiers_;
  int reconnectAfter_ = 5000;
  TclInternetConnection* connection_ = nullptr;
  bool doNotGetResourceInfo_ = false;
  bool retryPermanentErrors_ = true;
  bool honorRetryAfter_ = false;
  bool headFallback_ = false;
  bool keepSizeWithoutHeaders_ = false;
  bool splitSegments_ = false;
  bool headOnlyInfo_ = false;
  bool reuseResourceInfo_ = false;
};

class TclMultiInternetControl : public TclCustomInternetControl {
 public:
  using TclCustomInternetControl::TclCustomInternetControl;

  // Starts Item, or with none every item from the first to the last; an item's
  // start error ends the loop and reaches the caller.
  void Start(TclInternetItem* item = nullptr, bool async = true);
  virtual TclInternetItem* GetItem(int index) = 0;
  virtual int GetItemCount() = 0;

  // Dispatch operations, called by the items on the user-interface thread.
  virtual void DoChanged(TclInternetItem* item);
  virtual void DoResourceStateChanged(TclInternetItem* item);
  virtual void DoGetCertificate(TclInternetItem* item, PCCERT_CONTEXT& certContext, bool& handled);
  virtual void DoURLParsing(TclInternetItem* item, URL_COMPONENTSA& urlComponents);
  virtual void DoGetResourceInfo(TclInternetItem* item, TclResourceInfo* resourceInfo);
  virtual void DoStatusChanged(TclInternetItem* item, TclProcessStatus status);
  virtual void DoDataItemProceed(TclInternetItem* item, TclResourceInfo* resourceInfo,
                                 TclResourceStateItem* stateItem, const char* currentData,
                                 std::int32_t currentDataSize);
  virtual void DoError(TclInternetItem* item, const std::string& error, std::int32_t errorCode);
  virtual void DoProcessCompleted(TclInternetItem* item);
  virtual void DoRetrying(TclInternetItem* item, const std::string& error, std::int32_t errorCode,
                          int pauseMs);

  void SetOnDataItemProceed(TclDataItemProceedEvent handler) {
    onDataItemProceed_ = std::move(handler);
  }
  void SetOnError(TclErrorEvent handler) { onError_ = std::move(handler); }
  void SetOnGetResourceInfo(TclGetResourceInfoEvent handler) {
    onGetResourceInfo_ = std::move(handler);
  }
  void SetOnChanged(TclItemEvent handler) { onChanged_ = std::move(handler); }
  void SetOnStatusChanged(TclStatusChangedEvent handler) { onStatusChanged_ = std::move(handler); }
  void SetOnURLParsing(TclURLParsingEvent handler) { onURLParsing_ = std::move(handler); }
  void SetOnGetCertificate(TclGetCertificateEvent handler) {
    onGetCertificate_ = std::move(handler);
  }
  void SetOnProcessCompleted(TclItemEvent handler) { onProcessCompleted_ = std::move(handler); }
  void SetOnRetrying(TclRetryingEvent handler) { onRetrying_ = std::move(handler); }

 protected:
  void Loaded() override;
  // Drops the reference to Component from every item's request attachment.
  void ComponentRemoved(rtl::Component* component) override;

 private:
  TclDataItemProceedEvent onDataItemProceed_;
  TclErrorEvent onError_;
  TclGetResourceInfoEvent onGetResourceInfo_;
  TclItemEvent onChanged_;
  TclStatusChangedEvent onStatusChanged_;
  TclURLParsingEvent onURLParsing_;
  TclGetCertificateEvent onGetCertificate_;
  TclItemEvent onProcessCompleted_;
  TclRetryingEvent onRetrying_;
};

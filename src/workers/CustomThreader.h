// The worker thread base: one piece of transfer work for one download item. It
// parses the URL once, opens the internet root and connects through a
// connection's actions, asks the server about the resource (HTTP HEAD and an
// information GET, or an FTP find) and hands over to its subclass for the data.
// A whole attempt is repeated on internet errors after a pause; every action is
// bounded by a time-out; the owner may stop it at any time.
//
// Threads:
// - the creating (owner) thread builds, configures, starts and stops the
//   threader, and runs every hook: the worker hands each hook to it through the
//   threader's synchroniser and waits until it has run there;
// - the worker thread runs Execute and everything below it;
// - Stop may be called on the owner thread at any time while the worker runs;
//   it touches only the terminated mark, RetryEvent and the connection's abort.
// Settings are written by the owner before Start and only read afterwards.
//
// Ownership: the owner normally makes the threader free itself when it ends
// (FreeOnTerminate); the threader then deletes itself on the worker thread right
// after OnTerminate has run on the owner thread, so the owner must forget it in
// its OnTerminate handler and never touch it afterwards.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "base/ThreadSynchronizer.h"
#include "base/clTypes.h"
#include "platform/Threads.h"
#include "platform/inet/InetClient.h"
#include "rtl/StringList.h"
#include "url/ResourceInfo.h"
#include "url/URLParser.h"

namespace rtl {
class Stream;
}
class TclInternetConnection;
class TclInternetAction;
class TclInternetResourceAction;
class TclConnectAction;
class TclHttpOpenRequestAction;
class EclInternetError;
class TclCustomThreader;

// The agent text workers and controls send unless told otherwise.
inline constexpr const char* kDefaultInternetAgent = "Mozilla/4.0 (compatible; MultiDownLoader)";

using TclThreaderStatusEvent =
    std::function<void(TclCustomThreader* sender, TclProcessStatus status)>;
using TclThreaderErrorEvent = std::function<void(TclCustomThreader* sender,
                                                 const std::string& error, std::int32_t errorCode)>;
using TclThreaderResourceInfoEvent =
    std::function<void(TclCustomThreader* sender, TclResourceInfo* info)>;
using TclThreaderUrlParsingEvent =
    std::function<void(TclCustomThreader* sender, URL_COMPONENTSA& components)>;
using TclThreaderCertificateEvent =
    std::function<void(TclCustomThreader* sender, PCCERT_CONTEXT& certContext, bool& handled)>;
using TclThreaderDataEvent =
    std::function<void(TclCustomThreader* sender, TclResourceInfo* info, std::int64_t currentPos,
                       const char* data, std::int32_t size)>;
using TclThreaderNotifyEvent = std::function<void(TclCustomThreader* sender)>;
// An attempt failed and the next one follows after PauseMs.
using TclThreaderRetryEvent = std::function<void(
    TclCustomThreader* sender, const std::string& error, std::int32_t errorCode, int pauseMs)>;

// Why a run ended psFailed, for the owner's decisions (taking over, stopping
// the other workers, starting afresh).
enum class TclRunFailure : std::uint8_t {
  None,             // the run has not failed
  TriesUsedUp,      // every attempt failed
  NotRetried,       // an error no retry can mend, and RetryPermanentErrors is off
  ResourceChanged,  // the server answered for another version of the resource
  LocalFile,        // the local file could not be written (a full disk)
  Other,            // the address, the library or a hook failed
};

// The longest pause a server's Retry-After may impose.
inline constexpr int kRetryAfterLimitMs = 60000;

class TclCustomThreader : public platform::Thread {
 public:
  TclCustomThreader(const std::string& url, rtl::Stream* dataStream);
  ~TclCustomThreader() override;

  // Resumes the suspended thread.
  virtual void Start();
  // Marks the thread terminated, ends a pending pause and aborts the running
  // action (creating the own connection first when there is none).
  void Stop();

  // A shared connection from now on (not owned); an own connection is freed.
  void SetConnection(TclInternetConnection* connection);
  TclInternetConnection* Connection();
  // The owner's resource information (not owned) instead of an own record.
  void SetResourceInfo(TclResourceInfo* info);
  TclResourceInfo* ResourceInfo() const { return ownerInfo_ ? ownerInfo_ : ownInfo_.get(); }
  // The parser; the owner may Assign another threader's parser to it before
  // Start, and the URL is then not parsed again.
  TclURLParser& URLParser() { return parser_; }

  // The time-out to use for a setting (TimeOut, ReconnectAfter).
  virtual int GetTimeOut(int value) { return value; }

  // Settings.
  const std::string& URL() const { return url_; }
  rtl::Stream* DataStream() const { return dataStream_; }
  int TryCount() const { return tryCount_; }
  void SetTryCount(int value) { tryCount_ = value; }
  int TimeOut() const { return timeOut_; }
  void SetTimeOut(int value) { timeOut_ = value; }
  int ReconnectAfter() const { return reconnectAfter_; }
  void SetReconnectAfter(int value) { reconnectAfter_ = value; }
  int BatchSize() const { return batchSize_; }
  void SetBatchSize(int value) { batchSize_ = value; }
  const std::string& InternetAgent() const { return internetAgent_; }
  void SetInternetAgent(const std::string& value) { internetAgent_ = value; }
  const std::string& Proxy() const { return proxy_; }
  void SetProxy(const std::string& value) { proxy_ = value; }
  const std::string& ProxyBypass() const { return proxyBypass_; }
  void SetProxyBypass(const std::string& value) { proxyBypass_ = value; }
  bool PassiveFTPMode() const { return passiveFTPMode_; }
  void SetPassiveFTPMode(bool value) { passiveFTPMode_ = value; }
  bool KeepConnection() const { return keepConnection_; }
  void SetKeepConnection(bool value) { keepConnection_ = value; }
  bool DoNotGetResourceInfo() const { return doNotGetResourceInfo_; }
  void SetDoNotGetResourceInfo(bool value) { doNotGetResourceInfo_ = value; }
  // False: an error no retry can mend ends the run at once.
  bool RetryPermanentErrors() const { return retryPermanentErrors_; }
  void SetRetryPermanentErrors(bool value) { retryPermanentErrors_ = value; }
  // True: a 429 or 503 with Retry-After pauses that long (at most
  // kRetryAfterLimitMs) instead of ReconnectAfter.
  bool HonorRetryAfter() const { return honorRetryAfter_; }
  void SetHonorRetryAfter(bool value) { honorRetryAfter_ = value; }
  // True: a HEAD answered 405 or 501 is replaced by the information GET for
  // the resource's facts.
  bool HeadFallback() const { return headFallback_; }
  void SetHeadFallback(bool value) { headFallback_ = value; }
  // True: a missing Last-Modified or Content-Type is still reported but keeps
  // the size the Content-Length gave (so the resource is split as usual).
  bool KeepSizeWithoutHeaders() const { return keepSizeWithoutHeaders_; }
  void SetKeepSizeWithoutHeaders(bool value) { keepSizeWithoutHeaders_ = value; }
  // True: the information request is the HEAD alone when it gave the length
  // and range support; the GET follows only where the HEAD left them open.
  bool HeadOnlyInfo() const { return headOnlyInfo_; }
  void SetHeadOnlyInfo(bool value) { headOnlyInfo_ = value; }
  // True: a worker given the owner's resource information sends no HEAD of
  // its own; its data request's status is checked instead.
  bool ReuseResourceInfo() const { return reuseResourceInfo_; }
  void SetReuseResourceInfo(bool value) { reuseResourceInfo_ = value; }
  TclCertificateFlags CertificateFlags() const { return certificateFlags_; }
  void SetCertificateFlags(TclCertificateFlags value) { certificateFlags_ = value; }
  bool UseInternetErrorDialog() const { return useInternetErrorDialog_; }
  void SetUseInternetErrorDialog(bool value) { useInternetErrorDialog_ = value; }
  bool AllowCompression() const { return allowCompression_; }
  void SetAllowCompression(bool value) { allowCompression_ = value; }
  rtl::StringList& RequestHeaders() { return requestHeaders_; }
  const std::string& ProxyUser() const { return proxyUser_; }
  void SetProxyUser(const std::string& value) { proxyUser_ = value; }
  const std::string& ProxyPassword() const { return proxyPassword_; }
  void SetProxyPassword(const std::string& value) { proxyPassword_ = value; }
  TclAuthenticationType AuthenticationType() const { return authenticationType_; }
  void SetAuthenticationType(TclAuthenticationType value) { authenticationType_ = value; }
  // Absolute offset of the next byte to fetch, and the bytes still to fetch
  // (-1: up to the end of the resource).
  std::int64_t ResourcePos() const { return resourcePos_; }
  void SetResourcePos(std::int64_t value) { resourcePos_ = value; }
  std::int64_t BytesToProceed() const { return bytesToProceed_; }
  void SetBytesToProceed(std::int64_t value) { bytesToProceed_ = value; }
  // Held around every positioning and write of DataStream.
  std::mutex* DataLock() const { return dataLock_; }
  void SetDataLock(std::mutex* value) { dataLock_ = value; }

  // State, read on the owner thread inside a hook or after the thread ended.
  TclProcessStatus Status() const { return status_; }
  const std::string& ErrorText() const { return errorText_; }
  std::int32_t ErrorCode() const { return errorCode_; }
  // Set before the failed status and the error of the run are reported.
  TclRunFailure Failure() const { return failure_; }

  // Hooks, run on the creating thread while the worker waits.
  void SetOnStatusChanged(TclThreaderStatusEvent handler) { onStatusChanged_ = std::move(handler); }
  void SetOnError(TclThreaderErrorEvent handler) { onError_ = std::move(handler); }
  void SetOnGetResourceInfo(TclThreaderResourceInfoEvent handler) {
    onGetResourceInfo_ = std::move(handler);
  }
  void SetOnURLParsing(TclThreaderUrlParsingEvent handler) { onURLParsing_ = std::move(handler); }
  void SetOnGetCertificate(TclThreaderCertificateEvent handler) {
    onGetCertificate_ = std::move(handler);
  }
  void SetOnDataItemProceed(TclThreaderDataEvent handler) {
    onDataItemProceed_ = std::move(handler);
  }
  void SetOnTerminate(TclThreaderNotifyEvent handler) { onTerminate_ = std::move(handler); }
  void SetOnRetrying(TclThreaderRetryEvent handler) { onRetrying_ = std::move(handler); }

  std::uint32_t CreatorThreadId() const { return synchronizer_->CreatorThreadId(); }

 protected:
  void Execute() override;
  void DoTerminate() override;

  virtual void GetHttpResourceInfo(TclConnectAction* connectAction);
  virtual void GetFtpResourceInfo(TclConnectAction* connectAction);
  virtual void ProcessHttp(TclConnectAction* connectAction);
  virtual void ProcessFtp(TclConnectAction* connectAction);
  // One attempt.
  virtual void Process();

  void GetResourceInfo(TclConnectAction* connectAction);
  void SendRequest(TclHttpOpenRequestAction* request);
  void CheckStatusCode(TclHttpOpenRequestAction* request);
  void AddRequestHeaders(TclHttpOpenRequestAction* request);
  void AddCompressionHeader(TclHttpOpenRequestAction* request);
  // True: no new send needed.
  bool CheckProxyAuthentication(TclHttpOpenRequestAction* request);
  DWORD GetRequestFlags(bool forInformation) const;
  // Frees Action unless KeepConnection leaves it for the next threader.
  void ReleaseAction(TclInternetAction* action);
  // Text empty: the worker thread's last error and its text. What, when given,
  // is appended after ": ".
  void SetError(const std::string& text, const std::string& what, std::int32_t code);
  void SetStatus(TclProcessStatus status);
  // The own record when the owner supplied none; its Name is the URL path.
  TclResourceInfo* EnsureResourceInfo();
  bool OwnerSuppliedInfo() const { return ownerInfo_ != nullptr; }
  // Runs Method on the creating thread and waits for it.
  void Synchronize(const std::function<void()>& method);
  void RunDataHook(std::int64_t currentPos, const char* data, std::int32_t size);
  void SetFailure(TclRunFailure failure) { failure_ = failure; }

 private:
  // Size, date, type and validators of a response; false when stopped.
  bool ReadResourceFacts(TclHttpOpenRequestAction* request);
  // Disposition and encoding of a response.
  void ReadBodyFacts(TclHttpOpenRequestAction* request);
  // The pause before the next attempt after Error.
  int RetryPause(const EclInternetError& error);
  void ParseURL();
  bool HandleSendError(TclHttpOpenRequestAction* request, DWORD code);
  void ApplyProxyCredentials(TclHttpOpenRequestAction* request);
  void ApplyCertificateFlags(TclHttpOpenRequestAction* request);
  void ApplyClientCertificate(TclHttpOpenRequestAction* request);

  friend void WaitForThreader(TclCustomThreader* threader);

  std::string url_;
  rtl::Stream* dataStream_;
  int tryCount_ = 5;
  int timeOut_ = 5000;
  int reconnectAfter_ = 5000;
  int batchSize_ = 8192;
  std::string internetAgent_ = kDefaultInternetAgent;
  std::string proxy_;
  std::string proxyBypass_;
  bool passiveFTPMode_ = false;
  bool keepConnection_ = false;
  bool doNotGetResourceInfo_ = false;
  bool retryPermanentErrors_ = true;
  bool honorRetryAfter_ = false;
  bool headFallback_ = false;
  bool keepSizeWithoutHeaders_ = false;
  bool headOnlyInfo_ = false;
  bool reuseResourceInfo_ = false;
  TclCertificateFlags certificateFlags_;
  bool useInternetErrorDialog_ = false;
  bool allowCompression_ = false;
  rtl::StringList requestHeaders_;
  std::string proxyUser_;
  std::string proxyPassword_;
  TclAuthenticationType authenticationType_ = atBasic;
  std::int64_t resourcePos_ = 0;
  std::int64_t bytesToProceed_ = -1;
  std::mutex* dataLock_ = nullptr;

  TclProcessStatus status_ = psUnknown;
  std::int32_t lastStatusCode_ = 0;
  std::string errorText_;
  std::int32_t errorCode_ = 0;
  TclRunFailure failure_ = TclRunFailure::None;
  TclURLParser parser_;
  // The connection pointer is set by the owner (SetConnection, Stop) and by
  // the worker (first need); the lock keeps the two from making two.
  std::mutex connectionLock_;
  TclInternetConnection* sharedConnection_ = nullptr;     // guarded by connectionLock_
  std::unique_ptr<TclInternetConnection> ownConnection_;  // guarded by connectionLock_
  TclResourceInfo* ownerInfo_ = nullptr;
  std::unique_ptr<TclResourceInfo> ownInfo_;
  std::shared_ptr<platform::Event> retryEvent_;
  std::unique_ptr<TclThreadSynchronizer> synchronizer_;
  URL_COMPONENTSA urlComponents_{};
  PCCERT_CONTEXT certContext_ = nullptr;
  bool certHandled_ = false;

  TclThreaderStatusEvent onStatusChanged_;
  TclThreaderErrorEvent onError_;
  TclThreaderResourceInfoEvent onGetResourceInfo_;
  TclThreaderUrlParsingEvent onURLParsing_;
  TclThreaderCertificateEvent onGetCertificate_;
  TclThreaderDataEvent onDataItemProceed_;
  TclThreaderNotifyEvent onTerminate_;
  TclThreaderRetryEvent onRetrying_;
};

// Waits until Threader's thread has ended. On the thread that created it, it
// keeps serving sent messages (so the hooks of this and every other threader
// go on running); elsewhere it is a plain wait.
void WaitForThreader(TclCustomThreader* threader);

#include "workers/CustomThreader.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "inet/InternetActions.h"
#include "inet/InternetErrors.h"
#include "inet/clConnection.h"
#include "inet/clWinInet.h"
#include "platform/Files.h"
#include "platform/LastError.h"
#include "platform/Messages.h"
#include "rtl/DateTime.h"
#include "workers/HttpQueries.h"

namespace {

// Releases an action on every exit of the step that uses it.
class ReleaseGuard {
 public:
  ReleaseGuard(std::function<void(TclInternetAction*)> release) : release_(std::move(release)) {}
  ~ReleaseGuard() {
    if (action_) release_(action_);
  }
  ReleaseGuard(const ReleaseGuard&) = delete;
  ReleaseGuard& operator=(const ReleaseGuard&) = delete;
  void Set(TclInternetAction* action) { action_ = action; }
  // Frees the action now (plain delete, whatever KeepConnection says).
  void FreeNow() {
    delete action_;
    action_ = nullptr;
  }

 private:
  std::function<void(TclInternetAction*)> release_;
  TclInternetAction* action_ = nullptr;
};

bool IsBlankOrBreak(char c) {
  return static_cast<unsigned char>(c) <= ' ';
}

std::string TrimBlanks(const std::string& text) {
  auto first = std::find_if_not(text.begin(), text.end(), IsBlankOrBreak);
  auto last = std::find_if_not(text.rbegin(), text.rend(), IsBlankOrBreak).base();
  return first < last ? std::string(first, last) : std::string();
}

}  // namespace

TclCustomThreader::TclCustomThreader(const std::string& url, rtl::Stream* dataStream)
    : platform::Thread(true),
      url_(url),
      dataStream_(dataStream),
      retryEvent_(platform::CreateEvent(false, false)),
      synchronizer_(std::make_unique<TclThreadSynchronizer>()) {
  parser_.SetOnUrlParsing([this](TclURLParser*, URL_COMPONENTSA& components) {
    urlComponents_ = components;
    Synchronize([this] {
      if (onURLParsing_) onURLParsing_(this, urlComponents_);
    });
    components = urlComponents_;
  });
}

TclCustomThreader::~TclCustomThreader() {
  ownConnection_.reset();
  ownInfo_.reset();
}

void TclCustomThreader::Start() {
  platform::Thread::Start();
}

void TclCustomThreader::Stop() {
  Terminate();
  retryEvent_->Set();
  Connection()->Abort();
}

void TclCustomThreader::SetConnection(TclInternetConnection* connection) {
  std::lock_guard guard(connectionLock_);
  sharedConnection_ = connection;
  ownConnection_.reset();
}

TclInternetConnection* TclCustomThreader::Connection() {
  std::lock_guard guard(connectionLock_);
  if (sharedConnection_) return sharedConnection_;
  // Made on the thread that first needs it, so that its synchroniser belongs to
  // that thread (normally the worker).
  if (!ownConnection_) ownConnection_ = std::make_unique<TclInternetConnection>();
  return ownConnection_.get();
}

void TclCustomThreader::SetResourceInfo(TclResourceInfo* info) {
  if (info == ResourceInfo()) return;
  ownInfo_.reset();
  ownerInfo_ = info;
}

TclResourceInfo* TclCustomThreader::EnsureResourceInfo() {
  TclResourceInfo* info = ResourceInfo();
  if (!info) {
    ownInfo_ = std::make_unique<TclResourceInfo>();
    info = ownInfo_.get();
  }
  // The owner's record is the owner thread's; only the worker's own one is
  // written here.
  if (info == ownInfo_.get()) info->SetName(parser_.UrlPath());
  return info;
}

void TclCustomThreader::Synchronize(const std::function<void()>& method) {
  synchronizer_->Synchronize(method);
}

void TclCustomThreader::SetStatus(TclProcessStatus status) {
  if (status == status_) return;
  status_ = status;
  Synchronize([this, status] {
    if (onStatusChanged_) onStatusChanged_(this, status);
  });
}

void TclCustomThreader::SetError(const std::string& text, const std::string& what,
                                 std::int32_t code) {
  if (Terminated()) return;
  errorText_ = text;
  errorCode_ = code;
  if (text.empty()) {
    errorCode_ = static_cast<std::int32_t>(platform::GetLastError());
    errorText_ = clWinInet::GetInternetErrorText(errorCode_);
  }
  if (!what.empty()) errorText_ += ": " + what;
  Synchronize([this] {
    if (onError_) onError_(this, errorText_, errorCode_);
  });
}

void TclCustomThreader::RunDataHook(std::int64_t currentPos, const char* data, std::int32_t size) {
  Synchronize([&] {
    if (onDataItemProceed_) onDataItemProceed_(this, ResourceInfo(), currentPos, data, size);
  });
}

void TclCustomThreader::DoTerminate() {
  if (onTerminate_) Synchronize([this] { onTerminate_(this); });
}

void TclCustomThreader::Execute() {
  int tries = tryCount_;
  SetStatus(psProcess);
  try {
    ParseURL();
    for (;;) {
      try {
        Process();
        break;
      } catch (const EclInternetError& e) {
        // The one place that decides between another attempt and giving up.
        if (e.Kind() == TclFailureKind::ResourceChanged) {
          failure_ = TclRunFailure::ResourceChanged;
          throw;
        }
        if (e.Kind() == TclFailureKind::Permanent && !retryPermanentErrors_) {
          failure_ = TclRunFailure::NotRetried;
          throw;
        }
        if (--tries < 1) {
          failure_ = TclRunFailure::TriesUsedUp;
          throw;
        }
        const int pause = RetryPause(e);
        if (onRetrying_ && !Terminated()) {
          Synchronize([&] { onRetrying_(this, e.Message(), e.ErrorCode(), pause); });
        }
        platform::WaitForSingleObject(retryEvent_, static_cast<DWORD>(pause));
      }
    }
    if (Terminated()) {
      SetStatus(psTerminated);
    } else if (!errorText_.empty()) {
      SetStatus(psErrors);
    } else {
      SetStatus(psSuccess);
    }
  } catch (const EclInternetError& e) {
    if (failure_ == TclRunFailure::None) failure_ = TclRunFailure::Other;
    SetError(e.Message(), "", e.ErrorCode());
    SetStatus(psFailed);
  } catch (const rtl::Exception& e) {
    if (failure_ == TclRunFailure::None) failure_ = TclRunFailure::Other;
    SetError(e.Message(), "", 0);
    SetStatus(psFailed);
  }
}

int TclCustomThreader::RetryPause(const EclInternetError& error) {
  if (honorRetryAfter_ && error.RetryAfterMs() >= 0) {
    return std::max(0, GetTimeOut(std::min(error.RetryAfterMs(), kRetryAfterLimitMs)));
  }
  return std::max(0, GetTimeOut(reconnectAfter_));
}

void TclCustomThreader::ParseURL() {
  if (!parser_.URL().empty()) return;
  // A scheme other than http, https and ftp is refused before anything goes
  // out: the parser would take "htp://host" for a host named "htp", and a
  // known but unsupported scheme would end with nothing fetched as a success.
  const std::size_t schemeEnd = url_.find("://");
  std::string scheme = schemeEnd == std::string::npos ? "" : url_.substr(0, schemeEnd);
  std::transform(scheme.begin(), scheme.end(), scheme.begin(),
                 [](unsigned char c) { return std::tolower(c); });
  const bool schemeLike =
      !scheme.empty() && std::all_of(scheme.begin(), scheme.end(), [](unsigned char c) {
        return std::isalnum(c) || c == '+' || c == '-' || c == '.';
      });
  auto refuse = [] {
    throw EclInternetError(clWinInet::GetInternetErrorText(ERROR_INTERNET_UNRECOGNIZED_SCHEME),
                           ERROR_INTERNET_UNRECOGNIZED_SCHEME, TclFailureKind::Permanent);
  };
  if (schemeLike && scheme != "http" && scheme != "https" && scheme != "ftp") refuse();
  std::string result = parser_.Parse(url_);
  if (result.empty()) throw EclInternetError::FromLastError();
  if (parser_.UrlKind() == ukUnknown) refuse();
  url_ = result;
}

void TclCustomThreader::ReleaseAction(TclInternetAction* action) {
  if (keepConnection_) {
    action->LetGo();
  } else {
    delete action;
  }
}

void TclCustomThreader::Process() {
  TclInternetConnection* connection = Connection();
  auto release = [this](TclInternetAction* a) { ReleaseAction(a); };

  ReleaseGuard rootGuard(release);
  // Taken, not just found: on a connection shared with other items an action
  // in another worker's hands is not this worker's to fire or free.
  bool made = false;
  auto* root = connection->TakeOrMake<TclInternetOpenAction>(
      [](TclInternetOpenAction*) { return true; },
      [&] {
        return new TclInternetOpenAction(
            connection, internetAgent_,
            proxy_.empty() ? INTERNET_OPEN_TYPE_PRECONFIG : INTERNET_OPEN_TYPE_PROXY, proxy_,
            proxyBypass_, 0);
      },
      made);
  rootGuard.Set(root);
  if (made) root->Fire(-1);
  if (Terminated()) return;

  ReleaseGuard connectGuard(release);
  // A kept connection to another server (a connection shared by items of
  // several servers) is never this worker's.
  auto* connect = connection->TakeOrMake<TclConnectAction>(
      [this](TclConnectAction* kept) {
        return kept->ServerName() == parser_.Host() && kept->Port() == parser_.Port();
      },
      [&] {
        const TclUrlKind kind = parser_.UrlKind();
        const DWORD service = kind == ukFtp ? INTERNET_SERVICE_FTP : INTERNET_SERVICE_HTTP;
        const DWORD flags = kind == ukFtp && passiveFTPMode_ ? INTERNET_FLAG_PASSIVE : 0;
        return new TclConnectAction(connection, root->Handle(), parser_.Host(), parser_.Port(),
                                    parser_.UserName(), parser_.Password(), service, flags);
      },
      made);
  connectGuard.Set(connect);
  if (made) connect->Fire(GetTimeOut(timeOut_));
  if (Terminated()) return;

  switch (parser_.UrlKind()) {
    case ukHttp:
    case ukHttps:
      ProcessHttp(connect);
      break;
    case ukFtp:
      ProcessFtp(connect);
      break;
    default:
      break;
  }
}

void TclCustomThreader::ProcessHttp(TclConnectAction* connectAction) {
  GetResourceInfo(connectAction);
}

void TclCustomThreader::ProcessFtp(TclConnectAction* connectAction) {
  GetResourceInfo(connectAction);
}

void TclCustomThreader::GetResourceInfo(TclConnectAction* connectAction) {
  if (Terminated()) return;
  ownInfo_.reset();
  const bool ownerSupplied = ownerInfo_ != nullptr;
  if (doNotGetResourceInfo_) {
    EnsureResourceInfo();
    return;
  }
  switch (parser_.UrlKind()) {
    case ukHttp:
    case ukHttps:
      GetHttpResourceInfo(connectAction);
      break;
    case ukFtp:
      GetFtpResourceInfo(connectAction);
      break;
    default:
      break;
  }
  if (!Terminated() && !ownerSupplied) {
    Synchronize([this] {
      if (onGetResourceInfo_) onGetResourceInfo_(this, ResourceInfo());
    });
  }
}

void TclCustomThreader::GetHttpResourceInfo(TclConnectAction* connectAction) {
  // The owner's record already says what a HEAD would; the data request's
  // own status check stands in for the HEAD's.
  if (OwnerSuppliedInfo() && reuseResourceInfo_) return;
  TclInternetConnection* connection = Connection();
  const std::string object = parser_.UrlPath() + parser_.ExtraInfo();
  ReleaseGuard requestGuard([](TclInternetAction* a) { delete a; });

  auto* head = new TclHttpOpenRequestAction(connection, connectAction->ParentHandle(),
                                            connectAction->Handle(), "HEAD", object, "", "",
                                            nullptr, GetRequestFlags(false));
  requestGuard.Set(head);
  head->Fire(GetTimeOut(timeOut_));
  AddCompressionHeader(head);
  SendRequest(head);
  // Servers that refuse HEAD (405, 501) still answer the information GET.
  bool headRefused = false;
  try {
    CheckStatusCode(head);
  } catch (const EclInternetError& e) {
    if (!headFallback_ || (e.ErrorCode() != 405 && e.ErrorCode() != 501)) throw;
    headRefused = true;
  }
  if (OwnerSuppliedInfo()) return;
  if (!headRefused && !ReadResourceFacts(head)) return;
  std::int64_t end = 0;
  if (headOnlyInfo_ && !headRefused && ResourceInfo() && ResourceInfo()->Size() > 0 &&
      http_queries::SeekToEnd(head->Handle(), end) && end == ResourceInfo()->Size()) {
    // Length and range support are known: a GET would only start a body
    // nobody reads.
    ReadBodyFacts(head);
    ResourceInfo()->SetAllowsRandomAccess(true);
    return;
  }

  requestGuard.FreeNow();
  auto* get = new TclHttpOpenRequestAction(connection, connectAction->ParentHandle(),
                                           connectAction->Handle(), "GET", object, "", "", nullptr,
                                           GetRequestFlags(true));
  requestGuard.Set(get);
  get->Fire(GetTimeOut(timeOut_));
  AddCompressionHeader(get);
  SendRequest(get);
  if (Terminated()) return;
  if (headRefused) {
    CheckStatusCode(get);
    if (!ReadResourceFacts(get)) return;
  }
  ReadBodyFacts(get);
  if (Terminated()) return;
  if (http_queries::SeekToEnd(get->Handle(), end) && end > 0) {
    TclResourceInfo* info = EnsureResourceInfo();
    if (info->Size() == 0) {
      info->SetSize(end);
    } else {
      info->SetAllowsRandomAccess(true);
    }
  }
  // The body is never read: freeing the request here, right after its
  // headers, ends its connection before the server sends more than a socket
  // buffer of it.
}

void TclCustomThreader::ReadBodyFacts(TclHttpOpenRequestAction* request) {
  std::string text;
  if (http_queries::QueryText(request->Handle(), HTTP_QUERY_CONTENT_DISPOSITION, text)) {
    EnsureResourceInfo()->SetContentDisposition(text);
  }
  if (Terminated()) return;
  if (http_queries::QueryText(request->Handle(), HTTP_QUERY_CONTENT_ENCODING, text)) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return std::tolower(c); });
    EnsureResourceInfo()->SetCompressed(text.find("gzip") != std::string::npos);
  }
}

bool TclCustomThreader::ReadResourceFacts(TclHttpOpenRequestAction* request) {
  using namespace http_queries;
  std::int64_t length = 0;
  if (QueryNumber64(request->Handle(), HTTP_QUERY_CONTENT_LENGTH, length)) {
    EnsureResourceInfo()->SetSize(length);
  } else {
    SetError("", "Content Length", 0);
  }
  if (Terminated()) return false;
  // A missing date or type is reported; it costs the segments only where the
  // classic rule is kept.
  rtl::DateTime modified = 0;
  std::string text;
  if (QueryLocalTime(request->Handle(), HTTP_QUERY_LAST_MODIFIED, modified)) {
    EnsureResourceInfo()->SetDate(modified);
    if (QueryText(request->Handle(), HTTP_QUERY_LAST_MODIFIED, text))
      EnsureResourceInfo()->SetLastModified(text);
  } else {
    SetError("", "Last Modified", 0);
    if (ResourceInfo() && !keepSizeWithoutHeaders_) ResourceInfo()->SetSize(0);
  }
  if (Terminated()) return false;
  if (QueryText(request->Handle(), HTTP_QUERY_CONTENT_TYPE, text)) {
    EnsureResourceInfo()->SetContentType(text);
  } else {
    SetError("", "Content Type", 0);
    if (ResourceInfo() && !keepSizeWithoutHeaders_) ResourceInfo()->SetSize(0);
  }
  if (QueryText(request->Handle(), HTTP_QUERY_ETAG, text)) EnsureResourceInfo()->SetETag(text);
  return !Terminated();
}

void TclCustomThreader::GetFtpResourceInfo(TclConnectAction* connectAction) {
  if (OwnerSuppliedInfo()) return;
  auto* find = new TclFtpFindFirstFileAction(Connection(), connectAction->ParentHandle(),
                                             connectAction->Handle(), parser_.UrlPath(),
                                             INTERNET_FLAG_RELOAD);
  ReleaseGuard findGuard([](TclInternetAction* a) { delete a; });
  findGuard.Set(find);
  find->Fire(GetTimeOut(timeOut_));
  if (Terminated()) return;
  TclResourceInfo* info = EnsureResourceInfo();
  const WIN32_FIND_DATAA& data = find->FindData();
  info->SetSize(static_cast<std::int64_t>((static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) |
                                          data.nFileSizeLow));
  const platform::FileTime written =
      (static_cast<platform::FileTime>(data.ftLastWriteTime.dwHighDateTime) << 32) |
      data.ftLastWriteTime.dwLowDateTime;
  if (written != 0) {
    info->SetDate(platform::FileTimeToLocalDateTime(written));
    // The modification time is the one validator an FTP server gives.
    info->SetLastModified(std::to_string(written));
  }
}

DWORD TclCustomThreader::GetRequestFlags(bool forInformation) const {
  DWORD flags = forInformation ? 0 : INTERNET_FLAG_NO_CACHE_WRITE;
  if (keepConnection_) flags |= INTERNET_FLAG_KEEP_CONNECTION;
  if (parser_.UrlKind() == ukHttps) flags |= INTERNET_FLAG_SECURE;
  return flags;
}

void TclCustomThreader::AddCompressionHeader(TclHttpOpenRequestAction* request) {
  if (!allowCompression_) return;
  static const char kLine[] = "Accept-Encoding: gzip, deflate";
  clWinInet::HttpAddRequestHeadersA(request->Handle(), kLine, sizeof kLine - 1,
                                    HTTP_ADDREQ_FLAG_ADD_IF_NEW);
}

void TclCustomThreader::AddRequestHeaders(TclHttpOpenRequestAction* request) {
  if (requestHeaders_.Count() == 0) return;
  std::string text;
  for (int i = 0; i < requestHeaders_.Count(); ++i) {
    if (i > 0) text += "\r\n";
    text += requestHeaders_[i];
  }
  text = TrimBlanks(text);
  if (text.empty()) return;
  clWinInet::HttpAddRequestHeadersA(request->Handle(), text.c_str(),
                                    static_cast<DWORD>(text.size()), HTTP_ADDREQ_FLAG_ADD_IF_NEW);
}

void TclCustomThreader::ApplyProxyCredentials(TclHttpOpenRequestAction* request) {
  // Given to every request, the information requests included: they pass the
  // same proxy, which would refuse them without (the connection layer answers
  // the proxy's challenge, Basic or Digest, with them).
  if (!proxyUser_.empty()) {
    clWinInet::InternetSetOptionA(request->Handle(), INTERNET_OPTION_PROXY_USERNAME,
                                  const_cast<char*>(proxyUser_.c_str()),
                                  static_cast<DWORD>(proxyUser_.size()));
  }
  if (!proxyPassword_.empty()) {
    clWinInet::InternetSetOptionA(request->Handle(), INTERNET_OPTION_PROXY_PASSWORD,
                                  const_cast<char*>(proxyPassword_.c_str()),
                                  static_cast<DWORD>(proxyPassword_.size()));
  }
}

void TclCustomThreader::SendRequest(TclHttpOpenRequestAction* request) {
  ApplyProxyCredentials(request);
  TclHttpSendRequestAction send(Connection(), request->ParentHandle(), request->Handle(), "",
                                nullptr, 0);
  std::int32_t lastCode = 0;
  for (;;) {
    try {
      send.Fire(GetTimeOut(timeOut_));
      return;
    } catch (const EclTimeoutInternetError&) {
      throw;
    } catch (const EclInternetError& e) {
      if (e.ErrorCode() == lastCode) throw;
      lastCode = e.ErrorCode();
      if (!HandleSendError(request, static_cast<DWORD>(e.ErrorCode()))) throw;
    }
  }
}

bool TclCustomThreader::HandleSendError(TclHttpOpenRequestAction* request, DWORD code) {
  // There is no platform dialog to ask the user: the permission stands for a
  // plain repeat of the send, which the same-code rule limits to once.
  if (useInternetErrorDialog_) return true;
  switch (code) {
    case ERROR_INTERNET_SEC_CERT_DATE_INVALID:
    case ERROR_INTERNET_SEC_CERT_CN_INVALID:
    case ERROR_INTERNET_INVALID_CA:
      ApplyCertificateFlags(request);
      return true;
    case ERROR_INTERNET_CLIENT_AUTH_CERT_NEEDED:
      ApplyClientCertificate(request);
      return true;
    default:
      return false;
  }
}

void TclCustomThreader::ApplyCertificateFlags(TclHttpOpenRequestAction* request) {
  if (parser_.UrlKind() != ukHttps) return;
  DWORD flags = 0;
  DWORD length = sizeof flags;
  if (!clWinInet::InternetQueryOptionA(request->Handle(), INTERNET_OPTION_SECURITY_FLAGS, &flags,
                                       &length)) {
    throw EclInternetError::FromLastError();
  }
  if (certificateFlags_.Contains(cfIgnoreCommonNameInvalid))
    flags |= SECURITY_FLAG_IGNORE_CERT_CN_INVALID;
  if (certificateFlags_.Contains(cfIgnoreDateInvalid))
    flags |= SECURITY_FLAG_IGNORE_CERT_DATE_INVALID;
  if (certificateFlags_.Contains(cfIgnoreUnknownAuthority))
    flags |= SECURITY_FLAG_IGNORE_UNKNOWN_CA;
  if (!clWinInet::InternetSetOptionA(request->Handle(), INTERNET_OPTION_SECURITY_FLAGS, &flags,
                                     sizeof flags)) {
    throw EclInternetError::FromLastError();
  }
}

void TclCustomThreader::ApplyClientCertificate(TclHttpOpenRequestAction* request) {
  certContext_ = nullptr;
  certHandled_ = false;
  Synchronize([this] {
    if (onGetCertificate_) onGetCertificate_(this, certContext_, certHandled_);
  });
  if (!certHandled_) return;
  void* context = const_cast<CERT_CONTEXT*>(certContext_);
  const DWORD length = certContext_ ? static_cast<DWORD>(sizeof(CERT_CONTEXT)) : 0;
  if (!clWinInet::InternetSetOptionA(request->Handle(), INTERNET_OPTION_CLIENT_CERT_CONTEXT,
                                     context, length)) {
    throw EclInternetError::FromLastError();
  }
}

void TclCustomThreader::CheckStatusCode(TclHttpOpenRequestAction* request) {
  DWORD status = 0;
  if (!http_queries::QueryNumber(request->Handle(), HTTP_QUERY_STATUS_CODE, status)) {
    SetError("", "Status Code", 0);
    return;
  }
  lastStatusCode_ = static_cast<std::int32_t>(status);
  if (OwnerSuppliedInfo()) {
    // The owner's record belongs to the owner's thread.
    Synchronize([this] { ownerInfo_->SetStatusCode(lastStatusCode_); });
  } else {
    EnsureResourceInfo()->SetStatusCode(lastStatusCode_);
  }
  if (lastStatusCode_ >= 400) {
    std::string range;
    const bool wholeFile = !http_queries::QueryText(
        request->Handle(), HTTP_QUERY_RANGE | HTTP_QUERY_FLAG_REQUEST_HEADERS, range);
    std::int64_t retryAfter = -1;
    if (lastStatusCode_ == 429 || lastStatusCode_ == 503) {
      if (!http_queries::QueryRetryAfterMs(request->Handle(), retryAfter)) retryAfter = -1;
    }
    throw EclInternetError(
        FormatInternetMessage(InternetMessages().HttpResourceAccessError, lastStatusCode_),
        lastStatusCode_, StatusFailureKind(lastStatusCode_, wholeFile),
        static_cast<std::int32_t>(std::min<std::int64_t>(retryAfter, INT32_MAX)));
  }
}

bool TclCustomThreader::CheckProxyAuthentication(TclHttpOpenRequestAction* request) {
  if (authenticationType_ != atDigest || lastStatusCode_ != 407) return true;
  ApplyProxyCredentials(request);
  return false;
}

void WaitForThreader(TclCustomThreader* threader) {
  // A copy of the handle: the threader may free itself during the wait.
  platform::Handle handle = threader->ThreadHandle();
  if (platform::CurrentThreadId() == threader->CreatorThreadId()) {
    platform::WaitServingMessages(handle, platform::kInfinite, true);
  } else {
    platform::WaitForSingleObject(handle, platform::kInfinite);
  }
}

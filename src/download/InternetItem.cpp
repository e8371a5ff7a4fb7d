#include "download/InternetItem.h"

#include <algorithm>
#include <cstring>

#include "download/ControlNotifier.h"
#include "download/InternetControl.h"
#include "http/clHttpRequest.h"
#include "inet/InternetErrors.h"
#include "inet/clConnection.h"
#include "inet/clWinInet.h"
#include "rtl/Streams.h"
#include "rtl/StringList.h"
#include "url/URLParser.h"
#include "workers/CustomThreader.h"

namespace {

platform::ThreadPriority ThreadPriorityOf(TclProcessPriority priority) {
  switch (priority) {
    case ppLower:
      return platform::ThreadPriority::Lower;
    case ppHigher:
      return platform::ThreadPriority::Higher;
    default:
      return platform::ThreadPriority::Normal;
  }
}

// Makes the platform allow at least 10 simultaneous connections per server.
void RaiseConnectionLimits() {
  for (DWORD option :
       {INTERNET_OPTION_MAX_CONNS_PER_SERVER, INTERNET_OPTION_MAX_CONNS_PER_1_0_SERVER}) {
    DWORD limit = 0;
    DWORD length = sizeof limit;
    if (clWinInet::InternetQueryOptionA(nullptr, option, &limit, &length) && limit < 10) {
      limit = 10;
      clWinInet::InternetSetOptionA(nullptr, option, &limit, sizeof limit);
    }
  }
}

// Copies Text into a fixed buffer of the URL components, never past its end.
void PutComponent(char* buffer, DWORD capacity, DWORD& length, const std::string& text) {
  if (buffer == nullptr || capacity == 0) return;
  std::memset(buffer, 0, capacity);
  const std::size_t n = std::min<std::size_t>(text.size(), capacity - 1);
  std::memcpy(buffer, text.data(), n);
  length = static_cast<DWORD>(n);
}

}  // namespace

TclInternetItem::TclInternetItem(rtl::Collection* collection) : rtl::CollectionItem(collection) {
  resourceState_.SetOnChanged([this](TclResourceState*) {
    if (TclMultiInternetControl* control = GetControl()) control->DoResourceStateChanged(this);
  });
}

TclInternetItem::~TclInternetItem() {
  Release();
}

void TclInternetItem::Release() {
  if (released_) return;
  if (IsBusy()) {
    Stop();
    WaitForWorkers();
  }
  released_ = true;
  ReleaseResources();
}

void TclInternetItem::ReleaseResources() {
  if (TclMultiInternetControl* control = GetControl()) {
    control->ForEachNotifier([this](TclControlNotifier* n) { n->ItemDeleted(this); });
  }
  resourceState_.SetOnChanged(nullptr);
  ownStream_.reset();
  resourceInfo_.reset();
  holders_.clear();
  DropWorkerConnections();
  ownConnection_.reset();
  errors_.Clear();
}

void TclInternetItem::Start(bool async) {
  if (IsBusy()) throw EclInternetError(InternetMessages().OperationInProgress, 0);
  if (httpRequest_) httpRequest_->Prepare();
  InternalStart(false);
  if (!async) WaitForWorkers();
}

void TclInternetItem::Stop() {
  if (IsBusy()) stopRequested_ = true;
  StopOthers(nullptr);
}

void TclInternetItem::StopOthers(TclCustomThreader* keep) {
  // Marked first: a stop never removes holders itself, but a threader's Stop
  // must find its holder marked whatever it reports next.
  std::vector<TclCustomThreader*> stopping;
  for (TclThreaderHolder& holder : holders_) {
    if (holder.Threader == keep || holder.Stopped) continue;
    holder.Stopped = true;
    // A worker that reported its final status has nothing left to abort; an
    // abort would stay pending on a connection it may already have left.
    if (!holder.Finished) stopping.push_back(holder.Threader);
  }
  for (TclCustomThreader* threader : stopping) threader->Stop();
}

void TclInternetItem::WaitForWorkers() {
  while (!holders_.empty()) WaitForThreader(holders_.front().Threader);
}

void TclInternetItem::InternalStart(bool infoOnly) {
  RaiseConnectionLimits();
  status_ = psUnknown;
  stopRequested_ = false;
  ClearAbandoned();
  resourceInfo_.reset();
  errors_.Clear();
  resourceState_.Reset();
  if (!infoOnly && !CanProcess()) return;
  GetControl()->BeginBusy();
  TclResourceStateItem* first = resourceState_.Count() > 0 ? resourceState_.Items(0) : nullptr;
  TclCustomThreader* threader = nullptr;
  try {
    threader = CreateThreader(first, infoOnly);
    threader->Start();
  } catch (...) {
    // A worker that never ran leaves the item idle again.
    if (threader) {
      RemoveHolder(threader);
      delete threader;
    }
    GetControl()->EndBusy();
    throw;
  }
}

TclCustomThreader* TclInternetItem::CreateThreader(TclResourceStateItem* segment, bool infoOnly) {
  rtl::Stream* stream = infoOnly ? nullptr : GetDataStream();
  TclCustomThreader* threader = NewThreader(stream, infoOnly);
  TclThreaderHolder holder{threader, segment};
  holder.Started = std::chrono::steady_clock::now();
  holder.StartBytes = segment ? segment->BytesProceed() : 0;
  holders_.push_back(holder);
  InitThreader(threader);
  if (HandsOverConnections()) {
    TclInternetConnection* connection = nullptr;
    if (!idleConnections_.empty()) {
      connection = idleConnections_.front().Connection;
      idleConnections_.erase(idleConnections_.begin());
    } else {
      workerConnections_.push_back(std::make_unique<TclInternetConnection>());
      connection = workerConnections_.back().get();
    }
    threader->SetConnection(connection);
    // Its root, connection and request stay in it for the next worker.
    threader->SetKeepConnection(true);
    holders_.back().Connection = connection;
  }
  if (segment) {
    threader->SetResourcePos(segment->ResourcePos() + segment->BytesProceed());
    if (segment->BytesToProceed() > 0) {
      threader->SetBytesToProceed(
          std::max<std::int64_t>(0, segment->BytesToProceed() - segment->BytesProceed()));
    }
  }
  return threader;
}

void TclInternetItem::InitThreader(TclCustomThreader* threader) {
  if (httpRequest_) {
    threader->RequestHeaders().Assign(httpRequest_->Header().GetHeaderLines());
    threader->SetProxyUser(httpRequest_->Header().ProxyUser());
    threader->SetProxyPassword(httpRequest_->Header().ProxyPassword());
    threader->SetAuthenticationType(httpRequest_->Header().AuthenticationType());
  }
  threader->SetPriority(ThreadPriorityOf(priority_));
  threader->SetFreeOnTerminate(true);
  threader->SetCertificateFlags(certificateFlags_);
  threader->SetUseInternetErrorDialog(useInternetErrorDialog_);
  threader->SetKeepConnection(keepConnection_);

  TclMultiInternetControl* control = GetControl();
  threader->SetBatchSize(control->BatchSize());
  threader->SetTryCount(control->TryCount());
  threader->SetTimeOut(control->TimeOut());
  threader->SetReconnectAfter(control->ReconnectAfter());
  threader->SetProxy(control->Proxy());
  threader->SetProxyBypass(control->ProxyBypass());
  threader->SetInternetAgent(control->InternetAgent());
  threader->SetPassiveFTPMode(control->PassiveFTPMode());
  threader->SetDoNotGetResourceInfo(control->DoNotGetResourceInfo());
  threader->SetRetryPermanentErrors(control->RetryPermanentErrors());
  threader->SetHonorRetryAfter(control->HonorRetryAfter());
  threader->SetHeadFallback(control->HeadFallback());
  threader->SetKeepSizeWithoutHeaders(control->KeepSizeWithoutHeaders());
  threader->SetHeadOnlyInfo(control->HeadOnlyInfo());
  threader->SetReuseResourceInfo(control->ReuseResourceInfo());
  if (control->Connection() || keepConnection_) {
    if (control->Connection()) {
      ownConnection_.reset();
      threader->SetConnection(control->Connection());
    } else {
      threader->SetConnection(OwnConnection());
    }
  }

  threader->SetOnGetResourceInfo(
      [this](TclCustomThreader*, TclResourceInfo* info) { DoGetResourceInfo(info); });
  threader->SetOnStatusChanged([this](TclCustomThreader* sender, TclProcessStatus status) {
    HandleStatus(sender, status);
  });
  threader->SetOnError([this](TclCustomThreader* sender, const std::string& error,
                              std::int32_t code) { HandleError(sender, error, code); });
  threader->SetOnURLParsing(
      [this](TclCustomThreader*, URL_COMPONENTSA& components) { HandleUrlParsing(components); });
  threader->SetOnDataItemProceed([this](TclCustomThreader* sender, TclResourceInfo* info,
                                        std::int64_t position, const char* data,
                                        std::int32_t size) {
    TclThreaderHolder* holder = HolderOf(sender);
    TclResourceStateItem* segment = holder ? holder->StateItem : nullptr;
    if (holder) {
      holder->LastBlock = std::chrono::steady_clock::now();
      if (holder->FirstBlock == std::chrono::steady_clock::time_point{})
        holder->FirstBlock = holder->LastBlock;
    }
    resourceState_.SetBytesProceed(segment, segment ? position - segment->ResourcePos() : 0);
    GetControl()->DoDataItemProceed(this, info, segment, data, size);
  });
  threader->SetOnGetCertificate([this](TclCustomThreader*, PCCERT_CONTEXT& context, bool& handled) {
    GetControl()->DoGetCertificate(this, context, handled);
  });
  threader->SetOnTerminate([this](TclCustomThreader* sender) { ThreaderTerminated(sender); });
  threader->SetOnRetrying([this](TclCustomThreader* sender, const std::string& error,
                                 std::int32_t code, int pauseMs) {
    TclThreaderHolder* holder = HolderOf(sender);
    if (!holder || !holder->Stopped) GetControl()->DoRetrying(this, error, code, pauseMs);
  });
}

void TclInternetItem::HandleStatus(TclCustomThreader* threader, TclProcessStatus status) {
  TclThreaderHolder* holder = HolderOf(threader);
  // Released before the map hears of the status: whoever the change wakes
  // (a takeover, a notifier) finds the segment free, not held by a worker
  // that is only waiting for its end hook.
  if (holder && status != psUnknown && status != psProcess) holder->Finished = true;
  // A segment stopped because another one failed the transfer did not end by
  // the user's wish: it failed with the transfer.
  if (status == psTerminated && abandoned_ && !stopRequested_) status = psFailed;
  resourceState_.SetSegmentStatus(holder ? holder->StateItem : nullptr, status);
  SetStatus(resourceState_.Status());
}

void TclInternetItem::HandleError(TclCustomThreader* threader, const std::string& error,
                                  std::int32_t code) {
  TclThreaderHolder* holder = HolderOf(threader);
  if (holder && holder->Stopped) return;
  errors_.Add(error, code);
  GetControl()->DoError(this, error, code);
  switch (threader->Failure()) {
    case TclRunFailure::ResourceChanged:
      resourceChanged_ = true;
      [[fallthrough]];
    case TclRunFailure::NotRetried:
    case TclRunFailure::LocalFile:
      // The other segments cannot get past it either.
      abandoned_ = true;
      StopOthers(threader);
      break;
    default:
      break;
  }
}

void TclInternetItem::HandleUrlParsing(URL_COMPONENTSA& components) {
  if (!userName_.empty()) {
    PutComponent(components.lpszUserName, TclURLParser::kUserNameCapacity,
                 components.dwUserNameLength, userName_);
  }
  if (!password_.empty()) {
    PutComponent(components.lpszPassword, TclURLParser::kPasswordCapacity,
                 components.dwPasswordLength, password_);
  }
  GetControl()->DoURLParsing(this, components);
}

TclInternetConnection* TclInternetItem::OwnConnection() {
  if (!ownConnection_) ownConnection_ = std::make_unique<TclInternetConnection>();
  return ownConnection_.get();
}

TclThreaderHolder* TclInternetItem::HolderOf(TclCustomThreader* threader) {
  for (TclThreaderHolder& holder : holders_) {
    if (holder.Threader == threader) return &holder;
  }
  return nullptr;
}

TclResourceStateItem* TclInternetItem::HolderSegment(TclCustomThreader* threader) const {
  for (const TclThreaderHolder& holder : holders_) {
    if (holder.Threader == threader) return holder.StateItem;
  }
  return nullptr;
}

void TclInternetItem::RemoveHolder(TclCustomThreader* threader) {
  holders_.erase(
      std::remove_if(holders_.begin(), holders_.end(),
                     [threader](const TclThreaderHolder& h) { return h.Threader == threader; }),
      holders_.end());
}

void TclInternetItem::ThreaderTerminated(TclCustomThreader* threader) {
  // A stopped worker, or one of a stopped or abandoned transfer, starts
  // nothing: the map's derived status still shows the running segments.
  const TclProcessStatus own = threader->Status();
  const bool goesOn = own != psFailed && own != psTerminated && !stopRequested_ && !abandoned_ &&
                      resourceState_.Status() != psTerminated;
  if (TclThreaderHolder* holder = HolderOf(threader))
    ReleaseWorkerConnection(*holder, goesOn && !holder->Stopped && !holder->Cut);
  if (goesOn) {
    bool tookOver = false;
    for (int i = 0; i < resourceState_.Count() && !tookOver; ++i) {
      TclResourceStateItem* segment = resourceState_.Items(i);
      if (segment == HolderSegment(threader) || segment->Status() != psFailed) continue;
      // A segment some other running worker has already taken over is left to it.
      if (SegmentHeld(segment)) continue;
      StartSuccessor(segment, threader->URLParser());
      tookOver = true;
    }
    if (!tookOver) ContinueWork(threader);
  }
  RemoveHolder(threader);
  if (holders_.empty()) DoProcessCompleted(threader);
}

void TclInternetItem::StartSuccessor(TclResourceStateItem* segment, TclURLParser& parser) {
  TclCustomThreader* successor = CreateThreader(segment, false);
  successor->SetResourceInfo(resourceInfo_.get());
  successor->URLParser().Assign(parser);
  successor->Start();
}

const TclIdleConnection* TclInternetItem::NextIdleConnection() const {
  return idleConnections_.empty() ? nullptr : &idleConnections_.front();
}

bool TclInternetItem::SegmentHeld(const TclResourceStateItem* segment) const {
  return std::any_of(holders_.begin(), holders_.end(), [segment](const TclThreaderHolder& h) {
    return h.StateItem == segment && !h.Finished;
  });
}

void TclInternetItem::ReleaseWorkerConnection(TclThreaderHolder& holder, bool reusable) {
  TclInternetConnection* connection = holder.Connection;
  holder.Connection = nullptr;
  if (!connection) return;
  if (reusable) {
    using Clock = std::chrono::steady_clock;
    TclIdleConnection idle{connection};
    if (holder.FirstBlock != Clock::time_point{} && holder.StateItem) {
      const double seconds = std::chrono::duration<double>(Clock::now() - holder.Started).count();
      const std::int64_t bytes = holder.StateItem->BytesProceed() - holder.StartBytes;
      idle.Speed = seconds > 0 ? static_cast<double>(bytes) / seconds : 0;
      idle.Latency = std::chrono::duration<double>(holder.FirstBlock - holder.Started).count();
    }
    // The one freed last, still connected, goes first; one that must
    // connect again (a cut answer) goes last.
    idleConnections_.insert(holder.Shrunk ? idleConnections_.end() : idleConnections_.begin(),
                            idle);
    return;
  }
  workerConnections_.erase(std::remove_if(workerConnections_.begin(), workerConnections_.end(),
                                          [connection](const auto& c) { return c.get() == connection; }),
                           workerConnections_.end());
}

void TclInternetItem::DropWorkerConnections() {
  idleConnections_.clear();
  for (TclThreaderHolder& holder : holders_) holder.Connection = nullptr;
  workerConnections_.clear();
}

void TclInternetItem::DoProcessCompleted(TclCustomThreader*) {
  DropWorkerConnections();
  CloseDataStream();
  GetControl()->EndBusy();
  GetControl()->DoProcessCompleted(this);
}

void TclInternetItem::SetStatus(TclProcessStatus status) {
  if (status == status_) return;
  status_ = status;
  GetControl()->DoStatusChanged(this, status);
}

void TclInternetItem::KeepResourceInfo(TclResourceInfo* info) {
  resourceInfo_.reset();
  if (info) {
    resourceInfo_ = std::make_unique<TclResourceInfo>();
    resourceInfo_->Assign(info);
  }
}

void TclInternetItem::DoGetResourceInfo(TclResourceInfo* info) {
  KeepResourceInfo(info);
  GetControl()->DoGetResourceInfo(this, resourceInfo_.get());
}

void TclInternetItem::CloseDataStream() {
  ownStream_.reset();
}

void TclInternetItem::ClearResourceState() {
  for (TclThreaderHolder& holder : holders_) holder.StateItem = nullptr;
  resourceState_.Clear();
}

bool TclInternetItem::ControlLoading() const {
  TclMultiInternetControl* control = GetControl();
  return control != nullptr && control->Loading();
}

void TclInternetItem::ItemChanged() {
  if (ControlLoading()) return;
  if (!IsBusy()) {
    resourceInfo_.reset();
    ClearResourceState();
    // A kept connection holds handles for the old address or credentials.
    if (GetControl()->Connection()) {
      GetControl()->Connection()->Close();
    } else if (ownConnection_) {
      ownConnection_->Close();
    }
  }
  GetControl()->DoChanged(this);
}

void TclInternetItem::SetURL(const std::string& value) {
  if (value == url_) return;
  url_ = value;
  if (ControlLoading()) return;
  TclURLParser parser;
  if (!parser.Parse(url_).empty()) {
    SetUserName(parser.UserName());
    SetPassword(parser.Password());
  }
  ItemChanged();
}

void TclInternetItem::SetLocalFile(const std::string& value) {
  if (value == localFile_) return;
  localFile_ = value;
  ItemChanged();
}

void TclInternetItem::SetUserName(const std::string& value) {
  if (value == userName_) return;
  userName_ = value;
  ItemChanged();
}

void TclInternetItem::SetPassword(const std::string& value) {
  if (value == password_) return;
  password_ = value;
  ItemChanged();
}

void TclInternetItem::SetThreadCount(int value) {
  if (value >= 1 && value <= 10) threadCount_ = value;
}

void TclInternetItem::SetHTTPRequest(TclHttpRequestBuilder* value) {
  if (value == httpRequest_) return;
  TclMultiInternetControl* control = GetControl();
  TclHttpRequestBuilder* old = httpRequest_;
  httpRequest_ = value;
  if (control) {
    // The old builder stays watched while another item still holds it.
    bool stillUsed = false;
    for (int i = 0; old && i < control->GetItemCount(); ++i) {
      if (control->GetItem(i)->HTTPRequest() == old) stillUsed = true;
    }
    if (old && !stillUsed) control->RemoveFreeNotification(old);
    if (value) control->FreeNotification(value);
  }
  ItemChanged();
}

void TclInternetItem::DropHTTPRequest(rtl::Component* component) {
  if (httpRequest_ != nullptr && static_cast<rtl::Component*>(httpRequest_) == component)
    httpRequest_ = nullptr;
}

void TclInternetItem::Assign(const rtl::Persistent& source) {
  const auto* other = dynamic_cast<const TclInternetItem*>(&source);
  if (!other) {
    rtl::CollectionItem::Assign(source);
    return;
  }
  rtl::Stream* stream = other->dataStream_ ? other->dataStream_ : other->ownStream_.get();
  if (ownStream_.get() != stream) ownStream_.reset();
  dataStream_ = stream;
  threadCount_ = other->threadCount_;
  keepConnection_ = other->keepConnection_;
  url_ = other->url_;
  userName_ = other->userName_;
  localFile_ = other->localFile_;
  password_ = other->password_;
  priority_ = other->priority_;
  certificateFlags_ = other->certificateFlags_;
  useInternetErrorDialog_ = other->useInternetErrorDialog_;
  useHTTPRequest_ = other->useHTTPRequest_;
  ItemChanged();
}

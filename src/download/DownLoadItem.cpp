#include "download/DownLoadItem.h"

#include <algorithm>

#include "download/MultiDownLoaderControl.h"
#include "download/SegmentSplit.h"
#include "gzip/clgzip.h"
#include "http/clHttpRequest.h"
#include "platform/Files.h"
#include "platform/Messages.h"
#include "rtl/Exceptions.h"
#include "rtl/PropertyStreaming.h"
#include "rtl/Streams.h"
#include "url/URLParser.h"
#include "workers/DownLoadThreader.h"

std::string CombineLocalFile(const std::string& folder, const std::string& path) {
  std::string result = folder;
  if (!result.empty() && result.back() != '/') result += '/';
  const std::size_t cut = path.find_last_of("/:");
  return result + (cut == std::string::npos ? path : path.substr(cut + 1));
}

std::string SafeSuggestedFileName(const std::string& suggested) {
  const std::size_t cut = suggested.find_last_of("/\\");
  std::string name = cut == std::string::npos ? suggested : suggested.substr(cut + 1);
  if (name == "." || name == "..") return "";
  return name;
}

TclDownLoadItem* TclDownLoadList::Add() {
  TclDownLoadItem* item = OwnedCollection<TclDownLoadItem>::Add();
  item->SetLocalFile(CombineLocalFile(control_ ? control_->LocalFolder() : "", item->LocalFile()));
  return item;
}

TclDownLoadItem::TclDownLoadItem(rtl::Collection* collection) : TclInternetItem(collection) {
  SetThreadCount(5);
}

TclDownLoadItem::~TclDownLoadItem() {
  Release();
}

TclCustomMultiDownLoaderControl* TclDownLoadItem::DownLoader() const {
  auto* list = static_cast<TclDownLoadList*>(GetCollection());
  return list ? list->GetControl() : nullptr;
}

TclMultiInternetControl* TclDownLoadItem::GetControl() const {
  return DownLoader();
}

void TclDownLoadItem::DefineProperties(rtl::Properties& p) {
  p.Value<int>(
       "ThreadCount", [this] { return ThreadCount(); }, [this](int v) { SetThreadCount(v); })
      .Default(5);
  p.Value<bool>(
       "KeepConnection", [this] { return KeepConnection(); },
       [this](bool v) { SetKeepConnection(v); })
      .Default(false);
  p.Value<std::string>(
       "URL", [this] { return URL(); }, [this](const std::string& v) { SetURL(v); })
      .Default("");
  p.Value<std::string>(
       "LocalFile", [this] { return LocalFile(); },
       [this](const std::string& v) { SetLocalFile(v); })
      .Default("");
  p.Value<std::string>(
       "UserName", [this] { return UserName(); }, [this](const std::string& v) { SetUserName(v); })
      .Default("");
  p.Value<std::string>(
       "Password", [this] { return Password(); }, [this](const std::string& v) { SetPassword(v); })
      .Default("");
  p.Enum<TclProcessPriority>(
       "Priority", [this] { return Priority(); }, [this](TclProcessPriority v) { SetPriority(v); },
       {"ppLower", "ppNormal", "ppHigher"})
      .Default("ppNormal");
  p.Custom(
       "CertificateFlags",
       [this] {
         rtl::Json flags = rtl::Json::array();
         static const char* const kNames[] = {"cfIgnoreCommonNameInvalid", "cfIgnoreDateInvalid",
                                              "cfIgnoreUnknownAuthority"};
         for (int i = 0; i < 3; ++i) {
           if (CertificateFlags().Contains(static_cast<TclCertificateFlag>(i)))
             flags.push_back(kNames[i]);
         }
         return flags;
       },
       [this](const rtl::Json& j) {
         static const std::vector<std::string> kNames{
             "cfIgnoreCommonNameInvalid", "cfIgnoreDateInvalid", "cfIgnoreUnknownAuthority"};
         if (!j.is_array()) rtl::Properties::RaiseInvalidValue("CertificateFlags");
         TclCertificateFlags flags;
         for (const auto& name : j) {
           flags.Include(static_cast<TclCertificateFlag>(
               rtl::Properties::EnumIndex("CertificateFlags", name, kNames)));
         }
         SetCertificateFlags(flags);
       })
      .StoredWhen([this] { return !CertificateFlags().Empty(); });
  p.Value<bool>(
       "UseInternetErrorDialog", [this] { return UseInternetErrorDialog(); },
       [this](bool v) { SetUseInternetErrorDialog(v); })
      .Default(true);
  p.Value<bool>(
       "UseHTTPRequest", [this] { return UseHTTPRequest(); },
       [this](bool v) { SetUseHTTPRequest(v); })
      .Default(false);
  p.Reference(
      "HTTPRequest", [this] { return static_cast<rtl::Component*>(HTTPRequest()); },
      [this](rtl::Component* c) { SetHTTPRequest(dynamic_cast<TclHttpRequestBuilder*>(c)); });
  p.Value<bool>(
       "AllowCompression", [this] { return allowCompression_; },
       [this](bool v) { allowCompression_ = v; })
      .Default(true);
}

void TclDownLoadItem::SetURL(const std::string& value) {
  if (value == URL()) return;
  TclInternetItem::SetURL(value);
  if (ControlLoading()) return;
  TclCustomMultiDownLoaderControl* control = DownLoader();
  if (!control || control->LocalFolder().empty()) return;
  TclURLCorrector corrector;
  std::string file = corrector.BuildLocalFileName(URL(), control->LocalFolder());
  SetLocalFile(corrector.ExtraInfo().empty() ? file : "");
}

bool TclDownLoadItem::CanProcess() {
  const std::int64_t size = ResourceInfo() ? ResourceInfo()->Size() : 0;
  if (size <= 0) return true;
  TclCustomMultiDownLoaderControl* control = DownLoader();
  return (control->MinResourceSize() == 0 || size >= control->MinResourceSize()) &&
         (control->MaxResourceSize() == 0 || size <= control->MaxResourceSize());
}

TclCustomThreader* TclDownLoadItem::NewThreader(rtl::Stream* stream, bool infoOnly) {
  std::string url = URL();
  if (UseHTTPRequest() && HTTPRequest()) {
    std::string body = HTTPRequest()->GetBodyText().Text();
    auto blank = [](unsigned char c) { return c <= ' '; };
    auto first = std::find_if_not(body.begin(), body.end(), blank);
    auto last = std::find_if_not(body.rbegin(), body.rend(), blank).base();
    url += "?" + (first < last ? std::string(first, last) : std::string());
  }
  auto* threader = new TclDownLoadThreader(url, infoOnly, stream);
  threader->SetDataLock(&streamLock_);
  threader->SetAllowCompression(allowCompression_);
  return threader;
}

void TclDownLoadItem::InternalStart(bool infoOnly) {
  infoPhase_ = !infoOnly;
  dataPhase_ = false;
  resumedMap_ = false;
  restartedAfterChange_ = false;
  TclInternetItem::InternalStart(true);
}

bool TclDownLoadItem::IsFtp() const {
  TclURLParser parser;
  return !parser.Parse(URL()).empty() && parser.UrlKind() == ukFtp;
}

bool TclDownLoadItem::Compressed() const {
  return allowCompression_ && ResourceInfo() != nullptr && ResourceInfo()->Compressed();
}

void TclDownLoadItem::SetMapValidators(const std::string& etag, const std::string& lastModified) {
  mapETag_ = etag;
  mapLastModified_ = lastModified;
  mapHasValidators_ = true;
}

bool TclDownLoadItem::SameResourceAsMap() const {
  const TclResourceInfo* info = ResourceInfo();
  if (!info) return false;
  // Same size is not enough: a file replaced on the server by another of the
  // same length would be spliced from two versions.
  if (!mapHasValidators_) return info->Date() == mapDate_;
  return info->ETag() == mapETag_ && info->LastModified() == mapLastModified_;
}

std::int64_t TclDownLoadItem::MapDoneEnd() const {
  std::int64_t end = 0;
  for (int i = 0; i < ResourceState().Count(); ++i) {
    const TclResourceStateItem* segment = ResourceState().Items(i);
    if (segment->BytesProceed() > 0)
      end = std::max(end, segment->ResourcePos() + segment->BytesProceed());
  }
  return end;
}

bool TclDownLoadItem::Resumable(const std::string& file) const {
  if (ResourceState().Count() == 0 || !platform::FileExists(file)) return false;
  const std::int64_t size = ResourceInfo() ? ResourceInfo()->Size() : 0;
  // A transfer that did not complete leaves its file cut after the last byte
  // it holds, so that it never looks complete.
  const std::int64_t fileSize = platform::FileSize(file);
  if (size > 0 && (fileSize > size || fileSize < MapDoneEnd())) return false;
  if (!SameResourceAsMap()) return false;
  try {
    rtl::FileStream probe(file, rtl::FileStream::fmOpenRead);
  } catch (const rtl::Exception&) {
    return false;
  }
  return true;
}

rtl::Stream* TclDownLoadItem::GetDataStream() {
  if (!DataStream() && !OwnStream() && !LocalFile().empty()) {
    workFile_ = LocalFile() + (Compressed() ? "~" : "");
    const bool resume = Resumable(workFile_);
    resumedMap_ = resume;
    if (!resume) ClearResourceState();
    const std::string folder = platform::ExtractFileDir(LocalFile());
    if (!folder.empty()) platform::ForceDirectories(folder);
    SetOwnStream(std::make_unique<rtl::FileStream>(
        workFile_, resume ? rtl::FileStream::fmOpenReadWrite : rtl::FileStream::fmCreate));
  }
  if (!DataStream() && !OwnStream()) SetOwnStream(std::make_unique<rtl::MemoryStream>());
  return DataStream() ? DataStream() : OwnStream();
}

int TclDownLoadItem::SegmentCount() const {
  const std::int64_t size = ResourceInfo() ? ResourceInfo()->Size() : 0;
  if (size <= 0 || !ResourceInfo()->AllowsRandomAccess()) return 1;
  if (DownLoader()->Connection() || KeepConnection()) return 1;
  const std::int64_t bySize = size / DownLoader()->BatchSize();
  return static_cast<int>(std::max<std::int64_t>(1, std::min<std::int64_t>(ThreadCount(), bySize)));
}

namespace {

bool Complete(const TclResourceStateItem* segment) {
  return segment->BytesToProceed() > 0 && segment->BytesProceed() >= segment->BytesToProceed();
}

}  // namespace

void TclDownLoadItem::StartSegments(const TclURLParser& parser) {
  const std::int64_t size = ResourceInfo() ? ResourceInfo()->Size() : 0;
  if (rtl::Stream* stream = GetDataStream()) stream->SetSize(std::max<std::int64_t>(0, size));
  const TclProcessStatus remembered = ResourceState().Status();
  const bool hadMap = ResourceState().Count() > 0;
  const int workers = SegmentCount();
  ResourceState().Init(workers, size);
  if (!hadMap) {
    mapDate_ = ResourceInfo() ? ResourceInfo()->Date() : 0;
    SetMapValidators(ResourceInfo() ? ResourceInfo()->ETag() : "",
                     ResourceInfo() ? ResourceInfo()->LastModified() : "");
  }
  ResourceState().SetSegmentStatus(nullptr, remembered);
  dataParser_.Assign(parser);
  TclResourceState& map = ResourceState();
  bool anyLeft = false;
  for (int i = 0; i < map.Count(); ++i) anyLeft = anyLeft || !Complete(map.Items(i));
  if (DownLoader()->SplitSegments() && anyLeft) {
    // A map split in an earlier run may hold more segments than the item
    // has workers: as many as it has take the unfinished ones, and each
    // takes a waiting one when it is done (ContinueWork).
    int started = 0;
    for (int i = 0; i < map.Count(); ++i) {
      TclResourceStateItem* segment = map.Items(i);
      if (Complete(segment)) {
        map.SetSegmentStatus(segment, psSuccess);
      } else if (started < workers) {
        ++started;
        TclCustomThreader* threader = CreateThreader(segment, false);
        threader->SetResourceInfo(ResourceInfo());
        threader->URLParser().Assign(parser);
        threader->Start();
      }
    }
    return;
  }
  for (int i = 0; i < map.Count(); ++i) {
    TclCustomThreader* threader = CreateThreader(map.Items(i), false);
    threader->SetResourceInfo(ResourceInfo());
    threader->URLParser().Assign(parser);
    threader->Start();
  }
}

TclResourceStateItem* TclDownLoadItem::WaitingSegment() const {
  const TclResourceState& map = ResourceState();
  for (int i = 0; i < map.Count(); ++i) {
    TclResourceStateItem* segment = map.Items(i);
    if (segment->Status() == psUnknown && segment->BytesToProceed() > 0 && !Complete(segment) &&
        !SegmentHeld(segment)) {
      return segment;
    }
  }
  return nullptr;
}

bool TclDownLoadItem::Splittable() const {
  const TclResourceInfo* info = ResourceInfo();
  return info && info->Size() > 0 && info->AllowsRandomAccess() && !IsFtp() &&
         !DownLoader()->Connection() && !KeepConnection();
}

bool TclDownLoadItem::HandsOverConnections() const {
  return DownLoader()->SplitSegments() && !DownLoader()->Connection() && !KeepConnection() &&
         !IsFtp();
}

void TclDownLoadItem::ContinueWork(TclCustomThreader*) {
  if (!DownLoader()->SplitSegments() || infoPhase_ || !dataPhase_) return;
  if (TclResourceStateItem* waiting = WaitingSegment()) {
    StartSuccessor(waiting, dataParser_);
    return;
  }
  if (Splittable() && !SplitRunningSegment()) ArmRecheck();
}

namespace {
constexpr platform::DWORD kRecheckMs = 50;
}  // namespace

void TclDownLoadItem::ArmRecheck() {
  if (recheckTimer_ == 0) recheckTimer_ = platform::SetTimer(kRecheckMs, [this] { Recheck(); });
}

void TclDownLoadItem::DisarmRecheck() {
  if (recheckTimer_ != 0) platform::KillTimer(recheckTimer_);
  recheckTimer_ = 0;
}

void TclDownLoadItem::Recheck() {
  const bool running = std::any_of(Holders().begin(), Holders().end(), [](const auto& h) {
    return !h.Finished && !h.Stopped && h.StateItem != nullptr;
  });
  if (!dataPhase_ || StopRequested() || Abandoned() || !NextIdleConnection() || !running) {
    DisarmRecheck();
    return;
  }
  SplitRunningSegment();
}

bool TclDownLoadItem::SplitRunningSegment() {
  using Clock = std::chrono::steady_clock;
  const TclIdleConnection* next = NextIdleConnection();
  if (!next) return false;
  const Clock::time_point now = Clock::now();
  const std::int64_t block = DownLoader()->BatchSize();
  auto seconds = [](Clock::duration d) { return std::chrono::duration<double>(d).count(); };
  const TclSplitTaker taker{next->Speed, next->Latency};
  std::vector<TclThreaderHolder*> running;
  std::vector<TclSplitCandidate> candidates;
  for (TclThreaderHolder& holder : Holders()) {
    TclResourceStateItem* segment = holder.StateItem;
    if (holder.Finished || holder.Stopped || !segment || segment->BytesToProceed() <= 0) continue;
    const bool anyBlock = holder.LastBlock != Clock::time_point{};
    running.push_back(&holder);
    candidates.push_back({segment->BytesToProceed() - segment->BytesProceed(),
                          EstimateSpeed(segment->BytesProceed() - holder.StartBytes,
                                        seconds(now - holder.Started),
                                        anyBlock ? seconds(now - holder.LastBlock) : -1, block,
                                        taker.latency)});
  }
  for (const TclSplitChoice& choice : RankSplits(candidates, taker, block)) {
    TclThreaderHolder& holder = *running[static_cast<std::size_t>(choice.index)];
    auto* worker = dynamic_cast<TclDownLoadThreader*>(holder.Threader);
    if (!worker) continue;
    TclResourceStateItem* segment = holder.StateItem;
    const std::int64_t from = segment->ResourcePos() + segment->BytesProceed();
    const std::int64_t part = segment->BytesToProceed() - segment->BytesProceed() - choice.keep;
    // The worker decides under its lock where it can stop: not before the
    // read it has in flight, unless it is to keep nothing (a read on so slow
    // a path is not worth waiting for). Its read may take half the part;
    // more, and the split is not worth a request.
    bool cutRead = choice.keep == 0;
    const std::int64_t at =
        worker->ShrinkEnd(std::max(from + choice.keep, segment->ResourcePos() + 1),
                          std::max(part / 2, std::min(part, block)), cutRead);
    if (at < 0) continue;
    holder.Shrunk = true;
    holder.Cut = holder.Cut || cutRead;
    TclResourceStateItem* rest = ResourceState().Split(segment, at);
    // A handler of the change may have stopped the transfer.
    if (!rest || StopRequested() || Abandoned()) return false;
    StartSuccessor(rest, dataParser_);
    return true;
  }
  return false;
}

void TclDownLoadItem::RecordError(const std::string& error) {
  Errors().Add(error, 0);
  GetControl()->DoError(this, error, 0);
}

bool TclDownLoadItem::RestartPending() const {
  return ResourceChangeSeen() && !restartedAfterChange_ && !StopRequested();
}

void TclDownLoadItem::StartAfresh() {
  restartedAfterChange_ = true;
  // The file is made anew by the next data phase; the error that told of the
  // change stays recorded.
  SetOwnStream(nullptr);
  ClearResourceState();
  KeepResourceInfo(nullptr);
  ClearAbandoned();
  infoPhase_ = true;
  dataPhase_ = false;
  CreateThreader(nullptr, true)->Start();
}

void TclDownLoadItem::DoProcessCompleted(TclCustomThreader* threader) {
  if (RestartPending()) {
    try {
      StartAfresh();
      return;
    } catch (const std::exception& e) {
      RecordError(e.what());
    }
  }
  const TclProcessStatus status = ResourceState().Status();
  if (infoPhase_ && status != psFailed && status != psTerminated && !StopRequested() &&
      !Abandoned() && CanProcess()) {
    infoPhase_ = false;
    dataPhase_ = true;
    try {
      StartSegments(threader->URLParser());
      return;
    } catch (const std::exception& e) {
      RecordError(e.what());
      ResourceState().SetSegmentStatus(nullptr, psFailed);
      SetStatus(ResourceState().Status());
      // Workers started before the failure complete the item when they end.
      if (IsBusy()) return;
    }
  } else if (dataPhase_) {
    dataPhase_ = false;
    MakePreviewText();
  }
  DisarmRecheck();
  TclInternetItem::DoProcessCompleted(threader);
}

void TclDownLoadItem::SetStatus(TclProcessStatus status) {
  // A transfer about to start afresh has not failed yet.
  if ((infoPhase_ || RestartPending()) && status != psUnknown && status != psProcess &&
      status != psTerminated)
    status = psProcess;
  TclInternetItem::SetStatus(status);
}

void TclDownLoadItem::DoGetResourceInfo(TclResourceInfo* info) {
  TclInternetItem::DoGetResourceInfo(info);
  if (!info) return;
  // FTP files continue from an offset (REST): their one segment resumes.
  if (info->Size() == 0 || (!info->AllowsRandomAccess() && !IsFtp())) ClearResourceState();
  const std::string name =
      SafeSuggestedFileName(GetHeaderParamValue(info->ContentDisposition(), "filename="));
  TclCustomMultiDownLoaderControl* control = DownLoader();
  if (LocalFile().empty() && !name.empty() && !control->LocalFolder().empty()) {
    SetLocalFile(platform::IncludeTrailingPathDelimiter(control->LocalFolder()) + name);
  }
}

void TclDownLoadItem::CloseDataStream() {
  const TclProcessStatus status = ResourceState().Status();
  const bool ended = status == psFailed || status == psTerminated;
  if (ended && OwnStream() && ResourceState().ResourceSize() > 0) {
    // A transfer that did not complete never leaves a file that looks
    // complete: it is cut after the furthest byte the map holds.
    try {
      if (MapDoneEnd() >= ResourceState().ResourceSize()) {
        // The last part is complete while another is not: its bytes are
        // given up (a later start fetches them again) rather than leave a
        // file of the full size.
        for (int i = 0; i < ResourceState().Count(); ++i) {
          TclResourceStateItem* segment = ResourceState().Items(i);
          if (segment->ResourcePos() + segment->BytesProceed() >= ResourceState().ResourceSize())
            ResourceState().SetBytesProceed(segment, 0);
        }
      }
      if (OwnStream()->Size() > MapDoneEnd()) OwnStream()->SetSize(MapDoneEnd());
    } catch (const std::exception& e) {
      RecordError(e.what());
    }
  }
  TclInternetItem::CloseDataStream();
  if (ended || !CanProcess()) return;
  if (Compressed() && !workFile_.empty() && workFile_ != LocalFile() &&
      platform::FileExists(workFile_)) {
    try {
      TclGZip(DownLoader()->BatchSize()).Uncompress(workFile_, LocalFile());
    } catch (const std::exception& e) {
      FailUndecodable(e.what());
      return;
    }
    platform::DeleteFile(workFile_);
  }
  try {
    if (DownLoader()->CorrectResourceTime() && ResourceInfo() &&
        platform::FileExists(LocalFile())) {
      platform::SetFileDateTime(LocalFile(), ResourceInfo()->Date());
    }
  } catch (const std::exception& e) {
    RecordError(e.what());
  }
}

void TclDownLoadItem::FailUndecodable(const std::string& error) {
  // The bytes arrived but do not make the file: the transfer failed. What the
  // decoder wrote is no file, and the map no longer claims the bytes, so that
  // neither a byte count nor a later start takes them for a complete download.
  platform::DeleteFile(LocalFile());
  for (int i = 0; i < ResourceState().Count(); ++i) {
    ResourceState().SetBytesProceed(ResourceState().Items(i), 0);
  }
  RecordError(error);
  ResourceState().SetSegmentStatus(nullptr, psFailed);
  SetStatus(ResourceState().Status());
}

void TclDownLoadItem::MakePreviewText() {
  preview_.Clear();
  rtl::Stream* stream = DataStream() ? DataStream() : OwnStream();
  std::string text;
  if (stream) {
    const std::int64_t size = stream->Size();
    const std::int64_t wanted = DownLoader()->PreviewCharCount();
    const std::int64_t count = wanted == 0 || wanted > size ? size : wanted;
    const std::int64_t position = stream->Position();
    text.resize(static_cast<std::size_t>(std::max<std::int64_t>(0, count)));
    stream->SetPosition(0);
    text.resize(static_cast<std::size_t>(
        stream->Read(text.data(), static_cast<std::int64_t>(text.size()))));
    stream->SetPosition(position);
  }
  const char replacement = DownLoader()->DefaultChar();
  for (char& c : text) {
    const auto code = static_cast<unsigned char>(c);
    if (code != 9 && code != 10 && code != 13 && code < 32) c = replacement;
  }
  preview_.SetText(text);
  DoDataTextProceed();
}

void TclDownLoadItem::DoDataTextProceed() {
  DownLoader()->DoDataTextProceed(this, preview_);
}

void TclDownLoadItem::ReleaseResources() {
  DisarmRecheck();
  TclInternetItem::ReleaseResources();
  preview_.Clear();
}

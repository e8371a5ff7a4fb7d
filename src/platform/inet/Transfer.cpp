#include "platform/inet/Transfer.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstring>

#include "platform/inet/Reaper.h"

namespace inet {
namespace {

using Clock = std::chrono::steady_clock;

// A larger receive buffer halves the client's CPU time on fast links.
constexpr long kReceiveBufferSize = 100 * 1024;
constexpr int kPollSliceMs = 1000;
// Bytes received ahead of the caller's reads. Beyond this the transfer pauses;
// pausing often costs an allocation per chunk inside libcurl.
constexpr size_t kStageLimit = 256 * 1024;

bool IsReplyLine(std::string_view line) {
  return line.size() >= 4 && std::isdigit(static_cast<unsigned char>(line[0])) &&
         std::isdigit(static_cast<unsigned char>(line[1])) &&
         std::isdigit(static_cast<unsigned char>(line[2])) && (line[3] == ' ' || line[3] == '-');
}

}  // namespace

Transfer::Transfer(InetObject& owner, Protocol protocol) : owner_(owner), protocol_(protocol) {}

Transfer::~Transfer() {
  if (easy_ == nullptr && !entry_) {
    return;
  }
  RootObject& root = owner_.Root();
  // Only a transfer that never heard from its peer may still have a name lookup
  // running; the others are finished here so their connection is warm at once.
  if (!attached_ || done_ || anyResponse_ || lastReplyCode_ != 0) {
    Detach();
    curl_easy_cleanup(easy_);
    root.Return(std::move(entry_));
    return;
  }
  Reap(easy_, attached_, std::move(entry_), root.shared_from_this());
}

void Transfer::Detach() {
  if (attached_) {
    curl_multi_remove_handle(entry_->multi, easy_);
    attached_ = false;
  }
}

CURL* Transfer::Prepare(const std::string& poolKey, DWORD ignoreFlags, bool haveClientCert,
                        bool clientCertDecided) {
  Detach();
  if (easy_ != nullptr && entry_ && entry_->key == poolKey) {
    curl_easy_reset(easy_);
  } else {
    if (easy_ != nullptr) {
      curl_easy_cleanup(easy_);
    }
    owner_.Root().Return(std::move(entry_));
    entry_ = owner_.Root().Borrow(poolKey);
    easy_ = curl_easy_init();
  }
  entry_->tls.ignoreFlags = ignoreFlags;
  entry_->tls.haveClientCert = haveClientCert;
  entry_->tls.refuseCertificateRequest = !clientCertDecided;
  entry_->tls.seen = TlsObservations{};

  done_ = false;
  result_ = CURLE_OK;
  paused_ = false;
  bodyStarted_ = false;
  headersFinal_ = false;
  anyResponse_ = false;
  stage_.clear();
  stageOffset_ = 0;
  block_.Clear();
  response_.Clear();
  serverChallenges_ = 0;
  proxyChallenges_ = 0;
  rangeStart_.reset();
  rangeChecked_ = false;
  rangeMismatch_ = false;
  rangeMismatchText_.clear();
  discardBody_ = false;
  currentReply_.clear();
  replyOpen_ = false;
  lastReplyCode_ = 0;
  lastReply_.clear();

  curl_easy_setopt(easy_, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy_, CURLOPT_BUFFERSIZE, kReceiveBufferSize);
  curl_easy_setopt(easy_, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
  curl_easy_setopt(easy_, CURLOPT_PROTOCOLS_STR, "http,https,ftp");
  curl_easy_setopt(easy_, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(easy_, CURLOPT_HEADERFUNCTION, &Transfer::OnHeader);
  curl_easy_setopt(easy_, CURLOPT_HEADERDATA, this);
  curl_easy_setopt(easy_, CURLOPT_WRITEFUNCTION, &Transfer::OnWrite);
  curl_easy_setopt(easy_, CURLOPT_WRITEDATA, this);
  curl_easy_setopt(easy_, CURLOPT_CONNECTTIMEOUT_MS,
                   static_cast<long>(owner_.settings.connectTimeoutMs));
  curl_easy_setopt(easy_, CURLOPT_SSL_CTX_FUNCTION, &InstallTlsPolicy);
  curl_easy_setopt(easy_, CURLOPT_SSL_CTX_DATA, &entry_->tls);
  return easy_;
}

void Transfer::SetChallengeAnswers(bool server, bool proxy, bool followRedirects) {
  serverChallenge_ = server;
  proxyChallenge_ = proxy;
  followRedirects_ = followRedirects;
}

void Transfer::Start() {
  curl_multi_add_handle(entry_->multi, easy_);
  attached_ = true;
}

void Transfer::Wake() {
  curl_multi_wakeup(wakeMulti_);
}

size_t Transfer::OnHeader(char* data, size_t size, size_t count, void* self) {
  auto* transfer = static_cast<Transfer*>(self);
  size_t length = size * count;
  transfer->progressed_ = true;
  std::string_view line(data, length);
  if (transfer->protocol_ == Protocol::kFtp) {
    transfer->HandleFtpReplyLine(line);
    return length;
  }
  return transfer->HandleHttpHeader(line);
}

size_t Transfer::HandleHttpHeader(std::string_view line) {
  size_t length = line.size();
  if (line.substr(0, 5) == "HTTP/") {
    block_.Clear();
    block_.AddLine(line);
    headersFinal_ = false;
    return length;
  }
  if (line != "\r\n" && line != "\n") {
    block_.AddLine(line);
    return length;
  }
  // The end of a header block: decide whether libcurl will go on to another one.
  anyResponse_ = true;
  response_ = block_;
  int status = block_.Status();
  bool final = true;
  if (status >= 100 && status < 200) {
    final = false;
  } else if (followRedirects_ && status >= 300 && status < 400 && status != 304 &&
             block_.Find("Location")) {
    final = false;
  } else if (status == 401 && serverChallenge_ && serverChallenges_++ == 0) {
    final = false;
  } else if (status == 407 && proxyChallenge_ && proxyChallenges_++ == 0) {
    final = false;
  }
  headersFinal_ = final;
  if (final && !CheckRange()) {
    return 0;  // aborts the transfer: no byte of a misplaced body is delivered
  }
  return length;
}

bool Transfer::CheckRange() {
  if (rangeChecked_ || !rangeStart_) {
    return !rangeMismatch_;
  }
  rangeChecked_ = true;
  int status = response_.Status();
  // A whole body answering a range from byte 0 starts where the range starts: that
  // is how a server without ranges is read in one segment. From anywhere else its
  // first bytes would land at the wrong position.
  if (status == 200 && *rangeStart_ != 0) {
    rangeMismatch_ = true;
    rangeMismatchText_ = "Ranged request for bytes from " + std::to_string(*rangeStart_) +
                         " was answered with the whole resource (status 200)";
  } else if (status == 206) {
    auto value = response_.Find("Content-Range");
    auto range = value ? ParseContentRange(*value) : std::nullopt;
    if (!range || range->first != *rangeStart_) {
      rangeMismatch_ = true;
      rangeMismatchText_ = "Ranged request for bytes from " + std::to_string(*rangeStart_) +
                           " was answered with Content-Range \"" + value.value_or("") + "\"";
    }
  }
  return !rangeMismatch_;
}

void Transfer::HandleFtpReplyLine(std::string_view line) {
  if (IsReplyLine(line)) {
    if (!replyOpen_) {
      currentReply_.clear();
      replyOpen_ = true;
    }
    currentReply_.append(line);
    if (line[3] == ' ') {
      lastReply_ = currentReply_;
      lastReplyCode_ =
          static_cast<DWORD>((line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0'));
      replyOpen_ = false;
    }
  } else if (replyOpen_) {
    currentReply_.append(line);
  }
}

size_t Transfer::OnWrite(char* data, size_t size, size_t count, void* self) {
  auto* transfer = static_cast<Transfer*>(self);
  size_t length = size * count;
  if (transfer->discardBody_) {
    return length;
  }
  if (transfer->protocol_ == Protocol::kHttp && !transfer->CheckRange()) {
    return 0;
  }
  transfer->progressed_ = true;
  transfer->bodyStarted_ = true;
  std::string& stage = transfer->stage_;
  size_t staged = stage.size() - transfer->stageOffset_;
  if (staged > 0 && staged + length > kStageLimit) {
    // The caller has not taken enough yet: libcurl holds this chunk until the
    // next pull un-pauses the transfer.
    transfer->paused_ = true;
    return CURL_WRITEFUNC_PAUSE;
  }
  size_t taken = 0;
  if (staged == 0) {
    stage.clear();
    transfer->stageOffset_ = 0;
    size_t room = transfer->callerBuffer_ ? transfer->callerWant_ - transfer->callerHave_ : 0;
    taken = std::min(room, length);
    if (taken > 0) {
      std::memcpy(transfer->callerBuffer_ + transfer->callerHave_, data, taken);
      transfer->callerHave_ += static_cast<DWORD>(taken);
    }
  } else if (transfer->stageOffset_ > 0) {
    stage.erase(0, transfer->stageOffset_);
    transfer->stageOffset_ = 0;
  }
  // The stage keeps its capacity, so steady reading allocates nothing.
  stage.append(data + taken, length - taken);
  return length;
}

void Transfer::DrainMessages() {
  int left = 0;
  while (CURLMsg* message = curl_multi_info_read(entry_->multi, &left)) {
    if (message->msg == CURLMSG_DONE && message->easy_handle == easy_) {
      done_ = true;
      result_ = message->data.result;
    }
  }
}

Transfer::Outcome Transfer::Loop(const std::function<bool()>& goal) {
  wakeMulti_ = entry_->multi;
  EnterBlockingCall(this);
  struct Leave {
    Transfer* self;
    ~Leave() { LeaveBlockingCall(self); }
  } leave{this};

  const DWORD idleLimitMs = owner_.settings.receiveTimeoutMs;
  Clock::time_point lastProgress = Clock::now();
  for (;;) {
    progressed_ = false;
    int running = 0;
    curl_multi_perform(entry_->multi, &running);
    DrainMessages();
    Clock::time_point now = Clock::now();
    if (progressed_) {
      lastProgress = now;
    }
    if (goal()) {
      return Outcome::kGoal;
    }
    if (done_) {
      return Outcome::kDone;
    }
    if (owner_.Cancelled()) {
      return Outcome::kCancelled;
    }
    if (paused_) {
      // A paused transfer has no socket in the poll set; only the caller's next
      // pull can move it on.
      return Outcome::kGoal;
    }
    int waitMs = kPollSliceMs;
    if (idleLimitMs != 0) {
      auto idle = std::chrono::duration_cast<std::chrono::milliseconds>(now - lastProgress);
      if (idle.count() >= static_cast<long long>(idleLimitMs)) {
        return Outcome::kTimedOut;
      }
      waitMs = static_cast<int>(std::min<long long>(waitMs, idleLimitMs - idle.count()));
    }
    curl_multi_poll(entry_->multi, nullptr, 0, waitMs, nullptr);
  }
}

Transfer::Outcome Transfer::RunUntilResponse() {
  return Loop([this] { return headersFinal_ || bodyStarted_; });
}

Transfer::Outcome Transfer::RunUntilDone() {
  return Loop([] { return false; });
}

Transfer::Outcome Transfer::Pull(char* buffer, DWORD want, DWORD& delivered) {
  callerBuffer_ = buffer;
  callerWant_ = want;
  callerHave_ = 0;
  size_t staged = stage_.size() - stageOffset_;
  if (staged > 0) {
    size_t taken = std::min<size_t>(staged, want);
    std::memcpy(buffer, stage_.data() + stageOffset_, taken);
    stageOffset_ += taken;
    callerHave_ = static_cast<DWORD>(taken);
  }
  Outcome outcome = Outcome::kGoal;
  if (callerHave_ < want && paused_) {
    paused_ = false;
    // libcurl may hand over the held chunk from inside this call.
    curl_easy_pause(easy_, CURLPAUSE_CONT);
  }
  if (callerHave_ < want && !done_) {
    outcome = Loop([this] { return callerHave_ == callerWant_; });
  } else if (callerHave_ < want) {
    outcome = Outcome::kDone;
  }
  delivered = callerHave_;
  callerBuffer_ = nullptr;
  callerWant_ = 0;
  callerHave_ = 0;
  return outcome;
}

TransferFacts Transfer::Facts() const {
  TransferFacts facts;
  facts.cancelled = owner_.Cancelled();
  facts.connected = anyResponse_ || lastReplyCode_ != 0;
  if (entry_) {
    facts.certDateProblem = entry_->tls.seen.dateProblem;
    facts.certAuthorityProblem = entry_->tls.seen.authorityProblem;
    facts.clientCertRequested = entry_->tls.seen.clientCertRequested;
  }
  facts.ftpReplySeen = protocol_ == Protocol::kFtp && lastReplyCode_ >= 400;
  if (easy_ != nullptr) {
    curl_easy_getinfo(easy_, CURLINFO_HTTP_CONNECTCODE, &facts.connectCode);
  }
  return facts;
}

}  // namespace inet

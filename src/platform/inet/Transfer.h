// The engine of one blocking call: one libcurl easy handle driven through a multi
// handle borrowed from the root's pool, pulled forward only as far as the caller
// needs (final response headers, or a buffer full of body bytes).
//
// Threads: a transfer belongs to its handle object and runs on the thread that is
// inside an entry point for that handle (callers make one call per handle at a
// time). Only Wake() is called from other threads (by a closing thread, under the
// wake registry's lock); it touches nothing but curl_multi_wakeup on the multi
// handle published before the call registered itself.
#pragma once

#include <curl/curl.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/inet/HttpHeaders.h"
#include "platform/inet/InetErrors.h"
#include "platform/inet/InetObject.h"
#include "platform/inet/RootObject.h"

namespace inet {

class Transfer final : public WakeTarget {
 public:
  enum class Protocol { kHttp, kFtp };
  enum class Outcome { kGoal, kDone, kCancelled, kTimedOut };

  Transfer(InetObject& owner, Protocol protocol);
  ~Transfer();
  Transfer(const Transfer&) = delete;
  Transfer& operator=(const Transfer&) = delete;

  // Readies the easy handle for a new run under a pool key and returns it for the
  // caller's options. A new key means a new easy handle and another pooled multi,
  // so no connection or TLS session crosses keys.
  CURL* Prepare(const std::string& poolKey, DWORD ignoreFlags, bool haveClientCert,
                bool clientCertDecided = true);
  void Start();

  // Runs until the final response headers are in, the first body byte arrived, or
  // the transfer ended.
  Outcome RunUntilResponse();
  // Runs until the transfer ended.
  Outcome RunUntilDone();
  // Fills the buffer with body bytes (fewer only at the end of the data).
  Outcome Pull(char* buffer, DWORD want, DWORD& delivered);

  bool Done() const { return done_; }
  CURLcode Result() const { return result_; }
  TransferFacts Facts() const;
  CURL* Easy() const { return easy_; }

  // HTTP: the last complete response block.
  const HeaderBlock& Response() const { return response_; }
  void SynthesizeResponse(const std::string& statusLine) { response_.SetStatusLine(statusLine); }
  // HTTP: the run fails (write error) when a ranged answer does not start there.
  void ExpectRangeStart(std::optional<std::uint64_t> start) { rangeStart_ = start; }
  bool RangeMismatch() const { return rangeMismatch_; }
  const std::string& RangeMismatchText() const { return rangeMismatchText_; }
  // HTTP: which challenge answers libcurl may make (their first 401/407 is not final).
  void SetChallengeAnswers(bool server, bool proxy, bool followRedirects);

  // FTP: body bytes are thrown away (information requests).
  void SetDiscardBody(bool discard) { discardBody_ = discard; }
  DWORD LastReplyCode() const { return lastReplyCode_; }
  const std::string& LastReply() const { return lastReply_; }

  void Wake() override;

 private:
  static size_t OnHeader(char* data, size_t size, size_t count, void* self);
  static size_t OnWrite(char* data, size_t size, size_t count, void* self);
  size_t HandleHttpHeader(std::string_view line);
  void HandleFtpReplyLine(std::string_view line);
  bool CheckRange();
  void Detach();
  void DrainMessages();
  Outcome Loop(const std::function<bool()>& goal);

  InetObject& owner_;
  Protocol protocol_;
  CURL* easy_ = nullptr;
  bool attached_ = false;
  std::unique_ptr<PoolEntry> entry_;
  CURLM* wakeMulti_ = nullptr;  // published before registering for wake-ups

  bool done_ = false;
  CURLcode result_ = CURLE_OK;
  bool progressed_ = false;
  bool paused_ = false;
  bool bodyStarted_ = false;
  bool headersFinal_ = false;
  bool anyResponse_ = false;

  // The caller's buffer during Pull, and the bytes of a chunk that did not fit.
  char* callerBuffer_ = nullptr;
  DWORD callerWant_ = 0;
  DWORD callerHave_ = 0;
  std::string stage_;
  size_t stageOffset_ = 0;

  HeaderBlock block_;
  HeaderBlock response_;
  bool serverChallenge_ = false;
  bool proxyChallenge_ = false;
  bool followRedirects_ = true;
  int serverChallenges_ = 0;
  int proxyChallenges_ = 0;
  std::optional<std::uint64_t> rangeStart_;
  bool rangeChecked_ = false;
  bool rangeMismatch_ = false;
  std::string rangeMismatchText_;

  bool discardBody_ = false;
  std::string currentReply_;
  bool replyOpen_ = false;
  DWORD lastReplyCode_ = 0;
  std::string lastReply_;
};

}  // namespace inet

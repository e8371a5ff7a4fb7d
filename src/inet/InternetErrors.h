// The exceptions of the internet layer and its process-wide message texts.
//
// Threads: the exceptions are plain values. The message texts are shared by
// every thread; reading and replacing them is guarded by a lock inside, and
// readers always get a copy.
#pragma once

#include <cstdint>
#include <string>

#include "rtl/Exceptions.h"

// The texts of the internet layer. A host may replace them at start-up (for
// example with translations) through SetInternetMessages.
struct TclInternetMessages {
  // Starting an item that is already running (code 0).
  std::string OperationInProgress = "Operation is in progress";
  // A read that delivered fewer bytes than asked for inside a bounded segment.
  std::string ReadDataFailed = "Read data failed";
  // Fallback error text; "%d" stands for the code.
  std::string UnknownError = "Unknown error, code = %d";
  // HTTP status of 400 or more; "%d" stands for the status.
  std::string HttpResourceAccessError = "HTTP resource access error occured, code = %d";
  // Label of the server's extended error text.
  std::string AdditionalInfo = "Additional info";
  // An action that did not finish in time (code 258).
  std::string RequestTimeout = "Request timeout";
  // A data answer that describes another version of the resource than the one
  // being fetched (code 0); the details follow after ": ".
  std::string ResourceChanged = "The resource changed on the server";
};

TclInternetMessages InternetMessages();
void SetInternetMessages(const TclInternetMessages& messages);

// Replaces the first "%d" of Text with Value and "%%" with "%". Texts can be
// replaced by a host, so they are never used as printf formats.
std::string FormatInternetMessage(const std::string& text, std::int32_t value);

// What a retry can do about a failure. The raiser knows; the worker's attempt
// loop decides what to do with it.
enum class TclFailureKind : std::uint8_t {
  Transient,        // time-outs, resets, refusals, 408, 429, 5xx: a later try may pass
  Permanent,        // no retry can mend it (404, a refused certificate, FTP 550 ...)
  ResourceChanged,  // the answer is of another version of the resource
};

// The exception of the whole internet layer: a message and an error code (an
// internet or system error number, an HTTP status, 258 for a time-out, or 0),
// with what a retry can do about it and, for 429 and 503, the pause the server
// asked for.
class EclInternetError : public rtl::Exception {
 public:
  EclInternetError(std::string message, std::int32_t errorCode,
                   TclFailureKind kind = TclFailureKind::Transient, std::int32_t retryAfterMs = -1)
      : rtl::Exception(std::move(message)),
        errorCode_(errorCode),
        kind_(kind),
        retryAfterMs_(retryAfterMs) {}

  // ErrorCode := the calling thread's last error, message := its error text.
  static EclInternetError FromLastError();

  std::int32_t ErrorCode() const { return errorCode_; }
  TclFailureKind Kind() const { return kind_; }
  // The server's Retry-After in milliseconds; -1 when it sent none.
  std::int32_t RetryAfterMs() const { return retryAfterMs_; }

 private:
  std::int32_t errorCode_;
  TclFailureKind kind_;
  std::int32_t retryAfterMs_;
};

// The kind of a failed library call: a refused certificate, an invalid URL or
// scheme, a refused FTP login and an FTP 530 or 550 reply (ReplyCode, the
// server's last reply with an extended error) are permanent; the rest transient.
TclFailureKind LibraryFailureKind(std::int32_t errorCode, std::int32_t replyCode);
// The kind of an HTTP error status; WholeFile: the request asked for no range
// (a 416 to a range may pass once the range is right).
TclFailureKind StatusFailureKind(std::int32_t status, bool wholeFile);

// Raised only when an action did not finish in time.
class EclTimeoutInternetError : public EclInternetError {
 public:
  using EclInternetError::EclInternetError;
};

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
};

TclInternetMessages InternetMessages();
void SetInternetMessages(const TclInternetMessages& messages);

// Replaces the first "%d" of Text with Value and "%%" with "%". Texts can be
// replaced by a host, so they are never used as printf formats.
std::string FormatInternetMessage(const std::string& text, std::int32_t value);

// The exception of the whole internet layer: a message and an error code (an
// internet or system error number, an HTTP status, 258 for a time-out, or 0).
class EclInternetError : public rtl::Exception {
 public:
  EclInternetError(std::string message, std::int32_t errorCode)
      : rtl::Exception(std::move(message)), errorCode_(errorCode) {}

  // ErrorCode := the calling thread's last error, message := its error text.
  static EclInternetError FromLastError();

  std::int32_t ErrorCode() const { return errorCode_; }

 private:
  std::int32_t errorCode_;
};

// Raised only when an action did not finish in time.
class EclTimeoutInternetError : public EclInternetError {
 public:
  using EclInternetError::EclInternetError;
};

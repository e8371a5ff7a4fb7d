#include "inet/InternetErrors.h"

#include <mutex>

#include "inet/clWinInet.h"
#include "platform/LastError.h"

namespace {

std::mutex& MessagesLock() {
  static std::mutex lock;
  return lock;
}

TclInternetMessages& MessagesStore() {
  static TclInternetMessages messages;
  return messages;
}

}  // namespace

TclInternetMessages InternetMessages() {
  std::lock_guard<std::mutex> guard(MessagesLock());
  return MessagesStore();
}

void SetInternetMessages(const TclInternetMessages& messages) {
  std::lock_guard<std::mutex> guard(MessagesLock());
  MessagesStore() = messages;
}

std::string FormatInternetMessage(const std::string& text, std::int32_t value) {
  std::string result;
  result.reserve(text.size() + 12);
  bool substituted = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 1 < text.size()) {
      char next = text[i + 1];
      if (next == '%') {
        result += '%';
        ++i;
        continue;
      }
      if (next == 'd' && !substituted) {
        result += std::to_string(value);
        substituted = true;
        ++i;
        continue;
      }
    }
    result += text[i];
  }
  return result;
}

EclInternetError EclInternetError::FromLastError() {
  auto code = static_cast<std::int32_t>(platform::GetLastError());
  return EclInternetError(clWinInet::GetInternetErrorText(code), code);
}

TclFailureKind LibraryFailureKind(std::int32_t errorCode, std::int32_t replyCode) {
  switch (errorCode) {
    case ERROR_INTERNET_INVALID_URL:
    case ERROR_INTERNET_UNRECOGNIZED_SCHEME:
    case ERROR_INTERNET_LOGIN_FAILURE:
    case ERROR_INTERNET_SEC_CERT_DATE_INVALID:
    case ERROR_INTERNET_SEC_CERT_CN_INVALID:
    case ERROR_INTERNET_INVALID_CA:
      return TclFailureKind::Permanent;
    case ERROR_INTERNET_EXTENDED_ERROR:
      // 530: not logged in (refused credentials); 550: no such file or no access.
      return replyCode == 530 || replyCode == 550 ? TclFailureKind::Permanent
                                                  : TclFailureKind::Transient;
    default:
      return TclFailureKind::Transient;
  }
}

TclFailureKind StatusFailureKind(std::int32_t status, bool wholeFile) {
  switch (status) {
    case 400:
    case 401:
    case 403:
    case 404:
    case 405:
    case 410:
      return TclFailureKind::Permanent;
    case 416:
      return wholeFile ? TclFailureKind::Permanent : TclFailureKind::Transient;
    default:
      return TclFailureKind::Transient;
  }
}

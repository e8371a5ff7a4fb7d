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

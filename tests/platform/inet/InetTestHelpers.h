// Helpers shared by the internet client tests: owned handles, whole-body reads,
// response queries.
#pragma once

#include <string>

#include "platform/LastError.h"
#include "platform/inet/InetClient.h"

namespace inet_testing {

// Closes the handle when it goes (ignoring handles already closed by a parent).
class Handle {
 public:
  explicit Handle(HINTERNET handle = nullptr) : handle_(handle) {}
  ~Handle() { Reset(); }
  Handle(Handle&& other) noexcept : handle_(other.handle_) { other.handle_ = nullptr; }
  Handle& operator=(Handle&& other) noexcept {
    Reset();
    handle_ = other.handle_;
    other.handle_ = nullptr;
    return *this;
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  HINTERNET get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr; }
  void Reset() {
    if (handle_ != nullptr) InternetCloseHandle(handle_);
    handle_ = nullptr;
  }

 private:
  HINTERNET handle_;
};

inline DWORD LastError() { return platform::GetLastError(); }

// Reads the body in blocks of blockSize until the end; false on a failed read.
inline bool ReadAll(HINTERNET file, std::string& body, DWORD blockSize = 8192) {
  std::string block(blockSize, '\0');
  for (;;) {
    DWORD got = 0;
    if (!InternetReadFile(file, block.data(), blockSize, &got)) return false;
    if (got == 0) return true;
    body.append(block.data(), got);
  }
}

inline DWORD StatusCode(HINTERNET request) {
  DWORD status = 0;
  DWORD length = sizeof(status);
  if (!HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &length,
                      nullptr)) {
    return 0;
  }
  return status;
}

inline std::string QueryText(HINTERNET request, DWORD level) {
  char buffer[1024] = {};
  DWORD length = sizeof(buffer);
  if (!HttpQueryInfoA(request, level, buffer, &length, nullptr)) return "<none>";
  return std::string(buffer, length);
}

inline std::string LastResponseInfo() {
  DWORD code = 0;
  DWORD length = 0;
  InternetGetLastResponseInfoA(&code, nullptr, &length);
  std::string text(length, '\0');
  if (length == 0 || !InternetGetLastResponseInfoA(&code, text.data(), &length)) return "";
  text.resize(length);
  return text;
}

// Opens root + connect + request for an http(s) URL's host, port and object.
struct HttpSession {
  Handle root;
  Handle connect;
  Handle request;
};

inline HttpSession OpenHttp(const std::string& host, INTERNET_PORT port, const char* verb,
                            const std::string& object, DWORD flags = 0,
                            DWORD accessType = INTERNET_OPEN_TYPE_DIRECT,
                            const char* proxy = nullptr, const char* bypass = nullptr) {
  HttpSession session;
  session.root = Handle(InternetOpenA("inet-test/1.0", accessType, proxy, bypass, 0));
  session.connect = Handle(InternetConnectA(session.root.get(), host.c_str(), port, nullptr,
                                            nullptr, INTERNET_SERVICE_HTTP, 0, 0));
  session.request = Handle(HttpOpenRequestA(session.connect.get(), verb, object.c_str(), nullptr,
                                            nullptr, nullptr, flags, 0));
  return session;
}

}  // namespace inet_testing

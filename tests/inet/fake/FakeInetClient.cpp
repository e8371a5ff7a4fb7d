// A stand-in for the internet client library, loaded by the binding's tests in
// its place. It exports the 29 entry points (minus the ones a build leaves out
// through FAKE_OMIT_* definitions), a message table the tests can change, a
// per-thread server response text, and counters the tests read through dlsym.
#include <chrono>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "platform/LastError.h"
#include "platform/inet/InetClient.h"

#define FAKE_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

std::mutex gLock;
std::map<DWORD, std::string> DefaultMessages() {
  return {
      {12003, "An extended error occurred on the server.\r\n"},
      {2, "Module text for code two.\r\n"},
      {12901, ". . .\r\n"},
      {12902, "Ends in a period and a blank. \r\n"},
  };
}
std::map<DWORD, std::string>& Messages() {
  static std::map<DWORD, std::string> messages = DefaultMessages();
  return messages;
}
thread_local std::string tResponse;
int gInitCount = 0;
int gCloseCalls = 0;

// Slow start-up widens the window in which concurrent first calls overlap.
__attribute__((constructor)) void SlowStart() {
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  std::lock_guard<std::mutex> guard(gLock);
  ++gInitCount;
}

BOOL NotImplemented() {
  platform::SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
  return FALSE;
}

}  // namespace

// ---- test controls ----------------------------------------------------------

FAKE_EXPORT int FakeInitCount() {
  std::lock_guard<std::mutex> guard(gLock);
  return gInitCount;
}

FAKE_EXPORT int FakeCloseCalls() {
  std::lock_guard<std::mutex> guard(gLock);
  return gCloseCalls;
}

// nullptr removes the text for Code.
FAKE_EXPORT void FakeSetMessage(DWORD code, const char* text) {
  std::lock_guard<std::mutex> guard(gLock);
  if (text == nullptr) {
    Messages().erase(code);
  } else {
    Messages()[code] = text;
  }
}

// The library stays in memory once loaded (it has thread-local state), so tests
// put its message table back rather than relying on a fresh load.
FAKE_EXPORT void FakeResetMessages() {
  std::lock_guard<std::mutex> guard(gLock);
  Messages() = DefaultMessages();
}

FAKE_EXPORT void FakeSetResponse(const char* text) { tResponse = text != nullptr ? text : ""; }

// ---- the library's interface -----------------------------------------------

FAKE_EXPORT const char* InetClientMessageText(DWORD code) {
  std::lock_guard<std::mutex> guard(gLock);
  auto it = Messages().find(code);
  return it == Messages().end() ? nullptr : it->second.c_str();
}

FAKE_EXPORT BOOL InternetGetLastResponseInfoA(LPDWORD error, LPSTR buffer, LPDWORD length) {
  *error = 0;
  DWORD needed = static_cast<DWORD>(tResponse.size());
  if (needed == 0) {
    *length = 0;
    return TRUE;
  }
  if (buffer == nullptr || *length < needed + 1) {
    *length = needed + 1;
    platform::SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  std::memcpy(buffer, tResponse.data(), needed);
  buffer[needed] = '\0';
  *length = needed;
  return TRUE;
}

// Handle 1 is the only valid one.
FAKE_EXPORT BOOL InternetCloseHandle(HINTERNET handle) {
  {
    std::lock_guard<std::mutex> guard(gLock);
    ++gCloseCalls;
  }
  if (handle == reinterpret_cast<HINTERNET>(1)) return TRUE;
  platform::SetLastError(ERROR_INVALID_HANDLE);
  return FALSE;
}

FAKE_EXPORT BOOL InternetCrackUrlA(LPCSTR, DWORD, DWORD, LPURL_COMPONENTSA) { return NotImplemented(); }
FAKE_EXPORT BOOL InternetCreateUrlA(LPURL_COMPONENTSA, DWORD, LPSTR, LPDWORD) { return NotImplemented(); }
FAKE_EXPORT BOOL InternetCanonicalizeUrlA(LPCSTR, LPSTR, LPDWORD, DWORD) { return NotImplemented(); }
FAKE_EXPORT BOOL InternetCombineUrlA(LPCSTR, LPCSTR, LPSTR, LPDWORD, DWORD) { return NotImplemented(); }
#ifndef FAKE_OMIT_OPEN
FAKE_EXPORT HINTERNET InternetOpenA(LPCSTR, DWORD, LPCSTR, LPCSTR, DWORD) {
  NotImplemented();
  return nullptr;
}
#endif
FAKE_EXPORT HINTERNET InternetConnectA(HINTERNET, LPCSTR, INTERNET_PORT, LPCSTR, LPCSTR, DWORD, DWORD,
                                       DWORD_PTR) {
  NotImplemented();
  return nullptr;
}
FAKE_EXPORT HINTERNET InternetOpenUrlA(HINTERNET, LPCSTR, LPCSTR, DWORD, DWORD, DWORD_PTR) {
  NotImplemented();
  return nullptr;
}
FAKE_EXPORT BOOL InternetReadFile(HINTERNET, LPVOID, DWORD, LPDWORD) { return NotImplemented(); }
FAKE_EXPORT BOOL InternetQueryOptionA(HINTERNET, DWORD, LPVOID, LPDWORD) { return NotImplemented(); }
FAKE_EXPORT BOOL InternetSetOptionA(HINTERNET, DWORD, LPVOID, DWORD) { return NotImplemented(); }
FAKE_EXPORT HINTERNET FtpFindFirstFileA(HINTERNET, LPCSTR, LPWIN32_FIND_DATAA, DWORD, DWORD_PTR) {
  NotImplemented();
  return nullptr;
}
FAKE_EXPORT HINTERNET FtpOpenFileA(HINTERNET, LPCSTR, DWORD, DWORD, DWORD_PTR) {
  NotImplemented();
  return nullptr;
}
FAKE_EXPORT BOOL FtpCreateDirectoryA(HINTERNET, LPCSTR) { return NotImplemented(); }
FAKE_EXPORT BOOL FtpRemoveDirectoryA(HINTERNET, LPCSTR) { return NotImplemented(); }
FAKE_EXPORT HINTERNET HttpOpenRequestA(HINTERNET, LPCSTR, LPCSTR, LPCSTR, LPCSTR, LPCSTR*, DWORD,
                                       DWORD_PTR) {
  NotImplemented();
  return nullptr;
}
FAKE_EXPORT BOOL HttpAddRequestHeadersA(HINTERNET, LPCSTR, DWORD, DWORD) { return NotImplemented(); }
FAKE_EXPORT BOOL HttpSendRequestA(HINTERNET, LPCSTR, DWORD, LPVOID, DWORD) { return NotImplemented(); }
FAKE_EXPORT BOOL HttpSendRequestExA(HINTERNET, LPINTERNET_BUFFERSA, LPINTERNET_BUFFERSA, DWORD,
                                    DWORD_PTR) {
  return NotImplemented();
}
FAKE_EXPORT BOOL HttpEndRequestA(HINTERNET, LPINTERNET_BUFFERSA, DWORD, DWORD_PTR) { return NotImplemented(); }
FAKE_EXPORT BOOL HttpQueryInfoA(HINTERNET, DWORD, LPVOID, LPDWORD, LPDWORD) { return NotImplemented(); }
FAKE_EXPORT DWORD InternetErrorDlg(HWND, HINTERNET, DWORD error, DWORD, LPVOID*) { return error; }
FAKE_EXPORT BOOL InternetWriteFile(HINTERNET, LPCVOID, DWORD, LPDWORD) { return NotImplemented(); }
FAKE_EXPORT DWORD InternetSetFilePointer(HINTERNET, LONG, PLONG, DWORD, DWORD_PTR) {
  NotImplemented();
  return INVALID_SET_FILE_POINTER;
}
FAKE_EXPORT BOOL FtpDeleteFileA(HINTERNET, LPCSTR) { return NotImplemented(); }
FAKE_EXPORT BOOL InternetGetCookieA(LPCSTR, LPCSTR, LPSTR, LPDWORD) { return NotImplemented(); }
FAKE_EXPORT BOOL InternetSetCookieA(LPCSTR, LPCSTR, LPCSTR) { return NotImplemented(); }
#ifndef FAKE_OMIT_STATUS_CALLBACK
FAKE_EXPORT INTERNET_STATUS_CALLBACK InternetSetStatusCallback(HINTERNET, INTERNET_STATUS_CALLBACK) {
  return nullptr;
}
#endif

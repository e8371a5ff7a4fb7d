// A stand-in for the internet client library, loaded by the binding's tests in
// its place. It exports the 29 entry points (minus the ones a build leaves out
// through FAKE_OMIT_* definitions), a message table the tests can change, a
// per-thread server response text, and counters the tests read through dlsym.
#include <chrono>
#include <cstdint>
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

// Handles the fake hands out: each knows its parent and how often it was closed.
struct FakeHandle {
  std::uintptr_t parent = 0;
  bool closed = false;
  int closeCount = 0;
};
std::map<std::uintptr_t, FakeHandle> gHandles;  // guarded by gLock
std::uintptr_t gNextHandle = 100;
std::string gLastProxy = "(none)";
std::map<std::uintptr_t, INTERNET_STATUS_CALLBACK> gCallbacks;  // by root handle
std::uintptr_t gLastCallbackRoot = 0;

std::uintptr_t RootOf(std::uintptr_t handle) {
  while (gHandles.count(handle) != 0 && gHandles[handle].parent != 0) handle = gHandles[handle].parent;
  return handle;
}

bool IsOpen(std::uintptr_t handle) {
  auto it = gHandles.find(handle);
  if (it == gHandles.end() || it->second.closed) return false;
  return it->second.parent == 0 || IsOpen(it->second.parent);
}

// A new handle under Parent (0 for a root); null with the last error set when
// Parent is not open. Reports "handle created" to the root's callback.
HINTERNET NewHandle(HINTERNET parentHandle, DWORD_PTR context) {
  auto parent = reinterpret_cast<std::uintptr_t>(parentHandle);
  std::uintptr_t handle;
  INTERNET_STATUS_CALLBACK callback = nullptr;
  {
    std::lock_guard<std::mutex> guard(gLock);
    if (parent != 0 && !IsOpen(parent)) {
      platform::SetLastError(gHandles.count(parent) != 0 ? ERROR_INTERNET_OPERATION_CANCELLED
                                                         : ERROR_INVALID_HANDLE);
      return nullptr;
    }
    handle = gNextHandle++;
    gHandles[handle].parent = parent;
    auto it = gCallbacks.find(RootOf(handle));
    if (it != gCallbacks.end()) callback = it->second;
  }
  if (callback != nullptr) {
    callback(reinterpret_cast<HINTERNET>(handle), context, INTERNET_STATUS_HANDLE_CREATED, &handle,
             sizeof(handle));
  }
  return reinterpret_cast<HINTERNET>(handle);
}

bool CheckOpen(HINTERNET handle) {
  std::lock_guard<std::mutex> guard(gLock);
  auto value = reinterpret_cast<std::uintptr_t>(handle);
  if (IsOpen(value)) return true;
  platform::SetLastError(gHandles.count(value) != 0 ? ERROR_INTERNET_OPERATION_CANCELLED : ERROR_INVALID_HANDLE);
  return false;
}
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

// The library may stay in memory between tests (a sanitizer keeps it loaded), so
// a test that closes handles puts the call counter back for the next one.
FAKE_EXPORT void FakeResetCloseCalls() {
  std::lock_guard<std::mutex> guard(gLock);
  gCloseCalls = 0;
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

FAKE_EXPORT int FakeCloseCount(HINTERNET handle) {
  std::lock_guard<std::mutex> guard(gLock);
  auto it = gHandles.find(reinterpret_cast<std::uintptr_t>(handle));
  return it == gHandles.end() ? -1 : it->second.closeCount;
}

FAKE_EXPORT const char* FakeLastProxy() {
  std::lock_guard<std::mutex> guard(gLock);
  return gLastProxy.c_str();
}

FAKE_EXPORT HINTERNET FakeLastCallbackRoot() {
  std::lock_guard<std::mutex> guard(gLock);
  return reinterpret_cast<HINTERNET>(gLastCallbackRoot);
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
  std::lock_guard<std::mutex> guard(gLock);
  auto it = gHandles.find(reinterpret_cast<std::uintptr_t>(handle));
  if (it == gHandles.end() || it->second.closed) {
    if (it != gHandles.end()) ++it->second.closeCount;
    platform::SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  it->second.closed = true;
  ++it->second.closeCount;
  return TRUE;
}

FAKE_EXPORT BOOL InternetCrackUrlA(LPCSTR, DWORD, DWORD, LPURL_COMPONENTSA) { return NotImplemented(); }
FAKE_EXPORT BOOL InternetCreateUrlA(LPURL_COMPONENTSA, DWORD, LPSTR, LPDWORD) { return NotImplemented(); }
FAKE_EXPORT BOOL InternetCanonicalizeUrlA(LPCSTR, LPSTR, LPDWORD, DWORD) { return NotImplemented(); }
FAKE_EXPORT BOOL InternetCombineUrlA(LPCSTR, LPCSTR, LPSTR, LPDWORD, DWORD) { return NotImplemented(); }
#ifndef FAKE_OMIT_OPEN
FAKE_EXPORT HINTERNET InternetOpenA(LPCSTR, DWORD, LPCSTR proxy, LPCSTR, DWORD) {
  {
    std::lock_guard<std::mutex> guard(gLock);
    gLastProxy = proxy != nullptr ? std::string("[") + proxy + "]" : "(none)";
  }
  return NewHandle(nullptr, 0);
}
#endif
FAKE_EXPORT HINTERNET InternetConnectA(HINTERNET root, LPCSTR, INTERNET_PORT, LPCSTR, LPCSTR, DWORD, DWORD,
                                       DWORD_PTR context) {
  return NewHandle(root, context);
}
FAKE_EXPORT HINTERNET InternetOpenUrlA(HINTERNET, LPCSTR, LPCSTR, DWORD, DWORD, DWORD_PTR) {
  NotImplemented();
  return nullptr;
}
// Delivers at most 5 bytes of 'x' per call.
FAKE_EXPORT BOOL InternetReadFile(HINTERNET file, LPVOID buffer, DWORD wanted, LPDWORD read) {
  *read = 0;
  if (!CheckOpen(file)) return FALSE;
  *read = wanted < 5 ? wanted : 5;
  std::memset(buffer, 'x', *read);
  return TRUE;
}
FAKE_EXPORT BOOL InternetQueryOptionA(HINTERNET, DWORD, LPVOID, LPDWORD) { return NotImplemented(); }
FAKE_EXPORT BOOL InternetSetOptionA(HINTERNET, DWORD, LPVOID, DWORD) { return NotImplemented(); }
FAKE_EXPORT HINTERNET FtpFindFirstFileA(HINTERNET connect, LPCSTR, LPWIN32_FIND_DATAA data, DWORD,
                                        DWORD_PTR context) {
  HINTERNET handle = NewHandle(connect, context);
  if (handle != nullptr) data->nFileSizeLow = 123456;
  return handle;
}
FAKE_EXPORT HINTERNET FtpOpenFileA(HINTERNET connect, LPCSTR, DWORD, DWORD, DWORD_PTR context) {
  return NewHandle(connect, context);
}
FAKE_EXPORT BOOL FtpCreateDirectoryA(HINTERNET, LPCSTR) { return NotImplemented(); }
FAKE_EXPORT BOOL FtpRemoveDirectoryA(HINTERNET, LPCSTR) { return NotImplemented(); }
FAKE_EXPORT HINTERNET HttpOpenRequestA(HINTERNET connect, LPCSTR, LPCSTR, LPCSTR, LPCSTR, LPCSTR*, DWORD,
                                       DWORD_PTR context) {
  return NewHandle(connect, context);
}
FAKE_EXPORT BOOL HttpAddRequestHeadersA(HINTERNET, LPCSTR, DWORD, DWORD) { return NotImplemented(); }
FAKE_EXPORT BOOL HttpSendRequestA(HINTERNET request, LPCSTR, DWORD, LPVOID, DWORD) {
  return CheckOpen(request) ? TRUE : FALSE;
}
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
FAKE_EXPORT INTERNET_STATUS_CALLBACK InternetSetStatusCallback(HINTERNET root, INTERNET_STATUS_CALLBACK callback) {
  std::lock_guard<std::mutex> guard(gLock);
  auto value = reinterpret_cast<std::uintptr_t>(root);
  gCallbacks[value] = callback;
  gLastCallbackRoot = value;
  return nullptr;
}
#endif

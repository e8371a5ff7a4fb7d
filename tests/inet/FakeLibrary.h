// Access to the stand-in internet client library from the binding's tests: its
// file names, and its test controls, resolved from the copy the binding loaded.
#pragma once

#include <dlfcn.h>

#include <stdexcept>
#include <string>

#include "inet/clWinInet.h"
#include "platform/inet/InetClient.h"

namespace inet_test {

inline constexpr const char* kFakeLibrary = "libfake_inetclient.so";
inline constexpr const char* kFakeWithoutStatusCallback = "libfake_inetclient_nostatus.so";
inline constexpr const char* kFakeWithoutOpenAndStatusCallback = "libfake_inetclient_noopen.so";

// Names the library the binding loads for the life of the object, with nothing
// loaded at its start and end.
class BindingScope {
 public:
  explicit BindingScope(const std::string& name) {
    clWinInet::UnloadInternetLibrary();
    clWinInet::SetInternetLibraryName(name);
  }
  ~BindingScope() {
    clWinInet::UnloadInternetLibrary();
    clWinInet::SetInternetLibraryName(clWinInet::kDefaultInternetLibraryName);
  }
  BindingScope(const BindingScope&) = delete;
  BindingScope& operator=(const BindingScope&) = delete;
};

// The controls of the fake that is loaded right now; holds a reference to it
// for its own lifetime only.
class FakeControls {
 public:
  FakeControls() : handle_(::dlopen(kFakeLibrary, RTLD_NOW | RTLD_NOLOAD)) {
    if (handle_ == nullptr) throw std::runtime_error("the fake library is not loaded");
    SetMessage = Get<void (*)(DWORD, const char*)>("FakeSetMessage");
    ResetMessages = Get<void (*)()>("FakeResetMessages");
    SetResponse = Get<void (*)(const char*)>("FakeSetResponse");
    InitCount = Get<int (*)()>("FakeInitCount");
    CloseCalls = Get<int (*)()>("FakeCloseCalls");
    ResetCloseCalls = Get<void (*)()>("FakeResetCloseCalls");
    CloseCount = Get<int (*)(HINTERNET)>("FakeCloseCount");
    LastProxy = Get<const char* (*)()>("FakeLastProxy");
    LastCallbackRoot = Get<HINTERNET (*)()>("FakeLastCallbackRoot");
  }
  ~FakeControls() { ::dlclose(handle_); }
  FakeControls(const FakeControls&) = delete;
  FakeControls& operator=(const FakeControls&) = delete;

  void (*SetMessage)(DWORD, const char*) = nullptr;
  void (*ResetMessages)() = nullptr;
  void (*SetResponse)(const char*) = nullptr;
  int (*InitCount)() = nullptr;
  int (*CloseCalls)() = nullptr;
  void (*ResetCloseCalls)() = nullptr;
  // How often Handle was closed (-1: never handed out).
  int (*CloseCount)(HINTERNET) = nullptr;
  // "[proxy]" as the last root was opened with, or "(none)" for no proxy text.
  const char* (*LastProxy)() = nullptr;
  HINTERNET (*LastCallbackRoot)() = nullptr;

 private:
  template <class Fn>
  Fn Get(const char* name) {
    void* symbol = ::dlsym(handle_, name);
    if (symbol == nullptr) throw std::runtime_error(std::string("no ") + name);
    return reinterpret_cast<Fn>(symbol);
  }

  void* handle_;
};

}  // namespace inet_test

#include "platform/DynamicLibrary.h"

#include <dlfcn.h>

#include <utility>

#include "platform/Files.h"
#include "platform/LastError.h"

namespace platform {

namespace {

// dlerror() forgets its text once read, so it is kept here per thread.
thread_local std::string tLoaderError;

void KeepLoaderError(const std::string& fallback) {
  const char* text = ::dlerror();
  tLoaderError = text ? std::string(text) : fallback;
}

}  // namespace

DynamicLibrary::~DynamicLibrary() { Free(); }

DynamicLibrary::DynamicLibrary(DynamicLibrary&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)), fileName_(std::move(other.fileName_)) {}

DynamicLibrary& DynamicLibrary::operator=(DynamicLibrary&& other) noexcept {
  if (this != &other) {
    Free();
    handle_ = std::exchange(other.handle_, nullptr);
    fileName_ = std::move(other.fileName_);
  }
  return *this;
}

bool DynamicLibrary::Load(const std::string& name) {
  Free();
  if (name.empty()) {
    tLoaderError = "empty library name";
    SetLastError(kErrorModNotFound);
    return false;
  }
  std::string candidate = name;
  if (name.find('/') == std::string::npos) {
    std::string besideProgram = ExecutableFolder() + name;
    if (FileExists(besideProgram)) candidate = besideProgram;
  }
  ::dlerror();
  void* handle = ::dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    KeepLoaderError(name + ": cannot be loaded");
    SetLastError(kErrorModNotFound);
    return false;
  }
  handle_ = handle;
  fileName_ = candidate;
  SetLastError(kErrorSuccess);
  return true;
}

void DynamicLibrary::Free() {
  if (handle_) {
    ::dlclose(handle_);
    handle_ = nullptr;
  }
  fileName_.clear();
}

void* DynamicLibrary::Resolve(const std::string& name) const {
  if (!handle_) {
    tLoaderError = "no library loaded";
    SetLastError(kErrorInvalidHandle);
    return nullptr;
  }
  ::dlerror();
  void* address = ::dlsym(handle_, name.c_str());
  // A null export is legal in principle; only dlerror() tells a failure apart.
  const char* text = ::dlerror();
  if (text || !address) {
    tLoaderError = text ? std::string(text) : name + ": not found";
    SetLastError(kErrorProcNotFound);
    return nullptr;
  }
  SetLastError(kErrorSuccess);
  return address;
}

std::string LastLoaderError() { return tLoaderError; }

}  // namespace platform

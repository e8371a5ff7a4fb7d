#include "inet/clWinInet.h"

#include <dlfcn.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <mutex>
#include <vector>

#include "platform/LastError.h"

namespace clWinInet {

namespace {

using MessageTextFn = const char* (*)(DWORD);

std::mutex gLoadLock;
// Set (release) only after the table is complete; wrappers read it (acquire)
// without the lock.
std::atomic<bool> gLoaded{false};
EntryPoints gTable;
std::atomic<MessageTextFn> gModuleMessageText{nullptr};
// Guarded by gLoadLock.
void* gHandle = nullptr;
std::string gLibraryName = kDefaultInternetLibraryName;
int gLoadCount = 0;

std::string ExecutableFolder() {
  std::vector<char> buffer(PATH_MAX + 1, '\0');
  ssize_t length = ::readlink("/proc/self/exe", buffer.data(), PATH_MAX);
  if (length <= 0) return std::string();
  std::string path(buffer.data(), static_cast<std::size_t>(length));
  std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string DlError() {
  const char* text = ::dlerror();
  return text != nullptr ? std::string(text) : std::string();
}

[[noreturn]] void RaiseLoadError(platform::DWORD code, const std::string& detail) {
  platform::SetLastError(code);
  std::string message = platform::SysErrorMessage(code);
  if (!detail.empty()) message += " (" + detail + ")";
  throw rtl::Exception(message);
}

// Loads Name by itself (run path, system folders) and, when that fails and the
// name is bare, from the folder of the running executable.
void* OpenLibrary(const std::string& name) {
  void* handle = ::dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle != nullptr) return handle;
  std::string firstError = DlError();
  if (name.find('/') == std::string::npos) {
    std::string folder = ExecutableFolder();
    if (!folder.empty()) {
      std::string path = folder + name;
      handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
      if (handle != nullptr) return handle;
      // The copy beside the program exists but is unusable: that is the news.
      if (::access(path.c_str(), F_OK) == 0) firstError = DlError();
    }
  }
  RaiseLoadError(platform::kErrorModNotFound, firstError);
}

template <class Fn>
bool Resolve(void* handle, const char* name, Fn& slot) {
  void* symbol = ::dlsym(handle, name);
  if (symbol == nullptr) return false;
  slot = reinterpret_cast<Fn>(symbol);
  return true;
}

}  // namespace

void LoadInternetLibrary() {
  if (gLoaded.load(std::memory_order_acquire)) return;
  std::lock_guard<std::mutex> guard(gLoadLock);
  if (gLoaded.load(std::memory_order_relaxed)) return;

  gHandle = nullptr;
  void* handle = OpenLibrary(gLibraryName);
  EntryPoints table;
  // A missing entry point forgets the handle without freeing the library; the
  // next call loads it again and resolves from the first name.
#define CL_WININET_RESOLVE(name)                                   \
  if (!Resolve(handle, #name, table.name)) {                       \
    RaiseLoadError(platform::kErrorProcNotFound, #name);           \
  }
  CL_WININET_ENTRY_POINTS(CL_WININET_RESOLVE)
#undef CL_WININET_RESOLVE

  MessageTextFn messageText = nullptr;
  Resolve(handle, "InetClientMessageText", messageText);
  gTable = table;
  gHandle = handle;
  gModuleMessageText.store(messageText, std::memory_order_release);
  ++gLoadCount;
  gLoaded.store(true, std::memory_order_release);
}

void UnloadInternetLibrary() {
  std::lock_guard<std::mutex> guard(gLoadLock);
  gLoaded.store(false, std::memory_order_release);
  gModuleMessageText.store(nullptr, std::memory_order_release);
  gTable = EntryPoints();
  if (gHandle != nullptr) {
    ::dlclose(gHandle);
    gHandle = nullptr;
  }
}

bool InternetLibraryLoaded() { return gLoaded.load(std::memory_order_acquire); }

void SetInternetLibraryName(const std::string& name) {
  std::lock_guard<std::mutex> guard(gLoadLock);
  gLibraryName = name;
}

std::string InternetLibraryName() {
  std::lock_guard<std::mutex> guard(gLoadLock);
  return gLibraryName;
}

int InternetLibraryLoadCount() {
  std::lock_guard<std::mutex> guard(gLoadLock);
  return gLoadCount;
}

const EntryPoints& LoadedEntryPoints() {
  LoadInternetLibrary();
  return gTable;
}

namespace {

// The server's last response text kept by the library for this thread, or an
// empty text when there is none (or no library loaded to ask).
std::string LastResponseInfo() {
  if (!gLoaded.load(std::memory_order_acquire)) return std::string();
  auto query = gTable.InternetGetLastResponseInfoA;
  DWORD error = 0;
  DWORD length = 0;
  query(&error, nullptr, &length);
  if (length == 0) return std::string();
  // One byte more than asked for, so a length that leaves out the terminator
  // still fits.
  std::vector<char> buffer(static_cast<std::size_t>(length) + 1, '\0');
  DWORD size = length + 1;
  if (!query(&error, buffer.data(), &size)) return std::string();
  std::size_t used = 0;
  while (used < buffer.size() && used < size && buffer[used] != '\0') ++used;
  return std::string(buffer.data(), used);
}

}  // namespace

std::string GetInternetErrorText(std::int32_t code) {
  // Reading the response text must not disturb the error the caller is handling.
  platform::DWORD savedError = platform::GetLastError();
  auto unsignedCode = static_cast<DWORD>(code);
  std::string text;
  MessageTextFn moduleText = gModuleMessageText.load(std::memory_order_acquire);
  const char* fromModule = moduleText != nullptr ? moduleText(unsignedCode) : nullptr;
  if (fromModule != nullptr) {
    text = fromModule;
  } else {
    text = platform::FormatSystemMessage(unsignedCode);
  }
  text = platform::TrimMessageText(text);

  if (unsignedCode == ERROR_INTERNET_EXTENDED_ERROR) {
    std::string response = LastResponseInfo();
    if (!response.empty()) {
      if (!text.empty()) text += "; " + InternetMessages().AdditionalInfo + ": ";
      text += response;
    }
  }
  if (text.empty()) text = FormatInternetMessage(InternetMessages().UnknownError, code);
  platform::SetLastError(savedError);
  return text;
}

}  // namespace clWinInet

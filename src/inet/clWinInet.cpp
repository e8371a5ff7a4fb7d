#include "inet/clWinInet.h"

#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/Files.h"
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

std::string DlError() {
  const char* text = ::dlerror();
  return text != nullptr ? std::string(text) : std::string();
}

// The folder the platform library was loaded from: the package installs the
// internet library beside it, so a program linked against an installed copy
// finds both in one place wherever that copy lives.
std::string PlatformLibraryFolder() {
  Dl_info info{};
  const void* inPlatform = reinterpret_cast<const void*>(&platform::FormatSystemMessage);
  if (::dladdr(inPlatform, &info) == 0 || info.dli_fname == nullptr) return std::string();
  // Found through a run path such as $ORIGIN/../lib: named as the user sees it.
  char* real = ::realpath(info.dli_fname, nullptr);
  if (real == nullptr) return platform::ExtractFilePath(info.dli_fname);
  std::string folder = platform::ExtractFilePath(real);
  std::free(real);
  return folder;
}

[[noreturn]] void RaiseLoadError(platform::DWORD code, const std::string& detail,
                                 const std::string& name = std::string(),
                                 std::vector<std::string> folders = {}) {
  platform::SetLastError(code);
  std::string message = platform::SysErrorMessage(code);
  if (!detail.empty()) message += " (" + detail + ")";
  throw EclInternetLibraryError(message, name, std::move(folders));
}

// The folders a bare name is looked for in, in order, each once: beside the
// running program, then the platform library's folder.
std::vector<std::string> SearchFolders() {
  std::vector<std::string> folders;
  for (std::string folder : {platform::ExecutableFolder(), PlatformLibraryFolder()}) {
    if (!folder.empty() && std::find(folders.begin(), folders.end(), folder) == folders.end())
      folders.push_back(std::move(folder));
  }
  return folders;
}

// Loads Name from the first search folder that holds it, else through the
// loader's own search (run path, LD_LIBRARY_PATH, system folders). A copy that
// exists but cannot be loaded is reported as it is, not skipped: loading
// another copy than the one the user put there would hide the fault.
void* OpenLibrary(const std::string& name) {
  if (name.find('/') != std::string::npos) {
    void* handle = ::dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) RaiseLoadError(platform::kErrorModNotFound, DlError(), name);
    return handle;
  }
  const std::vector<std::string> folders = SearchFolders();
  for (const std::string& folder : folders) {
    const std::string path = folder + name;
    if (::access(path.c_str(), F_OK) != 0) continue;
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) RaiseLoadError(platform::kErrorModNotFound, DlError(), name, folders);
    return handle;
  }
  void* handle = ::dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle != nullptr) return handle;
  std::string where;
  for (const std::string& folder : folders) where += folder + ", ";
  RaiseLoadError(platform::kErrorModNotFound,
                 name + " looked for in " + where + "then on the loader's search path: " + DlError(),
                 name, folders);
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
    RaiseLoadError(platform::kErrorProcNotFound, #name, gLibraryName); \
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

// Run-time binding of the internet client library (libinetclient.so).
//
// Nothing links the library at build time: the first call of any wrapper loads
// it by name and resolves all 29 entry points, so a machine without it fails
// with a readable exception at the first network call rather than at start-up.
// A bare name is looked for, in this order: in the folder of the running
// program; in the folder the platform library (libcl_platform.so) was loaded
// from, which is where an installed package keeps it (PREFIX/lib); then by the
// loader's own search (run path, LD_LIBRARY_PATH, the system folders). The
// first copy found is the one loaded: a copy that is there but cannot be loaded
// is reported, not skipped. A missing library raises EclInternetLibraryError
// (a general exception, not an internet error) naming the file and the folders.
//
// Threads: every function here may be called from any thread. Loading happens
// at most once at a time (a lock inside); after loading the table is read-only.
// UnloadInternetLibrary is for shutdown, when no other thread uses the library.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "inet/InternetErrors.h"
#include "platform/inet/InetClient.h"
#include "rtl/Exceptions.h"

// The entry points in the order they are resolved; a missing one fails the
// load and the ones after it are not tried.
#define CL_WININET_ENTRY_POINTS(X) \
  X(InternetCrackUrlA)             \
  X(InternetCreateUrlA)            \
  X(InternetCanonicalizeUrlA)      \
  X(InternetCombineUrlA)           \
  X(InternetOpenA)                 \
  X(InternetCloseHandle)           \
  X(InternetConnectA)              \
  X(InternetOpenUrlA)              \
  X(InternetReadFile)              \
  X(InternetQueryOptionA)          \
  X(InternetSetOptionA)            \
  X(InternetGetLastResponseInfoA)  \
  X(FtpFindFirstFileA)             \
  X(FtpOpenFileA)                  \
  X(FtpCreateDirectoryA)           \
  X(FtpRemoveDirectoryA)           \
  X(HttpOpenRequestA)              \
  X(HttpAddRequestHeadersA)        \
  X(HttpSendRequestA)              \
  X(HttpSendRequestExA)            \
  X(HttpEndRequestA)               \
  X(HttpQueryInfoA)                \
  X(InternetErrorDlg)              \
  X(InternetWriteFile)             \
  X(InternetSetFilePointer)        \
  X(FtpDeleteFileA)                \
  X(InternetGetCookieA)            \
  X(InternetSetCookieA)            \
  X(InternetSetStatusCallback)

namespace clWinInet {

inline constexpr const char* kDefaultInternetLibraryName = "libinetclient.so";
inline constexpr int kEntryPointCount = 29;

// The library, or one of its entry points, could not be loaded. The message
// reads "The specified module could not be found (...)" or "The specified
// procedure could not be found (...)" with the file, the folders searched and
// the loader's own text; the thread's last error is 126 or 127.
class EclInternetLibraryError : public rtl::Exception {
 public:
  EclInternetLibraryError(std::string message, std::string libraryName,
                          std::vector<std::string> folders)
      : rtl::Exception(std::move(message)),
        libraryName_(std::move(libraryName)),
        folders_(std::move(folders)) {}
  // The name the binding was asked to load.
  const std::string& LibraryName() const { return libraryName_; }
  // The folders looked in before the loader's own search (none for a path).
  const std::vector<std::string>& Folders() const { return folders_; }

 private:
  std::string libraryName_;
  std::vector<std::string> folders_;
};

struct EntryPoints {
#define CL_WININET_DECLARE_ENTRY(name) decltype(&::name) name = nullptr;
  CL_WININET_ENTRY_POINTS(CL_WININET_DECLARE_ENTRY)
#undef CL_WININET_DECLARE_ENTRY
};

// Makes sure the library is loaded and every entry point resolved; cheap when
// it already is. Raises EclInternetLibraryError when the library or an entry
// point is missing; the next call tries again.
void LoadInternetLibrary();
// Frees the library when one is held and forgets the table.
void UnloadInternetLibrary();
bool InternetLibraryLoaded();

// The file name the binding loads; a bare name is searched as described at the
// top, a name with a slash is used as a path.
// Takes effect at the next load. Meant for tests and for hosts that rename it.
void SetInternetLibraryName(const std::string& name);
std::string InternetLibraryName();
// How many times the library has been loaded with a complete table.
int InternetLibraryLoadCount();

// The table after LoadInternetLibrary.
const EntryPoints& LoadedEntryPoints();

// The message for an internet or system error code: the loaded library's own
// table first, then the system table; trailing blanks, control characters and
// periods removed; for 12003 the server's last response text appended; "Unknown
// error, code = %d" when nothing is left. Never fails. Must run on the thread
// whose call failed, because the server's response text is kept per thread.
std::string GetInternetErrorText(std::int32_t code);

namespace detail {
template <class Fn, Fn EntryPoints::*Member>
struct Wrapper;

// A wrapper has the same parameters and result as the library's function: it
// loads the library, calls the entry point and returns its result unchanged.
template <class R, class... A, R (*EntryPoints::*Member)(A...)>
struct Wrapper<R (*)(A...), Member> {
  R operator()(A... args) const { return (LoadedEntryPoints().*Member)(args...); }
};
}  // namespace detail

#define CL_WININET_DEFINE_WRAPPER(name) \
  inline constexpr detail::Wrapper<decltype(&::name), &EntryPoints::name> name{};
CL_WININET_ENTRY_POINTS(CL_WININET_DEFINE_WRAPPER)
#undef CL_WININET_DEFINE_WRAPPER

}  // namespace clWinInet

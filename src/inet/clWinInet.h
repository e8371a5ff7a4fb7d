// Run-time binding of the internet client library (libinetclient.so).
//
// Nothing links the library at build time: the first call of any wrapper loads
// it by name and resolves all 29 entry points, so a machine without it fails
// with a readable exception at the first network call rather than at start-up.
// The library is looked up by its bare name first (the program's run path,
// normally $ORIGIN) and then in the folder of the running executable.
//
// Threads: every function here may be called from any thread. Loading happens
// at most once at a time (a lock inside); after loading the table is read-only.
// UnloadInternetLibrary is for shutdown, when no other thread uses the library.
#pragma once

#include <cstdint>
#include <string>

#include "inet/InternetErrors.h"
#include "platform/inet/InetClient.h"

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

struct EntryPoints {
#define CL_WININET_DECLARE_ENTRY(name) decltype(&::name) name = nullptr;
  CL_WININET_ENTRY_POINTS(CL_WININET_DECLARE_ENTRY)
#undef CL_WININET_DECLARE_ENTRY
};

// Makes sure the library is loaded and every entry point resolved; cheap when
// it already is. Raises rtl::Exception (not EclInternetError) with a readable
// text when the library or an entry point is missing; the next call tries again.
void LoadInternetLibrary();
// Frees the library when one is held and forgets the table.
void UnloadInternetLibrary();
bool InternetLibraryLoaded();

// The file name the binding loads; a bare name is searched in the run path and
// then beside the running executable, a name with a slash is used as a path.
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

#include "platform/Files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

#include "platform/LastError.h"

namespace platform {

namespace {

bool FailWith(int errnoValue) {
  SetLastErrorFromErrno(errnoValue);
  return false;
}

bool FailCode(DWORD code) {
  SetLastError(code);
  return false;
}

// Closes a descriptor on scope exit.
class FdGuard {
 public:
  explicit FdGuard(int fd) : fd_(fd) {}
  ~FdGuard() { Close(); }
  FdGuard(const FdGuard&) = delete;
  FdGuard& operator=(const FdGuard&) = delete;
  int Get() const { return fd_; }
  // Closes now and reports a close failure (a delayed write error shows here).
  bool Close() {
    if (fd_ < 0) return true;
    int rc = ::close(fd_);
    fd_ = -1;
    return rc == 0;
  }

 private:
  int fd_;
};

bool WriteAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

std::string FolderOrDot(const std::string& path) {
  std::string dir = ExtractFileDir(path);
  return dir.empty() ? std::string(".") : dir;
}

// Creates a new, empty temporary file beside Target with mode 0666 less the
// umask (the kernel applies it, so no process-wide umask juggling is needed).
// Dot-prefixed so that folder listings and value scans skip it.
int CreateTempBeside(const std::string& target, std::string& tempPath) {
  static std::atomic<unsigned> counter{0};
  const std::string folder = ExtractFilePath(target);
  const std::string name = ExtractFileName(target);
  for (int attempt = 0; attempt < 100; ++attempt) {
    char suffix[64];
    std::snprintf(suffix, sizeof suffix, ".%ld.%u.%lx", static_cast<long>(::getpid()),
                  counter.fetch_add(1), static_cast<unsigned long>(
                      std::chrono::steady_clock::now().time_since_epoch().count()));
    tempPath = folder + "." + name + suffix + ".tmp";
    int fd = ::open(tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  errno = EEXIST;
  return -1;
}

// The file that a replacement of Path should replace: the target of a link
// when the link resolves, else Path itself.
std::string ReplacementTarget(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    if (char* resolved = ::realpath(path.c_str(), nullptr)) {
      std::string result(resolved);
      std::free(resolved);
      return result;
    }
  }
  return path;
}

void SyncFolder(const std::string& folder) {
  int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    ::fsync(fd);
    ::close(fd);
  }
}

// Renames Temp to Target; with NoReplace an existing Target makes it fail with
// EEXIST. Falls back to link+unlink where the file system lacks the flag.
bool RenameInto(const std::string& temp, const std::string& target, bool noReplace) {
  if (!noReplace) return ::rename(temp.c_str(), target.c_str()) == 0;
  if (::renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  if (::link(temp.c_str(), target.c_str()) != 0) return false;
  ::unlink(temp.c_str());
  return true;
}

int GmtOffsetAt(std::time_t t) {
  std::tm fields{};
  ::localtime_r(&t, &fields);
  return static_cast<int>(fields.tm_gmtoff);
}

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
  std::int64_t q = a / b;
  if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
  return q;
}

struct timespec FileTimeToTimespec(FileTime time) {
  std::int64_t units = static_cast<std::int64_t>(time - kFileTimeUnixEpoch);
  if (time < kFileTimeUnixEpoch) units = -static_cast<std::int64_t>(kFileTimeUnixEpoch - time);
  struct timespec ts {};
  std::int64_t seconds = FloorDiv(units, 10000000);
  ts.tv_sec = static_cast<time_t>(seconds);
  ts.tv_nsec = static_cast<long>((units - seconds * 10000000) * 100);
  return ts;
}

FileTime FileTimeFrom(std::int64_t seconds, std::int64_t nanoseconds) {
  std::int64_t units = seconds * 10000000 + nanoseconds / 100;
  std::int64_t result = static_cast<std::int64_t>(kFileTimeUnixEpoch) + units;
  return result < 0 ? 0 : static_cast<FileTime>(result);
}

}  // namespace

// --- Existence, deletion, folders ---------------------------------------------

bool FileExists(const std::string& path) {
  struct stat st {};
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool DirectoryExists(const std::string& path) {
  struct stat st {};
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool DeleteFile(const std::string& path) {
  struct stat st {};
  if (path.empty()) return FailCode(kErrorFileNotFound);
  if (::lstat(path.c_str(), &st) != 0) return FailWith(errno);
  if (S_ISDIR(st.st_mode)) return FailCode(kErrorAccessDenied);
  if (::unlink(path.c_str()) != 0) return FailWith(errno);
  return true;
}

bool ForceDirectories(const std::string& path) {
  std::string folder = path;
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  if (folder.empty()) return FailCode(kErrorPathNotFound);
  if (DirectoryExists(folder)) return true;
  std::string parent = ExtractFileDir(folder);
  if (!parent.empty() && parent != folder && !ForceDirectories(parent)) return false;
  if (::mkdir(folder.c_str(), 0777) == 0) return true;
  int e = errno;
  // Another thread or process may have created it meanwhile.
  if (e == EEXIST && DirectoryExists(folder)) return true;
  return FailWith(e);
}

bool RemoveDirectory(const std::string& path) {
  if (::rmdir(path.c_str()) == 0) return true;
  int e = errno;
  if (e == EEXIST) return FailCode(kErrorDirNotEmpty);
  return FailWith(e);
}

std::int64_t FileSize(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    SetLastErrorFromErrno();
    return -1;
  }
  if (S_ISDIR(st.st_mode)) {
    SetLastError(kErrorAccessDenied);
    return -1;
  }
  return static_cast<std::int64_t>(st.st_size);
}

// --- Copying and replacing -----------------------------------------------------

bool CopyFile(const std::string& source, const std::string& target, bool failIfExists) {
  FdGuard in(::open(source.c_str(), O_RDONLY | O_CLOEXEC));
  if (in.Get() < 0) return FailWith(errno);
  struct stat sourceStat {};
  if (::fstat(in.Get(), &sourceStat) != 0) return FailWith(errno);
  if (S_ISDIR(sourceStat.st_mode)) return FailCode(kErrorAccessDenied);

  if (target.empty()) return FailCode(kErrorPathNotFound);
  if (DirectoryExists(target)) return FailCode(kErrorAccessDenied);
  if (!DirectoryExists(FolderOrDot(target))) return FailCode(kErrorPathNotFound);
  struct stat targetStat {};
  if (failIfExists && ::lstat(target.c_str(), &targetStat) == 0) return FailCode(kErrorFileExists);

  const std::string finalTarget = ReplacementTarget(target);
  // A replaced file keeps its own permissions: a program updated by a plain
  // copy must stay executable.
  mode_t mode = sourceStat.st_mode & 07777;
  struct stat replaced {};
  if (::stat(finalTarget.c_str(), &replaced) == 0 && S_ISREG(replaced.st_mode)) mode = replaced.st_mode & 07777;
  std::string temp;
  FdGuard out(CreateTempBeside(finalTarget, temp));
  if (out.Get() < 0) return FailWith(errno);

  auto abandon = [&](int e) {
    out.Close();
    ::unlink(temp.c_str());
    return FailWith(e);
  };

  std::vector<char> buffer(256 * 1024);
  for (;;) {
    ssize_t n = ::read(in.Get(), buffer.data(), buffer.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return abandon(errno);
    }
    if (n == 0) break;
    if (!WriteAll(out.Get(), buffer.data(), static_cast<std::size_t>(n))) return abandon(errno);
  }
  if (::fchmod(out.Get(), mode) != 0) return abandon(errno);
  struct timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_NOW;
  times[1] = sourceStat.st_mtim;
  if (::futimens(out.Get(), times) != 0) return abandon(errno);
  if (::fsync(out.Get()) != 0) return abandon(errno);
  if (!out.Close()) {
    int e = errno;
    ::unlink(temp.c_str());
    return FailWith(e);
  }
  if (!RenameInto(temp, finalTarget, failIfExists)) {
    int e = errno;
    ::unlink(temp.c_str());
    return e == EEXIST ? FailCode(kErrorFileExists) : FailWith(e);
  }
  SyncFolder(FolderOrDot(finalTarget));
  return true;
}

bool WriteFileAtomically(const std::string& path, std::string_view data) {
  if (path.empty()) return FailCode(kErrorPathNotFound);
  const std::string finalTarget = ReplacementTarget(path);
  struct stat existing {};
  bool keepMode = ::stat(finalTarget.c_str(), &existing) == 0;
  if (keepMode && S_ISDIR(existing.st_mode)) return FailCode(kErrorAccessDenied);
  // The rename could replace a file we may not write; honour its protection,
  // and a file without any write bit counts as read-only even for the superuser.
  if (keepMode && ::access(finalTarget.c_str(), W_OK) != 0) return FailWith(errno);
  if (keepMode && (existing.st_mode & 0222) == 0) return FailCode(kErrorAccessDenied);

  std::string temp;
  FdGuard out(CreateTempBeside(finalTarget, temp));
  if (out.Get() < 0) return FailWith(errno);
  auto abandon = [&](int e) {
    out.Close();
    ::unlink(temp.c_str());
    return FailWith(e);
  };
  if (!WriteAll(out.Get(), data.data(), data.size())) return abandon(errno);
  if (keepMode && ::fchmod(out.Get(), existing.st_mode & 07777) != 0) return abandon(errno);
  if (::fsync(out.Get()) != 0) return abandon(errno);
  if (!out.Close()) {
    int e = errno;
    ::unlink(temp.c_str());
    return FailWith(e);
  }
  if (::rename(temp.c_str(), finalTarget.c_str()) != 0) {
    int e = errno;
    ::unlink(temp.c_str());
    return FailWith(e);
  }
  SyncFolder(FolderOrDot(finalTarget));
  return true;
}

bool ReadWholeFile(const std::string& path, std::string& data) {
  FdGuard in(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (in.Get() < 0) return FailWith(errno);
  struct stat st {};
  if (::fstat(in.Get(), &st) != 0) return FailWith(errno);
  if (S_ISDIR(st.st_mode)) return FailCode(kErrorAccessDenied);
  std::string result;
  if (st.st_size > 0) result.reserve(static_cast<std::size_t>(st.st_size));
  char buffer[65536];
  for (;;) {
    ssize_t n = ::read(in.Get(), buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      return FailWith(errno);
    }
    if (n == 0) break;
    result.append(buffer, static_cast<std::size_t>(n));
  }
  data = std::move(result);
  return true;
}

// --- File times -------------------------------------------------------------------

bool GetFileTimes(const std::string& path, FileTime* creation, FileTime* lastAccess,
                  FileTime* lastWrite) {
  struct statx stx {};
  if (::statx(AT_FDCWD, path.c_str(), 0, STATX_BASIC_STATS | STATX_BTIME, &stx) != 0) {
    return FailWith(errno);
  }
  if (creation) {
    const struct statx_timestamp& born = (stx.stx_mask & STATX_BTIME) ? stx.stx_btime : stx.stx_ctime;
    *creation = FileTimeFrom(born.tv_sec, born.tv_nsec);
  }
  if (lastAccess) *lastAccess = FileTimeFrom(stx.stx_atime.tv_sec, stx.stx_atime.tv_nsec);
  if (lastWrite) *lastWrite = FileTimeFrom(stx.stx_mtime.tv_sec, stx.stx_mtime.tv_nsec);
  return true;
}

bool SetFileTimes(const std::string& path, const FileTime* /*creation*/, const FileTime* lastAccess,
                  const FileTime* lastWrite) {
  struct timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;
  times[1] = times[0];
  if (lastAccess) times[0] = FileTimeToTimespec(*lastAccess);
  if (lastWrite) times[1] = FileTimeToTimespec(*lastWrite);
  if (::utimensat(AT_FDCWD, path.c_str(), times, 0) != 0) return FailWith(errno);
  return true;
}

bool SetFileDateTime(const std::string& path, rtl::DateTime localTime) {
  FileTime time = LocalDateTimeToFileTime(localTime);
  return SetFileTimes(path, &time, &time, &time);
}

bool GetFileDateTime(const std::string& path, rtl::DateTime& localTime) {
  FileTime lastWrite = 0;
  if (!GetFileTimes(path, nullptr, nullptr, &lastWrite)) return false;
  localTime = FileTimeToLocalDateTime(lastWrite);
  return true;
}

FileTime SystemClockToFileTime(std::chrono::system_clock::time_point time) {
  auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(time.time_since_epoch()).count();
  std::int64_t units = FloorDiv(ns, 100);
  std::int64_t result = static_cast<std::int64_t>(kFileTimeUnixEpoch) + units;
  return result < 0 ? 0 : static_cast<FileTime>(result);
}

std::chrono::system_clock::time_point FileTimeToSystemClock(FileTime time) {
  std::int64_t units = time >= kFileTimeUnixEpoch
                           ? static_cast<std::int64_t>(time - kFileTimeUnixEpoch)
                           : -static_cast<std::int64_t>(kFileTimeUnixEpoch - time);
  auto since = std::chrono::duration_cast<std::chrono::system_clock::duration>(
      std::chrono::nanoseconds(units * 100));
  return std::chrono::system_clock::time_point(since);
}

FileTime UtcDateTimeToFileTime(rtl::DateTime utc) {
  auto ms = static_cast<std::int64_t>(std::llround((utc - rtl::kUnixDateDelta) * rtl::kMSecsPerDay));
  std::int64_t result = static_cast<std::int64_t>(kFileTimeUnixEpoch) + ms * 10000;
  return result < 0 ? 0 : static_cast<FileTime>(result);
}

rtl::DateTime FileTimeToUtcDateTime(FileTime time) {
  std::int64_t units = time >= kFileTimeUnixEpoch
                           ? static_cast<std::int64_t>(time - kFileTimeUnixEpoch)
                           : -static_cast<std::int64_t>(kFileTimeUnixEpoch - time);
  std::int64_t ms = FloorDiv(units, 10000);
  return static_cast<double>(ms) / rtl::kMSecsPerDay + rtl::kUnixDateDelta;
}

FileTime LocalDateTimeToFileTime(rtl::DateTime local) {
  // The local fields read as if they were UTC; then find the offset in force.
  auto ms = static_cast<std::int64_t>(std::llround((local - rtl::kUnixDateDelta) * rtl::kMSecsPerDay));
  std::int64_t wallSeconds = FloorDiv(ms, 1000);
  std::int64_t fraction = ms - wallSeconds * 1000;
  auto offsetAt = [](std::int64_t t) { return GmtOffsetAt(static_cast<std::time_t>(t)); };
  int firstOffset = offsetAt(wallSeconds);
  std::int64_t first = wallSeconds - firstOffset;
  int secondOffset = offsetAt(first);
  std::int64_t second = wallSeconds - secondOffset;
  bool firstValid = offsetAt(first) == firstOffset;
  bool secondValid = offsetAt(second) == secondOffset;
  std::int64_t utc;
  if (firstValid && secondValid) {
    utc = std::min(first, second);
  } else if (firstValid || secondValid) {
    utc = firstValid ? first : second;
  } else {
    // A wall time skipped by a change: the earlier candidate lies before the
    // change, so its offset is the one in force just before it.
    utc = wallSeconds - offsetAt(std::min(first, second));
  }
  return FileTimeFrom(utc, fraction * 1000000);
}

rtl::DateTime FileTimeToLocalDateTime(FileTime time) {
  rtl::DateTime utc = FileTimeToUtcDateTime(time);
  std::int64_t seconds = FloorDiv(
      static_cast<std::int64_t>(std::llround((utc - rtl::kUnixDateDelta) * rtl::kMSecsPerDay)), 1000);
  return utc + GmtOffsetAt(static_cast<std::time_t>(seconds)) / 86400.0;
}

// --- Path names ----------------------------------------------------------------

std::string ExtractFilePath(const std::string& path) {
  auto slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string ExtractFileDir(const std::string& path) {
  auto slash = path.rfind('/');
  if (slash == std::string::npos) return std::string();
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string ExtractFileName(const std::string& path) {
  auto slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string ExtractFileExt(const std::string& path) {
  auto slash = path.rfind('/');
  auto dot = path.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return std::string();
  return path.substr(dot);
}

std::string ChangeFileExt(const std::string& path, const std::string& extension) {
  auto slash = path.rfind('/');
  auto dot = path.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return path + extension;
  return path.substr(0, dot) + extension;
}

std::string IncludeTrailingPathDelimiter(const std::string& path) {
  if (path.empty() || path.back() == '/') return path;
  return path + "/";
}

std::string ExecutablePath() {
  std::vector<char> buffer(256);
  for (;;) {
    ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n < 0) {
      SetLastErrorFromErrno();
      return std::string();
    }
    if (static_cast<std::size_t>(n) < buffer.size()) {
      std::string path(buffer.data(), static_cast<std::size_t>(n));
      // A replaced or removed executable is reported with this suffix.
      static const std::string kDeleted = " (deleted)";
      if (path.size() > kDeleted.size() && path.ends_with(kDeleted) && !FileExists(path)) {
        path.resize(path.size() - kDeleted.size());
      }
      return path;
    }
    buffer.resize(buffer.size() * 2);
  }
}

std::string ExecutableFolder() { return ExtractFilePath(ExecutablePath()); }

std::string TempFolder() {
  const char* dir = std::getenv("TMPDIR");
  return IncludeTrailingPathDelimiter(dir && *dir ? std::string(dir) : std::string("/tmp"));
}

}  // namespace platform

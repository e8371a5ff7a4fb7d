#include "platform/NamedMutex.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/Files.h"
#include "platform/LastError.h"

namespace platform {

namespace {

// Mutex names may hold characters that a file name cannot ('/', control
// characters) and a namespace prefix with '\'; these become '_'.
std::string FileNamePart(std::string_view name) {
  std::string result;
  for (char c : name) {
    auto byte = static_cast<unsigned char>(c);
    result += (byte < 0x20 || c == '/' || c == '\\' || byte == 0x7F) ? '_' : c;
  }
  if (result.front() == '.') result.front() = '_';
  return result;
}

}  // namespace

std::string NamedMutex::LockFileFor(std::string_view name) {
  std::string base = FileNamePart(name);
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime && *runtime == '/' && DirectoryExists(runtime)) {
    return IncludeTrailingPathDelimiter(runtime) + base + ".lock";
  }
  // /tmp is shared by all users: each user gets a mutex of their own.
  return "/tmp/" + base + "-" + std::to_string(::getuid()) + ".lock";
}

std::unique_ptr<NamedMutex> NamedMutex::Create(std::string_view name) {
  std::unique_ptr<NamedMutex> mutex(new NamedMutex(std::string(name)));
  if (name.empty()) {
    mutex->owned_ = true;
    SetLastError(kErrorSuccess);
    return mutex;
  }
  const std::string path = LockFileFor(name);
  // No links: a planted link in a shared folder must not make us create or
  // lock some other file.
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0 && errno == EACCES) fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) {
    SetLastErrorFromErrno();
    return mutex;
  }
  int rc;
  while ((rc = ::flock(fd, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
  }
  if (rc != 0) {
    int e = errno;
    ::close(fd);
    SetLastError(e == EWOULDBLOCK ? kErrorAlreadyExists : ErrorFromErrno(e));
    return mutex;
  }
  mutex->fd_ = fd;
  mutex->owned_ = true;
  SetLastError(kErrorSuccess);
  return mutex;
}

NamedMutex::~NamedMutex() { Close(); }

void NamedMutex::Close() {
  // The lock file stays: removing it would let a newcomer lock a fresh file
  // while a waiter still locks the removed one.
  if (fd_ >= 0) {
    ::flock(fd_, LOCK_UN);
    ::close(fd_);
    fd_ = -1;
  }
  owned_ = false;
}

}  // namespace platform

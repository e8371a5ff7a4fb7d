#include "rtl/Streams.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/LastError.h"
#include "rtl/Exceptions.h"

namespace rtl {

void Stream::SetSize(std::int64_t) {
  throw EStreamError("Stream does not support setting its size");
}

std::int64_t Stream::Size() {
  std::int64_t position = Seek(0, SeekOrigin::Current);
  std::int64_t size = Seek(0, SeekOrigin::End);
  Seek(position, SeekOrigin::Beginning);
  return size;
}

void Stream::ReadBuffer(void* buffer, std::int64_t count) {
  if (count != 0 && Read(buffer, count) != count) throw EReadError("Stream read error");
}

void Stream::WriteBuffer(const void* buffer, std::int64_t count) {
  if (count != 0 && Write(buffer, count) != count) throw EWriteError("Stream write error");
}

std::int64_t Stream::CopyFrom(Stream& source, std::int64_t count) {
  if (count == 0) {
    source.SetPosition(0);
    count = source.Size();
  }
  constexpr std::int64_t kBlock = 64 * 1024;
  std::vector<char> buffer(static_cast<size_t>(std::min(count, kBlock)) + 1);
  std::int64_t left = count;
  while (left > 0) {
    std::int64_t n = std::min(left, kBlock);
    source.ReadBuffer(buffer.data(), n);
    WriteBuffer(buffer.data(), n);
    left -= n;
  }
  return count;
}

std::string Stream::ReadRemaining() {
  std::string result;
  char buffer[16 * 1024];
  for (;;) {
    std::int64_t n = Read(buffer, sizeof buffer);
    if (n <= 0) break;
    result.append(buffer, static_cast<size_t>(n));
  }
  return result;
}

MemoryStream::MemoryStream(std::string initial) : data_(std::move(initial)) {}

std::int64_t MemoryStream::Read(void* buffer, std::int64_t count) {
  if (count <= 0 || position_ < 0 || position_ >= Size()) return 0;
  std::int64_t n = std::min(count, Size() - position_);
  std::memcpy(buffer, data_.data() + position_, static_cast<size_t>(n));
  position_ += n;
  return n;
}

std::int64_t MemoryStream::Write(const void* buffer, std::int64_t count) {
  if (count <= 0 || position_ < 0) return 0;
  std::int64_t end = position_ + count;
  if (end > Size()) data_.resize(static_cast<size_t>(end));
  std::memcpy(data_.data() + position_, buffer, static_cast<size_t>(count));
  position_ = end;
  return count;
}

std::int64_t MemoryStream::Seek(std::int64_t offset, SeekOrigin origin) {
  std::int64_t base = origin == SeekOrigin::Beginning ? 0
                      : origin == SeekOrigin::Current ? position_
                                                      : Size();
  // As with a file: a target before the first byte (or one that overflows) fails
  // and the position stays, so no read or write can start outside the data.
  std::int64_t target = 0;
  if (__builtin_add_overflow(base, offset, &target) || target < 0) {
    platform::SetLastError(platform::kErrorInvalidParameter);
    return -1;
  }
  position_ = target;
  return position_;
}

void MemoryStream::SetSize(std::int64_t newSize) {
  if (newSize < 0) return;
  data_.resize(static_cast<size_t>(newSize));
  if (position_ > newSize) position_ = newSize;
}

void MemoryStream::Clear() {
  data_.clear();
  position_ = 0;
}

FileStream::FileStream(const std::string& fileName, int mode) : fileName_(fileName) {
  int flags = O_CLOEXEC;
  if (mode == fmCreate) {
    flags |= O_RDWR | O_CREAT | O_TRUNC;
  } else if ((mode & 3) == fmOpenWrite) {
    flags |= O_WRONLY;
  } else if ((mode & 3) == fmOpenReadWrite) {
    flags |= O_RDWR;
  } else {
    flags |= O_RDONLY;
  }
  fd_ = ::open(fileName.c_str(), flags, 0644);
  if (fd_ < 0) {
    auto code = platform::SetLastErrorFromErrno();
    std::string reason = platform::SysErrorMessage(code);
    if (reason.empty()) reason = std::strerror(errno);
    if (mode == fmCreate) {
      throw EFCreateError(
          Format("Cannot create file \"%s\". %s", fileName.c_str(), reason.c_str()));
    }
    throw EFOpenError(Format("Cannot open file \"%s\". %s", fileName.c_str(), reason.c_str()));
  }
}

FileStream::~FileStream() {
  if (fd_ >= 0) ::close(fd_);
}

std::int64_t FileStream::Read(void* buffer, std::int64_t count) {
  std::int64_t total = 0;
  auto* out = static_cast<char*>(buffer);
  while (total < count) {
    ssize_t n = ::read(fd_, out + total, static_cast<size_t>(count - total));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n < 0) platform::SetLastErrorFromErrno();
      break;
    }
    total += n;
  }
  return total;
}

std::int64_t FileStream::Write(const void* buffer, std::int64_t count) {
  std::int64_t total = 0;
  const auto* in = static_cast<const char*>(buffer);
  while (total < count) {
    ssize_t n = ::write(fd_, in + total, static_cast<size_t>(count - total));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n < 0) platform::SetLastErrorFromErrno();
      break;
    }
    total += n;
  }
  return total;
}

std::int64_t FileStream::Seek(std::int64_t offset, SeekOrigin origin) {
  int whence = origin == SeekOrigin::Beginning ? SEEK_SET
               : origin == SeekOrigin::Current ? SEEK_CUR
                                               : SEEK_END;
  off_t result = ::lseek(fd_, static_cast<off_t>(offset), whence);
  if (result < 0) platform::SetLastErrorFromErrno();
  return result;
}

void FileStream::SetSize(std::int64_t newSize) {
  std::int64_t position = Position();
  if (::ftruncate(fd_, static_cast<off_t>(newSize)) != 0) {
    platform::SetLastErrorFromErrno();
    throw EStreamError(Format("Cannot set the size of \"%s\"", fileName_.c_str()));
  }
  if (position > newSize) Seek(newSize, SeekOrigin::Beginning);
}

}  // namespace rtl

// Byte streams: the abstract Stream with read, write, seek and set-size, a
// memory stream, a file stream and a string stream. Positions and sizes are
// 64-bit. A stream is used by one thread at a time; a stream shared between
// threads is guarded by its owner (see the download item's stream lock).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace rtl {

enum class SeekOrigin { Beginning, Current, End };

class Stream {
 public:
  virtual ~Stream() = default;

  // Read and Write return the number of bytes moved; fewer than asked means the
  // end of the data (Read) or a failure (Write).
  virtual std::int64_t Read(void* buffer, std::int64_t count) = 0;
  virtual std::int64_t Write(const void* buffer, std::int64_t count) = 0;
  virtual std::int64_t Seek(std::int64_t offset, SeekOrigin origin) = 0;
  virtual void SetSize(std::int64_t newSize);

  std::int64_t Position() { return Seek(0, SeekOrigin::Current); }
  void SetPosition(std::int64_t position) { Seek(position, SeekOrigin::Beginning); }
  virtual std::int64_t Size();

  // Exactly count bytes or EReadError/EWriteError.
  void ReadBuffer(void* buffer, std::int64_t count);
  void WriteBuffer(const void* buffer, std::int64_t count);
  // Copies count bytes from source's current position; count 0 copies the whole
  // source from its beginning. Returns the number of bytes copied.
  std::int64_t CopyFrom(Stream& source, std::int64_t count);

  void WriteString(const std::string& text) {
    WriteBuffer(text.data(), static_cast<std::int64_t>(text.size()));
  }
  // The rest of the stream from the current position.
  std::string ReadRemaining();
};

class MemoryStream : public Stream {
 public:
  MemoryStream() = default;
  explicit MemoryStream(std::string initial);

  std::int64_t Read(void* buffer, std::int64_t count) override;
  std::int64_t Write(const void* buffer, std::int64_t count) override;
  std::int64_t Seek(std::int64_t offset, SeekOrigin origin) override;
  void SetSize(std::int64_t newSize) override;
  std::int64_t Size() override { return static_cast<std::int64_t>(data_.size()); }

  void Clear();
  const std::string& Data() const { return data_; }
  const char* Memory() const { return data_.data(); }

 private:
  std::string data_;
  std::int64_t position_ = 0;
};

// A memory stream that is also read and written as text.
class StringStream : public MemoryStream {
 public:
  StringStream() = default;
  explicit StringStream(std::string text) : MemoryStream(std::move(text)) {}
  const std::string& DataString() const { return Data(); }
};

class FileStream : public Stream {
 public:
  enum Mode {
    fmCreate = 0xFFFF,  // create or truncate, read and write
    fmOpenRead = 0x0000,
    fmOpenWrite = 0x0001,
    fmOpenReadWrite = 0x0002,
  };

  // Raises EFCreateError ("Cannot create file \"%s\". %s") or EFOpenError
  // ("Cannot open file \"%s\". %s"); the thread's last error is set as well.
  FileStream(const std::string& fileName, int mode);
  ~FileStream() override;
  FileStream(const FileStream&) = delete;
  FileStream& operator=(const FileStream&) = delete;

  std::int64_t Read(void* buffer, std::int64_t count) override;
  std::int64_t Write(const void* buffer, std::int64_t count) override;
  std::int64_t Seek(std::int64_t offset, SeekOrigin origin) override;
  void SetSize(std::int64_t newSize) override;

  const std::string& FileName() const { return fileName_; }
  int Handle() const { return fd_; }

 private:
  std::string fileName_;
  int fd_ = -1;
};

}  // namespace rtl

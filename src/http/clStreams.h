// Composite streams of request composition: TclMultiStream presents an ordered
// sequence of owned part streams as one read-only stream; TclNullStream is always
// empty. Like every stream, an instance is used by one thread at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "rtl/Streams.h"

// A read-only concatenation of part streams, which it owns. Parts must be
// seekable: each read positions the part it uses, so parts may be shared by
// nobody else while the multi-stream lives.
class TclMultiStream : public rtl::Stream {
 public:
  TclMultiStream() = default;
  ~TclMultiStream() override;
  TclMultiStream(const TclMultiStream&) = delete;
  TclMultiStream& operator=(const TclMultiStream&) = delete;

  // Appends a part and takes ownership of it; returns the part's index.
  int AddStream(std::unique_ptr<rtl::Stream> stream);
  int StreamCount() const { return static_cast<int>(streams_.size()); }

  std::int64_t Read(void* buffer, std::int64_t count) override;
  // Writes nothing.
  std::int64_t Write(const void* buffer, std::int64_t count) override;
  // From the end, the offset counts backwards as a positive number (total size
  // minus offset). The result is clamped to 0 .. total size.
  std::int64_t Seek(std::int64_t offset, rtl::SeekOrigin origin) override;
  // Does nothing: the size is the sum of the parts' current sizes.
  void SetSize(std::int64_t newSize) override;
  std::int64_t Size() override;

 private:
  std::vector<std::unique_ptr<rtl::Stream>> streams_;
  std::int64_t position_ = 0;
};

// The always-empty stream: reads and writes move nothing, every seek gives 0.
class TclNullStream : public rtl::Stream {
 public:
  std::int64_t Read(void* buffer, std::int64_t count) override;
  std::int64_t Write(const void* buffer, std::int64_t count) override;
  std::int64_t Seek(std::int64_t offset, rtl::SeekOrigin origin) override;
  void SetSize(std::int64_t newSize) override;
  std::int64_t Size() override { return 0; }
};

#include "http/clStreams.h"

#include <algorithm>

TclMultiStream::~TclMultiStream() {
  while (!streams_.empty()) streams_.pop_back();
}

int TclMultiStream::AddStream(std::unique_ptr<rtl::Stream> stream) {
  streams_.push_back(std::move(stream));
  return static_cast<int>(streams_.size()) - 1;
}

std::int64_t TclMultiStream::Read(void* buffer, std::int64_t count) {
  if (count <= 0) return 0;
  auto* out = static_cast<char*>(buffer);
  std::int64_t result = 0;
  std::int64_t remaining = count;
  std::int64_t partStart = 0;
  for (auto& part : streams_) {
    std::int64_t partSize = part->Size();
    if (position_ < partStart + partSize) {
      part->Seek(position_ - partStart, rtl::SeekOrigin::Beginning);
      std::int64_t got = part->Read(out + result, remaining);
      if (got > 0) {
        result += got;
        position_ += got;
        remaining -= got;
      }
      if (remaining <= 0) break;
      // A part that delivered less than it claimed to hold is passed over: the
      // next part is read from its own start, never from inside this one.
      position_ = std::max(position_, partStart + partSize);
    }
    partStart += partSize;
  }
  return result;
}

std::int64_t TclMultiStream::Write(const void*, std::int64_t) {
  return 0;
}

std::int64_t TclMultiStream::Seek(std::int64_t offset, rtl::SeekOrigin origin) {
  std::int64_t total = Size();
  std::int64_t position = position_;
  switch (origin) {
    case rtl::SeekOrigin::Beginning:
      position = offset;
      break;
    case rtl::SeekOrigin::Current:
      position = position_ + offset;
      break;
    case rtl::SeekOrigin::End:
      position = total - offset;
      break;
  }
  position_ = std::clamp<std::int64_t>(position, 0, total);
  return position_;
}

void TclMultiStream::SetSize(std::int64_t) {}

std::int64_t TclMultiStream::Size() {
  std::int64_t total = 0;
  for (auto& part : streams_) total += part->Size();
  return total;
}

std::int64_t TclNullStream::Read(void*, std::int64_t) {
  return 0;
}
std::int64_t TclNullStream::Write(const void*, std::int64_t) {
  return 0;
}
std::int64_t TclNullStream::Seek(std::int64_t, rtl::SeekOrigin) {
  return 0;
}
void TclNullStream::SetSize(std::int64_t) {}

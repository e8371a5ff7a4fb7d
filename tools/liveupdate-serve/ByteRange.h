// The pieces of an HTTP answer about a file that need no socket: the single
// byte range a request asks for, and the date format of Last-Modified.
//
// Pure functions, callable from any thread.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

namespace serve {

struct ByteRange {
  enum class Kind {
    kWhole,          // no range, or one this server answers with the whole file
    kPart,           // First..Last (inclusive) of the file: 206
    kUnsatisfiable,  // starts at or beyond the end: 416
  };
  Kind kind = Kind::kWhole;
  std::uint64_t first = 0;
  std::uint64_t last = 0;

  std::uint64_t Length() const { return last - first + 1; }
};

// Reads a Range header value ("bytes=F-L", "bytes=F-", "bytes=-N") against a
// file of Size bytes. A malformed value, another unit or a list of several
// ranges is answered with the whole file, which a client must accept.
ByteRange ParseByteRange(std::string_view header, std::uint64_t size);

// "Sun, 06 Nov 1994 08:49:37 GMT" for a time in seconds since 1970 (UTC).
std::string HttpDate(std::time_t time);

// True when an Accept-Encoding value accepts gzip (named, without q=0).
bool AcceptsGzip(std::string_view acceptEncoding);

}  // namespace serve

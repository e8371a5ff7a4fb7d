// Header texts of HTTP requests and responses: the response block of a request,
// the request's own header lines with the add/replace rules of
// HttpAddRequestHeadersA, and the byte-range fields. Pure; owned by one request.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/inet/InetClient.h"

namespace inet {

using HeaderFields = std::vector<std::pair<std::string, std::string>>;

// One response block: the status line and its fields, in arrival order.
class HeaderBlock {
 public:
  void Clear();
  // Takes one received line (with or without its line break). The first line of a
  // block is its status line.
  void AddLine(std::string_view line);
  void SetStatusLine(std::string line);

  bool Empty() const { return statusLine_.empty(); }
  int Status() const { return status_; }
  const std::string& StatusLine() const { return statusLine_; }
  std::string Version() const;
  std::string StatusText() const;
  // The value of the index-th field with that name (case-insensitive).
  std::optional<std::string> Find(std::string_view name, DWORD index = 0) const;
  // All lines, each ended by CR LF, plus a final CR LF.
  std::string RawCrlf() const;
  // All lines, each ended by a zero byte, plus a final zero byte.
  std::string RawNul() const;

 private:
  std::string statusLine_;
  int status_ = 0;
  HeaderFields fields_;
};

// The header lines a request sends.
class RequestHeaders {
 public:
  // Applies "Name: value" lines separated by CR LF or LF with the modifiers of
  // HttpAddRequestHeadersA. False when a line is malformed or an ADD_IF_NEW line
  // names a header that is already present (ERROR_HTTP_HEADER_ALREADY_EXISTS).
  bool Apply(std::string_view text, DWORD modifiers, DWORD& error);
  std::optional<std::string> Find(std::string_view name) const;
  const HeaderFields& Fields() const { return fields_; }

 private:
  HeaderFields fields_;
};

bool SameName(std::string_view a, std::string_view b);

// "bytes=N-..." -> N.
std::optional<std::uint64_t> RangeStart(std::string_view rangeValue);

struct ContentRange {
  std::uint64_t first = 0;
  std::uint64_t last = 0;
  std::optional<std::uint64_t> total;  // absent for "*"
};
// "bytes F-L/T" or "bytes F-L/*".
std::optional<ContentRange> ParseContentRange(std::string_view value);

// A decimal number with optional blanks around it.
std::optional<std::uint64_t> ParseNumber(std::string_view text);

// True when a comma-separated header value lists the token (case-insensitive).
bool HasToken(std::string_view value, std::string_view token);

}  // namespace inet

// Pure text helpers for URLs: splitting into components, percent decoding and
// escaping, scheme numbers and default ports. No state; any thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/inet/InetClient.h"

namespace inet {

struct UrlParts {
  // Views into the split text.
  std::string_view scheme;
  INTERNET_SCHEME schemeNumber = INTERNET_SCHEME_UNKNOWN;
  bool hierarchical = false;  // "scheme://authority..." form
  std::string_view user;
  std::string_view password;
  std::string_view host;
  INTERNET_PORT port = 0;
  bool portGiven = false;
  std::string_view path;       // raw (still escaped)
  std::string_view extraInfo;  // raw, starting with '?' or '#', or empty
};

// Splits a URL; on failure returns nothing and stores the error number.
std::optional<UrlParts> SplitUrl(std::string_view url, DWORD& error);

INTERNET_SCHEME SchemeNumber(std::string_view scheme);
const char* SchemeName(INTERNET_SCHEME scheme);
INTERNET_PORT DefaultPort(INTERNET_SCHEME scheme);

// %XX sequences to bytes; malformed sequences and "%00" stay as they are.
std::string PercentDecode(std::string_view text);

enum class EscapeSet {
  kPath,       // everything but unreserved, sub-delimiters, ':', '@', '/'
  kExtraInfo,  // unsafe characters only; '%' and query delimiters stay
  kUserInfo,   // like kPath, plus ':', '@', '/'
};
std::string PercentEscape(std::string_view text, EscapeSet set);

// Resolves "." and ".." segments of an absolute path.
std::string RemoveDotSegments(std::string_view path);

}  // namespace inet

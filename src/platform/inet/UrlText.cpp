#include "platform/inet/UrlText.h"

#include <cctype>
#include <vector>

namespace inet {
namespace {

struct SchemeEntry {
  const char* name;
  INTERNET_SCHEME number;
  INTERNET_PORT port;
  bool hierarchical;
};

constexpr SchemeEntry kSchemes[] = {
    {"ftp", INTERNET_SCHEME_FTP, 21, true},
    {"gopher", INTERNET_SCHEME_GOPHER, 70, true},
    {"http", INTERNET_SCHEME_HTTP, 80, true},
    {"https", INTERNET_SCHEME_HTTPS, 443, true},
    {"file", INTERNET_SCHEME_FILE, 0, true},
    {"news", INTERNET_SCHEME_NEWS, 0, false},
    {"mailto", INTERNET_SCHEME_MAILTO, 0, false},
    {"socks", INTERNET_SCHEME_SOCKS, 1080, true},
    {"javascript", INTERNET_SCHEME_JAVASCRIPT, 0, false},
    {"vbscript", INTERNET_SCHEME_VBSCRIPT, 0, false},
    {"res", INTERNET_SCHEME_RES, 0, false},
};

const SchemeEntry* FindScheme(std::string_view name) {
  for (const auto& entry : kSchemes) {
    std::string_view known(entry.name);
    if (known.size() != name.size()) {
      continue;
    }
    bool same = true;
    for (size_t i = 0; i < known.size(); ++i) {
      if (std::tolower(static_cast<unsigned char>(name[i])) != known[i]) {
        same = false;
        break;
      }
    }
    if (same) {
      return &entry;
    }
  }
  return nullptr;
}

const SchemeEntry* FindScheme(INTERNET_SCHEME number) {
  for (const auto& entry : kSchemes) {
    if (entry.number == number) {
      return &entry;
    }
  }
  return nullptr;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool IsUnreserved(unsigned char c) {
  return std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~';
}

bool IsSubDelimiter(unsigned char c) {
  return c == '!' || c == '$' || c == '&' || c == '\'' || c == '(' || c == ')' || c == '*' ||
         c == '+' || c == ',' || c == ';' || c == '=';
}

bool IsUnsafe(unsigned char c) {
  return c <= 0x20 || c >= 0x7F || c == '"' || c == '<' || c == '>' || c == '\\' || c == '^' ||
         c == '`' || c == '{' || c == '|' || c == '}';
}

}  // namespace

INTERNET_SCHEME SchemeNumber(std::string_view scheme) {
  const SchemeEntry* entry = FindScheme(scheme);
  return entry ? entry->number : INTERNET_SCHEME_UNKNOWN;
}

const char* SchemeName(INTERNET_SCHEME scheme) {
  const SchemeEntry* entry = FindScheme(scheme);
  return entry ? entry->name : nullptr;
}

INTERNET_PORT DefaultPort(INTERNET_SCHEME scheme) {
  const SchemeEntry* entry = FindScheme(scheme);
  return entry ? entry->port : 0;
}

std::optional<UrlParts> SplitUrl(std::string_view url, DWORD& error) {
  UrlParts parts;
  // Leading and trailing blanks are not part of a URL.
  while (!url.empty() && static_cast<unsigned char>(url.front()) <= ' ') url.remove_prefix(1);
  while (!url.empty() && static_cast<unsigned char>(url.back()) <= ' ') url.remove_suffix(1);

  size_t colon = url.find(':');
  if (colon == std::string_view::npos || colon == 0) {
    error = ERROR_INTERNET_UNRECOGNIZED_SCHEME;
    return std::nullopt;
  }
  for (size_t i = 0; i < colon; ++i) {
    unsigned char c = static_cast<unsigned char>(url[i]);
    if (!(std::isalnum(c) || c == '+' || c == '-' || c == '.')) {
      error = ERROR_INTERNET_UNRECOGNIZED_SCHEME;
      return std::nullopt;
    }
  }
  const SchemeEntry* scheme = FindScheme(url.substr(0, colon));
  if (scheme == nullptr) {
    error = ERROR_INTERNET_UNRECOGNIZED_SCHEME;
    return std::nullopt;
  }
  parts.scheme = url.substr(0, colon);
  parts.schemeNumber = scheme->number;
  parts.port = scheme->port;
  parts.hierarchical = scheme->hierarchical;
  std::string_view rest = url.substr(colon + 1);

  if (!scheme->hierarchical) {
    parts.path = rest;
    return parts;
  }
  if (rest.substr(0, 2) != "//") {
    error = ERROR_INTERNET_INVALID_URL;
    return std::nullopt;
  }
  rest.remove_prefix(2);
  size_t authorityEnd = rest.find_first_of("/?#");
  std::string_view authority = rest.substr(0, authorityEnd);
  std::string_view tail =
      authorityEnd == std::string_view::npos ? std::string_view() : rest.substr(authorityEnd);

  size_t at = authority.rfind('@');
  if (at != std::string_view::npos) {
    std::string_view userInfo = authority.substr(0, at);
    authority.remove_prefix(at + 1);
    size_t separator = userInfo.find(':');
    parts.user = userInfo.substr(0, separator);
    if (separator != std::string_view::npos) {
      parts.password = userInfo.substr(separator + 1);
    }
  }
  std::string_view hostPort = authority;
  std::string_view portText;
  if (!hostPort.empty() && hostPort.front() == '[') {
    size_t close = hostPort.find(']');
    if (close == std::string_view::npos) {
      error = ERROR_INTERNET_INVALID_URL;
      return std::nullopt;
    }
    parts.host = hostPort.substr(0, close + 1);
    std::string_view after = hostPort.substr(close + 1);
    if (!after.empty()) {
      if (after.front() != ':') {
        error = ERROR_INTERNET_INVALID_URL;
        return std::nullopt;
      }
      portText = after.substr(1);
      parts.portGiven = true;
    }
  } else {
    size_t portColon = hostPort.rfind(':');
    parts.host = hostPort.substr(0, portColon);
    // More than one colon outside brackets cannot be told apart from a port.
    if (parts.host.find(':') != std::string_view::npos) {
      error = ERROR_INTERNET_INVALID_URL;
      return std::nullopt;
    }
    if (portColon != std::string_view::npos) {
      portText = hostPort.substr(portColon + 1);
      parts.portGiven = true;
    }
  }
  if (parts.portGiven && !portText.empty()) {
    unsigned long value = 0;
    for (char c : portText) {
      if (c < '0' || c > '9' || value > 65535) {
        error = ERROR_INTERNET_INVALID_URL;
        return std::nullopt;
      }
      value = value * 10 + static_cast<unsigned long>(c - '0');
    }
    if (value > 65535) {
      error = ERROR_INTERNET_INVALID_URL;
      return std::nullopt;
    }
    parts.port = static_cast<INTERNET_PORT>(value);
  }
  for (char c : parts.host) {
    if (static_cast<unsigned char>(c) <= ' ' || static_cast<unsigned char>(c) == 0x7F) {
      error = ERROR_INTERNET_INVALID_URL;
      return std::nullopt;
    }
  }
  if (parts.host.empty() && scheme->number != INTERNET_SCHEME_FILE) {
    error = ERROR_INTERNET_INVALID_URL;
    return std::nullopt;
  }
  size_t extra = tail.find_first_of("?#");
  parts.path = tail.substr(0, extra);
  if (extra != std::string_view::npos) {
    parts.extraInfo = tail.substr(extra);
  }
  return parts;
}

std::string PercentDecode(std::string_view text) {
  std::string result;
  result.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size()) {
      int high = HexValue(text[i + 1]);
      int low = HexValue(text[i + 2]);
      // "%00" stays escaped: a zero byte would cut the component short.
      if (high >= 0 && low >= 0 && high * 16 + low != 0) {
        result.push_back(static_cast<char>(high * 16 + low));
        i += 2;
        continue;
      }
    }
    result.push_back(text[i]);
  }
  return result;
}

std::string PercentEscape(std::string_view text, EscapeSet set) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string result;
  result.reserve(text.size());
  for (char ch : text) {
    unsigned char c = static_cast<unsigned char>(ch);
    bool keep = false;
    switch (set) {
      case EscapeSet::kPath:
        keep = IsUnreserved(c) || IsSubDelimiter(c) || c == ':' || c == '@' || c == '/';
        break;
      case EscapeSet::kExtraInfo:
        keep = !IsUnsafe(c);
        break;
      case EscapeSet::kUserInfo:
        keep = IsUnreserved(c) || IsSubDelimiter(c);
        break;
    }
    if (keep) {
      result.push_back(ch);
    } else {
      result.push_back('%');
      result.push_back(kHex[c >> 4]);
      result.push_back(kHex[c & 15]);
    }
  }
  return result;
}

std::string RemoveDotSegments(std::string_view path) {
  std::vector<std::string_view> segments;
  bool absolute = !path.empty() && path.front() == '/';
  size_t pos = absolute ? 1 : 0;
  bool trailingSlash = false;
  while (pos <= path.size()) {
    size_t next = path.find('/', pos);
    std::string_view segment =
        path.substr(pos, next == std::string_view::npos ? std::string_view::npos : next - pos);
    trailingSlash = false;
    if (segment == ".") {
      trailingSlash = true;
    } else if (segment == "..") {
      if (!segments.empty()) segments.pop_back();
      trailingSlash = true;
    } else {
      segments.push_back(segment);
    }
    if (next == std::string_view::npos) break;
    pos = next + 1;
  }
  std::string result = absolute ? "/" : "";
  for (size_t i = 0; i < segments.size(); ++i) {
    if (i > 0) result.push_back('/');
    result.append(segments[i]);
  }
  if (trailingSlash && !segments.empty()) result.push_back('/');
  return result;
}

}  // namespace inet

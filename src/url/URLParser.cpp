#include "url/URLParser.h"

#include <cstring>

#include "inet/clWinInet.h"
#include "platform/LastError.h"

namespace {

// The buffers of one parse pass, zero-filled.
struct ParseBuffers {
  char scheme[TclURLParser::kSchemeCapacity] = {};
  char host[TclURLParser::kHostCapacity] = {};
  char userName[TclURLParser::kUserNameCapacity] = {};
  char password[TclURLParser::kPasswordCapacity] = {};
  char urlPath[TclURLParser::kUrlPathCapacity] = {};
  char extraInfo[TclURLParser::kExtraInfoCapacity] = {};
  char url[TclURLParser::kUrlCapacity] = {};
};

// A buffer's text up to its first zero; a listener may have filled it to the end.
template <std::size_t N>
std::string BufferText(const char (&buffer)[N]) {
  return std::string(buffer, ::strnlen(buffer, N));
}

std::string FileNamePart(const std::string& path) {
  std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

void TclURLParser::ClearParts() {
  host_.clear();
  userName_.clear();
  password_.clear();
  urlPath_.clear();
  extraInfo_.clear();
  port_ = 0;
}

std::string TclURLParser::ParseOnce(const std::string& text) {
  ParseBuffers buffers;
  URL_COMPONENTSA components;
  std::memset(&components, 0, sizeof(components));
  components.dwStructSize = sizeof(components);
  components.lpszScheme = buffers.scheme;
  components.dwSchemeLength = kSchemeCapacity;
  components.lpszHostName = buffers.host;
  components.dwHostNameLength = kHostCapacity;
  components.lpszUserName = buffers.userName;
  components.dwUserNameLength = kUserNameCapacity;
  components.lpszPassword = buffers.password;
  components.dwPasswordLength = kPasswordCapacity;
  components.lpszUrlPath = buffers.urlPath;
  components.dwUrlPathLength = kUrlPathCapacity;
  components.lpszExtraInfo = buffers.extraInfo;
  components.dwExtraInfoLength = kExtraInfoCapacity;

  if (!clWinInet::InternetCrackUrlA(text.c_str(), static_cast<DWORD>(text.size()),
                                    ICU_DECODE | ICU_ESCAPE, &components)) {
    ClearParts();
    return std::string();
  }

  switch (components.nScheme) {
    case INTERNET_SCHEME_FTP: urlKind_ = ukFtp; break;
    case INTERNET_SCHEME_HTTP: urlKind_ = ukHttp; break;
    case INTERNET_SCHEME_HTTPS: urlKind_ = ukHttps; break;
    default: break;  // other schemes keep the kind of the previous parse
  }

  DoUrlParsing(components);

  bool hasUserName = buffers.userName[0] != '\0';
  bool hasPassword = buffers.password[0] != '\0';
  if (!hasUserName) {
    components.lpszUserName = nullptr;
    components.dwUserNameLength = 0;
  }
  if (!hasPassword) {
    components.lpszPassword = nullptr;
    components.dwPasswordLength = 0;
  }
  DWORD flags = ICU_ESCAPE;
  if (hasUserName || hasPassword) flags |= ICU_USERNAME;

  // The parts come from the buffers, not through the record's pointers.
  host_ = BufferText(buffers.host);
  userName_ = BufferText(buffers.userName);
  password_ = BufferText(buffers.password);
  urlPath_ = BufferText(buffers.urlPath);
  extraInfo_ = BufferText(buffers.extraInfo);
  port_ = components.nPort;

  DWORD length = kUrlCapacity;
  if (!clWinInet::InternetCreateUrlA(&components, flags, buffers.url, &length)) {
    return std::string();
  }
  if (length > kUrlCapacity) length = kUrlCapacity;
  return std::string(buffers.url, ::strnlen(buffers.url, length));
}

std::string TclURLParser::Parse(const std::string& url) {
  std::string result = ParseOnce(url);
  if (result.empty() && !url.empty() &&
      platform::GetLastError() == ERROR_INTERNET_UNRECOGNIZED_SCHEME) {
    result = ParseOnce("http://" + url);
  }
  url_ = result;
  return result;
}

std::string TclURLParser::BuildLocalFileName(const std::string& url, const std::string& folder) {
  std::string result = folder;
  if (Parse(url).empty()) return result;
  if (!result.empty() && result.back() != '/') result += '/';
  result += FileNamePart(urlPath_);
  return result;
}

void TclURLParser::Assign(const TclURLParser& source) {
  url_ = source.url_;
  host_ = source.host_;
  userName_ = source.userName_;
  password_ = source.password_;
  urlPath_ = source.urlPath_;
  extraInfo_ = source.extraInfo_;
  port_ = source.port_;
  urlKind_ = source.urlKind_;
}

void TclURLParser::DoUrlParsing(URL_COMPONENTSA& components) {
  if (onUrlParsing_) onUrlParsing_(this, components);
}

void TclURLCorrector::DoUrlParsing(URL_COMPONENTSA& components) {
  if (correctUrl_) {
    std::string path;
    if (components.lpszUrlPath != nullptr) {
      path.assign(components.lpszUrlPath, ::strnlen(components.lpszUrlPath, kUrlPathCapacity));
    }
    std::size_t slash = path.rfind('/');
    path = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    path += FileNamePart(localFile_);
    if (path.size() >= kUrlPathCapacity || components.lpszUrlPath == nullptr) {
      throw EclInternetError(clWinInet::GetInternetErrorText(ERROR_INTERNET_INVALID_URL),
                             static_cast<std::int32_t>(ERROR_INTERNET_INVALID_URL));
    }
    std::memset(components.lpszUrlPath, 0, kUrlPathCapacity);
    std::memcpy(components.lpszUrlPath, path.data(), path.size());
    components.dwUrlPathLength = static_cast<DWORD>(path.size());
  }
  TclURLParser::DoUrlParsing(components);
}

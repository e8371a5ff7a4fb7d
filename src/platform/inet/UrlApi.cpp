// URL cracking, rebuilding, canonicalising and combining. Pure functions of their
// arguments (plus the thread's last error); any thread.
#include <cstring>
#include <string>

#include "platform/LastError.h"
#include "platform/inet/InetErrors.h"
#include "platform/inet/UrlText.h"

namespace inet {
namespace {

// Hands one component to the caller: a copy into the caller's buffer, or a pointer
// into the cracked text, or nothing, as the record asks.
bool StoreComponent(LPSTR& pointer, DWORD& length, std::string_view raw, const char* urlStart,
                    const std::string& value) {
  if (pointer != nullptr) {
    if (value.size() + 1 > length) {
      platform::SetLastError(ERROR_INSUFFICIENT_BUFFER);
      return false;
    }
    std::memcpy(pointer, value.data(), value.size());
    pointer[value.size()] = '\0';
    length = static_cast<DWORD>(value.size());
    return true;
  }
  if (length != 0) {
    pointer = raw.empty() ? nullptr
                          : const_cast<LPSTR>(urlStart + (raw.data() - urlStart));
    length = static_cast<DWORD>(raw.size());
  }
  return true;
}

// A component text of a record given to the rebuild: absent when its pointer is
// null; its length field bounds it, 0 means "up to the terminating zero".
std::string_view ComponentText(LPCSTR pointer, DWORD length) {
  if (pointer == nullptr) {
    return {};
  }
  if (length == 0) {
    return std::string_view(pointer);
  }
  return std::string_view(pointer, strnlen(pointer, length));
}

BOOL CopyOut(const std::string& text, LPSTR buffer, LPDWORD bufferLength) {
  if (bufferLength == nullptr) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  if (buffer == nullptr || *bufferLength < text.size() + 1) {
    *bufferLength = static_cast<DWORD>(text.size() + 1);
    return Fail(ERROR_INSUFFICIENT_BUFFER);
  }
  std::memcpy(buffer, text.c_str(), text.size() + 1);
  *bufferLength = static_cast<DWORD>(text.size());
  return TRUE;
}

std::string JoinUrl(const UrlParts& parts, std::string_view user, std::string_view password,
                    std::string_view path, std::string_view extra) {
  std::string url(SchemeName(parts.schemeNumber) ? SchemeName(parts.schemeNumber)
                                                 : std::string(parts.scheme));
  url.push_back(':');
  if (!parts.hierarchical) {
    url.append(path);
    url.append(extra);
    return url;
  }
  url.append("//");
  if (!user.empty() || !password.empty()) {
    url.append(user);
    if (!password.empty()) {
      url.push_back(':');
      url.append(password);
    }
    url.push_back('@');
  }
  url.append(parts.host);
  if (parts.port != 0 && parts.port != DefaultPort(parts.schemeNumber)) {
    url.push_back(':');
    url.append(std::to_string(parts.port));
  }
  if (!path.empty() && path.front() != '/') {
    url.push_back('/');
  }
  url.append(path);
  url.append(extra);
  return url;
}

}  // namespace
}  // namespace inet

using namespace inet;

extern "C" BOOL InternetCrackUrlA(LPCSTR lpszUrl, DWORD dwUrlLength, DWORD dwFlags,
                                  LPURL_COMPONENTSA lpUrlComponents) {
  if (lpszUrl == nullptr || lpUrlComponents == nullptr ||
      lpUrlComponents->dwStructSize != sizeof(URL_COMPONENTSA)) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  std::string_view url =
      dwUrlLength == 0 ? std::string_view(lpszUrl) : std::string_view(lpszUrl, dwUrlLength);
  DWORD error = ERROR_INTERNET_INVALID_URL;
  auto parts = SplitUrl(url, error);
  if (!parts) {
    return Fail(error);
  }
  const bool decode = (dwFlags & (ICU_DECODE | ICU_ESCAPE)) != 0;
  auto value = [&](std::string_view raw, bool decodable) {
    return decode && decodable ? PercentDecode(raw) : std::string(raw);
  };
  URL_COMPONENTSA& c = *lpUrlComponents;
  // Work on a copy so that a failure leaves the caller's record as it was.
  URL_COMPONENTSA out = c;
  bool ok = StoreComponent(out.lpszScheme, out.dwSchemeLength, parts->scheme, lpszUrl,
                           std::string(parts->scheme)) &&
            StoreComponent(out.lpszHostName, out.dwHostNameLength, parts->host, lpszUrl,
                           std::string(parts->host)) &&
            StoreComponent(out.lpszUserName, out.dwUserNameLength, parts->user, lpszUrl,
                           value(parts->user, true)) &&
            StoreComponent(out.lpszPassword, out.dwPasswordLength, parts->password, lpszUrl,
                           value(parts->password, true)) &&
            StoreComponent(out.lpszUrlPath, out.dwUrlPathLength, parts->path, lpszUrl,
                           value(parts->path, true)) &&
            StoreComponent(out.lpszExtraInfo, out.dwExtraInfoLength, parts->extraInfo, lpszUrl,
                           std::string(parts->extraInfo));
  if (!ok) {
    return FALSE;
  }
  out.nScheme = parts->schemeNumber;
  out.nPort = parts->port;
  c = out;
  return TRUE;
}

extern "C" BOOL InternetCreateUrlA(LPURL_COMPONENTSA lpUrlComponents, DWORD dwFlags,
                                   LPSTR lpszUrl, LPDWORD lpdwUrlLength) {
  if (lpUrlComponents == nullptr || lpdwUrlLength == nullptr ||
      lpUrlComponents->dwStructSize != sizeof(URL_COMPONENTSA)) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  const URL_COMPONENTSA& c = *lpUrlComponents;
  UrlParts parts;
  std::string_view schemeText = ComponentText(c.lpszScheme, c.dwSchemeLength);
  parts.schemeNumber = schemeText.empty() ? c.nScheme : SchemeNumber(schemeText);
  if (SchemeName(parts.schemeNumber) == nullptr) {
    return Fail(ERROR_INTERNET_UNRECOGNIZED_SCHEME);
  }
  parts.scheme = SchemeName(parts.schemeNumber);
  parts.hierarchical = parts.schemeNumber == INTERNET_SCHEME_FTP ||
                       parts.schemeNumber == INTERNET_SCHEME_GOPHER ||
                       parts.schemeNumber == INTERNET_SCHEME_HTTP ||
                       parts.schemeNumber == INTERNET_SCHEME_HTTPS ||
                       parts.schemeNumber == INTERNET_SCHEME_FILE ||
                       parts.schemeNumber == INTERNET_SCHEME_SOCKS;
  parts.host = ComponentText(c.lpszHostName, c.dwHostNameLength);
  parts.port = c.nPort;
  std::string_view user = ComponentText(c.lpszUserName, c.dwUserNameLength);
  std::string_view password = ComponentText(c.lpszPassword, c.dwPasswordLength);
  std::string_view path = ComponentText(c.lpszUrlPath, c.dwUrlPathLength);
  std::string_view extra = ComponentText(c.lpszExtraInfo, c.dwExtraInfoLength);
  if (parts.hierarchical && parts.host.empty() && parts.schemeNumber != INTERNET_SCHEME_FILE) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  std::string url;
  if (dwFlags & ICU_ESCAPE) {
    url = JoinUrl(parts, PercentEscape(user, EscapeSet::kUserInfo),
                  PercentEscape(password, EscapeSet::kUserInfo),
                  PercentEscape(path, EscapeSet::kPath),
                  PercentEscape(extra, EscapeSet::kExtraInfo));
  } else {
    url = JoinUrl(parts, user, password, path, extra);
  }
  return CopyOut(url, lpszUrl, lpdwUrlLength);
}

// Canonical form: unsafe characters escaped (unless ICU_NO_ENCODE), "." and ".."
// path segments resolved (unless ICU_NO_META), escapes decoded with ICU_DECODE.
extern "C" BOOL InternetCanonicalizeUrlA(LPCSTR lpszUrl, LPSTR lpszBuffer,
                                         LPDWORD lpdwBufferLength, DWORD dwFlags) {
  if (lpszUrl == nullptr) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  std::string_view url(lpszUrl);
  DWORD error = ERROR_INTERNET_INVALID_URL;
  auto parts = SplitUrl(url, error);
  if (!parts) {
    return Fail(error);
  }
  std::string path(parts->path);
  if (parts->hierarchical && path.empty()) {
    path = "/";
  }
  if (!(dwFlags & ICU_NO_META) && parts->hierarchical) {
    path = RemoveDotSegments(path);
  }
  std::string extra(parts->extraInfo);
  if (dwFlags & ICU_DECODE) {
    path = PercentDecode(path);
    extra = PercentDecode(extra);
  } else if (!(dwFlags & ICU_NO_ENCODE)) {
    path = PercentEscape(path, EscapeSet::kExtraInfo);
    extra = PercentEscape(extra, EscapeSet::kExtraInfo);
  }
  return CopyOut(JoinUrl(*parts, parts->user, parts->password, path, extra), lpszBuffer,
                 lpdwBufferLength);
}

// Resolves a relative reference against a base URL, as browsers do.
extern "C" BOOL InternetCombineUrlA(LPCSTR lpszBaseUrl, LPCSTR lpszRelativeUrl,
                                    LPSTR lpszBuffer, LPDWORD lpdwBufferLength,
                                    DWORD dwFlags) {
  if (lpszBaseUrl == nullptr || lpszRelativeUrl == nullptr) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  std::string_view relative(lpszRelativeUrl);
  DWORD error = ERROR_INTERNET_INVALID_URL;
  if (SplitUrl(relative, error)) {
    return InternetCanonicalizeUrlA(lpszRelativeUrl, lpszBuffer, lpdwBufferLength, dwFlags);
  }
  error = ERROR_INTERNET_INVALID_URL;
  auto base = SplitUrl(lpszBaseUrl, error);
  if (!base) {
    return Fail(error);
  }
  std::string scheme(SchemeName(base->schemeNumber));
  std::string authority = JoinUrl(*base, base->user, base->password, "", "");
  std::string combined;
  if (relative.substr(0, 2) == "//") {
    combined = scheme + ":" + std::string(relative);
  } else if (!relative.empty() && relative.front() == '/') {
    combined = authority + std::string(relative);
  } else if (relative.empty()) {
    combined = lpszBaseUrl;
  } else if (relative.front() == '?' || relative.front() == '#') {
    std::string path(base->path);
    if (relative.front() == '#' && !base->extraInfo.empty() && base->extraInfo.front() == '?') {
      path += std::string(base->extraInfo.substr(0, base->extraInfo.find('#')));
    }
    combined = authority + path + std::string(relative);
  } else {
    std::string directory(base->path.substr(0, base->path.rfind('/') + 1));
    if (directory.empty()) {
      directory = "/";
    }
    combined = authority + directory + std::string(relative);
  }
  return InternetCanonicalizeUrlA(combined.c_str(), lpszBuffer, lpdwBufferLength, dwFlags);
}

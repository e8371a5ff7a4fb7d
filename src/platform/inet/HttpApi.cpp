// HTTP requests: open, header lines, send, response queries, positioning.
#include <curl/curl.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>

#include "platform/LastError.h"
#include "platform/inet/TransferObjects.h"
#include "platform/inet/UrlText.h"

namespace inet {
namespace {

// Object names arrive decoded; characters a request line cannot carry are
// escaped, an existing escape sequence is kept.
std::string EscapeObjectName(const std::string& name) {
  std::string result;
  static const char kHex[] = "0123456789ABCDEF";
  for (size_t i = 0; i < name.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(name[i]);
    bool escapeSequence = c == '%' && i + 2 < name.size() &&
                          std::isxdigit(static_cast<unsigned char>(name[i + 1])) &&
                          std::isxdigit(static_cast<unsigned char>(name[i + 2]));
    if (c <= 0x20 || c >= 0x7F || c == '"' || c == '<' || c == '>' || c == '\\' || c == '^' ||
        c == '`' || c == '{' || c == '|' || c == '}' || (c == '%' && !escapeSequence)) {
      result.push_back('%');
      result.push_back(kHex[c >> 4]);
      result.push_back(kHex[c & 15]);
    } else {
      result.push_back(static_cast<char>(c));
    }
  }
  if (result.empty() || result.front() != '/') result.insert(result.begin(), '/');
  return result;
}

std::string HostForUrl(const std::string& host) {
  if (host.find(':') != std::string::npos && host.front() != '[') return "[" + host + "]";
  return host;
}

const char* CaFile() {
  // The trusted roots follow the usual OpenSSL variable, so that a test or an
  // administrator can name a bundle without touching the system store.
  const char* file = std::getenv("SSL_CERT_FILE");
  return file != nullptr && *file != '\0' ? file : nullptr;
}

std::optional<std::string> StandardHeaderName(DWORD level) {
  switch (level) {
    case HTTP_QUERY_MIME_VERSION: return "MIME-Version";
    case HTTP_QUERY_CONTENT_TYPE: return "Content-Type";
    case HTTP_QUERY_CONTENT_TRANSFER_ENCODING: return "Content-Transfer-Encoding";
    case HTTP_QUERY_CONTENT_ID: return "Content-ID";
    case HTTP_QUERY_CONTENT_DESCRIPTION: return "Content-Description";
    case HTTP_QUERY_CONTENT_LENGTH: return "Content-Length";
    case HTTP_QUERY_CONTENT_LANGUAGE: return "Content-Language";
    case HTTP_QUERY_ALLOW: return "Allow";
    case HTTP_QUERY_PUBLIC: return "Public";
    case HTTP_QUERY_DATE: return "Date";
    case HTTP_QUERY_EXPIRES: return "Expires";
    case HTTP_QUERY_LAST_MODIFIED: return "Last-Modified";
    case HTTP_QUERY_MESSAGE_ID: return "Message-ID";
    case HTTP_QUERY_URI: return "URI";
    case HTTP_QUERY_DERIVED_FROM: return "Derived-From";
    case HTTP_QUERY_COST: return "Cost";
    case HTTP_QUERY_LINK: return "Link";
    case HTTP_QUERY_PRAGMA: return "Pragma";
    case HTTP_QUERY_CONNECTION: return "Connection";
    case HTTP_QUERY_ACCEPT: return "Accept";
    case HTTP_QUERY_ACCEPT_CHARSET: return "Accept-Charset";
    case HTTP_QUERY_ACCEPT_ENCODING: return "Accept-Encoding";
    case HTTP_QUERY_ACCEPT_LANGUAGE: return "Accept-Language";
    case HTTP_QUERY_AUTHORIZATION: return "Authorization";
    case HTTP_QUERY_CONTENT_ENCODING: return "Content-Encoding";
    case HTTP_QUERY_FORWARDED: return "Forwarded";
    case HTTP_QUERY_FROM: return "From";
    case HTTP_QUERY_IF_MODIFIED_SINCE: return "If-Modified-Since";
    case HTTP_QUERY_LOCATION: return "Location";
    case HTTP_QUERY_ORIG_URI: return "Orig-URI";
    case HTTP_QUERY_REFERER: return "Referer";
    case HTTP_QUERY_RETRY_AFTER: return "Retry-After";
    case HTTP_QUERY_SERVER: return "Server";
    case HTTP_QUERY_TITLE: return "Title";
    case HTTP_QUERY_USER_AGENT: return "User-Agent";
    case HTTP_QUERY_WWW_AUTHENTICATE: return "WWW-Authenticate";
    case HTTP_QUERY_PROXY_AUTHENTICATE: return "Proxy-Authenticate";
    case HTTP_QUERY_ACCEPT_RANGES: return "Accept-Ranges";
    case HTTP_QUERY_SET_COOKIE: return "Set-Cookie";
    case HTTP_QUERY_COOKIE: return "Cookie";
    case HTTP_QUERY_REFRESH: return "Refresh";
    case HTTP_QUERY_CONTENT_DISPOSITION: return "Content-Disposition";
    case HTTP_QUERY_AGE: return "Age";
    case HTTP_QUERY_CACHE_CONTROL: return "Cache-Control";
    case HTTP_QUERY_CONTENT_BASE: return "Content-Base";
    case HTTP_QUERY_CONTENT_LOCATION: return "Content-Location";
    case HTTP_QUERY_CONTENT_MD5: return "Content-MD5";
    case HTTP_QUERY_CONTENT_RANGE: return "Content-Range";
    case HTTP_QUERY_ETAG: return "ETag";
    case HTTP_QUERY_HOST: return "Host";
    case HTTP_QUERY_IF_MATCH: return "If-Match";
    case HTTP_QUERY_IF_NONE_MATCH: return "If-None-Match";
    case HTTP_QUERY_IF_RANGE: return "If-Range";
    case HTTP_QUERY_IF_UNMODIFIED_SINCE: return "If-Unmodified-Since";
    case HTTP_QUERY_MAX_FORWARDS: return "Max-Forwards";
    case HTTP_QUERY_PROXY_AUTHORIZATION: return "Proxy-Authorization";
    case HTTP_QUERY_RANGE: return "Range";
    case HTTP_QUERY_TRANSFER_ENCODING: return "Transfer-Encoding";
    case HTTP_QUERY_UPGRADE: return "Upgrade";
    case HTTP_QUERY_VARY: return "Vary";
    case HTTP_QUERY_VIA: return "Via";
    case HTTP_QUERY_WARNING: return "Warning";
    case HTTP_QUERY_EXPECT: return "Expect";
    case HTTP_QUERY_PROXY_CONNECTION: return "Proxy-Connection";
    case HTTP_QUERY_UNLESS_MODIFIED_SINCE: return "Unless-Modified-Since";
    default: return std::nullopt;
  }
}

BOOL ReturnBytes(const void* data, DWORD size, LPVOID buffer, LPDWORD length) {
  if (buffer == nullptr || *length < size) {
    *length = size;
    return Fail(ERROR_INSUFFICIENT_BUFFER);
  }
  std::memcpy(buffer, data, size);
  *length = size;
  return TRUE;
}

BOOL ReturnText(const std::string& text, LPVOID buffer, LPDWORD length) {
  if (buffer == nullptr || *length < text.size() + 1) {
    *length = static_cast<DWORD>(text.size() + 1);
    return Fail(ERROR_INSUFFICIENT_BUFFER);
  }
  std::memcpy(buffer, text.c_str(), text.size() + 1);
  *length = static_cast<DWORD>(text.size());
  return TRUE;
}

// The full length of the response and whether the server accepts byte ranges.
std::optional<std::uint64_t> FullLength(const HeaderBlock& response, bool& acceptsRanges) {
  acceptsRanges = response.Status() == 206;
  if (auto ranges = response.Find("Accept-Ranges")) {
    acceptsRanges = acceptsRanges || HasToken(*ranges, "bytes");
  }
  if (response.Status() == 206) {
    auto value = response.Find("Content-Range");
    auto range = value ? ParseContentRange(*value) : std::nullopt;
    return range ? range->total : std::nullopt;
  }
  auto length = response.Find("Content-Length");
  return length ? ParseNumber(*length) : std::nullopt;
}

}  // namespace

BOOL FailTransfer(Transfer& transfer, Transfer::Outcome outcome) {
  if (outcome == Transfer::Outcome::kCancelled) return Fail(ERROR_INTERNET_OPERATION_CANCELLED);
  if (outcome == Transfer::Outcome::kTimedOut) return Fail(ERROR_INTERNET_TIMEOUT);
  TransferFacts facts = transfer.Facts();
  DWORD code = MapCurlError(transfer.Result(), facts);
  if (code == ERROR_INTERNET_EXTENDED_ERROR) {
    SetLastResponse(transfer.LastReplyCode(), transfer.LastReply());
  }
  return Fail(code);
}

std::string ConnectionKey(const ConnectObject& connect, const std::string& scheme,
                          const std::string& proxy, const HandleSettings& settings,
                          DWORD securityFlags, const std::string& clientCertPem,
                          bool clientCertDecided) {
  std::string key;
  for (const std::string* part : {&scheme, &connect.host, &connect.user, &connect.password, &proxy,
                                  &settings.proxyUser, &settings.proxyPassword}) {
    key += std::to_string(part->size()) + ":" + *part + "|";
  }
  key += std::to_string(connect.port) + "|" + std::to_string(securityFlags) + "|" +
         std::to_string(connect.flags & INTERNET_FLAG_PASSIVE) + "|" +
         std::to_string(std::hash<std::string>{}(clientCertPem)) + "|" +
         std::to_string(clientCertPem.size()) + (clientCertDecided ? "|decided" : "|open");
  return key;
}

}  // namespace inet

using namespace inet;

extern "C" HINTERNET HttpOpenRequestA(HINTERNET hConnect, LPCSTR lpszVerb, LPCSTR lpszObjectName,
                                      LPCSTR lpszVersion, LPCSTR lpszReferrer, LPCSTR*,
                                      DWORD dwFlags, DWORD_PTR dwContext) {
  auto connect = LookupAs<ConnectObject>(hConnect, {ObjectKind::kConnect});
  if (!connect) return nullptr;
  if (connect->service != INTERNET_SERVICE_HTTP) {
    Fail(ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
    return nullptr;
  }
  auto request = std::make_shared<RequestObject>(connect, dwContext);
  request->verb = lpszVerb && *lpszVerb ? lpszVerb : "GET";
  request->objectName = EscapeObjectName(lpszObjectName ? lpszObjectName : "/");
  request->version = lpszVersion ? lpszVersion : "";
  request->referrer = lpszReferrer ? lpszReferrer : "";
  request->flags = dwFlags;
  request->securityFlags =
      dwFlags & (SECURITY_FLAG_IGNORE_CERT_CN_INVALID | SECURITY_FLAG_IGNORE_CERT_DATE_INVALID);
  HINTERNET handle = RegisterObject(request);
  HINTERNET value = handle;
  request->ReportStatus(INTERNET_STATUS_HANDLE_CREATED, &value, sizeof(value));
  platform::SetLastError(ERROR_SUCCESS);
  return handle;
}

extern "C" BOOL HttpAddRequestHeadersA(HINTERNET hRequest, LPCSTR lpszHeaders,
                                       DWORD dwHeadersLength, DWORD dwModifiers) {
  auto request = LookupAs<RequestObject>(hRequest, {ObjectKind::kRequest});
  if (!request) return FALSE;
  if (lpszHeaders == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  std::string_view text = dwHeadersLength == 0xFFFFFFFF || dwHeadersLength == 0
                              ? std::string_view(lpszHeaders)
                              : std::string_view(lpszHeaders, dwHeadersLength);
  DWORD error = ERROR_SUCCESS;
  if (!request->headers.Apply(text, dwModifiers, error)) return Fail(error);
  return TRUE;
}

extern "C" BOOL HttpSendRequestA(HINTERNET hRequest, LPCSTR lpszHeaders, DWORD dwHeadersLength,
                                 LPVOID lpOptional, DWORD dwOptionalLength) {
  auto request = LookupAs<RequestObject>(hRequest, {ObjectKind::kRequest});
  if (!request) return FALSE;
  if (lpszHeaders != nullptr && *lpszHeaders != '\0') {
    std::string_view text = dwHeadersLength == 0xFFFFFFFF || dwHeadersLength == 0
                                ? std::string_view(lpszHeaders)
                                : std::string_view(lpszHeaders, dwHeadersLength);
    DWORD error = ERROR_SUCCESS;
    if (!request->headers.Apply(text, HTTP_ADDREQ_FLAG_ADD | HTTP_ADDREQ_FLAG_REPLACE, error)) {
      return Fail(error);
    }
  }
  ConnectObject& connect = request->Connect();
  RootObject& root = request->Root();
  const std::string scheme = request->Secure() ? "https" : "http";
  bool useEnvironment = false;
  std::string proxy = root.ProxyFor(scheme, connect.host, useEnvironment);
  HandleSettings settings = request->settings;
  // Credentials in the proxy's address are proxy credentials like any other:
  // the proxy's challenge picks the scheme, so a password never goes in clear
  // text to a proxy that asked for Digest.
  if (const std::size_t at = proxy.rfind('@'); at != std::string::npos) {
    const std::size_t start = proxy.find("://") == std::string::npos ? 0 : proxy.find("://") + 3;
    if (at > start) {
      const std::string userInfo = proxy.substr(start, at - start);
      const std::size_t colon = userInfo.find(':');
      if (settings.proxyUser.empty()) {
        settings.proxyUser = PercentDecode(userInfo.substr(0, colon));
        settings.proxyPassword =
            colon == std::string::npos ? "" : PercentDecode(userInfo.substr(colon + 1));
      }
      proxy.erase(start, at + 1 - start);
    }
  }
  std::string key = ConnectionKey(connect, scheme, proxy, settings, request->securityFlags,
                                  request->clientCertPem, request->clientCertDecided);
  Transfer& transfer = request->transfer;
  CURL* easy = transfer.Prepare(key, request->securityFlags, !request->clientCertPem.empty(),
                                request->clientCertDecided);
  request->started = false;
  request->failure = 0;

  INTERNET_PORT port = connect.port != 0 ? connect.port
                                         : (request->Secure() ? INTERNET_DEFAULT_HTTPS_PORT
                                                              : INTERNET_DEFAULT_HTTP_PORT);
  std::string url = scheme + "://" + HostForUrl(connect.host) + ":" + std::to_string(port) +
                    request->objectName;
  curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
  curl_easy_setopt(easy, CURLOPT_USERAGENT, root.Agent().c_str());
  curl_easy_setopt(easy, CURLOPT_HTTP_VERSION,
                   request->version == "HTTP/1.0" ? CURL_HTTP_VERSION_1_0 : CURL_HTTP_VERSION_1_1);
  if (!request->referrer.empty()) curl_easy_setopt(easy, CURLOPT_REFERER, request->referrer.c_str());

  if (request->headerList != nullptr) curl_slist_free_all(request->headerList);
  request->headerList = nullptr;
  const bool bodiless = lpOptional == nullptr || dwOptionalLength == 0;
  for (const auto& [name, value] : request->headers.Fields()) {
    // A length announced for a body that is not sent makes a strict server
    // wait for bytes that never come.
    if (bodiless && SameName(name, "Content-Length")) continue;
    std::string line = name + ": " + value;
    request->headerList = curl_slist_append(request->headerList, line.c_str());
  }
  curl_easy_setopt(easy, CURLOPT_HTTPHEADER, request->headerList);

  request->body.assign(static_cast<const char*>(lpOptional) ? static_cast<const char*>(lpOptional) : "",
                       lpOptional ? dwOptionalLength : 0);
  if (SameName(request->verb, "HEAD")) {
    curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
  } else if (SameName(request->verb, "GET") && request->body.empty()) {
    curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
  } else {
    curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request->body.size()));
    curl_easy_setopt(easy, CURLOPT_POSTFIELDS, request->body.data());
    if (!SameName(request->verb, "POST")) {
      curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, request->verb.c_str());
    }
  }
  const bool follow = !(request->flags & INTERNET_FLAG_NO_AUTO_REDIRECT);
  curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, follow ? 1L : 0L);
  curl_easy_setopt(easy, CURLOPT_MAXREDIRS, 10L);

  const bool serverCredentials = !connect.user.empty();
  if (serverCredentials) {
    curl_easy_setopt(easy, CURLOPT_USERNAME, connect.user.c_str());
    curl_easy_setopt(easy, CURLOPT_PASSWORD, connect.password.c_str());
    curl_easy_setopt(easy, CURLOPT_HTTPAUTH, CURLAUTH_BASIC | CURLAUTH_DIGEST);
  }
  if (!useEnvironment || !proxy.empty()) {
    curl_easy_setopt(easy, CURLOPT_PROXY, proxy.c_str());
  }
  const bool proxyCredentials = !proxy.empty() && !settings.proxyUser.empty();
  if (proxyCredentials) {
    curl_easy_setopt(easy, CURLOPT_PROXYUSERNAME, settings.proxyUser.c_str());
    curl_easy_setopt(easy, CURLOPT_PROXYPASSWORD, settings.proxyPassword.c_str());
    curl_easy_setopt(easy, CURLOPT_PROXYAUTH, CURLAUTH_BASIC | CURLAUTH_DIGEST);
  }
  transfer.SetChallengeAnswers(serverCredentials, proxyCredentials, follow);

  if (request->Secure()) {
    if (const char* caFile = CaFile()) curl_easy_setopt(easy, CURLOPT_CAINFO, caFile);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST,
                     (request->securityFlags & SECURITY_FLAG_IGNORE_CERT_CN_INVALID) ? 0L : 2L);
    if (request->securityFlags != 0) {
      // Sessions made under relaxed checks are never offered for resumption.
      curl_easy_setopt(easy, CURLOPT_SSL_SESSIONID_CACHE, 0L);
    }
    if (!request->clientCertPem.empty()) {
      curl_blob blob{request->clientCertPem.data(), request->clientCertPem.size(),
                     CURL_BLOB_COPY};
      curl_easy_setopt(easy, CURLOPT_SSLCERT_BLOB, &blob);
      curl_easy_setopt(easy, CURLOPT_SSLCERTTYPE, "PEM");
      curl_easy_setopt(easy, CURLOPT_SSLKEY_BLOB, &blob);
      curl_easy_setopt(easy, CURLOPT_SSLKEYTYPE, "PEM");
    }
  }
  if (auto range = request->headers.Find("Range")) {
    transfer.ExpectRangeStart(RangeStart(*range));
  }

  request->ReportStatus(INTERNET_STATUS_SENDING_REQUEST, nullptr, 0);
  transfer.Start();
  Transfer::Outcome outcome = transfer.RunUntilResponse();
  if (transfer.RangeMismatch()) {
    SetLastResponse(static_cast<DWORD>(transfer.Response().Status()), transfer.RangeMismatchText());
    return Fail(ERROR_INTERNET_EXTENDED_ERROR);
  }
  if (outcome == Transfer::Outcome::kDone && transfer.Result() != CURLE_OK) {
    TransferFacts facts = transfer.Facts();
    if (facts.connectCode == 407 && !facts.cancelled) {
      // The proxy refused the tunnel: report it like a plain proxied request.
      transfer.SynthesizeResponse("HTTP/1.1 407 Proxy Authentication Required");
      outcome = Transfer::Outcome::kGoal;
    }
  }
  if (outcome != Transfer::Outcome::kGoal &&
      !(outcome == Transfer::Outcome::kDone && transfer.Result() == CURLE_OK)) {
    return FailTransfer(transfer, outcome);
  }
  if (transfer.Response().Empty()) {
    return Fail(ERROR_HTTP_INVALID_SERVER_RESPONSE);
  }
  request->started = true;
  request->ReportStatus(INTERNET_STATUS_REQUEST_SENT, nullptr, 0);
  DWORD status = static_cast<DWORD>(transfer.Response().Status());
  request->ReportStatus(INTERNET_STATUS_RESPONSE_RECEIVED, &status, sizeof(status));
  platform::SetLastError(ERROR_SUCCESS);
  return TRUE;
}

extern "C" BOOL HttpQueryInfoA(HINTERNET hRequest, DWORD dwInfoLevel, LPVOID lpBuffer,
                               LPDWORD lpdwBufferLength, LPDWORD lpdwIndex) {
  auto request = LookupAs<RequestObject>(hRequest, {ObjectKind::kRequest});
  if (!request) return FALSE;
  if (lpdwBufferLength == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  const DWORD modifiers = dwInfoLevel & HTTP_QUERY_MODIFIER_FLAGS_MASK;
  const DWORD level = dwInfoLevel & HTTP_QUERY_HEADER_MASK;
  const DWORD index = lpdwIndex ? *lpdwIndex : 0;

  std::optional<std::string> value;
  if (modifiers & HTTP_QUERY_FLAG_REQUEST_HEADERS) {
    auto name = level == HTTP_QUERY_CUSTOM && lpBuffer
                    ? std::optional<std::string>(static_cast<const char*>(lpBuffer))
                    : StandardHeaderName(level);
    if (!name) return Fail(ERROR_HTTP_INVALID_QUERY_REQUEST);
    if (index == 0) value = request->headers.Find(*name);
  } else {
    const HeaderBlock& response = request->transfer.Response();
    if (response.Empty()) return Fail(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
    switch (level) {
      case HTTP_QUERY_STATUS_CODE:
        if (index == 0) value = std::to_string(response.Status());
        break;
      case HTTP_QUERY_STATUS_TEXT:
        if (index == 0) value = response.StatusText();
        break;
      case HTTP_QUERY_VERSION:
        if (index == 0) value = response.Version();
        break;
      case HTTP_QUERY_RAW_HEADERS:
        if (index == 0) value = response.RawNul();
        break;
      case HTTP_QUERY_RAW_HEADERS_CRLF:
        if (index == 0) value = response.RawCrlf();
        break;
      case HTTP_QUERY_REQUEST_METHOD:
        if (index == 0) value = request->verb;
        break;
      case HTTP_QUERY_CUSTOM:
        if (lpBuffer == nullptr) return Fail(ERROR_INVALID_PARAMETER);
        value = response.Find(static_cast<const char*>(lpBuffer), index);
        break;
      default: {
        auto name = StandardHeaderName(level);
        if (!name) return Fail(ERROR_HTTP_INVALID_QUERY_REQUEST);
        value = response.Find(*name, index);
      }
    }
  }
  if (!value) return Fail(ERROR_HTTP_HEADER_NOT_FOUND);

  BOOL ok = FALSE;
  if (modifiers & HTTP_QUERY_FLAG_NUMBER64) {
    auto number = ParseNumber(*value);
    if (!number) return Fail(ERROR_HTTP_INVALID_HEADER);
    std::uint64_t result = *number;
    ok = ReturnBytes(&result, sizeof(result), lpBuffer, lpdwBufferLength);
  } else if (modifiers & HTTP_QUERY_FLAG_NUMBER) {
    auto number = ParseNumber(*value);
    if (!number || *number > 0xFFFFFFFFull) return Fail(ERROR_HTTP_INVALID_HEADER);
    DWORD result = static_cast<DWORD>(*number);
    ok = ReturnBytes(&result, sizeof(result), lpBuffer, lpdwBufferLength);
  } else if (modifiers & HTTP_QUERY_FLAG_SYSTEMTIME) {
    time_t seconds = curl_getdate(value->c_str(), nullptr);
    struct tm utc{};
    if (seconds == -1 || gmtime_r(&seconds, &utc) == nullptr) return Fail(ERROR_HTTP_INVALID_HEADER);
    SYSTEMTIME time{static_cast<WORD>(utc.tm_year + 1900), static_cast<WORD>(utc.tm_mon + 1),
                    static_cast<WORD>(utc.tm_wday), static_cast<WORD>(utc.tm_mday),
                    static_cast<WORD>(utc.tm_hour), static_cast<WORD>(utc.tm_min),
                    static_cast<WORD>(utc.tm_sec), 0};
    ok = ReturnBytes(&time, sizeof(time), lpBuffer, lpdwBufferLength);
  } else if (level == HTTP_QUERY_RAW_HEADERS) {
    // Zero-separated lines: the length counts everything but the last zero.
    ok = ReturnBytes(value->data(), static_cast<DWORD>(value->size()), lpBuffer, lpdwBufferLength);
    if (ok) *lpdwBufferLength = static_cast<DWORD>(value->size() - 1);
  } else {
    ok = ReturnText(*value, lpBuffer, lpdwBufferLength);
  }
  if (ok) {
    if (lpdwIndex) ++*lpdwIndex;
    platform::SetLastError(ERROR_SUCCESS);
  }
  return ok;
}

extern "C" DWORD InternetSetFilePointer(HINTERNET hFile, LONG lDistanceToMove,
                                        PLONG lpDistanceToMoveHigh, DWORD dwMoveMethod,
                                        DWORD_PTR) {
  if (auto object = LookupObject(hFile); object && object->Kind() == ObjectKind::kFtpFile) {
    auto file = std::static_pointer_cast<FtpObject>(object);
    // An FTP file is positioned once, before its first read: the position is
    // the restart offset of its RETR.
    const std::uint64_t position =
        (lpDistanceToMoveHigh
             ? static_cast<std::uint64_t>(static_cast<std::uint32_t>(*lpDistanceToMoveHigh)) << 32
             : 0) |
        static_cast<std::uint32_t>(lDistanceToMove);
    if (dwMoveMethod != FILE_BEGIN || !file->retrPending) {
      Fail(ERROR_INTERNET_INVALID_OPERATION);
      return INVALID_SET_FILE_POINTER;
    }
    file->resumeFrom = position;
    platform::SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(position & 0xFFFFFFFFu);
  }
  auto request = LookupAs<RequestObject>(hFile, {ObjectKind::kRequest});
  if (!request) {
    if (platform::GetLastError() == ERROR_INTERNET_INCORRECT_HANDLE_TYPE) {
      Fail(ERROR_INTERNET_INVALID_OPERATION);
    }
    return INVALID_SET_FILE_POINTER;
  }
  if (!request->started) {
    Fail(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
    return INVALID_SET_FILE_POINTER;
  }
  std::int64_t distance = lDistanceToMove;
  if (lpDistanceToMoveHigh) {
    distance = static_cast<std::int64_t>((static_cast<std::uint64_t>(
                                              static_cast<std::uint32_t>(*lpDistanceToMoveHigh))
                                          << 32) |
                                         static_cast<std::uint32_t>(lDistanceToMove));
  }
  bool acceptsRanges = false;
  auto length = FullLength(request->transfer.Response(), acceptsRanges);
  // Only the end of a fully known, range-capable resource can be reported; data
  // already delivered cannot be rewound.
  if (dwMoveMethod != FILE_END || distance != 0 || !length || !acceptsRanges) {
    Fail(ERROR_INTERNET_INVALID_OPERATION);
    return INVALID_SET_FILE_POINTER;
  }
  // A position the caller's result cannot hold fails rather than being cut to a
  // smaller size that looks valid: without a high half it must fit 32 bits, and the
  // high half itself is signed.
  const std::uint64_t limit = lpDistanceToMoveHigh ? (1ull << 63) : (1ull << 32);
  if (*length >= limit) {
    Fail(ERROR_INVALID_PARAMETER);
    return INVALID_SET_FILE_POINTER;
  }
  if (lpDistanceToMoveHigh) *lpDistanceToMoveHigh = static_cast<LONG>(*length >> 32);
  platform::SetLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(*length & 0xFFFFFFFFu);
}

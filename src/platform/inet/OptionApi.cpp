// InternetQueryOptionA / InternetSetOptionA.
#include <atomic>
#include <cstring>
#include <string>

#include "platform/LastError.h"
#include "platform/inet/TransferObjects.h"

namespace inet {
namespace {

// Process-wide connection limits. Each request runs on its own connection, so
// these are kept and reported but never make a caller wait.
std::atomic<DWORD> gMaxConnsPerServer{2};
std::atomic<DWORD> gMaxConnsPer10Server{4};

BOOL ReturnDword(DWORD value, LPVOID buffer, LPDWORD length) {
  if (buffer == nullptr || *length < sizeof(DWORD)) {
    *length = sizeof(DWORD);
    return Fail(ERROR_INSUFFICIENT_BUFFER);
  }
  std::memcpy(buffer, &value, sizeof(value));
  *length = sizeof(DWORD);
  return TRUE;
}

BOOL ReturnString(const std::string& text, LPVOID buffer, LPDWORD length) {
  if (buffer == nullptr || *length < text.size() + 1) {
    *length = static_cast<DWORD>(text.size() + 1);
    return Fail(ERROR_INSUFFICIENT_BUFFER);
  }
  std::memcpy(buffer, text.c_str(), text.size() + 1);
  *length = static_cast<DWORD>(text.size());
  return TRUE;
}

bool ReadDword(LPVOID buffer, DWORD length, DWORD& value) {
  if (buffer == nullptr || length < sizeof(DWORD)) {
    Fail(ERROR_INTERNET_BAD_OPTION_LENGTH);
    return false;
  }
  std::memcpy(&value, buffer, sizeof(value));
  return true;
}

std::string ReadText(LPVOID buffer, DWORD length) {
  if (buffer == nullptr) return "";
  const char* text = static_cast<const char*>(buffer);
  return length == 0 ? std::string(text) : std::string(text, strnlen(text, length));
}

DWORD HandleType(const InetObject& object) {
  switch (object.Kind()) {
    case ObjectKind::kRoot: return INTERNET_HANDLE_TYPE_INTERNET;
    case ObjectKind::kConnect:
      return static_cast<const ConnectObject&>(object).service == INTERNET_SERVICE_FTP
                 ? INTERNET_HANDLE_TYPE_CONNECT_FTP
                 : INTERNET_HANDLE_TYPE_CONNECT_HTTP;
    case ObjectKind::kRequest: return INTERNET_HANDLE_TYPE_HTTP_REQUEST;
    case ObjectKind::kFtpFile: return INTERNET_HANDLE_TYPE_FTP_FILE;
    case ObjectKind::kFtpFind: return INTERNET_HANDLE_TYPE_FTP_FIND;
  }
  return 0;
}

DWORD* TimeoutField(HandleSettings& settings, DWORD option) {
  switch (option) {
    case INTERNET_OPTION_CONNECT_TIMEOUT: return &settings.connectTimeoutMs;
    case INTERNET_OPTION_SEND_TIMEOUT:
    case INTERNET_OPTION_DATA_SEND_TIMEOUT: return &settings.sendTimeoutMs;
    case INTERNET_OPTION_RECEIVE_TIMEOUT:
    case INTERNET_OPTION_DATA_RECEIVE_TIMEOUT: return &settings.receiveTimeoutMs;
    default: return nullptr;
  }
}

constexpr DWORD kIgnoreMask = SECURITY_FLAG_IGNORE_UNKNOWN_CA |
                              SECURITY_FLAG_IGNORE_CERT_CN_INVALID |
                              SECURITY_FLAG_IGNORE_CERT_DATE_INVALID;

}  // namespace
}  // namespace inet

using namespace inet;

extern "C" BOOL InternetQueryOptionA(HINTERNET hInternet, DWORD dwOption, LPVOID lpBuffer,
                                     LPDWORD lpdwBufferLength) {
  if (lpdwBufferLength == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  if (dwOption == INTERNET_OPTION_MAX_CONNS_PER_SERVER) {
    return ReturnDword(gMaxConnsPerServer.load(), lpBuffer, lpdwBufferLength);
  }
  if (dwOption == INTERNET_OPTION_MAX_CONNS_PER_1_0_SERVER) {
    return ReturnDword(gMaxConnsPer10Server.load(), lpBuffer, lpdwBufferLength);
  }
  if (hInternet == nullptr) return Fail(ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
  std::shared_ptr<InetObject> object = LookupObject(hInternet);
  if (!object) return Fail(ERROR_INVALID_HANDLE);
  if (DWORD* field = TimeoutField(object->settings, dwOption)) {
    return ReturnDword(*field, lpBuffer, lpdwBufferLength);
  }
  auto* request = object->Kind() == ObjectKind::kRequest
                      ? static_cast<RequestObject*>(object.get())
                      : nullptr;
  switch (dwOption) {
    case INTERNET_OPTION_HANDLE_TYPE:
      return ReturnDword(HandleType(*object), lpBuffer, lpdwBufferLength);
    case INTERNET_OPTION_CONTEXT_VALUE: {
      DWORD_PTR context = object->Context();
      if (lpBuffer == nullptr || *lpdwBufferLength < sizeof(context)) {
        *lpdwBufferLength = sizeof(context);
        return Fail(ERROR_INSUFFICIENT_BUFFER);
      }
      std::memcpy(lpBuffer, &context, sizeof(context));
      *lpdwBufferLength = sizeof(context);
      return TRUE;
    }
    case INTERNET_OPTION_PARENT_HANDLE: {
      HINTERNET parent = object->Parent() ? object->Parent()->Handle() : nullptr;
      if (lpBuffer == nullptr || *lpdwBufferLength < sizeof(parent)) {
        *lpdwBufferLength = sizeof(parent);
        return Fail(ERROR_INSUFFICIENT_BUFFER);
      }
      std::memcpy(lpBuffer, &parent, sizeof(parent));
      *lpdwBufferLength = sizeof(parent);
      return TRUE;
    }
    case INTERNET_OPTION_PROXY_USERNAME:
      return ReturnString(object->settings.proxyUser, lpBuffer, lpdwBufferLength);
    case INTERNET_OPTION_PROXY_PASSWORD:
      return ReturnString(object->settings.proxyPassword, lpBuffer, lpdwBufferLength);
    case INTERNET_OPTION_USER_AGENT:
      return ReturnString(object->Root().Agent(), lpBuffer, lpdwBufferLength);
    case INTERNET_OPTION_SECURITY_FLAGS:
      if (!request) return Fail(ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
      return ReturnDword(request->securityFlags | (request->Secure() ? SECURITY_FLAG_SECURE : 0),
                         lpBuffer, lpdwBufferLength);
    case INTERNET_OPTION_REQUEST_FLAGS:
      if (!request) return Fail(ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
      return ReturnDword(request->flags, lpBuffer, lpdwBufferLength);
    case INTERNET_OPTION_CLIENT_CERT_CONTEXT: {
      if (!request) return Fail(ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
      if (request->clientCertPem.empty()) return Fail(ERROR_INTERNET_ITEM_NOT_FOUND);
      // Valid while the request handle lives.
      CERT_CONTEXT context{X509_ASN_ENCODING,
                           reinterpret_cast<BYTE*>(request->clientCertPem.data()),
                           static_cast<DWORD>(request->clientCertPem.size()), nullptr, nullptr};
      if (lpBuffer == nullptr || *lpdwBufferLength < sizeof(context)) {
        *lpdwBufferLength = sizeof(context);
        return Fail(ERROR_INSUFFICIENT_BUFFER);
      }
      std::memcpy(lpBuffer, &context, sizeof(context));
      *lpdwBufferLength = sizeof(context);
      return TRUE;
    }
    default:
      return Fail(ERROR_INTERNET_INVALID_OPTION);
  }
}

extern "C" BOOL InternetSetOptionA(HINTERNET hInternet, DWORD dwOption, LPVOID lpBuffer,
                                   DWORD dwBufferLength) {
  if (dwOption == INTERNET_OPTION_MAX_CONNS_PER_SERVER ||
      dwOption == INTERNET_OPTION_MAX_CONNS_PER_1_0_SERVER) {
    DWORD value = 0;
    if (!ReadDword(lpBuffer, dwBufferLength, value)) return FALSE;
    if (value == 0) return Fail(ERROR_INVALID_PARAMETER);
    (dwOption == INTERNET_OPTION_MAX_CONNS_PER_SERVER ? gMaxConnsPerServer : gMaxConnsPer10Server)
        .store(value);
    return TRUE;
  }
  if (hInternet == nullptr) return Fail(ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
  std::shared_ptr<InetObject> object = LookupObject(hInternet);
  if (!object) return Fail(ERROR_INVALID_HANDLE);
  if (DWORD* field = TimeoutField(object->settings, dwOption)) {
    DWORD value = 0;
    if (!ReadDword(lpBuffer, dwBufferLength, value)) return FALSE;
    *field = value;
    return TRUE;
  }
  auto* request = object->Kind() == ObjectKind::kRequest
                      ? static_cast<RequestObject*>(object.get())
                      : nullptr;
  switch (dwOption) {
    case INTERNET_OPTION_CONTEXT_VALUE: {
      DWORD_PTR context = 0;
      if (lpBuffer == nullptr || dwBufferLength < sizeof(context)) {
        return Fail(ERROR_INTERNET_BAD_OPTION_LENGTH);
      }
      std::memcpy(&context, lpBuffer, sizeof(context));
      object->SetContext(context);
      return TRUE;
    }
    case INTERNET_OPTION_PROXY_USERNAME:
      object->settings.proxyUser = ReadText(lpBuffer, dwBufferLength);
      return TRUE;
    case INTERNET_OPTION_PROXY_PASSWORD:
      object->settings.proxyPassword = ReadText(lpBuffer, dwBufferLength);
      return TRUE;
    case INTERNET_OPTION_SECURITY_FLAGS: {
      if (!request) return Fail(ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
      DWORD value = 0;
      if (!ReadDword(lpBuffer, dwBufferLength, value)) return FALSE;
      request->securityFlags = value & kIgnoreMask;
      return TRUE;
    }
    case INTERNET_OPTION_CLIENT_CERT_CONTEXT: {
      if (!request) return Fail(ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
      if (lpBuffer == nullptr || dwBufferLength == 0) {
        // The caller chose to go on without a certificate.
        request->clientCertPem.clear();
        request->clientCertDecided = true;
        return TRUE;
      }
      if (dwBufferLength != 20 && dwBufferLength != sizeof(CERT_CONTEXT)) {
        return Fail(ERROR_INTERNET_BAD_OPTION_LENGTH);
      }
      const auto* context = static_cast<const CERT_CONTEXT*>(lpBuffer);
      std::string pem(reinterpret_cast<const char*>(context->pbCertEncoded),
                      context->pbCertEncoded ? context->cbCertEncoded : 0);
      if (pem.find("-----BEGIN") == std::string::npos) return Fail(ERROR_INVALID_PARAMETER);
      request->clientCertPem = std::move(pem);
      request->clientCertDecided = true;
      return TRUE;
    }
    case INTERNET_OPTION_HANDLE_TYPE:
    case INTERNET_OPTION_PARENT_HANDLE:
    case INTERNET_OPTION_USER_AGENT:
    case INTERNET_OPTION_REQUEST_FLAGS:
      return Fail(ERROR_INTERNET_OPTION_NOT_SETTABLE);
    default:
      return Fail(ERROR_INTERNET_INVALID_OPTION);
  }
}

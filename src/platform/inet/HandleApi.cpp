// Root and connect handles, closing, reading, the status callback, the last
// response text, the error dialog and the entry points that are not offered.
#include <curl/curl.h>

#include <cstring>
#include <mutex>

#include "platform/LastError.h"
#include "platform/inet/TransferObjects.h"

namespace inet {
BOOL CheckFtpLogin(ConnectObject& connect);
}  // namespace inet

using namespace inet;

extern "C" HINTERNET InternetOpenA(LPCSTR lpszAgent, DWORD dwAccessType, LPCSTR lpszProxy,
                                   LPCSTR lpszProxyBypass, DWORD dwFlags) {
  static std::once_flag curlReady;
  std::call_once(curlReady, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
  if (dwAccessType != INTERNET_OPEN_TYPE_PRECONFIG && dwAccessType != INTERNET_OPEN_TYPE_DIRECT &&
      dwAccessType != INTERNET_OPEN_TYPE_PROXY &&
      dwAccessType != INTERNET_OPEN_TYPE_PRECONFIG_WITH_NO_AUTOPROXY) {
    Fail(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (dwAccessType == INTERNET_OPEN_TYPE_PROXY && (lpszProxy == nullptr || *lpszProxy == '\0')) {
    Fail(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (dwFlags & INTERNET_FLAG_ASYNC) {
    // Only blocking calls are offered.
    Fail(ERROR_CALL_NOT_IMPLEMENTED);
    return nullptr;
  }
  auto root = std::make_shared<RootObject>(lpszAgent ? lpszAgent : "", dwAccessType, lpszProxy,
                                           lpszProxyBypass, dwFlags);
  HINTERNET handle = RegisterObject(root);
  platform::SetLastError(ERROR_SUCCESS);
  return handle;
}

extern "C" HINTERNET InternetConnectA(HINTERNET hInternet, LPCSTR lpszServerName,
                                      INTERNET_PORT nServerPort, LPCSTR lpszUserName,
                                      LPCSTR lpszPassword, DWORD dwService, DWORD dwFlags,
                                      DWORD_PTR dwContext) {
  auto root = LookupAs<RootObject>(hInternet, {ObjectKind::kRoot});
  if (!root) return nullptr;
  if (lpszServerName == nullptr || *lpszServerName == '\0') {
    Fail(ERROR_INTERNET_INVALID_URL);
    return nullptr;
  }
  if (dwService != INTERNET_SERVICE_HTTP && dwService != INTERNET_SERVICE_FTP) {
    Fail(ERROR_INTERNET_PROTOCOL_NOT_FOUND);
    return nullptr;
  }
  std::string host = lpszServerName;
  if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
    host = host.substr(1, host.size() - 2);
  }
  auto connect = std::make_shared<ConnectObject>(root, host, nServerPort,
                                                 lpszUserName ? lpszUserName : "",
                                                 lpszPassword ? lpszPassword : "", dwService,
                                                 dwFlags, dwContext);
  if (dwService == INTERNET_SERVICE_FTP && !CheckFtpLogin(*connect)) {
    return nullptr;
  }
  HINTERNET handle = RegisterObject(connect);
  HINTERNET value = handle;
  connect->ReportStatus(INTERNET_STATUS_HANDLE_CREATED, &value, sizeof(value));
  platform::SetLastError(ERROR_SUCCESS);
  return handle;
}

extern "C" BOOL InternetCloseHandle(HINTERNET hInternet) {
  std::shared_ptr<InetObject> object = LookupObject(hInternet);
  if (!object) return Fail(ERROR_INVALID_HANDLE);
  HINTERNET value = hInternet;
  object->ReportStatus(INTERNET_STATUS_HANDLE_CLOSING, &value, sizeof(value));
  if (!CloseObject(hInternet)) return Fail(ERROR_INVALID_HANDLE);
  platform::SetLastError(ERROR_SUCCESS);
  return TRUE;
}

extern "C" BOOL InternetReadFile(HINTERNET hFile, LPVOID lpBuffer, DWORD dwNumberOfBytesToRead,
                                 LPDWORD lpdwNumberOfBytesRead) {
  auto object = LookupAs<TransferObject>(hFile, {ObjectKind::kRequest, ObjectKind::kFtpFile});
  if (!object) return FALSE;
  if (lpdwNumberOfBytesRead == nullptr || (lpBuffer == nullptr && dwNumberOfBytesToRead != 0)) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  *lpdwNumberOfBytesRead = 0;
  if (!object->started) return Fail(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
  if (object->failure != 0) return Fail(object->failure);
  if (dwNumberOfBytesToRead == 0) return TRUE;
  if (object->Kind() == ObjectKind::kFtpFile) {
    auto& file = static_cast<FtpObject&>(*object);
    if (file.retrPending && !StartFtpRetrieve(file)) {
      object->failure = platform::GetLastError();
      return FALSE;
    }
  }
  DWORD delivered = 0;
  Transfer& transfer = object->transfer;
  Transfer::Outcome outcome =
      transfer.Pull(static_cast<char*>(lpBuffer), dwNumberOfBytesToRead, delivered);
  bool failed = outcome == Transfer::Outcome::kCancelled ||
                outcome == Transfer::Outcome::kTimedOut ||
                (outcome == Transfer::Outcome::kDone && transfer.Result() != CURLE_OK);
  if (failed) {
    FailTransfer(transfer, outcome);
    object->failure = platform::GetLastError();
    // What did arrive is in the buffer: the caller may keep it.
    *lpdwNumberOfBytesRead = delivered;
    return FALSE;
  }
  *lpdwNumberOfBytesRead = delivered;
  platform::SetLastError(ERROR_SUCCESS);
  return TRUE;
}

extern "C" INTERNET_STATUS_CALLBACK InternetSetStatusCallback(
    HINTERNET hInternet, INTERNET_STATUS_CALLBACK lpfnInternetCallback) {
  std::shared_ptr<InetObject> object = LookupObject(hInternet);
  if (!object) {
    Fail(ERROR_INVALID_HANDLE);
    return INTERNET_INVALID_STATUS_CALLBACK;
  }
  // Every handle reports through its root: the tree shares one callback.
  return object->Root().SetStatusCallback(lpfnInternetCallback);
}

extern "C" BOOL InternetGetLastResponseInfoA(LPDWORD lpdwError, LPSTR lpszBuffer,
                                             LPDWORD lpdwBufferLength) {
  if (lpdwBufferLength == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  const std::string& text = LastResponseText();
  if (lpdwError) *lpdwError = LastResponseCode();
  if (lpszBuffer == nullptr || *lpdwBufferLength < text.size() + 1) {
    *lpdwBufferLength = static_cast<DWORD>(text.size() + (text.empty() ? 0 : 1));
    if (text.empty()) {
      if (lpszBuffer != nullptr && *lpdwBufferLength > 0) lpszBuffer[0] = '\0';
      return TRUE;
    }
    return Fail(ERROR_INSUFFICIENT_BUFFER);
  }
  std::memcpy(lpszBuffer, text.c_str(), text.size() + 1);
  *lpdwBufferLength = static_cast<DWORD>(text.size());
  return TRUE;
}

// There is no user to ask: certificate questions count as declined, anything else
// is handed back unchanged.
extern "C" DWORD InternetErrorDlg(HWND, HINTERNET, DWORD dwError, DWORD, LPVOID*) {
  switch (dwError) {
    case ERROR_INTERNET_SEC_CERT_DATE_INVALID:
    case ERROR_INTERNET_SEC_CERT_CN_INVALID:
    case ERROR_INTERNET_INVALID_CA:
    case ERROR_INTERNET_CLIENT_AUTH_CERT_NEEDED:
    case ERROR_INTERNET_SEC_CERT_ERRORS:
      return ERROR_CANCELLED;
    default:
      return dwError;
  }
}

extern "C" HINTERNET InternetOpenUrlA(HINTERNET, LPCSTR, LPCSTR, DWORD, DWORD, DWORD_PTR) {
  Fail(ERROR_CALL_NOT_IMPLEMENTED);
  return nullptr;
}

extern "C" BOOL HttpSendRequestExA(HINTERNET, LPINTERNET_BUFFERSA, LPINTERNET_BUFFERSA, DWORD,
                                   DWORD_PTR) {
  return Fail(ERROR_CALL_NOT_IMPLEMENTED);
}

extern "C" BOOL HttpEndRequestA(HINTERNET, LPINTERNET_BUFFERSA, DWORD, DWORD_PTR) {
  return Fail(ERROR_CALL_NOT_IMPLEMENTED);
}

extern "C" BOOL InternetWriteFile(HINTERNET, LPCVOID, DWORD, LPDWORD) {
  return Fail(ERROR_CALL_NOT_IMPLEMENTED);
}

extern "C" BOOL InternetGetCookieA(LPCSTR, LPCSTR, LPSTR, LPDWORD) {
  return Fail(ERROR_NO_MORE_ITEMS);
}

extern "C" BOOL InternetSetCookieA(LPCSTR, LPCSTR, LPCSTR) {
  return Fail(ERROR_CALL_NOT_IMPLEMENTED);
}

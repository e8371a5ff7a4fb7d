// FTP: login check at connect, find (size and time without a data connection),
// open for reading (EPSV/PASV with INTERNET_FLAG_PASSIVE on the connect handle,
// active otherwise).
#include <curl/curl.h>

#include <cstring>

#include "platform/LastError.h"
#include "platform/inet/TransferObjects.h"
#include "platform/inet/UrlText.h"

namespace inet {
namespace {

std::string FtpUrl(const ConnectObject& connect, const std::string& path) {
  std::string host = connect.host.find(':') != std::string::npos ? "[" + connect.host + "]"
                                                                 : connect.host;
  INTERNET_PORT port = connect.port != 0 ? connect.port : INTERNET_DEFAULT_FTP_PORT;
  std::string relative = path;
  while (!relative.empty() && relative.front() == '/') relative.erase(relative.begin());
  return "ftp://" + host + ":" + std::to_string(port) + "/" +
         PercentEscape(relative, EscapeSet::kPath);
}

CURL* PrepareFtp(Transfer& transfer, const ConnectObject& connect, const HandleSettings& settings,
                 const std::string& path) {
  CURL* easy = transfer.Prepare(ConnectionKey(connect, "ftp", "", settings, 0, ""), 0, false);
  std::string url = FtpUrl(connect, path);
  curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
  curl_easy_setopt(easy, CURLOPT_PROXY, "");
  if (!connect.user.empty()) {
    curl_easy_setopt(easy, CURLOPT_USERNAME, connect.user.c_str());
    curl_easy_setopt(easy, CURLOPT_PASSWORD, connect.password.c_str());
  }
  if (!(connect.flags & INTERNET_FLAG_PASSIVE)) {
    curl_easy_setopt(easy, CURLOPT_FTPPORT, "-");
  }
  return easy;
}

FILETIME FileTimeFromUnix(curl_off_t seconds) {
  constexpr std::uint64_t kEpochDifference = 11644473600ull;  // 1601-01-01 to 1970-01-01
  std::uint64_t ticks = (static_cast<std::uint64_t>(seconds) + kEpochDifference) * 10000000ull;
  return FILETIME{static_cast<DWORD>(ticks & 0xFFFFFFFFu), static_cast<DWORD>(ticks >> 32)};
}

}  // namespace

// Logs in once so that a wrong password fails here, as callers expect, and leaves
// the logged-in connection warm in the pool for the find and open calls.
BOOL CheckFtpLogin(ConnectObject& connect) {
  Transfer transfer(connect, Transfer::Protocol::kFtp);
  CURL* easy = PrepareFtp(transfer, connect, connect.settings, "");
  curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
  transfer.SetDiscardBody(true);
  transfer.Start();
  Transfer::Outcome outcome = transfer.RunUntilDone();
  SetLastResponse(transfer.LastReplyCode(), transfer.LastReply());
  if (outcome != Transfer::Outcome::kDone || transfer.Result() != CURLE_OK) {
    return FailTransfer(transfer, outcome);
  }
  return TRUE;
}

BOOL StartFtpRetrieve(FtpObject& file) {
  file.retrPending = false;
  CURL* easy = PrepareFtp(file.transfer, file.Connect(), file.settings, file.path);
  curl_easy_setopt(easy, CURLOPT_TRANSFERTEXT, file.ascii ? 1L : 0L);
  if (file.resumeFrom > 0) {
    curl_easy_setopt(easy, CURLOPT_RESUME_FROM_LARGE, static_cast<curl_off_t>(file.resumeFrom));
  }
  file.transfer.Start();
  Transfer::Outcome outcome = file.transfer.RunUntilResponse();
  SetLastResponse(file.transfer.LastReplyCode(), file.transfer.LastReply());
  if (outcome != Transfer::Outcome::kGoal &&
      !(outcome == Transfer::Outcome::kDone && file.transfer.Result() == CURLE_OK)) {
    return FailTransfer(file.transfer, outcome);
  }
  return TRUE;
}

}  // namespace inet

using namespace inet;

extern "C" HINTERNET FtpFindFirstFileA(HINTERNET hConnect, LPCSTR lpszSearchFile,
                                       LPWIN32_FIND_DATAA lpFindFileData, DWORD,
                                       DWORD_PTR dwContext) {
  auto connect = LookupAs<ConnectObject>(hConnect, {ObjectKind::kConnect});
  if (!connect) return nullptr;
  if (connect->service != INTERNET_SERVICE_FTP) {
    Fail(ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
    return nullptr;
  }
  auto find = std::make_shared<FtpObject>(ObjectKind::kFtpFind, connect, dwContext);
  find->path = lpszSearchFile ? lpszSearchFile : "";
  CURL* easy = PrepareFtp(find->transfer, *connect, find->settings, find->path);
  curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
  curl_easy_setopt(easy, CURLOPT_FILETIME, 1L);
  find->transfer.SetDiscardBody(true);
  find->transfer.Start();
  Transfer::Outcome outcome = find->transfer.RunUntilDone();
  SetLastResponse(find->transfer.LastReplyCode(), find->transfer.LastReply());
  if (outcome != Transfer::Outcome::kDone || find->transfer.Result() != CURLE_OK) {
    FailTransfer(find->transfer, outcome);
    return nullptr;
  }
  curl_off_t size = -1;
  curl_off_t time = -1;
  curl_easy_getinfo(easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &size);
  curl_easy_getinfo(easy, CURLINFO_FILETIME_T, &time);
  WIN32_FIND_DATAA& data = find->found;
  std::memset(&data, 0, sizeof(data));
  data.dwFileAttributes = size >= 0 ? FILE_ATTRIBUTE_NORMAL : FILE_ATTRIBUTE_DIRECTORY;
  if (size >= 0) {
    data.nFileSizeLow = static_cast<DWORD>(static_cast<std::uint64_t>(size) & 0xFFFFFFFFu);
    data.nFileSizeHigh = static_cast<DWORD>(static_cast<std::uint64_t>(size) >> 32);
  }
  if (time >= 0) {
    data.ftLastWriteTime = FileTimeFromUnix(time);
    data.ftCreationTime = data.ftLastWriteTime;
    data.ftLastAccessTime = data.ftLastWriteTime;
  }
  std::string name = find->path.substr(find->path.rfind('/') + 1);
  std::strncpy(data.cFileName, name.c_str(), MAX_PATH - 1);
  if (lpFindFileData) *lpFindFileData = data;
  HINTERNET handle = RegisterObject(find);
  HINTERNET value = handle;
  find->ReportStatus(INTERNET_STATUS_HANDLE_CREATED, &value, sizeof(value));
  platform::SetLastError(ERROR_SUCCESS);
  return handle;
}

extern "C" HINTERNET FtpOpenFileA(HINTERNET hConnect, LPCSTR lpszFileName, DWORD dwAccess,
                                  DWORD dwFlags, DWORD_PTR dwContext) {
  auto connect = LookupAs<ConnectObject>(hConnect, {ObjectKind::kConnect});
  if (!connect) return nullptr;
  if (connect->service != INTERNET_SERVICE_FTP) {
    Fail(ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
    return nullptr;
  }
  if (dwAccess != GENERIC_READ || lpszFileName == nullptr) {
    // Uploads are not offered.
    Fail(dwAccess == GENERIC_WRITE ? ERROR_CALL_NOT_IMPLEMENTED : ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto file = std::make_shared<FtpObject>(ObjectKind::kFtpFile, connect, dwContext);
  file->path = lpszFileName;
  file->ascii = (dwFlags & 3) == FTP_TRANSFER_TYPE_ASCII;
  // The file is looked at now (a missing one fails here, as callers expect);
  // its data is asked for at the first read.
  CURL* easy = PrepareFtp(file->transfer, *connect, file->settings, file->path);
  curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
  file->transfer.SetDiscardBody(true);
  file->transfer.Start();
  Transfer::Outcome outcome = file->transfer.RunUntilDone();
  SetLastResponse(file->transfer.LastReplyCode(), file->transfer.LastReply());
  if (outcome != Transfer::Outcome::kDone || file->transfer.Result() != CURLE_OK) {
    FailTransfer(file->transfer, outcome);
    return nullptr;
  }
  file->started = true;
  file->retrPending = true;
  HINTERNET handle = RegisterObject(file);
  HINTERNET value = handle;
  file->ReportStatus(INTERNET_STATUS_HANDLE_CREATED, &value, sizeof(value));
  platform::SetLastError(ERROR_SUCCESS);
  return handle;
}

extern "C" BOOL FtpCreateDirectoryA(HINTERNET, LPCSTR) { return Fail(ERROR_CALL_NOT_IMPLEMENTED); }
extern "C" BOOL FtpRemoveDirectoryA(HINTERNET, LPCSTR) { return Fail(ERROR_CALL_NOT_IMPLEMENTED); }
extern "C" BOOL FtpDeleteFileA(HINTERNET, LPCSTR) { return Fail(ERROR_CALL_NOT_IMPLEMENTED); }

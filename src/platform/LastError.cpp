#include "platform/LastError.h"

#include <cerrno>
#include <map>

namespace platform {

namespace {
thread_local DWORD tLastError = kErrorSuccess;

// Texts as the system table holds them: a sentence, its period, a line break.
const std::map<DWORD, const char*>& SystemTable() {
  static const std::map<DWORD, const char*> table = {
      {kErrorSuccess, "The operation completed successfully.\r\n"},
      {kErrorInvalidFunction, "Incorrect function.\r\n"},
      {kErrorFileNotFound, "The system cannot find the file specified.\r\n"},
      {kErrorPathNotFound, "The system cannot find the path specified.\r\n"},
      {kErrorTooManyOpenFiles, "The system cannot open the file.\r\n"},
      {kErrorAccessDenied, "Access is denied.\r\n"},
      {kErrorInvalidHandle, "The handle is invalid.\r\n"},
      {kErrorNotEnoughMemory, "Not enough storage is available to process this command.\r\n"},
      {kErrorWriteFault, "The system cannot write to the specified device.\r\n"},
      {kErrorReadFault, "The system cannot read from the specified device.\r\n"},
      {kErrorSharingViolation,
       "The process cannot access the file because it is being used by another process.\r\n"},
      {kErrorHandleEof, "Reached the end of the file.\r\n"},
      {kErrorNotSupported, "The request is not supported.\r\n"},
      {kErrorFileExists, "The file exists.\r\n"},
      {kErrorInvalidParameter, "The parameter is incorrect.\r\n"},
      {kErrorBrokenPipe, "The pipe has been ended.\r\n"},
      {kErrorDiskFull, "There is not enough space on the disk.\r\n"},
      {kErrorInsufficientBuffer, "The data area passed to a system call is too small.\r\n"},
      {kErrorInvalidName, "The filename, directory name, or volume label syntax is incorrect.\r\n"},
      {kErrorModNotFound, "The specified module could not be found.\r\n"},
      {kErrorProcNotFound, "The specified procedure could not be found.\r\n"},
      {kErrorDirNotEmpty, "The directory is not empty.\r\n"},
      {kErrorAlreadyExists, "Cannot create a file when that file already exists.\r\n"},
      {kErrorFilenameExcedRange, "The filename or extension is too long.\r\n"},
      {kWaitTimeout, "The wait operation timed out.\r\n"},
      {kErrorNoMoreItems, "No more data is available.\r\n"},
      {kErrorCancelled, "The operation was canceled by the user.\r\n"},
      {kErrorInvalidWindowHandle, "Invalid window handle.\r\n"},
      {kErrorClassAlreadyExists, "Class already exists.\r\n"},
      {kErrorClassDoesNotExist, "Class does not exist.\r\n"},
      {kErrorNotEnoughQuota, "Not enough quota is available to process this command.\r\n"},
  };
  return table;
}
}  // namespace

DWORD GetLastError() { return tLastError; }

void SetLastError(DWORD code) { tLastError = code; }

DWORD ErrorFromErrno(int e) {
  switch (e) {
    case 0: return kErrorSuccess;
    case ENOENT: return kErrorFileNotFound;
    case ENOTDIR: return kErrorPathNotFound;
    case EMFILE:
    case ENFILE: return kErrorTooManyOpenFiles;
    case EACCES:
    case EPERM:
    case EROFS: return kErrorAccessDenied;
    case EBADF: return kErrorInvalidHandle;
    case ENOMEM: return kErrorNotEnoughMemory;
    case EIO: return kErrorWriteFault;
    case EBUSY:
    case ETXTBSY: return kErrorSharingViolation;
    case EEXIST: return kErrorAlreadyExists;
    case EINVAL: return kErrorInvalidParameter;
    case EPIPE: return kErrorBrokenPipe;
    case ENOSPC: return kErrorDiskFull;
    case EDQUOT: return kErrorNotEnoughQuota;
    case ENAMETOOLONG: return kErrorFilenameExcedRange;
    case ENOTEMPTY: return kErrorDirNotEmpty;
    case ETIMEDOUT: return kWaitTimeout;
    case ECANCELED: return kErrorCancelled;
    case ENOSYS:
    case EOPNOTSUPP: return kErrorNotSupported;
    default: return kErrorInvalidFunction;
  }
}

DWORD SetLastErrorFromErrno() { return SetLastErrorFromErrno(errno); }

DWORD SetLastErrorFromErrno(int errnoValue) {
  DWORD code = ErrorFromErrno(errnoValue);
  SetLastError(code);
  return code;
}

std::string FormatSystemMessage(DWORD code) {
  const auto& table = SystemTable();
  auto it = table.find(code);
  return it == table.end() ? std::string() : std::string(it->second);
}

std::string TrimMessageText(std::string text) {
  while (!text.empty() &&
         (static_cast<unsigned char>(text.back()) < static_cast<unsigned char>('!') ||
          text.back() == '.')) {
    text.pop_back();
  }
  return text;
}

std::string SysErrorMessage(DWORD code) { return TrimMessageText(FormatSystemMessage(code)); }

}  // namespace platform

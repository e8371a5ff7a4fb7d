// The thread's last error, in the numbering the rest of the system expects
// (2 file not found, 5 access denied, 183 already exists, 258 time-out,
// 1223 cancelled, 120xx internet errors), and the system message table.
//
// This lives in the platform shared library so that the program and the
// run-time loaded internet client library see one and the same value per thread.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

using DWORD = std::uint32_t;

inline constexpr DWORD kErrorSuccess = 0;
inline constexpr DWORD kErrorInvalidFunction = 1;
inline constexpr DWORD kErrorFileNotFound = 2;
inline constexpr DWORD kErrorPathNotFound = 3;
inline constexpr DWORD kErrorTooManyOpenFiles = 4;
inline constexpr DWORD kErrorAccessDenied = 5;
inline constexpr DWORD kErrorInvalidHandle = 6;
inline constexpr DWORD kErrorNotEnoughMemory = 8;
inline constexpr DWORD kErrorWriteFault = 29;
inline constexpr DWORD kErrorReadFault = 30;
inline constexpr DWORD kErrorSharingViolation = 32;
inline constexpr DWORD kErrorHandleEof = 38;
inline constexpr DWORD kErrorNotSupported = 50;
inline constexpr DWORD kErrorFileExists = 80;
inline constexpr DWORD kErrorInvalidParameter = 87;
inline constexpr DWORD kErrorBrokenPipe = 109;
inline constexpr DWORD kErrorDiskFull = 112;
inline constexpr DWORD kErrorInsufficientBuffer = 122;
inline constexpr DWORD kErrorInvalidName = 123;
inline constexpr DWORD kErrorModNotFound = 126;
inline constexpr DWORD kErrorProcNotFound = 127;
inline constexpr DWORD kErrorDirNotEmpty = 145;
inline constexpr DWORD kErrorAlreadyExists = 183;
inline constexpr DWORD kErrorFilenameExcedRange = 206;
inline constexpr DWORD kWaitTimeout = 258;
inline constexpr DWORD kErrorNoMoreItems = 259;
inline constexpr DWORD kErrorInvalidWindowHandle = 1400;
inline constexpr DWORD kErrorClassAlreadyExists = 1410;
inline constexpr DWORD kErrorClassDoesNotExist = 1411;
inline constexpr DWORD kErrorCancelled = 1223;
inline constexpr DWORD kErrorNotEnoughQuota = 1816;

DWORD GetLastError();
void SetLastError(DWORD code);

// Maps a POSIX errno value to the numbering above (unknown values map to
// kErrorInvalidFunction, never to success).
DWORD ErrorFromErrno(int errnoValue);
// Sets the last error from errno (or from the given value) and returns it.
DWORD SetLastErrorFromErrno();
DWORD SetLastErrorFromErrno(int errnoValue);

// The raw text of the system message table for Code, as the system formats it
// (a sentence with its final period and a line break), or an empty string when
// the table has no text for it.
std::string FormatSystemMessage(DWORD code);

// The system text without trailing line breaks, blanks and periods; falls back to
// "Unknown error, code = %d"-style text never: an empty result means "no text".
std::string SysErrorMessage(DWORD code);

// Trims trailing characters below '!' and periods, as message texts are shown.
std::string TrimMessageText(std::string text);

}  // namespace platform

// Files and folders: copy, delete, existence tests, folder creation, sizes,
// file times, whole-file atomic replacement and path-name helpers.
//
// Stateless functions, callable from any thread. Failures are return values
// (false, -1 or an empty string) plus the thread's last error (LastError.h).
// Paths use '/' as separator; the file-name part of a path is the text after the
// last '/'.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "rtl/DateTime.h"

namespace platform {

// A point in time as a 64-bit count of 100-nanosecond units since
// 1601-01-01 00:00 UTC, the unit the file system records use.
using FileTime = std::uint64_t;

// 100-ns units between 1601-01-01 and 1970-01-01.
inline constexpr FileTime kFileTimeUnixEpoch = 116444736000000000ULL;

// --- Existence, deletion, folders -------------------------------------------

// True for an existing file that is not a folder (links are followed).
bool FileExists(const std::string& path);
// True for an existing folder.
bool DirectoryExists(const std::string& path);

// Removes a file. Fails with 2 when it does not exist and with 5 when the path
// names a folder.
bool DeleteFile(const std::string& path);

// Creates the folder and every missing parent. True when the folder exists
// afterwards (also when it existed before). Fails with 3 for an empty path and
// with 183 when a part of the path is an existing file.
bool ForceDirectories(const std::string& path);

// Removes an empty folder (145 when it is not empty, 2 when it does not exist).
bool RemoveDirectory(const std::string& path);

// Size in bytes of a file, or -1 on failure.
std::int64_t FileSize(const std::string& path);

// --- Copying and replacing ---------------------------------------------------

// Copies Source to Target. When Target exists and FailIfExists is true the copy
// fails with 80 (file exists) and Target is left untouched. The copy is written
// to a temporary file beside Target and renamed over it, so Target is never
// seen half-written and a running program at Target can be replaced. A
// replaced Target keeps its permission bits, a new one gets Source's; both get
// Source's last-write time. Fails with 2 when
// Source is missing, 3 when Target's folder is missing, 5 when either names a
// folder.
bool CopyFile(const std::string& source, const std::string& target, bool failIfExists);

// Replaces Path's contents with Data: written to a temporary file in the same
// folder, flushed to disk, then renamed over Path. Keeps the permission bits of
// an existing file and refuses (5) one that this process may not write or that
// has no write bit at all; a new
// file gets 0666 less the umask. A link at Path is followed, so the file it
// points to is replaced.
bool WriteFileAtomically(const std::string& path, std::string_view data);

// Reads a whole file into Data (bytes unchanged).
bool ReadWholeFile(const std::string& path, std::string& data);

// --- File times --------------------------------------------------------------

// Reads the file's times; any pointer may be null. The creation time is the
// birth time when the file system records one, else the status-change time.
bool GetFileTimes(const std::string& path, FileTime* creation, FileTime* lastAccess,
                  FileTime* lastWrite);
// Sets the access and write times; a null pointer leaves that time unchanged.
// The creation time cannot be set on this platform: it is accepted and ignored.
bool SetFileTimes(const std::string& path, const FileTime* creation, const FileTime* lastAccess,
                  const FileTime* lastWrite);

// Sets all times of a file to one local date-time (as an item stamps a download
// with the server's date).
bool SetFileDateTime(const std::string& path, rtl::DateTime localTime);
// The last-write time of a file as local date-time.
bool GetFileDateTime(const std::string& path, rtl::DateTime& localTime);

// Conversions. Local date-time values use the time-zone rules in force at that
// moment; a local time that does not exist (skipped by a daylight-saving change)
// is taken with the offset in force just before it.
FileTime SystemClockToFileTime(std::chrono::system_clock::time_point time);
std::chrono::system_clock::time_point FileTimeToSystemClock(FileTime time);
FileTime UtcDateTimeToFileTime(rtl::DateTime utc);
rtl::DateTime FileTimeToUtcDateTime(FileTime time);
FileTime LocalDateTimeToFileTime(rtl::DateTime local);
rtl::DateTime FileTimeToLocalDateTime(FileTime time);

// --- Path names --------------------------------------------------------------

// Folder part including the trailing '/' ("" when there is none).
std::string ExtractFilePath(const std::string& path);
// Folder part without the trailing '/', except for the root "/".
std::string ExtractFileDir(const std::string& path);
// Text after the last '/'.
std::string ExtractFileName(const std::string& path);
// Extension of the file-name part including the '.', or "".
std::string ExtractFileExt(const std::string& path);
// Replaces (or adds, or with an empty Extension removes) the file-name part's
// extension; Extension includes its '.'.
std::string ChangeFileExt(const std::string& path, const std::string& extension);
// Path with exactly one '/' appended when it does not end in one ("" stays "").
std::string IncludeTrailingPathDelimiter(const std::string& path);

// The folder of the running executable with a trailing '/', or "" on failure.
std::string ExecutableFolder();
// The full path of the running executable, or "" on failure.
std::string ExecutablePath();
// The folder for temporary files ($TMPDIR when set, else /tmp) with a trailing '/'.
std::string TempFolder();

}  // namespace platform

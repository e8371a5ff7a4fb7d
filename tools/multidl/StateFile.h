// The state file an interrupted download leaves beside its output
// ("<file>.multidl", readable by its owner only): the segment map of the item
// (resource size, the server's date and validators (ETag, Last-Modified) when
// the map was built, and each segment's position, length and bytes done), so
// that a later run with -c can hand the map back to the engine, which resumes
// only when the server still reports the same size and validators. The URL is
// kept without its password; the user gives it again.
//
// Threads: plain data and functions, used on the main thread (the segment map
// they read and fill belongs to that thread).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "rtl/DateTime.h"

class TclResourceState;

namespace multidl {

struct SavedSegment {
  std::int64_t resourcePos = 0;
  std::int64_t bytesToProceed = 0;
  std::int64_t bytesProceed = 0;
  bool operator==(const SavedSegment&) const = default;
};

struct SavedMap {
  std::string url;
  std::int64_t resourceSize = 0;
  rtl::DateTime mapDate = 0;
  // Written by every run; an older file without them resumes by MapDate.
  bool hasValidators = false;
  std::string etag;
  std::string lastModified;
  std::vector<SavedSegment> segments;
  bool operator==(const SavedMap&) const = default;
};

// Where the state of LocalFile is kept.
std::string StateFileName(const std::string& localFile);

std::string WriteStateText(const SavedMap& map);
// Nullopt for anything that is not a consistent map of a known size: bad JSON,
// missing fields, no segments, negative numbers, a segment past the end or
// with more bytes done than it holds.
std::optional<SavedMap> ReadStateText(const std::string& text);

// The URL as a state file keeps it: without the password of its user part.
std::string UrlWithoutPassword(const std::string& url);

// Written to a temporary name (mode 0600) and renamed, so a crash never leaves
// half a file; where there is no room for the temporary (a full disk), the
// file is rewritten where it stands.
bool SaveStateFile(const std::string& path, const SavedMap& map);
std::optional<SavedMap> LoadStateFile(const std::string& path);
// Creates Path as a placeholder of a few kilobytes that no load accepts, so
// that a disk filled by the download still has room for the map.
bool ReserveStateFile(const std::string& path, const std::string& url);

// The map of an item as it stands.
SavedMap CaptureMap(const TclResourceState& state, rtl::DateTime mapDate, const std::string& etag,
                    const std::string& lastModified, const std::string& url);
// Replaces the segments (and the size) of State by the saved ones.
void RestoreMap(const SavedMap& map, TclResourceState& state);

}  // namespace multidl

// One entry of the update list: the value "kind,path" of a key fileN.
//
// The value is split into fields by the delimited-text rule (delimiter ',',
// quote '"'): blanks and control characters (codes 1 to 32) separate fields as
// well as commas, a field beginning with '"' runs to the next single '"' ("" in
// it is one '"'), a ',' that ends the value adds one empty field, and a NUL
// ends the value. An entry is valid when it splits into exactly two fields, the
// first is a signed 32-bit decimal other than -1, and the second is a path
// that stays inside the application folder.
//
// Pure functions, callable from any thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace app {

struct TclUpdateEntry {
  int Kind = 0;
  // As written in the list (forward slashes): appended to the server's file
  // address unchanged, and the relative local path on this platform, whose
  // separator is the same '/'.
  std::string Path;

  friend bool operator==(const TclUpdateEntry&, const TclUpdateEntry&) = default;
};

std::vector<std::string> SplitEntryFields(std::string_view value);

// The kind a field stands for: an optional sign and decimal digits that fit a
// signed 32-bit integer; anything else reads as -1, which is no valid kind.
int EntryKind(std::string_view field);

// True for a relative path that names a file inside the application folder: not
// empty, not absolute (a leading separator or a drive letter), no ".." segment,
// and not ending in a separator. '\' counts as a separator here too, so a list
// written for the other platform cannot step out either.
bool IsSafeRelativePath(std::string_view path);

// The entry, or nothing for a value that is to be dropped without a download.
std::optional<TclUpdateEntry> CheckEntry(std::string_view value);

}  // namespace app

// The signed manifest of an update site, "tarvo/livelist.sums": what a
// publisher vouches for beside the unchanged update list.
//
//   version=2.0
//   expires=2031-01-01T00:00:00Z
//   <64 hex digits>  livelist.txt
//   <64 hex digits>  file/data/first.dat
//
// The sum lines are those of `sha256sum` (two blanks, or a blank and '*',
// between digest and path), with paths relative to the site's "tarvo/" folder,
// so `cd tarvo && sha256sum -c livelist.sums` checks a site by hand (it skips
// the two header lines as improperly formatted). Its detached Ed25519
// signature over the file's exact bytes is "tarvo/livelist.sums.sig"
// (64 raw bytes).
//
// Pure functions and plain data, callable from any thread.
#pragma once

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace app {

struct TclSiteManifest {
  // The version this site delivers.
  std::string Version;
  // When the publisher's promise ends (UTC).
  std::chrono::system_clock::time_point Expires;
  // Path relative to "tarvo/" -> lower-case hex SHA-256.
  std::map<std::string, std::string> Sums;
};

// The manifest's path for the update list and for a list entry's file.
inline constexpr std::string_view kManifestListPath = "livelist.txt";
std::string ManifestFilePath(std::string_view entryPath);

// Parses Text; on failure returns nothing and sets Error to what is wrong
// (the line number and why). Strict: a signed file is made by a program.
std::optional<TclSiteManifest> ParseSiteManifest(std::string_view text, std::string& error);
// The file's text for Manifest, sum lines in path order; ParseSiteManifest
// reads it back as it was.
std::string FormatSiteManifest(const TclSiteManifest& manifest);

// "YYYY-MM-DDTHH:MM:SSZ" <-> time (whole seconds, UTC).
std::optional<std::chrono::system_clock::time_point> ParseUtcTimestamp(std::string_view text);
std::string FormatUtcTimestamp(std::chrono::system_clock::time_point time);

// Compares two version texts component by component ('.' separates):
// components of digits compare as numbers (so 1.10 > 1.9), any other
// component compares as text, and missing components count as "0" (so
// 2 == 2.0). Negative, zero or positive as A is lower, equal or higher.
int CompareVersions(std::string_view a, std::string_view b);

}  // namespace app

#include "app/SiteManifest.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

namespace app {
namespace {

constexpr std::string_view kVersionPrefix = "version=";
constexpr std::string_view kExpiresPrefix = "expires=";
constexpr std::size_t kHexDigits = 64;

bool IsHex(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

bool AllDigits(std::string_view text) {
  if (text.empty()) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

std::vector<std::string_view> Split(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  std::size_t start = 0;
  for (;;) {
    std::size_t end = text.find(separator, start);
    parts.push_back(text.substr(start, end == std::string_view::npos ? end : end - start));
    if (end == std::string_view::npos) return parts;
    start = end + 1;
  }
}

int CompareComponents(std::string_view a, std::string_view b) {
  if (AllDigits(a) && AllDigits(b)) {
    // Compared as numbers of any length: leading zeros dropped, then the
    // longer is larger, then digit by digit.
    a.remove_prefix(std::min(a.find_first_not_of('0'), a.size()));
    b.remove_prefix(std::min(b.find_first_not_of('0'), b.size()));
    if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  }
  int order = a.compare(b);
  return order < 0 ? -1 : (order > 0 ? 1 : 0);
}

std::string Lower(std::string_view hex) {
  std::string result(hex);
  for (char& c : result) {
    if (c >= 'A' && c <= 'F') c = static_cast<char>(c - 'A' + 'a');
  }
  return result;
}

}  // namespace

std::string ManifestFilePath(std::string_view entryPath) {
  return "file/" + std::string(entryPath);
}

std::optional<std::chrono::system_clock::time_point> ParseUtcTimestamp(std::string_view text) {
  if (text.size() != 20 || text[4] != '-' || text[7] != '-' || text[10] != 'T' ||
      text[13] != ':' || text[16] != ':' || text[19] != 'Z')
    return std::nullopt;
  for (std::size_t i : {0, 1, 2, 3, 5, 6, 8, 9, 11, 12, 14, 15, 17, 18}) {
    if (text[i] < '0' || text[i] > '9') return std::nullopt;
  }
  auto number = [&](std::size_t at, std::size_t length) {
    int value = 0;
    for (std::size_t i = at; i < at + length; ++i) value = value * 10 + (text[i] - '0');
    return value;
  };
  std::tm fields{};
  fields.tm_year = number(0, 4) - 1900;
  fields.tm_mon = number(5, 2) - 1;
  fields.tm_mday = number(8, 2);
  fields.tm_hour = number(11, 2);
  fields.tm_min = number(14, 2);
  fields.tm_sec = number(17, 2);
  const std::tm asked = fields;
  const std::time_t seconds = ::timegm(&fields);
  // timegm normalises out-of-range fields (February 30th): such a text is
  // not a date.
  if (seconds == static_cast<std::time_t>(-1) || fields.tm_mday != asked.tm_mday ||
      fields.tm_mon != asked.tm_mon || fields.tm_hour != asked.tm_hour ||
      fields.tm_min != asked.tm_min || fields.tm_sec != asked.tm_sec)
    return std::nullopt;
  // The clock counts nanoseconds: years past 2262 do not fit it.
  using Clock = std::chrono::system_clock;
  const auto limit = std::chrono::duration_cast<std::chrono::seconds>(Clock::duration::max());
  if (seconds < 0 || seconds > limit.count()) return std::nullopt;
  return Clock::from_time_t(seconds);
}

std::string FormatUtcTimestamp(std::chrono::system_clock::time_point time) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
  std::tm fields{};
  ::gmtime_r(&seconds, &fields);
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", fields.tm_year + 1900,
                fields.tm_mon + 1, fields.tm_mday, fields.tm_hour, fields.tm_min, fields.tm_sec);
  return text;
}

std::optional<TclSiteManifest> ParseSiteManifest(std::string_view text, std::string& error) {
  std::vector<std::string_view> lines = Split(text, '\n');
  // A final line end leaves one empty piece behind it.
  if (!lines.empty() && lines.back().empty()) lines.pop_back();
  auto fail = [&](std::size_t line, const std::string& why) {
    error = "manifest line " + std::to_string(line + 1) + ": " + why;
    return std::nullopt;
  };
  TclSiteManifest manifest;
  if (lines.empty() || lines[0].substr(0, kVersionPrefix.size()) != kVersionPrefix ||
      lines[0].size() == kVersionPrefix.size())
    return fail(0, "expected version=V");
  manifest.Version = std::string(lines[0].substr(kVersionPrefix.size()));
  if (lines.size() < 2 || lines[1].substr(0, kExpiresPrefix.size()) != kExpiresPrefix)
    return fail(1, "expected expires=YYYY-MM-DDTHH:MM:SSZ");
  auto expires = ParseUtcTimestamp(lines[1].substr(kExpiresPrefix.size()));
  if (!expires) return fail(1, "expected expires=YYYY-MM-DDTHH:MM:SSZ");
  manifest.Expires = *expires;
  for (std::size_t i = 2; i < lines.size(); ++i) {
    std::string_view line = lines[i];
    if (line.size() < kHexDigits + 3 || line[kHexDigits] != ' ' ||
        (line[kHexDigits + 1] != ' ' && line[kHexDigits + 1] != '*'))
      return fail(i, "expected a SHA-256 digest, two blanks and a path");
    for (std::size_t d = 0; d < kHexDigits; ++d) {
      if (!IsHex(line[d])) return fail(i, "the digest is not 64 hex digits");
    }
    std::string path(line.substr(kHexDigits + 2));
    // No list entry can name such a path; a publisher's tool never writes one.
    if (path.empty() || std::any_of(path.begin(), path.end(),
                                    [](char c) { return static_cast<unsigned char>(c) < ' '; }))
      return fail(i, "the path is empty or holds a control character");
    if (!manifest.Sums.emplace(path, Lower(line.substr(0, kHexDigits))).second)
      return fail(i, "\"" + path + "\" is listed twice");
  }
  return manifest;
}

std::string FormatSiteManifest(const TclSiteManifest& manifest) {
  std::string text = std::string(kVersionPrefix) + manifest.Version + "\n" +
                     std::string(kExpiresPrefix) + FormatUtcTimestamp(manifest.Expires) + "\n";
  for (const auto& [path, sum] : manifest.Sums) text += sum + "  " + path + "\n";
  return text;
}

int CompareVersions(std::string_view a, std::string_view b) {
  std::vector<std::string_view> left = Split(a, '.');
  std::vector<std::string_view> right = Split(b, '.');
  const std::size_t count = std::max(left.size(), right.size());
  for (std::size_t i = 0; i < count; ++i) {
    std::string_view x = i < left.size() ? left[i] : "0";
    std::string_view y = i < right.size() ? right[i] : "0";
    if (int order = CompareComponents(x, y); order != 0) return order;
  }
  return 0;
}

}  // namespace app

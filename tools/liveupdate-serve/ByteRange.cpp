#include "ByteRange.h"

#include <cctype>
#include <charconv>
#include <cstdio>

namespace serve {
namespace {

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

// A whole decimal number; false for anything else (empty, sign, overflow).
bool ParseNumber(std::string_view text, std::uint64_t& value) {
  if (text.empty()) return false;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() && end == text.data() + text.size();
}

std::string Lower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower;
}

}  // namespace

ByteRange ParseByteRange(std::string_view header, std::uint64_t size) {
  ByteRange whole;
  header = Trim(header);
  constexpr std::string_view kUnit = "bytes=";
  if (header.size() < kUnit.size() || Lower(header.substr(0, kUnit.size())) != kUnit) {
    return whole;
  }
  std::string_view ranges = Trim(header.substr(kUnit.size()));
  if (ranges.find(',') != std::string_view::npos) return whole;
  std::size_t dash = ranges.find('-');
  if (dash == std::string_view::npos) return whole;
  std::string_view firstText = Trim(ranges.substr(0, dash));
  std::string_view lastText = Trim(ranges.substr(dash + 1));

  ByteRange range;
  range.kind = ByteRange::Kind::kPart;
  std::uint64_t first = 0;
  std::uint64_t last = 0;
  if (firstText.empty()) {
    // The last N bytes.
    if (!ParseNumber(lastText, last)) return whole;
    if (last == 0 || size == 0) return {ByteRange::Kind::kUnsatisfiable, 0, 0};
    range.first = last >= size ? 0 : size - last;
    range.last = size - 1;
    return range;
  }
  if (!ParseNumber(firstText, first)) return whole;
  if (lastText.empty()) {
    last = size == 0 ? 0 : size - 1;
  } else if (!ParseNumber(lastText, last) || last < first) {
    return whole;
  }
  if (first >= size) return {ByteRange::Kind::kUnsatisfiable, 0, 0};
  range.first = first;
  range.last = last >= size ? size - 1 : last;
  return range;
}

std::string HttpDate(std::time_t time) {
  static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  std::tm utc{};
  gmtime_r(&time, &utc);
  char text[40];
  std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d GMT", kDays[utc.tm_wday],
                utc.tm_mday, kMonths[utc.tm_mon], utc.tm_year + 1900, utc.tm_hour, utc.tm_min,
                utc.tm_sec);
  return text;
}

bool AcceptsGzip(std::string_view acceptEncoding) {
  std::string value = Lower(acceptEncoding);
  std::string_view rest = value;
  while (!rest.empty()) {
    std::size_t comma = rest.find(',');
    std::string_view item = Trim(rest.substr(0, comma));
    rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
    std::size_t semicolon = item.find(';');
    std::string_view coding = Trim(item.substr(0, semicolon));
    if (coding != "gzip" && coding != "x-gzip") continue;
    if (semicolon == std::string_view::npos) return true;
    std::string_view parameter = Trim(item.substr(semicolon + 1));
    if (parameter.substr(0, 2) != "q=") return true;
    std::string_view q = parameter.substr(2);
    // q=0, q=0.0, q=0.00 ... refuse it.
    return q.find_first_not_of("0.") != std::string_view::npos;
  }
  return false;
}

}  // namespace serve

#include "app/UpdateEntry.h"

#include <cstdint>

#include "app/ULiveconst.h"

namespace app {
namespace {

bool IsBlankOrControl(char c) {
  auto code = static_cast<unsigned char>(c);
  return code >= 1 && code <= 32;
}

bool IsSeparator(char c) {
  return c == '/' || c == '\\';
}

}  // namespace

std::vector<std::string> SplitEntryFields(std::string_view value) {
  // The value ends at a NUL, as the text it stands for would.
  value = value.substr(0, value.find('\0'));
  std::vector<std::string> fields;
  std::size_t i = 0;
  const std::size_t n = value.size();
  auto skipBlanks = [&] {
    while (i < n && IsBlankOrControl(value[i])) ++i;
  };
  skipBlanks();
  while (i < n) {
    std::string field;
    if (value[i] == '"') {
      ++i;
      while (i < n) {
        if (value[i] == '"') {
          if (i + 1 < n && value[i + 1] == '"') {
            field += '"';
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        field += value[i++];
      }
    } else {
      std::size_t start = i;
      while (i < n && !IsBlankOrControl(value[i]) && value[i] != ',') ++i;
      field.assign(value.substr(start, i - start));
    }
    fields.push_back(std::move(field));
    skipBlanks();
    if (i < n && value[i] == ',') {
      if (i + 1 == n) fields.emplace_back();
      ++i;
      skipBlanks();
    }
  }
  return fields;
}

int EntryKind(std::string_view field) {
  std::size_t start = 0;
  bool negative = false;
  if (!field.empty() && (field[0] == '+' || field[0] == '-')) {
    negative = field[0] == '-';
    start = 1;
  }
  std::string_view digits = field.substr(start);
  if (digits.empty()) return kInvalidKind;
  std::int64_t magnitude = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return kInvalidKind;
    magnitude = magnitude * 10 + (c - '0');
    if (magnitude > INT32_MAX + std::int64_t{1}) return kInvalidKind;
  }
  std::int64_t number = negative ? -magnitude : magnitude;
  if (number > INT32_MAX) return kInvalidKind;
  return static_cast<int>(number);
}

bool IsSafeRelativePath(std::string_view path) {
  if (path.empty() || IsSeparator(path.front()) || IsSeparator(path.back())) return false;
  if (path.size() >= 2 && path[1] == ':') return false;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = start;
    while (end < path.size() && !IsSeparator(path[end])) ++end;
    if (path.substr(start, end - start) == "..") return false;
    start = end + 1;
  }
  return true;
}

std::optional<TclUpdateEntry> CheckEntry(std::string_view value) {
  std::vector<std::string> fields = SplitEntryFields(value);
  if (fields.size() != 2) return std::nullopt;
  int kind = EntryKind(fields[0]);
  if (kind == kInvalidKind || !IsSafeRelativePath(fields[1])) return std::nullopt;
  return TclUpdateEntry{kind, std::move(fields[1])};
}

}  // namespace app

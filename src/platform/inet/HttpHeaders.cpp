#include "platform/inet/HttpHeaders.h"

#include <cctype>

namespace inet {
namespace {

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r' ||
                           text.back() == '\n')) {
    text.remove_suffix(1);
  }
  return text;
}

}  // namespace

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

void HeaderBlock::Clear() {
  statusLine_.clear();
  status_ = 0;
  fields_.clear();
}

void HeaderBlock::SetStatusLine(std::string line) {
  Clear();
  statusLine_ = std::string(Trim(line));
  size_t space = statusLine_.find(' ');
  status_ = 0;
  if (space != std::string::npos) {
    auto code = ParseNumber(std::string_view(statusLine_).substr(space + 1, 3));
    status_ = code ? static_cast<int>(*code) : 0;
  }
}

void HeaderBlock::AddLine(std::string_view line) {
  bool continuation = !line.empty() && (line.front() == ' ' || line.front() == '\t');
  line = Trim(line);
  if (line.empty()) return;
  if (statusLine_.empty()) {
    SetStatusLine(std::string(line));
    return;
  }
  if (continuation && !fields_.empty()) {
    fields_.back().second += " " + std::string(line);
    return;
  }
  size_t colon = line.find(':');
  if (colon == std::string_view::npos) return;
  fields_.emplace_back(std::string(Trim(line.substr(0, colon))),
                       std::string(Trim(line.substr(colon + 1))));
}

std::string HeaderBlock::Version() const { return statusLine_.substr(0, statusLine_.find(' ')); }

std::string HeaderBlock::StatusText() const {
  size_t first = statusLine_.find(' ');
  if (first == std::string::npos) return "";
  size_t second = statusLine_.find(' ', first + 1);
  return second == std::string::npos ? "" : statusLine_.substr(second + 1);
}

std::optional<std::string> HeaderBlock::Find(std::string_view name, DWORD index) const {
  for (const auto& [fieldName, value] : fields_) {
    if (SameName(fieldName, name)) {
      if (index == 0) return value;
      --index;
    }
  }
  return std::nullopt;
}

std::string HeaderBlock::RawCrlf() const {
  std::string text = statusLine_ + "\r\n";
  for (const auto& [name, value] : fields_) text += name + ": " + value + "\r\n";
  return text + "\r\n";
}

std::string HeaderBlock::RawNul() const {
  std::string text = statusLine_;
  text.push_back('\0');
  for (const auto& [name, value] : fields_) {
    text += name + ": " + value;
    text.push_back('\0');
  }
  text.push_back('\0');
  return text;
}

bool RequestHeaders::Apply(std::string_view text, DWORD modifiers, DWORD& error) {
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = Trim(text.substr(pos, end - pos));
    pos = end + 1;
    if (line.empty()) continue;
    size_t colon = line.find(':');
    if (colon == std::string_view::npos || colon == 0) {
      error = ERROR_INVALID_PARAMETER;
      return false;
    }
    std::string name(Trim(line.substr(0, colon)));
    std::string value(Trim(line.substr(colon + 1)));
    auto existing = fields_.end();
    for (auto it = fields_.begin(); it != fields_.end(); ++it) {
      if (SameName(it->first, name)) {
        existing = it;
        break;
      }
    }
    if (modifiers & HTTP_ADDREQ_FLAG_REPLACE) {
      if (existing != fields_.end()) {
        if (value.empty()) {
          fields_.erase(existing);
        } else {
          existing->second = value;
        }
      } else if ((modifiers & HTTP_ADDREQ_FLAG_ADD) && !value.empty()) {
        fields_.emplace_back(name, value);
      }
      continue;
    }
    if (existing != fields_.end()) {
      if (modifiers & HTTP_ADDREQ_FLAG_ADD_IF_NEW) {
        error = ERROR_HTTP_HEADER_ALREADY_EXISTS;
        return false;
      }
      if (modifiers & HTTP_ADDREQ_FLAG_COALESCE_WITH_COMMA) {
        existing->second += ", " + value;
        continue;
      }
      if (modifiers & HTTP_ADDREQ_FLAG_COALESCE_WITH_SEMICOLON) {
        existing->second += "; " + value;
        continue;
      }
    }
    fields_.emplace_back(name, value);
  }
  return true;
}

std::optional<std::string> RequestHeaders::Find(std::string_view name) const {
  for (const auto& [fieldName, value] : fields_) {
    if (SameName(fieldName, name)) return value;
  }
  return std::nullopt;
}

std::optional<std::uint64_t> ParseNumber(std::string_view text) {
  text = Trim(text);
  if (text.empty() || text.size() > 19) return std::nullopt;
  std::uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
  }
  return value;
}

std::optional<std::uint64_t> RangeStart(std::string_view rangeValue) {
  rangeValue = Trim(rangeValue);
  if (rangeValue.size() < 6 || !SameName(rangeValue.substr(0, 6), "bytes=")) return std::nullopt;
  rangeValue.remove_prefix(6);
  size_t dash = rangeValue.find('-');
  if (dash == std::string_view::npos || dash == 0) return std::nullopt;
  return ParseNumber(rangeValue.substr(0, dash));
}

std::optional<ContentRange> ParseContentRange(std::string_view value) {
  value = Trim(value);
  if (value.size() < 6 || !SameName(value.substr(0, 6), "bytes ")) return std::nullopt;
  value.remove_prefix(6);
  size_t dash = value.find('-');
  size_t slash = value.find('/');
  if (dash == std::string_view::npos || slash == std::string_view::npos || dash > slash) {
    return std::nullopt;
  }
  auto first = ParseNumber(value.substr(0, dash));
  auto last = ParseNumber(value.substr(dash + 1, slash - dash - 1));
  if (!first || !last || *last < *first) return std::nullopt;
  ContentRange range{*first, *last, std::nullopt};
  std::string_view total = Trim(value.substr(slash + 1));
  if (total != "*") {
    auto number = ParseNumber(total);
    if (!number || *number <= *last) return std::nullopt;
    range.total = number;
  }
  return range;
}

bool HasToken(std::string_view value, std::string_view token) {
  size_t pos = 0;
  while (pos <= value.size()) {
    size_t end = value.find(',', pos);
    if (end == std::string_view::npos) end = value.size();
    if (SameName(Trim(value.substr(pos, end - pos)), token)) return true;
    pos = end + 1;
  }
  return false;
}

}  // namespace inet

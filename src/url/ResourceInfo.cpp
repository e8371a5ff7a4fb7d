#include "url/ResourceInfo.h"

#include <algorithm>
#include <cctype>

TclResourceInfo::TclResourceInfo() : date_(rtl::Now()) {}

void TclResourceInfo::Assign(const TclResourceInfo* source) {
  if (source == nullptr) {
    size_ = 0;
    name_.clear();
    date_ = 0;
    contentType_.clear();
    statusCode_ = 0;
    allowsRandomAccess_ = false;
    contentDisposition_.clear();
    compressed_ = false;
    etag_.clear();
    lastModified_.clear();
    return;
  }
  size_ = source->Size();
  name_ = source->Name();
  date_ = source->Date();
  contentType_ = source->ContentType();
  statusCode_ = source->StatusCode();
  allowsRandomAccess_ = source->AllowsRandomAccess();
  contentDisposition_ = source->ContentDisposition();
  compressed_ = source->Compressed();
  etag_ = source->ETag();
  lastModified_ = source->LastModified();
}

namespace {

constexpr std::size_t kMaxParamValueLength = 1000;

bool IsBlankOrControl(char c) { return static_cast<unsigned char>(c) <= ' '; }

bool IsQuote(char c) { return c == '"' || c == '\''; }

std::string RawParamValue(const std::string& source, const std::string& paramName) {
  std::size_t start;
  if (paramName.empty() && !source.empty()) {
    start = 0;
  } else {
    std::string lower = source;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    std::size_t found = lower.find(paramName);
    if (found == std::string::npos) return std::string();
    start = found + paramName.size();
  }
  std::string taken = source.substr(start, kMaxParamValueLength);

  bool quoted = false;
  char quoteChar = '\0';
  for (std::size_t i = 0; i < taken.size(); ++i) {
    char c = taken[i];
    if (quoteChar == '\0' && IsQuote(c)) {
      quoteChar = c;
      quoted = !quoted;
    } else if (quoteChar != '\0' && c == quoteChar) {
      quoted = !quoted;
    }
    if (!quoted && c == ';') return taken.substr(0, i);
  }
  return taken;
}

}  // namespace

std::string GetHeaderParamValue(const std::string& source, const std::string& paramName) {
  std::string raw = RawParamValue(source, paramName);
  std::size_t first = 0;
  while (first < raw.size() && IsBlankOrControl(raw[first])) ++first;
  std::size_t last = raw.size();
  while (last > first && IsBlankOrControl(raw[last - 1])) --last;
  std::string trimmed = raw.substr(first, last - first);
  if (!trimmed.empty() && IsQuote(trimmed.front()) && IsQuote(trimmed.back())) {
    // A lone quote is both first and last: the text between is empty.
    if (trimmed.size() < 2) return std::string();
    return trimmed.substr(1, trimmed.size() - 2);
  }
  return trimmed;
}

#include "rtl/Exceptions.h"

#include <cstdio>
#include <vector>

namespace rtl {

std::string FormatV(const char* format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  int needed = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  if (needed <= 0) return std::string();
  std::vector<char> buffer(static_cast<size_t>(needed) + 1);
  std::vsnprintf(buffer.data(), buffer.size(), format, args);
  return std::string(buffer.data(), static_cast<size_t>(needed));
}

std::string Format(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string result = FormatV(format, args);
  va_end(args);
  return result;
}

EAssertionFailed::EAssertionFailed(const std::string& message, const std::string& module, int line)
    : Exception(Format("%s (%s, line %d)", message.c_str(), module.c_str(), line)) {}

void Assert(bool condition, const std::string& message, const char* module, int line) {
  if (!condition) throw EAssertionFailed(message, module, line);
}

void RaiseListIndexError(long long index) {
  throw EListError(Format("List index out of bounds (%lld)", index));
}

}  // namespace rtl

// Header parameter extraction over arbitrary header texts and parameter names.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "url/ResourceInfo.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // First byte splits the input into a parameter name and a header text.
  if (size == 0) return 0;
  std::size_t nameLength = data[0] % 16;
  const char* text = reinterpret_cast<const char*>(data + 1);
  std::size_t rest = size - 1;
  if (nameLength > rest) nameLength = rest;
  std::string name(text, nameLength);
  std::string source(text + nameLength, rest - nameLength);
  std::string value = GetHeaderParamValue(source, name);
  // The value is always a piece of the header text, never longer than the window.
  if (value.size() > 1000 || (!value.empty() && source.find(value) == std::string::npos)) {
    std::abort();
  }
  return 0;
}

// Feeds arbitrary bytes to the update-list entry parser and checks what must
// hold for any input: an accepted entry has a real kind and a path that stays
// inside the application folder, and the quoted form of that path reads back
// as the same entry.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "app/UpdateEntry.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

bool HasParentSegment(std::string_view path) {
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find_first_of("/\\", start);
    if (end == std::string_view::npos) end = path.size();
    if (path.substr(start, end - start) == "..") return true;
    start = end + 1;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view value(reinterpret_cast<const char*>(data), size);
  auto entry = app::CheckEntry(value);
  if (!entry) return 0;
  const std::string& path = entry->Path;
  Check(entry->Kind != -1);
  Check(!path.empty());
  Check(path.front() != '/' && path.front() != '\\');
  Check(!HasParentSegment(path));
  Check(path.find('\0') == std::string::npos);

  std::string quoted = std::to_string(entry->Kind) + ",\"";
  for (char c : path) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  quoted += '"';
  auto again = app::CheckEntry(quoted);
  Check(again && *again == *entry);
  return 0;
}

// Feeds arbitrary bytes to the INI parser and checks what must hold for any
// input: the text survives a round trip unchanged, every listed value reads
// back, and a write changes exactly the one value it names.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/IniFile.h"

namespace {

std::string_view Trim(std::string_view text) {
  auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

bool SameName(std::string_view a, std::string_view b) {
  a = Trim(a);
  b = Trim(b);
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

void Check(bool condition) {
  if (!condition) std::abort();
}

// Splits the first bytes of the input into three short names for a write.
std::string_view Take(std::string_view& input, std::size_t limit) {
  std::size_t size = input.empty() ? 0 : static_cast<unsigned char>(input.front()) % limit;
  if (!input.empty()) input.remove_prefix(1);
  size = std::min(size, input.size());
  std::string_view part = input.substr(0, size);
  input.remove_prefix(size);
  return part;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  auto document = platform::IniDocument::Parse(input);
  Check(document.Text() == input);

  for (const std::string& section : document.Sections()) {
    Check(document.HasSection(section));
    for (const auto& [key, value] : document.SectionValues(section)) {
      auto read = document.Read(section, key);
      Check(read && *read == value);
    }
  }

  std::string_view rest = input;
  std::string section(Take(rest, 12));
  std::string key(Take(rest, 12));
  std::string value(Take(rest, 24));
  auto before = document;
  if (document.Write(section, key, value)) {
    auto reparsed = platform::IniDocument::Parse(document.Text());
    auto read = reparsed.Read(section, key);
    Check(read && *read == Trim(value));
    for (const std::string& name : before.Sections()) {
      for (const auto& [otherKey, otherValue] : before.SectionValues(name)) {
        auto now = reparsed.Read(name, otherKey);
        if (SameName(name, section) && SameName(otherKey, key)) {
          Check(now && *now == Trim(value));
        } else {
          Check(now && *now == otherValue);
        }
      }
    }
    document = reparsed;
    document.DeleteKey(section, key);
    Check(!document.Read(section, key));
  }
  return 0;
}

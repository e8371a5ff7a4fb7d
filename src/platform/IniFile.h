// INI profile files: sections in brackets, key=value lines, ';' comments.
//
// IniDocument is the parsed file held in memory; it keeps every line byte for
// byte, so writing one value leaves all other sections, keys, comments, blank
// lines, line ends and their order as they were. The free functions open, use
// and close the file on every call (nothing is cached) and replace it atomically
// (temporary file + rename in the same folder) when they write.
//
// Rules:
// - section and key names are matched without regard to ASCII letter case and
//   without their surrounding blanks; other bytes (UTF-8 text) pass unchanged;
// - a value is the text after the first '=' without surrounding blanks;
// - a section that occurs more than once is read as one section (first
//   occurrence of a key wins); lines before the first section belong to none;
// - lines that are neither a section, a comment nor key=value are kept and
//   otherwise ignored, as is a key line whose key is empty;
// - line ends may be "\n" or "\r\n"; new lines use the file's first line end;
// - names and values that could not be read back as written (a line break
//   anywhere, '=' in a key, ']' in a section name, a key starting with ';' or
//   '[', an empty name) are refused with error 87.
//
// IniDocument has no internal locking: one thread at a time. The free
// functions may be called from any thread; writes are serialised, within this
// process and with other processes using these functions (an advisory lock on
// the file's folder), so concurrent writers cannot lose each other's change.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace platform {

class IniDocument {
 public:
  IniDocument() = default;
  static IniDocument Parse(std::string_view text);

  // The document as file contents; equal to the parsed text until changed.
  std::string Text() const;

  std::optional<std::string> Read(std::string_view section, std::string_view key) const;
  // Sets Key=Value, adding the section at the end and the key after the
  // section's last key when they are missing. False (error 87) for names or
  // values that cannot be stored.
  bool Write(std::string_view section, std::string_view key, std::string_view value);
  // True when something was removed.
  bool DeleteKey(std::string_view section, std::string_view key);
  bool DeleteSection(std::string_view section);

  bool HasSection(std::string_view section) const;
  // Names as written in the file, first spelling of each, in file order.
  std::vector<std::string> Sections() const;
  std::vector<std::string> SectionKeys(std::string_view section) const;
  std::vector<std::pair<std::string, std::string>> SectionValues(std::string_view section) const;

 private:
  enum class LineKind { kOther, kBlank, kComment, kSection, kKey };
  struct Line {
    std::string text;  // without the line end
    std::string eol;   // "\n", "\r\n" or "" for a last line without one
    LineKind kind = LineKind::kOther;
    std::string name;   // trimmed section or key name
    std::string value;  // trimmed value of a key line
  };

  static Line Classify(std::string text, std::string eol, bool first);
  // Index of the key line, or -1.
  long FindKey(std::string_view section, std::string_view key) const;
  // Calls Visit(index) for every line inside the named section(s).
  template <typename Visit>
  void ForEachLineIn(std::string_view section, Visit visit) const;
  void InsertLine(std::size_t at, std::string text);

  std::vector<Line> lines_;
  std::string eol_ = "\n";
};

// Reads Key in Section of FileName, or Default when the file, section or key
// is missing (last error 2 when the file is missing).
std::string GetPrivateProfileString(std::string_view section, std::string_view key,
                                    std::string_view defaultValue, const std::string& fileName);
// The value read as a decimal integer (optional sign, then digits; text after
// them is ignored), or Default when it is missing, empty, not a number or out
// of range.
int GetPrivateProfileInt(std::string_view section, std::string_view key, int defaultValue,
                         const std::string& fileName);
// Writes Key=Value into Section, creating the file and the section when
// needed. Fails with 3 when the file's folder is missing, 87 for bad names.
bool WritePrivateProfileString(std::string_view section, std::string_view key,
                               std::string_view value, const std::string& fileName);
// Remove a key or a whole section; a missing file, section or key is success.
bool DeleteProfileKey(std::string_view section, std::string_view key, const std::string& fileName);
bool DeleteProfileSection(std::string_view section, const std::string& fileName);

std::vector<std::string> GetPrivateProfileSectionNames(const std::string& fileName);
std::vector<std::string> GetPrivateProfileSectionKeys(std::string_view section,
                                                      const std::string& fileName);
std::vector<std::pair<std::string, std::string>> GetPrivateProfileSection(std::string_view section,
                                                                          const std::string& fileName);

}  // namespace platform

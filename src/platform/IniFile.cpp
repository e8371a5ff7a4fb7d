#include "platform/IniFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <mutex>

#include "platform/Files.h"
#include "platform/LastError.h"

namespace platform {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameName(std::string_view a, std::string_view b) {
  a = Trim(a);
  b = Trim(b);
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

bool HasLineBreak(std::string_view text) { return text.find_first_of("\r\n") != std::string_view::npos; }

bool ValidSection(std::string_view section) {
  return !Trim(section).empty() && !HasLineBreak(section) && section.find(']') == std::string_view::npos;
}

bool ValidKey(std::string_view key) {
  std::string_view name = Trim(key);
  return !name.empty() && !HasLineBreak(key) && key.find('=') == std::string_view::npos &&
         name.front() != ';' && name.front() != '[';
}

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

// Serialises read-modify-write cycles of this process.
std::mutex& WriteMutex() {
  static std::mutex mutex;
  return mutex;
}

// Serialises read-modify-write cycles of other processes using this code on
// files of the same folder. The folder is locked rather than the file, because
// the file is replaced by a rename and a lock on it would stay with the old
// inode; locking the folder also leaves no lock file behind.
class FolderLock {
 public:
  explicit FolderLock(const std::string& folder)
      : fd_(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
    if (fd_ >= 0) {
      while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
      }
    }
  }
  ~FolderLock() {
    if (fd_ >= 0) ::close(fd_);
  }
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;

 private:
  int fd_;
};

// Loads FileName; a missing file is an empty document when MissingIsEmpty.
bool LoadDocument(const std::string& fileName, IniDocument& document, bool missingIsEmpty) {
  std::string text;
  if (!ReadWholeFile(fileName, text)) {
    if (missingIsEmpty && GetLastError() == kErrorFileNotFound) {
      document = IniDocument();
      return true;
    }
    return false;
  }
  document = IniDocument::Parse(text);
  return true;
}

// Applies Change to the file's document and stores the result when Change
// reports a modification.
template <typename Change>
bool ModifyFile(const std::string& fileName, Change change) {
  std::lock_guard<std::mutex> lock(WriteMutex());
  std::string folder = ExtractFileDir(fileName);
  if (!folder.empty() && !DirectoryExists(folder)) {
    SetLastError(kErrorPathNotFound);
    return false;
  }
  FolderLock folderLock(folder.empty() ? std::string(".") : folder);
  IniDocument document;
  if (!LoadDocument(fileName, document, true)) return false;
  bool changed = false;
  if (!change(document, changed)) return false;
  if (!changed) {
    SetLastError(kErrorSuccess);
    return true;
  }
  return WriteFileAtomically(fileName, document.Text());
}

}  // namespace

IniDocument::Line IniDocument::Classify(std::string text, std::string eol, bool first) {
  Line line;
  std::string_view body = text;
  if (first && body.starts_with(kByteOrderMark)) body.remove_prefix(kByteOrderMark.size());
  std::string_view trimmed = Trim(body);
  if (trimmed.empty()) {
    line.kind = LineKind::kBlank;
  } else if (trimmed.front() == ';') {
    line.kind = LineKind::kComment;
  } else if (trimmed.front() == '[') {
    std::string_view name = trimmed.substr(1);
    name = name.substr(0, name.find(']'));
    line.kind = LineKind::kSection;
    line.name = std::string(Trim(name));
  } else if (auto equals = trimmed.find('='); equals != std::string_view::npos) {
    std::string_view key = Trim(trimmed.substr(0, equals));
    if (!key.empty()) {
      line.kind = LineKind::kKey;
      line.name = std::string(key);
      line.value = std::string(Trim(trimmed.substr(equals + 1)));
    }
  }
  line.text = std::move(text);
  line.eol = std::move(eol);
  return line;
}

IniDocument IniDocument::Parse(std::string_view text) {
  IniDocument document;
  bool eolChosen = false;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t newline = text.find('\n', start);
    std::string eol;
    std::size_t end;
    if (newline == std::string_view::npos) {
      end = text.size();
    } else {
      end = newline;
      eol = "\n";
      if (end > start && text[end - 1] == '\r') {
        --end;
        eol = "\r\n";
      }
      if (!eolChosen) {
        document.eol_ = eol;
        eolChosen = true;
      }
    }
    document.lines_.push_back(Classify(std::string(text.substr(start, end - start)), std::move(eol),
                                       document.lines_.empty()));
    start = newline == std::string_view::npos ? text.size() : newline + 1;
  }
  return document;
}

std::string IniDocument::Text() const {
  std::string text;
  for (const Line& line : lines_) {
    text += line.text;
    text += line.eol;
  }
  return text;
}

template <typename Visit>
void IniDocument::ForEachLineIn(std::string_view section, Visit visit) const {
  bool inside = false;
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    if (lines_[i].kind == LineKind::kSection) {
      inside = SameName(lines_[i].name, section);
      if (inside) visit(i);
      continue;
    }
    if (inside) visit(i);
  }
}

long IniDocument::FindKey(std::string_view section, std::string_view key) const {
  long found = -1;
  ForEachLineIn(section, [&](std::size_t i) {
    if (found < 0 && lines_[i].kind == LineKind::kKey && SameName(lines_[i].name, key)) {
      found = static_cast<long>(i);
    }
  });
  return found;
}

std::optional<std::string> IniDocument::Read(std::string_view section, std::string_view key) const {
  long index = FindKey(section, key);
  if (index < 0) return std::nullopt;
  return lines_[static_cast<std::size_t>(index)].value;
}

void IniDocument::InsertLine(std::size_t at, std::string text) {
  // The line before may be a last line without a line end.
  if (at > 0 && lines_[at - 1].eol.empty()) lines_[at - 1].eol = eol_;
  std::string eol = eol_;
  lines_.insert(lines_.begin() + static_cast<long>(at), Classify(std::move(text), std::move(eol), at == 0));
}

bool IniDocument::Write(std::string_view section, std::string_view key, std::string_view value) {
  if (!ValidSection(section) || !ValidKey(key) || HasLineBreak(value)) {
    SetLastError(kErrorInvalidParameter);
    return false;
  }
  std::string_view cleanValue = Trim(value);
  long index = FindKey(section, key);
  if (index >= 0) {
    Line& line = lines_[static_cast<std::size_t>(index)];
    std::string eol = line.eol;
    std::string bom(index == 0 && line.text.starts_with(kByteOrderMark) ? kByteOrderMark : "");
    line = Classify(bom + line.name + "=" + std::string(cleanValue), std::move(eol), index == 0);
    return true;
  }
  std::string newLine = std::string(Trim(key)) + "=" + std::string(cleanValue);
  // After the last key of the (first occurrence of the) section, else after its header.
  long header = -1;
  long lastKey = -1;
  bool inFirst = false;
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    if (lines_[i].kind == LineKind::kSection) {
      if (header >= 0 && inFirst) break;
      inFirst = SameName(lines_[i].name, section);
      if (inFirst) header = static_cast<long>(i);
      continue;
    }
    if (inFirst && lines_[i].kind == LineKind::kKey) lastKey = static_cast<long>(i);
  }
  if (header >= 0) {
    InsertLine(static_cast<std::size_t>((lastKey >= 0 ? lastKey : header) + 1), std::move(newLine));
    return true;
  }
  InsertLine(lines_.size(), "[" + std::string(Trim(section)) + "]");
  InsertLine(lines_.size(), std::move(newLine));
  return true;
}

bool IniDocument::DeleteKey(std::string_view section, std::string_view key) {
  bool removed = false;
  for (long index = FindKey(section, key); index >= 0; index = FindKey(section, key)) {
    lines_.erase(lines_.begin() + index);
    removed = true;
  }
  return removed;
}

bool IniDocument::DeleteSection(std::string_view section) {
  std::vector<std::size_t> doomed;
  ForEachLineIn(section, [&](std::size_t i) { doomed.push_back(i); });
  for (auto it = doomed.rbegin(); it != doomed.rend(); ++it) {
    lines_.erase(lines_.begin() + static_cast<long>(*it));
  }
  return !doomed.empty();
}

bool IniDocument::HasSection(std::string_view section) const {
  for (const Line& line : lines_) {
    if (line.kind == LineKind::kSection && SameName(line.name, section)) return true;
  }
  return false;
}

std::vector<std::string> IniDocument::Sections() const {
  std::vector<std::string> names;
  for (const Line& line : lines_) {
    if (line.kind != LineKind::kSection) continue;
    bool seen = false;
    for (const std::string& name : names) seen = seen || SameName(name, line.name);
    if (!seen) names.push_back(line.name);
  }
  return names;
}

std::vector<std::pair<std::string, std::string>> IniDocument::SectionValues(std::string_view section) const {
  std::vector<std::pair<std::string, std::string>> values;
  ForEachLineIn(section, [&](std::size_t i) {
    const Line& line = lines_[i];
    if (line.kind != LineKind::kKey) return;
    for (const auto& known : values) {
      if (SameName(known.first, line.name)) return;
    }
    values.emplace_back(line.name, line.value);
  });
  return values;
}

std::vector<std::string> IniDocument::SectionKeys(std::string_view section) const {
  std::vector<std::string> keys;
  for (auto& [key, value] : SectionValues(section)) keys.push_back(std::move(key));
  return keys;
}

// --- File functions ------------------------------------------------------------

std::string GetPrivateProfileString(std::string_view section, std::string_view key,
                                    std::string_view defaultValue, const std::string& fileName) {
  IniDocument document;
  if (!LoadDocument(fileName, document, false)) return std::string(defaultValue);
  auto value = document.Read(section, key);
  if (!value) {
    SetLastError(kErrorFileNotFound);
    return std::string(defaultValue);
  }
  SetLastError(kErrorSuccess);
  return *value;
}

int GetPrivateProfileInt(std::string_view section, std::string_view key, int defaultValue,
                         const std::string& fileName) {
  IniDocument document;
  if (!LoadDocument(fileName, document, false)) return defaultValue;
  auto value = document.Read(section, key);
  if (!value) return defaultValue;
  std::string_view text = *value;
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  int result = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), result);
  if (error != std::errc() || end == text.data()) return defaultValue;
  return result;
}

bool WritePrivateProfileString(std::string_view section, std::string_view key,
                               std::string_view value, const std::string& fileName) {
  return ModifyFile(fileName, [&](IniDocument& document, bool& changed) {
    if (!document.Write(section, key, value)) return false;
    changed = true;
    return true;
  });
}

bool DeleteProfileKey(std::string_view section, std::string_view key, const std::string& fileName) {
  if (!FileExists(fileName)) return true;
  return ModifyFile(fileName, [&](IniDocument& document, bool& changed) {
    changed = document.DeleteKey(section, key);
    return true;
  });
}

bool DeleteProfileSection(std::string_view section, const std::string& fileName) {
  if (!FileExists(fileName)) return true;
  return ModifyFile(fileName, [&](IniDocument& document, bool& changed) {
    changed = document.DeleteSection(section);
    return true;
  });
}

std::vector<std::string> GetPrivateProfileSectionNames(const std::string& fileName) {
  IniDocument document;
  if (!LoadDocument(fileName, document, false)) return {};
  return document.Sections();
}

std::vector<std::string> GetPrivateProfileSectionKeys(std::string_view section,
                                                      const std::string& fileName) {
  IniDocument document;
  if (!LoadDocument(fileName, document, false)) return {};
  return document.SectionKeys(section);
}

std::vector<std::pair<std::string, std::string>> GetPrivateProfileSection(std::string_view section,
                                                                          const std::string& fileName) {
  IniDocument document;
  if (!LoadDocument(fileName, document, false)) return {};
  return document.SectionValues(section);
}

}  // namespace platform

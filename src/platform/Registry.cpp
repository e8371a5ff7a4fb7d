#include "platform/Registry.h"

#include <dirent.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>

#include "platform/Files.h"
#include "platform/LastError.h"

namespace platform {

namespace {

constexpr char kValuePrefix = '@';

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

std::string Encode(std::string_view name) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string result;
  for (std::size_t i = 0; i < name.size(); ++i) {
    auto c = static_cast<unsigned char>(name[i]);
    bool escape = c < 0x20 || c == 0x7F || c == '/' || c == '%' ||
                  (i == 0 && (c == '.' || c == static_cast<unsigned char>(kValuePrefix)));
    if (escape) {
      result += '%';
      result += kHex[c >> 4];
      result += kHex[c & 0xF];
    } else {
      result += static_cast<char>(c);
    }
  }
  return result;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

std::string Decode(std::string_view stored) {
  std::string result;
  for (std::size_t i = 0; i < stored.size(); ++i) {
    if (stored[i] == '%' && i + 2 < stored.size() && HexDigit(stored[i + 1]) >= 0 &&
        HexDigit(stored[i + 2]) >= 0) {
      result += static_cast<char>(HexDigit(stored[i + 1]) * 16 + HexDigit(stored[i + 2]));
      i += 2;
    } else {
      result += stored[i];
    }
  }
  return result;
}

enum class EntryKind { kKey, kValue };

// Entry names of Folder of one kind, as stored (not decoded).
std::vector<std::string> ListEntries(const std::string& folder, EntryKind kind) {
  std::vector<std::string> names;
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return names;
  while (dirent* entry = ::readdir(dir)) {
    std::string_view name = entry->d_name;
    // Dot names are the folder links and temporary files of atomic writes.
    if (name.empty() || name.front() == '.') continue;
    bool isValue = name.front() == kValuePrefix;
    struct stat st {};
    std::string full = folder + std::string(name);
    if (::stat(full.c_str(), &st) != 0) continue;
    if (kind == EntryKind::kValue && isValue && S_ISREG(st.st_mode)) names.emplace_back(name);
    if (kind == EntryKind::kKey && !isValue && S_ISDIR(st.st_mode)) names.emplace_back(name);
  }
  ::closedir(dir);
  return names;
}

// The stored entry name matching Name, or "".
std::string FindEntry(const std::string& folder, std::string_view name, EntryKind kind) {
  std::string wanted = kind == EntryKind::kValue ? kValuePrefix + Encode(name) : Encode(name);
  std::string found;
  for (const std::string& entry : ListEntries(folder, kind)) {
    if (entry == wanted) return entry;  // the exact spelling wins over a case variant
    if (found.empty() && SameName(Decode(entry), kind == EntryKind::kValue ? kValuePrefix + std::string(name)
                                                                          : std::string(name))) {
      found = entry;
    }
  }
  return found;
}

std::vector<std::string> SplitKeyPath(std::string_view path) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find('\\', start);
    if (end == std::string_view::npos) end = path.size();
    if (end > start) parts.emplace_back(path.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

// Folder of the key (with trailing '/'), or "" with last error set.
std::string ResolveKey(std::string_view keyPath, bool canCreate) {
  std::string folder = RegistryRoot();
  if (canCreate && !ForceDirectories(folder)) return std::string();
  if (!DirectoryExists(folder)) {
    SetLastError(kErrorFileNotFound);
    return std::string();
  }
  for (const std::string& part : SplitKeyPath(keyPath)) {
    std::string entry = FindEntry(folder, part, EntryKind::kKey);
    if (entry.empty()) {
      if (!canCreate) {
        SetLastError(kErrorFileNotFound);
        return std::string();
      }
      entry = Encode(part);
      if (::mkdir((folder + entry).c_str(), 0700) != 0 && errno != EEXIST) {
        SetLastErrorFromErrno();
        return std::string();
      }
    }
    folder += entry + "/";
  }
  return folder;
}

}  // namespace

std::string RegistryRoot() {
  std::string config;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg == '/') {
    config = xdg;
  } else {
    const char* home = std::getenv("HOME");
    std::string homeFolder = home && *home ? home : "";
    if (homeFolder.empty()) {
      passwd record{};
      passwd* found = nullptr;
      char buffer[4096];
      if (::getpwuid_r(::getuid(), &record, buffer, sizeof buffer, &found) == 0 && found) {
        homeFolder = found->pw_dir;
      }
    }
    config = IncludeTrailingPathDelimiter(homeFolder) + ".config";
  }
  return IncludeTrailingPathDelimiter(config) + "liveupdate/registry/";
}

bool RegistryKey::Open(std::string_view keyPath, bool canCreate) {
  Close();
  folder_ = ResolveKey(keyPath, canCreate);
  return IsOpen();
}

void RegistryKey::Close() { folder_.clear(); }

std::string RegistryKey::FindValueFile(std::string_view name) const {
  if (!IsOpen()) return std::string();
  std::string entry = FindEntry(folder_, name, EntryKind::kValue);
  return entry.empty() ? std::string() : folder_ + entry;
}

bool RegistryKey::ValueExists(std::string_view name) const { return !FindValueFile(name).empty(); }

std::int64_t RegistryKey::ValueSize(std::string_view name) const {
  std::string file = FindValueFile(name);
  if (file.empty()) {
    SetLastError(IsOpen() ? kErrorFileNotFound : kErrorInvalidHandle);
    return -1;
  }
  return FileSize(file);
}

bool RegistryKey::ReadBinary(std::string_view name, std::string& data) const {
  std::string file = FindValueFile(name);
  if (file.empty()) {
    SetLastError(IsOpen() ? kErrorFileNotFound : kErrorInvalidHandle);
    return false;
  }
  return ReadWholeFile(file, data);
}

bool RegistryKey::WriteBinary(std::string_view name, std::string_view data) {
  if (!IsOpen()) {
    SetLastError(kErrorInvalidHandle);
    return false;
  }
  std::string file = FindValueFile(name);
  if (file.empty()) file = folder_ + kValuePrefix + Encode(name);
  return WriteFileAtomically(file, data);
}

bool RegistryKey::DeleteValue(std::string_view name) {
  std::string file = FindValueFile(name);
  if (file.empty()) {
    SetLastError(IsOpen() ? kErrorFileNotFound : kErrorInvalidHandle);
    return false;
  }
  return DeleteFile(file);
}

std::vector<std::string> RegistryKey::ValueNames() const {
  std::vector<std::string> names;
  if (!IsOpen()) return names;
  for (const std::string& entry : ListEntries(folder_, EntryKind::kValue)) {
    names.push_back(Decode(std::string_view(entry).substr(1)));
  }
  return names;
}

std::vector<std::string> RegistryKey::SubKeyNames() const {
  std::vector<std::string> names;
  if (!IsOpen()) return names;
  for (const std::string& entry : ListEntries(folder_, EntryKind::kKey)) names.push_back(Decode(entry));
  return names;
}

bool DeleteRegistryKey(std::string_view keyPath) {
  if (SplitKeyPath(keyPath).empty()) {
    // The hive's root is not a key that can be removed.
    SetLastError(kErrorAccessDenied);
    return false;
  }
  std::string folder = ResolveKey(keyPath, false);
  if (folder.empty()) return false;
  std::error_code error;
  std::filesystem::remove_all(folder, error);
  if (error) {
    SetLastErrorFromErrno(error.value());
    return false;
  }
  return true;
}

}  // namespace platform

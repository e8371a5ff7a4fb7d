// The current user's registry, kept as a folder tree:
//   $XDG_CONFIG_HOME (default ~/.config) / liveupdate / registry /
// A key path of backslash-separated names ("Software\\Foo\\Bar") maps to nested
// folders; each value is one file holding its bytes, replaced atomically when
// written. Key and value names are matched without regard to ASCII letter
// case, as the names of the hive they stand in for; a name is stored with the
// spelling it was created with. Any byte may appear in a name: bytes that a
// folder or file name cannot hold ('/', '%', control characters, a leading '.'
// or '@') are stored as %XX. Value files carry a leading '@', so a value and a
// subkey of the same name can exist side by side.
//
// A RegistryKey object belongs to the thread that uses it; separate objects may
// be used on separate threads.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// The folder of the hive with a trailing '/'.
std::string RegistryRoot();

class RegistryKey {
 public:
  RegistryKey() = default;
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;

  // Opens the key; with CanCreate every missing key on the way is created,
  // else a missing key fails with 2. An empty path opens the hive's root.
  bool Open(std::string_view keyPath, bool canCreate);
  void Close();
  bool IsOpen() const { return !folder_.empty(); }
  // The key's folder with a trailing '/' (empty when closed).
  const std::string& Folder() const { return folder_; }

  bool ValueExists(std::string_view name) const;
  // Size in bytes of the value, or -1 (last error 2) when it is missing.
  std::int64_t ValueSize(std::string_view name) const;
  // Fails with 2 when the value is missing, 6 when the key is not open.
  bool ReadBinary(std::string_view name, std::string& data) const;
  bool WriteBinary(std::string_view name, std::string_view data);
  bool DeleteValue(std::string_view name);

  std::vector<std::string> ValueNames() const;
  std::vector<std::string> SubKeyNames() const;

 private:
  // File of an existing value ("" when missing).
  std::string FindValueFile(std::string_view name) const;

  std::string folder_;
};

// Removes a key with all its values and subkeys (2 when it does not exist).
bool DeleteRegistryKey(std::string_view keyPath);

}  // namespace platform

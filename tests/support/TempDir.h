// A temporary folder for one test, removed with everything in it at the end.
#pragma once

#include <set>
#include <string>

namespace testing_support {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& Path() const { return path_; }
  // Path of a file inside the folder.
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Whole-file helpers for assertions on bytes on disk.
std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& data);
bool FileExists(const std::string& path);
// The names in a folder, without "." and ".." (empty when it cannot be read).
std::set<std::string> FolderEntries(const std::string& folder);
// Deterministic pseudo-random bytes.
std::string RandomBytes(size_t size, unsigned seed);

}  // namespace testing_support

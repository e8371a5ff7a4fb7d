// The install manifest: the ordered (kind, path) entries whose download the run
// attempted, which installation consumes. Path is relative to the application
// folder with this platform's separator '/', so it is the list's text as is.
//
// TclInstallManifest belongs to the user-interface thread; no locking.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace app {

struct TclManifestEntry {
  int Kind = 0;
  std::string Path;

  friend bool operator==(const TclManifestEntry&, const TclManifestEntry&) = default;
};

class TclInstallManifest {
 public:
  void Add(int kind, std::string path) { entries_.push_back({kind, std::move(path)}); }
  void Clear() { entries_.clear(); }
  bool Empty() const { return entries_.empty(); }
  std::size_t Size() const { return entries_.size(); }
  const std::vector<TclManifestEntry>& Entries() const { return entries_; }

 private:
  std::vector<TclManifestEntry> entries_;
};

}  // namespace app

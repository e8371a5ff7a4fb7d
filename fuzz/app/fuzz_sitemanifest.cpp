// Feeds arbitrary bytes to the signed-manifest parser. A manifest is read only
// after its signature checked out, but a publisher's tool or a leaked key can
// still hand it anything. What must hold: the parser either refuses with a
// reason or accepts a manifest that writes out and reads back as itself, with
// every digest 64 lower-case hex digits and no path empty or holding a
// control character.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "app/SiteManifest.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

bool IsLowerHexDigest(const std::string& digest) {
  if (digest.size() != 64) return false;
  for (char c : digest) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  std::string error;
  auto manifest = app::ParseSiteManifest(text, error);
  if (!manifest) {
    Check(!error.empty());
    return 0;
  }
  for (const auto& [path, digest] : manifest->Sums) {
    Check(!path.empty());
    for (char c : path) Check(static_cast<unsigned char>(c) >= ' ');
    Check(IsLowerHexDigest(digest));
  }
  std::string again;
  auto reread = app::ParseSiteManifest(app::FormatSiteManifest(*manifest), again);
  Check(reread.has_value());
  Check(reread->Version == manifest->Version && reread->Expires == manifest->Expires &&
        reread->Sums == manifest->Sums);
  return 0;
}

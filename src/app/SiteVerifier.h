// What the updater checks of a signed update site when the settings file
// holds the publisher's key ("PublicKey" in section "tarvo"): the manifest's
// signature, that it has not expired, that the version it delivers is not
// older than the one installed nor than the one asked for (a replayed older
// site), and that the list and every file have the digest it gives. Any
// failure refuses the site: nothing is installed.
//
// Without a key nothing is checked (the update is taken as the server gives
// it), and the run says so once in its log.
//
// Threads: the user-interface thread's.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#include "app/SiteManifest.h"

namespace app {

class TclSiteVerifier {
 public:
  // PublicKeySetting is the setting's value; empty means no key.
  explicit TclSiteVerifier(std::string_view publicKeySetting);

  bool Enabled() const { return enabled_; }
  // Why the configured key cannot be used (not base64 of 32 bytes), if so.
  const std::optional<std::string>& KeyError() const { return keyError_; }

  // Checks the fetched manifest and signature; on success the manifest is
  // kept for the digests. Nothing when accepted, else the reason.
  std::optional<std::string> CheckManifest(std::string_view manifestText,
                                           std::string_view signature,
                                           std::string_view installedVersion,
                                           std::string_view askedVersion,
                                           std::chrono::system_clock::time_point now);
  // Checks a fetched file against the manifest's digest for ManifestPath
  // (kManifestListPath, or ManifestFilePath of an entry).
  std::optional<std::string> CheckFile(const std::string& manifestPath,
                                       const std::string& localFile) const;

 private:
  bool enabled_ = false;
  std::string key_;
  std::optional<std::string> keyError_;
  std::optional<TclSiteManifest> manifest_;
};

}  // namespace app

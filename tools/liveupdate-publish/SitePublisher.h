// Signing an update site: the folder that holds "tarvo/" (the update list
// "tarvo/livelist.txt" and the files under "tarvo/file/"). Writes the
// manifest "tarvo/livelist.sums" (the version, its expiry and the SHA-256 of
// the list and of every file under "file/") and its Ed25519 signature
// "tarvo/livelist.sums.sig", each replaced atomically; nothing else changes.
//
// Threads: stateless; any thread.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "SigningKey.h"
#include "app/SiteManifest.h"

namespace publish {

struct TclPublishRequest {
  std::string siteFolder;
  std::string version;
  int expiresDays = 30;
  std::chrono::system_clock::time_point now = std::chrono::system_clock::now();
};

struct TclPublishResult {
  bool ok = false;
  std::string error;                  // why nothing was written
  std::vector<std::string> warnings;  // list entries whose file is not there
  app::TclSiteManifest manifest;      // what was signed
};

TclPublishResult PublishSite(const TclPublishRequest& request, const TclSigningKey& key);

}  // namespace publish

// liveupdate-publish: makes the publisher's key, and signs an update site
// with it so that updaters configured with its public half install only
// what the site vouches for.
//
//   liveupdate-publish --new-key KEYFILE
//   liveupdate-publish --key KEYFILE --version V [--expires-days N] SITE_DIR
#include <CLI/CLI.hpp>
#include <cstdio>
#include <iostream>

#include "SigningKey.h"
#include "SitePublisher.h"

namespace {

constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

}  // namespace

int main(int argc, char** argv) {
  CLI::App cli{
      "Signs an update site for liveupdate: writes tarvo/livelist.sums (the version, its\n"
      "expiry and the SHA-256 of tarvo/livelist.txt and of every file under tarvo/file/)\n"
      "and its Ed25519 signature tarvo/livelist.sums.sig. Exit status: 0 done, 1 failed\n"
      "(nothing written), 2 bad usage.",
      "liveupdate-publish"};
  std::string newKey;
  std::string keyFile;
  publish::TclPublishRequest request;
  auto* newKeyOption = cli.add_option(
      "--new-key", newKey,
      "write a new private key to KEYFILE (PEM, mode 0600; an existing file is never replaced)\n"
      "and print the PublicKey= line for sms.ini's [tarvo] section");
  auto* keyOption = cli.add_option("--key", keyFile, "the private key that signs the site");
  auto* versionOption =
      cli.add_option("--version", request.version, "the version the site delivers");
  cli.add_option("--expires-days", request.expiresDays,
                 "days until updaters refuse the manifest (default 30)");
  auto* siteOption =
      cli.add_option("SITE_DIR", request.siteFolder, "the folder that holds tarvo/");
  newKeyOption->excludes(keyOption)->excludes(versionOption)->excludes(siteOption);
  keyOption->needs(versionOption)->needs(siteOption);
  try {
    cli.parse(argc, argv);
    if (newKey.empty() && keyFile.empty())
      throw CLI::RequiredError("--new-key KEYFILE or --key KEYFILE");
  } catch (const CLI::ParseError& e) {
    const int code = cli.exit(e);
    return code == 0 ? 0 : kExitUsage;
  }

  if (!newKey.empty()) {
    publish::TclSigningKey key = publish::TclSigningKey::Generate();
    std::string error;
    if (!key.Save(newKey, error)) {
      std::cerr << "liveupdate-publish: " << error << "\n";
      return kExitFailed;
    }
    std::cout << "PublicKey=" << key.PublicKeyBase64() << "\n";
    return 0;
  }

  std::string error;
  auto key = publish::TclSigningKey::Load(keyFile, error);
  if (!key) {
    std::cerr << "liveupdate-publish: " << error << "\n";
    return kExitFailed;
  }
  publish::TclPublishResult result = publish::PublishSite(request, *key);
  for (const std::string& warning : result.warnings)
    std::cerr << "liveupdate-publish: warning: " << warning << "\n";
  if (!result.ok) {
    std::cerr << "liveupdate-publish: " << result.error << "\n";
    return kExitFailed;
  }
  std::cout << "signed version " << result.manifest.Version << ": "
            << result.manifest.Sums.size() << " files, expires "
            << app::FormatUtcTimestamp(result.manifest.Expires) << "\n"
            << "PublicKey=" << key->PublicKeyBase64() << "\n";
  return 0;
}

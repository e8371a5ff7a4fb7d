#include "app/SiteVerifier.h"

#include "app/SiteSignature.h"

namespace app {

TclSiteVerifier::TclSiteVerifier(std::string_view publicKeySetting) {
  auto blank = [](char c) { return c == ' ' || c == '\t'; };
  while (!publicKeySetting.empty() && blank(publicKeySetting.front()))
    publicKeySetting.remove_prefix(1);
  while (!publicKeySetting.empty() && blank(publicKeySetting.back()))
    publicKeySetting.remove_suffix(1);
  enabled_ = !publicKeySetting.empty();
  if (!enabled_) return;
  auto key = Base64Decode(publicKeySetting);
  if (!key || key->size() != kEd25519KeyBytes) {
    keyError_ = "the PublicKey setting is not the base64 text of a 32-byte Ed25519 key";
    return;
  }
  key_ = std::move(*key);
}

std::optional<std::string> TclSiteVerifier::CheckManifest(
    std::string_view manifestText, std::string_view signature, std::string_view installedVersion,
    std::string_view askedVersion, std::chrono::system_clock::time_point now) {
  if (keyError_) return keyError_;
  if (signature.size() != kEd25519SignatureBytes)
    return "the signature is " + std::to_string(signature.size()) + " bytes, not " +
           std::to_string(kEd25519SignatureBytes);
  if (!VerifyEd25519(key_, manifestText, signature))
    return std::string("the manifest's signature does not match the configured key");
  std::string error;
  auto manifest = ParseSiteManifest(manifestText, error);
  if (!manifest) return error;
  if (now > manifest->Expires)
    return "the manifest expired at " + FormatUtcTimestamp(manifest->Expires);
  if (!installedVersion.empty() && CompareVersions(manifest->Version, installedVersion) < 0)
    return "the site delivers version " + manifest->Version + ", older than the installed " +
           std::string(installedVersion);
  if (CompareVersions(manifest->Version, askedVersion) < 0)
    return "the site delivers version " + manifest->Version + ", older than the version asked for " +
           std::string(askedVersion);
  manifest_ = std::move(manifest);
  return std::nullopt;
}

std::optional<std::string> TclSiteVerifier::CheckFile(const std::string& manifestPath,
                                                      const std::string& localFile) const {
  if (!manifest_) return std::string("no accepted manifest");
  auto expected = manifest_->Sums.find(manifestPath);
  if (expected == manifest_->Sums.end()) return manifestPath + " is not in the signed manifest";
  auto digest = FileSha256Hex(localFile);
  if (!digest) return std::string("the fetched file cannot be read");
  if (*digest != expected->second)
    return "SHA-256 " + *digest + " differs from the signed manifest's " + expected->second;
  return std::nullopt;
}

}  // namespace app

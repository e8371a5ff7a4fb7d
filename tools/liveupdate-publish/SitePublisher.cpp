#include "SitePublisher.h"

#include <filesystem>
#include <system_error>

#include "app/SiteSignature.h"
#include "app/UpdateEntry.h"
#include "app/UpdateList.h"
#include "platform/Files.h"
#include "platform/IniFile.h"

namespace publish {
namespace {

namespace fs = std::filesystem;

bool IsPrintableVersion(const std::string& version) {
  if (version.empty()) return false;
  for (char c : version) {
    if (static_cast<unsigned char>(c) <= 32 || c == 127) return false;
  }
  return true;
}

// The digest of every regular file below Folder, by its path relative to
// Base; false (Error set) when one cannot be read or named in the manifest.
bool AddFolder(const fs::path& base, const fs::path& folder, app::TclSiteManifest& manifest,
               std::string& error) {
  std::error_code code;
  if (!fs::exists(folder, code)) return true;
  for (fs::recursive_directory_iterator it(folder, code), end; !code && it != end;
       it.increment(code)) {
    if (!it->is_regular_file(code)) continue;
    const std::string relative = it->path().lexically_relative(base).generic_string();
    // A line end or backslash would need sha256sum's escapes, which the
    // updater does not read.
    if (relative.find_first_of("\n\r\\") != std::string::npos) {
      error = "cannot list \"" + relative + "\": its name holds a line break or a backslash";
      return false;
    }
    auto digest = app::FileSha256Hex(it->path().string());
    if (!digest) {
      error = "cannot read " + it->path().string();
      return false;
    }
    manifest.Sums[relative] = *digest;
  }
  if (code) error = "cannot list " + folder.string() + ": " + code.message();
  return !code;
}

// Every valid entry, in every section, whose file the site does not have.
std::vector<std::string> MissingFiles(const std::string& listText,
                                      const app::TclSiteManifest& manifest) {
  std::vector<std::string> missing;
  const platform::IniDocument list = platform::IniDocument::Parse(listText);
  for (const std::string& section : list.Sections()) {
    for (const std::string& value : app::ReadWorkList(list, section)) {
      auto entry = app::CheckEntry(value);
      if (entry && manifest.Sums.count(app::ManifestFilePath(entry->Path)) == 0)
        missing.push_back("[" + section + "] lists " + entry->Path +
                          ", which is not under tarvo/file/");
    }
  }
  return missing;
}

}  // namespace

TclPublishResult PublishSite(const TclPublishRequest& request, const TclSigningKey& key) {
  TclPublishResult result;
  const fs::path tarvo = fs::path(request.siteFolder) / "tarvo";
  const std::string listFile = (tarvo / app::kManifestListPath).string();
  if (!IsPrintableVersion(request.version)) {
    result.error = "the version must be a word without blanks or control characters";
    return result;
  }
  if (request.expiresDays < 1) {
    result.error = "--expires-days must be 1 or more";
    return result;
  }
  std::string listText;
  if (!platform::ReadWholeFile(listFile, listText)) {
    result.error = "no update list at " + listFile + " (SITE_DIR is the folder that holds tarvo/)";
    return result;
  }
  app::TclSiteManifest& manifest = result.manifest;
  manifest.Version = request.version;
  manifest.Expires = request.now + std::chrono::hours(24) * request.expiresDays;
  manifest.Sums[std::string(app::kManifestListPath)] = app::Sha256Hex(listText);
  if (!AddFolder(tarvo, tarvo / "file", manifest, result.error)) return result;
  result.warnings = MissingFiles(listText, manifest);

  const std::string text = app::FormatSiteManifest(manifest);
  const std::string sums = (tarvo / "livelist.sums").string();
  const std::string signature = (tarvo / "livelist.sums.sig").string();
  if (!platform::WriteFileAtomically(sums, text) ||
      !platform::WriteFileAtomically(signature, key.Sign(text))) {
    result.error = "cannot write " + sums + " and its signature";
    return result;
  }
  result.ok = true;
  return result;
}

}  // namespace publish

#include "app/UpdateList.h"

#include "app/ULiveconst.h"
#include "platform/Files.h"

namespace app {

std::vector<std::string> ReadWorkList(const platform::IniDocument& list, std::string_view section) {
  std::vector<std::string> values;
  for (int n = 1; n <= kListMaxEntries; ++n) {
    std::optional<std::string> value =
        list.Read(section, std::string(kListKeyPrefix) + std::to_string(n));
    if (!value || value->empty()) break;
    values.push_back(std::move(*value));
  }
  return values;
}

std::vector<std::string> ReadWorkList(std::string_view listText, std::string_view section) {
  return ReadWorkList(platform::IniDocument::Parse(listText), section);
}

std::vector<std::string> TakeWorkList(const std::string& listFile, std::string_view section) {
  std::string text;
  std::vector<std::string> values;
  if (platform::ReadWholeFile(listFile, text)) values = ReadWorkList(text, section);
  platform::DeleteFile(listFile);
  return values;
}

std::string StagingFolder(const std::string& appFolder) {
  return appFolder + std::string(kStagingFolderName);
}

std::string LocalListFile(const std::string& appFolder) {
  return StagingFile(appFolder, kLocalListFileName);
}

std::string StagingPath(const std::string& appFolder, std::string_view path) {
  return StagingFolder(appFolder) + "/" + std::string(path);
}

std::string InstallTarget(const std::string& appFolder, std::string_view path) {
  return appFolder + std::string(path);
}

std::string StagingFile(const std::string& appFolder, std::string_view name) {
  return StagingFolder(appFolder) + "/" + std::string(name);
}

bool IsReservedStagingPath(std::string_view path) {
  for (std::string_view name : {kLocalListFileName, kLocalSumsFileName, kLocalSignatureFileName,
                                kLogFileName, kOldLogFileName, kJournalFileName,
                                kInstallLockFileName}) {
    if (path == name) return true;
  }
  const std::string work = std::string(kInstallWorkFolderName);
  return path == work || path.substr(0, work.size() + 1) == work + "/";
}

}  // namespace app

#include "app/Installer.h"

#include <algorithm>
#include <cctype>

#include "app/Settings.h"
#include "app/ULiveconst.h"
#include "app/UpdateList.h"
#include "platform/Files.h"
#include "platform/Process.h"

namespace app {
namespace {

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

// Copies one staged file into place; true when it is installed.
bool InstallOne(const std::string& source, const std::string& target, bool program) {
  std::string folder = platform::ExtractFileDir(target);
  if (!folder.empty() && !platform::DirectoryExists(folder)) platform::ForceDirectories(folder);
  if (!platform::CopyFile(source, target, false)) return false;
  // A program that cannot be executed is not installed, even though its bytes are.
  if (program && !platform::SetExecuteBits(target)) return false;
  platform::DeleteFile(source);
  return true;
}

}  // namespace

std::string_view UpdaterReplacementName(const std::string& runningUpdaterPath) {
  std::string running = Lower(platform::ExtractFileName(runningUpdaterPath));
  return running == kUpdaterName1 ? kUpdaterName2 : kUpdaterName1;
}

int InstallFiles(const std::string& appFolder, const std::string& runningUpdaterPath,
                 const TclInstallManifest& manifest) {
  int result = 1;
  for (const TclManifestEntry& entry : manifest.Entries()) {
    std::string target;
    if (entry.Kind == kKindUpdater) {
      std::string_view name = UpdaterReplacementName(runningUpdaterPath);
      // Written before the copy and whatever it gives: the main application
      // then starts the copy that was meant to be current.
      WriteSetting(appFolder, kKeyUpdaterName, name);
      target = appFolder + std::string(name);
    } else {
      target = InstallTarget(appFolder, entry.Path);
    }
    bool program = entry.Kind == kKindRun || entry.Kind == kKindUpdater;
    if (!InstallOne(StagingPath(appFolder, entry.Path), target, program)) result = 0;
  }

  for (const TclManifestEntry& entry : manifest.Entries()) {
    std::string target = InstallTarget(appFolder, entry.Path);
    switch (entry.Kind) {
      case kKindRun:
        platform::StartProcess({target});
        break;
      case kKindFirstRun:
        WriteSetting(appFolder, kKeyFirstRun,
                     ReadSetting(appFolder, kKeyFirstRun, "") + "," + entry.Path);
        break;
      case kKindDelete:
        platform::DeleteFile(target);
        break;
      default:
        break;
    }
  }
  return result;
}

}  // namespace app

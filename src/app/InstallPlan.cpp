#include "app/InstallPlan.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <set>
#include <vector>

#include "app/Settings.h"
#include "app/SiteSignature.h"
#include "app/ULiveconst.h"
#include "app/UpdateList.h"
#include "platform/Files.h"

namespace app {
namespace {

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

bool Exists(const std::string& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0;
}

std::string WorkPath(const std::string& name, int step) {
  return std::string(kStagingFolderName) + "/" + std::string(kInstallWorkFolderName) + "/" + name +
         "-" + std::to_string(step);
}

// What the plan has changed so far, so that later steps see the folder as
// it will be when they run.
struct PlannedFolder {
  const std::string& appFolder;
  std::set<std::string> files;
  std::set<std::string> folders;
  std::map<std::string, std::optional<std::string>> settings;

  bool FileExists(const std::string& relative) const {
    return files.count(relative) != 0 || Exists(appFolder + relative);
  }
  // The folders above Relative that are still to be made, outermost first.
  std::vector<std::string> MissingFolders(const std::string& relative) {
    std::vector<std::string> missing;
    for (std::size_t slash = relative.find('/'); slash != std::string::npos;
         slash = relative.find('/', slash + 1)) {
      const std::string folder = relative.substr(0, slash);
      if (folders.count(folder) || platform::DirectoryExists(appFolder + folder)) continue;
      folders.insert(folder);
      missing.push_back(folder);
    }
    return missing;
  }
  std::optional<std::string> Setting(std::string_view key) {
    auto known = settings.find(std::string(key));
    if (known != settings.end()) return known->second;
    return settings[std::string(key)] = FindSetting(appFolder, key);
  }
  TclInstallStep SettingStep(TclStepKind kind, std::string_view key, std::string value) {
    TclInstallStep step;
    step.Kind = kind;
    step.Key = std::string(key);
    step.Old = Setting(key);
    step.New = value;
    settings[step.Key] = std::move(value);
    return step;
  }
};

}  // namespace

std::string_view UpdaterReplacementName(const std::string& runningUpdaterPath) {
  std::string running = Lower(platform::ExtractFileName(runningUpdaterPath));
  return running == kUpdaterName1 ? kUpdaterName2 : kUpdaterName1;
}

std::string KeptPath(int step) {
  return WorkPath("kept", step);
}

std::string PreparedPath(int step) {
  return WorkPath("new", step);
}

std::optional<TclInstallJournal> PlanInstallation(const std::string& appFolder,
                                                  const std::string& runningUpdaterPath,
                                                  const TclInstallManifest& manifest,
                                                  const std::string& version,
                                                  TclPlanFailure& failure) {
  TclInstallJournal journal;
  journal.Version = version;
  PlannedFolder planned{appFolder, {}, {}, {}};
  const std::string staging = std::string(kStagingFolderName) + "/";

  for (const TclManifestEntry& entry : manifest.Entries()) {
    TclInstallStep step;
    step.Source = staging + entry.Path;
    const bool updater = entry.Kind == kKindUpdater;
    step.Target = updater ? std::string(UpdaterReplacementName(runningUpdaterPath)) : entry.Path;
    auto digest = FileSha256Hex(appFolder + step.Source);
    if (!digest) {
      failure = {entry.Path, "the staged file cannot be read"};
      return std::nullopt;
    }
    step.Sha256 = *digest;
    step.Program = entry.Kind == kKindRun || updater;
    const int number = static_cast<int>(journal.Steps.size()) + 1;
    const bool replaces = planned.FileExists(step.Target);
    if (replaces) step.Kept = KeptPath(number);
    step.Kind = updater ? TclStepKind::Updater : (replaces ? TclStepKind::Replace : TclStepKind::Copy);
    step.Folders = planned.MissingFolders(step.Target);
    planned.files.insert(step.Target);
    if (updater) {
      step.Key = std::string(kKeyUpdaterName);
      step.Old = planned.Setting(kKeyUpdaterName);
      step.New = step.Target;
      planned.settings[step.Key] = step.New;
    }
    journal.Steps.push_back(std::move(step));
  }

  for (const TclManifestEntry& entry : manifest.Entries()) {
    TclInstallStep step;
    switch (entry.Kind) {
      case kKindRun:
        step.Kind = TclStepKind::Run;
        step.Target = entry.Path;
        break;
      case kKindFirstRun:
        step = planned.SettingStep(TclStepKind::Register, kKeyFirstRun,
                                   planned.Setting(kKeyFirstRun).value_or("") + "," + entry.Path);
        break;
      case kKindDelete:
        step.Kind = TclStepKind::Delete;
        step.Target = entry.Path;
        break;
      default:
        continue;
    }
    journal.Steps.push_back(std::move(step));
  }
  journal.Steps.push_back(planned.SettingStep(TclStepKind::Version, kKeyVersion, version));
  return journal;
}

}  // namespace app

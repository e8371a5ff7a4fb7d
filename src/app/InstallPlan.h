// From an install manifest to the steps of its installation, in the order
// they are taken. First pass, in manifest order: each staged file goes over
// its target (Copy, or Replace when an old file is there and is to be kept);
// kind 3 is the updater's next copy, written to whichever of the two updater
// names is not running, after which "Liveupdate" names it (Updater). Second
// pass, in manifest order: kind 2 is started (Run), kind 1 is appended to
// "firstrun" (Register), kind 4 is deleted again (Delete); other kinds were
// only copied. Last, "ver" records the version (Version).
//
// Planning reads the folder (which targets and folders exist, the settings'
// values, the staged files' digests) and changes nothing.
//
// Stateless functions; the user-interface thread's.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "app/InstallJournal.h"
#include "app/InstallManifest.h"

namespace app {

inline constexpr int kKindFirstRun = 1;
inline constexpr int kKindRun = 2;
inline constexpr int kKindUpdater = 3;
inline constexpr int kKindDelete = 4;

// The name a new updater copy is written to, given the running updater's path:
// "liveupdate2.exe" when it runs as "liveupdate1.exe" (in any letter case),
// "liveupdate1.exe" otherwise.
std::string_view UpdaterReplacementName(const std::string& runningUpdaterPath);

// Where the installation keeps the old file of step N and prepares its new
// one, relative to the application folder.
std::string KeptPath(int step);
std::string PreparedPath(int step);

struct TclPlanFailure {
  std::string Where;  // the staged file that cannot be read
  std::string Error;
};

// The installation of Manifest, recording Version; nothing (and Failure set)
// when a staged file is missing or unreadable.
std::optional<TclInstallJournal> PlanInstallation(const std::string& appFolder,
                                                  const std::string& runningUpdaterPath,
                                                  const TclInstallManifest& manifest,
                                                  const std::string& version,
                                                  TclPlanFailure& failure);

}  // namespace app

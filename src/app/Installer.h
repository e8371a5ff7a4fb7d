// Installation of a staged update into the application folder.
//
// First pass, in manifest order: each staged file is copied over its target
// (written beside it, then renamed over it, so an interrupted install never
// leaves a truncated file) and, once copied, removed from the staging folder;
// programs (kinds 2 and 3) get their execute bits. A failed copy makes the
// installation fail, but the other entries are still copied. Second pass, in
// manifest order and whatever the first gave: kind 2 is started, kind 1 is
// appended to "firstrun", kind 4 is deleted again; other kinds were only copied.
// Kind 3 is the updater's own next version: it goes to whichever of the two
// updater names is not running, and "Liveupdate" names that copy.
//
// Stateless functions; called on the user-interface thread (they write the
// settings file and start programs).
#pragma once

#include <string>
#include <string_view>

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

// Installs Manifest from AppFolder's staging folder into AppFolder. Returns 1
// when every copy succeeded, else 0.
int InstallFiles(const std::string& appFolder, const std::string& runningUpdaterPath,
                 const TclInstallManifest& manifest);

}  // namespace app

// Installation of a staged update into the application folder, as one
// transaction: the steps (InstallPlan.h) are written to the journal
// (InstallJournal.h) before the first change, each is recorded once done,
// "ver" is the last of them, and the journal goes once the staged files are
// cleared away. A step that fails undoes every step before it, so the folder
// is either wholly the old one or wholly the new one.
//
// A run that finds a journal left by an updater that died (a kill, a power
// loss) finishes that installation when every file it still has to copy is
// staged with the digest it had, or else rolls it back; this is done before
// anything else, and under the same lock (AppFolder + "liveupdate/
// install.lock") that an installation holds, so two copies of the updater in
// one folder never work on one journal at once.
//
// For tests only: with LIVEUPDATE_TEST_KILL_BEFORE_STEP=N in the environment
// the updater kills itself (SIGKILL) before step N: 0 is before the journal
// is written, 1..S the steps, S+1 before the journal is removed.
//
// Stateless functions; the user-interface thread's (they write the settings
// file and start programs).
#pragma once

#include <string>

#include "app/InstallManifest.h"
#include "app/InstallPlan.h"

namespace app {

struct TclInstallResult {
  bool Installed = false;  // every step done, "ver" written
  std::string Where;       // the file or setting that failed
  std::string Error;
};

// Installs Manifest from AppFolder's staging folder into AppFolder and
// records Version as "ver".
TclInstallResult InstallFiles(const std::string& appFolder, const std::string& runningUpdaterPath,
                              const TclInstallManifest& manifest, const std::string& version);

enum class TclRecoveryKind {
  None,        // no journal
  Busy,        // another copy of the updater is installing
  Finished,    // the interrupted installation was completed
  RolledBack,  // it was undone
  Unreadable,  // the journal could not be read; it was moved aside
  Failed       // it could be neither finished nor undone; the journal stays
};

struct TclRecovery {
  TclRecoveryKind Kind = TclRecoveryKind::None;
  std::string Version;  // of the interrupted installation
  std::string Error;
};

TclRecovery RecoverInstallation(const std::string& appFolder);

// The environment variable of the tests' fail point.
inline constexpr const char* kKillBeforeStepVariable = "LIVEUPDATE_TEST_KILL_BEFORE_STEP";

}  // namespace app

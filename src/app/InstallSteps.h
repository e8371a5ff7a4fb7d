// Doing and undoing one step of an installation. Both may be repeated: a
// step interrupted anywhere (a kill, a power loss) is done again, or undone,
// by calling them again, which is what a run that finds a journal does.
//
// Copy, Replace, Updater: the old target, when there is one, is first kept
// (a hard link, or a copy where links are refused) as the step's kept file;
// the staged file is copied to the step's prepared file (fsync), given the
// old file's permissions (programs also their execute bits) and renamed over
// the target (fsync of the folder). Undo renames the kept file back, or
// removes a target that did not exist, and the folders the step made.
// Updater then writes "Liveupdate"; Register and Version write their setting;
// undo writes the old value back (or removes a key that did not exist).
// Run starts the program and Delete removes the target, both
// ignoring failure; neither has anything to undo.
//
// Stateless functions; the user-interface thread's.
#pragma once

#include <optional>
#include <string>

#include "app/InstallJournal.h"

namespace app {

// Nothing when the step is done, else what went wrong.
std::optional<std::string> DoStep(const std::string& appFolder, int number,
                                  const TclInstallStep& step);
// Nothing when the step is undone, else what went wrong.
std::optional<std::string> UndoStep(const std::string& appFolder, int number,
                                    const TclInstallStep& step);

// Empties the installation's work folder (kept and prepared files).
void ClearInstallWork(const std::string& appFolder);

}  // namespace app

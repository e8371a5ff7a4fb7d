// The journal of an installation: every step it will take, written to the
// staging folder before the first change, and a record of each step once it
// is done. A run that finds a journal knows exactly what an interrupted
// installation did and did not do.
//
// The file, AppFolder + "liveupdate/install.journal", is text; its plan is
// written whole (temporary file, fsync, rename, fsync of the folder), then a
// "done N" line is appended and synced after each step:
//
//   liveupdate-journal 1
//   version 2.0
//   step 1 replace target=data/first.dat source=liveupdate/data/first.dat sha256=9f86... kept=liveupdate/.install/kept-1
//   step 2 copy target=bin/setup.sh source=liveupdate/bin/setup.sh sha256=... program=1 folder=bin
//   step 3 updater target=liveupdate2.exe source=liveupdate/lu.new sha256=... program=1 key=Liveupdate old=liveupdate1.exe new=liveupdate2.exe
//   step 4 run target=bin/setup.sh
//   step 5 register key=firstrun new=,data/first.dat
//   step 6 delete target=old/gone.dat
//   step 7 version key=ver new=2.0
//   end 7
//   done 1
//   done 2
//
// and "rollback" when a failed step has the installation undone.
// Paths are relative to the application folder. Values are percent-encoded
// where they hold '%', blanks or control characters. A setting without
// "old=" did not exist before. A torn last line (no line end) is ignored.
//
// Threads: plain data and file operations; the user-interface thread's.
#pragma once

#include <optional>
#include <set>
#include <string>
#include <vector>

namespace app {

enum class TclStepKind {
  Copy,      // a new file where there was none
  Replace,   // a new file over an old one, which is kept
  Updater,   // the updater's next copy, then the "Liveupdate" setting
  Run,       // start an installed program
  Register,  // the "firstrun" setting
  Delete,    // remove an installed file again
  Version    // the "ver" setting: the installation is complete
};

struct TclInstallStep {
  TclStepKind Kind = TclStepKind::Copy;
  std::string Target;  // the file the step changes
  std::string Source;  // the staged file copied there
  std::string Sha256;  // of the staged file
  std::string Kept;    // where the old target is kept (Replace, Updater over a file)
  bool Program = false;
  // Folders the step creates for its target, outermost first.
  std::vector<std::string> Folders;
  // Settings steps: the key, its old value (none: it did not exist) and the new.
  std::string Key;
  std::optional<std::string> Old;
  std::string New;

  friend bool operator==(const TclInstallStep&, const TclInstallStep&) = default;
};

struct TclInstallJournal {
  std::string Version;
  std::vector<TclInstallStep> Steps;  // step N is Steps[N - 1]
  std::set<int> Done;
  // A rollback was begun: a run that finds the journal goes on undoing.
  bool RollingBack = false;

  bool IsDone(int step) const { return Done.count(step) != 0; }
};

std::string StepKindName(TclStepKind kind);

// The plan as the file begins (without done lines).
std::string FormatJournal(const TclInstallJournal& journal);
// Nothing when the text is no complete journal (no "end" line, an unknown
// step, a step out of order).
std::optional<TclInstallJournal> ParseJournal(const std::string& text);

// The journal file of an application folder.
std::string JournalFile(const std::string& appFolder);
// Writes the plan durably; false when it could not.
bool WriteJournal(const std::string& appFolder, const TclInstallJournal& journal);
// Appends "done N" and syncs it; false when it could not.
bool RecordStepDone(const std::string& appFolder, int step);
// Appends a line ("rollback") and syncs it.
bool AppendJournalLine(const std::string& appFolder, const std::string& line);
// Removes the journal durably.
bool RemoveJournal(const std::string& appFolder);

// Flushes a folder's entries to disk, so that a rename or removal in it
// survives a power loss.
void SyncFolder(const std::string& folder);

}  // namespace app

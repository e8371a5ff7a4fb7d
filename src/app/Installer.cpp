#include "app/Installer.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "app/InstallSteps.h"
#include "app/SiteSignature.h"
#include "app/ULiveconst.h"
#include "app/UpdateList.h"
#include "platform/Files.h"

namespace app {
namespace {

// The installation lock of one application folder, held while the object
// lives. The kernel lets it go when the process dies, however it dies.
class InstallLock {
 public:
  InstallLock(const std::string& appFolder, bool wait) {
    platform::ForceDirectories(StagingFolder(appFolder));
    fd_ = ::open(StagingFile(appFolder, kInstallLockFileName).c_str(),
                 O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd_ < 0) return;
    int result = 0;
    do {
      result = ::flock(fd_, LOCK_EX | (wait ? 0 : LOCK_NB));
    } while (result != 0 && errno == EINTR);
    held_ = result == 0;
  }
  ~InstallLock() {
    if (fd_ >= 0) ::close(fd_);
  }
  InstallLock(const InstallLock&) = delete;
  InstallLock& operator=(const InstallLock&) = delete;
  // A folder where no lock file can be made has no other copy to fear.
  bool Held() const { return held_ || fd_ < 0; }

 private:
  int fd_ = -1;
  bool held_ = false;
};

void KillHereIfAsked(int step) {
  const char* asked = std::getenv(kKillBeforeStepVariable);
  if (asked != nullptr && *asked != '\0' && std::atoi(asked) == step) ::kill(::getpid(), SIGKILL);
}

bool ReadJournal(const std::string& appFolder, std::string& text) {
  return platform::ReadWholeFile(JournalFile(appFolder), text);
}

// Deletes the staged files the installation copied, the work folder and,
// last, the journal: from then on there is nothing to recover.
void Conclude(const std::string& appFolder, const TclInstallJournal& journal, bool clearStaged) {
  if (clearStaged) {
    for (const TclInstallStep& step : journal.Steps) {
      if (!step.Source.empty()) platform::DeleteFile(appFolder + step.Source);
    }
  }
  ClearInstallWork(appFolder);
  RemoveJournal(appFolder);
}

// Undoes steps Last..1; the journal says so first, so that a run that finds
// this rollback interrupted goes on with it instead of going forward.
std::optional<std::string> RollBack(const std::string& appFolder,
                                    const TclInstallJournal& journal, int last) {
  AppendJournalLine(appFolder, "rollback");
  for (int number = last; number >= 1; --number) {
    auto error = UndoStep(appFolder, number, journal.Steps[static_cast<std::size_t>(number - 1)]);
    if (error) return error;
  }
  Conclude(appFolder, journal, false);
  return std::nullopt;
}

// Runs every step not yet done, from the first; on a failure rolls back and
// returns the failure.
TclInstallResult RunSteps(const std::string& appFolder, const TclInstallJournal& journal,
                          bool failPoints) {
  const int count = static_cast<int>(journal.Steps.size());
  for (int number = 1; number <= count; ++number) {
    if (journal.IsDone(number)) continue;
    if (failPoints) KillHereIfAsked(number);
    const TclInstallStep& step = journal.Steps[static_cast<std::size_t>(number - 1)];
    if (auto error = DoStep(appFolder, number, step)) {
      TclInstallResult failed{false, step.Target.empty() ? step.Key : step.Target, *error};
      if (auto undoError = RollBack(appFolder, journal, number))
        failed.Error += "; rolling back failed too: " + *undoError;
      return failed;
    }
    RecordStepDone(appFolder, number);
  }
  if (failPoints) KillHereIfAsked(count + 1);
  Conclude(appFolder, journal, true);
  return {true, {}, {}};
}

// True when every step still to do finds its staged file as it was planned.
bool CanGoForward(const std::string& appFolder, const TclInstallJournal& journal) {
  if (journal.RollingBack) return false;
  for (std::size_t i = 0; i < journal.Steps.size(); ++i) {
    const TclInstallStep& step = journal.Steps[i];
    if (step.Source.empty() || journal.IsDone(static_cast<int>(i + 1))) continue;
    if (FileSha256Hex(appFolder + step.Source) != step.Sha256) return false;
  }
  return true;
}

TclRecovery Recover(const std::string& appFolder) {
  std::string text;
  if (!ReadJournal(appFolder, text)) return {};
  auto journal = ParseJournal(text);
  if (!journal) {
    const std::string aside = JournalFile(appFolder) + ".unreadable";
    ::rename(JournalFile(appFolder).c_str(), aside.c_str());
    return {TclRecoveryKind::Unreadable, {}, "moved to " + aside};
  }
  if (CanGoForward(appFolder, *journal)) {
    TclInstallResult result = RunSteps(appFolder, *journal, false);
    if (result.Installed) return {TclRecoveryKind::Finished, journal->Version, {}};
    return {TclRecoveryKind::RolledBack, journal->Version, result.Where + ": " + result.Error};
  }
  if (auto error = RollBack(appFolder, *journal, static_cast<int>(journal->Steps.size())))
    return {TclRecoveryKind::Failed, journal->Version, *error};
  return {TclRecoveryKind::RolledBack, journal->Version, {}};
}

}  // namespace

TclInstallResult InstallFiles(const std::string& appFolder, const std::string& runningUpdaterPath,
                              const TclInstallManifest& manifest, const std::string& version) {
  InstallLock lock(appFolder, true);
  // Whatever an updater that died left half done is settled first.
  TclRecovery leftover = Recover(appFolder);
  if (leftover.Kind == TclRecoveryKind::Failed)
    return {false, JournalFile(appFolder), "an earlier installation cannot be undone: " + leftover.Error};

  TclPlanFailure failure;
  auto journal = PlanInstallation(appFolder, runningUpdaterPath, manifest, version, failure);
  if (!journal) return {false, failure.Where, failure.Error};
  KillHereIfAsked(0);
  ClearInstallWork(appFolder);
  if (!WriteJournal(appFolder, *journal))
    return {false, JournalFile(appFolder), "the journal cannot be written"};
  return RunSteps(appFolder, *journal, true);
}

TclRecovery RecoverInstallation(const std::string& appFolder) {
  if (!platform::FileExists(JournalFile(appFolder))) return {};
  InstallLock lock(appFolder, false);
  if (!lock.Held()) return {TclRecoveryKind::Busy, {}, {}};
  return Recover(appFolder);
}

}  // namespace app

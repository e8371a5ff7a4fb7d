// The state of one updater process that outlives the window's handlers: the
// command line and application folder, the single-instance mutex, the install
// manifest, whether the run has finished and whether the user confirmed
// closing during it. The window calls it from its handlers:
//
//   start-up      TakeInstanceMutex() (sets the short title when it returns true)
//   update run    RecoverInterruptedInstall() first; Fail(outcome) when
//                 something goes wrong; AddToManifest(entry) per attempted
//                 file; at the end CompleteRun(downloadOK), then close the
//                 window
//   close query   QueryClose(ask the user)
//   close         Closing()
//   destruction   HandOver(): the run's line in the log, then the main
//                 application
//
// A confirmed close ends the update: later entries are not recorded, nothing
// is installed and "ver" is not written, but the main application is still
// started. The run's outcome (RunOutcome.h) is the process's exit status.
//
// Owned by the user-interface thread; no locking.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "app/InstallManifest.h"
#include "app/Installer.h"
#include "app/RunLog.h"
#include "app/RunOutcome.h"
#include "app/UpdateEntry.h"
#include "platform/NamedMutex.h"

namespace app {

class TclUpdaterSession {
 public:
  // MutexName is the single-instance mutex; tests give their own.
  explicit TclUpdaterSession(TclCommandLine commandLine, std::string mutexName = {});
  ~TclUpdaterSession();
  TclUpdaterSession(const TclUpdaterSession&) = delete;
  TclUpdaterSession& operator=(const TclUpdaterSession&) = delete;

  const TclCommandLine& CommandLine() const { return commandLine_; }
  // The running updater's folder with its trailing separator.
  const std::string& AppFolder() const { return appFolder_; }

  // Creates the named mutex taking it. True when this copy now holds it; false
  // when another copy does (no handle is kept then and the run goes on).
  bool TakeInstanceMutex();
  bool HoldsInstanceMutex() const { return mutex_ != nullptr; }

  const TclInstallManifest& Manifest() const { return manifest_; }
  // Records an attempted file; ignored once closing was confirmed.
  void AddToManifest(const TclUpdateEntry& entry);

  TclRunLog& Log() { return log_; }
  // Settles an installation that an updater which died left in the journal
  // (Installer.h) and logs what was done. False when it could not be
  // settled: the run then fails without fetching anything.
  bool RecoverInterruptedInstall();
  // Records why the run fails; the first failure is the one that counts.
  void Fail(TclRunOutcome outcome);
  const TclRunOutcome& Outcome() const { return outcome_; }
  // The process's exit status: the outcome's, or "closed" once closing was
  // confirmed during the run.
  TclExitStatus ExitStatus() const;

  // Installs the manifest and records the version as "ver" (see Installer.h).
  TclInstallResult InstallFiles();
  // Ends the run; afterwards the window may close without asking.
  void FinishRun();
  // The end of the update run: installs when every download succeeded, no
  // failure was recorded and the run was not abandoned, then FinishRun.
  // Returns 1 when the update was installed, else 0.
  int CompleteRun(bool downloadOK);

  bool Finished() const { return finished_; }
  bool CloseConfirmed() const { return closeConfirmed_; }

  // Whether the window may close now. After the run that is always so; during
  // it AskUser is called (the close question) and true from it confirms the
  // close, which abandons the update.
  bool QueryClose(const std::function<bool()>& askUser);
  // The window closes: the manifest is emptied.
  void Closing();

  // The main application's argument vector: AppFolder + "tarvo.exe" and the
  // handed-back arguments.
  std::vector<std::string> MainApplicationArguments() const;
  // The window is gone: appends the run's outcome to the log, frees the mutex
  // (so the main application may start an updater again at once), then
  // starts the main application without waiting.
  // True when it started. Runs once; later calls do nothing and return false.
  bool HandOver();

 private:
  TclCommandLine commandLine_;
  std::string appFolder_;
  std::string mutexName_;
  std::unique_ptr<platform::NamedMutex> mutex_;
  TclInstallManifest manifest_;
  TclRunLog log_;
  TclRunOutcome outcome_;
  bool finished_ = false;
  bool closeConfirmed_ = false;
  bool handedOver_ = false;
};

}  // namespace app

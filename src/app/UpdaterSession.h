// The state of one updater process that outlives the window's handlers: the
// command line and application folder, the single-instance mutex, the install
// manifest, whether the run has finished and whether the user confirmed
// closing during it. The window calls it from its handlers:
//
//   start-up      TakeInstanceMutex() (sets the short title when it returns true)
//   update run    AddToManifest(entry) per attempted file; at the end
//                 CompleteRun(downloadOK), then close the window
//   close query   QueryClose(ask the user)
//   close         Closing()
//   destruction   HandOver()
//
// A confirmed close ends the update: later entries are not recorded, nothing
// is installed and "ver" is not written, but the main application is still
// started.
//
// Owned by the user-interface thread; no locking.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "app/InstallManifest.h"
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

  // Installs the manifest (see Installer.h); 1 when every copy succeeded.
  int InstallFiles();
  // Ends the run: with Result 1, and unless closing was confirmed, writes the
  // version as "ver". Afterwards the window may close without asking.
  void FinishRun(int result);
  // The end of the update run: installs when every download succeeded and the
  // run was not abandoned, then FinishRun with the installation's result (0
  // when nothing was installed). Returns that result.
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
  // The window is gone: frees the mutex (so the main application may start an
  // updater again at once), then starts the main application without waiting.
  // True when it started. Runs once; later calls do nothing and return false.
  bool HandOver();

 private:
  TclCommandLine commandLine_;
  std::string appFolder_;
  std::string mutexName_;
  std::unique_ptr<platform::NamedMutex> mutex_;
  TclInstallManifest manifest_;
  bool finished_ = false;
  bool closeConfirmed_ = false;
  bool handedOver_ = false;
};

}  // namespace app

#include "app/UpdaterSession.h"

#include "app/Settings.h"
#include "app/ULiveconst.h"
#include "platform/LastError.h"
#include "platform/Process.h"

namespace app {

TclUpdaterSession::TclUpdaterSession(TclCommandLine commandLine, std::string mutexName)
    : commandLine_(std::move(commandLine)),
      appFolder_(AppFolderOf(commandLine_.ProgramPath())),
      mutexName_(mutexName.empty() ? std::string(kInstanceMutexName) : std::move(mutexName)),
      log_(appFolder_, commandLine_.Version()) {}

TclUpdaterSession::~TclUpdaterSession() = default;

bool TclUpdaterSession::TakeInstanceMutex() {
  if (mutex_) return true;
  std::unique_ptr<platform::NamedMutex> mutex = platform::NamedMutex::Create(mutexName_);
  // Only a handle that holds the mutex is kept; any other outcome (another copy
  // holds it, the lock file is unusable) lets this copy run without it.
  if (platform::GetLastError() != 0 || !mutex->Owned()) return false;
  mutex_ = std::move(mutex);
  return true;
}

void TclUpdaterSession::AddToManifest(const TclUpdateEntry& entry) {
  if (closeConfirmed_) return;
  manifest_.Add(entry.Kind, entry.Path);
}

bool TclUpdaterSession::RecoverInterruptedInstall() {
  const TclRecovery recovery = RecoverInstallation(appFolder_);
  const std::string of = "the interrupted installation of version " + recovery.Version;
  switch (recovery.Kind) {
    case TclRecoveryKind::None:
    case TclRecoveryKind::Busy:
      return true;
    case TclRecoveryKind::Finished:
      log_.Append("recovered: finished " + of);
      return true;
    case TclRecoveryKind::RolledBack:
      log_.Append("recovered: rolled back " + of +
                  (recovery.Error.empty() ? "" : ": " + recovery.Error));
      return true;
    case TclRecoveryKind::Unreadable:
      log_.Append("recovered: the journal of an interrupted installation is unreadable, " +
                  recovery.Error);
      return true;
    case TclRecoveryKind::Failed:
      break;
  }
  Fail(TclRunOutcome::Failure(esInstallFailed, "installation failed",
                              "liveupdate/" + std::string(kJournalFileName),
                              "cannot settle " + of + ": " + recovery.Error));
  return false;
}

void TclUpdaterSession::Fail(TclRunOutcome outcome) {
  if (!outcome_.Failed()) outcome_ = std::move(outcome);
}

TclExitStatus TclUpdaterSession::ExitStatus() const {
  return closeConfirmed_ ? esClosed : outcome_.Status;
}

TclInstallResult TclUpdaterSession::InstallFiles() {
  return app::InstallFiles(appFolder_, commandLine_.ProgramPath(), manifest_,
                           commandLine_.Version());
}

void TclUpdaterSession::FinishRun() {
  finished_ = true;
}

int TclUpdaterSession::CompleteRun(bool downloadOK) {
  int result = 0;
  if (!downloadOK && !outcome_.Failed() && !closeConfirmed_) {
    Fail(TclRunOutcome::Failure(esFileFailed, "file not fetched", "", "the download failed"));
  }
  if (!outcome_.Failed() && !closeConfirmed_) {
    const std::size_t count = manifest_.Size();
    TclInstallResult installed = InstallFiles();
    if (installed.Installed) {
      result = 1;
      outcome_.Summary = count == 0 ? "nothing to install"
                                    : "installed " + std::to_string(count) +
                                          (count == 1 ? " file" : " files");
    } else {
      Fail(TclRunOutcome::Failure(esInstallFailed, "installation failed", installed.Where,
                                  installed.Error));
    }
  }
  FinishRun();
  return result;
}

bool TclUpdaterSession::QueryClose(const std::function<bool()>& askUser) {
  if (finished_ || closeConfirmed_) return true;
  if (!askUser || !askUser()) return false;
  closeConfirmed_ = true;
  return true;
}

void TclUpdaterSession::Closing() {
  manifest_.Clear();
}

std::vector<std::string> TclUpdaterSession::MainApplicationArguments() const {
  std::vector<std::string> argv{appFolder_ + std::string(kMainApplicationName)};
  for (std::string& argument : commandLine_.HandBack()) argv.push_back(std::move(argument));
  return argv;
}

bool TclUpdaterSession::HandOver() {
  if (handedOver_) return false;
  handedOver_ = true;
  TclRunOutcome outcome = outcome_;
  if (closeConfirmed_) outcome = {esClosed, "closed by the user", {}, {}};
  if (outcome.Summary.empty()) outcome.Summary = "ended before the update ran";
  log_.Append(DescribeOutcome(outcome));
  if (mutex_) {
    mutex_->Close();
    mutex_.reset();
  }
  return platform::StartProcess(MainApplicationArguments());
}

}  // namespace app

#include "app/UpdaterSession.h"

#include "app/Installer.h"
#include "app/Settings.h"
#include "app/ULiveconst.h"
#include "platform/LastError.h"
#include "platform/Process.h"

namespace app {

TclUpdaterSession::TclUpdaterSession(TclCommandLine commandLine, std::string mutexName)
    : commandLine_(std::move(commandLine)),
      appFolder_(AppFolderOf(commandLine_.ProgramPath())),
      mutexName_(mutexName.empty() ? std::string(kInstanceMutexName) : std::move(mutexName)) {}

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

int TclUpdaterSession::InstallFiles() {
  return app::InstallFiles(appFolder_, commandLine_.ProgramPath(), manifest_);
}

void TclUpdaterSession::FinishRun(int result) {
  if (result == 1 && !closeConfirmed_) {
    WriteSetting(appFolder_, kKeyVersion, commandLine_.Version());
  }
  finished_ = true;
}

int TclUpdaterSession::CompleteRun(bool downloadOK) {
  int result = downloadOK && !closeConfirmed_ ? InstallFiles() : 0;
  FinishRun(result);
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
  if (mutex_) {
    mutex_->Close();
    mutex_.reset();
  }
  return platform::StartProcess(MainApplicationArguments());
}

}  // namespace app

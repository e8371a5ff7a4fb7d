#include "app/InstallSteps.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "app/InstallPlan.h"
#include "app/Settings.h"
#include "app/ULiveconst.h"
#include "app/UpdateList.h"
#include "platform/Files.h"
#include "platform/LastError.h"
#include "platform/Process.h"

namespace app {
namespace {

using Result = std::optional<std::string>;

std::string PlatformError(const std::string& what) {
  const std::string text = platform::SysErrorMessage(platform::GetLastError());
  return what + ": " + (text.empty() ? "error " + std::to_string(platform::GetLastError()) : text);
}

std::string ErrnoError(const std::string& what, int error) {
  return what + ": " + std::strerror(error);
}

bool Exists(const std::string& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0;
}

std::string WorkFolder(const std::string& appFolder) {
  return StagingFolder(appFolder) + "/" + std::string(kInstallWorkFolderName);
}

// Keeps the old target as the step's kept file, once: a kept file that is
// already there is the old target of an earlier attempt of this step.
Result KeepOld(const std::string& target, const std::string& kept) {
  if (Exists(kept)) return std::nullopt;
  const std::string folder = platform::ExtractFileDir(kept);
  if (!platform::ForceDirectories(folder)) return PlatformError("cannot make " + folder);
  if (::link(target.c_str(), kept.c_str()) != 0 && !platform::CopyFile(target, kept, false))
    return PlatformError("cannot keep the old file");
  SyncFolder(folder);
  return std::nullopt;
}

Result PutInPlace(const std::string& appFolder, int number, const TclInstallStep& step) {
  const std::string target = appFolder + step.Target;
  for (const std::string& folder : step.Folders) {
    if (!platform::ForceDirectories(appFolder + folder))
      return PlatformError("cannot make the folder " + folder);
  }
  const std::string kept = step.Kept.empty() ? std::string() : appFolder + step.Kept;
  if (!kept.empty()) {
    if (Result error = KeepOld(target, kept)) return error;
  }
  const std::string prepared = appFolder + PreparedPath(number);
  if (!platform::ForceDirectories(platform::ExtractFileDir(prepared)) ||
      !platform::CopyFile(appFolder + step.Source, prepared, false))
    return PlatformError("cannot copy the staged file");
  // The new file takes the old one's permissions (a program stays a program).
  struct stat old {};
  if (!kept.empty() && ::stat(kept.c_str(), &old) == 0 && S_ISREG(old.st_mode) &&
      ::chmod(prepared.c_str(), old.st_mode & 07777) != 0)
    return ErrnoError("cannot set the permissions", errno);
  if (step.Program && !platform::SetExecuteBits(prepared))
    return PlatformError("cannot make it executable");
  if (::rename(prepared.c_str(), target.c_str()) != 0)
    return ErrnoError("cannot replace " + step.Target, errno);
  SyncFolder(platform::ExtractFileDir(target));
  return std::nullopt;
}

Result TakeBack(const std::string& appFolder, int number, const TclInstallStep& step) {
  const std::string target = appFolder + step.Target;
  ::unlink((appFolder + PreparedPath(number)).c_str());
  if (!step.Kept.empty()) {
    // No kept file: the step never came as far as changing the target.
    const std::string kept = appFolder + step.Kept;
    if (Exists(kept) && ::rename(kept.c_str(), target.c_str()) != 0)
      return ErrnoError("cannot put back the old " + step.Target, errno);
  } else if (!platform::DirectoryExists(target) && ::unlink(target.c_str()) != 0 &&
             errno != ENOENT && errno != ENOTDIR) {
    return ErrnoError("cannot remove " + step.Target, errno);
  }
  SyncFolder(platform::ExtractFileDir(target));
  for (auto folder = step.Folders.rbegin(); folder != step.Folders.rend(); ++folder)
    ::rmdir((appFolder + *folder).c_str());
  return std::nullopt;
}

Result WriteNew(const std::string& appFolder, const TclInstallStep& step) {
  if (!WriteSetting(appFolder, step.Key, step.New)) return PlatformError("cannot write " + step.Key);
  return std::nullopt;
}

Result WriteOld(const std::string& appFolder, const TclInstallStep& step) {
  const bool ok = step.Old ? WriteSetting(appFolder, step.Key, *step.Old)
                           : DeleteSetting(appFolder, step.Key);
  if (!ok) return PlatformError("cannot restore " + step.Key);
  return std::nullopt;
}

}  // namespace

Result DoStep(const std::string& appFolder, int number, const TclInstallStep& step) {
  switch (step.Kind) {
    case TclStepKind::Copy:
    case TclStepKind::Replace:
      return PutInPlace(appFolder, number, step);
    case TclStepKind::Updater:
      // The setting follows the file: "Liveupdate" never names a copy that
      // is not there.
      if (Result error = PutInPlace(appFolder, number, step)) return error;
      return WriteNew(appFolder, step);
    case TclStepKind::Run:
      // Started without waiting and without looking at the outcome.
      platform::StartProcess({appFolder + step.Target});
      return std::nullopt;
    case TclStepKind::Register:
    case TclStepKind::Version:
      return WriteNew(appFolder, step);
    case TclStepKind::Delete:
      platform::DeleteFile(appFolder + step.Target);
      return std::nullopt;
  }
  return std::nullopt;
}

Result UndoStep(const std::string& appFolder, int number, const TclInstallStep& step) {
  switch (step.Kind) {
    case TclStepKind::Copy:
    case TclStepKind::Replace:
      return TakeBack(appFolder, number, step);
    case TclStepKind::Updater:
      if (Result error = WriteOld(appFolder, step)) return error;
      return TakeBack(appFolder, number, step);
    case TclStepKind::Register:
    case TclStepKind::Version:
      return WriteOld(appFolder, step);
    case TclStepKind::Run:
    case TclStepKind::Delete:
      return std::nullopt;
  }
  return std::nullopt;
}

void ClearInstallWork(const std::string& appFolder) {
  const std::string folder = WorkFolder(appFolder);
  std::error_code error;
  for (const auto& file : std::filesystem::directory_iterator(folder, error))
    ::unlink(file.path().c_str());
  ::rmdir(folder.c_str());
}

}  // namespace app

// The update run of the updater's window: Timer1Timer and what it calls.
#include "app/Settings.h"
#include "app/ULiveconst.h"
#include "app/Ulive.h"
#include "app/UpdateEntry.h"
#include "app/UpdateList.h"
#include "app/UpdateServer.h"
#include "platform/Files.h"
#include "platform/Messages.h"

namespace app {

namespace {

// Whether Item fetched its whole resource. A download that ended before the
// server said how large the resource is (no resource information, or the
// map's own status failed) is a failure, not a complete empty file.
bool CompletedWithAllBytes(const TclInternetItem& item) {
  const TclResourceState& state = item.ResourceState();
  if (item.ResourceInfo() == nullptr || state.Status() == psFailed) return false;
  return state.BytesProceed() == state.ResourceSize();
}

// Why Item did not fetch its whole resource, as the log says it.
std::string FailureText(TclInternetItem& item) {
  const auto& errors = item.Errors().Entries();
  if (!errors.empty()) return errors.back().Error;
  const TclResourceState& state = item.ResourceState();
  if (item.ResourceInfo() == nullptr) return "no answer from the server";
  if (state.ResourceSize() <= 0) return "the server did not give the size";
  return "got " + std::to_string(state.BytesProceed()) + " of " +
         std::to_string(state.ResourceSize()) + " bytes";
}

// Whether the server answered that it has no such resource (and will not).
bool AnsweredMissing(TclInternetItem& item) {
  for (const TclErrorEntry& error : item.Errors().Entries()) {
    if (error.ErrorCode == 404 || error.ErrorCode == 410 || error.ErrorCode == 403) return true;
  }
  return false;
}

std::string ReadOrEmpty(const std::string& file) {
  std::string text;
  platform::ReadWholeFile(file, text);
  return text;
}

}  // namespace

void TfrmLive::RunDownload(TclDownLoadItem* item) {
  downloadOK_ = false;
  // Closing was confirmed while the run got here: nothing more is fetched.
  if (session_.CloseConfirmed()) return;
  current_ = item;
  try {
    dl->Start(item, true);
  } catch (const std::exception&) {
    // The run decides by the completion alone; an item that did not start
    // leaves DownloadOK false.
  }
  while (item->IsBusy()) {
    platform::ProcessMessages();
    if (item->IsBusy()) view_.WaitForInput();
  }
  item->Stop();
  current_ = nullptr;
}

void TfrmLive::dlProcessCompleted(TclMultiInternetControl*, TclInternetItem* item) {
  if (item != current_) return;
  downloadOK_ = CompletedWithAllBytes(*item);
}

bool TfrmLive::FetchOnce(const std::string& url, const std::string& localFile,
                         TclRunOutcome& failure) {
  TclDownLoadItem* item = dl->DownLoadList().Add();
  item->SetURL(url);
  item->SetLocalFile(localFile);
  platform::ForceDirectories(platform::ExtractFileDir(localFile));
  RunDownload(item);
  const bool ok = downloadOK_;
  if (!ok) {
    failure.Where = url;
    failure.Error = FailureText(*item);
    // A resource the server says it does not have: no retry mends that.
    failure.Status = AnsweredMissing(*item) ? esRefused : esListFailed;
  }
  dl->DownLoadList().Delete(item->Index());
  return ok;
}

bool TfrmLive::Refuse(const std::string& where, const std::string& reason) {
  session_.Fail(TclRunOutcome::Failure(esRefused, "refused", where, reason));
  downloadOK_ = false;
  return false;
}

bool TfrmLive::FetchList(const std::string& base) {
  TclRunOutcome failure;
  if (FetchOnce(UpdateListUrl(base), LocalListFile(session_.AppFolder()), failure)) return true;
  failure.Status = esListFailed;
  failure.Summary = "list not fetched";
  session_.Fail(failure);
  return false;
}

bool TfrmLive::FetchManifest(const std::string& base, TclSiteVerifier& verifier) {
  const std::string& folder = session_.AppFolder();
  const std::string sums = StagingFile(folder, kLocalSumsFileName);
  const std::string signature = StagingFile(folder, kLocalSignatureFileName);
  const std::string list = LocalListFile(folder);
  auto discard = [&] {
    platform::DeleteFile(sums);
    platform::DeleteFile(signature);
  };
  for (const auto& [path, file] : {std::pair{kServerSumsPath, sums},
                                   std::pair{kServerSignaturePath, signature}}) {
    if (session_.CloseConfirmed()) return false;
    TclRunOutcome failure;
    if (FetchOnce(base + std::string(path), file, failure)) continue;
    discard();
    platform::DeleteFile(list);
    // A site without its manifest or signature is refused; one that cannot
    // be reached is a list that could not be fetched.
    failure.Summary = failure.Status == esRefused ? "refused" : "list not fetched";
    if (failure.Status == esRefused) failure.Error = "the site is not signed: " + failure.Error;
    session_.Fail(failure);
    downloadOK_ = false;
    return false;
  }
  auto refused = verifier.CheckManifest(ReadOrEmpty(sums), ReadOrEmpty(signature),
                                        ReadSetting(folder, kKeyVersion, ""),
                                        session_.CommandLine().Version(),
                                        std::chrono::system_clock::now());
  discard();
  std::string where = base + std::string(kServerSumsPath);
  if (!refused) {
    refused = verifier.CheckFile(std::string(kManifestListPath), list);
    where = UpdateListUrl(base);
  }
  if (!refused) return true;
  platform::DeleteFile(list);
  return Refuse(where, *refused);
}

void TfrmLive::FetchFiles(const std::string& base, const TclSiteVerifier& verifier) {
  const std::string& folder = session_.AppFolder();
  std::vector<std::string> work =
      TakeWorkList(LocalListFile(folder), session_.CommandLine().Section());
  for (std::size_t next = 0; next < work.size() && downloadOK_ && !session_.CloseConfirmed();
       ++next) {
    std::optional<TclUpdateEntry> entry = CheckEntry(work[next]);
    if (!entry || IsReservedStagingPath(entry->Path)) continue;
    SetLabelText(std::string(kDownloadingPrefix) + entry->Path + std::string(kDownloadingSuffix));
    const std::string staging = StagingPath(folder, entry->Path);
    const std::string url = UpdateFileUrl(base, entry->Path);
    platform::ForceDirectories(platform::ExtractFileDir(staging));
    // The item stays in the list for the rest of the process; it is never
    // started again.
    TclDownLoadItem* item = dl->DownLoadList().Add();
    item->SetURL(url);
    item->SetLocalFile(staging);
    platform::ProcessMessages();
    RunDownload(item);
    session_.AddToManifest(*entry);
    if (session_.CloseConfirmed()) return;
    if (!downloadOK_) {
      session_.Fail(
          TclRunOutcome::Failure(esFileFailed, "file not fetched", url, FailureText(*item)));
      return;
    }
    // Checked as soon as it is staged: a file the site does not vouch for
    // ends the run before anything is installed.
    if (verifier.Enabled()) {
      if (auto refused = verifier.CheckFile(ManifestFilePath(entry->Path), staging)) {
        Refuse(url, *refused);
        return;
      }
    }
  }
}

void TfrmLive::RunUpdate(const std::string& base) {
  const std::string& folder = session_.AppFolder();
  TclSiteVerifier verifier(ReadSetting(folder, kKeyPublicKey, ""));
  if (!verifier.Enabled()) {
    session_.Log().Append("warning: the update site is not verified: no " +
                          std::string(kKeyPublicKey) + " in " + std::string(kSettingsFileName));
  } else if (verifier.KeyError()) {
    Refuse(SettingsFile(folder), *verifier.KeyError());
    return;
  }
  if (!FetchList(base) || session_.CloseConfirmed()) return;
  if (verifier.Enabled() && !FetchManifest(base, verifier)) return;
  FetchFiles(base, verifier);
}

void TfrmLive::Timer1Timer(rtl::Component*) {
  Timer1->SetEnabled(false);
  downloadOK_ = false;
  if (session_.RecoverInterruptedInstall()) {
    const std::string base = UpdateServerBaseUrl();
    try {
      RunUpdate(base);
    } catch (const std::exception& e) {
      // An address the library refuses, a library that cannot be loaded:
      // the run gives up, and the main application is started again all
      // the same.
      current_ = nullptr;
      downloadOK_ = false;
      session_.Fail(TclRunOutcome::Failure(esListFailed, "list not fetched", base, e.what()));
    }
  }
  // No message is processed here: nothing is delivered between the last
  // completion and installation.
  platform::Sleep(kInstallPauseMs);
  session_.CompleteRun(downloadOK_ && !session_.CloseConfirmed());
  SetTag(1);
  Close();
}

}  // namespace app

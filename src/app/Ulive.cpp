#include "app/Ulive.h"

#include "app/ULiveconst.h"
#include "app/UpdateEntry.h"
#include "app/UpdateList.h"
#include "app/UpdateServer.h"
#include "platform/Files.h"
#include "platform/Messages.h"
#include "rtl/PropertyStreaming.h"

namespace app {

namespace {

const std::vector<std::string> kBorderIconNames = {"biSystemMenu", "biMinimize", "biMaximize"};

// Whether Item fetched its whole resource. A download that ended before the
// server said how large the resource is (no resource information, or the
// map's own status failed) is a failure, not a complete empty file.
bool CompletedWithAllBytes(const TclInternetItem& item) {
  const TclResourceState& state = item.ResourceState();
  if (item.ResourceInfo() == nullptr || state.Status() == psFailed) return false;
  return state.BytesProceed() == state.ResourceSize();
}

}  // namespace

TfrmLive::TfrmLive(TclUpdaterSession& session, TclLiveView& view)
    : rtl::Component(nullptr), session_(session), view_(view) {
  lbl = new TclLabel(this);
  Timer1 = new TclTimer(this);
  dl = new TclMultiDownLoader(this);
  clProgressBar1 = new TclProgressBar(this);
  Bevel1 = new TclBevel(this);
  clProgressBar1->SetParent(&view_);
  lbl->SetOnChanged([this](rtl::Component*) { view_.SetLabelText(lbl->Caption()); });
  dl->SetOnProcessCompleted([this](TclMultiInternetControl* sender, TclInternetItem* item) {
    dlProcessCompleted(sender, item);
  });
  rtl::ReadComponent(*this, rtl::Json::parse(FrmLiveDescription()));
  // Bound once the window is read, so that the first tick comes about one
  // interval after the window exists.
  Timer1->SetOnTimer([this](rtl::Component* sender) { Timer1Timer(sender); });
  FormCreate();
}

TfrmLive::~TfrmLive() {
  FormDestroy();
  clProgressBar1->SetParent(nullptr);
}

void TfrmLive::SetCaption(const std::string& value) {
  if (value == caption_) return;
  caption_ = value;
  if (!Loading()) view_.SetCaption(caption_);
}

void TfrmLive::SetLabelText(const std::string& text) {
  lbl->SetCaption(text);
}

void TfrmLive::FormCreate() {
  view_.SetApplicationTitle(std::string(kTitle));
  SetCaption(std::string(kTitle));
  // The application folder came with the session, from argument 0.
}

void TfrmLive::RunDownload(TclDownLoadItem* item) {
  current_ = item;
  downloadOK_ = false;
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

bool TfrmLive::FetchList(const std::string& base) {
  const std::string listFile = LocalListFile(session_.AppFolder());
  TclDownLoadItem* item = dl->DownLoadList().Add();
  item->SetURL(UpdateListUrl(base));
  item->SetLocalFile(listFile);
  platform::ForceDirectories(platform::ExtractFileDir(listFile));
  RunDownload(item);
  dl->DownLoadList().Delete(item->Index());
  return downloadOK_;
}

void TfrmLive::FetchFiles(const std::string& base) {
  const std::string& folder = session_.AppFolder();
  std::vector<std::string> work =
      TakeWorkList(LocalListFile(folder), session_.CommandLine().Section());
  for (std::size_t next = 0; next < work.size() && downloadOK_ && !session_.CloseConfirmed();
       ++next) {
    std::optional<TclUpdateEntry> entry = CheckEntry(work[next]);
    if (!entry) continue;
    SetLabelText(std::string(kDownloadingPrefix) + entry->Path + std::string(kDownloadingSuffix));
    const std::string staging = StagingPath(folder, entry->Path);
    platform::ForceDirectories(platform::ExtractFileDir(staging));
    // The item stays in the list for the rest of the process; it is never
    // started again.
    TclDownLoadItem* item = dl->DownLoadList().Add();
    item->SetURL(UpdateFileUrl(base, entry->Path));
    item->SetLocalFile(staging);
    platform::ProcessMessages();
    RunDownload(item);
    session_.AddToManifest(*entry);
  }
}

void TfrmLive::Timer1Timer(rtl::Component*) {
  Timer1->SetEnabled(false);
  const std::string base = UpdateServerBaseUrl();
  try {
    if (FetchList(base)) FetchFiles(base);
  } catch (const std::exception&) {
    // The run shows no error (an address the library refuses, a library
    // that cannot be loaded): it gives up, and the main application is
    // started again all the same.
    current_ = nullptr;
    downloadOK_ = false;
  }
  // No message is processed here: nothing is delivered between the last
  // completion and installation.
  platform::Sleep(kInstallPauseMs);
  session_.CompleteRun(downloadOK_ && !session_.CloseConfirmed());
  SetTag(1);
  Close();
}

bool TfrmLive::FormCloseQuery() {
  return session_.QueryClose([this] {
    if (!view_.AskYesNo(std::string(kCloseQuestionCaption), CloseQuestionText())) return false;
    SetCaption(std::string(kTerminatingCaption));
    return true;
  });
}

void TfrmLive::Close() {
  if (closed_) return;
  if (asking_) {
    closeWhileAsking_ = true;
    return;
  }
  asking_ = true;
  bool canClose = FormCloseQuery();
  asking_ = false;
  // The run may have finished while the question was open: its own close
  // request needs no answer.
  if (!canClose && closeWhileAsking_ && session_.Finished()) canClose = true;
  closeWhileAsking_ = false;
  if (!canClose || closed_) return;
  closed_ = true;
  FormClose();
  view_.CloseWindow();
}

void TfrmLive::FormClose() {
  session_.Closing();
  platform::ProcessMessages();
}

void TfrmLive::FormDestroy() {
  if (destroyed_) return;
  destroyed_ = true;
  session_.HandOver();
}

void TfrmLive::DefineProperties(rtl::Properties& p) {
  p.Value<std::string>(
       "Caption", [this] { return caption_; }, [this](const std::string& v) { SetCaption(v); })
      .Default(std::string());
  p.Value<int>(
      "ClientWidth", [this] { return clientWidth_; },
      [this](int v) {
        if (v >= 0) clientWidth_ = v;
      });
  p.Value<int>(
      "ClientHeight", [this] { return clientHeight_; },
      [this](int v) {
        if (v >= 0) clientHeight_ = v;
      });
  p.Enum<TclFormPosition>(
       "Position", [this] { return position_; }, [this](TclFormPosition v) { position_ = v; },
       {"poDesigned", "poDefault", "poScreenCenter"})
      .Default("poDesigned");
  p.Custom(
       "BorderIcons",
       [this] {
         rtl::Json names = rtl::Json::array();
         for (std::size_t i = 0; i < kBorderIconNames.size(); ++i) {
           if ((borderIcons_ >> i) & 1u) names.push_back(kBorderIconNames[i]);
         }
         return names;
       },
       [this](const rtl::Json& json) {
         if (!json.is_array()) rtl::Properties::RaiseInvalidValue("BorderIcons");
         unsigned icons = 0;
         for (const auto& name : json)
           icons |= 1u << rtl::Properties::EnumIndex("BorderIcons", name, kBorderIconNames);
         borderIcons_ = icons;
       })
      .Default(rtl::Json::array({"biSystemMenu", "biMinimize", "biMaximize"}));
  p.Object("Font", &font_);
  p.Child("lbl", lbl);
  p.Child("clProgressBar1", clProgressBar1);
  p.Child("Bevel1", Bevel1);
  p.Child("Timer1", Timer1);
  p.Child("dl", dl);
}

}  // namespace app

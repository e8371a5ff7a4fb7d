#include "app/Ulive.h"

#include "app/ULiveconst.h"
#include "platform/Messages.h"
#include "rtl/PropertyStreaming.h"

namespace app {

namespace {

const std::vector<std::string> kBorderIconNames = {"biSystemMenu", "biMinimize", "biMaximize"};

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
  session_.Log().SetReporter([this](const std::string& line) { view_.Report(line); });
  rtl::ReadComponent(*this, rtl::Json::parse(FrmLiveDescription()));
  // Beyond the stored window: a list or file the server says it does not
  // have (404, 410, 403) ends the run at once instead of after ten tries,
  // while an unreachable server keeps them; and each try that waits to be
  // repeated is said in the log.
  dl->SetRetryPermanentErrors(false);
  // Two requests per file instead of four: no information GET when the HEAD
  // told the length and range support, no second HEAD before the data. A
  // fleet's update costs its server half as much.
  dl->SetHeadOnlyInfo(true);
  dl->SetReuseResourceInfo(true);
  dl->SetOnRetrying([this](TclMultiInternetControl*, TclInternetItem* item,
                           const std::string& error, std::int32_t, int pauseMs) {
    session_.Log().Append("retrying: <" + item->URL() + ">: " + error + "; next try in " +
                          std::to_string((pauseMs + 999) / 1000) + " s");
  });
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
  // A confirmed close ends the transfer in progress now, not when it ends:
  // its partial file stays staged and nothing is installed.
  if (session_.CloseConfirmed() && current_ != nullptr) current_->Stop();
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
  // The session outlives the window; its log no longer reaches the view.
  session_.Log().SetReporter({});
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

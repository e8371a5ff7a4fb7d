// The updater's window, TfrmLive: its components (the label lbl, the timer
// Timer1, the download control dl, the bar clProgressBar1 bound to dl, the
// sunken frame Bevel1) read from the window's stored description, and its
// handlers: FormCreate, the update run Timer1Timer with its completion
// handler dlProcessCompleted, and the close handlers, which go through the
// process's TclUpdaterSession. The form knows no toolkit: a TclLiveView shows
// it and runs its loop.
//
// The run first settles an installation an earlier updater left half done,
// then fetches the update list (and, when a key is configured, the signed
// manifest and its signature, which must vouch for the list), then each
// valid entry's file, one after the other, each started on its own (an
// earlier file is never restarted), judged by its own completion and, with a
// key, by its digest; every wait sleeps until a message arrives and processes
// it, so events, repaints and the close question all happen inside the
// waits. The first failure ends the run and is its outcome. A confirmed close
// stops the file in progress at once (the partial file stays staged), starts
// no further file and ends the run as closed.
//
// Threads: owned by the user-interface thread; every handler runs there.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "app/LiveControls.h"
#include "app/LiveView.h"
#include "app/RunOutcome.h"
#include "app/SiteVerifier.h"
#include "app/UpdaterSession.h"
#include "download/clMultiDownLoader.h"
#include "progress/clProgressBar.h"
#include "rtl/Component.h"

namespace app {

enum TclFormPosition : std::uint8_t { poDesigned, poDefault, poScreenCenter };
enum TclBorderIcon : std::uint8_t { biSystemMenu, biMinimize, biMaximize };

class TfrmLive : public rtl::Component {
 public:
  // Creates the components, reads the stored description into them (the
  // setters' loading rules apply, the bar binds to dl by name and paints once
  // loading ends) and runs FormCreate. View must outlive the form.
  TfrmLive(TclUpdaterSession& session, TclLiveView& view);
  // Runs FormDestroy, then frees the components.
  ~TfrmLive() override;
  std::string ClassName() const override { return "TfrmLive"; }

  TclLabel* lbl;
  TclTimer* Timer1;
  TclMultiDownLoader* dl;
  TclProgressBar* clProgressBar1;
  TclBevel* Bevel1;

  // Stored window attributes.
  const std::string& Caption() const { return caption_; }
  void SetCaption(const std::string& value);
  int ClientWidth() const { return clientWidth_; }
  int ClientHeight() const { return clientHeight_; }
  TclFormPosition Position() const { return position_; }
  // Bit I set: icon I of TclBorderIcon shown in the title bar.
  unsigned BorderIcons() const { return borderIcons_; }
  bool HasBorderIcon(TclBorderIcon icon) const { return (borderIcons_ >> icon) & 1u; }
  const TclFont& Font() const { return font_; }

  TclUpdaterSession& Session() { return session_; }
  // The result of the current download, as its completion set it.
  bool DownloadOK() const { return downloadOK_; }

  // Asks the window to close, as its close button does: FormCloseQuery, and
  // when closing is allowed FormClose and the view's CloseWindow. A request
  // that comes while the close question is open waits for its answer.
  void Close();
  // Whether the window has closed.
  bool Closed() const { return closed_; }

  // Handlers.
  void FormCreate();
  void Timer1Timer(rtl::Component* sender);
  void dlProcessCompleted(TclMultiInternetControl* sender, TclInternetItem* item);
  bool FormCloseQuery();
  void FormClose();
  void FormDestroy();

  void DefineProperties(rtl::Properties& properties) override;

 private:
  void SetLabelText(const std::string& text);
  // Starts Item alone and waits, serving messages, until it is idle.
  void RunDownload(TclDownLoadItem* item);
  // Fetches Url into LocalFile with an item of its own that goes afterwards;
  // true when every byte arrived, else Failure says why.
  bool FetchOnce(const std::string& url, const std::string& localFile, TclRunOutcome& failure);
  // The steps of the run; each records its failure with the session and
  // returns false when the run is to give up.
  void RunUpdate(const std::string& base);
  bool FetchList(const std::string& base);
  bool FetchManifest(const std::string& base, TclSiteVerifier& verifier);
  void FetchFiles(const std::string& base, const TclSiteVerifier& verifier);
  bool Refuse(const std::string& where, const std::string& reason);

  TclUpdaterSession& session_;
  TclLiveView& view_;
  std::string caption_;
  int clientWidth_ = 0;
  int clientHeight_ = 0;
  TclFormPosition position_ = poDesigned;
  unsigned borderIcons_ = 0b111;
  TclFont font_;

  bool downloadOK_ = false;
  TclInternetItem* current_ = nullptr;
  bool asking_ = false;
  bool closeWhileAsking_ = false;
  bool closed_ = false;
  bool destroyed_ = false;
};

// The window's stored description (an ordered JSON object), compiled into the
// program.
std::string_view FrmLiveDescription();

}  // namespace app

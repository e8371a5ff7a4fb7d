// The console front-end: runs the window's form logic without a display. It
// shows the caption, the label's text and the segmented bar on standard
// error: on a terminal the label and bar lines are redrawn in place, into a
// pipe or file they are plain lines (the label when it changes, the bar at
// every tenth of the download and when it completes).
//
// Ctrl-C asks to close the window: the close question is asked on the
// terminal (yes/no) while the download goes on; Ctrl-C again, or SIGTERM,
// answers yes. SIGTERM, or Ctrl-C when there is no terminal to ask on, is a
// confirmed close. The lines of the run's log are printed as they come.
//
// Threads: the user-interface thread's; signals reach it as messages.
#pragma once

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>

#include "app/LiveView.h"
#include "ui/SignalWatcher.h"

namespace ui {

class TclConsoleView : public app::TclLiveView {
 public:
  // Out is where everything is shown (standard error); Interactive tells
  // whether a terminal is there to redraw on and to answer from.
  TclConsoleView(std::FILE* out, bool interactive);
  ~TclConsoleView() override;

  void SetApplicationTitle(const std::string& title) override { title_ = title; }
  void SetCaption(const std::string& caption) override;
  void SetLabelText(const std::string& text) override;
  bool AskYesNo(const std::string& caption, const std::string& text) override;
  void Show(app::TfrmLive& form) override;
  void CloseWindow() override;
  void WaitForInput() override;
  void Run() override;
  void PaintControl(TclGraphicControl& control) override;
  void Report(const std::string& line) override;

 private:
  void OnSignal(int signal);
  void Draw(bool labelChanged);
  // Waits for input on standard input while messages keep being processed;
  // false when the answer was forced or standard input ended.
  bool ReadAnswer(std::string& line);

  std::FILE* out_;
  bool interactive_;
  app::TfrmLive* form_ = nullptr;
  std::string title_;
  std::string label_;
  int lastTenth_ = -1;
  bool drawn_ = false;
  bool asking_ = false;
  bool forced_ = false;
  bool closed_ = false;
  std::chrono::steady_clock::time_point lastDraw_{};
  std::unique_ptr<TclSignalWatcher> signals_;
};

}  // namespace ui

// What the updater's window needs from whatever shows it: the form logic
// (TfrmLive) knows no toolkit and talks to its front-end only through this.
// A front-end shows the form's controls where they are stored (the label's
// text, the sunken frame, the bar, painted through TclControlParent), asks
// the close question modally, and runs the message loop until the window is
// closed.
//
// Threads: every call comes on the user-interface thread, the one that made
// the view and runs its loop.
#pragma once

#include <string>

#include "progress/GraphicControl.h"

namespace app {

class TfrmLive;

class TclLiveView : public TclControlParent {
 public:
  // The application's title (task bar, console prefix).
  virtual void SetApplicationTitle(const std::string& title) = 0;
  // The window's caption.
  virtual void SetCaption(const std::string& caption) = 0;
  // The label's text changed.
  virtual void SetLabelText(const std::string& text) = 0;
  // A modal question with Yes and No; true for Yes. Text's lines are joined
  // by carriage returns, as the message box takes them.
  virtual bool AskYesNo(const std::string& caption, const std::string& text) = 0;
  // Makes the window for Form and shows it.
  virtual void Show(TfrmLive& form) = 0;
  // The window closes: the loop ends as soon as control returns to it.
  virtual void CloseWindow() = 0;
  // Sleeps until a message for this thread (or an event of the toolkit)
  // arrives; the caller then processes what is pending.
  virtual void WaitForInput() = 0;
  // Runs the message loop until CloseWindow.
  virtual void Run() = 0;
  // A line of the run's log (RunLog.h), for a front-end that shows it
  // beside the window's own texts; none by default.
  virtual void Report(const std::string& line) { (void)line; }
};

}  // namespace app

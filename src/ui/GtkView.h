// The GTK 3 front-end: the updater's window as a dialog-type toplevel with a
// client area of the form's stored size (324 x 70), centred, not resizable,
// without minimise or maximise box; the label in the window's CJK font, the
// sunken frame at the bevel's rectangle and the bar in a drawing area that
// paints TclProgressBar::Paint; the close question as a native Yes/No
// message box.
//
// SIGTERM and SIGINT close the window without the question (an open
// question is answered Yes); a second SIGTERM ends the process at once.
//
// The platform's message queue is watched from GLib's main loop (its file
// descriptor, plus a timeout for the next platform timer), and the engine's
// own message pumping runs GTK's pending events through the pump hook, so the
// window repaints and answers inside every wait.
//
// Threads: the user-interface thread's: made, shown, run and destroyed there.
#pragma once

#include <gtk/gtk.h>

#include <memory>
#include <string>

#include "app/LiveView.h"
#include "ui/SignalWatcher.h"

namespace ui {

class TclGtkView : public app::TclLiveView {
 public:
  // Initialises GTK; null when there is no display to open.
  static std::unique_ptr<TclGtkView> Create(int& argc, char**& argv);
  ~TclGtkView() override;

  void SetApplicationTitle(const std::string& title) override;
  void SetCaption(const std::string& caption) override;
  void SetLabelText(const std::string& text) override;
  bool AskYesNo(const std::string& caption, const std::string& text) override;
  void Show(app::TfrmLive& form) override;
  void CloseWindow() override;
  void WaitForInput() override;
  void Run() override;
  void PaintControl(TclGraphicControl& control) override;

  // The toplevel and its parts, for whoever needs to look at them (tests).
  GtkWidget* Window() const { return window_; }
  GtkWidget* Label() const { return label_; }
  GtkWidget* BarArea() const { return barArea_; }

 private:
  TclGtkView();
  static gboolean OnQueueReady(gint fd, GIOCondition condition, gpointer self);
  static gboolean OnTimerDue(gpointer self);
  static gboolean OnDelete(GtkWidget* widget, GdkEvent* event, gpointer self);
  static gboolean OnDrawBar(GtkWidget* widget, cairo_t* context, gpointer self);
  void OnSignal(int signal);
  void Pump();
  // Arms a GLib timeout for the platform's next due timer.
  void ScheduleTimer();

  app::TfrmLive* form_ = nullptr;
  TclGraphicControl* bar_ = nullptr;
  GtkWidget* window_ = nullptr;
  GtkWidget* label_ = nullptr;
  GtkWidget* frame_ = nullptr;
  GtkWidget* barArea_ = nullptr;
  std::string title_;
  std::string caption_;
  std::string labelText_;
  guint queueSource_ = 0;
  guint timerSource_ = 0;
  GtkWidget* question_ = nullptr;
  std::unique_ptr<TclSignalWatcher> signals_;
  bool closed_ = false;
};

}  // namespace ui

#include "ui/GtkView.h"

#include <glib-unix.h>

#include "app/Ulive.h"
#include "platform/Messages.h"

namespace ui {

namespace {

// The window's font family first; where fontconfig has no such family the
// CJK face the project installs stands in.
constexpr const char* kFallbackFamily = "WenQuanYi Micro Hei";

std::string MessageText(std::string text) {
  for (char& c : text) {
    if (c == '\r') c = '\n';
  }
  return text;
}

bool gInPumpHook = false;

}  // namespace

std::unique_ptr<TclGtkView> TclGtkView::Create(int& argc, char**& argv) {
  if (!gtk_init_check(&argc, &argv)) return nullptr;
  return std::unique_ptr<TclGtkView>(new TclGtkView());
}

TclGtkView::TclGtkView() {
  // The queue's descriptor is readable while anything is pending; the source
  // may recurse because the update run waits inside a dispatch of it.
  queueSource_ = g_unix_fd_add(platform::QueueFileDescriptor(), G_IO_IN, &OnQueueReady, this);
  g_source_set_can_recurse(g_main_context_find_source_by_id(nullptr, queueSource_), TRUE);
  signals_ = std::make_unique<TclSignalWatcher>([this](int signal) { OnSignal(signal); });
  platform::SetPumpHook([] {
    // Runs GTK's pending events inside the engine's waits; one level only,
    // since those events may themselves process messages.
    if (gInPumpHook) return;
    gInPumpHook = true;
    while (gtk_events_pending()) gtk_main_iteration_do(FALSE);
    gInPumpHook = false;
  });
}

TclGtkView::~TclGtkView() {
  platform::SetPumpHook({});
  if (queueSource_) g_source_remove(queueSource_);
  if (timerSource_) g_source_remove(timerSource_);
  signals_.reset();
  if (window_) gtk_widget_destroy(window_);
  while (gtk_events_pending()) gtk_main_iteration_do(FALSE);
}

void TclGtkView::SetApplicationTitle(const std::string& title) {
  // GLib takes an application name once per process: the last title set
  // before the window is shown is the one given to it.
  title_ = title;
}

void TclGtkView::SetCaption(const std::string& caption) {
  caption_ = caption;
  if (window_) gtk_window_set_title(GTK_WINDOW(window_), caption.c_str());
}

void TclGtkView::SetLabelText(const std::string& text) {
  labelText_ = text;
  if (label_) gtk_label_set_text(GTK_LABEL(label_), text.c_str());
}

void TclGtkView::Show(app::TfrmLive& form) {
  form_ = &form;
  bar_ = form.clProgressBar1;
  caption_ = form.Caption();
  labelText_ = form.lbl->Caption();

  static bool named = false;
  if (!title_.empty() && !named) {
    g_set_application_name(title_.c_str());
    named = true;
  }
  window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_title(GTK_WINDOW(window_), caption_.c_str());
  // A dialog-type, fixed-size window: the title bar keeps only its close box.
  gtk_window_set_type_hint(GTK_WINDOW(window_), GDK_WINDOW_TYPE_HINT_DIALOG);
  gtk_window_set_resizable(GTK_WINDOW(window_), FALSE);
  if (form.Position() == app::poScreenCenter)
    gtk_window_set_position(GTK_WINDOW(window_), GTK_WIN_POS_CENTER);
  g_signal_connect(window_, "delete-event", G_CALLBACK(&OnDelete), this);

  GtkWidget* area = gtk_fixed_new();
  gtk_widget_set_size_request(area, form.ClientWidth(), form.ClientHeight());
  gtk_container_add(GTK_CONTAINER(window_), area);

  frame_ = gtk_frame_new(nullptr);
  gtk_frame_set_shadow_type(GTK_FRAME(frame_), GTK_SHADOW_IN);
  gtk_widget_set_size_request(frame_, form.Bevel1->Width(), form.Bevel1->Height());
  gtk_fixed_put(GTK_FIXED(area), frame_, form.Bevel1->Left(), form.Bevel1->Top());

  barArea_ = gtk_drawing_area_new();
  gtk_widget_set_size_request(barArea_, bar_->Width(), bar_->Height());
  g_signal_connect(barArea_, "draw", G_CALLBACK(&OnDrawBar), this);
  gtk_fixed_put(GTK_FIXED(area), barArea_, bar_->Left(), bar_->Top());

  label_ = gtk_label_new(labelText_.c_str());
  const std::string font =
      form.Font().Name() + "," + kFallbackFamily + " " + std::to_string(form.Font().Size());
  PangoFontDescription* description = pango_font_description_from_string(font.c_str());
  PangoAttrList* attributes = pango_attr_list_new();
  pango_attr_list_insert(attributes, pango_attr_font_desc_new(description));
  gtk_label_set_attributes(GTK_LABEL(label_), attributes);
  pango_attr_list_unref(attributes);
  pango_font_description_free(description);
  gtk_fixed_put(GTK_FIXED(area), label_, form.lbl->Left(), form.lbl->Top());

  gtk_widget_show_all(window_);
  ScheduleTimer();
}

void TclGtkView::PaintControl(TclGraphicControl& control) {
  (void)control;
  // GTK paints in its frame cycle; the pump hook runs it within the wait the
  // change came from, and each paint is one copy of the bar's bitmap.
  if (barArea_) gtk_widget_queue_draw(barArea_);
}

gboolean TclGtkView::OnDrawBar(GtkWidget*, cairo_t* context, gpointer self) {
  auto* view = static_cast<TclGtkView*>(self);
  if (view->bar_) view->bar_->Paint(context);
  // Handlers connected later still run (and may look at what was painted).
  return FALSE;
}

gboolean TclGtkView::OnDelete(GtkWidget*, GdkEvent*, gpointer self) {
  auto* view = static_cast<TclGtkView*>(self);
  // The form decides; the window goes only when the view is destroyed.
  if (view->form_ && !view->closed_) view->form_->Close();
  return TRUE;
}

void TclGtkView::OnSignal(int) {
  // Told to stop: a close without the question. The run, if any, ends as an
  // abandoned one.
  if (form_ == nullptr || closed_) return;
  form_->Session().QueryClose([] { return true; });
  if (question_ != nullptr) {
    // The question open now is answered for the user; its Yes closes.
    gtk_dialog_response(GTK_DIALOG(question_), GTK_RESPONSE_YES);
    return;
  }
  form_->Close();
}

bool TclGtkView::AskYesNo(const std::string& caption, const std::string& text) {
  GtkWidget* dialog =
      gtk_message_dialog_new(window_ ? GTK_WINDOW(window_) : nullptr, GTK_DIALOG_MODAL,
                             GTK_MESSAGE_INFO, GTK_BUTTONS_YES_NO, "%s", MessageText(text).c_str());
  gtk_window_set_title(GTK_WINDOW(dialog), caption.c_str());
  question_ = dialog;
  const gint response = gtk_dialog_run(GTK_DIALOG(dialog));
  question_ = nullptr;
  gtk_widget_destroy(dialog);
  return response == GTK_RESPONSE_YES;
}

void TclGtkView::CloseWindow() {
  closed_ = true;
  if (window_) gtk_widget_hide(window_);
}

void TclGtkView::Pump() {
  platform::ProcessMessages();
  ScheduleTimer();
}

gboolean TclGtkView::OnQueueReady(gint, GIOCondition, gpointer self) {
  static_cast<TclGtkView*>(self)->Pump();
  return G_SOURCE_CONTINUE;
}

gboolean TclGtkView::OnTimerDue(gpointer self) {
  auto* view = static_cast<TclGtkView*>(self);
  view->timerSource_ = 0;
  view->Pump();
  return G_SOURCE_REMOVE;
}

void TclGtkView::ScheduleTimer() {
  if (timerSource_) {
    g_source_remove(timerSource_);
    timerSource_ = 0;
  }
  if (auto due = platform::NextTimerDue()) {
    timerSource_ = g_timeout_add(static_cast<guint>(due->count()), &OnTimerDue, this);
  }
}

void TclGtkView::WaitForInput() {
  ScheduleTimer();
  g_main_context_iteration(nullptr, TRUE);
}

void TclGtkView::Run() {
  while (!closed_) {
    ScheduleTimer();
    g_main_context_iteration(nullptr, TRUE);
  }
}

}  // namespace ui

#include "ui/ConsoleView.h"

#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

#include "app/Ulive.h"
#include "platform/Messages.h"
#include "progress/clProgressBar.h"
#include "ui/ConsoleBar.h"

namespace ui {

namespace {

constexpr int kBarCells = 40;
// A terminal is redrawn at most this often while bytes arrive.
constexpr auto kRedrawEvery = std::chrono::milliseconds(100);

std::string Lines(std::string text) {
  for (char& c : text) {
    if (c == '\r') c = '\n';
  }
  return text;
}

}  // namespace

TclConsoleView::TclConsoleView(std::FILE* out, bool interactive)
    : out_(out), interactive_(interactive) {
  signals_ = std::make_unique<TclSignalWatcher>([this](int signal) { OnSignal(signal); });
}

TclConsoleView::~TclConsoleView() {
  signals_.reset();
}

void TclConsoleView::SetCaption(const std::string& caption) {
  // The caption is shown as a line of its own once the window is up; later
  // changes (the close confirmed) are news worth a line too.
  if (form_ == nullptr) return;
  if (drawn_ && interactive_) std::fputs("\n", out_);
  std::fprintf(out_, "%s\n", caption.c_str());
  drawn_ = false;
  Draw(true);
}

void TclConsoleView::Report(const std::string& line) {
  if (drawn_ && interactive_) std::fputs("\n", out_);
  std::fprintf(out_, "%s\n", line.c_str());
  drawn_ = false;
  // The label and bar go on below the line while the run goes on.
  if (form_ != nullptr && !closed_) Draw(true);
  std::fflush(out_);
}

void TclConsoleView::SetLabelText(const std::string& text) {
  label_ = text;
  if (form_) Draw(true);
}

void TclConsoleView::PaintControl(TclGraphicControl& control) {
  auto* bar = dynamic_cast<TclProgressBar*>(&control);
  if (bar == nullptr) return;
  // Called for every block of a download: the bar's text is made only when
  // it is drawn.
  if (form_ == nullptr) return;
  const int percent = ConsolePercent(bar->ResourceState());
  if (interactive_) {
    const auto now = std::chrono::steady_clock::now();
    if (percent < 100 && now - lastDraw_ < kRedrawEvery) return;
    lastDraw_ = now;
    Draw(false);
    return;
  }
  const int tenth = percent < 0 ? -1 : percent / 10;
  if (tenth == lastTenth_) return;
  lastTenth_ = tenth;
  if (tenth >= 0) Draw(false);
}

void TclConsoleView::Draw(bool labelChanged) {
  if (asking_ || form_ == nullptr) return;
  const std::string bar = ConsoleBarText(form_->clProgressBar1->ResourceState(), kBarCells);
  if (!interactive_) {
    if (labelChanged) {
      std::fprintf(out_, "%s\n", label_.c_str());
      lastTenth_ = -1;
    } else {
      std::fprintf(out_, "%s\n", bar.c_str());
    }
    std::fflush(out_);
    return;
  }
  if (!drawn_) {
    std::fprintf(out_, "%s\n%s", label_.c_str(), bar.c_str());
  } else if (labelChanged) {
    std::fprintf(out_, "\r\033[K\033[1A\r\033[K%s\n%s", label_.c_str(), bar.c_str());
  } else {
    std::fprintf(out_, "\r\033[K%s", bar.c_str());
  }
  drawn_ = true;
  std::fflush(out_);
}

void TclConsoleView::Show(app::TfrmLive& form) {
  form_ = &form;
  label_ = form.lbl->Caption();
  std::fprintf(out_, "%s\n", form.Caption().c_str());
  Draw(true);
}

void TclConsoleView::OnSignal(int signal) {
  if (closed_ || form_ == nullptr) return;
  // Only a terminal can answer; anything else is told to stop.
  if (signal == SIGTERM || !interactive_ || asking_) forced_ = true;
  form_->Close();
}

bool TclConsoleView::ReadAnswer(std::string& line) {
  line.clear();
  for (;;) {
    if (forced_) return false;
    pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {platform::QueueFileDescriptor(), POLLIN, 0}};
    auto due = platform::NextTimerDue();
    const int timeout = due ? static_cast<int>(due->count()) : -1;
    const int ready = ::poll(fds, 2, timeout);
    if (ready < 0 && errno != EINTR) return false;
    if (fds[0].revents & (POLLIN | POLLHUP)) {
      char c = 0;
      const ssize_t got = ::read(STDIN_FILENO, &c, 1);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) return false;
      if (c == '\n') return true;
      line += c;
      continue;
    }
    // The download goes on while the question waits for its answer.
    platform::ProcessMessages();
  }
}

bool TclConsoleView::AskYesNo(const std::string& caption, const std::string& text) {
  if (forced_ || !interactive_) return forced_;
  if (drawn_) std::fputs("\n", out_);
  asking_ = true;
  drawn_ = false;
  std::fprintf(out_, "%s\n%s\n", caption.c_str(), Lines(text).c_str());
  bool answer = false;
  for (;;) {
    std::fputs("(yes/no) ", out_);
    std::fflush(out_);
    std::string line;
    if (!ReadAnswer(line)) {
      answer = forced_;
      if (forced_) std::fputs("yes\n", out_);
      break;
    }
    if (line == "y" || line == "yes" || line == "Y" || line == "YES" || line == "是") {
      answer = true;
      break;
    }
    if (line.empty() || line == "n" || line == "no" || line == "N" || line == "NO" || line == "否")
      break;
  }
  asking_ = false;
  Draw(true);
  return answer;
}

void TclConsoleView::CloseWindow() {
  closed_ = true;
  if (drawn_ && interactive_) std::fputs("\n", out_);
  drawn_ = false;
  std::fflush(out_);
}

void TclConsoleView::WaitForInput() {
  platform::WaitMessage();
}

void TclConsoleView::Run() {
  while (!closed_) {
    platform::ProcessMessages();
    if (!closed_) platform::WaitMessage();
  }
}

}  // namespace ui

#include "ui/SignalWatcher.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

namespace ui {

namespace {

constexpr const char* kWindowClass = "LiveUpdateSignals";
constexpr std::uint32_t kSignalMessage = platform::kWmApp + 1;

// Written only before the handlers are installed and after they are removed.
int gSignalPipe = -1;
TclSignalWatcher* gWatcher = nullptr;

extern "C" void OnSignal(int signal) {
  const int saved = errno;
  if (signal == SIGTERM) {
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    ::sigaction(SIGTERM, &fallback, nullptr);
  }
  const unsigned char number = static_cast<unsigned char>(signal);
  if (gSignalPipe >= 0) (void)!::write(gSignalPipe, &number, 1);
  errno = saved;
}

void Install(void (*handler)(int)) {
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // a blocking read of an answer returns with EINTR
  ::sigaction(SIGINT, &action, nullptr);
  ::sigaction(SIGTERM, &action, nullptr);
}

}  // namespace

TclSignalWatcher::TclSignalWatcher(Handler onSignal) : onSignal_(std::move(onSignal)) {
  if (::pipe2(pipe_, O_CLOEXEC) != 0) throw std::runtime_error("no pipe for signals");
  platform::WndProc existing = nullptr;
  if (!platform::GetClassInfo(kWindowClass, &existing))
    platform::RegisterClass(kWindowClass, &WindowProc);
  window_ = platform::CreateWindow(kWindowClass);
  gWatcher = this;
  gSignalPipe = pipe_[1];
  thread_ = std::thread([this] { Watch(); });
  Install(&OnSignal);
}

TclSignalWatcher::~TclSignalWatcher() {
  Install(SIG_DFL);
  gSignalPipe = -1;
  const unsigned char stop = 0;
  (void)!::write(pipe_[1], &stop, 1);
  thread_.join();
  ::close(pipe_[0]);
  ::close(pipe_[1]);
  platform::DestroyWindow(window_);
  gWatcher = nullptr;
}

void TclSignalWatcher::Watch() {
  for (;;) {
    unsigned char number = 0;
    const ssize_t got = ::read(pipe_[0], &number, 1);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0 || number == 0) return;
    platform::PostMessage(window_, kSignalMessage, number, 0);
  }
}

platform::LRESULT TclSignalWatcher::WindowProc(platform::HWND window, std::uint32_t message,
                                               platform::WPARAM wParam, platform::LPARAM lParam) {
  if (message == kSignalMessage && gWatcher && gWatcher->onSignal_) {
    gWatcher->onSignal_(static_cast<int>(wParam));
    return 0;
  }
  return platform::DefWindowProc(window, message, wParam, lParam);
}

}  // namespace ui

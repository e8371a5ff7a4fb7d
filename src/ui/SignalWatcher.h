// Turns SIGINT and SIGTERM into messages of the user-interface thread. The
// handler only writes the signal's number into a pipe (all it may safely do);
// a watcher thread reads the pipe and posts each signal to a hidden window of
// the thread that made the watcher, so it is handled there, inside whatever
// wait that thread is in, like any other message. The first SIGTERM also
// gives the signal back its default action, so a second one ends the
// process at once, whatever the user-interface thread is doing.
//
// Threads: made and destroyed on the user-interface thread, whose window gets
// the messages; the watcher thread only reads the pipe and posts.
#pragma once

#include <functional>
#include <thread>

#include "platform/Messages.h"

namespace ui {

class TclSignalWatcher {
 public:
  using Handler = std::function<void(int signal)>;
  // Installs the handlers (without restarting interrupted calls); OnSignal
  // runs on the calling thread while it processes messages.
  explicit TclSignalWatcher(Handler onSignal);
  // Restores the default actions and ends the watcher thread.
  ~TclSignalWatcher();
  TclSignalWatcher(const TclSignalWatcher&) = delete;
  TclSignalWatcher& operator=(const TclSignalWatcher&) = delete;

 private:
  static platform::LRESULT WindowProc(platform::HWND window, std::uint32_t message,
                                      platform::WPARAM wParam, platform::LPARAM lParam);
  void Watch();

  Handler onSignal_;
  platform::HWND window_ = nullptr;
  int pipe_[2] = {-1, -1};
  std::thread thread_;
};

}  // namespace ui

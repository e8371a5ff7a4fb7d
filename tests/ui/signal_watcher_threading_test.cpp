// Signals reach the user-interface thread as messages, through the
// watcher's own thread; the first SIGTERM gives the signal its default
// action back, so that a second one would end the process at once.
#include "ui/SignalWatcher.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <vector>

#include "platform/Messages.h"

namespace {

bool Handled(int signal) {
  struct sigaction current {};
  ::sigaction(signal, nullptr, &current);
  return current.sa_handler != SIG_DFL && current.sa_handler != SIG_IGN;
}

TEST(SignalWatcherTest, SignalsArriveInOrderOnTheMakingThreadAndSigtermOnlyOnce) {
  std::vector<int> seen;
  {
    ui::TclSignalWatcher watcher([&](int signal) { seen.push_back(signal); });
    ASSERT_TRUE(Handled(SIGTERM));
    ::raise(SIGINT);
    ::raise(SIGINT);
    ::raise(SIGTERM);
    EXPECT_FALSE(Handled(SIGTERM)) << "a second SIGTERM takes its default action";
    EXPECT_TRUE(Handled(SIGINT)) << "Ctrl-C keeps asking";
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (seen.size() < 3 && std::chrono::steady_clock::now() < deadline) {
      platform::WaitMessage(100);
      platform::ProcessMessages();
    }
  }
  EXPECT_EQ(seen, (std::vector<int>{SIGINT, SIGINT, SIGTERM}));
  EXPECT_FALSE(Handled(SIGINT)) << "the defaults are back once the watcher is gone";
}

}  // namespace

// Hand-overs between threads through events and message-aware waits: a wake is
// delivered after the waker has released the wait lock, so these check that no
// wake is lost in between and that a late wake never fakes a result.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/Messages.h"
#include "platform/Threads.h"
#include "platform/Waits.h"

using namespace platform;
using namespace std::chrono_literals;

namespace {

// A bounded wait, so that a lost wake fails the test instead of hanging it.
constexpr DWORD kGenerous = 10000;

TEST(WaitHandOver, PingPongOfTwoAutoResetEventsLosesNoWake) {
  auto ping = CreateEvent(false, false);
  auto pong = CreateEvent(false, false);
  constexpr int kRounds = 20000;
  int value = 0;  // handed back and forth; the waits publish it
  std::atomic<int> answererFailures{0};
  std::thread answerer([&] {
    for (int i = 0; i < kRounds; ++i) {
      if (WaitForSingleObject(ping, kGenerous) != kWaitObject0) {
        ++answererFailures;
        return;
      }
      value = value * 2 + 1;
      pong->Set();
    }
  });
  int expected = 0;
  int rounds = 0;
  for (; rounds < kRounds; ++rounds) {
    value = rounds;
    ping->Set();
    if (WaitForSingleObject(pong, kGenerous) != kWaitObject0) break;
    expected = rounds * 2 + 1;
    if (value != expected) break;
  }
  answerer.join();
  EXPECT_EQ(rounds, kRounds);
  EXPECT_EQ(value, expected);
  EXPECT_EQ(answererFailures, 0);
  EXPECT_FALSE(ping->IsSet());
  EXPECT_FALSE(pong->IsSet());
}

TEST(WaitHandOver, ALateWakeNeverSatisfiesALaterWaitOnOtherObjects) {
  auto first = CreateEvent(false, false);
  auto second = CreateEvent(false, false);
  // Times out on first, then first is set while nobody waits on it.
  EXPECT_EQ(WaitForSingleObject(first, 20), kWaitTimeout);
  std::thread setter([&] { first->Set(); });
  setter.join();
  // The wait on second must still time out, and first keeps its signal.
  EXPECT_EQ(WaitForSingleObject(second, 50), kWaitTimeout);
  EXPECT_TRUE(first->IsSet());
  EXPECT_EQ(WaitForSingleObject(first, 0), kWaitObject0);
  EXPECT_FALSE(first->IsSet());
}

TEST(WaitHandOver, EachOfManyWaitersOnOneAutoResetEventTakesExactlyOneSet) {
  auto e = CreateEvent(false, false);
  constexpr int kWaiters = 8;
  std::atomic<int> woken{0};
  std::atomic<int> failed{0};
  std::vector<std::thread> waiters;
  for (int i = 0; i < kWaiters; ++i) {
    waiters.emplace_back([&] {
      if (WaitForSingleObject(e, kGenerous) == kWaitObject0) {
        ++woken;
      } else {
        ++failed;
      }
    });
  }
  // Sets only after the previous one was taken, so none is merged into another.
  for (int i = 0; i < kWaiters; ++i) {
    e->Set();
    while (e->IsSet()) std::this_thread::sleep_for(100us);
  }
  for (auto& w : waiters) w.join();
  EXPECT_EQ(woken, kWaiters);
  EXPECT_EQ(failed, 0);
  EXPECT_FALSE(e->IsSet());
}

TEST(WaitHandOver, MessageAwareWaitWakesForAPostAndThenForTheEvent) {
  auto done = CreateEvent(true, false);
  std::atomic<std::uint32_t> waiterId{0};
  std::atomic<bool> sawPost{false};
  std::atomic<DWORD> eventResult{kWaitFailed};
  std::thread waiter([&] {
    Message m;
    PeekMessage(m, false);  // makes the queue before anyone posts
    waiterId = CurrentThreadId();
    DWORD r = MsgWaitForMultipleObjects({done}, false, kGenerous, kQsPostMessage);
    sawPost = r == kWaitObject0 + 1 && PeekMessage(m, true) && m.message == 0x8123;
    eventResult = MsgWaitForMultipleObjects({done}, false, kGenerous, kQsPostMessage);
  });
  while (waiterId == 0) std::this_thread::sleep_for(1ms);
  std::this_thread::sleep_for(20ms);
  EXPECT_TRUE(PostThreadMessage(waiterId, 0x8123, 0, 0));
  std::this_thread::sleep_for(20ms);
  done->Set();
  waiter.join();
  EXPECT_TRUE(sawPost);
  EXPECT_EQ(eventResult, kWaitObject0);
}

}  // namespace

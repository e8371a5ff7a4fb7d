// Hand-overs between threads through events and message-aware waits: a wake is
// delivered after the waker has released the wait lock, so these check that no
// wake is lost in between and that a late wake never fakes a result.
#include <gtest/gtest.h>
#include <sched.h>

#include <atomic>
#include <thread>
#include <string>
#include <tuple>
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

namespace {

// Hand-overs of every kind the platform offers, with both threads on one
// processor (a waiter never spins), on two (the waiter spins for a partner
// that answers from the other) and where the system puts them.
enum class HandOverKind { kEvents, kSendToPumpingThread, kSendToServingWait };
enum class Placement { kFree, kOneProcessor, kTwoProcessors };

constexpr std::uint32_t kAddOne = kWmApp + 11;
LRESULT AddOneProc(HWND window, std::uint32_t message, WPARAM wParam, LPARAM lParam) {
  if (message == kAddOne) return static_cast<LRESULT>(wParam) + 1;
  return DefWindowProc(window, message, wParam, lParam);
}

// The first and the last processor this process may use; -1 when only one.
std::pair<int, int> TwoProcessors() {
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof set, &set) != 0 || CPU_COUNT(&set) < 2) return {-1, -1};
  int first = -1, last = -1;
  for (int c = 0; c < CPU_SETSIZE; ++c) {
    if (!CPU_ISSET(c, &set)) continue;
    if (first < 0) first = c;
    last = c;
  }
  return {first, last};
}

void Pin(int cpu) {
  if (cpu < 0) return;
  cpu_set_t set;
  CPU_ZERO(&set);
  CPU_SET(cpu, &set);
  sched_setaffinity(0, sizeof set, &set);
}

class HandOverMatrix : public ::testing::TestWithParam<std::tuple<HandOverKind, Placement>> {};

TEST_P(HandOverMatrix, EveryRoundArrivesWithItsValueAndNoWakeIsLost) {
  const auto [kind, placement] = GetParam();
  const auto [first, last] = TwoProcessors();
  if (placement != Placement::kFree && first < 0) GTEST_SKIP() << "needs two processors";
  const int mine = placement == Placement::kFree ? -1 : first;
  const int theirs = placement == Placement::kFree ? -1
                     : placement == Placement::kOneProcessor ? first
                                                             : last;
  cpu_set_t original;
  sched_getaffinity(0, sizeof original, &original);
  Pin(mine);

  constexpr int kRounds = 20000;
  auto ping = CreateEvent(false, false);
  auto pong = CreateEvent(false, false);
  auto stop = CreateEvent(true, false);
  std::atomic<HWND> window{nullptr};
  std::atomic<bool> stopping{false};
  int value = 0;  // handed back and forth; the hand-overs publish it
  std::atomic<int> partnerFailures{0};
  if (kind != HandOverKind::kEvents) {
    UnregisterClass("HandOverWindow");
    ASSERT_TRUE(RegisterClass("HandOverWindow", &AddOneProc));
  }
  std::thread partner([&] {
    Pin(theirs);
    switch (kind) {
      case HandOverKind::kEvents:
        for (int i = 0; i < kRounds; ++i) {
          if (WaitForSingleObject(ping, kGenerous) != kWaitObject0) {
            ++partnerFailures;
            return;
          }
          value = value * 2 + 1;
          pong->Set();
        }
        break;
      case HandOverKind::kSendToPumpingThread:
        window = CreateWindow("HandOverWindow");
        while (!stopping) {
          WaitMessage(100);
          ProcessMessages();
        }
        DestroyWindow(window);
        break;
      case HandOverKind::kSendToServingWait:
        window = CreateWindow("HandOverWindow");
        if (WaitServingMessages(stop, kGenerous * 3) != kWaitObject0) ++partnerFailures;
        DestroyWindow(window);
        break;
    }
  });
  int rounds = 0;
  if (kind == HandOverKind::kEvents) {
    for (; rounds < kRounds; ++rounds) {
      value = rounds;
      ping->Set();
      if (WaitForSingleObject(pong, kGenerous) != kWaitObject0 || value != rounds * 2 + 1) break;
    }
  } else {
    while (window == nullptr) std::this_thread::sleep_for(1ms);
    for (; rounds < kRounds; ++rounds) {
      if (SendMessage(window, kAddOne, static_cast<WPARAM>(rounds), 0) != rounds + 1) break;
    }
    stopping = true;
    SendMessage(window, kAddOne, 0, 0);  // wakes the pumping loop to see the flag
    stop->Set();
  }
  partner.join();
  sched_setaffinity(0, sizeof original, &original);
  EXPECT_EQ(rounds, kRounds);
  EXPECT_EQ(partnerFailures, 0);
  EXPECT_FALSE(ping->IsSet());
  EXPECT_FALSE(pong->IsSet());
}

std::string HandOverName(const ::testing::TestParamInfo<HandOverMatrix::ParamType>& info) {
  const char* const kinds[] = {"Events", "SendToPumpingThread", "SendToServingWait"};
  const char* const placements[] = {"Free", "OneProcessor", "TwoProcessors"};
  return std::string(kinds[static_cast<int>(std::get<0>(info.param))]) + "_" +
         placements[static_cast<int>(std::get<1>(info.param))];
}

INSTANTIATE_TEST_SUITE_P(
    KindsAndPlacements, HandOverMatrix,
    ::testing::Combine(::testing::Values(HandOverKind::kEvents, HandOverKind::kSendToPumpingThread,
                                         HandOverKind::kSendToServingWait),
                       ::testing::Values(Placement::kFree, Placement::kOneProcessor,
                                         Placement::kTwoProcessors)),
    HandOverName);

// Each object has its own lock: a wait for all of several takes them together
// or not at all, whatever order the handles come in, while single waits and
// setters work on the same objects.
TEST(WaitHandOver, WaitsForAllTakeBothEventsAtOnceInEitherOrder) {
  auto a = CreateEvent(false, false);
  auto b = CreateEvent(false, false);
  constexpr int kRounds = 3000;
  std::atomic<int> pairsTaken{0}, halves{0}, failures{0};
  std::atomic<bool> done{false};
  auto allWaiter = [&](std::vector<Handle> order) {
    return std::thread([&, order] {
      while (!done) {
        DWORD r = WaitForMultipleObjects(order, true, 20);
        if (r == kWaitObject0) {
          ++pairsTaken;
        } else if (r != kWaitTimeout) {
          ++failures;
        }
      }
    });
  };
  std::thread forward = allWaiter({a, b});
  std::thread backward = allWaiter({b, a});
  for (int i = 0; i < kRounds; ++i) {
    // Only a: no wait for all may take it; the single wait below does.
    a->Set();
    if (WaitForSingleObject(a, kGenerous) == kWaitObject0) {
      ++halves;
    } else {
      ++failures;
    }
    a->Set();
    b->Set();
    // Both: exactly one wait for all takes the pair.
    auto until = std::chrono::steady_clock::now() + 10s;
    while (pairsTaken < i + 1 && std::chrono::steady_clock::now() < until) std::this_thread::yield();
  }
  done = true;
  forward.join();
  backward.join();
  EXPECT_EQ(failures, 0);
  EXPECT_EQ(halves, kRounds);
  EXPECT_EQ(pairsTaken, kRounds);
  EXPECT_FALSE(a->IsSet());
  EXPECT_FALSE(b->IsSet());
}

// A kernel wake may reach a waiter after it has left its wait, even after its
// thread ended: it must do no harm and satisfy nothing.
TEST(WaitHandOver, ShortLivedWaitersThatTimeOutWhileBeingWokenLeaveNoTrace) {
  auto e = CreateEvent(true, false);
  std::atomic<bool> done{false};
  std::thread setter([&] {
    while (!done) {
      e->Set();
      e->Reset();
    }
  });
  std::atomic<int> failures{0};
  for (int wave = 0; wave < 40; ++wave) {
    std::vector<std::thread> waiters;
    for (int i = 0; i < 4; ++i) {
      waiters.emplace_back([&] {
        auto never = CreateEvent(false, false);
        for (int j = 0; j < 20; ++j) {
          DWORD r = WaitForMultipleObjects({e, never}, false, 1);
          if (r != kWaitObject0 && r != kWaitTimeout) ++failures;
        }
        if (WaitForSingleObject(never, 0) != kWaitTimeout) ++failures;
      });
    }
    for (auto& w : waiters) w.join();
  }
  done = true;
  setter.join();
  EXPECT_EQ(failures, 0);
}

}  // namespace

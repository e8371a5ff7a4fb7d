// Messages, hidden windows and message-aware waits between real threads.
#include <gtest/gtest.h>
#include <poll.h>
#include <time.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/Messages.h"
#include "platform/Threads.h"
#include "platform/Waits.h"

using namespace platform;
using namespace std::chrono_literals;

namespace {

constexpr std::uint32_t kAdd = kWmApp + 1;
constexpr std::uint32_t kRecord = kWmApp + 2;
constexpr std::uint32_t kSendBack = kWmApp + 3;

std::atomic<std::uint32_t> gLastServingThread{0};
std::vector<WPARAM> gRecorded;  // touched only on the window's thread
HWND gPeerWindow = nullptr;

LRESULT TestProc(HWND window, std::uint32_t message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case kAdd:
      gLastServingThread = CurrentThreadId();
      return static_cast<LRESULT>(wParam) + lParam;
    case kRecord:
      gRecorded.push_back(wParam);
      return 0;
    case kSendBack:
      // Sends to the window of the thread that is blocked sending to us.
      return SendMessage(gPeerWindow, kAdd, wParam, 1) * 10;
    default:
      return DefWindowProc(window, message, wParam, lParam);
  }
}

class MessagesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    UnregisterClass("MessagesTestWindow");
    ASSERT_TRUE(RegisterClass("MessagesTestWindow", &TestProc));
    window_ = CreateWindow("MessagesTestWindow");
    ASSERT_NE(window_, nullptr);
    gRecorded.clear();
  }
  void TearDown() override {
    DestroyWindow(window_);
    UnregisterClass("MessagesTestWindow");
  }

  // Pumps until Flag is set or a second has passed.
  static bool PumpUntil(const std::atomic<bool>& flag) {
    auto until = std::chrono::steady_clock::now() + 5s;
    while (!flag && std::chrono::steady_clock::now() < until) {
      WaitMessage(50);
      ProcessMessages();
    }
    return flag;
  }

  HWND window_ = nullptr;
};

TEST_F(MessagesTest, SendFromWorkerBlocksUntilTheOwnerPumps) {
  std::atomic<bool> returned{false};
  LRESULT result = 0;
  std::thread worker([&] {
    result = SendMessage(window_, kAdd, 40, 2);
    returned = true;
  });
  std::this_thread::sleep_for(150ms);
  EXPECT_FALSE(returned) << "the send returned although the owner did not pump";
  EXPECT_TRUE(PumpUntil(returned));
  worker.join();
  EXPECT_EQ(result, 42);
  EXPECT_EQ(gLastServingThread, CurrentThreadId());
}

TEST_F(MessagesTest, PlainWaitServesNothingButMessageAwareWaitServesSends) {
  std::atomic<bool> returned{false};
  auto sent = CreateEvent(true, false);
  std::thread worker([&] {
    sent->Set();
    SendMessage(window_, kAdd, 1, 1);
    returned = true;
  });
  ASSERT_EQ(WaitForSingleObject(sent, 5000), kWaitObject0);
  auto never = CreateEvent(true, false);
  EXPECT_EQ(WaitForSingleObject(never, 200), kWaitTimeout);
  EXPECT_FALSE(returned);

  auto until = std::chrono::steady_clock::now() + 5s;
  while (!returned && std::chrono::steady_clock::now() < until) {
    DWORD r = MsgWaitForMultipleObjects({never}, false, 1000, kQsSendMessage);
    ASSERT_NE(r, kWaitObject0) << "the event was never set";
    if (r == kWaitObject0 + 1) ProcessMessages();
  }
  worker.join();
  EXPECT_TRUE(returned);
}

TEST_F(MessagesTest, SendToOwnThreadRunsAtOnce) {
  EXPECT_EQ(SendMessage(window_, kAdd, 5, 6), 11);
  EXPECT_EQ(gLastServingThread, CurrentThreadId());
}

TEST_F(MessagesTest, SendsBetweenTwoBlockedThreadsDoNotDeadlock) {
  // The worker owns a window too; our handler sends back to it while the worker
  // is blocked sending to us.
  std::atomic<bool> ready{false}, done{false};
  LRESULT result = 0;
  std::thread worker([&] {
    gPeerWindow = CreateWindow("MessagesTestWindow");
    ready = true;
    result = SendMessage(window_, kSendBack, 7, 0);
    DestroyWindow(gPeerWindow);
    done = true;
  });
  while (!ready) std::this_thread::sleep_for(1ms);
  EXPECT_TRUE(PumpUntil(done));
  worker.join();
  EXPECT_EQ(result, 80);
}

TEST_F(MessagesTest, PostedMessagesArriveInOrderWhenPumped) {
  std::thread worker([&] {
    for (WPARAM i = 0; i < 100; ++i) ASSERT_TRUE(PostMessage(window_, kRecord, i, 0));
  });
  worker.join();
  EXPECT_TRUE(gRecorded.empty());
  ProcessMessages();
  ASSERT_EQ(gRecorded.size(), 100u);
  for (WPARAM i = 0; i < 100; ++i) EXPECT_EQ(gRecorded[i], i);
}

TEST_F(MessagesTest, QueueDescriptorIsReadableWhileSomethingIsPending) {
  int fd = QueueFileDescriptor();
  ProcessMessages();
  pollfd p{fd, POLLIN, 0};
  EXPECT_EQ(poll(&p, 1, 0), 0);
  std::thread([&] { PostMessage(window_, kRecord, 1, 0); }).join();
  EXPECT_EQ(poll(&p, 1, 1000), 1);
  ProcessMessages();
  EXPECT_EQ(poll(&p, 1, 0), 0);
}

// The descriptor is made when first asked for and then tells whether anything is
// pending, whichever way the pending messages were served.
TEST_F(MessagesTest, QueueDescriptorMadeLateTracksWhatIsPendingHoweverItIsServed) {
  std::atomic<HWND> theirs{nullptr};
  auto done = CreateEvent(true, false);
  int readableAtFirst = -1, readableAfterPump = -1, readableAfterServing = -1;
  bool posted = false;
  std::thread owner([&] {
    Message m;
    PeekMessage(m, false);  // makes the queue, not yet its descriptor
    posted = PostThreadMessage(CurrentThreadId(), kRecord, 1, 0);
    pollfd p{QueueFileDescriptor(), POLLIN, 0};
    readableAtFirst = poll(&p, 1, 0);
    ProcessMessages();
    readableAfterPump = poll(&p, 1, 0);
    theirs = CreateWindow("MessagesTestWindow");
    WaitServingMessages(done, 5000);
    readableAfterServing = poll(&p, 1, 0);
    DestroyWindow(theirs);
  });
  while (!theirs) std::this_thread::sleep_for(1ms);
  EXPECT_EQ(SendMessage(theirs, kAdd, 2, 3), 5);
  done->Set();
  owner.join();
  EXPECT_TRUE(posted);
  EXPECT_EQ(readableAtFirst, 1) << "a message was pending when the descriptor was made";
  EXPECT_EQ(readableAfterPump, 0);
  EXPECT_EQ(readableAfterServing, 0) << "the served send left the descriptor readable";
}

TEST_F(MessagesTest, SendToADestroyedWindowFailsAtOnce) {
  HWND gone = CreateWindow("MessagesTestWindow");
  ASSERT_TRUE(DestroyWindow(gone));
  EXPECT_FALSE(IsWindow(gone));
  SetLastError(0);
  EXPECT_EQ(SendMessage(gone, kAdd, 1, 1), 0);
  EXPECT_EQ(GetLastError(), kErrorInvalidWindowHandle);
  EXPECT_FALSE(PostMessage(gone, kAdd, 1, 1));
}

TEST_F(MessagesTest, OnlyTheOwnerThreadMayDestroyAWindow) {
  bool destroyed = true;
  DWORD error = 0;
  std::thread([&] {
    destroyed = DestroyWindow(window_);
    error = GetLastError();
  }).join();
  EXPECT_FALSE(destroyed);
  EXPECT_EQ(error, kErrorAccessDenied);
  EXPECT_TRUE(IsWindow(window_));
}

TEST_F(MessagesTest, ASenderIsReleasedWhenTheOwnerThreadEnds) {
  std::atomic<HWND> theirs{nullptr};
  auto finish = CreateEvent(true, false);
  std::thread owner([&] {
    theirs = CreateWindow("MessagesTestWindow");
    WaitForSingleObject(finish, kInfinite);  // never serves
  });
  while (!theirs) std::this_thread::sleep_for(1ms);
  std::thread releaser([&] {
    std::this_thread::sleep_for(100ms);
    finish->Set();
  });
  EXPECT_EQ(SendMessage(theirs, kAdd, 1, 1), 0);
  owner.join();
  releaser.join();
  EXPECT_FALSE(IsWindow(theirs));
}

TEST(Timers, OneShotFiresOnceAndRepeatingUntilKilled) {
  int oneShot = 0, repeating = 0;
  SetTimer(
      20, [&] { ++oneShot; }, true);
  std::uint32_t id = 0;
  id = SetTimer(10, [&] {
    if (++repeating == 3) KillTimer(id);
  });
  auto until = std::chrono::steady_clock::now() + 2s;
  while (std::chrono::steady_clock::now() < until && (oneShot == 0 || repeating < 3)) {
    WaitMessage(100);
    ProcessMessages();
  }
  for (int i = 0; i < 5; ++i) {
    WaitMessage(20);
    ProcessMessages();
  }
  EXPECT_EQ(oneShot, 1);
  EXPECT_EQ(repeating, 3);
  EXPECT_FALSE(NextTimerDue().has_value());
}

TEST(Timers, GetMessageLoopEndsWithQuitFromATimer) {
  int fired = 0;
  SetTimer(
      10,
      [&] {
        ++fired;
        PostQuitMessage(7);
      },
      true);
  Message m;
  while (GetMessage(m)) DispatchMessage(m);
  EXPECT_EQ(m.message, kWmQuit);
  EXPECT_EQ(m.wParam, 7u);
  EXPECT_EQ(fired, 1);
}

// A quit message left pending for the thread's own loop must not keep a wait that
// serves messages awake: it sleeps until something new arrives.
double ThreadCpuMilliseconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) * 1000.0 + static_cast<double>(now.tv_nsec) / 1e6;
}

class WaitWithQuitPending : public MessagesTest, public ::testing::WithParamInterface<bool> {};

TEST_P(WaitWithQuitPending, SleepsAndLeavesTheQuitForTheLoop) {
  const bool serveAll = GetParam();
  double cpu = -1;
  DWORD result = 0;
  Message left;
  bool quitLeft = false;
  std::thread waiter([&] {
    PostQuitMessage(7);
    auto never = CreateEvent(true, false);
    double before = ThreadCpuMilliseconds();
    result = WaitServingMessages(never, 300, serveAll);
    cpu = ThreadCpuMilliseconds() - before;
    quitLeft = PeekMessage(left, true);
  });
  waiter.join();
  EXPECT_EQ(result, kWaitTimeout);
  EXPECT_LT(cpu, 100.0) << "milliseconds of processor time during a 300 ms wait";
  ASSERT_TRUE(quitLeft);
  EXPECT_EQ(left.message, kWmQuit);
  EXPECT_EQ(left.wParam, 7u);
}

INSTANTIATE_TEST_SUITE_P(ServingSentOrAll, WaitWithQuitPending, ::testing::Bool());

TEST_F(MessagesTest, WaitWithQuitPendingStillServesWhatArrivesAndEndsOnItsHandle) {
  auto done = CreateEvent(true, false);
  auto windowMade = CreateEvent(true, false);
  std::atomic<HWND> window{nullptr};
  DWORD result = 0;
  bool quitLeft = false;
  std::thread waiter([&] {
    window = CreateWindow("MessagesTestWindow");
    PostQuitMessage(3);
    windowMade->Set();
    result = WaitServingMessages(done, 5000, true);
    Message left;
    quitLeft = PeekMessage(left, true) && left.message == kWmQuit;
    DestroyWindow(window);
  });
  ASSERT_EQ(WaitForSingleObject(windowMade, 5000), kWaitObject0);
  EXPECT_EQ(SendMessage(window, kAdd, 40, 2), 42);
  done->Set();
  waiter.join();
  EXPECT_EQ(result, kWaitObject0);
  EXPECT_TRUE(quitLeft);
}

}  // namespace

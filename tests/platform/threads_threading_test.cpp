// Threads, events and waits with real threads.
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/Counter.h"
#include "platform/Threads.h"
#include "platform/Waits.h"

using namespace platform;
using namespace std::chrono_literals;

namespace {

class FlagThread : public Thread {
 public:
  FlagThread(bool suspended, std::atomic<bool>* destroyed, std::atomic<std::uint32_t>* seenId)
      : Thread(suspended), destroyed_(destroyed), seenId_(seenId) {}
  ~FlagThread() override {
    if (destroyed_) *destroyed_ = true;
  }

 protected:
  void Execute() override {
    if (seenId_) *seenId_ = CurrentThreadId();
    while (!Terminated() && hold_) std::this_thread::sleep_for(1ms);
    SetReturnValue(17);
  }

 public:
  std::atomic<bool> hold_{false};

 private:
  std::atomic<bool>* destroyed_;
  std::atomic<std::uint32_t>* seenId_;
};

TEST(Threads, SuspendedThreadRunsOnlyAfterStartUnderItsOwnId) {
  std::atomic<std::uint32_t> seen{0};
  FlagThread t(true, nullptr, &seen);
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(seen, 0u);
  EXPECT_FALSE(t.Started());
  t.Start();
  EXPECT_EQ(t.WaitFor(), 17);
  EXPECT_EQ(seen, t.ThreadID());
  EXPECT_NE(t.ThreadID(), CurrentThreadId());
}

TEST(Threads, TerminateSetsTheFlagTheThreadWatches) {
  FlagThread t(true, nullptr, nullptr);
  t.hold_ = true;
  t.Start();
  EXPECT_EQ(WaitForSingleObject(t.ThreadHandle(), 100), kWaitTimeout);
  t.Terminate();
  EXPECT_TRUE(t.Terminated());
  EXPECT_EQ(WaitForSingleObject(t.ThreadHandle(), 5000), kWaitObject0);
}

TEST(Threads, DuplicatedHandleSurvivesAThreadThatFreesItself) {
  std::atomic<bool> destroyed{false};
  auto* t = new FlagThread(true, &destroyed, nullptr);
  t->SetFreeOnTerminate(true);
  Handle handle = t->ThreadHandle();
  t->Start();
  ASSERT_EQ(WaitForSingleObject(handle, 5000), kWaitObject0);
  EXPECT_TRUE(destroyed) << "the handle was signalled before the object was freed";
}

TEST(Threads, PriorityChangesAreKeptEvenWhenRefused) {
  FlagThread t(true, nullptr, nullptr);
  t.SetPriority(ThreadPriority::Lower);
  EXPECT_EQ(t.Priority(), ThreadPriority::Lower);
  t.Start();
  t.SetPriority(ThreadPriority::Higher);
  t.WaitFor();
  EXPECT_EQ(t.Priority(), ThreadPriority::Higher);
}

TEST(Threads, AnExceptionEscapingExecuteIsKept) {
  struct Failing : Thread {
    Failing() : Thread(true) {}
    void Execute() override { throw std::runtime_error("boom"); }
  } t;
  t.Start();
  t.WaitFor();
  ASSERT_TRUE(t.FatalException());
  EXPECT_THROW(std::rethrow_exception(t.FatalException()), std::runtime_error);
}

#ifndef LIVEUPDATE_SANITIZED
// A thread the system refuses to create: in a child process whose address
// space is capped below what a new thread's stack needs. The sanitizers'
// own reservations do not fit under such a cap, so their builds skip it.
TEST(Threads, AFailedStartSignalsTheHandleSoNoWaitHangs) {
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    FlagThread thread(true, nullptr, nullptr);
    Handle handle = thread.ThreadHandle();
    rlimit cap{};
    ::getrlimit(RLIMIT_AS, &cap);
    long pages = 0;
    if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
      if (std::fscanf(statm, "%ld", &pages) != 1) pages = 0;
      std::fclose(statm);
    }
    cap.rlim_cur = static_cast<rlim_t>(pages) * ::sysconf(_SC_PAGESIZE) + (1 << 20);
    ::setrlimit(RLIMIT_AS, &cap);
    int code = 0;
    try {
      thread.Start();
      code = 1;  // the cap did not stop the thread: nothing was tested
    } catch (const std::system_error&) {
      if (thread.Started()) code = 2;
      else if (WaitForSingleObject(handle, 2000) != kWaitObject0) code = 3;
      else if (!thread.FatalException()) code = 4;
    }
    ::_exit(code);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0)
      << "1: started anyway, 2: counted as started, 3: handle unsignalled, 4: no error kept";
}
#endif

// Records the order of the end-of-thread steps into a log that outlives it.
struct EndingThread : Thread {
  EndingThread(std::vector<std::string>* log, bool fail) : Thread(true), log_(log), fail_(fail) {}
  ~EndingThread() override { log_->push_back("destroyed"); }
  void Execute() override {
    log_->push_back("execute");
    if (fail_) throw std::runtime_error("execute failed");
  }
  void DoTerminate() override { log_->push_back(Finished() ? "terminate after finish" : "terminate"); }
  std::vector<std::string>* log_;
  bool fail_;
};

TEST(Threads, TheEndOfThreadStepRunsBeforeAFreeOnTerminateObjectGoesAndKeepsItsException) {
  for (bool fail : {false, true}) {
    std::vector<std::string> log;
    auto* t = new EndingThread(&log, fail);
    t->SetFreeOnTerminate(true);
    Handle handle = t->ThreadHandle();
    t->Start();
    ASSERT_EQ(WaitForSingleObject(handle, 5000), kWaitObject0);
    EXPECT_EQ(log, (std::vector<std::string>{"execute", "terminate", "destroyed"})) << "fail=" << fail;
    auto* threadHandle = static_cast<ThreadHandleObject*>(handle.get());
    EXPECT_EQ(static_cast<bool>(threadHandle->FatalException()), fail)
        << "the exception must survive the object that freed itself";
  }
}

TEST(Threads, RunNearCallerMovesTheThreadToTheCallersProcessor) {
  cpu_set_t original;
  ASSERT_EQ(sched_getaffinity(0, sizeof original, &original), 0);
  if (CPU_COUNT(&original) < 2) GTEST_SKIP() << "needs two processors";
  int first = -1, last = -1;
  for (int c = 0; c < CPU_SETSIZE; ++c) {
    if (!CPU_ISSET(c, &original)) continue;
    if (first < 0) first = c;
    last = c;
  }
  auto pinSelf = [](int cpu) {
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu, &set);
    return sched_setaffinity(0, sizeof set, &set) == 0;
  };

  struct Reporter : Thread {
    Reporter() : Thread(true) {}
    ~Reporter() override { WaitFor(); }
    void Execute() override {
      running = true;
      while (!measure) std::this_thread::sleep_for(1ms);
      std::this_thread::yield();
      cpu = sched_getcpu();
    }
    std::atomic<bool> running{false}, measure{false};
    std::atomic<int> cpu{-1};
  } t;
  // The thread starts where its creator may run (the first processor only)...
  ASSERT_TRUE(pinSelf(first));
  t.Start();
  while (!t.running) std::this_thread::sleep_for(1ms);
  // ...and follows the caller to the last one.
  ASSERT_TRUE(pinSelf(last));
  t.RunNearCaller();
  t.measure = true;
  t.WaitFor();
  sched_setaffinity(0, sizeof original, &original);
  EXPECT_EQ(t.cpu, last);
}

TEST(Events, AutoResetReleasesOneWaiterPerSet) {
  auto e = CreateEvent(false, false);
  std::atomic<int> woken{0};
  std::thread a([&] { if (WaitForSingleObject(e, 2000) == kWaitObject0) ++woken; });
  std::thread b([&] { if (WaitForSingleObject(e, 2000) == kWaitObject0) ++woken; });
  std::this_thread::sleep_for(50ms);
  e->Set();
  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(woken, 1);
  e->Set();
  a.join();
  b.join();
  EXPECT_EQ(woken, 2);
  EXPECT_FALSE(e->IsSet());
}

TEST(Events, ManualResetReleasesEveryWaiterAndStaysSet) {
  auto e = CreateEvent(true, false);
  std::atomic<int> woken{0};
  std::vector<std::thread> waiters;
  for (int i = 0; i < 4; ++i) {
    waiters.emplace_back([&] { if (WaitForSingleObject(e, 2000) == kWaitObject0) ++woken; });
  }
  std::this_thread::sleep_for(50ms);
  e->Set();
  for (auto& w : waiters) w.join();
  EXPECT_EQ(woken, 4);
  EXPECT_TRUE(e->IsSet());
  e->Reset();
  EXPECT_EQ(WaitForSingleObject(e, 0), kWaitTimeout);
}

TEST(Waits, AnyReturnsTheIndexAndAllNeedsEveryObject) {
  auto a = CreateEvent(true, false), b = CreateEvent(true, false);
  std::thread setter([&] {
    std::this_thread::sleep_for(50ms);
    b->Set();
  });
  EXPECT_EQ(WaitForMultipleObjects({a, b}, false, 2000), kWaitObject0 + 1);
  setter.join();
  EXPECT_EQ(WaitForMultipleObjects({a, b}, true, 50), kWaitTimeout);
  EXPECT_EQ(GetLastError(), kWaitTimeout);
  a->Set();
  EXPECT_EQ(WaitForMultipleObjects({a, b}, true, 50), kWaitObject0);
}

TEST(Waits, BadArgumentsFail) {
  EXPECT_EQ(WaitForMultipleObjects({}, false, 0), kWaitFailed);
  EXPECT_EQ(GetLastError(), kErrorInvalidParameter);
  EXPECT_EQ(WaitForSingleObject(nullptr, 0), kWaitFailed);
  EXPECT_EQ(GetLastError(), kErrorInvalidHandle);
}

TEST(Counter, IsMonotonicWithAPositiveFrequency) {
  std::int64_t f = 0, a = 0, b = 0;
  ASSERT_TRUE(QueryPerformanceFrequency(f));
  EXPECT_GT(f, 0);
  QueryPerformanceCounter(a);
  Sleep(5);
  QueryPerformanceCounter(b);
  EXPECT_GE(b - a, f * 4 / 1000);
}

TEST(LastError, IsPerThread) {
  SetLastError(183);
  DWORD other = 1;
  std::thread([&] { other = GetLastError(); }).join();
  EXPECT_EQ(other, 0u);
  EXPECT_EQ(GetLastError(), 183u);
}

}  // namespace

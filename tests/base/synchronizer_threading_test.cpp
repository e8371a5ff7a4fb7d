// The thread synchroniser with real threads: methods run on the creating thread,
// exceptions come back to the caller, windows are shared and released.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/Messages.h"
#include "platform/Threads.h"
#include "rtl/Exceptions.h"
#include "base/ThreadSynchronizer.h"

using namespace std::chrono_literals;

namespace {

class EclCustomError : public rtl::Exception {
 public:
  EclCustomError(const std::string& message, int code) : rtl::Exception(message), code(code) {}
  int code;
};

// Runs Body on a worker thread while this thread serves sent messages, as a
// thread waiting for a worker must.
void RunWorkerServing(const std::function<void()>& body) {
  struct Worker : platform::Thread {
    explicit Worker(std::function<void()> f) : Thread(true), f_(std::move(f)) {}
    ~Worker() override { WaitFor(); }
    void Execute() override { f_(); }
    std::function<void()> f_;
  } worker(body);
  worker.Start();
  ASSERT_EQ(platform::WaitServingMessages(worker.ThreadHandle(), 10000), platform::kWaitObject0);
  if (worker.FatalException()) std::rethrow_exception(worker.FatalException());
}

// Lets the posted release messages of this thread be processed.
void ProcessReleases() { platform::ProcessMessages(); }

class SynchronizerTest : public ::testing::Test {
 protected:
  void SetUp() override { ProcessReleases(); }
  void TearDown() override { ProcessReleases(); }
  TclSyncInfo* MyInfo() { return SynchronizerManager()->FindSyncInfo(platform::CurrentThreadId()); }
};

TEST_F(SynchronizerTest, WorkerRunsTheMethodOnTheCreatingThread) {
  TclThreadSynchronizer sync;
  std::uint32_t ranOn = 0;
  int calls = 0;
  RunWorkerServing([&] {
    for (int i = 0; i < 50; ++i) {
      sync.Synchronize([&] {
        ranOn = platform::CurrentThreadId();
        ++calls;
      });
    }
  });
  EXPECT_EQ(ranOn, platform::CurrentThreadId());
  EXPECT_EQ(calls, 50);
}

TEST_F(SynchronizerTest, ExceptionComesBackWithItsClassMessageAndFields) {
  TclThreadSynchronizer sync;
  bool caught = false;
  int afterwards = 0;
  RunWorkerServing([&] {
    try {
      sync.Synchronize([] { throw EclCustomError("Handler failed", 404); });
    } catch (const EclCustomError& e) {
      caught = e.Message() == "Handler failed" && e.code == 404;
    }
    // The creating thread went on normally and serves the next call.
    sync.Synchronize([&] { afterwards = 1; });
  });
  EXPECT_TRUE(caught);
  EXPECT_EQ(afterwards, 1);
}

TEST_F(SynchronizerTest, CallOnTheCreatingThreadRunsAtOnceAndCarriesExceptions) {
  TclThreadSynchronizer sync;
  int value = 0;
  sync.Synchronize([&] { value = 5; });
  EXPECT_EQ(value, 5);
  EXPECT_THROW(sync.Synchronize([] { throw rtl::EConvertError("bad"); }), rtl::EConvertError);
}

TEST_F(SynchronizerTest, SynchronisersOfOneThreadShareOneWindowUntilTheLastRelease) {
  auto a = std::make_unique<TclThreadSynchronizer>();
  auto b = std::make_unique<TclThreadSynchronizer>();
  TclSyncInfo* info = MyInfo();
  ASSERT_NE(info, nullptr);
  platform::HWND window = info->Window;
  ASSERT_TRUE(platform::IsWindow(window));
  EXPECT_EQ(info->UseCount, 2);

  a.reset();
  EXPECT_EQ(info->UseCount, 2) << "the count falls only when the release is processed";
  ProcessReleases();
  EXPECT_EQ(info->UseCount, 1);
  EXPECT_TRUE(platform::IsWindow(window));

  b.reset();
  EXPECT_TRUE(platform::IsWindow(window));
  ProcessReleases();
  EXPECT_FALSE(platform::IsWindow(window));
  EXPECT_EQ(MyInfo(), nullptr);
}

TEST_F(SynchronizerTest, ANewSynchroniserBeforeTheReleaseKeepsTheWindow) {
  auto a = std::make_unique<TclThreadSynchronizer>();
  platform::HWND window = MyInfo()->Window;
  a.reset();
  auto b = std::make_unique<TclThreadSynchronizer>();
  EXPECT_EQ(MyInfo()->UseCount, 2);
  EXPECT_EQ(MyInfo()->Window, window);
  ProcessReleases();
  EXPECT_EQ(MyInfo()->UseCount, 1);
  EXPECT_EQ(MyInfo()->Window, window);
  b.reset();
}

TEST_F(SynchronizerTest, AClassOfTheSameNameWithAnotherProcedureIsReplaced) {
  platform::UnregisterClass(kSynchronizerWindowClass);
  ASSERT_TRUE(platform::RegisterClass(kSynchronizerWindowClass, &platform::DefWindowProc));
  TclThreadSynchronizer sync;
  platform::WndProc proc = nullptr;
  ASSERT_TRUE(platform::GetClassInfo(kSynchronizerWindowClass, &proc));
  EXPECT_EQ(proc, &SynchronizerWindowProc);
  int value = 0;
  RunWorkerServing([&] { sync.Synchronize([&] { value = 9; }); });
  EXPECT_EQ(value, 9);
}

TEST_F(SynchronizerTest, AMethodMaySynchroniseAgainFromInsideItself) {
  TclThreadSynchronizer sync;
  std::vector<std::string> trace;
  std::string captured = "outer";
  RunWorkerServing([&] {
    sync.Synchronize([&] {
      trace.push_back("outer start");
      try {
        sync.Synchronize([&] {
          trace.push_back("inner");
          throw rtl::Exception("inner failed");
        });
      } catch (const rtl::Exception& e) {
        trace.push_back(e.Message());
      }
      // The outer method's own state survived the nested call.
      trace.push_back(captured + " end");
    });
  });
  EXPECT_EQ(trace, (std::vector<std::string>{"outer start", "inner", "inner failed", "outer end"}));
}

TEST_F(SynchronizerTest, AMissingRecordIsAnAssertionFailure) {
  try {
    SynchronizerManager()->GetSyncInfo(0xFFFFFFF0u);
    FAIL() << "no assertion";
  } catch (const rtl::EAssertionFailed& e) {
    EXPECT_EQ(e.Message(), "Cannot find SyncInfo for the specified thread synchronizer (clDCUtils, line 513)");
  }
}

TEST_F(SynchronizerTest, SynchronisersOfManyWorkersToOneCreator) {
  TclThreadSynchronizer s1, s2, s3;
  std::atomic<int> total{0};
  int onCreator = 0;  // only touched on this thread
  RunWorkerServing([&] {
    std::vector<std::thread> workers;
    for (auto* s : {&s1, &s2, &s3}) {
      workers.emplace_back([&, s] {
        for (int i = 0; i < 100; ++i) {
          s->Synchronize([&] { ++onCreator; });
          ++total;
        }
      });
    }
    for (auto& w : workers) w.join();
  });
  EXPECT_EQ(total, 300);
  EXPECT_EQ(onCreator, 300);
}

TEST_F(SynchronizerTest, CallsOfTwoThreadsThroughOneSynchroniserKeepTheirOwnMethodsAndErrors) {
  TclThreadSynchronizer sync;
  int sumA = 0, sumB = 0;  // only touched on this thread
  std::atomic<int> wrongErrors{0};
  RunWorkerServing([&] {
    auto caller = [&](int& sum, int add, const std::string& tag) {
      for (int i = 0; i < 200; ++i) {
        sync.Synchronize([&] { sum += add; });
        try {
          sync.Synchronize([&] { throw rtl::Exception(tag); });
          ++wrongErrors;
        } catch (const rtl::Exception& e) {
          if (e.Message() != tag) ++wrongErrors;
        }
      }
    };
    std::thread a(caller, std::ref(sumA), 1, "from a");
    std::thread b(caller, std::ref(sumB), 3, "from b");
    a.join();
    b.join();
  });
  EXPECT_EQ(sumA, 200);
  EXPECT_EQ(sumB, 600);
  EXPECT_EQ(wrongErrors, 0);
}

TEST_F(SynchronizerTest, ACallThatCannotReachTheCreatingThreadIsAnError) {
  std::unique_ptr<TclThreadSynchronizer> orphan;
  std::thread([&] { orphan = std::make_unique<TclThreadSynchronizer>(); }).join();
  bool ran = false;
  EXPECT_THROW(orphan->Synchronize([&] { ran = true; }), EclSynchronizeError);
  EXPECT_FALSE(ran);
  orphan.reset();
}

TEST_F(SynchronizerTest, AThreadThatEndsLeavesNoRecordBehind) {
  int before = SynchronizerManager()->RecordCount();
  std::thread([] {
    TclThreadSynchronizer own;
    own.Synchronize([] {});
  }).join();
  EXPECT_EQ(SynchronizerManager()->RecordCount(), before);
}

}  // namespace

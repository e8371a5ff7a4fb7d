#include <gtest/gtest.h>

#include <atomic>
#include <barrier>
#include <thread>
#include <vector>

#include "FakeLibrary.h"
#include "inet/clWinInet.h"

namespace {

constexpr int kThreads = 16;

class BindingConcurrencyTest : public ::testing::Test {
 protected:
  inet_test::BindingScope scope{inet_test::kFakeLibrary};

  // Runs Body on kThreads threads released at the same moment.
  template <class Body>
  static void RunTogether(Body body) {
    std::barrier start(kThreads);
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
      threads.emplace_back([&] {
        start.arrive_and_wait();
        body();
      });
    }
    for (auto& t : threads) t.join();
  }
};

TEST_F(BindingConcurrencyTest, SimultaneousFirstCallsLoadTheLibraryOnce) {
  int before = clWinInet::InternetLibraryLoadCount();
  std::atomic<int> succeeded{0};
  RunTogether([&] {
    if (clWinInet::InternetCloseHandle(reinterpret_cast<HINTERNET>(1)) == TRUE) ++succeeded;
  });
  EXPECT_EQ(succeeded.load(), kThreads);
  EXPECT_EQ(clWinInet::InternetLibraryLoadCount(), before + 1);
  inet_test::FakeControls fake;
  EXPECT_EQ(fake.InitCount(), 1);
  EXPECT_EQ(fake.CloseCalls(), kThreads);
}

TEST_F(BindingConcurrencyTest, SimultaneousFirstCallsAllFailWhenAnEntryPointIsMissing) {
  clWinInet::SetInternetLibraryName(inet_test::kFakeWithoutStatusCallback);
  std::atomic<int> failed{0};
  RunTogether([&] {
    try {
      clWinInet::LoadInternetLibrary();
    } catch (const rtl::Exception&) {
      ++failed;
    }
  });
  EXPECT_EQ(failed.load(), kThreads);
  EXPECT_FALSE(clWinInet::InternetLibraryLoaded());
}

TEST_F(BindingConcurrencyTest, ServerResponseTextBelongsToTheThreadWhoseCallFailed) {
  clWinInet::LoadInternetLibrary();
  inet_test::FakeControls fake;
  fake.SetResponse("550 only here");
  std::string other;
  std::thread([&] { other = clWinInet::GetInternetErrorText(12003); }).join();
  EXPECT_EQ(other, "An extended error occurred on the server");
  EXPECT_EQ(clWinInet::GetInternetErrorText(12003),
            "An extended error occurred on the server; Additional info: 550 only here");
  fake.SetResponse("");
}

}  // namespace

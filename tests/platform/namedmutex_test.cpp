#include "platform/NamedMutex.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <thread>

#include "platform/Files.h"
#include "platform/LastError.h"
#include "platform/Process.h"
#include "support/TempDir.h"

namespace {

using namespace platform;
using namespace std::chrono_literals;
using testing_support::TempDir;

// Every test gets a runtime folder of its own, so the lock files are private.
class NamedMutexTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* old = std::getenv("XDG_RUNTIME_DIR")) {
      saved_ = old;
      hadValue_ = true;
    }
    ::setenv("XDG_RUNTIME_DIR", dir_.Path().c_str(), 1);
  }
  void TearDown() override {
    if (hadValue_) {
      ::setenv("XDG_RUNTIME_DIR", saved_.c_str(), 1);
    } else {
      ::unsetenv("XDG_RUNTIME_DIR");
    }
  }

  // Starts the helper holding Name; returns its status word ("owned" or
  // "exists") once it has taken (or failed to take) the mutex. With a release
  // pipe the helper ends normally when that pipe is closed.
  std::string StartHolder(const std::string& name, int& pid, bool withRelease) {
    const std::string status = dir_.File("status" + std::to_string(counter_));
    const std::string release = dir_.File("release" + std::to_string(counter_++));
    EXPECT_EQ(::mkfifo(status.c_str(), 0600), 0);
    std::vector<std::string> argv = {ExecutableFolder() + "platform_test_helper", "hold-mutex", name, status};
    if (withRelease) {
      EXPECT_EQ(::mkfifo(release.c_str(), 0600), 0);
      argv.push_back(release);
    }
    EXPECT_TRUE(StartProcess(argv, &pid));
    int fd = ::open(status.c_str(), O_RDONLY);
    std::string word;
    char buffer[16];
    for (ssize_t n; fd >= 0 && (n = ::read(fd, buffer, sizeof buffer)) > 0;) word.append(buffer, static_cast<std::size_t>(n));
    if (fd >= 0) ::close(fd);
    if (withRelease) releaseFd_ = ::open(release.c_str(), O_WRONLY);
    return word;
  }

  TempDir dir_;
  std::string saved_;
  bool hadValue_ = false;
  int counter_ = 0;
  int releaseFd_ = -1;
};

const char kInstanceName[] = "{C3D66803-80E4-447C-90B1-26196B8C3C48}";

TEST_F(NamedMutexTest, FirstHandleHoldsAndSecondSeesAlreadyExists) {
  auto first = NamedMutex::Create(kInstanceName);
  EXPECT_EQ(GetLastError(), kErrorSuccess);
  EXPECT_TRUE(first->Owned());
  auto second = NamedMutex::Create(kInstanceName);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(GetLastError(), kErrorAlreadyExists);
  EXPECT_FALSE(second->Owned());
  second->Close();  // closing a non-holding handle frees nothing
  auto third = NamedMutex::Create(kInstanceName);
  EXPECT_EQ(GetLastError(), kErrorAlreadyExists);
}

TEST_F(NamedMutexTest, ClosingOrDestroyingTheHolderFreesIt) {
  auto first = NamedMutex::Create("m");
  ASSERT_TRUE(first->Owned());
  first->Close();
  EXPECT_FALSE(first->Owned());
  first->Close();
  {
    auto second = NamedMutex::Create("m");
    EXPECT_EQ(GetLastError(), kErrorSuccess);
    EXPECT_TRUE(second->Owned());
  }
  auto third = NamedMutex::Create("m");
  EXPECT_EQ(GetLastError(), kErrorSuccess);
}

TEST_F(NamedMutexTest, DifferentNamesAreIndependent) {
  auto a = NamedMutex::Create("alpha");
  auto b = NamedMutex::Create("beta");
  EXPECT_TRUE(a->Owned());
  EXPECT_TRUE(b->Owned());
}

TEST_F(NamedMutexTest, HandlesOnTwoThreadsExcludeEachOther) {
  auto mine = NamedMutex::Create("threads");
  ASSERT_TRUE(mine->Owned());
  DWORD otherError = 0;
  bool otherOwned = true;
  std::thread([&] {
    auto theirs = NamedMutex::Create("threads");
    otherError = GetLastError();
    otherOwned = theirs->Owned();
  }).join();
  EXPECT_EQ(otherError, kErrorAlreadyExists);
  EXPECT_FALSE(otherOwned);
}

TEST_F(NamedMutexTest, LockFileIsNamedAfterTheMutexInTheRuntimeFolder) {
  EXPECT_EQ(NamedMutex::LockFileFor(kInstanceName), dir_.Path() + "/" + kInstanceName + ".lock");
  auto mutex = NamedMutex::Create("Local\\odd/name");
  EXPECT_TRUE(FileExists(dir_.File("Local_odd_name.lock")));
  ::unsetenv("XDG_RUNTIME_DIR");
  EXPECT_EQ(NamedMutex::LockFileFor("x"), "/tmp/x-" + std::to_string(::getuid()) + ".lock");
}

TEST_F(NamedMutexTest, PlantedLinkIsNotFollowed) {
  testing_support::WriteFile(dir_.File("victim"), "keep");
  ASSERT_EQ(::symlink(dir_.File("victim").c_str(), dir_.File("linked.lock").c_str()), 0);
  auto mutex = NamedMutex::Create("linked");
  EXPECT_FALSE(mutex->Owned());
  EXPECT_NE(GetLastError(), kErrorSuccess);
  EXPECT_EQ(testing_support::ReadFile(dir_.File("victim")), "keep");
}

TEST_F(NamedMutexTest, EmptyNameIsAPrivateMutex) {
  auto a = NamedMutex::Create("");
  auto b = NamedMutex::Create("");
  EXPECT_EQ(GetLastError(), kErrorSuccess);
  EXPECT_TRUE(a->Owned());
  EXPECT_TRUE(b->Owned());
}

TEST_F(NamedMutexTest, AnotherProcessHoldingItGivesAlreadyExists) {
  int pid = 0;
  ASSERT_EQ(StartHolder(kInstanceName, pid, false), "owned");
  auto mine = NamedMutex::Create(kInstanceName);
  EXPECT_EQ(GetLastError(), kErrorAlreadyExists);
  EXPECT_FALSE(mine->Owned());
  ::kill(pid, SIGKILL);
  int exitCode = 0;
  ASSERT_TRUE(WaitForProcess(pid, 30s, exitCode));
}

TEST_F(NamedMutexTest, OtherProcessSeesOurHold) {
  auto mine = NamedMutex::Create(kInstanceName);
  ASSERT_TRUE(mine->Owned());
  int pid = 0;
  EXPECT_EQ(StartHolder(kInstanceName, pid, false), "exists");
  ::kill(pid, SIGKILL);
  int exitCode = 0;
  ASSERT_TRUE(WaitForProcess(pid, 30s, exitCode));
}

TEST_F(NamedMutexTest, FreeAgainAfterTheHolderIsKilled) {
  int pid = 0;
  ASSERT_EQ(StartHolder("killed", pid, false), "owned");
  ::kill(pid, SIGKILL);
  int exitCode = 0;
  ASSERT_TRUE(WaitForProcess(pid, 30s, exitCode));
  EXPECT_EQ(exitCode, 128 + SIGKILL);
  auto mine = NamedMutex::Create("killed");
  EXPECT_EQ(GetLastError(), kErrorSuccess);
  EXPECT_TRUE(mine->Owned());
}

TEST_F(NamedMutexTest, FreeAgainAfterTheHolderExitsNormally) {
  int pid = 0;
  ASSERT_EQ(StartHolder("exits", pid, true), "owned");
  ASSERT_GE(releaseFd_, 0);
  EXPECT_FALSE(NamedMutex::Create("exits")->Owned());
  ::close(releaseFd_);
  int exitCode = -1;
  ASSERT_TRUE(WaitForProcess(pid, 30s, exitCode));
  EXPECT_EQ(exitCode, 0);
  auto mine = NamedMutex::Create("exits");
  EXPECT_EQ(GetLastError(), kErrorSuccess);
  EXPECT_TRUE(mine->Owned());
}

}  // namespace

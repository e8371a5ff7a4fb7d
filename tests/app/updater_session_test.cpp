#include "app/UpdaterSession.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "app/AppFolder.h"
#include "app/Settings.h"
#include "platform/Files.h"
#include "platform/LastError.h"
#include "platform/NamedMutex.h"

namespace {

using app::TclCommandLine;
using app::TclUpdaterSession;
using Args = std::vector<std::string>;
using testing_support::FileExists;
using testing_support::ReadFile;

class UpdaterSessionTest : public ::testing::Test {
 protected:
  UpdaterSessionTest()
      : mutexName_("session-test-" + std::to_string(::getpid()) + "-" +
                   ::testing::UnitTest::GetInstance()->current_test_info()->name()) {}

  std::unique_ptr<TclUpdaterSession> Session(Args tail) {
    Args args{folder_.File("liveupdate1.exe")};
    args.insert(args.end(), tail.begin(), tail.end());
    return std::make_unique<TclUpdaterSession>(TclCommandLine(args), mutexName_);
  }
  std::string Version() { return app::ReadSetting(folder_.Path(), "ver", "<none>"); }
  // Installs a stand-in main application that records how it was started.
  std::string InstallMainApplication() {
    std::string record = folder_.File("tarvo-args.txt");
    folder_.Write("tarvo.exe", app_testing::RecorderScript(record));
    ::chmod(folder_.File("tarvo.exe").c_str(), 0755);
    return record;
  }

  app_testing::AppFolder folder_;
  std::string mutexName_;
};

TEST_F(UpdaterSessionTest, AppFolderComesFromTheProgramPath) {
  auto session = Session({"v2", "main"});
  EXPECT_EQ(session->AppFolder(), folder_.Path());
  EXPECT_EQ(session->CommandLine().Section(), "main");
}

TEST_F(UpdaterSessionTest, SuccessfulRunInstallsAndRecordsTheVersion) {
  folder_.Stage("a.dat", "a");
  auto session = Session({"v2", "main"});
  session->AddToManifest({0, "a.dat"});
  EXPECT_FALSE(session->Finished());
  EXPECT_EQ(session->CompleteRun(true), 1);
  EXPECT_TRUE(session->Finished());
  EXPECT_EQ(ReadFile(folder_.File("a.dat")), "a");
  EXPECT_EQ(Version(), "v2");
}

TEST_F(UpdaterSessionTest, EmptyUpdateStillRecordsTheVersion) {
  auto session = Session({"v5", "main"});
  EXPECT_EQ(session->CompleteRun(true), 1);
  EXPECT_EQ(Version(), "v5");
}

TEST_F(UpdaterSessionTest, FailedDownloadInstallsNothing) {
  folder_.Stage("a.dat", "a");
  auto session = Session({"v2", "main"});
  session->AddToManifest({0, "a.dat"});
  EXPECT_EQ(session->CompleteRun(false), 0);
  EXPECT_TRUE(session->Finished());
  EXPECT_FALSE(FileExists(folder_.File("a.dat")));
  EXPECT_TRUE(FileExists(folder_.Staged("a.dat")));
  EXPECT_EQ(Version(), "<none>");
}

TEST_F(UpdaterSessionTest, FailedCopyLeavesTheVersionUnwritten) {
  auto session = Session({"v2", "main"});
  session->AddToManifest({0, "never-staged.dat"});
  EXPECT_EQ(session->CompleteRun(true), 0);
  EXPECT_EQ(Version(), "<none>");
}

TEST_F(UpdaterSessionTest, CloseDuringTheRunAsksAndNoChangesNothing) {
  auto session = Session({"v2", "main"});
  session->AddToManifest({0, "a.dat"});
  int asked = 0;
  EXPECT_FALSE(session->QueryClose([&] {
    ++asked;
    return false;
  }));
  EXPECT_EQ(asked, 1);
  EXPECT_FALSE(session->CloseConfirmed());
  EXPECT_EQ(session->Manifest().Size(), 1u);

  session->FinishRun();
  EXPECT_TRUE(session->QueryClose([&] {
    ++asked;
    return false;
  }));
  EXPECT_EQ(asked, 1);
}

TEST_F(UpdaterSessionTest, ConfirmedCloseAbandonsTheUpdate) {
  folder_.Stage("a.dat", "a");
  folder_.Stage("b.dat", "b");
  auto session = Session({"v2", "main"});
  session->AddToManifest({0, "a.dat"});
  EXPECT_TRUE(session->QueryClose([] { return true; }));
  EXPECT_TRUE(session->CloseConfirmed());
  session->Closing();
  EXPECT_TRUE(session->Manifest().Empty());
  // The transfer in progress finishes and the run reaches its end anyway.
  session->AddToManifest({0, "b.dat"});
  EXPECT_TRUE(session->Manifest().Empty());
  EXPECT_EQ(session->CompleteRun(true), 0);
  EXPECT_FALSE(FileExists(folder_.File("a.dat")));
  EXPECT_FALSE(FileExists(folder_.File("b.dat")));
  EXPECT_EQ(Version(), "<none>");
  EXPECT_EQ(session->ExitStatus(), app::esClosed);
}

TEST_F(UpdaterSessionTest, HandOverStartsTheMainApplicationWithTheHandedBackArguments) {
  struct Case {
    Args tail;
    Args received;  // after the program's own path
  };
  const Case cases[] = {
      {{"v2", "main", "a", "b"}, {"a", "b"}},
      {{"v2", "main"}, {}},
      {{"v2", "main", "two words", "*", "$HOME", "x;y"}, {"two words", "*", "$HOME", "x;y"}},
  };
  for (const Case& c : cases) {
    std::string record = InstallMainApplication();
    ::unlink(record.c_str());
    auto session = Session(c.tail);
    EXPECT_TRUE(session->HandOver());
    Args expected{folder_.File("tarvo.exe")};
    expected.insert(expected.end(), c.received.begin(), c.received.end());
    EXPECT_EQ(app_testing::WaitForLines(record), expected);
    EXPECT_FALSE(session->HandOver());
  }
}

TEST_F(UpdaterSessionTest, HandOverWithoutMainApplicationFailsQuietly) {
  auto session = Session({"v2", "main"});
  EXPECT_FALSE(session->HandOver());
}

TEST_F(UpdaterSessionTest, SecondCopyRunsWithoutTheMutex) {
  auto first = Session({"v2", "main"});
  auto second = Session({"v2", "main"});
  EXPECT_TRUE(first->TakeInstanceMutex());
  EXPECT_TRUE(first->HoldsInstanceMutex());
  EXPECT_FALSE(second->TakeInstanceMutex());
  EXPECT_FALSE(second->HoldsInstanceMutex());
  // The second copy still runs a whole update.
  EXPECT_EQ(second->CompleteRun(true), 1);
  EXPECT_EQ(Version(), "v2");
}

TEST_F(UpdaterSessionTest, HandOverFreesTheMutexBeforeTheMainApplicationStarts) {
  std::string record = InstallMainApplication();
  auto session = Session({"v2", "main"});
  ASSERT_TRUE(session->TakeInstanceMutex());
  {
    auto probe = platform::NamedMutex::Create(mutexName_);
    EXPECT_EQ(platform::GetLastError(), 183u);
  }
  EXPECT_TRUE(session->HandOver());
  EXPECT_FALSE(session->HoldsInstanceMutex());
  EXPECT_FALSE(app_testing::WaitForLines(record).empty());
  auto probe = platform::NamedMutex::Create(mutexName_);
  EXPECT_EQ(platform::GetLastError(), 0u);
  EXPECT_TRUE(probe->Owned());
}

TEST_F(UpdaterSessionTest, MutexIsFreedWhenTheSessionEnds) {
  {
    auto session = Session({"v2", "main"});
    ASSERT_TRUE(session->TakeInstanceMutex());
  }
  auto probe = platform::NamedMutex::Create(mutexName_);
  EXPECT_TRUE(probe->Owned());
}

}  // namespace

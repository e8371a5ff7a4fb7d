// The real liveupdate program (console front-end) copied into an application
// folder whose path has a blank, run against liveupdate-serve on 127.0.0.1.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "app/AppFolder.h"
#include "app/Settings.h"
#include "platform/Files.h"
#include "platform/Process.h"
#include "support/ChildProcess.h"
#include "support/TempDir.h"

namespace {

using testing_support::FileExists;
using testing_support::ReadFile;
using testing_support::WriteFile;

const std::string kBin = platform::ExecutableFolder();

class Liveupdate : public ::testing::Test {
 protected:
  Liveupdate() {
    port = testing_support::FreeLoopbackPort();
    server = std::make_unique<testing_support::ChildProcess>(
        std::vector<std::string>{kBin + "liveupdate-serve", "--root", site.Path(), "--port",
                                 std::to_string(port)},
        site.File("serve.log"));
    EXPECT_TRUE(testing_support::WaitForListener(port, std::chrono::seconds(10)));
    record = folder.File("tarvo-args.txt");
    folder.Write("tarvo.exe", app_testing::RecorderScript(record));
    ::chmod(folder.File("tarvo.exe").c_str(), 0755);
    for (const char* lib : {"libcl_platform.so", "libinetclient.so"}) {
      platform::CopyFile(kBin + lib, folder.File(lib), false);
    }
  }
  void Serve(const std::string& path, const std::string& body) {
    platform::ForceDirectories(platform::ExtractFileDir(site.File("tarvo/" + path)));
    WriteFile(site.File("tarvo/" + path), body);
  }
  // Copies the program in as Name and runs it to its end.
  int Run(const std::string& name, std::vector<std::string> args) {
    platform::CopyFile(kBin + "liveupdate", folder.File(name), false);
    ::chmod(folder.File(name).c_str(), 0755);
    std::vector<std::string> argv{"/usr/bin/env", "LIVEUPDATE_CONSOLE=1",
                                  "LIVEUPDATE_SERVER=http://127.0.0.1:" + std::to_string(port),
                                  folder.File(name)};
    argv.insert(argv.end(), args.begin(), args.end());
    int pid = 0, code = -1;
    EXPECT_TRUE(platform::StartProcess(argv, &pid));
    EXPECT_TRUE(platform::WaitForProcess(pid, std::chrono::seconds(120), code));
    return code;
  }
  std::string Setting(const std::string& key) {
    return app::ReadSetting(folder.Path(), key, "<none>");
  }

  testing_support::TempDir site;
  app_testing::AppFolder folder;
  int port = 0;
  std::unique_ptr<testing_support::ChildProcess> server;
  std::string record;
};

TEST_F(Liveupdate, NoArgumentsExitAtOnceWithoutTouchingAnything) {
  EXPECT_EQ(Run("liveupdate1.exe", {}), 0);
  EXPECT_FALSE(FileExists(folder.File("sms.ini")));
  EXPECT_FALSE(FileExists(record));
  EXPECT_FALSE(FileExists(folder.File("liveupdate")));
}

TEST_F(Liveupdate, EveryKindInstallsAndTheMainApplicationGetsItsArguments) {
  Serve("livelist.txt",
        "[main]\nfile1=0,plain.dat\nfile2=1,data/first.dat\nfile3=2,bin/"
        "setup.sh\nfile4=3,updater.new\n"
        "file5=4,old/gone.dat\nfile6=9,odd.dat\nfile7=x,bad.dat\nfile8=0,../escape.dat\nfile9=0,/"
        "abs.dat\n"
        "file10=0,last.dat\n");
  Serve("file/plain.dat", "zero");
  Serve("file/data/first.dat", "first");
  Serve("file/bin/setup.sh", app_testing::RecorderScript(folder.File("setup-ran.txt")));
  Serve("file/updater.new", "new updater");
  Serve("file/old/gone.dat", "gone");
  Serve("file/odd.dat", "nine");
  Serve("file/last.dat", "last");
  folder.Write("old/gone.dat", "previous");

  EXPECT_EQ(Run("liveupdate1.exe", {"v3", "main", "a b", "c"}), 0);
  EXPECT_EQ(ReadFile(folder.File("plain.dat")), "zero");
  EXPECT_EQ(ReadFile(folder.File("data/first.dat")), "first");
  EXPECT_EQ(ReadFile(folder.File("odd.dat")), "nine");
  EXPECT_EQ(ReadFile(folder.File("last.dat")), "last") << "dropped entries do not stop the list";
  EXPECT_EQ(ReadFile(folder.File("liveupdate2.exe")), "new updater");
  EXPECT_FALSE(FileExists(folder.File("old/gone.dat")));
  EXPECT_FALSE(FileExists(folder.File("liveupdate/old/gone.dat")));
  EXPECT_FALSE(FileExists(folder.File("bad.dat")));
  EXPECT_FALSE(FileExists(site.Path() + "/escape.dat"));
  EXPECT_EQ(Setting("ver"), "v3");
  EXPECT_EQ(Setting("Liveupdate"), "liveupdate2.exe");
  EXPECT_EQ(Setting("firstrun"), ",data/first.dat");
  EXPECT_EQ(app_testing::WaitForLines(folder.File("setup-ran.txt")),
            (std::vector<std::string>{folder.File("bin/setup.sh")}));
  EXPECT_EQ(app_testing::WaitForLines(record),
            (std::vector<std::string>{folder.File("tarvo.exe"), "a b", "c"}));
}

TEST_F(Liveupdate, RunningAsLiveUpdate1InAnyCaseWritesTheOtherName) {
  Serve("livelist.txt", "[main]\nfile1=3,updater.new\n");
  Serve("file/updater.new", "new updater");
  EXPECT_EQ(Run("LiveUpdate1.EXE", {"v4", "main"}), 0);
  EXPECT_EQ(ReadFile(folder.File("liveupdate2.exe")), "new updater");
  EXPECT_EQ(Setting("Liveupdate"), "liveupdate2.exe");
}

TEST_F(Liveupdate, AnEmptySectionInstallsNothingAndRecordsTheVersion) {
  Serve("livelist.txt", "[other]\nfile1=0,plain.dat\n");
  Serve("file/plain.dat", "zero");
  EXPECT_EQ(Run("liveupdate1.exe", {"v5", "main"}), 0);
  EXPECT_FALSE(FileExists(folder.File("plain.dat")));
  EXPECT_EQ(Setting("ver"), "v5");
  EXPECT_EQ(app_testing::WaitForLines(record).size(), 1u);
}

}  // namespace

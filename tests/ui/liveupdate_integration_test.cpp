// The real liveupdate program (console front-end) copied into an application
// folder whose path has a blank, run against a local update site on
// 127.0.0.1: liveupdate-serve, nginx, or the fault server for what goes wrong.
#include <gtest/gtest.h>
#include <signal.h>
#include <pty.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "app/AppFolder.h"
#include "app/Settings.h"
#include "platform/Files.h"
#include "platform/Process.h"
#include "support/ChildProcess.h"
#include "support/FaultServer.h"
#include "support/NginxServer.h"
#include "support/TempDir.h"
#include "ui/UpdaterHarness.h"

namespace {

using testing_support::FaultRoute;
using testing_support::FaultServer;
using testing_support::FileExists;
using testing_support::ReadFile;
using testing_support::WriteFile;

const std::string kBin = platform::ExecutableFolder();

// An application folder with the stand-in main application and the
// libraries the copied program loads from beside itself.
void Furnish(const app_testing::AppFolder& folder) {
  folder.Write("tarvo.exe", app_testing::RecorderScript(folder.File("tarvo-args.txt")));
  ::chmod(folder.File("tarvo.exe").c_str(), 0755);
  for (const char* lib : {"libcl_platform.so", "libinetclient.so"}) {
    platform::CopyFile(kBin + lib, folder.File(lib), false);
  }
}

std::string Setting(const app_testing::AppFolder& folder, const std::string& key) {
  return app::ReadSetting(folder.Path(), key, "<none>");
}

class Liveupdate : public ::testing::Test {
 protected:
  Liveupdate() {
    port = testing_support::FreeLoopbackPort();
    server = std::make_unique<testing_support::ChildProcess>(
        std::vector<std::string>{kBin + "liveupdate-serve", "--root", site.Path(), "--port",
                                 std::to_string(port)},
        site.File("serve.log"));
    EXPECT_TRUE(testing_support::WaitForListener(port, std::chrono::seconds(10)));
    siteUrl = "http://127.0.0.1:" + std::to_string(port);
    record = folder.File("tarvo-args.txt");
    Furnish(folder);
  }
  void Serve(const std::string& path, const std::string& body) {
    platform::ForceDirectories(platform::ExtractFileDir(site.File("tarvo/" + path)));
    WriteFile(site.File("tarvo/" + path), body);
  }
  // Copies the program into Where as Name and starts it against Url.
  int Start(const app_testing::AppFolder& where, const std::string& name,
            std::vector<std::string> args, const std::string& url) {
    platform::CopyFile(kBin + "liveupdate", where.File(name), false);
    ::chmod(where.File(name).c_str(), 0755);
    std::vector<std::string> argv{"/usr/bin/env", "LIVEUPDATE_CONSOLE=1",
                                  "LIVEUPDATE_SERVER=" + url, where.File(name)};
    argv.insert(argv.end(), args.begin(), args.end());
    int pid = 0;
    EXPECT_TRUE(platform::StartProcess(argv, &pid));
    return pid;
  }
  static int Wait(int pid) {
    int code = -1;
    EXPECT_TRUE(platform::WaitForProcess(pid, std::chrono::seconds(200), code));
    return code;
  }
  // Runs the program to its end in the test's own folder.
  int Run(const std::string& name, std::vector<std::string> args) {
    return Wait(Start(folder, name, std::move(args), siteUrl));
  }
  int RunAgainst(const std::string& url, std::vector<std::string> args) {
    return Wait(Start(folder, "liveupdate1.exe", std::move(args), url));
  }
  std::string Setting(const std::string& key) { return ::Setting(folder, key); }
  // An update with entries of every kind, and some that are dropped.
  void ServeEveryKind();
  void CheckEveryKindInstalled();

  testing_support::TempDir site;
  app_testing::AppFolder folder;
  int port = 0;
  std::string siteUrl;
  std::unique_ptr<testing_support::ChildProcess> server;
  std::string record;
};

void Liveupdate::ServeEveryKind() {
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
}

void Liveupdate::CheckEveryKindInstalled() {
  EXPECT_EQ(ReadFile(folder.File("plain.dat")), "zero");
  EXPECT_EQ(ReadFile(folder.File("data/first.dat")), "first");
  EXPECT_EQ(ReadFile(folder.File("odd.dat")), "nine");
  EXPECT_EQ(ReadFile(folder.File("last.dat")), "last") << "dropped entries do not stop the list";
  EXPECT_EQ(ReadFile(folder.File("liveupdate2.exe")), "new updater");
  EXPECT_FALSE(FileExists(folder.File("old/gone.dat")));
  EXPECT_FALSE(FileExists(folder.File("liveupdate/old/gone.dat")));
  EXPECT_FALSE(FileExists(folder.File("bad.dat")));
  EXPECT_FALSE(FileExists(site.Path() + "/escape.dat"));
  EXPECT_FALSE(FileExists(site.Path() + "/tarvo/escape.dat"));
  EXPECT_EQ(Setting("ver"), "v3");
  EXPECT_EQ(Setting("Liveupdate"), "liveupdate2.exe");
  EXPECT_EQ(Setting("firstrun"), ",data/first.dat");
  EXPECT_EQ(app_testing::WaitForLines(folder.File("setup-ran.txt")),
            (std::vector<std::string>{folder.File("bin/setup.sh")}));
  EXPECT_EQ(app_testing::WaitForLines(record),
            (std::vector<std::string>{folder.File("tarvo.exe"), "a b", "c"}));
}

TEST_F(Liveupdate, NoArgumentsExitAtOnceWithoutTouchingAnything) {
  EXPECT_EQ(Run("liveupdate1.exe", {}), 0);
  EXPECT_FALSE(FileExists(folder.File("sms.ini")));
  EXPECT_FALSE(FileExists(record));
  EXPECT_FALSE(FileExists(folder.File("liveupdate")));
}

TEST_F(Liveupdate, HelpAndVersionPrintTheUsageAndTouchNothing) {
  platform::CopyFile(kBin + "liveupdate", folder.File("liveupdate1.exe"), false);
  ::chmod(folder.File("liveupdate1.exe").c_str(), 0755);
  for (const char* asked : {"--help", "-h", "--version"}) {
    SCOPED_TRACE(asked);
    std::string output;
    EXPECT_EQ(updater_testing::RunCaptured({folder.File("liveupdate1.exe"), asked, "main"}, output),
              0);
    for (const char* part : {"liveupdate1.exe VERSION SECTION [ARGUMENT...]", "LIVEUPDATE_SERVER",
                             "LIVEUPDATE_CONSOLE", "PublicKey=", "  5  verification refused",
                             "  7  closed by the user"})
      EXPECT_NE(output.find(part), std::string::npos) << part << "\n" << output;
    EXPECT_EQ(output.find("liveupdate 0."), std::string(asked) == "--version" ? 0 : std::string::npos);
  }
  EXPECT_FALSE(FileExists(folder.File("sms.ini")));
  EXPECT_FALSE(FileExists(folder.File("liveupdate")));
  EXPECT_FALSE(FileExists(record)) << "nothing was started";
}

TEST_F(Liveupdate, EveryKindInstallsAndTheMainApplicationGetsItsArguments) {
  ServeEveryKind();
  EXPECT_EQ(Run("liveupdate1.exe", {"v3", "main", "a b", "c"}), 0);
  CheckEveryKindInstalled();
}

TEST_F(Liveupdate, EveryKindInstallsFromASiteServedByNginx) {
  if (!testing_support::NginxServer::Available()) GTEST_SKIP() << "nginx is not installed";
  testing_support::TempDir work;
  testing_support::NginxOptions options;
  options.root = site.Path();
  testing_support::NginxServer nginx(work.Path(), options);
  ASSERT_TRUE(nginx.Started());
  ServeEveryKind();
  EXPECT_EQ(RunAgainst(nginx.Url(""), {"v3", "main", "a b", "c"}), 0);
  CheckEveryKindInstalled();
  // Each resource costs the server one HEAD and one GET: no information GET
  // whose body is thrown away, no second HEAD before the data.
  const std::string log = nginx.AccessLog();
  for (const char* path : {"/tarvo/livelist.txt", "/tarvo/file/plain.dat", "/tarvo/file/last.dat"}) {
    SCOPED_TRACE(path);
    for (const char* method : {"HEAD", "GET"}) {
      const std::string request = "\"" + std::string(method) + " " + path + " ";
      int seen = 0;
      for (auto at = log.find(request); at != std::string::npos; at = log.find(request, at + 1))
        ++seen;
      EXPECT_EQ(seen, 1) << method << "\n" << log;
    }
  }
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

// The stored window gives ten tries with five-second pauses to a server that
// cannot be reached, so this takes the better part of a minute; the log says
// each time that it waits.
TEST_F(Liveupdate, AnUnreachableServerLeavesTheVersionUnwrittenAndStillHandsOver) {
  const std::string nobody = "http://127.0.0.1:" + std::to_string(testing_support::FreeLoopbackPort());
  EXPECT_EQ(RunAgainst(nobody, {"v7", "main", "y"}), 3) << "the list could not be fetched";
  EXPECT_EQ(Setting("ver"), "<none>");
  const std::vector<std::string> log = updater_testing::Lines(ReadFile(folder.File("liveupdate/liveupdate.log")));
  ASSERT_EQ(log.size(), 11u) << "the warning, nine waits and the outcome";
  for (std::size_t i = 1; i <= 9; ++i) {
    EXPECT_NE(log[i].find(" version=v7 retrying: <" + nobody +
                          "/tarvo/livelist.txt>: A connection with the server could not be "
                          "established; next try in 5 s"),
              std::string::npos)
        << log[i];
  }
  EXPECT_NE(log[10].find(" version=v7 exit=3 list not fetched: <" + nobody), std::string::npos);
  EXPECT_EQ(app_testing::WaitForLines(record),
            (std::vector<std::string>{folder.File("tarvo.exe"), "y"}));
}

TEST_F(Liveupdate, ASecondCopyStartedWhileTheFirstRunsRunsToo) {
  FaultServer faults;
  faults.Route("/tarvo/livelist.txt",
               FaultRoute("[main]\nfile1=0,slow.dat\n[other]\nfile1=0,quick.dat\n"));
  FaultRoute slow(testing_support::RandomBytes(5000, 6));
  slow.stallAfter = 100;
  slow.faultTimes = 1;
  faults.Route("/tarvo/file/slow.dat", slow);
  faults.Route("/tarvo/file/quick.dat", FaultRoute("quick"));
  auto slowAsked = [&] { return faults.Count("/tarvo/file/slow.dat") > 0; };

  const int first = Start(folder, "liveupdate1.exe", {"v8", "main"}, faults.Url(""));
  for (int i = 0; i < 1000 && !slowAsked(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_TRUE(slowAsked());

  app_testing::AppFolder second;
  Furnish(second);
  EXPECT_EQ(Wait(Start(second, "liveupdate1.exe", {"w1", "other"}, faults.Url(""))), 0);
  EXPECT_EQ(ReadFile(second.File("quick.dat")), "quick");
  EXPECT_EQ(::Setting(second, "ver"), "w1");
  EXPECT_EQ(Setting("ver"), "<none>") << "the first copy is still in its download";

  faults.ReleaseStalls();
  EXPECT_EQ(Wait(first), 0);
  EXPECT_EQ(ReadFile(folder.File("slow.dat")), testing_support::RandomBytes(5000, 6));
  EXPECT_EQ(Setting("ver"), "v8");
}

TEST_F(Liveupdate, CtrlCOnATerminalAsksTheCloseQuestion) {
  // A paced site, so that the question comes while the file arrives.
  testing_support::TempDir paced;
  const int pacedPort = testing_support::FreeLoopbackPort();
  testing_support::ChildProcess pacedServer(
      {kBin + "liveupdate-serve", "--root", site.Path(), "--port", std::to_string(pacedPort),
       "--rate", "20000"},
      paced.File("serve.log"));
  ASSERT_TRUE(testing_support::WaitForListener(pacedPort, std::chrono::seconds(10)));
  Serve("livelist.txt", "[main]\nfile1=0,big.dat\nfile2=0,after.dat\n");
  const std::string big = testing_support::RandomBytes(300000, 8);
  Serve("file/big.dat", big);
  Serve("file/after.dat", "after");
  platform::CopyFile(kBin + "liveupdate", folder.File("liveupdate1.exe"), false);
  ::chmod(folder.File("liveupdate1.exe").c_str(), 0755);

  struct Case {
    const char* answer;
    const char* version;
  } cases[] = {{"n", "v9"}, {"yes", "<none>"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("answered ") + c.answer);
    const std::string server = "LIVEUPDATE_SERVER=http://127.0.0.1:" + std::to_string(pacedPort);
    const std::string program = folder.File("liveupdate1.exe");
    int terminal = -1;
    const pid_t pid = ::forkpty(&terminal, nullptr, nullptr, nullptr);
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      // The terminal's session leader stands in for the shell: it outlives
      // the updater until the main application has recorded its start, since
      // the session's end would hang that up.
      const pid_t updater = ::fork();
      if (updater == 0) {
        ::execl("/usr/bin/env", "env", "LIVEUPDATE_CONSOLE=1", server.c_str(), program.c_str(),
                "v9", "main", static_cast<char*>(nullptr));
        ::_exit(127);
      }
      ::signal(SIGINT, SIG_IGN);
      int status = 0;
      ::waitpid(updater, &status, 0);
      for (int i = 0; i < 1000 && ::access(record.c_str(), F_OK) != 0; ++i) ::usleep(10000);
      ::_exit(WIFEXITED(status) ? WEXITSTATUS(status) : 128);
    }
    std::string seen;
    EXPECT_TRUE(testing_support::ReadUntil(terminal, "下载文件big.dat...", seen)) << seen;
    // Asked once the file's bytes arrive: a filled cell of its own bar.
    std::string bar = seen.substr(seen.find("下载文件big.dat..."));
    EXPECT_TRUE(testing_support::ReadUntil(terminal, "#", bar)) << bar;
    seen += bar;
    ASSERT_EQ(::write(terminal, "\x03", 1), 1);  // Ctrl-C, as typed
    EXPECT_TRUE(testing_support::ReadUntil(terminal, "(yes/no) ", seen)) << seen;
    EXPECT_NE(seen.find("确实要关闭吗？"), std::string::npos);
    const std::string line = std::string(c.answer) + "\n";
    ASSERT_EQ(::write(terminal, line.data(), line.size()), static_cast<ssize_t>(line.size()));
    // Everything it still writes is read, so it never blocks on a full terminal.
    testing_support::ReadUntil(terminal, "", seen);
    int status = 0;
    EXPECT_EQ(::waitpid(pid, &status, 0), pid);
    ::close(terminal);
    const bool yes = c.version[0] != 'v';
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == (yes ? 7 : 0)) << status;
    EXPECT_EQ(Setting("ver"), c.version);
    if (yes) {
      // Yes stops the file in progress at once: it stays staged, cut short.
      const std::string staged = ReadFile(folder.Staged("big.dat"));
      EXPECT_FALSE(staged.empty() || staged == big);
      EXPECT_FALSE(FileExists(folder.File("big.dat")));
    } else {
      EXPECT_TRUE(ReadFile(folder.File("big.dat")) == big);
    }
    EXPECT_EQ(FileExists(folder.File("after.dat")), c.version[0] == 'v');
    EXPECT_EQ(app_testing::WaitForLines(record).size(), 1u) << "the main application starts";
    for (const char* file : {"tarvo-args.txt", "sms.ini", "big.dat", "after.dat",
                             "liveupdate/big.dat", "liveupdate/after.dat"})
      ::unlink(folder.File(file).c_str());
  }
}

}  // namespace

#include "platform/Process.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <thread>

#include "platform/Files.h"
#include "platform/LastError.h"
#include "platform/NamedMutex.h"
#include "support/TempDir.h"

namespace {

using namespace platform;
using namespace std::chrono_literals;
using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;
using Args = std::vector<std::string>;

std::string Helper() { return ExecutableFolder() + "platform_test_helper"; }

// The arguments the helper's write-args mode recorded.
Args RecordedArgs(const std::string& file) {
  Args args;
  std::string data = ReadFile(file);
  std::size_t start = 0;
  for (std::size_t end; (end = data.find('\0', start)) != std::string::npos; start = end + 1) {
    args.push_back(data.substr(start, end - start));
  }
  return args;
}

TEST(ParseCommandLineTest, BlanksSeparateAndQuotesGroup) {
  EXPECT_EQ(ParseCommandLine("/app/tarvo.exe a b"), (Args{"/app/tarvo.exe", "a", "b"}));
  EXPECT_EQ(ParseCommandLine("  prog \t one   two  "), (Args{"prog", "one", "two"}));
  EXPECT_EQ(ParseCommandLine("prog \"my file.dat\" x"), (Args{"prog", "my file.dat", "x"}));
  EXPECT_EQ(ParseCommandLine("prog a\"b c\"d"), (Args{"prog", "ab cd"}));
  EXPECT_EQ(ParseCommandLine("prog \"\" x"), (Args{"prog", "", "x"}));
  EXPECT_EQ(ParseCommandLine("prog \"unterminated arg"), (Args{"prog", "unterminated arg"}));
  EXPECT_EQ(ParseCommandLine(""), Args{});
  EXPECT_EQ(ParseCommandLine("   "), Args{});
}

TEST(ParseCommandLineTest, ProgramNameIsTakenLiterally) {
  EXPECT_EQ(ParseCommandLine("\"/my apps/tarvo.exe\" v2"), (Args{"/my apps/tarvo.exe", "v2"}));
  EXPECT_EQ(ParseCommandLine("C:\\dir\\\"x y"), (Args{"C:\\dir\\\"x", "y"}));
}

TEST(ParseCommandLineTest, BackslashesEscapeOnlyBeforeQuotes) {
  EXPECT_EQ(ParseCommandLine("p a\\b c\\\\d"), (Args{"p", "a\\b", "c\\\\d"}));
  EXPECT_EQ(ParseCommandLine("p a\\\"b"), (Args{"p", "a\"b"}));
  EXPECT_EQ(ParseCommandLine("p \"a\\\\\" b"), (Args{"p", "a\\", "b"}));
  EXPECT_EQ(ParseCommandLine("p a\\\\\\\"b"), (Args{"p", "a\\\"b"}));
  EXPECT_EQ(ParseCommandLine("p \"say \"\"hi\"\"\""), (Args{"p", "say \"hi\""}));
}

TEST(BuildCommandLineTest, QuotesOnlyWhereNeededAndParsesBack) {
  EXPECT_EQ(BuildCommandLine({"/app/tarvo.exe", "a", "b"}), "/app/tarvo.exe a b");
  EXPECT_EQ(BuildCommandLine({"/my app/x", "two words", ""}), "\"/my app/x\" \"two words\" \"\"");
  const std::vector<Args> cases = {
      {"/bin/x", "plain", "with space", "", "q\"uote", "trail\\", "both \\\" mixed\\\\", "\t"},
      {"/dir with blank/prog", "\\\\server\\share\\", "\"\"", "\xE4\xB8\xAD \xE6\x96\x87"},
  };
  for (const Args& args : cases) EXPECT_EQ(ParseCommandLine(BuildCommandLine(args)), args);
}

class StartProcessTest : public ::testing::Test {
 protected:
  TempDir dir_;
};

TEST_F(StartProcessTest, PassesEveryArgumentUnchanged) {
  const Args sent = {"plain", "with space", "", "q\"uote", "\xE4\xB8\xAD\xE6\x96\x87", "*", "$HOME", ";ls"};
  Args argv = {Helper(), "write-args", dir_.File("args")};
  argv.insert(argv.end(), sent.begin(), sent.end());
  int pid = 0;
  ASSERT_TRUE(StartProcess(argv, &pid)) << GetLastError();
  int exitCode = -1;
  ASSERT_TRUE(WaitForProcess(pid, 30s, exitCode));
  EXPECT_EQ(exitCode, 0);
  EXPECT_EQ(RecordedArgs(dir_.File("args")), sent);
}

TEST_F(StartProcessTest, CommandLineWithBlankInProgramFolderRuns) {
  ASSERT_TRUE(ForceDirectories(dir_.File("app folder")));
  ASSERT_TRUE(CopyFile(Helper(), dir_.File("app folder/tarvo.exe"), false));
  std::string line = BuildCommandLine({dir_.File("app folder/tarvo.exe"), "write-args", dir_.File("out")}) +
                     " a \"b c\"";
  int pid = 0;
  ASSERT_TRUE(StartCommandLine(line, &pid)) << GetLastError();
  int exitCode = -1;
  ASSERT_TRUE(WaitForProcess(pid, 30s, exitCode));
  EXPECT_EQ(RecordedArgs(dir_.File("out")), (Args{"a", "b c"}));
}

TEST_F(StartProcessTest, ReportsExitCodeAndSignal) {
  int pid = 0;
  int exitCode = -1;
  ASSERT_TRUE(StartProcess({Helper(), "exit", "7"}, &pid));
  ASSERT_TRUE(WaitForProcess(pid, 30s, exitCode));
  EXPECT_EQ(exitCode, 7);

  ASSERT_TRUE(StartProcess({Helper(), "sleep"}, &pid));
  EXPECT_FALSE(WaitForProcess(pid, 50ms, exitCode));
  EXPECT_EQ(GetLastError(), kWaitTimeout);
  ::kill(pid, SIGKILL);
  ASSERT_TRUE(WaitForProcess(pid, 30s, exitCode));
  EXPECT_EQ(exitCode, 128 + SIGKILL);
}

TEST_F(StartProcessTest, MissingProgramFailsWithFileNotFound) {
  EXPECT_FALSE(StartProcess({dir_.File("no-such-program")}));
  EXPECT_EQ(GetLastError(), kErrorFileNotFound);
  EXPECT_FALSE(StartProcess({"no-such-program-in-path-7f3a"}));
  EXPECT_EQ(GetLastError(), kErrorFileNotFound);
  EXPECT_FALSE(StartProcess({}));
  EXPECT_EQ(GetLastError(), kErrorInvalidParameter);
}

TEST_F(StartProcessTest, NonExecutableFileOrFolderFailsWithAccessDenied) {
  WriteFile(dir_.File("data.txt"), "#!/bin/sh\nexit 0\n");
  ::chmod(dir_.File("data.txt").c_str(), 0644);
  EXPECT_FALSE(StartProcess({dir_.File("data.txt")}));
  EXPECT_EQ(GetLastError(), kErrorAccessDenied);
  EXPECT_FALSE(StartProcess({dir_.Path()}));
  EXPECT_EQ(GetLastError(), kErrorAccessDenied);
}

TEST_F(StartProcessTest, SetExecuteBitsMakesAnInstalledScriptRunnable) {
  WriteFile(dir_.File("setup.exe"), "#!/bin/sh\nexit 3\n");
  ::chmod(dir_.File("setup.exe").c_str(), 0644);
  ASSERT_TRUE(SetExecuteBits(dir_.File("setup.exe")));
  struct stat st {};
  ASSERT_EQ(::stat(dir_.File("setup.exe").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0755u);
  int pid = 0;
  int exitCode = -1;
  ASSERT_TRUE(StartProcess({dir_.File("setup.exe")}, &pid));
  ASSERT_TRUE(WaitForProcess(pid, 30s, exitCode));
  EXPECT_EQ(exitCode, 3);

  WriteFile(dir_.File("private"), "x");
  ::chmod(dir_.File("private").c_str(), 0600);
  ASSERT_TRUE(SetExecuteBits(dir_.File("private")));
  ASSERT_EQ(::stat(dir_.File("private").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0700u);
  EXPECT_FALSE(SetExecuteBits(dir_.File("none")));
  EXPECT_EQ(GetLastError(), kErrorFileNotFound);
}

TEST_F(StartProcessTest, FindsProgramsThroughThePathVariable) {
  std::string saved = std::getenv("PATH") ? std::getenv("PATH") : "";
  ::setenv("PATH", ("/nonexistent:" + ExecutableFolder()).c_str(), 1);
  int pid = 0;
  bool started = StartProcess({"platform_test_helper", "exit", "5"}, &pid);
  ::setenv("PATH", saved.c_str(), 1);
  ASSERT_TRUE(started);
  int exitCode = -1;
  ASSERT_TRUE(WaitForProcess(pid, 30s, exitCode));
  EXPECT_EQ(exitCode, 5);
}

TEST_F(StartProcessTest, StartedProgramDoesNotInheritTheNamedMutex) {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  std::string savedRuntime = runtime ? runtime : "";
  ::setenv("XDG_RUNTIME_DIR", dir_.Path().c_str(), 1);
  const std::string name = "inherit";
  auto mutex = NamedMutex::Create(name);
  ASSERT_TRUE(mutex->Owned());
  int pid = 0;
  ASSERT_TRUE(StartProcess({Helper(), "sleep"}, &pid));
  mutex->Close();
  // Were the lock inherited, the still running child would keep it taken.
  auto again = NamedMutex::Create(name);
  EXPECT_EQ(GetLastError(), kErrorSuccess);
  EXPECT_TRUE(again->Owned());
  ::kill(pid, SIGKILL);
  int exitCode = 0;
  EXPECT_TRUE(WaitForProcess(pid, 30s, exitCode));
  if (runtime) {
    ::setenv("XDG_RUNTIME_DIR", savedRuntime.c_str(), 1);
  } else {
    ::unsetenv("XDG_RUNTIME_DIR");
  }
}

TEST_F(StartProcessTest, ProgramStartedWithoutWaitingIsCollectedWhenItEnds) {
  const std::string fifo = dir_.File("pipe");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  ASSERT_TRUE(StartProcess({Helper(), "write-args", fifo, "done"}));
  // Reading to the end of the pipe means the child has closed it and is exiting.
  std::ifstream in(fifo, std::ios::binary);
  std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(data, std::string("done\0", 5));
  // No zombie of ours may remain once the background collector ran.
  bool zombie = true;
  for (int i = 0; i < 500 && zombie; ++i) {
    zombie = false;
    std::ifstream children("/proc/self/task/" + std::to_string(::getpid()) + "/children");
    std::string child;
    while (children >> child) {
      std::ifstream stat("/proc/" + child + "/stat");
      std::string line;
      std::getline(stat, line);
      auto close = line.rfind(')');
      if (close != std::string::npos && close + 2 < line.size() && line[close + 2] == 'Z') zombie = true;
    }
    if (zombie) std::this_thread::sleep_for(10ms);
  }
  EXPECT_FALSE(zombie);
}

}  // namespace

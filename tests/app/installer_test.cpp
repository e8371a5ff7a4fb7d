#include "app/Installer.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "app/AppFolder.h"
#include "app/Settings.h"
#include "platform/Files.h"

namespace {

using app::TclInstallManifest;
using testing_support::FileExists;
using testing_support::ReadFile;

bool Executable(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && (info.st_mode & S_IXUSR) != 0;
}

class InstallerTest : public ::testing::Test {
 protected:
  // True when the whole update was installed and its version recorded.
  bool Install(const std::string& runningName = "liveupdate1.exe") {
    return app::InstallFiles(folder_.Path(), folder_.File(runningName), manifest_, "v9").Installed;
  }
  std::string Setting(const std::string& key) {
    return app::ReadSetting(folder_.Path(), key, "<missing>");
  }

  app_testing::AppFolder folder_;
  TclInstallManifest manifest_;
};

TEST_F(InstallerTest, EveryKindDoesWhatItSays) {
  const std::string record = folder_.File("ran.txt");
  folder_.Stage("plain.dat", "zero");
  folder_.Stage("data/first.dat", "first");
  folder_.Stage("bin/setup.sh", app_testing::RecorderScript(record));
  folder_.Stage("new updater", "updater v2");
  folder_.Stage("old/gone.dat", "gone");
  folder_.Stage("odd.dat", "nine");
  folder_.Write("old/gone.dat", "previous");
  manifest_.Add(0, "plain.dat");
  manifest_.Add(1, "data/first.dat");
  manifest_.Add(2, "bin/setup.sh");
  manifest_.Add(3, "new updater");
  manifest_.Add(4, "old/gone.dat");
  manifest_.Add(9, "odd.dat");

  EXPECT_TRUE(Install());

  EXPECT_EQ(ReadFile(folder_.File("plain.dat")), "zero");
  EXPECT_EQ(ReadFile(folder_.File("data/first.dat")), "first");
  EXPECT_EQ(ReadFile(folder_.File("odd.dat")), "nine");
  EXPECT_EQ(Setting("firstrun"), ",data/first.dat");
  // The updater's new copy goes to the name that is not running, not to its path.
  EXPECT_EQ(ReadFile(folder_.File("liveupdate2.exe")), "updater v2");
  EXPECT_FALSE(FileExists(folder_.File("new updater")));
  EXPECT_TRUE(Executable(folder_.File("liveupdate2.exe")));
  EXPECT_EQ(Setting("Liveupdate"), "liveupdate2.exe");
  // Copied into place, then deleted there: gone from both places.
  EXPECT_FALSE(FileExists(folder_.File("old/gone.dat")));
  EXPECT_FALSE(FileExists(folder_.Staged("old/gone.dat")));
  // The program was made executable and started from its installed place.
  EXPECT_TRUE(Executable(folder_.File("bin/setup.sh")));
  EXPECT_EQ(app_testing::WaitForLines(record),
            std::vector<std::string>{folder_.File("bin/setup.sh")});
  // Installation empties the staging folder of what it installed.
  for (const char* staged :
       {"plain.dat", "data/first.dat", "bin/setup.sh", "new updater", "odd.dat"}) {
    EXPECT_FALSE(FileExists(folder_.Staged(staged))) << staged;
  }
  EXPECT_EQ(Setting("ver"), "v9") << "the version is the installation's last step";
  EXPECT_FALSE(FileExists(folder_.Staged("install.journal")));
  EXPECT_FALSE(FileExists(folder_.Staged(".install")));
}

TEST_F(InstallerTest, UpdaterCopyAlternatesByTheRunningName) {
  struct Case {
    std::string running;
    std::string written;
  };
  const Case cases[] = {
      {"liveupdate1.exe", "liveupdate2.exe"}, {"LiveUpdate1.EXE", "liveupdate2.exe"},
      {"liveupdate2.exe", "liveupdate1.exe"}, {"LIVEUPDATE2.EXE", "liveupdate1.exe"},
      {"liveupdate", "liveupdate1.exe"},      {"liveupdate1.exe.bak", "liveupdate1.exe"},
  };
  for (const Case& c : cases) {
    app_testing::AppFolder folder;
    folder.Stage("lu.exe", "new " + c.running);
    TclInstallManifest manifest;
    manifest.Add(3, "lu.exe");
    EXPECT_TRUE(app::InstallFiles(folder.Path(), folder.File(c.running), manifest, "v9").Installed);
    EXPECT_EQ(ReadFile(folder.File(c.written)), "new " + c.running) << c.running;
    EXPECT_EQ(app::ReadSetting(folder.Path(), "Liveupdate", ""), c.written) << c.running;
  }
}

TEST_F(InstallerTest, FirstRunPathsAreAppendedWithCommas) {
  folder_.Stage("data/first.dat", "1");
  folder_.Stage("b.dat", "2");
  manifest_.Add(1, "data/first.dat");
  manifest_.Add(1, "b.dat");
  EXPECT_TRUE(Install());
  EXPECT_EQ(Setting("firstrun"), ",data/first.dat,b.dat");

  folder_.Stage("c.dat", "3");
  manifest_.Clear();
  manifest_.Add(1, "c.dat");
  EXPECT_TRUE(Install());
  EXPECT_EQ(Setting("firstrun"), ",data/first.dat,b.dat,c.dat");
}

TEST_F(InstallerTest, EmptyManifestSucceeds) {
  EXPECT_TRUE(Install());
}

TEST_F(InstallerTest, AFailedStepRollsTheWholeInstallationBack) {
  const std::string record = folder_.File("ran.txt");
  folder_.Write("a.dat", "old a");
  folder_.Write("sms.ini", "[tarvo]\nver=v1\nLiveupdate=liveupdate2.exe\n");
  const std::string settings = ReadFile(folder_.File("sms.ini"));
  folder_.Stage("a.dat", "new a");
  folder_.Stage("sub/b.dat", "b");
  folder_.Stage("run.sh", app_testing::RecorderScript(record));
  folder_.Stage("first.dat", "first");
  folder_.Stage("up.exe", "updater");
  folder_.Stage("c.dat", "c");
  // A file where the last target would go makes its step fail, after every
  // other file is in place.
  folder_.Write("in/the", "way");
  manifest_.Add(0, "a.dat");
  manifest_.Add(0, "sub/b.dat");
  manifest_.Add(2, "run.sh");
  manifest_.Add(1, "first.dat");
  manifest_.Add(3, "up.exe");
  manifest_.Add(0, "c.dat");
  folder_.Stage("in/the/way.dat", "blocked");
  manifest_.Add(0, "in/the/way.dat");

  const app::TclInstallResult result = app::InstallFiles(
      folder_.Path(), folder_.File("liveupdate2.exe"), manifest_, "v2");

  EXPECT_FALSE(result.Installed);
  EXPECT_EQ(result.Where, "in/the/way.dat");
  EXPECT_NE(result.Error.find("cannot make the folder in/the"), std::string::npos) << result.Error;
  // Every file is as it was, settings included, and nothing was started.
  EXPECT_EQ(ReadFile(folder_.File("a.dat")), "old a");
  EXPECT_EQ(ReadFile(folder_.File("sms.ini")), settings);
  for (const char* gone : {"sub/b.dat", "sub", "run.sh", "first.dat", "liveupdate1.exe", "c.dat"})
    EXPECT_FALSE(FileExists(folder_.File(gone))) << gone;
  EXPECT_FALSE(testing_support::FileExists(record));
  // What was staged stays staged; the journal and the kept files are gone.
  EXPECT_EQ(ReadFile(folder_.Staged("a.dat")), "new a");
  EXPECT_EQ(testing_support::FolderEntries(folder_.Staged("")),
            (std::set<std::string>{"a.dat", "sub", "run.sh", "first.dat", "up.exe", "c.dat", "in",
                                   "install.lock"}));
}

TEST_F(InstallerTest, AFailedFileStaysStaged) {
  folder_.Stage("sub/x.dat", "x");
  // A file where the target's folder would be makes the copy fail.
  folder_.Write("sub", "in the way");
  manifest_.Add(0, "sub/x.dat");
  EXPECT_FALSE(Install());
  EXPECT_EQ(ReadFile(folder_.Staged("sub/x.dat")), "x");
  EXPECT_EQ(ReadFile(folder_.File("sub")), "in the way");
}

TEST_F(InstallerTest, ReplacesTargetsWholeInsteadOfRewritingThem) {
  folder_.Write("app.dat", "old contents");
  folder_.Stage("app.dat", "new");
  int held = ::open(folder_.File("app.dat").c_str(), O_RDONLY);
  ASSERT_GE(held, 0);
  manifest_.Add(0, "app.dat");
  EXPECT_TRUE(Install());
  EXPECT_EQ(ReadFile(folder_.File("app.dat")), "new");
  // A reader of the old file (a running program) keeps seeing it whole: the
  // new file was renamed over the old one, not written into it.
  char buffer[32] = {};
  ssize_t got = ::pread(held, buffer, sizeof buffer, 0);
  ::close(held);
  EXPECT_EQ(std::string(buffer, got > 0 ? static_cast<size_t>(got) : 0), "old contents");
  EXPECT_EQ(testing_support::FolderEntries(folder_.Path()),
            (std::set<std::string>{"app.dat", "liveupdate", "sms.ini"}));
}

TEST_F(InstallerTest, OnlyProgramsGetExecuteBits) {
  folder_.Stage("tool", "#!/bin/sh\n");
  folder_.Stage("data.txt", "text");
  folder_.Stage("one.dat", "1");
  manifest_.Add(3, "tool");
  manifest_.Add(0, "data.txt");
  manifest_.Add(1, "one.dat");
  EXPECT_TRUE(Install());
  EXPECT_TRUE(Executable(folder_.File("liveupdate2.exe")));
  EXPECT_FALSE(Executable(folder_.File("data.txt")));
  EXPECT_FALSE(Executable(folder_.File("one.dat")));
}

}  // namespace

// An installation that survives a kill: the real liveupdate installs a
// signed update with an entry of every kind from nginx and is killed
// (SIGKILL, through its test-only fail point) before each step of the
// installation in turn; it is then run again against a copy of the site
// whose signature is broken, so that the second run does nothing but settle
// what the first left behind before it is refused. The folder must then be
// byte for byte wholly the old one or wholly the new one, "ver" with it.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "support/NginxServer.h"
#include "ui/UpdaterHarness.h"

namespace {

namespace fs = std::filesystem;
using testing_support::FileExists;
using updater_testing::Installation;
using updater_testing::Site;

using Snapshot = std::map<std::string, std::string>;

// Every file of the application folder with its bytes, but for the staging
// folder and the stand-ins of the started programs and what they write.
Snapshot Take(const Installation& app) {
  Snapshot files;
  const fs::path root(app.folder.Path());
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator();
       ++it) {
    const std::string relative = it->path().lexically_relative(root).generic_string();
    if (relative == "liveupdate") {
      it.disable_recursion_pending();
      continue;
    }
    // The stand-in main application names its own record file.
    if (relative == "setup-ran.txt" || relative == "tarvo-args.txt" || relative == "tarvo.exe")
      continue;
    struct stat info {};
    ::lstat(it->path().c_str(), &info);
    // The permissions count too: a replaced file keeps the old one's.
    files[relative + (it->is_directory() ? "/" : "")] =
        std::to_string(info.st_mode & 07777) + ":" +
        (it->is_regular_file() ? testing_support::ReadFile(it->path().string()) : "");
  }
  return files;
}

std::string Differences(const Snapshot& seen, const Snapshot& expected) {
  std::string text;
  for (const auto& [path, bytes] : seen) {
    auto other = expected.find(path);
    if (other == expected.end()) text += "extra " + path + "\n";
    else if (other->second != bytes) text += "differs " + path + ": " + bytes.substr(0, 60) + "\n";
  }
  for (const auto& [path, bytes] : expected) {
    if (seen.count(path) == 0) text += "missing " + path + "\n";
  }
  return text;
}

constexpr int kEntries = 7;

void ServeEveryKind(const Site& site) {
  site.Serve("livelist.txt",
             "[main]\nfile1=0,plain.dat\nfile2=0,keep.dat\nfile3=1,data/first.dat\n"
             "file4=2,bin/setup.sh\nfile5=3,updater.new\nfile6=4,old/gone.dat\nfile7=9,odd.dat\n");
  site.Serve("file/plain.dat", "new plain");
  site.Serve("file/keep.dat", "new keep");
  site.Serve("file/data/first.dat", "new first");
  site.Serve("file/bin/setup.sh", "#!/bin/sh\necho ran >> \"$(dirname \"$0\")/../setup-ran.txt\"\n");
  site.Serve("file/updater.new", "new updater");
  site.Serve("file/old/gone.dat", "new gone");
  site.Serve("file/odd.dat", "new odd");
}

void MakeOld(const Installation& app, const Site& site) {
  app.folder.Write("sms.ini", "[tarvo]\nver=v1\nLiveupdate=liveupdate1.exe\nPublicKey=" +
                                  site.publicKey + "\n");
  app.folder.Write("keep.dat", "old keep");
  app.folder.Write("old/gone.dat", "old gone");
  app.folder.Write("odd.dat", "old odd");
  ::chmod(app.folder.File("odd.dat").c_str(), 0600);
}

// Copies what a killed run left into a second installation.
void CopyFolder(const Installation& from, const Installation& to) {
  fs::remove_all(to.folder.Path());
  fs::copy(from.folder.Path(), to.folder.Path(), fs::copy_options::recursive);
}

// The staged files of the update, so that a second run cannot go forward.
void RemoveStagedFiles(const Installation& app) {
  for (const char* staged : {"plain.dat", "keep.dat", "data/first.dat", "bin/setup.sh",
                             "updater.new", "old/gone.dat", "odd.dat"})
    fs::remove(app.folder.Staged(staged));
}

TEST(KilledInstallation, EveryStepLeavesTheFolderWhollyOldOrWhollyNew) {
  if (!testing_support::NginxServer::Available()) GTEST_SKIP() << "nginx is not installed";
  Site site;
  ServeEveryKind(site);
  ASSERT_EQ(site.Sign("v2"), 0);
  testing_support::TempDir work;
  testing_support::NginxOptions options;
  options.root = site.Path();
  testing_support::NginxServer good(work.File("good"), options);
  // The same site with a broken signature: a run against it only recovers.
  testing_support::TempDir refusing;
  fs::copy(site.Path() + "/tarvo", refusing.File("tarvo"), fs::copy_options::recursive);
  testing_support::WriteFile(refusing.File("tarvo/livelist.sums.sig"), std::string(64, '\0'));
  options.root = refusing.Path();
  testing_support::NginxServer bad(work.File("bad"), options);
  ASSERT_TRUE(good.Started() && bad.Started());

  Installation reference;
  MakeOld(reference, site);
  const Snapshot oldFolder = Take(reference);
  ASSERT_EQ(reference.Run({"v2", "main"}, good.Url("")), 0);
  const Snapshot newFolder = Take(reference);
  ASSERT_NE(oldFolder, newFolder);
  EXPECT_EQ(newFolder.at("liveupdate2.exe"), "493:new updater") << "0755";
  EXPECT_EQ(newFolder.at("odd.dat"), "384:new odd") << "0600 kept";
  EXPECT_EQ(newFolder.count("old/gone.dat"), 0u);

  int step = 0;
  for (;; ++step) {
    SCOPED_TRACE("killed before step " + std::to_string(step));
    Installation killed;
    MakeOld(killed, site);
    const int first = killed.Run({"v2", "main"}, good.Url(""),
                                 {"LIVEUPDATE_TEST_KILL_BEFORE_STEP=" + std::to_string(step)});
    if (first == 0) break;  // past the last step
    ASSERT_EQ(first, 128 + 9) << "killed by SIGKILL";
    ASSERT_LT(step, 40) << "the installation never ends";
    // Past the run step the program was started; its line is let arrive
    // before the folder is copied.
    if (step > kEntries + 1) app_testing::WaitForLines(killed.folder.File("setup-ran.txt"));

    struct Variant {
      const char* name;
      bool removeStaged;
      bool expectNew;
      const char* recovery;  // in the second run's log
    } variants[] = {
        {"staged files intact", false, step >= 1, step >= 1 ? "recovered: finished" : ""},
        // Without them only steps after the last file can go forward.
        {"staged files removed", true, step > kEntries,
         step > kEntries ? "recovered: finished"
                         : (step >= 1 ? "recovered: rolled back" : "")},
    };
    for (const Variant& v : variants) {
      SCOPED_TRACE(v.name);
      Installation again;
      CopyFolder(killed, again);
      if (v.removeStaged) RemoveStagedFiles(again);

      EXPECT_EQ(again.Run({"v2", "main"}, bad.Url("")), 5) << "the second run is refused";

      const Snapshot after = Take(again);
      EXPECT_TRUE(after == oldFolder || after == newFolder) << "neither wholly old nor new";
      const Snapshot& expected = v.expectNew ? newFolder : oldFolder;
      EXPECT_TRUE(after == expected) << Differences(after, expected);
      EXPECT_EQ(again.Setting("ver"), v.expectNew ? "v2" : "v1");
      EXPECT_FALSE(FileExists(again.folder.Staged("install.journal")));
      const std::vector<std::string> log = again.LogTexts();
      std::string recovered;
      for (const std::string& line : log) {
        if (line.find(" recovered: ") != std::string::npos) recovered = line;
      }
      if (*v.recovery == '\0') {
        EXPECT_EQ(recovered, "");
      } else {
        EXPECT_NE(recovered.find(v.recovery), std::string::npos) << recovered;
      }
      // The kind-2 program ran (once its step came) exactly when the folder
      // is the new one.
      EXPECT_EQ(!app_testing::WaitForLines(again.folder.File("setup-ran.txt"),
                                           std::chrono::milliseconds(v.expectNew ? 5000 : 200))
                     .empty(),
                v.expectNew);
    }
  }
  // Before the journal, before each of the 7 file steps, the run, the
  // first-run registration, the delete and "ver", and before the journal goes.
  EXPECT_EQ(step, 1 + kEntries + 4 + 1);
}

}  // namespace

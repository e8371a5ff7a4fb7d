// The real liveupdate against a real nginx (and the fault server where a
// server must misbehave on cue), its sites signed by the real
// liveupdate-publish: the exit status and the log line of every outcome,
// every way a signed site can be tampered with, and a close by SIGTERM.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "SitePublisher.h"
#include "support/FaultServer.h"
#include "support/NginxServer.h"
#include "ui/UpdaterHarness.h"

namespace {

using testing_support::FileExists;
using testing_support::ReadFile;
using updater_testing::Installation;
using updater_testing::Site;

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.rfind(prefix, 0) == 0;
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

// A site with two files, as every case starts from.
void ServeTwoFiles(const Site& site) {
  site.Serve("livelist.txt", "[main]\nfile1=0,a.dat\nfile2=1,data/b.dat\n");
  site.Serve("file/a.dat", "new a");
  site.Serve("file/data/b.dat", "new b");
}

class Outcomes : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!testing_support::NginxServer::Available()) GTEST_SKIP() << "nginx is not installed";
  }
  // Serves Site with a fresh nginx for the run.
  std::unique_ptr<testing_support::NginxServer> Nginx(const Site& site) {
    testing_support::NginxOptions options;
    options.root = site.Path();
    auto nginx = std::make_unique<testing_support::NginxServer>(work.Path() + "/nginx" +
                                                                     std::to_string(++servers),
                                                                 options);
    EXPECT_TRUE(nginx->Started());
    return nginx;
  }

  testing_support::TempDir work;
  int servers = 0;
};

TEST_F(Outcomes, EachOutcomeHasItsExitStatusAndLogLine) {
  const std::string kWarning =
      "version=v2 warning: the update site is not verified: no PublicKey in sms.ini";
  struct Case {
    const char* name;
    std::function<void(const Site&, const Installation&)> prepare;
    int status;
    // The run's last line, without its time stamp, begins with Outcome and
    // holds Detail (with "URL" standing for the server's address).
    std::string outcome;
    std::string detail;
    bool signedSite;  // a key is configured: no warning line before it
    bool installs;    // a.dat is installed
  } cases[] = {
      {"installed from a signed site",
       [](const Site& site, const Installation& app) {
         ServeTwoFiles(site);
         ASSERT_EQ(site.Sign("v2"), 0);
         app.SetSetting("PublicKey", site.publicKey);
       },
       0, "version=v2 exit=0 installed 2 files", "", true, true},
      {"nothing to install",
       [](const Site& site, const Installation&) {
         site.Serve("livelist.txt", "[other]\nfile1=0,a.dat\n");
       },
       0, "version=v2 exit=0 nothing to install", "", false, false},
      {"list not fetched (404)", [](const Site&, const Installation&) {}, 3,
       "version=v2 exit=3 list not fetched: <URL/tarvo/livelist.txt>: ", "code = 404", false,
       false},
      {"file not fetched (404)",
       [](const Site& site, const Installation&) {
         ServeTwoFiles(site);
         site.Serve("livelist.txt", "[main]\nfile1=0,a.dat\nfile2=0,missing.dat\n");
       },
       4, "version=v2 exit=4 file not fetched: <URL/tarvo/file/missing.dat>: ", "code = 404",
       false, false},
      {"refused (signed by another key)",
       [](const Site& site, const Installation& app) {
         ServeTwoFiles(site);
         ASSERT_EQ(site.Sign("v2"), 0);
         Site other;
         app.SetSetting("PublicKey", other.publicKey);
       },
       5, "version=v2 exit=5 refused: <URL/tarvo/livelist.sums>: ",
       "the manifest's signature does not match the configured key", true, false},
      {"installation failed (a file where a folder must go)",
       [](const Site& site, const Installation& app) {
         ServeTwoFiles(site);
         app.folder.Write("data", "in the way");
       },
       6, "version=v2 exit=6 installation failed: <data/b.dat>: ",
       "cannot make the folder data", false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Site site;
    Installation app;
    app.SetSetting("ver", "v1");
    c.prepare(site, app);
    auto nginx = Nginx(site);
    const std::string url = nginx->Url("");

    EXPECT_EQ(app.Run({"v2", "main", "back"}, url), c.status);

    std::vector<std::string> log = app.LogTexts();
    ASSERT_EQ(log.size(), c.signedSite ? 1u : 2u) << Joined(log);
    if (!c.signedSite) {
      EXPECT_EQ(log[0], kWarning);
    }
    std::string outcome = c.outcome;
    if (auto at = outcome.find("URL"); at != std::string::npos) outcome.replace(at, 3, url);
    EXPECT_TRUE(StartsWith(log.back(), outcome)) << log.back();
    EXPECT_NE(log.back().find(c.detail), std::string::npos) << log.back();
    EXPECT_EQ(app.Setting("ver"), c.status == 0 ? "v2" : "v1");
    EXPECT_EQ(FileExists(app.folder.File("a.dat")), c.installs);
    EXPECT_EQ(app.TakeMainApplicationStart(),
              (std::vector<std::string>{app.folder.File("tarvo.exe"), "back"}));
  }
}

// An expired manifest cannot be made with the program (its days start now):
// the publisher's own code signs one dated in the past.
void SignExpired(const Site& site) {
  std::string error;
  auto key = publish::TclSigningKey::Load(site.KeyFile(), error);
  ASSERT_TRUE(key) << error;
  publish::TclPublishRequest request;
  request.siteFolder = site.Path();
  request.version = "v2";
  request.expiresDays = 1;
  request.now = std::chrono::system_clock::now() - std::chrono::hours(48);
  ASSERT_TRUE(publish::PublishSite(request, *key).ok);
}

void FlipByte(const std::string& file, std::size_t at) {
  std::string bytes = ReadFile(file);
  ASSERT_LT(at, bytes.size());
  bytes[at] = static_cast<char>(bytes[at] ^ 0x20);
  testing_support::WriteFile(file, bytes);
}

TEST_F(Outcomes, ATamperedSiteIsRefusedAndNothingIsInstalled) {
  struct Case {
    const char* name;
    const char* installed;  // "ver" before the run
    const char* asked;      // the version on the command line
    std::function<void(const Site&)> tamper;
    std::string where;   // the address the log blames, below the server
    std::string reason;  // in the log line
  } cases[] = {
      {"one byte changed in a file", "v1", "v2",
       [](const Site& site) { FlipByte(site.File("file/data/b.dat"), 2); },
       "/tarvo/file/data/b.dat", "differs from the signed manifest's"},
      {"one byte changed in the list", "v1", "v2",
       [](const Site& site) { FlipByte(site.File("livelist.txt"), 1); }, "/tarvo/livelist.txt",
       "differs from the signed manifest's"},
      {"one byte changed in the manifest", "v1", "v2",
       [](const Site& site) { FlipByte(site.File("livelist.sums"), 10); },
       "/tarvo/livelist.sums", "the manifest's signature does not match the configured key"},
      {"a signature by another key", "v1", "v2",
       [](const Site& site) {
         Site other;
         std::filesystem::copy_file(other.KeyFile(), site.KeyFile(),
                                    std::filesystem::copy_options::overwrite_existing);
         ASSERT_EQ(site.Sign("v2"), 0);
       },
       "/tarvo/livelist.sums", "the manifest's signature does not match the configured key"},
      {"no signature", "v1", "v2",
       [](const Site& site) { std::filesystem::remove(site.File("livelist.sums.sig")); },
       "/tarvo/livelist.sums.sig", "the site is not signed"},
      {"an expired manifest", "v1", "v2", [](const Site& site) { SignExpired(site); },
       "/tarvo/livelist.sums", "the manifest expired at"},
      {"an older signed site replayed", "v3.0", "v3.1",
       [](const Site& site) { ASSERT_EQ(site.Sign("v2.9"), 0); }, "/tarvo/livelist.sums",
       "the site delivers version v2.9, older than the installed v3.0"},
      {"a site older than the version asked for", "v1", "v3",
       [](const Site& site) { ASSERT_EQ(site.Sign("v2.10"), 0); }, "/tarvo/livelist.sums",
       "the site delivers version v2.10, older than the version asked for v3"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Site site;
    ServeTwoFiles(site);
    ASSERT_EQ(site.Sign("v2"), 0);
    c.tamper(site);
    Installation app;
    app.SetSetting("ver", c.installed);
    app.SetSetting("PublicKey", site.publicKey);
    const std::string settings = ReadFile(app.folder.File("sms.ini"));
    auto nginx = Nginx(site);

    EXPECT_EQ(app.Run({c.asked, "main"}, nginx->Url("")), 5);

    std::vector<std::string> log = app.LogTexts();
    ASSERT_EQ(log.size(), 1u) << Joined(log);
    EXPECT_TRUE(StartsWith(log[0], "version=" + std::string(c.asked) + " exit=5 refused: <" +
                                       nginx->Url(c.where) + ">: "))
        << log[0];
    EXPECT_NE(log[0].find(c.reason), std::string::npos) << log[0];
    EXPECT_EQ(ReadFile(app.folder.File("sms.ini")), settings) << "\"ver\" stays unwritten";
    EXPECT_FALSE(FileExists(app.folder.File("a.dat")));
    EXPECT_FALSE(FileExists(app.folder.File("data/b.dat")));
    EXPECT_EQ(app.TakeMainApplicationStart().size(), 1u) << "the main application starts";
  }
}

// SIGTERM in the middle of a file the server has stopped sending: the file
// is stopped at once (no retries), nothing is installed, the main
// application starts long before the retries would have ended.
TEST(Closing, SigtermDuringAStalledFileHandsOverAtOnce) {
  testing_support::FaultServer faults;
  faults.Route("/tarvo/livelist.txt", testing_support::FaultRoute("[main]\nfile1=0,slow.dat\n"));
  const std::string body = testing_support::RandomBytes(200000, 3);
  testing_support::FaultRoute slow(body);
  slow.stallAfter = 10000;
  faults.Route("/tarvo/file/slow.dat", slow);
  Installation app;
  const int pid = app.Start({"v2", "main", "after"}, faults.Url(""));
  for (int i = 0; i < 2000 && !FileExists(app.folder.File("liveupdate/slow.dat")); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  // Well into the stall: every worker has its bytes and waits.
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  const int asked = faults.Count("/tarvo/file/slow.dat", "GET");
  const auto signalled = std::chrono::steady_clock::now();
  ASSERT_EQ(::kill(pid, SIGTERM), 0);

  EXPECT_EQ(app.TakeMainApplicationStart(),
            (std::vector<std::string>{app.folder.File("tarvo.exe"), "after"}));
  const auto handedOver = std::chrono::steady_clock::now() - signalled;
  EXPECT_EQ(Installation::Wait(pid, std::chrono::seconds(30)), 7);
  // Ten tries with their pauses would take the better part of a minute; a
  // generous bound keeps a loaded machine from failing it.
  EXPECT_LT(handedOver, std::chrono::seconds(10));
  std::printf("main application started %lld ms after SIGTERM\n",
              static_cast<long long>(
                  std::chrono::duration_cast<std::chrono::milliseconds>(handedOver).count()));
  faults.ReleaseStalls();
  EXPECT_EQ(faults.Count("/tarvo/file/slow.dat", "GET"), asked) << "no try after the stop";
  const std::string staged = ReadFile(app.folder.File("liveupdate/slow.dat"));
  EXPECT_FALSE(staged.empty() || staged == body) << "the partial file stays staged";
  EXPECT_FALSE(FileExists(app.folder.File("slow.dat")));
  EXPECT_EQ(app.Setting("ver"), "<none>");
  const std::vector<std::string> log = app.LogTexts();
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.back(), "version=v2 exit=7 closed by the user");
}

}  // namespace

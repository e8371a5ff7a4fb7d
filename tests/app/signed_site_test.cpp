// The pure pieces of signed sites and of the installation's journal: how
// versions compare, what a manifest must look like, the key's base64 text,
// and the journal read back as written.
#include <gtest/gtest.h>

#include <string>

#include "app/InstallJournal.h"
#include "app/SiteManifest.h"
#include "app/SiteSignature.h"

namespace {

const std::string kDigest(64, 'a');

TEST(CompareVersionsTest, ComponentsCompareAsNumbersOrText) {
  struct Case {
    const char* a;
    const char* b;
    int order;
  } cases[] = {
      {"1.10", "1.9", 1},    {"1.9", "1.10", -1},   {"2", "2.0", 0},
      {"2.0.1", "2", 1},     {"01.2", "1.2", 0},    {"10", "9", 1},
      {"1.2b", "1.2a", 1},   {"v3.0", "v2.9", 1},   {"v2.10", "v3", -1},
      {"123456789012345678901234567890", "123456789012345678901234567889", 1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(app::CompareVersions(c.a, c.b), c.order) << c.a << " vs " << c.b;
    EXPECT_EQ(app::CompareVersions(c.b, c.a), -c.order) << c.b << " vs " << c.a;
  }
}

TEST(SiteManifestTest, ReadsWhatItWritesAndRefusesAnythingElse) {
  const std::string good = "version=2.0\nexpires=2030-02-28T23:59:59Z\n" + kDigest +
                           "  livelist.txt\n" + std::string(64, 'B') + " *file/my file.dat\n";
  std::string error;
  auto manifest = app::ParseSiteManifest(good, error);
  ASSERT_TRUE(manifest) << error;
  EXPECT_EQ(manifest->Version, "2.0");
  EXPECT_EQ(app::FormatUtcTimestamp(manifest->Expires), "2030-02-28T23:59:59Z");
  EXPECT_EQ(manifest->Sums.at("file/my file.dat"), std::string(64, 'b')) << "lower-cased";
  EXPECT_EQ(app::ParseSiteManifest(app::FormatSiteManifest(*manifest), error)->Sums,
            manifest->Sums);

  struct Case {
    const char* name;
    std::string text;
    const char* error;
  } cases[] = {
      {"empty", "", "line 1: expected version=V"},
      {"no version value", "version=\nexpires=2030-01-01T00:00:00Z\n", "line 1"},
      {"no expiry", "version=2\n" + kDigest + "  livelist.txt\n", "line 2"},
      {"a date that does not exist", "version=2\nexpires=2030-02-30T00:00:00Z\n", "line 2"},
      {"a local time", "version=2\nexpires=2030-01-01T00:00:00\n", "line 2"},
      {"a year the clock cannot hold", "version=2\nexpires=4062-01-01T00:00:00Z\n", "line 2"},
      {"a control character in a path", "version=2\nexpires=2030-01-01T00:00:00Z\n" + kDigest + "  a\tb\n", "line 3"},
      {"a short digest", "version=2\nexpires=2030-01-01T00:00:00Z\nabc  livelist.txt\n",
       "line 3: expected a SHA-256 digest"},
      {"not hex", "version=2\nexpires=2030-01-01T00:00:00Z\n" + std::string(64, 'g') + "  x\n",
       "line 3: the digest is not 64 hex digits"},
      {"one blank", "version=2\nexpires=2030-01-01T00:00:00Z\n" + kDigest + " x\n", "line 3"},
      {"a path twice",
       "version=2\nexpires=2030-01-01T00:00:00Z\n" + kDigest + "  x\n" + kDigest + "  x\n",
       "line 4: \"x\" is listed twice"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_FALSE(app::ParseSiteManifest(c.text, error));
    EXPECT_NE(error.find(c.error), std::string::npos) << error;
  }
}

TEST(Base64Test, DecodesOnlyStrictText) {
  const std::string key(32, '\xfe');
  const std::string text = app::Base64Encode(key);
  EXPECT_EQ(text.size(), 44u);
  EXPECT_EQ(app::Base64Decode(text), key);
  EXPECT_EQ(app::Base64Decode("  " + text + "\n"), key);
  EXPECT_EQ(app::Base64Decode("YQ=="), "a");
  for (const char* bad : {"", "YQ", "Y Q==", "Y=Q=", "!!!!", "YQ==YQ=="})
    EXPECT_FALSE(app::Base64Decode(bad)) << bad;
}

TEST(InstallJournalTest, ReadsBackEveryValueAndIgnoresATornLine) {
  app::TclInstallJournal journal;
  journal.Version = "2.0 beta";
  app::TclInstallStep replace;
  replace.Kind = app::TclStepKind::Replace;
  replace.Target = "docs/read me 100%.txt";
  replace.Source = "liveupdate/docs/read me 100%.txt";
  replace.Sha256 = kDigest;
  replace.Kept = "liveupdate/.install/kept-1";
  replace.Folders = {"docs", "docs/a=b"};
  app::TclInstallStep updater;
  updater.Kind = app::TclStepKind::Updater;
  updater.Target = "liveupdate2.exe";
  updater.Program = true;
  updater.Key = "Liveupdate";
  updater.Old = "";  // existed, empty
  updater.New = "liveupdate2.exe";
  app::TclInstallStep version;
  version.Kind = app::TclStepKind::Version;
  version.Key = "ver";
  version.New = "2.0\tbeta";  // no old value: it did not exist
  journal.Steps = {replace, updater, version};

  const std::string text = app::FormatJournal(journal) + "done 1\ndone 2\nrollback\ndone 3";
  auto read = app::ParseJournal(text);
  ASSERT_TRUE(read);
  EXPECT_EQ(read->Version, journal.Version);
  EXPECT_EQ(read->Steps, journal.Steps);
  EXPECT_EQ(read->Done, (std::set<int>{1, 2})) << "the last line has no line end yet";
  EXPECT_TRUE(read->RollingBack);

  // A plan cut short, or one not written by this program, is no journal.
  const std::string plan = app::FormatJournal(journal);
  EXPECT_FALSE(app::ParseJournal(plan.substr(0, plan.find("end "))));
  EXPECT_FALSE(app::ParseJournal("something else\n" + plan.substr(plan.find('\n') + 1)));
  EXPECT_FALSE(app::ParseJournal(plan.substr(0, plan.find("step 2")) + "step 2 unpack\nend 2\n"));
}

}  // namespace

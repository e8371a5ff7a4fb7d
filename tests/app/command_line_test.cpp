#include "app/CommandLine.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/AppFolder.h"
#include "app/Settings.h"
#include "app/ULiveconst.h"
#include "platform/Files.h"

namespace {

using app::TclCommandLine;
using Args = std::vector<std::string>;

TEST(CommandLineTest, NamesTheArgumentsByPosition) {
  const char* argv[] = {"/opt/my app/liveupdate1.exe", "v2", "main", "a", "b c"};
  TclCommandLine line = TclCommandLine::FromMain(5, argv);
  EXPECT_EQ(line.ProgramPath(), "/opt/my app/liveupdate1.exe");
  EXPECT_EQ(line.Version(), "v2");
  EXPECT_EQ(line.Section(), "main");
  EXPECT_EQ(line.HandBack(), (Args{"a", "b c"}));
  EXPECT_EQ(line.Argument(9), "");
  EXPECT_TRUE(line.ShouldRun());
}

TEST(CommandLineTest, RunsOnlyWithAVersion) {
  EXPECT_FALSE(TclCommandLine(Args{"/a/liveupdate1.exe"}).ShouldRun());
  EXPECT_FALSE(TclCommandLine(Args{"/a/liveupdate1.exe", ""}).ShouldRun());
  EXPECT_FALSE(TclCommandLine().ShouldRun());
  TclCommandLine versionOnly(Args{"/a/liveupdate1.exe", "v3"});
  EXPECT_TRUE(versionOnly.ShouldRun());
  EXPECT_EQ(versionOnly.Section(), "");
  EXPECT_EQ(versionOnly.HandBack(), Args{});
}

TEST(AppFolderTest, IsTheProgramsFolderWithItsSeparator) {
  EXPECT_EQ(app::AppFolderOf("/opt/my app/liveupdate1.exe"), "/opt/my app/");
  EXPECT_EQ(app::AppFolderOf("/liveupdate1.exe"), "/");
  EXPECT_EQ(app::AppFolderOf("bin/liveupdate"), "bin/");
  // A bare name came through the search path: the executable's own folder.
  EXPECT_EQ(app::AppFolderOf("liveupdate"), platform::ExecutableFolder());
}

class SettingsTest : public ::testing::Test {
 protected:
  app_testing::AppFolder folder_;
};

TEST_F(SettingsTest, MissingFileSectionOrKeyGiveTheDefault) {
  EXPECT_EQ(app::ReadSetting(folder_.Path(), "firstrun", ""), "");
  EXPECT_EQ(app::ReadSetting(folder_.Path(), "ver", "none"), "none");
  folder_.Write("sms.ini", "[other]\nfirstrun=x\n");
  EXPECT_EQ(app::ReadSetting(folder_.Path(), "firstrun", ""), "");
  folder_.Write("sms.ini", "[Tarvo]\nver=1\n");
  EXPECT_EQ(app::ReadSetting(folder_.Path(), "firstrun", "d"), "d");
}

TEST_F(SettingsTest, WritesCreateTheFileAndKeepOtherContent) {
  app::WriteSetting(folder_.Path(), "ver", "v2");
  EXPECT_EQ(app::ReadSetting(folder_.Path(), "VER", ""), "v2");
  EXPECT_EQ(testing_support::ReadFile(folder_.File("sms.ini")), "[tarvo]\nver=v2\n");

  folder_.Write("sms.ini", "; main application\n[user]\nname=x\n[TARVO]\nLiveupdate=a\n");
  app::WriteSetting(folder_.Path(), "liveupdate", "liveupdate2.exe");
  app::WriteSetting(folder_.Path(), "ver", "v3");
  EXPECT_EQ(testing_support::ReadFile(folder_.File("sms.ini")),
            "; main application\n[user]\nname=x\n[TARVO]\nLiveupdate=liveupdate2.exe\nver=v3\n");
}

TEST_F(SettingsTest, EveryReadSeesTheFileAsItIsNow) {
  app::WriteSetting(folder_.Path(), "ver", "v1");
  EXPECT_EQ(app::ReadSetting(folder_.Path(), "ver", ""), "v1");
  folder_.Write("sms.ini", "[tarvo]\nver=changed outside\n");
  EXPECT_EQ(app::ReadSetting(folder_.Path(), "ver", ""), "changed outside");
}

TEST(ConstantsTest, CloseQuestionIsFiveLinesJoinedByCarriageReturns) {
  std::string text = app::CloseQuestionText();
  EXPECT_EQ(std::count(text.begin(), text.end(), '\r'), 4);
  EXPECT_EQ(text.rfind(std::string(app::kCloseQuestionLines[0]) + "\r", 0), 0u);
  EXPECT_NE(text.back(), '\r');
  EXPECT_EQ(text.substr(text.rfind('\r') + 1), "确实要关闭吗？");
}

}  // namespace

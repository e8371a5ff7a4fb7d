#include "app/UpdateList.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <optional>
#include <string>
#include <vector>

#include "app/UpdateServer.h"
#include "support/TempDir.h"

namespace {

using Values = std::vector<std::string>;

TEST(ReadWorkListTest, ReadsKeysInOrderUpToTheFirstGap) {
  const std::string list =
      "[other]\nfile1=9,other.dat\n"
      "[Main]\nfile2=1,b.dat\nFILE1=0,a.dat\nfile3=2,c.dat\nfile5=0,e.dat\n";
  EXPECT_EQ(app::ReadWorkList(list, "main"), (Values{"0,a.dat", "1,b.dat", "2,c.dat"}));
  EXPECT_EQ(app::ReadWorkList(list, "other"), (Values{"9,other.dat"}));
}

TEST(ReadWorkListTest, GapOrEmptyValueEndsTheList) {
  EXPECT_EQ(app::ReadWorkList("[s]\nfile1=0,a.dat\nfile3=0,c.dat\n", "s"), (Values{"0,a.dat"}));
  EXPECT_EQ(app::ReadWorkList("[s]\nfile1=0,a.dat\nfile2=\nfile3=0,c.dat\n", "s"),
            (Values{"0,a.dat"}));
  // A key with a leading zero is not the key of its number.
  EXPECT_EQ(app::ReadWorkList("[s]\nfile01=0,a.dat\n", "s"), Values{});
}

TEST(ReadWorkListTest, MissingSectionOrFirstKeyGivesNothing) {
  EXPECT_EQ(app::ReadWorkList("[s]\nfile1=0,a.dat\n", "absent"), Values{});
  EXPECT_EQ(app::ReadWorkList("[s]\nfile2=0,a.dat\n", "s"), Values{});
  EXPECT_EQ(app::ReadWorkList("", "s"), Values{});
}

TEST(ReadWorkListTest, StopsAfterTenThousandKeys) {
  std::string list = "[s]\n";
  for (int n = 1; n <= 10001; ++n) list += "file" + std::to_string(n) + "=0,f.dat\n";
  Values values = app::ReadWorkList(list, "s");
  EXPECT_EQ(values.size(), 10000u);
}

TEST(TakeWorkListTest, ReadsTheFileAndDeletesIt) {
  testing_support::TempDir dir;
  std::string file = dir.File("tmp.ini");
  testing_support::WriteFile(file, "[s]\r\nfile1=2,bin/tool.exe\r\n");
  EXPECT_EQ(app::TakeWorkList(file, "s"), (Values{"2,bin/tool.exe"}));
  EXPECT_FALSE(testing_support::FileExists(file));

  testing_support::WriteFile(file, "[s]\n");
  EXPECT_EQ(app::TakeWorkList(file, "other"), Values{});
  EXPECT_FALSE(testing_support::FileExists(file));

  EXPECT_EQ(app::TakeWorkList(file, "s"), Values{});
}

TEST(UpdatePathsTest, StagingMirrorsTheApplicationFolder) {
  const std::string folder = "/opt/my app/";
  EXPECT_EQ(app::StagingFolder(folder), "/opt/my app/liveupdate");
  EXPECT_EQ(app::LocalListFile(folder), "/opt/my app/liveupdate/tmp.ini");
  EXPECT_EQ(app::StagingPath(folder, "bin/tool.exe"), "/opt/my app/liveupdate/bin/tool.exe");
  EXPECT_EQ(app::InstallTarget(folder, "bin/tool.exe"), "/opt/my app/bin/tool.exe");
}

class UpdateServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* value = ::getenv("LIVEUPDATE_SERVER")) saved_ = value;
  }
  void TearDown() override {
    if (saved_) {
      ::setenv("LIVEUPDATE_SERVER", saved_->c_str(), 1);
    } else {
      ::unsetenv("LIVEUPDATE_SERVER");
    }
  }
  std::optional<std::string> saved_;
};

TEST_F(UpdateServerTest, EnvironmentOverridesTheBuiltInServer) {
  ::setenv("LIVEUPDATE_SERVER", "http://127.0.0.1:9/", 1);
  EXPECT_EQ(app::UpdateServerBaseUrl(), "http://127.0.0.1:9");
  ::setenv("LIVEUPDATE_SERVER", "", 1);
  std::string builtIn = app::UpdateServerBaseUrl();
  ::unsetenv("LIVEUPDATE_SERVER");
  EXPECT_EQ(app::UpdateServerBaseUrl(), builtIn);
  EXPECT_EQ(builtIn.rfind("http", 0), 0u);
  EXPECT_NE(builtIn.back(), '/');
}

TEST_F(UpdateServerTest, AddressesKeepThePathAsWritten) {
  EXPECT_EQ(app::UpdateListUrl("http://h:81"), "http://h:81/tarvo/livelist.txt");
  EXPECT_EQ(app::UpdateFileUrl("http://h", "docs/read me.txt"),
            "http://h/tarvo/file/docs/read me.txt");
}

}  // namespace

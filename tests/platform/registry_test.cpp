#include "platform/Registry.h"

#include <dirent.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <set>

#include "platform/Files.h"
#include "platform/LastError.h"
#include "support/TempDir.h"

namespace {

using namespace platform;
using testing_support::FolderEntries;
using testing_support::ReadFile;
using testing_support::TempDir;

std::vector<std::string> Sorted(std::vector<std::string> names) {
  std::sort(names.begin(), names.end());
  return names;
}

// Points the hive at a private folder for the duration of a test.
class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* old = std::getenv("XDG_CONFIG_HOME")) saved_ = old;
    hadValue_ = std::getenv("XDG_CONFIG_HOME") != nullptr;
    ::setenv("XDG_CONFIG_HOME", dir_.Path().c_str(), 1);
  }
  void TearDown() override {
    if (hadValue_) {
      ::setenv("XDG_CONFIG_HOME", saved_.c_str(), 1);
    } else {
      ::unsetenv("XDG_CONFIG_HOME");
    }
  }
  std::string Root() const { return dir_.Path() + "/liveupdate/registry/"; }

  TempDir dir_;
  std::string saved_;
  bool hadValue_ = false;
};

TEST_F(RegistryTest, HiveLivesUnderTheConfigFolder) {
  EXPECT_EQ(RegistryRoot(), Root());
  ::unsetenv("XDG_CONFIG_HOME");
  const char* home = std::getenv("HOME");
  ASSERT_NE(home, nullptr);
  EXPECT_EQ(RegistryRoot(), IncludeTrailingPathDelimiter(home) + ".config/liveupdate/registry/");
}

TEST_F(RegistryTest, OpeningMissingKeyWithoutCreateFailsAndCreatesNothing) {
  RegistryKey key;
  EXPECT_FALSE(key.Open("Software\\Quorin\\Downloader", false));
  EXPECT_EQ(GetLastError(), kErrorFileNotFound);
  EXPECT_FALSE(key.IsOpen());
  EXPECT_FALSE(DirectoryExists(dir_.Path() + "/liveupdate"));
}

TEST_F(RegistryTest, CreatingKeyMakesNestedFolders) {
  RegistryKey key;
  ASSERT_TRUE(key.Open("Software\\Quorin\\Downloader", true));
  EXPECT_EQ(key.Folder(), Root() + "Software/Quorin/Downloader/");
  EXPECT_TRUE(DirectoryExists(Root() + "Software/Quorin/Downloader"));
  RegistryKey again;
  EXPECT_TRUE(again.Open("\\Software\\\\Quorin\\Downloader\\", false));
  EXPECT_EQ(again.Folder(), key.Folder());
}

TEST_F(RegistryTest, BinaryValueRoundTripsThroughItsFile) {
  const std::string data = std::string("\0\x01\xFF{\"ThreadCount\":5}", 20) + testing_support::RandomBytes(5000, 2);
  {
    RegistryKey key;
    ASSERT_TRUE(key.Open("Software\\Test", true));
    ASSERT_TRUE(key.WriteBinary("Data", data));
  }
  EXPECT_EQ(ReadFile(Root() + "Software/Test/@Data"), data);
  RegistryKey key;
  ASSERT_TRUE(key.Open("Software\\Test", false));
  EXPECT_TRUE(key.ValueExists("Data"));
  EXPECT_EQ(key.ValueSize("Data"), static_cast<std::int64_t>(data.size()));
  std::string read;
  ASSERT_TRUE(key.ReadBinary("Data", read));
  EXPECT_EQ(read, data);
}

TEST_F(RegistryTest, EmptyValueExistsWithSizeZero) {
  RegistryKey key;
  ASSERT_TRUE(key.Open("K", true));
  ASSERT_TRUE(key.WriteBinary("Data", ""));
  EXPECT_TRUE(key.ValueExists("Data"));
  EXPECT_EQ(key.ValueSize("Data"), 0);
}

TEST_F(RegistryTest, MissingValueReadFailsWithFileNotFound) {
  RegistryKey key;
  ASSERT_TRUE(key.Open("K", true));
  std::string data = "untouched";
  SetLastError(0);
  EXPECT_FALSE(key.ReadBinary("Data", data));
  EXPECT_EQ(GetLastError(), kErrorFileNotFound);
  EXPECT_EQ(data, "untouched");
  EXPECT_EQ(key.ValueSize("Data"), -1);
  EXPECT_FALSE(key.ValueExists("Data"));
}

TEST_F(RegistryTest, KeyAndValueNamesIgnoreLetterCaseAndKeepFirstSpelling) {
  RegistryKey key;
  ASSERT_TRUE(key.Open("Software\\Quorin", true));
  ASSERT_TRUE(key.WriteBinary("Data", "one"));
  RegistryKey other;
  ASSERT_TRUE(other.Open("SOFTWARE\\quorin", true));
  ASSERT_TRUE(other.WriteBinary("DATA", "two"));
  std::string read;
  ASSERT_TRUE(key.ReadBinary("data", read));
  EXPECT_EQ(read, "two");
  EXPECT_EQ(FolderEntries(Root()), std::set<std::string>{"Software"});
  EXPECT_EQ(FolderEntries(Root() + "Software/Quorin"), std::set<std::string>{"@Data"});
}

TEST_F(RegistryTest, RewritingValueReplacesItWithoutLeftovers) {
  RegistryKey key;
  ASSERT_TRUE(key.Open("K", true));
  ASSERT_TRUE(key.WriteBinary("Data", std::string(10000, 'a')));
  ASSERT_TRUE(key.WriteBinary("Data", "short"));
  EXPECT_EQ(ReadFile(Root() + "K/@Data"), "short");
  EXPECT_EQ(FolderEntries(Root() + "K"), std::set<std::string>{"@Data"});
}

TEST_F(RegistryTest, DeleteValueRemovesOnlyThatValue) {
  RegistryKey key;
  ASSERT_TRUE(key.Open("K", true));
  ASSERT_TRUE(key.WriteBinary("Data", "1"));
  ASSERT_TRUE(key.WriteBinary("Other", "2"));
  EXPECT_TRUE(key.DeleteValue("DATA"));
  EXPECT_FALSE(key.ValueExists("Data"));
  EXPECT_TRUE(key.ValueExists("Other"));
  EXPECT_FALSE(key.DeleteValue("Data"));
  EXPECT_EQ(GetLastError(), kErrorFileNotFound);
}

TEST_F(RegistryTest, NamesCannotEscapeTheHive) {
  RegistryKey key;
  ASSERT_TRUE(key.Open("..\\..\\escape", true));
  ASSERT_TRUE(key.WriteBinary("../../value", "x"));
  ASSERT_TRUE(key.WriteBinary("a/b", "y"));
  EXPECT_EQ(FolderEntries(dir_.Path()), std::set<std::string>{"liveupdate"});
  EXPECT_EQ(Sorted(key.ValueNames()), (std::vector<std::string>{"../../value", "a/b"}));
  std::string read;
  ASSERT_TRUE(key.ReadBinary("a/b", read));
  EXPECT_EQ(read, "y");
  RegistryKey root;
  ASSERT_TRUE(root.Open("", false));
  EXPECT_EQ(root.SubKeyNames(), std::vector<std::string>{".."});
}

TEST_F(RegistryTest, ValueAndSubkeyOfTheSameNameLiveSideBySide) {
  RegistryKey key;
  ASSERT_TRUE(key.Open("K", true));
  ASSERT_TRUE(key.WriteBinary("Data", "value"));
  RegistryKey sub;
  ASSERT_TRUE(sub.Open("K\\Data", true));
  ASSERT_TRUE(sub.WriteBinary("@x", "inner"));
  EXPECT_EQ(key.SubKeyNames(), std::vector<std::string>{"Data"});
  EXPECT_EQ(key.ValueNames(), std::vector<std::string>{"Data"});
  EXPECT_EQ(sub.ValueNames(), std::vector<std::string>{"@x"});
  std::string read;
  ASSERT_TRUE(key.ReadBinary("Data", read));
  EXPECT_EQ(read, "value");
}

TEST_F(RegistryTest, DeleteKeyRemovesItsWholeSubtree) {
  RegistryKey key;
  ASSERT_TRUE(key.Open("A\\B\\C", true));
  ASSERT_TRUE(key.WriteBinary("v", "1"));
  EXPECT_TRUE(DeleteRegistryKey("a\\b"));
  EXPECT_FALSE(DirectoryExists(Root() + "A/B"));
  EXPECT_TRUE(DirectoryExists(Root() + "A"));
  EXPECT_FALSE(DeleteRegistryKey("a\\b"));
  EXPECT_EQ(GetLastError(), kErrorFileNotFound);
  EXPECT_FALSE(DeleteRegistryKey(""));
  EXPECT_TRUE(DirectoryExists(Root()));
}

TEST_F(RegistryTest, ClosedKeyRefusesEveryOperation) {
  RegistryKey key;
  std::string data;
  EXPECT_FALSE(key.ReadBinary("Data", data));
  EXPECT_EQ(GetLastError(), kErrorInvalidHandle);
  EXPECT_FALSE(key.WriteBinary("Data", "x"));
  EXPECT_EQ(GetLastError(), kErrorInvalidHandle);
  ASSERT_TRUE(key.Open("K", true));
  key.Close();
  EXPECT_FALSE(key.IsOpen());
  EXPECT_FALSE(key.WriteBinary("Data", "x"));
  EXPECT_TRUE(FolderEntries(Root() + "K").empty());
}

}  // namespace

#include "platform/IniFile.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <thread>

#include "platform/Files.h"
#include "platform/LastError.h"
#include "platform/Process.h"
#include "support/TempDir.h"

namespace {

using namespace platform;
using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

using Pairs = std::vector<std::pair<std::string, std::string>>;
using Names = std::vector<std::string>;

class IniDocumentTest : public ::testing::Test {};

TEST_F(IniDocumentTest, KeepsUnchangedTextByteForByte) {
  const std::string text =
      "; settings\r\n"
      "junk line without equals\n"
      "[tarvo]\r\n"
      "  ver = 1.2 \r\n"
      "\r\n"
      "=orphan\n"
      "[other]\n"
      "x=\xE4\xB8\xAD\xE6\x96\x87\n"
      "tail without newline";
  EXPECT_EQ(IniDocument::Parse(text).Text(), text);
  EXPECT_EQ(IniDocument::Parse("").Text(), "");
}

TEST_F(IniDocumentTest, MatchesNamesWithoutRegardToCaseOrBlanks) {
  auto doc = IniDocument::Parse("[ Tarvo ]\nVer=2.0\nLiveUpdate = liveupdate2.exe\n");
  EXPECT_EQ(doc.Read("tarvo", "ver"), "2.0");
  EXPECT_EQ(doc.Read("TARVO", " liveupdate "), "liveupdate2.exe");
  EXPECT_EQ(doc.Read("tarvo", "firstrun"), std::nullopt);
  EXPECT_EQ(doc.Read("tarv", "ver"), std::nullopt);
}

TEST_F(IniDocumentTest, ValueIsTextAfterFirstEqualsWithoutSurroundingBlanks) {
  auto doc = IniDocument::Parse("[s]\na = b=c \nempty=\nquoted=\"1\",\"x y\"\n");
  EXPECT_EQ(doc.Read("s", "a"), "b=c");
  EXPECT_EQ(doc.Read("s", "empty"), "");
  EXPECT_EQ(doc.Read("s", "quoted"), "\"1\",\"x y\"");
}

TEST_F(IniDocumentTest, CommentsLinesBeforeSectionsAndOddLinesAreNotKeys) {
  auto doc = IniDocument::Parse("k=outside\n[s]\n;k=commented\nnonsense\n=nokey\n[t]\nk=t\n");
  EXPECT_EQ(doc.Read("s", "k"), std::nullopt);
  EXPECT_EQ(doc.Read("", "k"), std::nullopt);
  EXPECT_EQ(doc.SectionKeys("s"), Names{});
  EXPECT_EQ(doc.Read("t", "k"), "t");
}

TEST_F(IniDocumentTest, RepeatedSectionsReadAsOneWithFirstKeyWinning) {
  auto doc = IniDocument::Parse("[a]\nx=1\n[b]\nx=b\n[A]\nx=2\ny=3\n");
  EXPECT_EQ(doc.Read("a", "x"), "1");
  EXPECT_EQ(doc.Read("a", "y"), "3");
  EXPECT_EQ(doc.SectionValues("a"), (Pairs{{"x", "1"}, {"y", "3"}}));
  EXPECT_EQ(doc.Sections(), (Names{"a", "b"}));
}

TEST_F(IniDocumentTest, UnterminatedSectionHeaderStillNamesASection) {
  auto doc = IniDocument::Parse("[broken\nk=v\n[ok] trailing words\nk=w\n");
  EXPECT_EQ(doc.Read("broken", "k"), "v");
  EXPECT_EQ(doc.Read("ok", "k"), "w");
}

TEST_F(IniDocumentTest, ReplacesValueInPlaceKeepingEverythingElse) {
  auto doc = IniDocument::Parse("; c\n[tarvo]\nver=1\nfirstrun=,a\n\n[x]\nver=9\n");
  ASSERT_TRUE(doc.Write("TARVO", "VER", "2"));
  EXPECT_EQ(doc.Text(), "; c\n[tarvo]\nver=2\nfirstrun=,a\n\n[x]\nver=9\n");
}

TEST_F(IniDocumentTest, AddsNewKeyAfterTheSectionsLastKey) {
  auto doc = IniDocument::Parse("[tarvo]\nver=1\n\n; about x\n[x]\nk=v\n");
  ASSERT_TRUE(doc.Write("tarvo", "Liveupdate", "liveupdate1.exe"));
  EXPECT_EQ(doc.Text(), "[tarvo]\nver=1\nLiveupdate=liveupdate1.exe\n\n; about x\n[x]\nk=v\n");
  ASSERT_TRUE(doc.Write("x", "new", "n"));
  EXPECT_EQ(doc.Text(), "[tarvo]\nver=1\nLiveupdate=liveupdate1.exe\n\n; about x\n[x]\nk=v\nnew=n\n");
}

TEST_F(IniDocumentTest, AddsMissingSectionAtTheEndWithTheFilesLineEnds) {
  auto doc = IniDocument::Parse("[a]\r\nk=v");
  ASSERT_TRUE(doc.Write("tarvo", "ver", "3"));
  EXPECT_EQ(doc.Text(), "[a]\r\nk=v\r\n[tarvo]\r\nver=3\r\n");
  auto empty = IniDocument::Parse("");
  ASSERT_TRUE(empty.Write("s", "k", "v"));
  EXPECT_EQ(empty.Text(), "[s]\nk=v\n");
}

TEST_F(IniDocumentTest, EmptySectionGetsKeyRightAfterItsHeader) {
  auto doc = IniDocument::Parse("[s]\n; only a comment\n[t]\n");
  ASSERT_TRUE(doc.Write("s", "k", "v"));
  EXPECT_EQ(doc.Text(), "[s]\nk=v\n; only a comment\n[t]\n");
}

TEST_F(IniDocumentTest, RefusesNamesAndValuesThatCouldNotBeReadBack) {
  auto doc = IniDocument::Parse("[s]\nk=v\n");
  const std::string before = doc.Text();
  struct Case {
    std::string section, key, value;
  };
  for (const Case& c : {Case{"s", "k", "two\nlines"}, Case{"s", "k", "cr\r"}, Case{"s", "a=b", "v"},
                        Case{"s", "", "v"}, Case{"s", "  ", "v"}, Case{"", "k", "v"}, Case{"a]b", "k", "v"},
                        Case{"s", ";k", "v"}, Case{"s", "[k", "v"}, Case{"s\n", "k", "v"}}) {
    SetLastError(0);
    EXPECT_FALSE(doc.Write(c.section, c.key, c.value)) << c.section << "|" << c.key << "|" << c.value;
    EXPECT_EQ(GetLastError(), kErrorInvalidParameter);
  }
  EXPECT_EQ(doc.Text(), before);
}

TEST_F(IniDocumentTest, Utf8TextPassesThroughUnchanged) {
  const std::string chinese = "\xE8\x87\xAA\xE5\x8A\xA8\xE5\x8D\x87\xE7\xBA\xA7";
  auto doc = IniDocument::Parse("");
  ASSERT_TRUE(doc.Write(chinese, chinese, chinese));
  EXPECT_EQ(doc.Read(chinese, chinese), chinese);
  EXPECT_EQ(doc.Text(), "[" + chinese + "]\n" + chinese + "=" + chinese + "\n");
}

TEST_F(IniDocumentTest, ByteOrderMarkIsSkippedForReadingAndKeptOnWriting) {
  auto doc = IniDocument::Parse("\xEF\xBB\xBF[s]\nk=v\n");
  EXPECT_EQ(doc.Read("s", "k"), "v");
  auto keyFirst = IniDocument::Parse("\xEF\xBB\xBFk=v\n[s]\n");
  ASSERT_TRUE(keyFirst.Write("s", "a", "b"));
  EXPECT_EQ(keyFirst.Text(), "\xEF\xBB\xBFk=v\n[s]\na=b\n");
}

TEST_F(IniDocumentTest, DeletesKeysAndWholeSections) {
  auto doc = IniDocument::Parse("[a]\nx=1\ny=2\n[b]\nz=3\n[A]\nx=dup\n");
  EXPECT_TRUE(doc.DeleteKey("a", "X"));
  EXPECT_EQ(doc.Text(), "[a]\ny=2\n[b]\nz=3\n[A]\n");
  EXPECT_FALSE(doc.DeleteKey("a", "x"));
  EXPECT_TRUE(doc.DeleteSection("A"));
  EXPECT_EQ(doc.Text(), "[b]\nz=3\n");
  EXPECT_FALSE(doc.HasSection("a"));
}

TEST_F(IniDocumentTest, BinaryGarbageNeitherCrashesNorChangesOnRoundTrip) {
  std::string garbage = testing_support::RandomBytes(4096, 11);
  garbage += std::string("\0[\0]=\n\r\r\n[", 10);
  auto doc = IniDocument::Parse(garbage);
  EXPECT_EQ(doc.Text(), garbage);
  ASSERT_TRUE(doc.Write("fresh", "k", "v"));
  EXPECT_EQ(IniDocument::Parse(doc.Text()).Read("fresh", "k"), "v");
}

class IniFileTest : public ::testing::Test {
 protected:
  std::string Ini() const { return dir_.File("sms.ini"); }
  TempDir dir_;
};

TEST_F(IniFileTest, MissingFileSectionOrKeyGivesTheDefault) {
  SetLastError(0);
  EXPECT_EQ(GetPrivateProfileString("tarvo", "ver", "none", Ini()), "none");
  EXPECT_EQ(GetLastError(), kErrorFileNotFound);
  WriteFile(Ini(), "[other]\nfirstrun=x\n");
  EXPECT_EQ(GetPrivateProfileString("tarvo", "firstrun", "", Ini()), "");
  EXPECT_EQ(GetPrivateProfileString("other", "ver", "d", Ini()), "d");
  EXPECT_EQ(GetPrivateProfileString("OTHER", "FirstRun", "d", Ini()), "x");
  EXPECT_FALSE(FileExists(dir_.File("sms.ini.tmp")));
}

TEST_F(IniFileTest, WriteCreatesFileAndSection) {
  ASSERT_TRUE(WritePrivateProfileString("tarvo", "ver", "5.1", Ini()));
  EXPECT_EQ(ReadFile(Ini()), "[tarvo]\nver=5.1\n");
  ASSERT_TRUE(WritePrivateProfileString("tarvo", "firstrun", ",data/first.dat", Ini()));
  EXPECT_EQ(ReadFile(Ini()), "[tarvo]\nver=5.1\nfirstrun=,data/first.dat\n");
  EXPECT_EQ(GetPrivateProfileString("Tarvo", "FIRSTRUN", "", Ini()), ",data/first.dat");
}

TEST_F(IniFileTest, WriteKeepsTheRestOfTheFileAndItsMode) {
  WriteFile(Ini(), "; main application settings\r\n[main]\r\nwindow=1,2,3\r\n[TARVO]\r\nVer=1\r\n");
  ::chmod(Ini().c_str(), 0600);
  ASSERT_TRUE(WritePrivateProfileString("tarvo", "ver", "2", Ini()));
  EXPECT_EQ(ReadFile(Ini()), "; main application settings\r\n[main]\r\nwindow=1,2,3\r\n[TARVO]\r\nVer=2\r\n");
  struct stat st {};
  ASSERT_EQ(::stat(Ini().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
}

TEST_F(IniFileTest, WritingLeavesNoTemporaryFiles) {
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(WritePrivateProfileString("s", "k" + std::to_string(i), "v", Ini()));
  int entries = 0;
  if (DIR* dir = ::opendir(dir_.Path().c_str())) {
    while (dirent* entry = ::readdir(dir)) {
      std::string name = entry->d_name;
      entries += name != "." && name != "..";
    }
    ::closedir(dir);
  }
  EXPECT_EQ(entries, 1);
}

TEST_F(IniFileTest, WriteIntoMissingFolderFailsWithPathNotFound) {
  EXPECT_FALSE(WritePrivateProfileString("s", "k", "v", dir_.File("missing/sms.ini")));
  EXPECT_EQ(GetLastError(), kErrorPathNotFound);
}

TEST_F(IniFileTest, RefusedWriteLeavesTheFileAlone) {
  WriteFile(Ini(), "[s]\nk=v\n");
  EXPECT_FALSE(WritePrivateProfileString("s", "k", "a\nb", Ini()));
  EXPECT_EQ(GetLastError(), kErrorInvalidParameter);
  EXPECT_EQ(ReadFile(Ini()), "[s]\nk=v\n");
}

TEST_F(IniFileTest, ReadOnlyFileIsNotRewritten) {
  WriteFile(Ini(), "[tarvo]\nver=1\n");
  ::chmod(Ini().c_str(), 0444);
  EXPECT_FALSE(WritePrivateProfileString("tarvo", "ver", "2", Ini()));
  EXPECT_EQ(GetLastError(), kErrorAccessDenied);
  EXPECT_EQ(ReadFile(Ini()), "[tarvo]\nver=1\n");
  EXPECT_EQ(GetPrivateProfileString("tarvo", "ver", "", Ini()), "1");
}

TEST_F(IniFileTest, UpdateListWithGapStopsBeforeTheGap) {
  WriteFile(Ini(), "[main]\nfile1=1,a.dat\nfile3=2,c.exe\n");
  EXPECT_EQ(GetPrivateProfileString("MAIN", "file1", "", Ini()), "1,a.dat");
  EXPECT_EQ(GetPrivateProfileString("main", "file2", "", Ini()), "");
  EXPECT_EQ(GetPrivateProfileSectionKeys("main", Ini()), (Names{"file1", "file3"}));
  EXPECT_EQ(GetPrivateProfileSection("main", Ini()), (Pairs{{"file1", "1,a.dat"}, {"file3", "2,c.exe"}}));
  EXPECT_EQ(GetPrivateProfileSectionNames(Ini()), (Names{"main"}));
}

TEST_F(IniFileTest, IntegerReadTakesLeadingDecimalNumber) {
  WriteFile(Ini(), "[n]\na=42\nb= -7 \nc=+3\nd=12abc\ne=abc\nf=\ng=99999999999\n");
  EXPECT_EQ(GetPrivateProfileInt("n", "a", -1, Ini()), 42);
  EXPECT_EQ(GetPrivateProfileInt("n", "b", -1, Ini()), -7);
  EXPECT_EQ(GetPrivateProfileInt("n", "c", -1, Ini()), 3);
  EXPECT_EQ(GetPrivateProfileInt("n", "d", -1, Ini()), 12);
  EXPECT_EQ(GetPrivateProfileInt("n", "e", -1, Ini()), -1);
  EXPECT_EQ(GetPrivateProfileInt("n", "f", -1, Ini()), -1);
  EXPECT_EQ(GetPrivateProfileInt("n", "g", -1, Ini()), -1);
  EXPECT_EQ(GetPrivateProfileInt("n", "missing", 8, Ini()), 8);
  EXPECT_EQ(GetPrivateProfileInt("n", "a", 8, dir_.File("none.ini")), 8);
}

TEST_F(IniFileTest, DeletesKeyAndSectionInTheFile) {
  WriteFile(Ini(), "[a]\nx=1\ny=2\n[b]\nz=3\n");
  ASSERT_TRUE(DeleteProfileKey("a", "x", Ini()));
  EXPECT_EQ(ReadFile(Ini()), "[a]\ny=2\n[b]\nz=3\n");
  ASSERT_TRUE(DeleteProfileSection("b", Ini()));
  EXPECT_EQ(ReadFile(Ini()), "[a]\ny=2\n");
  EXPECT_TRUE(DeleteProfileKey("a", "x", dir_.File("none.ini")));
  EXPECT_FALSE(FileExists(dir_.File("none.ini")));
}

TEST_F(IniFileTest, ConcurrentWritersInOneProcessLoseNoKey) {
  constexpr int kPerThread = 40;
  auto writer = [this](const std::string& prefix) {
    for (int i = 0; i < kPerThread; ++i) {
      ASSERT_TRUE(WritePrivateProfileString("s", prefix + std::to_string(i), std::to_string(i), Ini()));
    }
  };
  std::thread first(writer, "a");
  std::thread second(writer, "b");
  first.join();
  second.join();
  auto keys = GetPrivateProfileSectionKeys("s", Ini());
  EXPECT_EQ(keys.size(), 2u * kPerThread);
  EXPECT_EQ(GetPrivateProfileString("s", "a39", "", Ini()), "39");
  EXPECT_EQ(GetPrivateProfileString("s", "b0", "", Ini()), "0");
}

TEST_F(IniFileTest, ConcurrentWritingProcessesLoseNoKey) {
  constexpr int kPerWriter = 40;
  const std::string helper = ExecutableFolder() + "platform_test_helper";
  std::vector<int> children;
  for (const char* prefix : {"p", "q", "r"}) {
    int pid = 0;
    ASSERT_TRUE(StartProcess({helper, "ini-write", Ini(), prefix, std::to_string(kPerWriter)}, &pid));
    children.push_back(pid);
  }
  for (int i = 0; i < kPerWriter; ++i) {
    ASSERT_TRUE(WritePrivateProfileString("s", "own" + std::to_string(i), "x", Ini()));
  }
  for (int pid : children) {
    int exitCode = -1;
    ASSERT_TRUE(WaitForProcess(pid, std::chrono::seconds(60), exitCode));
    EXPECT_EQ(exitCode, 0);
  }
  EXPECT_EQ(GetPrivateProfileSectionKeys("s", Ini()).size(), 4u * kPerWriter);
  EXPECT_EQ(GetPrivateProfileString("s", "q39", "", Ini()), "39");
}

}  // namespace

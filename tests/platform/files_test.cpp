#include "platform/Files.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <set>

#include "platform/LastError.h"
#include "rtl/DateTime.h"
#include "support/TempDir.h"

namespace {

using namespace platform;
using testing_support::FolderEntries;
using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

mode_t ModeOf(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
  return st.st_mode & 07777;
}

class CopyFileTest : public ::testing::Test {
 protected:
  TempDir dir_;
};

TEST_F(CopyFileTest, CopiesEveryByteWithModeAndWriteTime) {
  const std::string data = testing_support::RandomBytes(700 * 1024 + 17, 3);
  WriteFile(dir_.File("src.bin"), data);
  ::chmod(dir_.File("src.bin").c_str(), 0750);
  FileTime written = UtcDateTimeToFileTime(rtl::EncodeDate(2019, 4, 2) + rtl::EncodeTime(8, 30, 0, 0));
  ASSERT_TRUE(SetFileTimes(dir_.File("src.bin"), nullptr, nullptr, &written));

  ASSERT_TRUE(CopyFile(dir_.File("src.bin"), dir_.File("dst.bin"), false));
  EXPECT_EQ(ReadFile(dir_.File("dst.bin")), data);
  EXPECT_EQ(ModeOf(dir_.File("dst.bin")), 0750u);
  FileTime copied = 0;
  ASSERT_TRUE(GetFileTimes(dir_.File("dst.bin"), nullptr, nullptr, &copied));
  EXPECT_EQ(copied, written);
  EXPECT_EQ(FolderEntries(dir_.Path()), (std::set<std::string>{"src.bin", "dst.bin"}));
}

TEST_F(CopyFileTest, OverwritesExistingTargetWhenAllowed) {
  WriteFile(dir_.File("src"), "new contents");
  WriteFile(dir_.File("dst"), "old contents that are longer");
  ASSERT_TRUE(CopyFile(dir_.File("src"), dir_.File("dst"), false));
  EXPECT_EQ(ReadFile(dir_.File("dst")), "new contents");
}

TEST_F(CopyFileTest, ReplacedProgramStaysExecutable) {
  WriteFile(dir_.File("staged"), "new program");
  ::chmod(dir_.File("staged").c_str(), 0644);
  WriteFile(dir_.File("tarvo.exe"), "old program");
  ::chmod(dir_.File("tarvo.exe").c_str(), 0755);
  ASSERT_TRUE(CopyFile(dir_.File("staged"), dir_.File("tarvo.exe"), false));
  EXPECT_EQ(ReadFile(dir_.File("tarvo.exe")), "new program");
  EXPECT_EQ(ModeOf(dir_.File("tarvo.exe")), 0755u);
}

TEST_F(CopyFileTest, RefusesExistingTargetWithFileExists) {
  WriteFile(dir_.File("src"), "new");
  WriteFile(dir_.File("dst"), "keep me");
  EXPECT_FALSE(CopyFile(dir_.File("src"), dir_.File("dst"), true));
  EXPECT_EQ(GetLastError(), kErrorFileExists);
  EXPECT_EQ(ReadFile(dir_.File("dst")), "keep me");
  EXPECT_EQ(FolderEntries(dir_.Path()), (std::set<std::string>{"src", "dst"}));
}

TEST_F(CopyFileTest, CopiesToNewTargetWhenExistingTargetsAreRefused) {
  WriteFile(dir_.File("src"), "payload");
  ASSERT_TRUE(CopyFile(dir_.File("src"), dir_.File("fresh"), true));
  EXPECT_EQ(ReadFile(dir_.File("fresh")), "payload");
}

TEST_F(CopyFileTest, ReplacesTargetWithoutDisturbingItsOpenReaders) {
  // A running program keeps its old image: the copy must put a new file in
  // place rather than write into the old one.
  WriteFile(dir_.File("src"), "version 2");
  WriteFile(dir_.File("dst"), "version 1");
  int reader = ::open(dir_.File("dst").c_str(), O_RDONLY);
  ASSERT_GE(reader, 0);
  ASSERT_TRUE(CopyFile(dir_.File("src"), dir_.File("dst"), false));
  char buffer[32] = {};
  ASSERT_EQ(::read(reader, buffer, sizeof buffer), 9);
  ::close(reader);
  EXPECT_EQ(std::string(buffer), "version 1");
  EXPECT_EQ(ReadFile(dir_.File("dst")), "version 2");
}

TEST_F(CopyFileTest, ReportsWhyItFailedAndLeavesNothingBehind) {
  WriteFile(dir_.File("src"), "x");
  ::mkdir(dir_.File("folder").c_str(), 0755);

  EXPECT_FALSE(CopyFile(dir_.File("missing"), dir_.File("dst"), false));
  EXPECT_EQ(GetLastError(), kErrorFileNotFound);
  EXPECT_FALSE(CopyFile(dir_.File("src"), dir_.File("nofolder/dst"), false));
  EXPECT_EQ(GetLastError(), kErrorPathNotFound);
  EXPECT_FALSE(CopyFile(dir_.File("folder"), dir_.File("dst"), false));
  EXPECT_EQ(GetLastError(), kErrorAccessDenied);
  EXPECT_FALSE(CopyFile(dir_.File("src"), dir_.File("folder"), false));
  EXPECT_EQ(GetLastError(), kErrorAccessDenied);

  EXPECT_EQ(FolderEntries(dir_.Path()), (std::set<std::string>{"src", "folder"}));
  EXPECT_TRUE(FolderEntries(dir_.File("folder")).empty());
}

class FilesAndFoldersTest : public ::testing::Test {
 protected:
  TempDir dir_;
};

TEST_F(FilesAndFoldersTest, ExistenceTestsTellFilesFromFolders) {
  WriteFile(dir_.File("file"), "");
  EXPECT_TRUE(FileExists(dir_.File("file")));
  EXPECT_FALSE(DirectoryExists(dir_.File("file")));
  EXPECT_TRUE(DirectoryExists(dir_.Path()));
  EXPECT_FALSE(FileExists(dir_.Path()));
  EXPECT_FALSE(FileExists(dir_.File("none")));
  EXPECT_FALSE(DirectoryExists(dir_.File("none")));
  EXPECT_FALSE(FileExists(""));
}

TEST_F(FilesAndFoldersTest, DeleteFileRemovesFilesButNotFolders) {
  WriteFile(dir_.File("file"), "data");
  EXPECT_TRUE(DeleteFile(dir_.File("file")));
  EXPECT_FALSE(FileExists(dir_.File("file")));

  EXPECT_FALSE(DeleteFile(dir_.File("file")));
  EXPECT_EQ(GetLastError(), kErrorFileNotFound);

  ::mkdir(dir_.File("folder").c_str(), 0755);
  EXPECT_FALSE(DeleteFile(dir_.File("folder")));
  EXPECT_EQ(GetLastError(), kErrorAccessDenied);
  EXPECT_TRUE(DirectoryExists(dir_.File("folder")));
}

TEST_F(FilesAndFoldersTest, ForceDirectoriesCreatesEveryMissingParent) {
  EXPECT_TRUE(ForceDirectories(dir_.File("a/b/c/")));
  EXPECT_TRUE(DirectoryExists(dir_.File("a/b/c")));
  EXPECT_TRUE(ForceDirectories(dir_.File("a/b/c")));  // existing is fine
  EXPECT_TRUE(ForceDirectories(dir_.File("a/x")));
  EXPECT_TRUE(DirectoryExists(dir_.File("a/x")));
}

TEST_F(FilesAndFoldersTest, ForceDirectoriesFailsOnFileInTheWay) {
  WriteFile(dir_.File("plain"), "x");
  EXPECT_FALSE(ForceDirectories(dir_.File("plain/sub")));
  EXPECT_EQ(GetLastError(), kErrorAlreadyExists);
  EXPECT_FALSE(ForceDirectories(dir_.File("plain")));
  EXPECT_EQ(ReadFile(dir_.File("plain")), "x");
  EXPECT_FALSE(ForceDirectories(""));
  EXPECT_EQ(GetLastError(), kErrorPathNotFound);
}

TEST_F(FilesAndFoldersTest, RemoveDirectoryOnlyRemovesEmptyFolders) {
  ASSERT_TRUE(ForceDirectories(dir_.File("full/inner")));
  EXPECT_FALSE(RemoveDirectory(dir_.File("full")));
  EXPECT_EQ(GetLastError(), kErrorDirNotEmpty);
  EXPECT_TRUE(RemoveDirectory(dir_.File("full/inner")));
  EXPECT_TRUE(RemoveDirectory(dir_.File("full")));
  EXPECT_FALSE(DirectoryExists(dir_.File("full")));
  EXPECT_FALSE(RemoveDirectory(dir_.File("full")));
  EXPECT_EQ(GetLastError(), kErrorFileNotFound);
}

TEST_F(FilesAndFoldersTest, FileSizeCountsBytesAndFailsForMissingFiles) {
  WriteFile(dir_.File("f"), std::string(12345, 'z'));
  EXPECT_EQ(FileSize(dir_.File("f")), 12345);
  EXPECT_EQ(FileSize(dir_.File("g")), -1);
  EXPECT_EQ(GetLastError(), kErrorFileNotFound);
}

TEST_F(FilesAndFoldersTest, AtomicWriteReplacesContentsAndKeepsMode) {
  WriteFile(dir_.File("settings"), "old old old");
  ::chmod(dir_.File("settings").c_str(), 0640);
  ASSERT_TRUE(WriteFileAtomically(dir_.File("settings"), std::string("new\0bytes", 9)));
  EXPECT_EQ(ReadFile(dir_.File("settings")), std::string("new\0bytes", 9));
  EXPECT_EQ(ModeOf(dir_.File("settings")), 0640u);
  EXPECT_EQ(FolderEntries(dir_.Path()), (std::set<std::string>{"settings"}));
}

TEST_F(FilesAndFoldersTest, AtomicWriteLeavesReadOnlyFileAlone) {
  WriteFile(dir_.File("locked"), "protected");
  ::chmod(dir_.File("locked").c_str(), 0444);
  EXPECT_FALSE(WriteFileAtomically(dir_.File("locked"), "overwritten"));
  EXPECT_EQ(GetLastError(), kErrorAccessDenied);
  EXPECT_EQ(ReadFile(dir_.File("locked")), "protected");
  EXPECT_EQ(FolderEntries(dir_.Path()), (std::set<std::string>{"locked"}));
}

TEST_F(FilesAndFoldersTest, AtomicWriteThroughLinkUpdatesTheLinkedFile) {
  WriteFile(dir_.File("real"), "before");
  ASSERT_EQ(::symlink("real", dir_.File("link").c_str()), 0);
  ASSERT_TRUE(WriteFileAtomically(dir_.File("link"), "after"));
  struct stat st {};
  ASSERT_EQ(::lstat(dir_.File("link").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(ReadFile(dir_.File("real")), "after");
}

TEST_F(FilesAndFoldersTest, AtomicWriteIntoMissingFolderFails) {
  EXPECT_FALSE(WriteFileAtomically(dir_.File("nope/file"), "x"));
  EXPECT_EQ(GetLastError(), kErrorFileNotFound);
  std::string data = "unchanged";
  EXPECT_FALSE(ReadWholeFile(dir_.File("nope/file"), data));
  EXPECT_EQ(data, "unchanged");
}

class FileTimesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* tz = std::getenv("TZ");
    hadTz_ = tz != nullptr;
    if (tz) oldTz_ = tz;
    // Central European rules, spelled out so no zone database is needed.
    ::setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
    ::tzset();
    WriteFile(dir_.File("f"), "x");
  }
  void TearDown() override {
    if (hadTz_) {
      ::setenv("TZ", oldTz_.c_str(), 1);
    } else {
      ::unsetenv("TZ");
    }
    ::tzset();
  }

  static rtl::DateTime At(int y, int mo, int d, int h, int mi, int s, int ms = 0) {
    return rtl::EncodeDate(y, mo, d) + rtl::EncodeTime(h, mi, s, ms);
  }

  TempDir dir_;
  bool hadTz_ = false;
  std::string oldTz_;
};

TEST_F(FileTimesTest, FileTimeEpochsMatchTheFileSystemCount) {
  EXPECT_EQ(UtcDateTimeToFileTime(rtl::kUnixDateDelta), kFileTimeUnixEpoch);
  EXPECT_EQ(UtcDateTimeToFileTime(At(2000, 1, 1, 0, 0, 0)), 125911584000000000ULL);
  EXPECT_EQ(UtcDateTimeToFileTime(At(1601, 1, 1, 0, 0, 0)), 0ULL);
  EXPECT_DOUBLE_EQ(FileTimeToUtcDateTime(125911584000000000ULL + 15000000ULL),
                   At(2000, 1, 1, 0, 0, 1, 500));
  auto clock = std::chrono::system_clock::time_point(std::chrono::seconds(86400));
  EXPECT_EQ(SystemClockToFileTime(clock), kFileTimeUnixEpoch + 864000000000ULL);
  EXPECT_EQ(FileTimeToSystemClock(kFileTimeUnixEpoch + 864000000000ULL), clock);
}

TEST_F(FileTimesTest, LocalTimesFollowSummerAndWinterOffsets) {
  EXPECT_EQ(LocalDateTimeToFileTime(At(2021, 7, 1, 12, 0, 0)), UtcDateTimeToFileTime(At(2021, 7, 1, 10, 0, 0)));
  EXPECT_EQ(LocalDateTimeToFileTime(At(2021, 1, 1, 12, 0, 0, 250)),
            UtcDateTimeToFileTime(At(2021, 1, 1, 11, 0, 0, 250)));
  EXPECT_DOUBLE_EQ(FileTimeToLocalDateTime(UtcDateTimeToFileTime(At(2021, 7, 1, 10, 0, 0))),
                   At(2021, 7, 1, 12, 0, 0));
}

TEST_F(FileTimesTest, SkippedLocalTimeTakesTheOffsetBeforeTheChange) {
  // 02:30 does not exist on 2021-03-28 in this zone; winter time gives 01:30 UTC.
  EXPECT_EQ(LocalDateTimeToFileTime(At(2021, 3, 28, 2, 30, 0)),
            UtcDateTimeToFileTime(At(2021, 3, 28, 1, 30, 0)));
}

TEST_F(FileTimesTest, SetsAccessAndWriteTimesIndependently) {
  FileTime access = UtcDateTimeToFileTime(At(2010, 5, 6, 7, 8, 9)) + 1234567;
  FileTime write = UtcDateTimeToFileTime(At(2011, 6, 7, 8, 9, 10)) + 7654321;
  ASSERT_TRUE(SetFileTimes(dir_.File("f"), nullptr, &access, &write));
  FileTime readAccess = 0;
  FileTime readWrite = 0;
  ASSERT_TRUE(GetFileTimes(dir_.File("f"), nullptr, &readAccess, &readWrite));
  EXPECT_EQ(readAccess, access);
  EXPECT_EQ(readWrite, write);

  FileTime later = write + 10000000;
  ASSERT_TRUE(SetFileTimes(dir_.File("f"), &later, nullptr, &later));
  ASSERT_TRUE(GetFileTimes(dir_.File("f"), nullptr, &readAccess, &readWrite));
  EXPECT_EQ(readAccess, access);
  EXPECT_EQ(readWrite, later);
}

TEST_F(FileTimesTest, LocalDateTimeStampLandsOnTheMatchingInstant) {
  ASSERT_TRUE(SetFileDateTime(dir_.File("f"), At(2022, 8, 15, 14, 30, 5)));
  std::tm fields{};
  fields.tm_year = 2022 - 1900;
  fields.tm_mon = 7;
  fields.tm_mday = 15;
  fields.tm_hour = 14;
  fields.tm_min = 30;
  fields.tm_sec = 5;
  fields.tm_isdst = -1;
  struct stat st {};
  ASSERT_EQ(::stat(dir_.File("f").c_str(), &st), 0);
  EXPECT_EQ(st.st_mtime, ::mktime(&fields));
  EXPECT_EQ(st.st_atime, ::mktime(&fields));
  rtl::DateTime back = 0;
  ASSERT_TRUE(GetFileDateTime(dir_.File("f"), back));
  EXPECT_DOUBLE_EQ(back, At(2022, 8, 15, 14, 30, 5));
}

TEST_F(FileTimesTest, MissingFileFails) {
  FileTime t = kFileTimeUnixEpoch;
  EXPECT_FALSE(SetFileTimes(dir_.File("none"), &t, &t, &t));
  EXPECT_EQ(GetLastError(), kErrorFileNotFound);
  EXPECT_FALSE(GetFileTimes(dir_.File("none"), &t, &t, &t));
  EXPECT_EQ(GetLastError(), kErrorFileNotFound);
}

TEST(PathNamesTest, SplitsFolderNameAndExtension) {
  EXPECT_EQ(ExtractFilePath("/app/bin/liveupdate1.exe"), "/app/bin/");
  EXPECT_EQ(ExtractFilePath("/tarvo.exe"), "/");
  EXPECT_EQ(ExtractFilePath("tarvo.exe"), "");
  EXPECT_EQ(ExtractFileDir("/app/bin/x"), "/app/bin");
  EXPECT_EQ(ExtractFileDir("/x"), "/");
  EXPECT_EQ(ExtractFileDir("x"), "");
  EXPECT_EQ(ExtractFileName("/app/bin/liveupdate1.exe"), "liveupdate1.exe");
  EXPECT_EQ(ExtractFileName("/app/bin/"), "");
  EXPECT_EQ(ExtractFileName("plain"), "plain");
  EXPECT_EQ(ExtractFileExt("/a/b.tar.gz"), ".gz");
  EXPECT_EQ(ExtractFileExt("/a.b/c"), "");
}

TEST(PathNamesTest, ChangesExtensionOfTheFileNamePartOnly) {
  EXPECT_EQ(ChangeFileExt("/a/b.tar.gz", ".zip"), "/a/b.tar.zip");
  EXPECT_EQ(ChangeFileExt("/a.b/c", ".txt"), "/a.b/c.txt");
  EXPECT_EQ(ChangeFileExt("/a/c.txt", ""), "/a/c");
  EXPECT_EQ(IncludeTrailingPathDelimiter("/a"), "/a/");
  EXPECT_EQ(IncludeTrailingPathDelimiter("/a/"), "/a/");
  EXPECT_EQ(IncludeTrailingPathDelimiter(""), "");
}

TEST(ProgramFolderTest, ExecutableFolderHoldsTheRunningProgram) {
  std::string folder = ExecutableFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ(folder.back(), '/');
  EXPECT_EQ(folder.front(), '/');
  EXPECT_TRUE(FileExists(ExecutablePath()));
  EXPECT_EQ(ExtractFilePath(ExecutablePath()), folder);
  EXPECT_EQ(ExtractFileName(ExecutablePath()), "platform_tests");
}

TEST(ProgramFolderTest, TempFolderFollowsTmpdir) {
  const char* old = std::getenv("TMPDIR");
  std::string saved = old ? old : "";
  ::setenv("TMPDIR", "/var/tmp", 1);
  EXPECT_EQ(TempFolder(), "/var/tmp/");
  ::unsetenv("TMPDIR");
  EXPECT_EQ(TempFolder(), "/tmp/");
  if (old) ::setenv("TMPDIR", saved.c_str(), 1);
}

}  // namespace

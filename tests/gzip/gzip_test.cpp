#include "gzip/clgzip.h"

#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <filesystem>
#include <string>
#include <vector>

#include "rtl/Exceptions.h"
#include "support/TempDir.h"

extern char** environ;

namespace {

using testing_support::FileExists;
using testing_support::RandomBytes;
using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

// Runs the gzip tool on a file (keeping it) and returns the compressed bytes.
std::string CompressWithTool(const std::string& path, const std::string& level = "-6") {
  std::vector<std::string> args = {"gzip", "-k", "-f", level, path};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawnp(&pid, "gzip", nullptr, nullptr, argv.data(), environ) != 0) {
    ADD_FAILURE() << "cannot start gzip";
    return {};
  }
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "gzip failed";
  return ReadFile(path + ".gz");
}

// Text-like data that compresses well, so the deflate stream has real codes.
std::string Compressible(size_t size, unsigned seed) {
  static const char* words[] = {"segment ", "resource ", "update ", "download ", "\n", "bytes ", "0123 "};
  std::string random = RandomBytes(size, seed);
  std::string result;
  for (size_t i = 0; result.size() < size; ++i) result += words[static_cast<unsigned char>(random[i % size]) % 7];
  result.resize(size);
  return result;
}

int OpenDescriptors() {
  int count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) ++count;
  return count;
}

std::string FailureOf(const TclGZip& gzip, const std::string& source, const std::string& dest) {
  try {
    gzip.Uncompress(source, dest);
  } catch (const rtl::Exception& e) {
    return e.Message();
  }
  return "(no error)";
}

class GZipDecoding : public ::testing::Test {
 protected:
  // Compresses Data with the gzip tool and returns the path of the .gz file.
  std::string Packed(const std::string& data, const std::string& level = "-6") {
    std::string plain = dir.File("plain" + std::to_string(++files_));
    WriteFile(plain, data);
    CompressWithTool(plain, level);
    return plain + ".gz";
  }
  TempDir dir;
  std::string out = dir.File("out");

 private:
  int files_ = 0;
};

TEST_F(GZipDecoding, ToolOutputDecodesByteExactWhateverTheBatchSize) {
  const std::string data = Compressible(200'000, 1) + RandomBytes(70'000, 2);
  const std::string packed = Packed(data);
  ASSERT_LT(ReadFile(packed).size(), data.size());
  for (std::int32_t batch : {1, 2, 7, 4096, 8192, 65536, 1 << 20}) {
    SCOPED_TRACE(batch);
    TclGZip(batch).Uncompress(packed, out);
    EXPECT_EQ(ReadFile(out), data);
  }
}

TEST_F(GZipDecoding, EveryCompressionLevelDecodes) {
  const std::string data = Compressible(50'000, 3);
  for (const char* level : {"-1", "-9"}) {
    SCOPED_TRACE(level);
    TclGZip(8192).Uncompress(Packed(data, level), out);
    EXPECT_EQ(ReadFile(out), data);
  }
}

TEST_F(GZipDecoding, IncompressibleDataDecodes) {
  const std::string data = RandomBytes(100'000, 4);
  TclGZip(3000).Uncompress(Packed(data), out);
  EXPECT_EQ(ReadFile(out), data);
}

TEST_F(GZipDecoding, ConcatenatedMembersDecodeToTheConcatenation) {
  const std::string a = Compressible(30'000, 5), b = RandomBytes(20'000, 6);
  const std::string joined = dir.File("joined.gz");
  WriteFile(joined, ReadFile(Packed(a)) + ReadFile(Packed(b)));
  TclGZip(1000).Uncompress(joined, out);
  EXPECT_EQ(ReadFile(out), a + b);
}

TEST_F(GZipDecoding, HeaderWithExtraFieldCommentAndChecksumDecodes) {
  const std::string data = Compressible(10'000, 7);
  std::string packed = ReadFile(Packed(data));
  // Rebuild the header: keep the tool's ten fixed bytes and its deflate data and
  // trailer, add an extra field, a comment and a header checksum.
  const bool hasName = (packed[3] & 0x08) != 0;
  size_t bodyStart = 10;
  std::string name;
  if (hasName) {
    size_t end = packed.find('\0', 10);
    name = packed.substr(10, end - 10 + 1);
    bodyStart = end + 1;
  }
  std::string header = packed.substr(0, 10);
  header[3] = static_cast<char>(0x02 | 0x04 | 0x10 | (hasName ? 0x08 : 0));
  header += std::string("\x05\x00", 2) + "ABCDE";
  header += name;
  header += std::string("a comment") + '\0';
  uLong crc = crc32(0, reinterpret_cast<const Bytef*>(header.data()), static_cast<uInt>(header.size()));
  header += static_cast<char>(crc & 0xFF);
  header += static_cast<char>((crc >> 8) & 0xFF);
  const std::string crafted = dir.File("crafted.gz");
  WriteFile(crafted, header + packed.substr(bodyStart));
  TclGZip(512).Uncompress(crafted, out);
  EXPECT_EQ(ReadFile(out), data);
}

TEST_F(GZipDecoding, NonGzipInputIsCopiedUnchanged) {
  for (const std::string& data : {std::string("plain text, not compressed\n"), RandomBytes(40'000, 8),
                                  std::string("\x1f", 1), std::string("\x1f\x8c rest", 7)}) {
    const std::string source = dir.File("plain.bin");
    WriteFile(source, data);
    TclGZip(333).Uncompress(source, out);
    EXPECT_EQ(ReadFile(out), data);
  }
}

TEST_F(GZipDecoding, EmptySourceGivesEmptyDestinationReplacingAnOldOne) {
  const std::string source = dir.File("empty");
  WriteFile(source, "");
  WriteFile(out, "old content that must go");
  TclGZip(8192).Uncompress(source, out);
  ASSERT_TRUE(FileExists(out));
  EXPECT_EQ(ReadFile(out), "");
}

TEST_F(GZipDecoding, ExistingDestinationIsReplaced) {
  WriteFile(out, std::string(100'000, 'x'));
  const std::string data = Compressible(1000, 9);
  TclGZip(8192).Uncompress(Packed(data), out);
  EXPECT_EQ(ReadFile(out), data);
}

TEST_F(GZipDecoding, NonPositiveBatchSizeStillDecodesEverything) {
  const std::string data = Compressible(20'000, 10);
  const std::string packed = Packed(data);
  for (std::int32_t batch : {0, -5}) {
    TclGZip gzip(batch);
    EXPECT_GT(gzip.BatchSize(), 0);
    gzip.Uncompress(packed, out);
    EXPECT_EQ(ReadFile(out), data);
  }
}

class GZipFailures : public GZipDecoding {
 protected:
  // Decodes Packed, expects "Uncompressing failure" and returns what was kept,
  // measured as the length of its agreement with Data.
  size_t DecodeExpectingFailure(const std::string& packed, const std::string& data, std::int32_t batch) {
    const std::string source = dir.File("damaged.gz");
    WriteFile(source, packed);
    EXPECT_EQ(FailureOf(TclGZip(batch), source, out), "Uncompressing failure");
    EXPECT_TRUE(FileExists(out));
    kept = ReadFile(out);
    size_t same = 0;
    while (same < kept.size() && same < data.size() && kept[same] == data[same]) ++same;
    return same;
  }
  // Damage that stops the reader cleanly leaves exactly a prefix of the data.
  void ExpectFailureKeepingPrefix(const std::string& packed, const std::string& data, std::int32_t batch) {
    size_t same = DecodeExpectingFailure(packed, data, batch);
    EXPECT_EQ(same, kept.size()) << "the kept bytes are not a prefix of the data";
    EXPECT_LE(kept.size(), data.size());
  }
  std::string kept;
};

TEST_F(GZipFailures, CorruptDeflateDataRaisesAndKeepsWhatWasWritten) {
  const std::string data = Compressible(1'000'000, 11);
  std::string packed = ReadFile(Packed(data));
  // Damage the last quarter of the deflate data: the blocks before it decode and
  // are written; what the damaged codes produced before the reader noticed may follow.
  const size_t at = packed.size() * 3 / 4;
  for (size_t i = at; i < at + 64; ++i) packed[i] = static_cast<char>(packed[i] ^ 0x5A);
  const size_t same = DecodeExpectingFailure(packed, data, 4096);
  EXPECT_GT(same, data.size() / 2);
  EXPECT_LT(same, data.size());
}

TEST_F(GZipFailures, InvalidBlockTypeRightAfterTheHeaderRaises) {
  const std::string data = Compressible(5000, 12);
  std::string packed = ReadFile(Packed(data));
  packed[packed.find('\0', 10) + 1] = static_cast<char>(0x07);  // final block of the reserved type 3
  ExpectFailureKeepingPrefix(packed, data, 8192);
  EXPECT_EQ(kept.size(), 0u);
}

TEST_F(GZipFailures, TrailerChecksumMismatchRaises) {
  const std::string data = Compressible(100'000, 13);
  std::string packed = ReadFile(Packed(data));
  packed[packed.size() - 8] = static_cast<char>(packed[packed.size() - 8] ^ 0x01);
  ExpectFailureKeepingPrefix(packed, data, 8192);
}

TEST_F(GZipFailures, TruncatedFileRaisesInsteadOfEndingShort) {
  const std::string data = Compressible(300'000, 14);
  const std::string packed = ReadFile(Packed(data));
  for (size_t cut : {packed.size() / 2, packed.size() - 4, size_t{12}}) {
    SCOPED_TRACE(cut);
    ExpectFailureKeepingPrefix(packed.substr(0, cut), data, 8192);
  }
}

TEST_F(GZipFailures, MissingSourceRaisesWithItsNameAndCreatesNoDestination) {
  const std::string missing = dir.File("no-such.gz");
  try {
    TclGZip(8192).Uncompress(missing, out);
    FAIL() << "no error";
  } catch (const rtl::Exception& e) {
    EXPECT_EQ(e.Message(), "Can't open: " + missing);
    EXPECT_EQ(dynamic_cast<const rtl::EStreamError*>(&e), nullptr) << "a general error, not a stream error";
  }
  EXPECT_FALSE(FileExists(out));
}

TEST_F(GZipFailures, MissingSourceLeavesAnExistingDestinationAlone) {
  WriteFile(out, "keep me");
  EXPECT_EQ(FailureOf(TclGZip(8192), dir.File("gone"), out), "Can't open: " + dir.File("gone"));
  EXPECT_EQ(ReadFile(out), "keep me");
}

TEST_F(GZipFailures, FolderAsSourceCannotBeOpened) {
  const std::string folder = dir.File("folder");
  std::filesystem::create_directory(folder);
  EXPECT_EQ(FailureOf(TclGZip(8192), folder, out), "Can't open: " + folder);
  EXPECT_FALSE(FileExists(out));
}

TEST_F(GZipFailures, UnreadableSourceCannotBeOpened) {
  if (geteuid() == 0) GTEST_SKIP() << "file permissions do not bind root";
  const std::string source = dir.File("locked.gz");
  WriteFile(source, "data");
  chmod(source.c_str(), 0);
  EXPECT_EQ(FailureOf(TclGZip(8192), source, out), "Can't open: " + source);
  EXPECT_FALSE(FileExists(out));
}

TEST_F(GZipFailures, UncreatableDestinationRaisesTheFileCreationErrorAndClosesTheReader) {
  const std::string packed = Packed(Compressible(1000, 15));
  const std::string dest = dir.File("missing-folder/out");
  const int before = OpenDescriptors();
  try {
    TclGZip(8192).Uncompress(packed, dest);
    FAIL() << "no error";
  } catch (const rtl::EFCreateError& e) {
    const std::string prefix = "Cannot create file \"" + dest + "\". ";
    EXPECT_EQ(e.Message().substr(0, prefix.size()), prefix);
    EXPECT_GT(e.Message().size(), prefix.size()) << "the system's reason follows";
  }
  EXPECT_EQ(OpenDescriptors(), before);
  EXPECT_FALSE(FileExists(dest));
}

TEST_F(GZipFailures, FailuresLeakNoDescriptors) {
  const std::string data = Compressible(100'000, 16);
  const std::string packed = ReadFile(Packed(data));
  const int before = OpenDescriptors();
  const std::string source = dir.File("cut.gz");
  WriteFile(source, packed.substr(0, packed.size() / 2));
  for (int i = 0; i < 20; ++i) {
    EXPECT_EQ(FailureOf(TclGZip(8192), source, out), "Uncompressing failure");
    EXPECT_EQ(FailureOf(TclGZip(8192), dir.File("none"), out), "Can't open: " + dir.File("none"));
  }
  EXPECT_EQ(OpenDescriptors(), before);
}

}  // namespace

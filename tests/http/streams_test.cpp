#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "http/clStreams.h"
#include "rtl/Exceptions.h"
#include "support/TempDir.h"

namespace {

std::unique_ptr<rtl::Stream> Mem(const std::string& s) {
  return std::make_unique<rtl::MemoryStream>(s);
}

// Counts its own destruction, to check that parts are freed last to first.
class TracedStream : public rtl::MemoryStream {
 public:
  TracedStream(std::string data, std::string& log, char tag)
      : MemoryStream(std::move(data)), log_(log), tag_(tag) {}
  ~TracedStream() override { log_ += tag_; }

 private:
  std::string& log_;
  char tag_;
};

class MultiStreamTest : public ::testing::Test {
 protected:
  void SetUp() override {
    EXPECT_EQ(multi.AddStream(Mem("abc")), 0);
    EXPECT_EQ(multi.AddStream(Mem("")), 1);
    EXPECT_EQ(multi.AddStream(Mem("12345")), 2);
  }
  TclMultiStream multi;
};

TEST_F(MultiStreamTest, ReadsPartsInOrderWhateverTheRequestSizes) {
  for (int chunk = 1; chunk <= 9; ++chunk) {
    multi.SetPosition(0);
    std::string all;
    char buffer[16];
    std::int64_t n;
    while ((n = multi.Read(buffer, chunk)) > 0) all.append(buffer, static_cast<size_t>(n));
    EXPECT_EQ(all, "abc12345") << "chunk " << chunk;
    EXPECT_EQ(multi.Position(), 8);
  }
  EXPECT_EQ(multi.Size(), 8);
}

TEST_F(MultiStreamTest, SeekFromBeginningThenReadGivesTheTail) {
  EXPECT_EQ(multi.Seek(4, rtl::SeekOrigin::Beginning), 4);
  char buffer[8] = {};
  EXPECT_EQ(multi.Read(buffer, 4), 4);
  EXPECT_EQ(std::string(buffer, 4), "2345");
  EXPECT_EQ(multi.Read(buffer, 4), 0);
}

TEST_F(MultiStreamTest, SeekFromEndCountsBackwardsAndClamps) {
  EXPECT_EQ(multi.Seek(0, rtl::SeekOrigin::End), 8);
  EXPECT_EQ(multi.Seek(3, rtl::SeekOrigin::End), 5);
  EXPECT_EQ(multi.Seek(-3, rtl::SeekOrigin::End), 8);
  EXPECT_EQ(multi.Seek(100, rtl::SeekOrigin::End), 0);
  EXPECT_EQ(multi.Seek(100, rtl::SeekOrigin::Beginning), 8);
  EXPECT_EQ(multi.Seek(-2, rtl::SeekOrigin::Current), 6);
  EXPECT_EQ(multi.Seek(-20, rtl::SeekOrigin::Current), 0);
}

TEST_F(MultiStreamTest, IsReadOnly) {
  EXPECT_EQ(multi.Write("zz", 2), 0);
  multi.SetSize(2);
  EXPECT_EQ(multi.Size(), 8);
  EXPECT_THROW(multi.WriteBuffer("zz", 2), rtl::EWriteError);
}

TEST(MultiStream, FreesPartsFromLastToFirst) {
  std::string log;
  {
    TclMultiStream multi;
    multi.AddStream(std::make_unique<TracedStream>("a", log, '1'));
    multi.AddStream(std::make_unique<TracedStream>("b", log, '2'));
    multi.AddStream(std::make_unique<TracedStream>("c", log, '3'));
  }
  EXPECT_EQ(log, "321");
}

TEST(MultiStream, ReadsAcrossAFilePart) {
  testing_support::TempDir dir;
  std::string data = testing_support::RandomBytes(100000, 4);
  testing_support::WriteFile(dir.File("f"), data);
  TclMultiStream multi;
  multi.AddStream(Mem("head"));
  multi.AddStream(std::make_unique<rtl::FileStream>(dir.File("f"), rtl::FileStream::fmOpenRead));
  multi.AddStream(Mem("tail"));
  EXPECT_EQ(multi.Size(), 100008);
  EXPECT_EQ(multi.ReadRemaining(), "head" + data + "tail");
}

TEST(NullStream, IsAlwaysEmpty) {
  TclNullStream null;
  char buffer[4];
  EXPECT_EQ(null.Read(buffer, 4), 0);
  EXPECT_EQ(null.Write("abcd", 4), 0);
  EXPECT_EQ(null.Seek(10, rtl::SeekOrigin::Beginning), 0);
  EXPECT_EQ(null.Seek(-5, rtl::SeekOrigin::End), 0);
  null.SetSize(100);
  EXPECT_EQ(null.Size(), 0);
  EXPECT_EQ(null.Position(), 0);
}

}  // namespace

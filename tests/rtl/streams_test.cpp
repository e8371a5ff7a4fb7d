#include <gtest/gtest.h>

#include "platform/LastError.h"
#include "rtl/Exceptions.h"
#include "rtl/Streams.h"
#include "support/TempDir.h"

using rtl::SeekOrigin;

namespace {

TEST(MemoryStream, ReadsWritesAndSeeksFromEveryOrigin) {
  rtl::MemoryStream s;
  s.WriteString("hello world");
  EXPECT_EQ(s.Size(), 11);
  EXPECT_EQ(s.Seek(-5, SeekOrigin::End), 6);
  EXPECT_EQ(s.ReadRemaining(), "world");
  s.SetPosition(0);
  EXPECT_EQ(s.Seek(6, SeekOrigin::Current), 6);
  s.WriteString("WORLD!");
  EXPECT_EQ(s.Data(), "hello WORLD!");
  char c;
  EXPECT_EQ(s.Read(&c, 1), 0) << "reading at the end gives nothing";
}

TEST(MemoryStream, WritingPastTheEndFillsTheGapWithZeros) {
  rtl::MemoryStream s;
  s.SetPosition(4);
  s.WriteString("x");
  EXPECT_EQ(s.Data(), std::string("\0\0\0\0x", 5));
}

TEST(MemoryStream, SetSizeTruncatesAndClampsThePosition) {
  rtl::MemoryStream s("abcdef");
  s.SetPosition(6);
  s.SetSize(3);
  EXPECT_EQ(s.Data(), "abc");
  EXPECT_EQ(s.Position(), 3);
}

TEST(MemoryStream, ReadBufferRaisesWhenShort) {
  rtl::MemoryStream s("ab");
  char buffer[4];
  EXPECT_THROW(s.ReadBuffer(buffer, 4), rtl::EReadError);
}

TEST(MemoryStream, CopyFromWithZeroCopiesTheWholeSource) {
  rtl::MemoryStream source("0123456789"), dest;
  source.SetPosition(5);
  EXPECT_EQ(dest.CopyFrom(source, 0), 10);
  EXPECT_EQ(dest.Data(), "0123456789");
  source.SetPosition(2);
  rtl::MemoryStream part;
  part.CopyFrom(source, 3);
  EXPECT_EQ(part.Data(), "234");
}

TEST(FileStream, CreatesWritesAtPositionsAndReadsBack) {
  testing_support::TempDir dir;
  std::string name = dir.File("f.bin");
  {
    rtl::FileStream f(name, rtl::FileStream::fmCreate);
    f.SetSize(10);
    f.Seek(6, SeekOrigin::Beginning);
    f.WriteString("WXYZ");
    f.Seek(0, SeekOrigin::Beginning);
    f.WriteString("ab");
    EXPECT_EQ(f.Size(), 10);
  }
  EXPECT_EQ(testing_support::ReadFile(name), std::string("ab\0\0\0\0WXYZ", 10));
  rtl::FileStream r(name, rtl::FileStream::fmOpenRead);
  r.Seek(-4, SeekOrigin::End);
  EXPECT_EQ(r.ReadRemaining(), "WXYZ");
}

TEST(FileStream, FailuresNameTheFileAndTheReason) {
  testing_support::TempDir dir;
  try {
    rtl::FileStream f(dir.File("missing"), rtl::FileStream::fmOpenRead);
    FAIL();
  } catch (const rtl::EFOpenError& e) {
    EXPECT_EQ(e.Message(), "Cannot open file \"" + dir.File("missing") +
                               "\". The system cannot find the file specified");
  }
  try {
    rtl::FileStream f(dir.File("no/such/folder/x"), rtl::FileStream::fmCreate);
    FAIL();
  } catch (const rtl::EFCreateError& e) {
    EXPECT_EQ(e.Message().rfind("Cannot create file \"", 0), 0u);
  }
}

// A seek before the first byte fails and leaves the position where it was, in a
// memory stream as in a file stream; a read afterwards stays inside the data.
struct NegativeSeek {
  const char* name;
  std::int64_t start;
  std::int64_t offset;
  SeekOrigin origin;
};

class SeekBeforeTheStart : public ::testing::TestWithParam<NegativeSeek> {};

TEST_P(SeekBeforeTheStart, FailsKeepsThePositionAndReadsStayInBounds) {
  const NegativeSeek& c = GetParam();
  testing_support::TempDir dir;
  rtl::FileStream file(dir.File("f"), rtl::FileStream::fmCreate);
  rtl::MemoryStream memory;
  for (rtl::Stream* s : {static_cast<rtl::Stream*>(&file), static_cast<rtl::Stream*>(&memory)}) {
    SCOPED_TRACE(s == &file ? "file stream" : "memory stream");
    s->WriteString("0123456789");
    s->SetPosition(c.start);
    platform::SetLastError(0);
    EXPECT_EQ(s->Seek(c.offset, c.origin), -1);
    EXPECT_EQ(platform::GetLastError(), 87u);
    EXPECT_EQ(s->Position(), c.start);
    char buffer[4] = {};
    EXPECT_EQ(s->Read(buffer, sizeof(buffer)), 4);
    EXPECT_EQ(std::string(buffer, 4),
              std::string("0123456789").substr(static_cast<size_t>(c.start), 4));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Streams, SeekBeforeTheStart,
    ::testing::Values(NegativeSeek{"FromTheBeginning", 2, -1, SeekOrigin::Beginning},
                      NegativeSeek{"FromTheCurrentPosition", 3, -4, SeekOrigin::Current},
                      NegativeSeek{"FromTheEnd", 5, -11, SeekOrigin::End},
                      NegativeSeek{"FarBefore", 1, -(std::int64_t{1} << 40), SeekOrigin::Current}),
    [](const ::testing::TestParamInfo<NegativeSeek>& info) { return info.param.name; });

TEST(MemoryStream, ReadAfterAFailedSeekNeverLeavesTheData) {
  rtl::MemoryStream s("abc");
  s.Seek(-100, SeekOrigin::End);
  std::string buffer(8, '#');
  EXPECT_EQ(s.Read(buffer.data(), 8), 3);
  EXPECT_EQ(buffer.substr(0, 3), "abc");
  EXPECT_EQ(s.Write("x", 1), 1);
  EXPECT_EQ(s.Data(), "abcx");
}

}  // namespace

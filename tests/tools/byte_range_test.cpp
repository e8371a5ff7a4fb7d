#include "ByteRange.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using serve::ByteRange;
using Kind = serve::ByteRange::Kind;

struct RangeCase {
  std::string header;
  std::uint64_t size;
  Kind kind;
  std::uint64_t first;
  std::uint64_t last;
};

TEST(ParseByteRangeTest, AnswersOneRangeWithinTheFile) {
  const RangeCase cases[] = {
      {"bytes=0-0", 100, Kind::kPart, 0, 0},
      {"bytes=10-19", 100, Kind::kPart, 10, 19},
      {"bytes=90-", 100, Kind::kPart, 90, 99},
      {"bytes=90-1000", 100, Kind::kPart, 90, 99},
      {"bytes=-5", 100, Kind::kPart, 95, 99},
      {"bytes=-500", 100, Kind::kPart, 0, 99},
      {"Bytes= 1-2 ", 100, Kind::kPart, 1, 2},
      {"bytes=5000000000-5000000009", 6000000000, Kind::kPart, 5000000000, 5000000009},
      {"bytes=100-", 100, Kind::kUnsatisfiable, 0, 0},
      {"bytes=100-200", 100, Kind::kUnsatisfiable, 0, 0},
      {"bytes=-0", 100, Kind::kUnsatisfiable, 0, 0},
      {"bytes=0-", 0, Kind::kUnsatisfiable, 0, 0},
  };
  for (const RangeCase& c : cases) {
    ByteRange range = serve::ParseByteRange(c.header, c.size);
    EXPECT_EQ(range.kind, c.kind) << c.header;
    if (c.kind == Kind::kPart) {
      EXPECT_EQ(range.first, c.first) << c.header;
      EXPECT_EQ(range.last, c.last) << c.header;
    }
  }
}

TEST(ParseByteRangeTest, OtherValuesGetTheWholeFile) {
  const std::string headers[] = {"",
                                 "bytes=",
                                 "bytes=-",
                                 "bytes=5",
                                 "items=0-1",
                                 "bytes=2-1",
                                 "bytes=a-b",
                                 "bytes=0-1,5-6",
                                 "bytes=+1-2",
                                 "bytes=1-2x",
                                 "bytes=99999999999999999999-"};
  for (const std::string& header : headers) {
    EXPECT_EQ(serve::ParseByteRange(header, 100).kind, Kind::kWhole) << header;
  }
}

TEST(HttpDateTest, FormatsUtcInTheFixedLayout) {
  EXPECT_EQ(serve::HttpDate(0), "Thu, 01 Jan 1970 00:00:00 GMT");
  EXPECT_EQ(serve::HttpDate(1445412480), "Wed, 21 Oct 2015 07:28:00 GMT");
  EXPECT_EQ(serve::HttpDate(784111777), "Sun, 06 Nov 1994 08:49:37 GMT");
}

TEST(AcceptsGzipTest, NamedWithoutAZeroWeight) {
  EXPECT_TRUE(serve::AcceptsGzip("gzip"));
  EXPECT_TRUE(serve::AcceptsGzip("gzip, deflate"));
  EXPECT_TRUE(serve::AcceptsGzip("deflate, GZIP;q=0.5"));
  EXPECT_TRUE(serve::AcceptsGzip("x-gzip"));
  EXPECT_FALSE(serve::AcceptsGzip(""));
  EXPECT_FALSE(serve::AcceptsGzip("deflate, br"));
  EXPECT_FALSE(serve::AcceptsGzip("gzip;q=0"));
  EXPECT_FALSE(serve::AcceptsGzip("gzip; q=0.000"));
  EXPECT_FALSE(serve::AcceptsGzip("gzipx"));
}

}  // namespace

#include <gtest/gtest.h>

#include <cmath>

#include "rtl/DateTime.h"
#include "url/ResourceInfo.h"

namespace {

class ResourceInfoTest : public ::testing::Test {
 protected:
  // A record with every field set to a non-default value.
  static void Fill(TclResourceInfo& info) {
    info.SetSize(5000000000LL);
    info.SetName("/dl/a b.zip");
    info.SetDate(rtl::EncodeDate(2021, 3, 4) + rtl::EncodeTime(5, 6, 7, 0));
    info.SetContentType("application/zip");
    info.SetStatusCode(200);
    info.SetAllowsRandomAccess(true);
    info.SetContentDisposition("attachment; filename=x.zip");
    info.SetCompressed(true);
  }
};

TEST_F(ResourceInfoTest, StartsEmptyWithTheCurrentLocalTime) {
  rtl::DateTime before = rtl::Now();
  TclResourceInfo info;
  rtl::DateTime after = rtl::Now();
  EXPECT_EQ(info.Size(), 0);
  EXPECT_EQ(info.Name(), "");
  EXPECT_EQ(info.ContentType(), "");
  EXPECT_EQ(info.StatusCode(), 0);
  EXPECT_FALSE(info.AllowsRandomAccess());
  EXPECT_EQ(info.ContentDisposition(), "");
  EXPECT_FALSE(info.Compressed());
  EXPECT_GE(info.Date(), before);
  EXPECT_LE(info.Date(), after);
}

TEST_F(ResourceInfoTest, RandomAccessReadsFalseWhileSizeIsUnknown) {
  TclResourceInfo info;
  info.SetAllowsRandomAccess(true);
  EXPECT_FALSE(info.AllowsRandomAccess());
  info.SetSize(10);
  EXPECT_TRUE(info.AllowsRandomAccess());
  info.SetSize(-1);
  EXPECT_FALSE(info.AllowsRandomAccess());
}

TEST_F(ResourceInfoTest, AssignCopiesRandomAccessAsReadNotAsStored) {
  TclResourceInfo source;
  source.SetAllowsRandomAccess(true);  // size 0: reads as false
  TclResourceInfo copy;
  copy.Assign(&source);
  copy.SetSize(100);
  EXPECT_FALSE(copy.AllowsRandomAccess());
}

TEST_F(ResourceInfoTest, AssignCopiesEveryField) {
  TclResourceInfo source;
  Fill(source);
  TclResourceInfo copy;
  copy.Assign(&source);
  EXPECT_EQ(copy.Size(), 5000000000LL);
  EXPECT_EQ(copy.Name(), "/dl/a b.zip");
  EXPECT_DOUBLE_EQ(copy.Date(), source.Date());
  EXPECT_EQ(copy.ContentType(), "application/zip");
  EXPECT_EQ(copy.StatusCode(), 200);
  EXPECT_TRUE(copy.AllowsRandomAccess());
  EXPECT_EQ(copy.ContentDisposition(), "attachment; filename=x.zip");
  EXPECT_TRUE(copy.Compressed());
}

TEST_F(ResourceInfoTest, AssignNullResetsEveryFieldAndDateToZero) {
  TclResourceInfo info;
  Fill(info);
  info.Assign(nullptr);
  EXPECT_EQ(info.Size(), 0);
  EXPECT_EQ(info.Name(), "");
  EXPECT_EQ(info.Date(), 0.0);
  EXPECT_EQ(info.ContentType(), "");
  EXPECT_EQ(info.StatusCode(), 0);
  EXPECT_EQ(info.ContentDisposition(), "");
  EXPECT_FALSE(info.Compressed());
  // The stored flag is cleared too, not just hidden by the size.
  info.SetSize(1);
  EXPECT_FALSE(info.AllowsRandomAccess());
}

class HeaderParamValueTest : public ::testing::Test {};

TEST_F(HeaderParamValueTest, QuotedValueKeepsItsSemicolon) {
  EXPECT_EQ(GetHeaderParamValue("attachment; filename=\"a;b.zip\"; size=10", "filename="),
            "a;b.zip");
}

TEST_F(HeaderParamValueTest, UnquotedValueRunsToTheFirstSemicolon) {
  EXPECT_EQ(GetHeaderParamValue("attachment; filename=c.zip", "filename="), "c.zip");
  EXPECT_EQ(GetHeaderParamValue("attachment; filename=c.zip; size=10", "filename="), "c.zip");
}

TEST_F(HeaderParamValueTest, NameIsFoundInAnyCaseButValueKeepsItsCase) {
  EXPECT_EQ(GetHeaderParamValue("Attachment; FileName=Report.PDF", "filename="), "Report.PDF");
}

TEST_F(HeaderParamValueTest, UpperCaseParamNameIsNeverFound) {
  EXPECT_EQ(GetHeaderParamValue("attachment; FILENAME=x.zip", "FILENAME="), "");
}

TEST_F(HeaderParamValueTest, MissingParamGivesEmptyText) {
  EXPECT_EQ(GetHeaderParamValue("inline", "filename="), "");
  EXPECT_EQ(GetHeaderParamValue("", "filename="), "");
}

TEST_F(HeaderParamValueTest, MixedQuotesAtBothEndsAreBothRemoved) {
  EXPECT_EQ(GetHeaderParamValue("attachment; filename=\"a.zip'", "filename="), "a.zip");
}

TEST_F(HeaderParamValueTest, BlanksAndControlCharactersAroundTheValueAreTrimmed) {
  EXPECT_EQ(GetHeaderParamValue("attachment; filename=  \t\"x y.zip\" \r\n; a=1", "filename="),
            "x y.zip");
}

TEST_F(HeaderParamValueTest, EmptyParamNameTakesValueFromTheStart) {
  EXPECT_EQ(GetHeaderParamValue("  value ; rest", ""), "value");
  EXPECT_EQ(GetHeaderParamValue("", ""), "");
}

TEST_F(HeaderParamValueTest, OnlyTheOtherQuoteCharacterDoesNotCloseAQuote) {
  // The single quote inside a double-quoted value does not end the quotation.
  EXPECT_EQ(GetHeaderParamValue("filename=\"it's;ok.txt\";x=1", "filename="), "it's;ok.txt");
}

TEST_F(HeaderParamValueTest, UnterminatedQuoteRunsToTheEnd) {
  EXPECT_EQ(GetHeaderParamValue("filename=\"a;b", "filename="), "\"a;b");
}

TEST_F(HeaderParamValueTest, LooksAtMostAThousandCharacters) {
  std::string longName(1500, 'n');
  EXPECT_EQ(GetHeaderParamValue("filename=" + longName, "filename="), std::string(1000, 'n'));
}

TEST_F(HeaderParamValueTest, LoneQuoteGivesEmptyValue) {
  EXPECT_EQ(GetHeaderParamValue("filename=\"", "filename="), "");
}

}  // namespace

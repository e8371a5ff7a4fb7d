#include <gtest/gtest.h>

#include <cstdlib>

#include "rtl/DateTime.h"
#include "rtl/Exceptions.h"

namespace {

TEST(DateTime, DaysCountFromTheEndOf1899) {
  EXPECT_DOUBLE_EQ(rtl::EncodeDate(1899, 12, 30), 0.0);
  EXPECT_DOUBLE_EQ(rtl::EncodeDate(1970, 1, 1), 25569.0);
  EXPECT_DOUBLE_EQ(rtl::EncodeDate(2000, 3, 1), 36586.0);
  EXPECT_DOUBLE_EQ(rtl::EncodeTime(12, 0, 0, 0), 0.5);
}

TEST(DateTime, ImpossibleDatesAreRefused) {
  EXPECT_THROW(rtl::EncodeDate(2023, 2, 29), rtl::EConvertError);
  EXPECT_NO_THROW(rtl::EncodeDate(2024, 2, 29));
  EXPECT_THROW(rtl::EncodeTime(24, 0, 0, 0), rtl::EConvertError);
}

TEST(DateTime, SystemTimeRoundTripsToTheMillisecond) {
  rtl::SystemTime st;
  st.wYear = 2026;
  st.wMonth = 12;
  st.wDay = 8;
  st.wHour = 23;
  st.wMinute = 59;
  st.wSecond = 58;
  st.wMilliseconds = 999;
  rtl::SystemTime back = rtl::DateTimeToSystemTime(rtl::SystemTimeToDateTime(st));
  EXPECT_EQ(back.wYear, 2026);
  EXPECT_EQ(back.wMonth, 12);
  EXPECT_EQ(back.wDay, 8);
  EXPECT_EQ(back.wHour, 23);
  EXPECT_EQ(back.wMinute, 59);
  EXPECT_EQ(back.wSecond, 58);
  EXPECT_EQ(back.wMilliseconds, 999);
  EXPECT_EQ(back.wDayOfWeek, 2);  // a Tuesday
}

TEST(DateTime, UnixSecondsConvertBothWays) {
  EXPECT_EQ(rtl::DateTimeToUnix(rtl::UnixToDateTime(1700000000)), 1700000000);
  EXPECT_EQ(rtl::DateTimeToUnix(rtl::EncodeDate(1970, 1, 2)), 86400);
}

class DateTimeZone : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* tz = std::getenv("TZ");
    saved_ = tz ? tz : "";
    had_ = tz != nullptr;
    setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
    tzset();
  }
  void TearDown() override {
    if (had_) {
      setenv("TZ", saved_.c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }
  std::string saved_;
  bool had_ = false;
};

TEST_F(DateTimeZone, LocalShiftFollowsTheRulesInForceAtThatMoment) {
  rtl::DateTime winter = rtl::EncodeDate(2026, 1, 15) + rtl::EncodeTime(12, 0, 0, 0);
  rtl::DateTime summer = rtl::EncodeDate(2026, 7, 15) + rtl::EncodeTime(12, 0, 0, 0);
  EXPECT_NEAR(rtl::UTCToLocal(winter) - winter, 1.0 / 24, 1e-9);
  EXPECT_NEAR(rtl::UTCToLocal(summer) - summer, 2.0 / 24, 1e-9);
  EXPECT_NEAR(rtl::LocalToUTC(rtl::UTCToLocal(summer)), summer, 1e-9);
}

}  // namespace

// The date-time type: days since 1899-12-30 as a double, the fraction being the
// time of day, normally in local time. Conversions to and from the system time
// record (UTC or local fields), Unix time and local/UTC shifts.
#pragma once

#include <cstdint>
#include <ctime>

namespace rtl {

using DateTime = double;

// The broken-down time record of the internet library and the file system.
struct SystemTime {
  std::uint16_t wYear = 0;
  std::uint16_t wMonth = 0;
  std::uint16_t wDayOfWeek = 0;  // 0 = Sunday
  std::uint16_t wDay = 0;
  std::uint16_t wHour = 0;
  std::uint16_t wMinute = 0;
  std::uint16_t wSecond = 0;
  std::uint16_t wMilliseconds = 0;
};

inline constexpr double kMSecsPerDay = 86400000.0;
// Days between 1899-12-30 and 1970-01-01.
inline constexpr double kUnixDateDelta = 25569.0;

// Raises EConvertError for impossible dates and times.
DateTime EncodeDate(int year, int month, int day);
DateTime EncodeTime(int hour, int minute, int second, int millisecond);
bool TryEncodeDate(int year, int month, int day, DateTime& result);
void DecodeDate(DateTime value, int& year, int& month, int& day);
void DecodeTime(DateTime value, int& hour, int& minute, int& second, int& millisecond);
int DayOfWeek(DateTime value);  // 1 = Sunday ... 7 = Saturday

DateTime SystemTimeToDateTime(const SystemTime& st);
SystemTime DateTimeToSystemTime(DateTime value);

// Unix seconds (UTC) <-> a DateTime in UTC fields.
DateTime UnixToDateTime(std::int64_t seconds);
std::int64_t DateTimeToUnix(DateTime value);

// Shifts between UTC fields and local-time fields, using the time zone rules in
// force at that moment.
DateTime UTCToLocal(DateTime utc);
DateTime LocalToUTC(DateTime local);

DateTime Now();     // local time
DateTime NowUTC();

}  // namespace rtl

#include "rtl/DateTime.h"

#include <chrono>
#include <cmath>

#include "rtl/Exceptions.h"

namespace rtl {

namespace {
bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
  static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : days[month - 1];
}

// Days from 0001-01-01 to the given date (civil calendar, proleptic Gregorian).
std::int64_t DaysFromCivil(int y, int m, int d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + static_cast<unsigned>(d) - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;  // days since 1970-01-01
}

void CivilFromDays(std::int64_t z, int& y, int& m, int& d) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = static_cast<int>(static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2));
}

// Milliseconds since 1899-12-30 for a DateTime, rounded to the nearest.
std::int64_t ToMilliseconds(DateTime value) {
  return static_cast<std::int64_t>(std::llround(value * kMSecsPerDay));
}
}  // namespace

bool TryEncodeDate(int year, int month, int day, DateTime& result) {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month)) {
    return false;
  }
  result = static_cast<double>(DaysFromCivil(year, month, day)) + kUnixDateDelta;
  return true;
}

DateTime EncodeDate(int year, int month, int day) {
  DateTime result = 0;
  if (!TryEncodeDate(year, month, day, result)) throw EConvertError("Invalid argument to date encode");
  return result;
}

DateTime EncodeTime(int hour, int minute, int second, int millisecond) {
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 ||
      millisecond < 0 || millisecond > 999) {
    throw EConvertError("Invalid argument to time encode");
  }
  return (((hour * 60.0 + minute) * 60.0 + second) * 1000.0 + millisecond) / kMSecsPerDay;
}

void DecodeDate(DateTime value, int& year, int& month, int& day) {
  std::int64_t ms = ToMilliseconds(value);
  std::int64_t days = ms / 86400000;
  if (ms < 0 && ms % 86400000 != 0) --days;
  CivilFromDays(days - static_cast<std::int64_t>(kUnixDateDelta), year, month, day);
}

void DecodeTime(DateTime value, int& hour, int& minute, int& second, int& millisecond) {
  std::int64_t ms = ToMilliseconds(value) % 86400000;
  if (ms < 0) ms += 86400000;
  millisecond = static_cast<int>(ms % 1000);
  ms /= 1000;
  second = static_cast<int>(ms % 60);
  ms /= 60;
  minute = static_cast<int>(ms % 60);
  hour = static_cast<int>(ms / 60);
}

int DayOfWeek(DateTime value) {
  std::int64_t days = ToMilliseconds(value) / 86400000;
  // 1899-12-30 was a Saturday (7).
  return static_cast<int>(((days % 7) + 7 + 6) % 7) + 1;
}

DateTime SystemTimeToDateTime(const SystemTime& st) {
  return EncodeDate(st.wYear, st.wMonth, st.wDay) +
         EncodeTime(st.wHour, st.wMinute, st.wSecond, st.wMilliseconds);
}

SystemTime DateTimeToSystemTime(DateTime value) {
  SystemTime st;
  int y, mo, d, h, mi, s, ms;
  DecodeDate(value, y, mo, d);
  DecodeTime(value, h, mi, s, ms);
  st.wYear = static_cast<std::uint16_t>(y);
  st.wMonth = static_cast<std::uint16_t>(mo);
  st.wDay = static_cast<std::uint16_t>(d);
  st.wHour = static_cast<std::uint16_t>(h);
  st.wMinute = static_cast<std::uint16_t>(mi);
  st.wSecond = static_cast<std::uint16_t>(s);
  st.wMilliseconds = static_cast<std::uint16_t>(ms);
  st.wDayOfWeek = static_cast<std::uint16_t>(DayOfWeek(value) - 1);
  return st;
}

DateTime UnixToDateTime(std::int64_t seconds) {
  return static_cast<double>(seconds) / 86400.0 + kUnixDateDelta;
}

std::int64_t DateTimeToUnix(DateTime value) {
  std::int64_t ms = ToMilliseconds(value - kUnixDateDelta);
  return ms >= 0 ? ms / 1000 : -((-ms + 999) / 1000);
}

DateTime UTCToLocal(DateTime utc) {
  std::time_t t = static_cast<std::time_t>(DateTimeToUnix(utc));
  std::tm local{};
  localtime_r(&t, &local);
  return utc + static_cast<double>(local.tm_gmtoff) / 86400.0;
}

DateTime LocalToUTC(DateTime local) {
  int y, mo, d, h, mi, s, ms;
  DecodeDate(local, y, mo, d);
  DecodeTime(local, h, mi, s, ms);
  std::tm fields{};
  fields.tm_year = y - 1900;
  fields.tm_mon = mo - 1;
  fields.tm_mday = d;
  fields.tm_hour = h;
  fields.tm_min = mi;
  fields.tm_sec = s;
  fields.tm_isdst = -1;
  std::time_t t = mktime(&fields);
  return UnixToDateTime(static_cast<std::int64_t>(t)) + ms / kMSecsPerDay;
}

DateTime NowUTC() {
  auto now = std::chrono::system_clock::now().time_since_epoch();
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now).count();
  return static_cast<double>(ms) / kMSecsPerDay + kUnixDateDelta;
}

DateTime Now() { return UTCToLocal(NowUTC()); }

}  // namespace rtl

#include "workers/HttpQueries.h"

#include <algorithm>
#include <chrono>

#include "inet/clWinInet.h"
#include "platform/Files.h"
#include "platform/LastError.h"

namespace http_queries {

bool QueryNumber(HINTERNET request, DWORD level, DWORD& value) {
  DWORD length = sizeof value;
  return clWinInet::HttpQueryInfoA(request, level | HTTP_QUERY_FLAG_NUMBER, &value, &length,
                                   nullptr) != FALSE;
}

bool QueryNumber64(HINTERNET request, DWORD level, std::int64_t& value) {
  std::uint64_t number = 0;
  DWORD length = sizeof number;
  if (!clWinInet::HttpQueryInfoA(request, level | HTTP_QUERY_FLAG_NUMBER64, &number, &length,
                                 nullptr))
    return false;
  value = static_cast<std::int64_t>(number);
  return true;
}

bool QueryText(HINTERNET request, DWORD level, std::string& value) {
  char buffer[1024 + 1] = {};
  DWORD length = sizeof buffer - 1;
  if (!clWinInet::HttpQueryInfoA(request, level, buffer, &length, nullptr)) return false;
  value.assign(buffer, length < sizeof buffer ? length : sizeof buffer - 1);
  return true;
}

bool QueryLocalTime(HINTERNET request, DWORD level, rtl::DateTime& value) {
  SYSTEMTIME st{};
  DWORD length = sizeof st;
  if (!clWinInet::HttpQueryInfoA(request, level | HTTP_QUERY_FLAG_SYSTEMTIME, &st, &length,
                                 nullptr))
    return false;
  rtl::SystemTime utc{st.wYear, st.wMonth,  st.wDayOfWeek, st.wDay,
                      st.wHour, st.wMinute, st.wSecond,    st.wMilliseconds};
  try {
    value = rtl::UTCToLocal(rtl::SystemTimeToDateTime(utc));
  } catch (const rtl::Exception&) {
    return false;  // an impossible date in the header
  }
  return true;
}

bool QueryRetryAfterMs(HINTERNET request, std::int64_t& milliseconds) {
  DWORD seconds = 0;
  if (QueryNumber(request, HTTP_QUERY_RETRY_AFTER, seconds)) {
    milliseconds = static_cast<std::int64_t>(seconds) * 1000;
    return true;
  }
  SYSTEMTIME st{};
  DWORD length = sizeof st;
  if (!clWinInet::HttpQueryInfoA(request, HTTP_QUERY_RETRY_AFTER | HTTP_QUERY_FLAG_SYSTEMTIME, &st,
                                 &length, nullptr))
    return false;
  try {
    const rtl::DateTime when = rtl::SystemTimeToDateTime(rtl::SystemTime{
        st.wYear, st.wMonth, st.wDayOfWeek, st.wDay, st.wHour, st.wMinute, st.wSecond, 0});
    const auto at = platform::FileTimeToSystemClock(platform::UtcDateTimeToFileTime(when));
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        at - std::chrono::system_clock::now());
    milliseconds = std::max<std::int64_t>(0, left.count());
  } catch (const rtl::Exception&) {
    return false;
  }
  return true;
}

bool SeekToEnd(HINTERNET request, std::int64_t& length) {
  LONG high = 0;
  platform::SetLastError(0);
  const DWORD low = clWinInet::InternetSetFilePointer(request, 0, &high, FILE_END, 0);
  if (low == INVALID_SET_FILE_POINTER && platform::GetLastError() != 0) return false;
  length =
      static_cast<std::int64_t>((static_cast<std::uint64_t>(static_cast<DWORD>(high)) << 32) | low);
  return true;
}

}  // namespace http_queries

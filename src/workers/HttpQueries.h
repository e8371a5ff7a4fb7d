// Reading what a response said: numbers, texts and dates of a request handle,
// and the length found by positioning at the end. Each returns false (the
// thread's last error telling why) when the library cannot answer.
//
// Threads: call on the thread that owns the request (a worker), after its send.
#pragma once

#include <cstdint>
#include <string>

#include "platform/inet/InetClient.h"
#include "rtl/DateTime.h"

namespace http_queries {

bool QueryNumber(HINTERNET request, DWORD level, DWORD& value);
// Sizes are 64-bit: a resource over 4 GiB keeps its length.
bool QueryNumber64(HINTERNET request, DWORD level, std::int64_t& value);
// At most 1024 bytes of text.
bool QueryText(HINTERNET request, DWORD level, std::string& value);
// A date header (sent in UTC) as local date and time.
bool QueryLocalTime(HINTERNET request, DWORD level, rtl::DateTime& value);
// The pause a Retry-After header asks for, in milliseconds (seconds, or a date
// from now; a date in the past gives 0). False when there is none.
bool QueryRetryAfterMs(HINTERNET request, std::int64_t& milliseconds);
// Moves the read position to the end of the response; the position found is
// the length. Fails where the library cannot tell or cannot position there
// (length unknown, ranges not accepted, or a position that does not fit).
bool SeekToEnd(HINTERNET request, std::int64_t& length);

}  // namespace http_queries

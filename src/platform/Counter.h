// The high-resolution performance counter: a monotonic tick count and its
// frequency in ticks per second. Any thread.
#pragma once

#include <cstdint>

namespace platform {

bool QueryPerformanceCounter(std::int64_t& value);
bool QueryPerformanceFrequency(std::int64_t& value);

// Milliseconds since an arbitrary fixed point, monotonic (for time-outs).
std::uint64_t TickCount64();

}  // namespace platform

#include "platform/Counter.h"

#include <chrono>

namespace platform {

bool QueryPerformanceCounter(std::int64_t& value) {
  value = std::chrono::duration_cast<std::chrono::nanoseconds>(
              std::chrono::steady_clock::now().time_since_epoch())
              .count();
  return true;
}

bool QueryPerformanceFrequency(std::int64_t& value) {
  value = 1'000'000'000;
  return true;
}

std::uint64_t TickCount64() {
  return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                        std::chrono::steady_clock::now().time_since_epoch())
                                        .count());
}

}  // namespace platform

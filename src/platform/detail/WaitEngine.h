// The core of every wait: registers the calling thread on the objects, checks
// them under the wait lock and sleeps until one changes or the time runs out.
// Internal to the platform layer.
#pragma once

#include <functional>
#include <vector>

#include "platform/Waits.h"

namespace platform::detail {

class WaitEngine {
 public:
  // Objects may contain nulls only when the caller checked for them. Extra, when
  // given, is watched too: ExtraReady (called under the lock) tells whether it is
  // ready, and its readiness is reported as index objects.size().
  static DWORD Wait(const std::vector<WaitableObject*>& objects, bool waitAll, DWORD milliseconds,
                    WaitableObject* extra = nullptr, const std::function<bool()>& extraReady = {},
                    const std::function<std::chrono::steady_clock::time_point()>& extraDeadline = {});

  static void Notify(WaitableObject& object) { object.NotifyWaitersLocked(); }
};

}  // namespace platform::detail

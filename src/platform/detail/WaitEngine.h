// The core of every wait: registers the calling thread on the objects, checks
// them under their locks and sleeps until one changes or the time runs out.
// Internal to the platform layer.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <span>
#include <type_traits>
#include <utility>
#include <vector>

#include "platform/Waits.h"

namespace platform::detail {

using Clock = std::chrono::steady_clock;

// A callable borrowed for the length of one call, without the allocation a
// std::function may make.
template <typename Signature>
class FunctionRef;

template <typename R, typename... Args>
class FunctionRef<R(Args...)> {
 public:
  FunctionRef() = default;
  template <typename F, typename = std::enable_if_t<!std::is_same_v<std::decay_t<F>, FunctionRef>>>
  FunctionRef(F&& f)  // NOLINT: implicit, like a function pointer
      : object_(const_cast<void*>(static_cast<const void*>(&f))),
        call_([](void* o, Args... a) -> R {
          return (*static_cast<std::remove_reference_t<F>*>(o))(std::forward<Args>(a)...);
        }) {}
  explicit operator bool() const { return call_ != nullptr; }
  R operator()(Args... a) const { return call_(object_, std::forward<Args>(a)...); }

 private:
  void* object_ = nullptr;
  R (*call_)(void*, Args...) = nullptr;
};

// Where one thread sleeps: a word of its own that it sleeps on in the kernel.
// One per thread, never freed before the thread's storage goes, and registered
// on objects only while its thread is inside a wait; wakers mark it only under
// the lock of an object it is registered on.
struct Waiter {
  enum : std::uint32_t { kArmed = 0, kWoken = 1, kSleeping = 2 };
  std::atomic<std::uint32_t> state{kWoken};

  // Before every check: a change made after the check marks the waiter, so the
  // sleep that follows returns at once.
  void Arm() { state.store(kArmed, std::memory_order_relaxed); }
  // Sleeps unless marked since Arm, until marked or Deadline (max: none).
  // With Spin it first spins for a while, as long as recent wakes suggest,
  // before it sleeps in the kernel.
  void Sleep(Clock::time_point deadline, bool spin);
  // Marks the waiter; when it is asleep, its kernel wake is left for the
  // release of the lock the caller holds. That wake may come after the waiter
  // has left its wait, even after its thread ended: a kernel wake of a word
  // nobody sleeps on does nothing, and one that finds a later sleep on it is a
  // spurious wake, after which every wait looks again.
  void WakeLocked();

 private:
  // True when marked within the spin.
  bool SpinFor(Clock::time_point deadline);

  std::int64_t spinNs_ = 20'000;  // the waiter's own thread only; see Sleep
};

// Hands the kernel the wakes the calling thread deferred (ObjectLock::unlock).
void FlushDeferredWakes();

Waiter& CurrentWaiter();

// The objects behind a wait's handles, without a heap allocation for the
// common few.
class WaitObjects {
 public:
  // False, with the last error kErrorInvalidHandle, when a handle is empty.
  bool Take(std::span<const Handle> handles) {
    WaitableObject** out = inline_.data();
    if (handles.size() > inline_.size()) {
      heap_.resize(handles.size());
      out = heap_.data();
    }
    for (std::size_t i = 0; i < handles.size(); ++i) {
      if (!handles[i]) {
        SetLastError(kErrorInvalidHandle);
        return false;
      }
      out[i] = handles[i].get();
    }
    objects_ = {out, handles.size()};
    return true;
  }
  std::span<WaitableObject* const> Objects() const { return objects_; }

 private:
  std::array<WaitableObject*, 8> inline_{};
  std::vector<WaitableObject*> heap_;
  std::span<WaitableObject* const> objects_;
};

class WaitEngine {
 public:
  // Objects may contain nulls only when the caller checked for them. Extra, when
  // given, is watched too: ExtraReady (called under the locks) tells whether it
  // is ready, and its readiness is reported as index objects.size();
  // ExtraDeadline (under the locks) is a further time to wake and look again.
  static DWORD Wait(std::span<WaitableObject* const> objects, bool waitAll, DWORD milliseconds,
                    WaitableObject* extra = nullptr, FunctionRef<bool()> extraReady = {},
                    FunctionRef<Clock::time_point()> extraDeadline = {});
};

}  // namespace platform::detail

#include "platform/Waits.h"

#include <linux/futex.h>
#include <sched.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <ctime>
#include <functional>
#include <thread>

#include "platform/detail/WaitEngine.h"

namespace platform {

void ObjectLock::lock() {
  // A waker and a woken thread ask for the same object's lock within a few
  // hundred nanoseconds of each other: a short spin usually gets it without
  // sleeping in the kernel.
  for (int i = 0; i < 64; ++i) {
    if (mutex_.try_lock()) return;
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
  }
  mutex_.lock();
}

void ObjectLock::unlock() {
  mutex_.unlock();
  detail::FlushDeferredWakes();
}

namespace detail {

namespace {
// Trivially destructible, so it outlives every other thread-local object of its
// thread: waits made from their destructors still have it.
thread_local Waiter tWaiter;

long Futex(std::atomic<std::uint32_t>* word, int op, std::uint32_t value, const timespec* timeout) {
  return ::syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(word), op | FUTEX_PRIVATE_FLAG, value,
                   timeout, nullptr, FUTEX_BITSET_MATCH_ANY);
}
}  // namespace

Waiter& CurrentWaiter() { return tWaiter; }

namespace {
// A spin lasts at most about what a sleeping virtual processor takes to wake
// up; a sleep far longer than that means the partner had nothing to say.
constexpr std::int64_t kSpinFirstNs = 20'000;
constexpr std::int64_t kSpinMostNs = 50'000;
constexpr std::int64_t kIdleNs = 1'000'000;

void Relax() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#endif
}

void SleepInKernel(std::atomic<std::uint32_t>& word, Clock::time_point deadline) {
  if (deadline == Clock::time_point::max()) {
    Futex(&word, FUTEX_WAIT_BITSET, Waiter::kSleeping, nullptr);
    return;
  }
  // An absolute time on the monotonic clock, which is the steady clock's.
  const auto since = std::chrono::duration_cast<std::chrono::nanoseconds>(deadline.time_since_epoch());
  if (since.count() <= 0) return;
  timespec at{};
  at.tv_sec = static_cast<time_t>(since.count() / 1'000'000'000);
  at.tv_nsec = static_cast<long>(since.count() % 1'000'000'000);
  Futex(&word, FUTEX_WAIT_BITSET, Waiter::kSleeping, &at);
}
}  // namespace

bool Waiter::SpinFor(Clock::time_point deadline) {
  const auto until = std::min(deadline, Clock::now() + std::chrono::nanoseconds(spinNs_));
  for (unsigned i = 1;; ++i) {
    if (state.load(std::memory_order_acquire) != kArmed) return true;
    Relax();
    if (i % 32 == 0 && Clock::now() >= until) return false;
  }
}

void Waiter::Sleep(Clock::time_point deadline, bool spin) {
  if (spin && spinNs_ > 0 && SpinFor(deadline)) return;

  std::uint32_t expected = kArmed;
  if (!state.compare_exchange_strong(expected, kSleeping, std::memory_order_acquire)) return;
  const auto before = Clock::now();
  SleepInKernel(state, deadline);
  // Adapted only from waits that could spin, and not on a time-out.
  if (!spin || state.load(std::memory_order_relaxed) != kWoken) return;
  // As an idle processor's polling does: a wake that came soon after the spin
  // gave up asks for a longer spin next time, one after a long idle time for a
  // shorter. One in between is left alone: it mostly measures how long the
  // partner's own processor took to wake, and shrinking for it would let both
  // sides fall asleep on each other for good.
  const auto slept = std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - before).count();
  if (slept + spinNs_ <= kSpinMostNs) {
    spinNs_ = spinNs_ == 0 ? kSpinFirstNs : std::min(spinNs_ * 2, kSpinMostNs);
  } else if (slept > kIdleNs) {
    spinNs_ = spinNs_ / 2 < kSpinFirstNs / 4 ? 0 : spinNs_ / 2;
  }
}

namespace {
// The kernel wakes the calling thread owes, made when it releases a lock.
// Trivially destructible, like the waiter.
struct DeferredWakes {
  std::array<std::atomic<std::uint32_t>*, 16> words{};
  std::size_t count = 0;
};
thread_local DeferredWakes tDeferred;
}  // namespace

void Waiter::WakeLocked() {
  if (state.exchange(kWoken, std::memory_order_release) != kSleeping) return;
  if (tDeferred.count == tDeferred.words.size()) {
    Futex(&state, FUTEX_WAKE, 1, nullptr);
    return;
  }
  tDeferred.words[tDeferred.count++] = &state;
}

void FlushDeferredWakes() {
  while (tDeferred.count > 0) Futex(tDeferred.words[--tDeferred.count], FUTEX_WAKE, 1, nullptr);
}

namespace {

// The distinct objects of one wait in address order, the order in which every
// wait takes their locks, so two waits on the same objects never deadlock.
class LockSet {
 public:
  LockSet(std::span<WaitableObject* const> objects, WaitableObject* extra) {
    const std::size_t wanted = objects.size() + (extra ? 1 : 0);
    WaitableObject** out = inline_.data();
    if (wanted > inline_.size()) {
      heap_.resize(wanted);
      out = heap_.data();
    }
    std::size_t n = 0;
    for (auto* o : objects) out[n++] = o;
    if (extra) out[n++] = extra;
    std::sort(out, out + n, std::less<>());
    begin_ = out;
    size_ = static_cast<std::size_t>(std::unique(out, out + n) - out);
  }

  template <typename F>
  void ForEach(F&& f) const {
    for (std::size_t i = 0; i < size_; ++i) f(begin_[i]);
  }

  void LockAll(ObjectLock& (*lockOf)(WaitableObject*)) const {
    for (std::size_t i = 0; i < size_; ++i) lockOf(begin_[i]).lock();
  }
  void UnlockAll(ObjectLock& (*lockOf)(WaitableObject*)) const {
    for (std::size_t i = size_; i-- > 0;) lockOf(begin_[i]).unlock();
  }

 private:
  std::array<WaitableObject*, 8> inline_{};
  std::vector<WaitableObject*> heap_;
  WaitableObject** begin_ = nullptr;
  std::size_t size_ = 0;
};

}  // namespace

DWORD WaitEngine::Wait(std::span<WaitableObject* const> objects, bool waitAll, DWORD milliseconds,
                       WaitableObject* extra, FunctionRef<bool()> extraReady,
                       FunctionRef<Clock::time_point()> extraDeadline) {
  const bool infinite = milliseconds == kInfinite;
  const auto deadline = infinite ? Clock::time_point::max()
                                 : Clock::now() + std::chrono::milliseconds(milliseconds);

  Waiter& waiter = CurrentWaiter();
  const LockSet locks(objects, extra);
  auto lockOf = +[](WaitableObject* o) -> ObjectLock& { return o->lock_; };

  DWORD result = kWaitTimeout;
  bool registered = false;
  for (;;) {
    waiter.Arm();
    locks.LockAll(lockOf);
    if (!registered) {
      locks.ForEach([&waiter](WaitableObject* o) { o->waiters_.push_back(&waiter); });
      registered = true;
    }
    bool satisfied = false;
    if (waitAll && !objects.empty()) {
      if (std::all_of(objects.begin(), objects.end(), [](auto* o) { return o->IsSignaledLocked(); })) {
        for (auto* o : objects) o->AcquireLocked();
        result = kWaitObject0;
        satisfied = true;
      }
    } else {
      auto it = std::find_if(objects.begin(), objects.end(), [](auto* o) { return o->IsSignaledLocked(); });
      if (it != objects.end()) {
        (*it)->AcquireLocked();
        result = kWaitObject0 + static_cast<DWORD>(it - objects.begin());
        satisfied = true;
      }
    }
    if (!satisfied && extraReady && extraReady()) {
      result = kWaitObject0 + static_cast<DWORD>(objects.size());
      satisfied = true;
    }
    auto wakeAt = deadline;
    if (!satisfied && extraDeadline) wakeAt = std::min(wakeAt, extraDeadline());
    // The clock is read only when some time limits the wait.
    if (!satisfied && !infinite && Clock::now() >= deadline) {
      result = kWaitTimeout;
      satisfied = true;
    }
    if (satisfied) {
      locks.ForEach([&waiter](WaitableObject* o) {
        auto& w = o->waiters_;
        w.erase(std::remove(w.begin(), w.end(), &waiter), w.end());
      });
      locks.UnlockAll(lockOf);
      return result;
    }
    // Whoever signalled these objects last is likely to signal them next. One
    // that runs on another processor usually answers within microseconds, far
    // sooner than a sleeping processor of a virtual machine takes to wake up:
    // worth a spin. One that shares this processor cannot answer while it spins.
    bool partnerElsewhere = false, partnerHere = false;
    const int here = sched_getcpu();
    locks.ForEach([&](WaitableObject* o) {
      const int cpu = o->signallerCpu_;
      if (cpu < 0) return;
      (cpu == here ? partnerHere : partnerElsewhere) = true;
    });
    locks.UnlockAll(lockOf);
    waiter.Sleep(wakeAt, partnerElsewhere && !partnerHere);
  }
}

}  // namespace detail

void WaitableObject::NotifyWaitersLocked() {
  signallerCpu_ = sched_getcpu();
  // Under this object's lock every registered waiter is inside its wait and
  // cannot leave it (leaving takes this lock), so none is gone.
  for (auto* waiter : waiters_) waiter->WakeLocked();
}

void Event::Set() {
  std::lock_guard lock(Lock());
  signaled_ = true;
  NotifyWaitersLocked();
}

void Event::Reset() {
  std::lock_guard lock(Lock());
  signaled_ = false;
}

bool Event::IsSet() const {
  std::lock_guard lock(Lock());
  return signaled_;
}

std::shared_ptr<Event> CreateEvent(bool manualReset, bool initialState) {
  return std::make_shared<Event>(manualReset, initialState);
}

DWORD WaitForSingleObject(const Handle& handle, DWORD milliseconds) {
  if (!handle) {
    SetLastError(kErrorInvalidHandle);
    return kWaitFailed;
  }
  WaitableObject* object = handle.get();
  DWORD result = detail::WaitEngine::Wait({&object, 1}, false, milliseconds);
  if (result == kWaitTimeout) SetLastError(kWaitTimeout);
  return result;
}

DWORD WaitForMultipleObjects(const std::vector<Handle>& handles, bool waitAll, DWORD milliseconds) {
  if (handles.empty()) {
    SetLastError(kErrorInvalidParameter);
    return kWaitFailed;
  }
  detail::WaitObjects objects;
  if (!objects.Take(handles)) return kWaitFailed;
  DWORD result = detail::WaitEngine::Wait(objects.Objects(), waitAll, milliseconds);
  if (result == kWaitTimeout) SetLastError(kWaitTimeout);
  return result;
}

void Sleep(DWORD milliseconds) {
  if (milliseconds == kInfinite) {
    for (;;) std::this_thread::sleep_for(std::chrono::hours(24));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

}  // namespace platform

#include "platform/Waits.h"

#include <algorithm>
#include <thread>

#include "platform/detail/WaitEngine.h"

namespace platform {

namespace detail {

struct Waiter {
  std::mutex mutex;
  std::condition_variable wake;
  bool woken = false;  // guarded by mutex

  void Wake() {
    {
      std::lock_guard guard(mutex);
      woken = true;
    }
    // Notified after the waiter's lock is free, so the woken thread runs on
    // without blocking; the shared pointer keeps the waiter alive until here.
    wake.notify_one();
  }
};

}  // namespace detail

WaitMutex& WaitLock() {
  // Never destroyed: thread-local queues and static objects use it at exit.
  static auto* lock = new WaitMutex;
  return *lock;
}

void WaitMutex::lock() {
  // Held only for a few checks at a time, and a woken thread asks for it just
  // as its waker is entering its own wait: a short spin usually gets it
  // without sleeping in the kernel.
  for (int i = 0; i < 64; ++i) {
    if (mutex_.try_lock()) return;
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
  }
  mutex_.lock();
}

void WaitMutex::unlock() {
  if (pendingWakes_.empty()) {
    mutex_.unlock();
    return;
  }
  std::vector<std::shared_ptr<detail::Waiter>> wakes;
  wakes.swap(pendingWakes_);
  mutex_.unlock();
  for (const auto& waiter : wakes) waiter->Wake();
}

void WaitableObject::NotifyWaitersLocked() {
  auto& pending = WaitLock().pendingWakes_;
  pending.insert(pending.end(), waiters_.begin(), waiters_.end());
}

void Event::Set() {
  std::lock_guard lock(WaitLock());
  signaled_ = true;
  NotifyWaitersLocked();
}

void Event::Reset() {
  std::lock_guard lock(WaitLock());
  signaled_ = false;
}

bool Event::IsSet() const {
  std::lock_guard lock(WaitLock());
  return signaled_;
}

std::shared_ptr<Event> CreateEvent(bool manualReset, bool initialState) {
  return std::make_shared<Event>(manualReset, initialState);
}

namespace detail {

DWORD WaitEngine::Wait(const std::vector<WaitableObject*>& objects, bool waitAll, DWORD milliseconds,
                       WaitableObject* extra, const std::function<bool()>& extraReady,
                       const std::function<std::chrono::steady_clock::time_point()>& extraDeadline) {
  using Clock = std::chrono::steady_clock;
  const bool infinite = milliseconds == kInfinite;
  const auto deadline = Clock::now() + std::chrono::milliseconds(infinite ? 0 : milliseconds);

  auto waiter = std::make_shared<Waiter>();
  std::unique_lock lock(WaitLock());
  for (auto* o : objects) o->waiters_.push_back(waiter);
  if (extra) extra->waiters_.push_back(waiter);

  DWORD result = kWaitTimeout;
  for (;;) {
    if (waitAll && !objects.empty()) {
      bool all = std::all_of(objects.begin(), objects.end(), [](auto* o) { return o->IsSignaledLocked(); });
      if (all) {
        for (auto* o : objects) o->AcquireLocked();
        result = kWaitObject0;
        break;
      }
    } else {
      auto it = std::find_if(objects.begin(), objects.end(), [](auto* o) { return o->IsSignaledLocked(); });
      if (it != objects.end()) {
        (*it)->AcquireLocked();
        result = kWaitObject0 + static_cast<DWORD>(it - objects.begin());
        break;
      }
    }
    if (extraReady && extraReady()) {
      result = kWaitObject0 + static_cast<DWORD>(objects.size());
      break;
    }
    auto wakeAt = infinite ? Clock::time_point::max() : deadline;
    if (extraDeadline) wakeAt = std::min(wakeAt, extraDeadline());
    if (!infinite && Clock::now() >= deadline) {
      result = kWaitTimeout;
      break;
    }
    // Cleared while the wait lock is still held: every change after the checks
    // above is made under that lock and so wakes the waiter after this point.
    {
      std::lock_guard guard(waiter->mutex);
      waiter->woken = false;
    }
    lock.unlock();
    {
      std::unique_lock sleep(waiter->mutex);
      if (wakeAt == Clock::time_point::max()) {
        waiter->wake.wait(sleep, [&] { return waiter->woken; });
      } else {
        waiter->wake.wait_until(sleep, wakeAt, [&] { return waiter->woken; });
      }
    }
    lock.lock();
  }

  auto unregister = [&waiter](WaitableObject* o) {
    auto& w = o->waiters_;
    w.erase(std::remove(w.begin(), w.end(), waiter), w.end());
  };
  for (auto* o : objects) unregister(o);
  if (extra) unregister(extra);
  return result;
}

}  // namespace detail

DWORD WaitForSingleObject(const Handle& handle, DWORD milliseconds) {
  return WaitForMultipleObjects({handle}, false, milliseconds);
}

DWORD WaitForMultipleObjects(const std::vector<Handle>& handles, bool waitAll, DWORD milliseconds) {
  if (handles.empty()) {
    SetLastError(kErrorInvalidParameter);
    return kWaitFailed;
  }
  std::vector<WaitableObject*> objects;
  objects.reserve(handles.size());
  for (const auto& h : handles) {
    if (!h) {
      SetLastError(kErrorInvalidHandle);
      return kWaitFailed;
    }
    objects.push_back(h.get());
  }
  DWORD result = detail::WaitEngine::Wait(objects, waitAll, milliseconds);
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

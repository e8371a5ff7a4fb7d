#include "platform/Waits.h"

#include <algorithm>
#include <thread>

#include "platform/detail/WaitEngine.h"

namespace platform {

std::mutex& WaitLock() {
  // Never destroyed: thread-local queues and static objects use it at exit.
  static auto* lock = new std::mutex;
  return *lock;
}

void WaitableObject::NotifyWaitersLocked() {
  for (auto* cv : waiters_) cv->notify_all();
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

  std::condition_variable cv;
  std::unique_lock lock(WaitLock());
  for (auto* o : objects) o->waiters_.push_back(&cv);
  if (extra) extra->waiters_.push_back(&cv);

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
    if (wakeAt == Clock::time_point::max()) {
      cv.wait(lock);
    } else {
      cv.wait_until(lock, wakeAt);
    }
  }

  auto unregister = [&cv](WaitableObject* o) {
    auto& w = o->waiters_;
    w.erase(std::remove(w.begin(), w.end(), &cv), w.end());
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

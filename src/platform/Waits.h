// Waitable objects and waits: events (manual- and auto-reset), thread handles,
// waits for one or any/all of several objects with a time-out, critical
// sections and sleep.
//
// A Handle is a shared reference to a waitable object; copying it is
// "duplicating the handle": a wait on a copy keeps working after the creator
// (say, a thread object that frees itself) is gone. Every member here may be
// used from any thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/LastError.h"

namespace platform {

inline constexpr DWORD kInfinite = 0xFFFFFFFF;
inline constexpr DWORD kWaitObject0 = 0;
inline constexpr DWORD kWaitFailed = 0xFFFFFFFF;

namespace detail {
class WaitEngine;
// One waiting thread: woken through its own lock, so that waking it never
// needs the wait lock (see WaitMutex).
struct Waiter;
}  // namespace detail

class WaitableObject {
 public:
  WaitableObject() = default;
  virtual ~WaitableObject() = default;
  WaitableObject(const WaitableObject&) = delete;
  WaitableObject& operator=(const WaitableObject&) = delete;

 protected:
  friend class detail::WaitEngine;
  // Both run under the process-wide wait lock (WaitLock()).
  virtual bool IsSignaledLocked() const = 0;
  // Called when a wait is satisfied by this object (auto-reset objects reset).
  virtual void AcquireLocked() {}
  // Wakes every thread waiting on this object; call under WaitLock(). The
  // wakes are handed out when the wait lock is released.
  void NotifyWaitersLocked();

 private:
  std::vector<std::shared_ptr<detail::Waiter>> waiters_;
};

using Handle = std::shared_ptr<WaitableObject>;

// The lock behind WaitLock(). Wakes asked for while it is held are delivered
// only after it has been released: a thread woken under the lock would at once
// block again on the lock its waker still holds, which costs two more system
// calls and a context switch for every hand-over between threads.
class WaitMutex {
 public:
  void lock();
  bool try_lock() { return mutex_.try_lock(); }
  void unlock();

 private:
  friend class WaitableObject;
  std::mutex mutex_;
  std::vector<std::shared_ptr<detail::Waiter>> pendingWakes_;  // guarded by mutex_
};

// The one lock that guards the state of every waitable object and message
// queue, so that a wait on several of them sees a consistent picture.
WaitMutex& WaitLock();

class Event : public WaitableObject {
 public:
  Event(bool manualReset, bool initialState) : manualReset_(manualReset), signaled_(initialState) {}
  void Set();
  void Reset();
  bool IsSet() const;

 protected:
  bool IsSignaledLocked() const override { return signaled_; }
  void AcquireLocked() override {
    if (!manualReset_) signaled_ = false;
  }

 private:
  const bool manualReset_;
  bool signaled_;
};

std::shared_ptr<Event> CreateEvent(bool manualReset, bool initialState);

// kWaitObject0 + index of the signalled object, kWaitTimeout, or kWaitFailed
// (null handle or an empty list; last error 6 or 87).
DWORD WaitForSingleObject(const Handle& handle, DWORD milliseconds);
DWORD WaitForMultipleObjects(const std::vector<Handle>& handles, bool waitAll, DWORD milliseconds);

void Sleep(DWORD milliseconds);

// A recursive lock, entered and left explicitly.
class CriticalSection {
 public:
  void Enter() { mutex_.lock(); }
  bool TryEnter() { return mutex_.try_lock(); }
  void Leave() { mutex_.unlock(); }
  // For std::lock_guard / std::unique_lock.
  void lock() { Enter(); }
  void unlock() { Leave(); }

 private:
  std::recursive_mutex mutex_;
};

}  // namespace platform

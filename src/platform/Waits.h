// Waitable objects and waits: events (manual- and auto-reset), thread handles,
// waits for one or any/all of several objects with a time-out, critical
// sections and sleep.
//
// A Handle is a shared reference to a waitable object; copying it is
// "duplicating the handle": a wait on a copy keeps working after the creator
// (say, a thread object that frees itself) is gone. Every member here may be
// used from any thread.
//
// Each object guards its own state with its own lock; a wait on several objects
// holds all of their locks (taken in address order) while it checks them, so it
// still sees one consistent picture and a wait for all takes them at once.
#pragma once

#include <atomic>
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
struct Waiter;
}  // namespace detail

// The lock of one waitable object. Held only for a few checks at a time, so a
// thread that finds it taken spins briefly before it sleeps in the kernel.
// Wakes asked for while it is held reach the kernel only after it has been
// released: a thread woken under the lock would at once block again on the
// lock its waker still holds (on one processor the waker is even preempted
// for it), which costs two more system calls and task switches per hand-over.
class ObjectLock {
 public:
  void lock();
  bool try_lock() { return mutex_.try_lock(); }
  void unlock();

 private:
  std::mutex mutex_;
};

class WaitableObject {
 public:
  WaitableObject() = default;
  virtual ~WaitableObject() = default;
  WaitableObject(const WaitableObject&) = delete;
  WaitableObject& operator=(const WaitableObject&) = delete;

 protected:
  friend class detail::WaitEngine;
  // Both run under Lock().
  virtual bool IsSignaledLocked() const = 0;
  // Called when a wait is satisfied by this object (auto-reset objects reset).
  virtual void AcquireLocked() {}
  // Wakes the threads waiting on this object; call under Lock(). Only a thread
  // asleep is woken through the kernel, once the lock is released; one still
  // checking just sees the mark.
  void NotifyWaitersLocked();

  ObjectLock& Lock() const { return lock_; }

 private:
  mutable ObjectLock lock_;
  std::vector<detail::Waiter*> waiters_;  // guarded by lock_
  int signallerCpu_ = -1;                 // guarded by lock_: where the last notify ran
};

using Handle = std::shared_ptr<WaitableObject>;

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
  bool signaled_;  // guarded by Lock()
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

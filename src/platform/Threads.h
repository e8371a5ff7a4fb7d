// Threads: created suspended or running, with a priority, a terminated flag,
// free-on-terminate, and a waitable handle that outlives the thread object.
//
// Ownership: a thread object belongs to whoever created it, unless it is set to
// free itself on termination; then it deletes itself on its own thread after
// Execute returns, and only its handle (a copy of ThreadHandle()) may be used
// afterwards. Terminate, Terminated, ThreadID and ThreadHandle may be called from
// any thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <exception>
#include <memory>

#include "platform/Waits.h"

namespace platform {

// Our own 32-bit thread ids: small, never 0, never reused within a process.
std::uint32_t CurrentThreadId();

enum class ThreadPriority { Lower, Normal, Higher };

// The handle of a thread: signalled once the thread has finished, after a
// free-on-terminate thread object has been deleted.
class ThreadHandleObject : public WaitableObject {
 public:
  bool Finished() const;
  // An exception that escaped Execute or DoTerminate; kept here so that it
  // survives a thread object that freed itself. Read it once Finished.
  std::exception_ptr FatalException() const;

 protected:
  bool IsSignaledLocked() const override { return finished_; }

 private:
  friend class Thread;
  void MarkFinished(std::exception_ptr fatal);
  bool finished_ = false;               // guarded by Lock()
  std::exception_ptr fatalException_;  // guarded by Lock()
};

class Thread {
 public:
  explicit Thread(bool createSuspended);
  // A thread that was started and does not free itself is terminated and waited
  // for here; derived classes should do that in their own destructor already,
  // since Execute must not run while they are being destroyed.
  virtual ~Thread();
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;

  // Starts a thread created suspended; later calls do nothing. When the system
  // cannot make the thread, raises std::system_error and marks the handle
  // finished (so waits on it return); Execute and DoTerminate never run then.
  void Start();
  void Terminate() { terminated_.store(true); }
  bool Terminated() const { return terminated_.load(); }

  bool FreeOnTerminate() const { return freeOnTerminate_.load(); }
  void SetFreeOnTerminate(bool value) { freeOnTerminate_.store(value); }

  ThreadPriority Priority() const { return priority_.load(); }
  // A change the system refuses (raising without privileges) is ignored.
  void SetPriority(ThreadPriority value);

  std::uint32_t ThreadID() const { return id_; }
  // A duplicate of the thread's handle; waiting on it works after the thread
  // object has freed itself.
  Handle ThreadHandle() const { return handle_; }
  bool Started() const { return started_; }
  bool Finished() const { return handle_->Finished(); }

  // Keeps the thread on the processor the calling thread runs on now (until
  // the next call). Meant for a thread that works only while its caller waits
  // for it: handing over on one processor saves waking an idle one each time.
  // Cheap when nothing changed; ignored when the system refuses.
  void RunNearCaller();

  // Waits (plainly, serving no messages) until Execute has returned; returns
  // ReturnValue. Must not be called on a free-on-terminate thread.
  int WaitFor();

  int ReturnValue() const { return returnValue_; }
  // An exception that escaped Execute or DoTerminate.
  std::exception_ptr FatalException() const { return handle_->FatalException(); }

 protected:
  virtual void Execute() = 0;
  // The end-of-thread step: runs on the thread after Execute has returned or
  // raised, while the object still exists (before a free-on-terminate object
  // deletes itself and before the handle is signalled).
  virtual void DoTerminate() {}
  void SetReturnValue(int value) { returnValue_ = value; }

 private:
  static void Run(Thread* self, std::shared_ptr<ThreadHandleObject> handle);
  void ApplyPriority();

  const std::uint32_t id_;
  std::shared_ptr<ThreadHandleObject> handle_;
  std::atomic<bool> terminated_{false};
  std::atomic<bool> freeOnTerminate_{false};
  std::atomic<ThreadPriority> priority_{ThreadPriority::Normal};
  std::atomic<int> nativeTid_{0};
  std::atomic<int> nearCpu_{-1};
  bool started_ = false;
  int returnValue_ = 0;
};

}  // namespace platform

#include "platform/Threads.h"

#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <thread>


namespace platform {

namespace {
std::atomic<std::uint32_t> gNextThreadId{1};
thread_local std::uint32_t tThreadId = 0;

std::uint32_t AllocateThreadId() { return gNextThreadId.fetch_add(1); }

int NiceFor(ThreadPriority p) {
  switch (p) {
    case ThreadPriority::Lower: return 5;
    case ThreadPriority::Higher: return -5;
    default: return 0;
  }
}
}  // namespace

std::uint32_t CurrentThreadId() {
  if (tThreadId == 0) tThreadId = AllocateThreadId();
  return tThreadId;
}

bool ThreadHandleObject::Finished() const {
  std::lock_guard lock(Lock());
  return finished_;
}

std::exception_ptr ThreadHandleObject::FatalException() const {
  std::lock_guard lock(Lock());
  return fatalException_;
}

void ThreadHandleObject::MarkFinished(std::exception_ptr fatal) {
  std::lock_guard lock(Lock());
  finished_ = true;
  if (fatal) fatalException_ = std::move(fatal);
  NotifyWaitersLocked();
}

Thread::Thread(bool createSuspended)
    : id_(AllocateThreadId()), handle_(std::make_shared<ThreadHandleObject>()) {
  if (!createSuspended) Start();
}

Thread::~Thread() {
  if (started_ && !FreeOnTerminate() && !Finished()) {
    Terminate();
    WaitFor();
  }
}

void Thread::Start() {
  if (started_) return;
  // Marked before the thread exists: a thread that frees itself may be gone by
  // the time the constructor of std::thread returns.
  started_ = true;
  try {
    std::thread(&Thread::Run, this, handle_).detach();
  } catch (...) {
    started_ = false;
    handle_->MarkFinished(std::current_exception());
    throw;
  }
}

void Thread::Run(Thread* self, std::shared_ptr<ThreadHandleObject> handle) {
  tThreadId = self->id_;
  self->nativeTid_.store(static_cast<int>(::syscall(SYS_gettid)));
  self->ApplyPriority();
  std::exception_ptr fatal;
  try {
    self->Execute();
  } catch (...) {
    fatal = std::current_exception();
  }
  try {
    self->DoTerminate();
  } catch (...) {
    if (!fatal) fatal = std::current_exception();
  }
  // After this point the object may be gone: only the handle is used.
  if (self->FreeOnTerminate()) delete self;
  handle->MarkFinished(std::move(fatal));
}

void Thread::SetPriority(ThreadPriority value) {
  priority_.store(value);
  if (nativeTid_.load() != 0 && !Finished()) ApplyPriority();
}

void Thread::ApplyPriority() {
  int tid = nativeTid_.load();
  if (tid == 0) return;
  // Relative to the process's own niceness; raising may be refused without
  // privileges, which is ignored as documented.
  static const int base = getpriority(PRIO_PROCESS, 0);
  setpriority(PRIO_PROCESS, static_cast<id_t>(tid), base + NiceFor(priority_.load()));
}

void Thread::RunNearCaller() {
  int tid = nativeTid_.load();
  int cpu = sched_getcpu();
  if (tid == 0 || cpu < 0 || cpu == nearCpu_.load()) return;
  cpu_set_t set;
  CPU_ZERO(&set);
  CPU_SET(cpu, &set);
  if (sched_setaffinity(static_cast<pid_t>(tid), sizeof set, &set) == 0) nearCpu_.store(cpu);
}

int Thread::WaitFor() {
  WaitForSingleObject(handle_, kInfinite);
  return returnValue_;
}

}  // namespace platform

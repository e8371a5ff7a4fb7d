#include "platform/Messages.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <deque>
#include <map>
#include <mutex>

#include "platform/Threads.h"
#include "platform/detail/WaitEngine.h"

namespace platform {

namespace {

using detail::Clock;

class MessageQueue;

// Lives on the sender's stack until the owner thread has completed it.
struct SentMessage {
  HWND hwnd = nullptr;
  std::uint32_t message = 0;
  WPARAM wParam = 0;
  LPARAM lParam = 0;
  // The sender is blocked in its send until Done, so its queue outlives the
  // message; Result and Done are guarded by that queue's lock.
  MessageQueue* sender = nullptr;
  LRESULT result = 0;
  bool done = false;
};

struct Timer {
  std::uint32_t id = 0;
  Clock::duration interval{};
  Clock::time_point due{};
  TimerCallback callback;
  bool oneShot = false;
};

// A thread's queue. Every field but the thread id is guarded by the queue's own
// lock; only its owner thread ever waits on it, so a wake reaches exactly that
// thread. The descriptor exists only once somebody asked for it, and is written
// only when it turns readable, so a queue that no toolkit watches costs no
// system call per message.
class MessageQueue : public WaitableObject {
 public:
  explicit MessageQueue(std::uint32_t id) : threadId(id) {}
  ~MessageQueue() override {
    if (fd >= 0) ::close(fd);
  }

  using WaitableObject::Lock;
  using WaitableObject::NotifyWaitersLocked;

  // countQuit false: a pending quit is not input (a wait that serves messages
  // cannot take it and leaves it for the thread's own loop).
  bool HasInputLocked(DWORD mask, bool countQuit = true) const {
    if ((mask & kQsSendMessage) && !sent.empty()) return true;
    if ((mask & kQsPostMessage) && (!posted.empty() || (countQuit && quitPosted))) return true;
    if ((mask & kQsTimer) && !timers.empty() && DueTimerLocked(Clock::now()) != nullptr) return true;
    return false;
  }

  bool PendingLocked() const { return !sent.empty() || !posted.empty() || quitPosted; }

  // The earliest timer due at Cutoff.
  const Timer* DueTimerLocked(Clock::time_point cutoff) const {
    const Timer* best = nullptr;
    for (const auto& t : timers) {
      if (t.due <= cutoff && (!best || t.due < best->due)) best = &t;
    }
    return best;
  }

  Clock::time_point NextDueLocked() const {
    auto next = Clock::time_point::max();
    for (const auto& t : timers) next = std::min(next, t.due);
    return next;
  }

  // Something arrived: the owner's wait looks again, a watched descriptor turns
  // readable.
  void WakeLocked() {
    NotifyWaitersLocked();
    if (fd >= 0 && !fdReadable) {
      std::uint64_t one = 1;
      [[maybe_unused]] auto n = ::write(fd, &one, sizeof one);
      fdReadable = true;
    }
  }

  void DrainFdLocked() {
    if (fd >= 0 && fdReadable && !PendingLocked()) {
      std::uint64_t value;
      [[maybe_unused]] auto n = ::read(fd, &value, sizeof value);
      fdReadable = false;
    }
  }

  const std::uint32_t threadId;
  int fd = -1;
  bool fdReadable = false;
  bool alive = true;
  bool quitPosted = false;
  int quitCode = 0;
  std::deque<Message> posted;
  std::deque<SentMessage*> sent;
  std::vector<Timer> timers;
  std::map<std::uint32_t, TimerCallback> firing;  // one-shot timers taken, not yet dispatched
  std::uint32_t nextTimerId = 1;

 protected:
  bool IsSignaledLocked() const override { return false; }
};

struct WindowInfo {
  std::uint32_t threadId = 0;
  WndProc procedure = nullptr;
  std::string className;
  std::weak_ptr<MessageQueue> queue;
};

// The process-wide tables: queues by thread, windows, classes. Their lock is
// taken before a queue's lock when both are needed, never after it. Never
// destroyed: thread-local queues use them at exit.
std::mutex& RegistryLock() {
  static auto* lock = new std::mutex;
  return *lock;
}
std::map<std::uint32_t, std::weak_ptr<MessageQueue>>& Queues() {
  static auto* queues = new std::map<std::uint32_t, std::weak_ptr<MessageQueue>>;
  return *queues;
}
std::map<std::uintptr_t, WindowInfo>& Windows() {
  static auto* windows = new std::map<std::uintptr_t, WindowInfo>;
  return *windows;
}
std::map<std::string, WndProc>& Classes() {
  static auto* classes = new std::map<std::string, WndProc>;
  return *classes;
}
std::uintptr_t gNextWindowId = 0x10000;  // guarded by RegistryLock()

std::uintptr_t IdOf(HWND window) {
  return reinterpret_cast<std::uintptr_t>(window);
}
HWND WindowOf(std::uintptr_t id) {
  return reinterpret_cast<HWND>(id);
}

void ShutdownQueue(const std::shared_ptr<MessageQueue>& queue);
void FlushPostedToWindows();

// Ends the queue with its thread: pending senders are released with 0 and the
// thread's windows go away, as they would with the thread on any desktop.
struct QueueHolder {
  std::shared_ptr<MessageQueue> queue;
  std::function<void()> pumpHook;
  ~QueueHolder() {
    if (!queue) return;
    // Messages still posted to the thread's own windows are delivered before
    // the windows go: they may carry something that must be released.
    try {
      FlushPostedToWindows();
    } catch (...) {
    }
    ShutdownQueue(queue);
  }
};
thread_local QueueHolder tQueue;

MessageQueue& CurrentQueue() {
  if (!tQueue.queue) {
    auto queue = std::make_shared<MessageQueue>(CurrentThreadId());
    {
      std::lock_guard lock(RegistryLock());
      Queues()[queue->threadId] = queue;
    }
    tQueue.queue = std::move(queue);
  }
  return *tQueue.queue;
}

void Complete(SentMessage* sm, LRESULT result) {
  MessageQueue* sender = sm->sender;
  std::lock_guard lock(sender->Lock());
  sm->result = result;
  sm->done = true;
  // The sender sleeps in its send, never on its descriptor: waking its wait is
  // all it needs.
  sender->NotifyWaitersLocked();
}

void ShutdownQueue(const std::shared_ptr<MessageQueue>& queue) {
  {
    std::lock_guard lock(RegistryLock());
    auto it = Queues().find(queue->threadId);
    if (it != Queues().end() && it->second.lock() == queue) Queues().erase(it);
    auto& windows = Windows();
    for (auto w = windows.begin(); w != windows.end();) {
      w = w->second.threadId == queue->threadId ? windows.erase(w) : std::next(w);
    }
  }
  std::deque<SentMessage*> pending;
  {
    std::lock_guard lock(queue->Lock());
    queue->alive = false;
    pending.swap(queue->sent);
    queue->posted.clear();
    queue->timers.clear();
  }
  for (auto* sm : pending) Complete(sm, 0);
}

WndProc ProcedureOf(HWND window, std::uint32_t threadId) {
  std::lock_guard lock(RegistryLock());
  auto it = Windows().find(IdOf(window));
  if (it == Windows().end() || it->second.threadId != threadId) return nullptr;
  return it->second.procedure;
}

// The window's queue, or null (last error 1400) for an unknown window.
std::shared_ptr<MessageQueue> QueueOf(HWND window, WndProc* procedure = nullptr,
                                      std::uint32_t* threadId = nullptr) {
  std::lock_guard lock(RegistryLock());
  auto it = Windows().find(IdOf(window));
  if (it == Windows().end()) {
    SetLastError(kErrorInvalidWindowHandle);
    return nullptr;
  }
  if (procedure) *procedure = it->second.procedure;
  if (threadId) *threadId = it->second.threadId;
  return it->second.queue.lock();
}

// Runs every message sent to the calling thread, in arrival order.
void ServeSentMessages() {
  MessageQueue& queue = CurrentQueue();
  for (;;) {
    SentMessage* sm;
    {
      std::lock_guard lock(queue.Lock());
      if (queue.sent.empty()) {
        queue.DrainFdLocked();
        return;
      }
      sm = queue.sent.front();
      queue.sent.pop_front();
    }
    // Looked up now: a window destroyed since the send runs nothing.
    WndProc procedure = ProcedureOf(sm->hwnd, queue.threadId);
    LRESULT result = 0;
    try {
      if (procedure) result = procedure(sm->hwnd, sm->message, sm->wParam, sm->lParam);
    } catch (...) {
      // The sender must not hang because a procedure failed; the failure belongs
      // to this thread.
      Complete(sm, 0);
      throw;
    }
    Complete(sm, result);
  }
}

// Posts to Queue, which may be ending meanwhile: a dead queue takes nothing.
bool PostTo(MessageQueue& queue, const Message& message) {
  std::lock_guard lock(queue.Lock());
  if (!queue.alive) return false;
  queue.posted.push_back(message);
  queue.WakeLocked();
  return true;
}

}  // namespace

bool GetClassInfo(const std::string& className, WndProc* procedure) {
  std::lock_guard lock(RegistryLock());
  auto it = Classes().find(className);
  if (it == Classes().end()) {
    SetLastError(kErrorClassDoesNotExist);
    return false;
  }
  if (procedure) *procedure = it->second;
  return true;
}

bool RegisterClass(const std::string& className, WndProc procedure) {
  std::lock_guard lock(RegistryLock());
  if (!procedure || className.empty()) {
    SetLastError(kErrorInvalidParameter);
    return false;
  }
  if (!Classes().emplace(className, procedure).second) {
    SetLastError(kErrorClassAlreadyExists);
    return false;
  }
  return true;
}

bool UnregisterClass(const std::string& className) {
  std::lock_guard lock(RegistryLock());
  if (Classes().erase(className) == 0) {
    SetLastError(kErrorClassDoesNotExist);
    return false;
  }
  return true;
}

HWND CreateWindow(const std::string& className) {
  CurrentQueue();
  std::lock_guard lock(RegistryLock());
  auto it = Classes().find(className);
  if (it == Classes().end()) {
    SetLastError(kErrorClassDoesNotExist);
    return nullptr;
  }
  std::uintptr_t id = gNextWindowId++;
  Windows()[id] = WindowInfo{tQueue.queue->threadId, it->second, className, tQueue.queue};
  return WindowOf(id);
}

bool DestroyWindow(HWND window) {
  WndProc procedure;
  {
    std::lock_guard lock(RegistryLock());
    auto it = Windows().find(IdOf(window));
    if (it == Windows().end()) {
      SetLastError(kErrorInvalidWindowHandle);
      return false;
    }
    if (it->second.threadId != CurrentThreadId()) {
      SetLastError(kErrorAccessDenied);
      return false;
    }
    procedure = it->second.procedure;
  }
  procedure(window, kWmDestroy, 0, 0);
  std::lock_guard lock(RegistryLock());
  Windows().erase(IdOf(window));
  return true;
}

bool IsWindow(HWND window) {
  std::lock_guard lock(RegistryLock());
  return Windows().count(IdOf(window)) != 0;
}

std::uint32_t GetWindowThreadId(HWND window) {
  std::lock_guard lock(RegistryLock());
  auto it = Windows().find(IdOf(window));
  return it == Windows().end() ? 0 : it->second.threadId;
}

LRESULT DefWindowProc(HWND, std::uint32_t, WPARAM, LPARAM) {
  return 0;
}

bool PostMessage(HWND window, std::uint32_t message, WPARAM wParam, LPARAM lParam) {
  auto queue = QueueOf(window);
  if (!queue || !PostTo(*queue, Message{window, message, wParam, lParam})) {
    SetLastError(kErrorInvalidWindowHandle);
    return false;
  }
  return true;
}

bool PostThreadMessage(std::uint32_t threadId, std::uint32_t message, WPARAM wParam,
                       LPARAM lParam) {
  std::shared_ptr<MessageQueue> queue;
  {
    std::lock_guard lock(RegistryLock());
    auto it = Queues().find(threadId);
    if (it != Queues().end()) queue = it->second.lock();
  }
  if (!queue || !PostTo(*queue, Message{nullptr, message, wParam, lParam})) {
    SetLastError(kErrorInvalidParameter);
    return false;
  }
  return true;
}

void PostQuitMessage(int exitCode) {
  MessageQueue& queue = CurrentQueue();
  std::lock_guard lock(queue.Lock());
  queue.quitPosted = true;
  queue.quitCode = exitCode;
  queue.WakeLocked();
}

LRESULT SendMessage(HWND window, std::uint32_t message, WPARAM wParam, LPARAM lParam) {
  MessageQueue& self = CurrentQueue();
  WndProc procedure = nullptr;
  std::uint32_t owner = 0;
  auto target = QueueOf(window, &procedure, &owner);
  if (owner == 0) return 0;  // unknown window, last error set
  if (owner == self.threadId) return procedure(window, message, wParam, lParam);
  if (!target) return 0;

  SentMessage sm{window, message, wParam, lParam, &self};
  {
    std::lock_guard lock(target->Lock());
    if (!target->alive) return 0;
    target->sent.push_back(&sm);
    target->WakeLocked();
  }
  target.reset();

  // Blocked in a send, this thread still serves what others send to it, so two
  // threads sending to each other do not lock up.
  for (;;) {
    bool done = false;
    detail::WaitEngine::Wait({}, false, kInfinite, &self, [&] {
      done = sm.done;
      return done || !self.sent.empty();
    });
    // Once done the owner never touches the message again.
    if (done) return sm.result;
    ServeSentMessages();
  }
}

namespace {
// Timers count as due only at Cutoff (read when first needed), so that one pass
// of ProcessMessages fires each timer at most once however slow its callback is.
bool PeekMessageUntil(Message& message, bool remove, std::optional<Clock::time_point>& cutoff) {
  ServeSentMessages();
  MessageQueue& queue = CurrentQueue();
  std::lock_guard lock(queue.Lock());
  if (!queue.posted.empty()) {
    message = queue.posted.front();
    if (remove) queue.posted.pop_front();
    return true;
  }
  if (queue.quitPosted) {
    message = Message{nullptr, kWmQuit, static_cast<WPARAM>(queue.quitCode), 0};
    if (remove) queue.quitPosted = false;
    return true;
  }
  if (!queue.timers.empty()) {
    if (!cutoff) cutoff = Clock::now();
    if (const Timer* due = queue.DueTimerLocked(*cutoff)) {
      message = Message{nullptr, kWmTimer, due->id, 0};
      if (remove) {
        for (auto it = queue.timers.begin(); it != queue.timers.end(); ++it) {
          if (it->id != due->id) continue;
          if (it->oneShot) {
            queue.firing[it->id] = std::move(it->callback);
            queue.timers.erase(it);
          } else {
            // A late timer fires once, not once per missed interval.
            auto now = Clock::now();
            it->due += it->interval;
            if (it->due <= now) it->due = now + it->interval;
          }
          break;
        }
      }
      return true;
    }
  }
  queue.DrainFdLocked();
  return false;
}

void FlushPostedToWindows() {
  for (;;) {
    Message message;
    {
      std::lock_guard lock(tQueue.queue->Lock());
      auto& posted = tQueue.queue->posted;
      auto it = std::find_if(posted.begin(), posted.end(),
                             [](const Message& m) { return m.hwnd != nullptr; });
      if (it == posted.end()) return;
      message = *it;
      posted.erase(it);
    }
    DispatchMessage(message);
  }
}
}  // namespace

bool PeekMessage(Message& message, bool remove) {
  std::optional<Clock::time_point> now;
  return PeekMessageUntil(message, remove, now);
}

LRESULT DispatchMessage(const Message& message) {
  MessageQueue& queue = CurrentQueue();
  if (message.hwnd == nullptr) {
    if (message.message != kWmTimer) return 0;
    TimerCallback callback;
    {
      std::lock_guard lock(queue.Lock());
      auto id = static_cast<std::uint32_t>(message.wParam);
      if (auto f = queue.firing.find(id); f != queue.firing.end()) {
        callback = std::move(f->second);
        queue.firing.erase(f);
      } else {
        for (const auto& t : queue.timers) {
          if (t.id == id) callback = t.callback;
        }
      }
    }
    if (callback) callback();
    return 0;
  }
  WndProc procedure = ProcedureOf(message.hwnd, queue.threadId);
  return procedure ? procedure(message.hwnd, message.message, message.wParam, message.lParam) : 0;
}

bool GetMessage(Message& message) {
  MessageQueue& queue = CurrentQueue();
  for (;;) {
    if (PeekMessage(message, true)) return message.message != kWmQuit;
    detail::WaitEngine::Wait(
        {}, false, kInfinite, &queue, [&] { return queue.HasInputLocked(kQsAllInput); },
        [&] { return queue.NextDueLocked(); });
  }
}

void ProcessMessages() {
  Message message;
  std::optional<Clock::time_point> cutoff;
  while (PeekMessageUntil(message, true, cutoff)) {
    if (message.message == kWmQuit) {
      // Leave the quit message for the loop that owns the thread.
      PostQuitMessage(static_cast<int>(message.wParam));
      break;
    }
    DispatchMessage(message);
  }
  if (tQueue.pumpHook) tQueue.pumpHook();
}

bool WaitMessage(DWORD milliseconds) {
  MessageQueue& queue = CurrentQueue();
  DWORD result = detail::WaitEngine::Wait(
      {}, false, milliseconds, &queue, [&] { return queue.HasInputLocked(kQsAllInput); },
      [&] { return queue.NextDueLocked(); });
  return result == kWaitObject0;
}

namespace {
DWORD MsgWait(std::span<const Handle> handles, bool waitAll, DWORD milliseconds, DWORD wakeMask,
              bool countQuit) {
  MessageQueue& queue = CurrentQueue();
  detail::WaitObjects objects;
  if (!objects.Take(handles)) return kWaitFailed;
  auto ready = [&] { return queue.HasInputLocked(wakeMask, countQuit); };
  auto timerDue = [&] { return queue.NextDueLocked(); };
  detail::FunctionRef<Clock::time_point()> timerDeadline;
  if (wakeMask & kQsTimer) timerDeadline = timerDue;
  return detail::WaitEngine::Wait(objects.Objects(), waitAll, milliseconds, &queue, ready,
                                  timerDeadline);
}
}  // namespace

DWORD MsgWaitForMultipleObjects(const std::vector<Handle>& handles, bool waitAll,
                                DWORD milliseconds, DWORD wakeMask) {
  return MsgWait(handles, waitAll, milliseconds, wakeMask, true);
}

DWORD WaitServingMessages(const Handle& handle, DWORD milliseconds, bool serveAll) {
  const bool limited = milliseconds != kInfinite;
  const auto deadline = limited ? Clock::now() + std::chrono::milliseconds(milliseconds)
                                : Clock::time_point::max();
  for (;;) {
    DWORD left = kInfinite;
    if (limited) {
      auto rest =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      left = rest > 0 ? static_cast<DWORD>(rest) : 0;
    }
    // Serving puts a pending quit back for the thread's loop; counted as input it
    // would wake this wait again at once, for ever.
    DWORD result = MsgWait({&handle, 1}, false, left, serveAll ? kQsAllInput : kQsSendMessage, false);
    if (result != kWaitObject0 + 1) return result;
    if (serveAll) {
      ProcessMessages();
    } else {
      ServeSentMessages();
    }
  }
}

std::uint32_t SetTimer(DWORD intervalMs, TimerCallback callback, bool oneShot) {
  if (!callback) {
    SetLastError(kErrorInvalidParameter);
    return 0;
  }
  MessageQueue& queue = CurrentQueue();
  std::lock_guard lock(queue.Lock());
  Timer timer;
  timer.id = queue.nextTimerId++;
  timer.interval = std::chrono::milliseconds(std::max<DWORD>(intervalMs, 1));
  timer.due = Clock::now() + timer.interval;
  timer.callback = std::move(callback);
  timer.oneShot = oneShot;
  queue.timers.push_back(std::move(timer));
  return queue.timers.back().id;
}

bool KillTimer(std::uint32_t timerId) {
  MessageQueue& queue = CurrentQueue();
  std::lock_guard lock(queue.Lock());
  bool found = queue.firing.erase(timerId) != 0;
  auto& timers = queue.timers;
  for (auto it = timers.begin(); it != timers.end(); ++it) {
    if (it->id == timerId) {
      timers.erase(it);
      return true;
    }
  }
  if (!found) SetLastError(kErrorInvalidParameter);
  return found;
}

std::optional<std::chrono::milliseconds> NextTimerDue() {
  MessageQueue& queue = CurrentQueue();
  std::lock_guard lock(queue.Lock());
  auto next = queue.NextDueLocked();
  if (next == Clock::time_point::max()) return std::nullopt;
  auto rest = std::chrono::ceil<std::chrono::milliseconds>(next - Clock::now());
  return std::max(rest, std::chrono::milliseconds(0));
}

int QueueFileDescriptor() {
  MessageQueue& queue = CurrentQueue();
  std::lock_guard lock(queue.Lock());
  if (queue.fd < 0) {
    queue.fd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (queue.fd >= 0 && queue.PendingLocked()) {
      std::uint64_t one = 1;
      [[maybe_unused]] auto n = ::write(queue.fd, &one, sizeof one);
      queue.fdReadable = true;
    }
  }
  return queue.fd;
}

void SetPumpHook(std::function<void()> hook) {
  CurrentQueue();
  tQueue.pumpHook = std::move(hook);
}

}  // namespace platform

#include "platform/Messages.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <deque>
#include <map>

#include "platform/Threads.h"
#include "platform/detail/WaitEngine.h"

namespace platform {

namespace {

using Clock = std::chrono::steady_clock;

class MessageQueue;

// Lives on the sender's stack until the owner thread has completed it.
struct SentMessage {
  HWND hwnd = nullptr;
  std::uint32_t message = 0;
  WPARAM wParam = 0;
  LPARAM lParam = 0;
  LRESULT result = 0;
  bool done = false;
  std::shared_ptr<MessageQueue> sender;
};

struct Timer {
  std::uint32_t id = 0;
  Clock::duration interval{};
  Clock::time_point due{};
  TimerCallback callback;
  bool oneShot = false;
};

// A thread's queue. Every field is guarded by WaitLock(); the queue is a
// waitable object only so that waits can register on it and be woken.
class MessageQueue : public WaitableObject {
 public:
  explicit MessageQueue(std::uint32_t id) : threadId(id) {
    fd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  }
  ~MessageQueue() override {
    if (fd >= 0) ::close(fd);
  }

  // countQuit false: a pending quit is not input (a wait that serves messages
  // cannot take it and leaves it for the thread's own loop).
  bool HasInputLocked(DWORD mask, bool countQuit = true) const {
    if ((mask & kQsSendMessage) && !sent.empty()) return true;
    if ((mask & kQsPostMessage) && (!posted.empty() || (countQuit && quitPosted))) return true;
    if ((mask & kQsTimer) && DueTimerLocked(Clock::now()) != nullptr) return true;
    return false;
  }

  // The earliest timer due at Cutoff.
  const Timer* DueTimerLocked(Clock::time_point cutoff) const {
    const Timer* best = nullptr;
    auto now = cutoff;
    for (const auto& t : timers) {
      if (t.due <= now && (!best || t.due < best->due)) best = &t;
    }
    return best;
  }

  Clock::time_point NextDueLocked() const {
    auto next = Clock::time_point::max();
    for (const auto& t : timers) next = std::min(next, t.due);
    return next;
  }

  void WakeLocked() {
    NotifyWaitersLocked();
    if (fd >= 0) {
      std::uint64_t one = 1;
      [[maybe_unused]] auto n = ::write(fd, &one, sizeof one);
    }
  }

  void DrainFdLocked() {
    if (fd >= 0 && sent.empty() && posted.empty() && !quitPosted) {
      std::uint64_t value;
      [[maybe_unused]] auto n = ::read(fd, &value, sizeof value);
    }
  }

  const std::uint32_t threadId;
  int fd = -1;
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

// Process-wide tables, guarded by WaitLock().
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
std::uintptr_t gNextWindowId = 0x10000;

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

std::shared_ptr<MessageQueue> CurrentQueue() {
  if (!tQueue.queue) {
    auto queue = std::make_shared<MessageQueue>(CurrentThreadId());
    std::lock_guard lock(WaitLock());
    Queues()[queue->threadId] = queue;
    tQueue.queue = queue;
  }
  return tQueue.queue;
}

void ShutdownQueue(const std::shared_ptr<MessageQueue>& queue) {
  std::lock_guard lock(WaitLock());
  queue->alive = false;
  Queues().erase(queue->threadId);
  auto& windows = Windows();
  for (auto it = windows.begin(); it != windows.end();) {
    it = it->second.threadId == queue->threadId ? windows.erase(it) : std::next(it);
  }
  for (auto* sm : queue->sent) {
    sm->result = 0;
    sm->done = true;
    sm->sender->WakeLocked();
  }
  queue->sent.clear();
  queue->posted.clear();
  queue->timers.clear();
}

void CompleteLocked(SentMessage* sm, LRESULT result) {
  sm->result = result;
  sm->done = true;
  sm->sender->WakeLocked();
}

WndProc ProcedureOfLocked(HWND window, std::uint32_t threadId) {
  auto it = Windows().find(IdOf(window));
  if (it == Windows().end() || it->second.threadId != threadId) return nullptr;
  return it->second.procedure;
}

// Runs every message sent to the calling thread, in arrival order.
void ServeSentMessages() {
  auto queue = CurrentQueue();
  for (;;) {
    SentMessage* sm;
    WndProc procedure;
    {
      std::lock_guard lock(WaitLock());
      if (queue->sent.empty()) return;
      sm = queue->sent.front();
      queue->sent.pop_front();
      procedure = ProcedureOfLocked(sm->hwnd, queue->threadId);
    }
    LRESULT result = 0;
    try {
      if (procedure) result = procedure(sm->hwnd, sm->message, sm->wParam, sm->lParam);
    } catch (...) {
      // The sender must not hang because a procedure failed; the failure belongs
      // to this thread.
      std::lock_guard lock(WaitLock());
      CompleteLocked(sm, 0);
      throw;
    }
    std::lock_guard lock(WaitLock());
    CompleteLocked(sm, result);
  }
}

}  // namespace

bool GetClassInfo(const std::string& className, WndProc* procedure) {
  std::lock_guard lock(WaitLock());
  auto it = Classes().find(className);
  if (it == Classes().end()) {
    SetLastError(kErrorClassDoesNotExist);
    return false;
  }
  if (procedure) *procedure = it->second;
  return true;
}

bool RegisterClass(const std::string& className, WndProc procedure) {
  std::lock_guard lock(WaitLock());
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
  std::lock_guard lock(WaitLock());
  if (Classes().erase(className) == 0) {
    SetLastError(kErrorClassDoesNotExist);
    return false;
  }
  return true;
}

HWND CreateWindow(const std::string& className) {
  auto queue = CurrentQueue();
  std::lock_guard lock(WaitLock());
  auto it = Classes().find(className);
  if (it == Classes().end()) {
    SetLastError(kErrorClassDoesNotExist);
    return nullptr;
  }
  std::uintptr_t id = gNextWindowId++;
  Windows()[id] = WindowInfo{queue->threadId, it->second, className, queue};
  return WindowOf(id);
}

bool DestroyWindow(HWND window) {
  WndProc procedure;
  {
    std::lock_guard lock(WaitLock());
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
  std::lock_guard lock(WaitLock());
  Windows().erase(IdOf(window));
  return true;
}

bool IsWindow(HWND window) {
  std::lock_guard lock(WaitLock());
  return Windows().count(IdOf(window)) != 0;
}

std::uint32_t GetWindowThreadId(HWND window) {
  std::lock_guard lock(WaitLock());
  auto it = Windows().find(IdOf(window));
  return it == Windows().end() ? 0 : it->second.threadId;
}

LRESULT DefWindowProc(HWND, std::uint32_t, WPARAM, LPARAM) {
  return 0;
}

bool PostMessage(HWND window, std::uint32_t message, WPARAM wParam, LPARAM lParam) {
  std::lock_guard lock(WaitLock());
  auto it = Windows().find(IdOf(window));
  auto queue = it == Windows().end() ? nullptr : it->second.queue.lock();
  if (!queue || !queue->alive) {
    SetLastError(kErrorInvalidWindowHandle);
    return false;
  }
  queue->posted.push_back(Message{window, message, wParam, lParam});
  queue->WakeLocked();
  return true;
}

bool PostThreadMessage(std::uint32_t threadId, std::uint32_t message, WPARAM wParam,
                       LPARAM lParam) {
  std::lock_guard lock(WaitLock());
  auto it = Queues().find(threadId);
  auto queue = it == Queues().end() ? nullptr : it->second.lock();
  if (!queue || !queue->alive) {
    SetLastError(kErrorInvalidParameter);
    return false;
  }
  queue->posted.push_back(Message{nullptr, message, wParam, lParam});
  queue->WakeLocked();
  return true;
}

void PostQuitMessage(int exitCode) {
  auto queue = CurrentQueue();
  std::lock_guard lock(WaitLock());
  queue->quitPosted = true;
  queue->quitCode = exitCode;
  queue->WakeLocked();
}

LRESULT SendMessage(HWND window, std::uint32_t message, WPARAM wParam, LPARAM lParam) {
  auto self = CurrentQueue();
  SentMessage sm;
  WndProc direct = nullptr;
  {
    std::lock_guard lock(WaitLock());
    auto it = Windows().find(IdOf(window));
    if (it == Windows().end()) {
      SetLastError(kErrorInvalidWindowHandle);
      return 0;
    }
    if (it->second.threadId == self->threadId) {
      direct = it->second.procedure;
    } else {
      auto target = it->second.queue.lock();
      if (!target || !target->alive) return 0;
      sm = SentMessage{window, message, wParam, lParam, 0, false, self};
      target->sent.push_back(&sm);
      target->WakeLocked();
    }
  }
  if (direct) return direct(window, message, wParam, lParam);

  // Blocked in a send, this thread still serves what others send to it, so two
  // threads sending to each other do not lock up.
  for (;;) {
    detail::WaitEngine::Wait({}, false, kInfinite, self.get(),
                             [&] { return sm.done || !self->sent.empty(); });
    {
      std::lock_guard lock(WaitLock());
      if (sm.done) return sm.result;
    }
    ServeSentMessages();
  }
}

namespace {
// Timers count as due only at Cutoff, so that one pass of ProcessMessages fires
// each timer at most once however slow its callback is.
bool PeekMessageUntil(Message& message, bool remove, Clock::time_point cutoff) {
  ServeSentMessages();
  auto queue = CurrentQueue();
  std::lock_guard lock(WaitLock());
  if (!queue->posted.empty()) {
    message = queue->posted.front();
    if (remove) queue->posted.pop_front();
    return true;
  }
  if (queue->quitPosted) {
    message = Message{nullptr, kWmQuit, static_cast<WPARAM>(queue->quitCode), 0};
    if (remove) queue->quitPosted = false;
    return true;
  }
  if (const Timer* due = queue->DueTimerLocked(cutoff)) {
    message = Message{nullptr, kWmTimer, due->id, 0};
    if (remove) {
      for (auto it = queue->timers.begin(); it != queue->timers.end(); ++it) {
        if (it->id != due->id) continue;
        if (it->oneShot) {
          queue->firing[it->id] = std::move(it->callback);
          queue->timers.erase(it);
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
  queue->DrainFdLocked();
  return false;
}
void FlushPostedToWindows() {
  for (;;) {
    Message message;
    {
      std::lock_guard lock(WaitLock());
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
  return PeekMessageUntil(message, remove, Clock::now());
}

LRESULT DispatchMessage(const Message& message) {
  auto queue = CurrentQueue();
  if (message.hwnd == nullptr) {
    if (message.message != kWmTimer) return 0;
    TimerCallback callback;
    {
      std::lock_guard lock(WaitLock());
      auto id = static_cast<std::uint32_t>(message.wParam);
      if (auto f = queue->firing.find(id); f != queue->firing.end()) {
        callback = std::move(f->second);
        queue->firing.erase(f);
      } else {
        for (const auto& t : queue->timers) {
          if (t.id == id) callback = t.callback;
        }
      }
    }
    if (callback) callback();
    return 0;
  }
  WndProc procedure;
  {
    std::lock_guard lock(WaitLock());
    procedure = ProcedureOfLocked(message.hwnd, queue->threadId);
  }
  return procedure ? procedure(message.hwnd, message.message, message.wParam, message.lParam) : 0;
}

bool GetMessage(Message& message) {
  auto queue = CurrentQueue();
  for (;;) {
    if (PeekMessage(message, true)) return message.message != kWmQuit;
    detail::WaitEngine::Wait(
        {}, false, kInfinite, queue.get(), [&] { return queue->HasInputLocked(kQsAllInput); },
        [&] { return queue->NextDueLocked(); });
  }
}

void ProcessMessages() {
  Message message;
  const auto cutoff = Clock::now();
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
  auto queue = CurrentQueue();
  DWORD result = detail::WaitEngine::Wait(
      {}, false, milliseconds, queue.get(), [&] { return queue->HasInputLocked(kQsAllInput); },
      [&] { return queue->NextDueLocked(); });
  return result == kWaitObject0;
}

namespace {
DWORD MsgWait(const std::vector<Handle>& handles, bool waitAll, DWORD milliseconds, DWORD wakeMask,
              bool countQuit) {
  auto queue = CurrentQueue();
  std::vector<WaitableObject*> objects;
  for (const auto& h : handles) {
    if (!h) {
      SetLastError(kErrorInvalidHandle);
      return kWaitFailed;
    }
    objects.push_back(h.get());
  }
  std::function<Clock::time_point()> timerDeadline;
  if (wakeMask & kQsTimer) timerDeadline = [&] { return queue->NextDueLocked(); };
  return detail::WaitEngine::Wait(
      objects, waitAll, milliseconds, queue.get(),
      [&] { return queue->HasInputLocked(wakeMask, countQuit); }, timerDeadline);
}
}  // namespace

DWORD MsgWaitForMultipleObjects(const std::vector<Handle>& handles, bool waitAll,
                                DWORD milliseconds, DWORD wakeMask) {
  return MsgWait(handles, waitAll, milliseconds, wakeMask, true);
}

DWORD WaitServingMessages(const Handle& handle, DWORD milliseconds, bool serveAll) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
  for (;;) {
    DWORD left = milliseconds;
    if (milliseconds != kInfinite) {
      auto rest =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      left = rest > 0 ? static_cast<DWORD>(rest) : 0;
    }
    // Serving puts a pending quit back for the thread's loop; counted as input it
    // would wake this wait again at once, for ever.
    DWORD result = MsgWait({handle}, false, left, serveAll ? kQsAllInput : kQsSendMessage, false);
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
  auto queue = CurrentQueue();
  std::lock_guard lock(WaitLock());
  Timer timer;
  timer.id = queue->nextTimerId++;
  timer.interval = std::chrono::milliseconds(std::max<DWORD>(intervalMs, 1));
  timer.due = Clock::now() + timer.interval;
  timer.callback = std::move(callback);
  timer.oneShot = oneShot;
  queue->timers.push_back(std::move(timer));
  queue->WakeLocked();
  return queue->timers.back().id;
}

bool KillTimer(std::uint32_t timerId) {
  auto queue = CurrentQueue();
  std::lock_guard lock(WaitLock());
  bool found = queue->firing.erase(timerId) != 0;
  auto& timers = queue->timers;
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
  auto queue = CurrentQueue();
  std::lock_guard lock(WaitLock());
  auto next = queue->NextDueLocked();
  if (next == Clock::time_point::max()) return std::nullopt;
  auto rest = std::chrono::ceil<std::chrono::milliseconds>(next - Clock::now());
  return std::max(rest, std::chrono::milliseconds(0));
}

int QueueFileDescriptor() {
  return CurrentQueue()->fd;
}

void SetPumpHook(std::function<void()> hook) {
  CurrentQueue();
  tQueue.pumpHook = std::move(hook);
}

}  // namespace platform

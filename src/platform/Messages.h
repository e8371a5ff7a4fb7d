// Per-thread message queues and hidden windows.
//
// Every thread has one message queue, made on first use. A window belongs to
// the thread that created it and runs its window procedure (taken from a window
// class registered by name) only on that thread. PostMessage queues a message and
// returns; SendMessage blocks the sender until the owner thread has run the
// procedure, and returns its result (a send to one's own thread runs it at once).
// A thread serves messages sent to it only while it pumps (ProcessMessages,
// GetMessage, PeekMessage), while it is blocked in its own SendMessage, or when
// it dispatches after a message-aware wait (MsgWaitForMultipleObjects) tells it
// that something arrived. That is what lets a worker wait for its creator
// without deadlock, and what makes a plain wait not serve anybody.
//
// Timers belong to the thread that set them and fire while it pumps.
// The queue exposes a file descriptor that is readable while something is
// pending, so a toolkit's main loop can watch it.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/Waits.h"

namespace platform {

struct WindowRecord;
using HWND = WindowRecord*;  // an opaque window id; never dereferenced
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;
using WndProc = LRESULT (*)(HWND, std::uint32_t message, WPARAM, LPARAM);

inline constexpr std::uint32_t kWmNull = 0x0000;
inline constexpr std::uint32_t kWmDestroy = 0x0002;
inline constexpr std::uint32_t kWmClose = 0x0010;
inline constexpr std::uint32_t kWmQuit = 0x0012;
inline constexpr std::uint32_t kWmTimer = 0x0113;
inline constexpr std::uint32_t kWmUser = 0x0400;
inline constexpr std::uint32_t kWmApp = 0x8000;

// Wake masks of the message-aware wait.
inline constexpr DWORD kQsPostMessage = 0x0008;
inline constexpr DWORD kQsTimer = 0x0010;
inline constexpr DWORD kQsSendMessage = 0x0040;
inline constexpr DWORD kQsAllEvents = 0x04BF;
inline constexpr DWORD kQsAllInput = 0x04FF;

struct Message {
  HWND hwnd = nullptr;
  std::uint32_t message = 0;
  WPARAM wParam = 0;
  LPARAM lParam = 0;
};

// Window classes, by name. GetClassInfo returns false (last error 1411) for an
// unknown name; RegisterClass fails with 1410 when the name is taken.
bool GetClassInfo(const std::string& className, WndProc* procedure);
bool RegisterClass(const std::string& className, WndProc procedure);
bool UnregisterClass(const std::string& className);

// A hidden window of the calling thread; null (last error 1411) when the class is
// unknown. Only the owner thread may destroy it (others get last error 5).
HWND CreateWindow(const std::string& className);
bool DestroyWindow(HWND window);
bool IsWindow(HWND window);
std::uint32_t GetWindowThreadId(HWND window);

LRESULT DefWindowProc(HWND window, std::uint32_t message, WPARAM wParam, LPARAM lParam);

// False (last error 1400) for an unknown window.
bool PostMessage(HWND window, std::uint32_t message, WPARAM wParam, LPARAM lParam);
bool PostThreadMessage(std::uint32_t threadId, std::uint32_t message, WPARAM wParam, LPARAM lParam);
void PostQuitMessage(int exitCode);
// 0 with last error 1400 for an unknown window; 0 too when the owner thread
// ends or destroys the window before serving the message.
LRESULT SendMessage(HWND window, std::uint32_t message, WPARAM wParam, LPARAM lParam);

// Serves sent messages, then takes the next posted (or timer) message of the
// calling thread when there is one. GetMessage blocks until there is; it returns
// false for the quit message.
bool PeekMessage(Message& message, bool remove = true);
bool GetMessage(Message& message);
LRESULT DispatchMessage(const Message& message);

// Dispatches everything pending on the calling thread (sent, posted, due timers)
// and then the toolkit's pending events, when a pump hook is installed.
void ProcessMessages();
// Blocks until something arrives for the calling thread (or the time-out).
bool WaitMessage(DWORD milliseconds = kInfinite);
// A wait on handles that also returns kWaitObject0 + handles.size() when input of
// a kind in wakeMask is pending for the calling thread. It does not dispatch.
DWORD MsgWaitForMultipleObjects(const std::vector<Handle>& handles, bool waitAll, DWORD milliseconds,
                                DWORD wakeMask);
// Waits for Handle while serving messages sent to the calling thread (and, with
// serveAll, everything pending) each time it is woken.
DWORD WaitServingMessages(const Handle& handle, DWORD milliseconds, bool serveAll = false);

// Timers of the calling thread. Callback runs on that thread while it pumps.
// A one-shot timer is removed before its callback runs. Returns 0 on failure.
using TimerCallback = std::function<void()>;
std::uint32_t SetTimer(DWORD intervalMs, TimerCallback callback, bool oneShot = false);
bool KillTimer(std::uint32_t timerId);
// Time until the calling thread's next timer is due (zero when overdue).
std::optional<std::chrono::milliseconds> NextTimerDue();

// The calling thread's queue descriptor: readable while something is pending.
int QueueFileDescriptor();
// Installs the toolkit's "run pending events" for ProcessMessages of the calling
// thread (empty to remove).
void SetPumpHook(std::function<void()> hook);

}  // namespace platform

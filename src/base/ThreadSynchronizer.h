// Runs a method on the thread that created the synchroniser and waits for it.
//
// A synchroniser is created on the thread whose message loop will serve it (the
// user-interface thread for workers; for a connection, whichever thread creates
// it). Synchronize may then be called from another thread, which blocks until
// the creating thread has run the method inside a message it serves; an
// exception the method raised there is raised again in the caller, with its
// class and message. The creating thread serves only while it pumps messages or
// waits in a message-aware wait.
//
// Every synchroniser of one thread shares that thread's hidden window; the
// process-wide manager keeps one record per creating thread with the window and
// a use count, guarded by the manager's lock. The count falls only when the
// creating thread processes a posted release message, so a window is never
// destroyed by another thread or while a release is still queued.
//
// Each call keeps its method and its outcome on the caller's stack, so calls of
// several threads through one synchroniser (a connection's status report from
// its worker and a handle-closing report from the firing thread) never see each
// other's state. A call that never ran on the creating thread (no window, the
// thread gone or its window destroyed) raises EclSynchronizeError: it must not
// pass for a call that ran.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <vector>

#include "platform/Messages.h"
#include "platform/Waits.h"
#include "rtl/Exceptions.h"

inline constexpr std::uint32_t WM_SYNC_RELEASE = 0x8FFC;
inline constexpr std::uint32_t WM_SYNC_EXECUTE = 0x8FFD;

class TclSynchronizerManager;

// A synchronised call that could not be delivered to the creating thread.
class EclSynchronizeError : public rtl::Exception {
 public:
  using rtl::Exception::Exception;
};

class TclThreadSynchronizer {
 public:
  using TclMethod = std::function<void()>;

  TclThreadSynchronizer();
  ~TclThreadSynchronizer();
  TclThreadSynchronizer(const TclThreadSynchronizer&) = delete;
  TclThreadSynchronizer& operator=(const TclThreadSynchronizer&) = delete;

  // Runs Method on the creating thread and waits; raises there-raised
  // exceptions here, and EclSynchronizeError when the call could not be
  // delivered. Any number of threads may call at once.
  void Synchronize(const TclMethod& method);

  std::uint32_t CreatorThreadId() const { return creatorThreadId_; }

 private:
  const std::uint32_t creatorThreadId_;
  // The window of the creating thread's record, looked up once: every call
  // would otherwise take the manager's lock, which all workers share.
  platform::HWND window_ = nullptr;
};

class TclSyncInfo {
 public:
  explicit TclSyncInfo(std::uint32_t threadId) : ThreadId(threadId) {}
  const std::uint32_t ThreadId;
  platform::HWND Window = nullptr;
  std::int32_t UseCount = 0;
};

class TclSynchronizerManager {
 public:
  TclSynchronizerManager() = default;
  // Removes the records still present, last first, destroying their windows.
  ~TclSynchronizerManager();

  void RegisterSynchronizer(TclThreadSynchronizer* synchronizer);
  void UnregisterSynchronizer(TclThreadSynchronizer* synchronizer);
  TclSyncInfo* FindSyncInfo(std::uint32_t threadId);
  // As FindSyncInfo; a missing record is an assertion failure.
  TclSyncInfo* GetSyncInfo(std::uint32_t threadId);
  // On the window's thread.
  void ReleaseSyncInfo(TclSyncInfo* info);

  // For tests and diagnostics.
  int RecordCount();

 private:
  TclSyncInfo* FindSyncInfoLocked(std::uint32_t threadId);
  TclSyncInfo* GetSyncInfoLocked(std::uint32_t threadId);
  void RemoveLocked(TclSyncInfo* info);

  platform::CriticalSection lock_;
  std::vector<std::unique_ptr<TclSyncInfo>> list_;
};

// The process-wide manager, made on first use and kept for the life of the process.
TclSynchronizerManager* SynchronizerManager();

platform::LRESULT SynchronizerWindowProc(platform::HWND window, std::uint32_t message,
                                         platform::WPARAM wParam, platform::LPARAM lParam);

// The name of the synchronisers' window class.
inline constexpr const char* kSynchronizerWindowClass = "TclThreadSynchronizerWindow";

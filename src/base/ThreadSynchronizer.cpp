#include "base/ThreadSynchronizer.h"

#include <algorithm>
#include <mutex>

#include "platform/Threads.h"
#include "rtl/Exceptions.h"

namespace {

// One synchronised call, on the caller's stack for as long as it waits.
struct TclSyncCall {
  const TclThreadSynchronizer::TclMethod* method;
  std::exception_ptr exception;
  bool ran = false;
};

platform::HWND CreateSynchronizerWindow() {
  platform::WndProc registered = nullptr;
  if (platform::GetClassInfo(kSynchronizerWindowClass, &registered)) {
    if (registered != &SynchronizerWindowProc) {
      platform::UnregisterClass(kSynchronizerWindowClass);
      platform::RegisterClass(kSynchronizerWindowClass, &SynchronizerWindowProc);
    }
  } else {
    platform::RegisterClass(kSynchronizerWindowClass, &SynchronizerWindowProc);
  }
  return platform::CreateWindow(kSynchronizerWindowClass);
}

}  // namespace

platform::LRESULT SynchronizerWindowProc(platform::HWND window, std::uint32_t message,
                                         platform::WPARAM wParam, platform::LPARAM lParam) {
  switch (message) {
    case WM_SYNC_RELEASE:
      SynchronizerManager()->ReleaseSyncInfo(reinterpret_cast<TclSyncInfo*>(lParam));
      return 0;
    case WM_SYNC_EXECUTE: {
      auto* call = reinterpret_cast<TclSyncCall*>(lParam);
      call->ran = true;
      try {
        if (*call->method) (*call->method)();
      } catch (...) {
        call->exception = std::current_exception();
      }
      return 0;
    }
    default:
      return platform::DefWindowProc(window, message, wParam, lParam);
  }
}

TclThreadSynchronizer::TclThreadSynchronizer() : creatorThreadId_(platform::CurrentThreadId()) {
  SynchronizerManager()->RegisterSynchronizer(this);
  // The record and its window stay as they are while this synchroniser is
  // registered: the count it holds falls only after its own release.
  window_ = SynchronizerManager()->GetSyncInfo(creatorThreadId_)->Window;
}

TclThreadSynchronizer::~TclThreadSynchronizer() {
  SynchronizerManager()->UnregisterSynchronizer(this);
}

void TclThreadSynchronizer::Synchronize(const TclMethod& method) {
  TclSyncCall call{&method, nullptr};
  platform::SendMessage(window_, WM_SYNC_EXECUTE, 0, reinterpret_cast<platform::LPARAM>(&call));
  if (call.exception) std::rethrow_exception(call.exception);
  if (!call.ran) {
    throw EclSynchronizeError(rtl::Format("Cannot synchronize with thread %u: its window is gone",
                                          static_cast<unsigned>(creatorThreadId_)));
  }
}

TclSynchronizerManager::~TclSynchronizerManager() {
  std::lock_guard lock(lock_);
  while (!list_.empty()) RemoveLocked(list_.back().get());
}

void TclSynchronizerManager::RegisterSynchronizer(TclThreadSynchronizer* synchronizer) {
  std::lock_guard lock(lock_);
  TclSyncInfo* info = FindSyncInfoLocked(synchronizer->CreatorThreadId());
  if (!info) {
    list_.push_back(std::make_unique<TclSyncInfo>(synchronizer->CreatorThreadId()));
    info = list_.back().get();
  }
  // A record whose window could not be made tries again at the next first use.
  if (info->UseCount == 0) info->Window = CreateSynchronizerWindow();
  ++info->UseCount;
}

void TclSynchronizerManager::UnregisterSynchronizer(TclThreadSynchronizer* synchronizer) {
  std::lock_guard lock(lock_);
  // Runs from destructors: a record already gone is nothing to release.
  TclSyncInfo* info = FindSyncInfoLocked(synchronizer->CreatorThreadId());
  if (info == nullptr) return;
  platform::PostMessage(info->Window, WM_SYNC_RELEASE, 0, reinterpret_cast<platform::LPARAM>(info));
}

TclSyncInfo* TclSynchronizerManager::FindSyncInfo(std::uint32_t threadId) {
  std::lock_guard lock(lock_);
  return FindSyncInfoLocked(threadId);
}

TclSyncInfo* TclSynchronizerManager::GetSyncInfo(std::uint32_t threadId) {
  std::lock_guard lock(lock_);
  return GetSyncInfoLocked(threadId);
}

TclSyncInfo* TclSynchronizerManager::FindSyncInfoLocked(std::uint32_t threadId) {
  for (const auto& info : list_) {
    if (info->ThreadId == threadId) return info.get();
  }
  return nullptr;
}

TclSyncInfo* TclSynchronizerManager::GetSyncInfoLocked(std::uint32_t threadId) {
  TclSyncInfo* info = FindSyncInfoLocked(threadId);
  rtl::Assert(info != nullptr, "Cannot find SyncInfo for the specified thread synchronizer",
              "clDCUtils", 513);
  return info;
}

void TclSynchronizerManager::ReleaseSyncInfo(TclSyncInfo* info) {
  std::lock_guard lock(lock_);
  // A release can outlive its record only when the manager already removed it.
  if (std::none_of(list_.begin(), list_.end(), [info](const auto& p) { return p.get() == info; }))
    return;
  --info->UseCount;
  if (info->UseCount == 0 && info->Window != nullptr) RemoveLocked(info);
}

void TclSynchronizerManager::RemoveLocked(TclSyncInfo* info) {
  if (info->Window) platform::DestroyWindow(info->Window);
  list_.erase(
      std::remove_if(list_.begin(), list_.end(), [info](const auto& p) { return p.get() == info; }),
      list_.end());
}

int TclSynchronizerManager::RecordCount() {
  std::lock_guard lock(lock_);
  return static_cast<int>(list_.size());
}

TclSynchronizerManager* SynchronizerManager() {
  // Never destroyed: a worker that frees itself may still unregister its
  // synchroniser while the process is ending.
  static auto* manager = new TclSynchronizerManager;
  return manager;
}

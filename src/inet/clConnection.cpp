#include "inet/clConnection.h"

#include <algorithm>
#include <chrono>

#include "inet/clWinInet.h"
#include "platform/Messages.h"
#include "platform/Threads.h"
#include "base/ThreadSynchronizer.h"

// The private worker: runs the current action each time StartEvent is set,
// until TerminateEvent is set.
class TclConnectionWorker : public platform::Thread {
 public:
  explicit TclConnectionWorker(TclInternetConnection* connection)
      : platform::Thread(true), connection_(connection) {}

 protected:
  void Execute() override {
    const std::vector<platform::Handle> events{connection_->startEvent_,
                                               connection_->terminateEvent_};
    for (;;) {
      if (platform::WaitForMultipleObjects(events, false, platform::kInfinite) !=
          platform::kWaitObject0)
        return;
      TclInternetAction* action = connection_->current_.load();
      if (action == nullptr) continue;
      try {
        action->Execute();
      } catch (...) {
        // A failing call is recorded by the action; anything else must not end
        // the worker, and the firing thread still needs its DoneEvent.
      }
      connection_->doneEvent_->Set();
    }
  }

 private:
  TclInternetConnection* const connection_;
};

TclInternetConnection::TclInternetConnection(rtl::Component* owner)
    : rtl::Component(owner),
      // The events exist from the start, so that an Abort before the first fire
      // stays pending for it.
      turnEvent_(platform::CreateEvent(false, true)),
      startEvent_(platform::CreateEvent(false, false)),
      abortEvent_(platform::CreateEvent(false, false)),
      doneEvent_(platform::CreateEvent(false, false)),
      terminateEvent_(platform::CreateEvent(false, false)),
      synchronizer_(std::make_unique<TclThreadSynchronizer>()) {}

TclInternetConnection::~TclInternetConnection() {
  destroying_.store(true);
  abortEvent_->Set();
  FreeListedActions(false);
  terminateEvent_->Set();
  if (worker_) {
    worker_->WaitFor();
    worker_.reset();
  }
  synchronizer_.reset();
}

void TclInternetConnection::Close() {
  if (destroying_.load()) return;
  // Freeing closes handles the running call may work under: wait until it is done.
  TakeTurn(-1);
  struct GiveBack {
    platform::Event& turn;
    ~GiveBack() { turn.Set(); }
  } giveBack{*turnEvent_};
  // An action another user holds between its fires is still in use: only
  // that user may free it.
  FreeListedActions(true);
}

void TclInternetConnection::FreeListedActions(bool sparingHeld) {
  for (;;) {
    TclInternetAction* action = nullptr;
    {
      std::lock_guard<std::mutex> guard(listLock_);
      for (TclInternetAction* listed : actions_) {
        if (sparingHeld && listed->Held()) continue;
        action = listed;
        break;
      }
      if (action == nullptr) break;
    }
    delete action;  // unlists itself
    std::lock_guard<std::mutex> guard(listLock_);
    auto it = std::find(actions_.begin(), actions_.end(), action);
    if (it != actions_.end()) actions_.erase(it);
  }
}

bool TclInternetConnection::TakeTurn(int timeOut) {
  DWORD wait = timeOut < 0 ? platform::kInfinite : static_cast<DWORD>(timeOut);
  return platform::WaitServingMessages(turnEvent_, wait) == platform::kWaitObject0;
}

void TclInternetConnection::EnsureWorker() {
  if (worker_) return;
  worker_ = std::make_unique<TclConnectionWorker>(this);
  worker_->Start();
}

void TclInternetConnection::FireAction(TclInternetAction* action, int timeOut) {
  if (destroying_.load()) return;
  // Waiting for the turn has its own limit: were it charged to the action, an
  // action started late would be cancelled early, and a cancel closes the root
  // every sharer works under.
  if (!TakeTurn(timeOut)) {
    throw EclTimeoutInternetError(InternetMessages().RequestTimeout,
                                  static_cast<std::int32_t>(platform::kWaitTimeout));
  }
  current_.store(action);
  struct EndTurn {
    std::atomic<TclInternetAction*>& current;
    platform::Event& turn;
    ~EndTurn() {
      current.store(nullptr);
      turn.Set();
    }
  } endTurn{current_, *turnEvent_};

  DoBeforeFireAction(action);
  EnsureWorker();
  // The worker runs only while this thread waits for it: sharing a processor
  // spares waking an idle one twice per action.
  worker_->RunNearCaller();
  startEvent_->Set();

  // Waits for DoneEvent or AbortEvent (DoneEvent wins when both are set) while
  // serving messages sent to this thread.
  using Clock = std::chrono::steady_clock;
  const bool unlimited = timeOut < 0;
  const Clock::time_point deadline =
      Clock::now() + std::chrono::milliseconds(unlimited ? 0 : timeOut);
  const std::vector<platform::Handle> events{doneEvent_, abortEvent_};
  DWORD result;
  for (;;) {
    DWORD wait = platform::kInfinite;
    if (!unlimited) {
      auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      wait = left > 0 ? static_cast<DWORD>(left) : 0;
    }
    result = platform::MsgWaitForMultipleObjects(events, false, wait, platform::kQsSendMessage);
    if (result != platform::kWaitObject0 + events.size()) break;
    platform::Message message;
    platform::PeekMessage(message, false);
  }

  if (result == platform::kWaitObject0) {
    DoAfterFireAction(action);
    auto* open = dynamic_cast<TclInternetOpenAction*>(action);
    if (open != nullptr && open->Handle() != nullptr && onStatusCallback_ && !destroying_.load()) {
      clWinInet::InternetSetStatusCallback(open->Handle(),
                                           &TclInternetConnection::StatusCallbackProc);
    }
    return;
  }
  // Aborted, timed out or the wait failed: close the handle the call works
  // under and let the call return before anything else happens.
  action->Cancel();
  WaitForDone();
  if (result == platform::kWaitObject0 + 1) return;
  throw EclTimeoutInternetError(InternetMessages().RequestTimeout,
                                static_cast<std::int32_t>(platform::kWaitTimeout));
}

void TclInternetConnection::WaitForDone() {
  platform::WaitServingMessages(doneEvent_, platform::kInfinite);
}

void TclInternetConnection::Abort() {
  abortEvent_->Set();
}

void TclInternetConnection::NotifyHandleClosed(HINTERNET handle) {
  if (destroying_.load()) return;
  TclInternetAction* current = current_.load();
  // Under the list lock: another sharer of the connection may be freeing its
  // actions meanwhile, and a listed action is alive until it has unlisted itself.
  std::lock_guard<std::mutex> guard(listLock_);
  for (TclInternetAction* action : actions_) {
    if (action != current) action->HandleClosed(handle);
  }
  // The library closes every handle made beneath a closed one: what works under
  // any of them is dead as well.
  std::vector<HINTERNET> closed{handle};
  for (std::size_t i = 0; i < closed.size(); ++i) {
    for (TclInternetAction* action : actions_) {
      if (action->parentClosed_.load() || !action->WorksUnder(closed[i])) continue;
      action->MarkParentClosed();
      auto* resource = dynamic_cast<TclInternetResourceAction*>(action);
      if (resource != nullptr && resource->Handle() != nullptr)
        closed.push_back(resource->Handle());
    }
  }
}

TclInternetAction* TclInternetConnection::FindFirst(
    const std::function<bool(TclInternetAction*)>& accept) {
  if (destroying_.load()) return nullptr;
  std::lock_guard<std::mutex> guard(listLock_);
  for (TclInternetAction* action : actions_) {
    if (accept(action)) return action;
  }
  return nullptr;
}

TclInternetAction* TclInternetConnection::FindActionByHandle(HINTERNET handle) {
  return FindFirst([handle](TclInternetAction* action) {
    auto* resource = dynamic_cast<TclInternetResourceAction*>(action);
    return resource != nullptr && resource->Handle() == handle;
  });
}

int TclInternetConnection::ActionCount() {
  std::lock_guard<std::mutex> guard(listLock_);
  return static_cast<int>(actions_.size());
}

TclInternetAction* TclInternetConnection::Actions(int index) {
  std::lock_guard<std::mutex> guard(listLock_);
  return actions_.at(static_cast<std::size_t>(index));
}

void TclInternetConnection::AddAction(TclInternetAction* action) {
  {
    std::lock_guard<std::mutex> guard(listLock_);
    actions_.push_back(action);
  }
  DoActionAdded(action);
}

void TclInternetConnection::RemoveAction(TclInternetAction* action) {
  {
    std::lock_guard<std::mutex> guard(listLock_);
    auto it = std::find(actions_.begin(), actions_.end(), action);
    if (it == actions_.end()) return;
    actions_.erase(it);
  }
  DoActionRemoved(action);
}

void TclInternetConnection::RunOnCreatingThread(const std::function<void()>& handler) {
  synchronizer_->Synchronize(handler);
}

void TclInternetConnection::DoActionAdded(TclInternetAction* action) {
  if (onActionAdded_) RunOnCreatingThread([this, action] { onActionAdded_(this, action); });
}

void TclInternetConnection::DoActionRemoved(TclInternetAction* action) {
  if (onActionRemoved_) RunOnCreatingThread([this, action] { onActionRemoved_(this, action); });
}

void TclInternetConnection::DoBeforeFireAction(TclInternetAction* action) {
  if (onBeforeFireAction_)
    RunOnCreatingThread([this, action] { onBeforeFireAction_(this, action); });
}

void TclInternetConnection::DoAfterFireAction(TclInternetAction* action) {
  if (onAfterFireAction_) RunOnCreatingThread([this, action] { onAfterFireAction_(this, action); });
}

void TclInternetConnection::DoStatusCallback(TclInternetAction* action, DWORD internetStatus,
                                             void* statusInformation,
                                             DWORD statusInformationLength) {
  if (onStatusCallback_) {
    RunOnCreatingThread([=, this] {
      onStatusCallback_(this, action, internetStatus, statusInformation, statusInformationLength);
    });
  }
}

void TclInternetConnection::StatusCallbackProc(HINTERNET handle, DWORD_PTR context, DWORD status,
                                               LPVOID information, DWORD informationLength) {
  auto* connection = reinterpret_cast<TclInternetConnection*>(context);
  if (connection == nullptr) return;
  // The library's thread cannot take an exception from a handler.
  try {
    connection->DoStatusCallback(connection->FindActionByHandle(handle), status, information,
                                 informationLength);
  } catch (...) {
  }
}

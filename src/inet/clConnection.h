// The internet connection: runs the library's blocking calls (actions) one at a
// time on a private worker thread, with a time-out, and keeps the live actions
// so that their handles can be found again and closing a handle can be made
// known to every action that holds a copy of it.
//
// Threads:
// - the creating thread owns the component and runs every event handler (the
//   synchroniser made at construction hands them over, the raising thread waits);
// - firing threads call FireAction, the finders and NotifyHandleClosed. Several
//   may share one connection: their fires take turns (one action runs at a
//   time), and a fire that cannot get its turn within its time-out raises the
//   time-out error without running;
// - the worker thread, started on the first fire, runs Action::Execute;
// - Abort may be called from any thread; it cancels the running action (or the
//   next one fired when none is running).
// While it waits for its turn or for an action, a firing thread serves messages
// sent to it, so that handlers of a connection created on a firing thread can
// run while another thread or the worker raises a notification.
//
// Close frees the listed actions once no action is running; a later fire starts
// again from the root. Destruction aborts, frees the actions still listed, ends
// the worker and waits for it; no action may be firing at that moment.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <typeinfo>
#include <vector>

#include "inet/InternetAction.h"
#include "inet/InternetActions.h"
#include "platform/Waits.h"
#include "rtl/Component.h"

class TclThreadSynchronizer;
class TclConnectionWorker;

using TclActionEvent =
    std::function<void(TclInternetConnection* sender, TclInternetAction* action)>;
using TclStatusCallbackEvent = std::function<void(
    TclInternetConnection* sender, TclInternetAction* action, DWORD internetStatus,
    void* statusInformation, DWORD statusInformationLength)>;

class TclInternetConnection : public rtl::Component {
 public:
  explicit TclInternetConnection(rtl::Component* owner = nullptr);
  ~TclInternetConnection() override;

  std::string ClassName() const override { return "TclInternetConnection"; }

  // Runs Action on the worker thread and waits up to TimeOut ms (-1: no limit).
  // On time-out the action is cancelled, its call allowed to return, and
  // EclTimeoutInternetError ("Request timeout", 258) raised. An abort cancels the
  // action the same way but raises nothing here.
  void FireAction(TclInternetAction* action, int timeOut);
  // Asks the firing thread to cancel the running action, or the next one fired
  // when none is running.
  void Abort();
  // Tells every listed action except the running one that Handle was closed, and
  // marks stale every action that works under it or under a handle produced
  // beneath it (the library closes those with it).
  void NotifyHandleClosed(HINTERNET handle);
  // Frees every listed action (closing the handles they hold) after the running
  // action, if any, has finished; the worker stays for later fires. Actions a
  // user holds (TakeAction, TclInternetAction::TryHold) are spared: they are
  // still in use between fires, and their user frees them.
  void Close();

  // The first listed action of the given class or a class derived from it that
  // is not stale (see TclInternetAction::Stale): a kept action whose handles are
  // gone is never handed out again, so a later attempt starts from the root.
  template <class T>
  T* FindAction() {
    return dynamic_cast<T*>(FindFirst([](TclInternetAction* action) {
      return dynamic_cast<T*>(action) != nullptr && !action->Stale();
    }));
  }
  // As FindAction, but only an action nobody holds, which the caller then
  // holds (TclInternetAction::TryHold) until it frees it or lets it go: how
  // users of one connection keep their actions to themselves.
  template <class T>
  T* TakeAction() {
    return TakeAction<T>([](T*) { return true; });
  }
  // Only an action for which Accept holds.
  template <class T, class Accept>
  T* TakeAction(Accept accept) {
    std::lock_guard<std::mutex> guard(takeLock_);
    return TakeLocked<T>(accept);
  }
  // Takes an action as TakeAction does or, when there is none, makes one with
  // Make and holds it before any other user can take it. Made tells which.
  // Make runs under the lock of takers: it must not wait for another taker.
  template <class T, class Accept, class Make>
  T* TakeOrMake(Accept accept, Make make, bool& made) {
    std::lock_guard<std::mutex> guard(takeLock_);
    made = false;
    if (T* taken = TakeLocked<T>(accept)) return taken;
    T* action = make();
    action->TryHold();
    made = true;
    return action;
  }
  // The first listed resource action whose Handle is Handle.
  TclInternetAction* FindActionByHandle(HINTERNET handle);

  int ActionCount();
  TclInternetAction* Actions(int index);
  TclInternetAction* CurrentAction() const { return current_.load(); }

  const TclActionEvent& OnActionAdded() const { return onActionAdded_; }
  void SetOnActionAdded(TclActionEvent handler) { onActionAdded_ = std::move(handler); }
  const TclActionEvent& OnActionRemoved() const { return onActionRemoved_; }
  void SetOnActionRemoved(TclActionEvent handler) { onActionRemoved_ = std::move(handler); }
  const TclActionEvent& OnBeforeFireAction() const { return onBeforeFireAction_; }
  void SetOnBeforeFireAction(TclActionEvent handler) { onBeforeFireAction_ = std::move(handler); }
  const TclActionEvent& OnAfterFireAction() const { return onAfterFireAction_; }
  void SetOnAfterFireAction(TclActionEvent handler) { onAfterFireAction_ = std::move(handler); }
  const TclStatusCallbackEvent& OnStatusCallback() const { return onStatusCallback_; }
  void SetOnStatusCallback(TclStatusCallbackEvent handler) {
    onStatusCallback_ = std::move(handler);
  }

 protected:
  virtual void DoActionAdded(TclInternetAction* action);
  virtual void DoActionRemoved(TclInternetAction* action);
  virtual void DoBeforeFireAction(TclInternetAction* action);
  virtual void DoAfterFireAction(TclInternetAction* action);
  virtual void DoStatusCallback(TclInternetAction* action, DWORD internetStatus,
                                void* statusInformation, DWORD statusInformationLength);

 private:
  friend class TclInternetAction;
  friend class TclConnectionWorker;

  static void StatusCallbackProc(HINTERNET handle, DWORD_PTR context, DWORD status,
                                 LPVOID information, DWORD informationLength);

  void AddAction(TclInternetAction* action);
  void RemoveAction(TclInternetAction* action);
  // The first listed action that Accept takes, looked at under the list lock so
  // that no action can be freed meanwhile.
  TclInternetAction* FindFirst(const std::function<bool(TclInternetAction*)>& accept);
  template <class T, class Accept>
  T* TakeLocked(Accept& accept) {
    return dynamic_cast<T*>(FindFirst([&accept](TclInternetAction* action) {
      auto* typed = dynamic_cast<T*>(action);
      return typed != nullptr && !action->Stale() && accept(typed) && action->TryHold();
    }));
  }
  std::mutex takeLock_;  // makes taking and making-and-holding one step
  // Waits for this thread's turn to fire, serving sent messages; false when it
  // did not come within timeOut ms (-1: no limit).
  bool TakeTurn(int timeOut);
  void FreeListedActions(bool sparingHeld);
  void EnsureWorker();
  // Runs Handler on the creating thread and waits for it.
  void RunOnCreatingThread(const std::function<void()>& handler);
  void WaitForDone();

  std::mutex listLock_;
  std::vector<TclInternetAction*> actions_;  // guarded by listLock_
  std::atomic<bool> destroying_{false};
  std::atomic<TclInternetAction*> current_{nullptr};

  // Set while no fire holds the turn; auto-reset, so one waiter takes it.
  std::shared_ptr<platform::Event> turnEvent_;
  std::shared_ptr<platform::Event> startEvent_;
  std::shared_ptr<platform::Event> abortEvent_;
  std::shared_ptr<platform::Event> doneEvent_;
  std::shared_ptr<platform::Event> terminateEvent_;
  std::unique_ptr<TclConnectionWorker> worker_;
  std::unique_ptr<TclThreadSynchronizer> synchronizer_;

  TclActionEvent onActionAdded_;
  TclActionEvent onActionRemoved_;
  TclActionEvent onBeforeFireAction_;
  TclActionEvent onAfterFireAction_;
  TclStatusCallbackEvent onStatusCallback_;
};

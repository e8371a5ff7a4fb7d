// The base of every action: one blocking call of the internet client library
// that a connection runs on its private worker thread (see clConnection.h).
//
// Threads: an action is created, fired, cancelled and destroyed on the firing
// thread (a download worker). Execute runs on the connection's worker thread
// while the firing thread waits; ErrorCode/ErrorText are written there and read
// by the firing thread after the call has returned. Cancel may race with a
// blocked Execute: the lock guards ParentHandle so that the handle is closed once.
//
// Ownership: whoever creates an action frees it. An action still listed when
// its connection is destroyed is freed by the connection (that is how actions
// kept for the next user of a connection are released).
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "platform/inet/InetClient.h"

class TclInternetConnection;

class TclInternetAction {
 public:
  TclInternetAction(TclInternetConnection* connection, HINTERNET parentHandle);
  // Unlists itself (raising OnActionRemoved). ParentHandle is not closed: it
  // belongs to the action that produced it.
  virtual ~TclInternetAction();
  TclInternetAction(const TclInternetAction&) = delete;
  TclInternetAction& operator=(const TclInternetAction&) = delete;

  // Another action closed Handle.
  virtual void HandleClosed(HINTERNET handle);
  // Performs the call, on the connection's worker thread. The base form records
  // the worker thread's last error and its text.
  virtual void Execute();

  // Runs the action through its connection, waiting at most TimeOut ms (-1 =
  // no limit). Raises EclTimeoutInternetError ("Request timeout", 258) when the
  // call did not finish in time, and EclInternetError when it failed.
  void Fire(int timeOut);
  // Closes ParentHandle (after telling the other actions), which makes a call
  // blocked under it return; later cancels do nothing.
  void Cancel();

  TclInternetConnection* Connection() const { return connection_; }
  HINTERNET ParentHandle() const;

  // True once a handle the call works under was closed (by a cancel, or as a
  // descendant of a closed handle): firing it again can only fail, so the
  // connection's finders never hand it out.
  virtual bool Stale() const { return parentClosed_.load(); }
  // True when Handle is one the call works under: ParentHandle, and the handle
  // passed to the call itself.
  virtual bool WorksUnder(HINTERNET handle) const;
  std::int32_t ErrorCode() const { return errorCode_; }
  const std::string& ErrorText() const { return errorText_; }

  // Whether a user of a shared connection holds the action: it made it, or it
  // took it with TakeAction and has not let it go. A held action is never
  // handed to another user, so two users never fire or free one action.
  // Makers that share a connection claim their new actions through
  // TclInternetConnection::TakeOrMake, so none is taken before its maker holds it.
  bool TryHold() {
    bool expected = false;
    return held_.compare_exchange_strong(expected, true);
  }
  void LetGo() { held_.store(false); }
  bool Held() const { return held_.load(); }

 protected:
  // Lists the action in its connection and raises OnActionAdded. Each concrete
  // constructor calls it last, so that handlers see a fully built action.
  void Register();
  // Unlists the action and raises OnActionRemoved; later calls do nothing.
  // Each concrete destructor calls it first, so handlers still see the whole
  // action; the base destructor catches the rest.
  void Unregister();

 private:
  friend class TclInternetConnection;
  void MarkParentClosed() { parentClosed_.store(true); }

  TclInternetConnection* const connection_;
  mutable std::mutex lock_;
  HINTERNET parentHandle_;  // guarded by lock_
  std::atomic<bool> parentClosed_{false};
  bool registered_ = false;
  std::atomic<bool> held_{false};
  std::int32_t errorCode_ = 0;
  std::int32_t replyCode_ = 0;  // the server's reply code of an extended error
  std::string errorText_;
};

// An action whose call produces a handle; destroying it closes that handle.
//
// Handle is written on the worker thread (Execute) and on the firing thread
// (HandleClosed while a cancel is announced), and read by status notifications,
// which the library delivers on whichever thread makes or closes a handle; so it
// is atomic.
class TclInternetResourceAction : public TclInternetAction {
 public:
  using TclInternetAction::TclInternetAction;
  ~TclInternetResourceAction() override;

  // Forgets (does not close) Handle when it is the one that was closed.
  void HandleClosed(HINTERNET handle) override;

  HINTERNET Handle() const { return handle_.load(); }
  // Also stale when it holds no handle (never produced, or forgotten after it
  // was closed).
  bool Stale() const override { return TclInternetAction::Stale() || Handle() == nullptr; }

  // Records the last error when the call produced no handle.
  void Execute() override;

 protected:
  void SetHandle(HINTERNET handle) { handle_.store(handle); }
  // Closes Handle when set, then unlists; for the concrete destructors.
  void Release();

 private:
  std::atomic<HINTERNET> handle_{nullptr};
};

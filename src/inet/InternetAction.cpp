#include "inet/InternetAction.h"

#include "inet/InternetErrors.h"
#include "inet/clConnection.h"
#include "inet/clWinInet.h"
#include "platform/LastError.h"
#include "rtl/Exceptions.h"

TclInternetAction::TclInternetAction(TclInternetConnection* connection, HINTERNET parentHandle)
    : connection_(connection), parentHandle_(parentHandle) {}

TclInternetAction::~TclInternetAction() {
  Unregister();
}

void TclInternetAction::Register() {
  if (registered_ || connection_ == nullptr) return;
  registered_ = true;
  connection_->AddAction(this);
}

void TclInternetAction::Unregister() {
  if (!registered_) return;
  registered_ = false;
  // Runs from destructors, which cannot pass a handler's exception on.
  try {
    connection_->RemoveAction(this);
  } catch (...) {
  }
}

HINTERNET TclInternetAction::ParentHandle() const {
  std::lock_guard<std::mutex> guard(lock_);
  return parentHandle_;
}

void TclInternetAction::HandleClosed(HINTERNET) {}

bool TclInternetAction::WorksUnder(HINTERNET handle) const {
  return handle != nullptr && ParentHandle() == handle;
}

void TclInternetAction::Execute() {
  errorCode_ = static_cast<std::int32_t>(platform::GetLastError());
  replyCode_ = 0;
  if (errorCode_ == static_cast<std::int32_t>(ERROR_INTERNET_EXTENDED_ERROR)) {
    // The server's reply code tells a refused login or a missing file from a
    // passing trouble; the library keeps it for this thread only.
    DWORD reply = 0;
    DWORD length = 0;
    clWinInet::InternetGetLastResponseInfoA(&reply, nullptr, &length);
    replyCode_ = static_cast<std::int32_t>(reply);
  }
  errorText_ = clWinInet::GetInternetErrorText(errorCode_);
}

void TclInternetAction::Fire(int timeOut) {
  errorCode_ = 0;
  replyCode_ = 0;
  errorText_.clear();
  rtl::Assert(connection_ != nullptr, "Assertion failure", "clConnection", 631);
  connection_->FireAction(this, timeOut);
  if (!errorText_.empty()) {
    throw EclInternetError(errorText_, errorCode_, LibraryFailureKind(errorCode_, replyCode_));
  }
}

void TclInternetAction::Cancel() {
  HINTERNET handle;
  {
    std::lock_guard<std::mutex> guard(lock_);
    handle = parentHandle_;
    parentHandle_ = nullptr;
  }
  if (handle == nullptr) return;
  MarkParentClosed();
  if (connection_ != nullptr) connection_->NotifyHandleClosed(handle);
  clWinInet::InternetCloseHandle(handle);
}

TclInternetResourceAction::~TclInternetResourceAction() {
  Release();
}

void TclInternetResourceAction::Release() {
  HINTERNET handle = handle_.load();
  if (handle != nullptr) {
    clWinInet::InternetCloseHandle(handle);
    handle_.store(nullptr);
  }
  Unregister();
}

void TclInternetResourceAction::HandleClosed(HINTERNET handle) {
  // Forgets only the handle that was closed; a newer one stays.
  HINTERNET expected = handle;
  handle_.compare_exchange_strong(expected, nullptr);
}

void TclInternetResourceAction::Execute() {
  if (handle_.load() == nullptr) TclInternetAction::Execute();
}

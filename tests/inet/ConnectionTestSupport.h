// Helpers of the connection tests: an action whose call blocks until the handle
// it works under is closed, like a send or read against a silent server.
#pragma once

#include <chrono>
#include <thread>

#include "inet/clConnection.h"
#include "inet/clWinInet.h"

namespace inet_test {

// Polls the parent handle with a cheap call that fails once the handle (or its
// root) is closed; gives up after five seconds so a broken cancel cannot hang.
class BlockingAction final : public TclInternetAction {
 public:
  BlockingAction(TclInternetConnection* connection, HINTERNET parentHandle)
      : TclInternetAction(connection, parentHandle), watched_(parentHandle) {
    Register();
  }
  void Execute() override {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (std::chrono::steady_clock::now() < deadline) {
      if (!clWinInet::HttpSendRequestA(watched_, nullptr, 0, nullptr, 0)) {
        TclInternetAction::Execute();
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }

 private:
  HINTERNET watched_;
};

// An action whose Execute raises.
class ThrowingAction final : public TclInternetAction {
 public:
  explicit ThrowingAction(TclInternetConnection* connection) : TclInternetAction(connection, nullptr) {
    Register();
  }
  void Execute() override { throw std::runtime_error("broken call"); }
};

}  // namespace inet_test

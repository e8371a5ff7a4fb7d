// One connection shared by two firing threads, over the real internet client
// library against the fault-injecting server on 127.0.0.1: their fires take
// turns, each gets its own result, a fire that cannot get its turn in time raises
// the time-out error without running, Abort still cancels the running action,
// and Close waits for it.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "inet/clConnection.h"
#include "inet/clWinInet.h"
#include "support/FaultServer.h"
#include "support/TempDir.h"

namespace {

using testing_support::FaultRoute;
using testing_support::FaultServer;

// Counts how many probes run at once on the connection's worker.
class ProbeAction final : public TclInternetAction {
 public:
  ProbeAction(TclInternetConnection* connection, std::atomic<int>& running, std::atomic<int>& most,
              std::atomic<int>& runs)
      : TclInternetAction(connection, nullptr), running_(running), most_(most), runs_(runs) {
    Register();
  }
  ~ProbeAction() override { Unregister(); }
  void Execute() override {
    int now = ++running_;
    int seen = most_.load();
    while (now > seen && !most_.compare_exchange_weak(seen, now)) {
    }
    ++runs_;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    --running_;
  }

 private:
  std::atomic<int>& running_;
  std::atomic<int>& most_;
  std::atomic<int>& runs_;
};

class SharedConnectionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    clWinInet::SetInternetLibraryName(clWinInet::kDefaultInternetLibraryName);
    connection = std::make_unique<TclInternetConnection>();
    for (int i = 0; i < 2; ++i) {
      FaultRoute route;
      route.body = testing_support::RandomBytes(200000, static_cast<unsigned>(i + 1));
      bodies.push_back(route.body);
      server.Route("/file" + std::to_string(i), route);
    }
    FaultRoute stalled;
    stalled.body = "never";
    stalled.stallBeforeHeaders = true;
    server.Route("/stalled", stalled);
    // The root and the connection are shared, as the items of one control share them.
    open = std::make_unique<TclInternetOpenAction>(connection.get(), "shared agent",
                                                   INTERNET_OPEN_TYPE_PRECONFIG, "", "", 0);
    open->Fire(-1);
    connect = std::make_unique<TclConnectAction>(connection.get(), open->Handle(), "127.0.0.1",
                                                 static_cast<INTERNET_PORT>(server.Port()), "", "",
                                                 INTERNET_SERVICE_HTTP, 0);
    connect->Fire(5000);
  }
  void TearDown() override {
    server.ReleaseStalls();
    connect.reset();
    open.reset();
    connection.reset();
  }

  std::unique_ptr<TclHttpOpenRequestAction> OpenRequest(const std::string& path) {
    auto request = std::make_unique<TclHttpOpenRequestAction>(connection.get(), open->Handle(),
                                                              connect->Handle(), "GET", path, "",
                                                              "", nullptr, INTERNET_FLAG_RELOAD);
    request->Fire(5000);
    return request;
  }
  // A whole transfer through the shared connection, read in small blocks so the
  // two threads' reads interleave, with a probe fired between the blocks.
  std::string Download(const std::string& path, ProbeAction& probe) {
    auto request = OpenRequest(path);
    TclHttpSendRequestAction send(connection.get(), open->Handle(), request->Handle(), "", nullptr,
                                  0);
    send.Fire(5000);
    std::vector<char> buffer(4096);
    TclInternetReadFileAction read(connection.get(), open->Handle(), request->Handle(),
                                   buffer.data());
    std::string body;
    for (;;) {
      read.SetBytesToRead(static_cast<DWORD>(buffer.size()));
      read.Fire(5000);
      if (read.BytesRead() == 0) return body;
      body.append(buffer.data(), read.BytesRead());
      probe.Fire(5000);
    }
  }

  FaultServer server;
  std::vector<std::string> bodies;
  std::unique_ptr<TclInternetConnection> connection;
  std::unique_ptr<TclInternetOpenAction> open;
  std::unique_ptr<TclConnectAction> connect;
  std::atomic<int> running{0};
  std::atomic<int> most{0};
  std::atomic<int> runs{0};
};

TEST_F(SharedConnectionTest, TwoThreadsDownloadTheirOwnBytesOneActionAtATime) {
  std::vector<std::string> received(2);
  std::vector<std::string> errors(2);
  std::vector<std::thread> threads;
  for (int i = 0; i < 2; ++i) {
    threads.emplace_back([&, i] {
      ProbeAction probe(connection.get(), running, most, runs);
      try {
        for (int round = 0; round < 3; ++round) {
          std::string body = Download("/file" + std::to_string(i), probe);
          if (body != bodies[static_cast<std::size_t>(i)]) {
            errors[static_cast<std::size_t>(i)] = "wrong bytes in round " + std::to_string(round);
            return;
          }
        }
        received[static_cast<std::size_t>(i)] = "ok";
      } catch (const EclInternetError& e) {
        errors[static_cast<std::size_t>(i)] =
            e.Message() + " (" + std::to_string(e.ErrorCode()) + ")";
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(errors, (std::vector<std::string>{"", ""}));
  EXPECT_EQ(received, (std::vector<std::string>{"ok", "ok"}));
  EXPECT_EQ(most.load(), 1);
  EXPECT_GT(runs.load(), 100);
  EXPECT_EQ(connection->CurrentAction(), nullptr);
  EXPECT_EQ(server.Requests().size(), 6u);
}

TEST_F(SharedConnectionTest, FireThatWaitsForItsTurnBeyondItsTimeOutRaisesWithoutRunning) {
  auto request = OpenRequest("/stalled");
  TclHttpSendRequestAction send(connection.get(), open->Handle(), request->Handle(), "", nullptr,
                                0);
  std::atomic<bool> sendRaised{false};
  std::atomic<int> sendError{-1};
  std::thread sender([&] {
    try {
      send.Fire(-1);
    } catch (const EclTimeoutInternetError&) {
      sendError = -2;  // an abort is not a time-out
    } catch (const EclInternetError& e) {
      sendError = e.ErrorCode();
    }
    sendRaised = true;
  });
  while (connection->CurrentAction() != &send)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));

  ProbeAction probe(connection.get(), running, most, runs);
  try {
    probe.Fire(200);
    ADD_FAILURE() << "the probe ran while the send held the connection";
  } catch (const EclTimeoutInternetError& e) {
    EXPECT_EQ(e.Message(), "Request timeout");
    EXPECT_EQ(e.ErrorCode(), 258);
  }
  EXPECT_EQ(runs.load(), 0);
  EXPECT_FALSE(sendRaised.load());
  EXPECT_EQ(connection->CurrentAction(), &send);

  // Abort cancels the action that is running, not the one that gave up waiting.
  connection->Abort();
  sender.join();
  EXPECT_EQ(sendError.load(), static_cast<int>(ERROR_INTERNET_OPERATION_CANCELLED));
  EXPECT_EQ(connection->CurrentAction(), nullptr);
}

TEST_F(SharedConnectionTest, CloseWaitsForTheRunningActionOfAnotherThread) {
  // The sender's actions are kept on the connection: Close frees them.
  auto* request = OpenRequest("/stalled").release();
  auto* send = std::make_unique<TclHttpSendRequestAction>(connection.get(), open->Handle(),
                                                          request->Handle(), "", nullptr, 0)
                   .release();
  std::atomic<bool> sendReturned{false};
  std::thread sender([&] {
    EXPECT_THROW(send->Fire(300), EclTimeoutInternetError);
    sendReturned = true;
  });
  while (connection->CurrentAction() != send)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  // The fixture's root and connection are listed too: they go with the rest.
  open.release();
  connect.release();
  connection->Close();
  EXPECT_EQ(connection->ActionCount(), 0);
  EXPECT_EQ(connection->CurrentAction(), nullptr);
  sender.join();
  EXPECT_TRUE(sendReturned.load());

  // Firing goes on from a new root.
  TclInternetOpenAction again(connection.get(), "again", INTERNET_OPEN_TYPE_PRECONFIG, "", "", 0);
  again.Fire(-1);
  EXPECT_NE(again.Handle(), nullptr);
}

}  // namespace

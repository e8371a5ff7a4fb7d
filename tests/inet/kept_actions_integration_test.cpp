// Actions kept on a connection for the next attempt, over the real internet client
// library against the fault-injecting server: a time-out closes the root, and the
// next attempt must start again from it instead of reusing dead handles; closing
// the connection frees what it keeps.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "inet/clConnection.h"
#include "inet/clWinInet.h"
#include "support/FaultServer.h"

namespace {

using testing_support::FaultRoute;
using testing_support::FaultServer;

// Made on the heap and left listed: the connection owns and frees it.
template <class T, class... Args>
T* Kept(Args&&... args) {
  return std::make_unique<T>(std::forward<Args>(args)...).release();
}

class KeptActionsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    clWinInet::SetInternetLibraryName(clWinInet::kDefaultInternetLibraryName);
    connection = std::make_unique<TclInternetConnection>();
    FaultRoute stalled;
    stalled.body = "never";
    stalled.stallBeforeHeaders = true;
    server.Route("/stalled", stalled);
    FaultRoute file;
    file.body = body;
    server.Route("/file", file);
  }
  void TearDown() override {
    server.ReleaseStalls();
    connection.reset();
  }

  // One attempt the way a worker that keeps its connection makes it: the root,
  // connection and request it finds are reused, the missing ones are made and
  // left listed; the send and read actions are its own. Returns the body.
  std::string Attempt(const std::string& path, int timeOut) {
    auto* open = connection->FindAction<TclInternetOpenAction>();
    if (open == nullptr) {
      open = Kept<TclInternetOpenAction>(connection.get(), "kept agent",
                                         INTERNET_OPEN_TYPE_PRECONFIG, "", "", 0);
      open->Fire(-1);
    }
    auto* connect = connection->FindAction<TclConnectAction>();
    if (connect == nullptr) {
      connect = Kept<TclConnectAction>(connection.get(), open->Handle(), "127.0.0.1",
                                       static_cast<INTERNET_PORT>(server.Port()), "", "",
                                       INTERNET_SERVICE_HTTP, 0);
      connect->Fire(timeOut);
    }
    auto* request = connection->FindAction<TclHttpOpenRequestAction>();
    if (request == nullptr) {
      request = Kept<TclHttpOpenRequestAction>(connection.get(), open->Handle(), connect->Handle(),
                                               "GET", path, "", "", nullptr, INTERNET_FLAG_RELOAD);
      request->Fire(timeOut);
    }
    used = {open, connect, request};
    TclHttpSendRequestAction send(connection.get(), open->Handle(), request->Handle(), "", nullptr,
                                  0);
    send.Fire(timeOut);
    std::vector<char> buffer(8192);
    TclInternetReadFileAction read(connection.get(), open->Handle(), request->Handle(),
                                   buffer.data());
    std::string result;
    for (;;) {
      read.SetBytesToRead(static_cast<DWORD>(buffer.size()));
      read.Fire(timeOut);
      if (read.BytesRead() == 0) return result;
      result.append(buffer.data(), read.BytesRead());
    }
  }

  std::string body = std::string(50000, 'k') + "tail";
  FaultServer server;
  std::unique_ptr<TclInternetConnection> connection;
  std::vector<TclInternetAction*> used;  // the kept actions of the last attempt
};

TEST_F(KeptActionsTest, AttemptsWithoutFaultsReuseTheKeptRootConnectionAndRequest) {
  EXPECT_EQ(Attempt("/file", 5000), body);
  std::vector<TclInternetAction*> first = used;
  EXPECT_EQ(Attempt("/file", 5000), body);
  EXPECT_EQ(used, first);
  EXPECT_EQ(server.Requests().size(), 2u);
}

TEST_F(KeptActionsTest, AttemptAfterATimeOutStartsAgainFromTheRoot) {
  EXPECT_THROW(Attempt("/stalled", 300), EclTimeoutInternetError);
  std::vector<TclInternetAction*> dead = used;
  // The time-out closed the root: nothing kept may be handed out again.
  EXPECT_EQ(connection->FindAction<TclInternetOpenAction>(), nullptr);
  EXPECT_EQ(connection->FindAction<TclConnectAction>(), nullptr);
  EXPECT_EQ(connection->FindAction<TclHttpOpenRequestAction>(), nullptr);

  EXPECT_EQ(Attempt("/file", 5000), body);
  for (TclInternetAction* action : used) {
    EXPECT_EQ(std::count(dead.begin(), dead.end(), action), 0);
  }
  // The dead chain stays listed (its owner frees it) but its handles are not reused.
  EXPECT_EQ(connection->ActionCount(), 6);
}

TEST_F(KeptActionsTest, CloseFreesTheKeptActionsAndTheNextAttemptOpensANewRoot) {
  EXPECT_EQ(Attempt("/file", 5000), body);
  HINTERNET oldRoot = static_cast<TclInternetOpenAction*>(used[0])->Handle();
  int removed = 0;
  connection->SetOnActionRemoved([&](TclInternetConnection*, TclInternetAction*) { ++removed; });
  connection->Close();
  EXPECT_EQ(removed, 3);
  connection->SetOnActionRemoved(nullptr);  // the count is gone before the connection
  EXPECT_EQ(connection->ActionCount(), 0);
  // The root is closed: the library no longer knows it.
  EXPECT_FALSE(clWinInet::InternetCloseHandle(oldRoot));

  EXPECT_EQ(Attempt("/file", 5000), body);
  EXPECT_EQ(connection->ActionCount(), 3);
  EXPECT_NE(static_cast<TclInternetOpenAction*>(used[0])->Handle(), oldRoot);
}

}  // namespace

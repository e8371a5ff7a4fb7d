// The connection and its actions over the stand-in library, which hands out
// handles, counts how often each is closed and reports handle creation to a
// registered status callback.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "ConnectionTestSupport.h"
#include "FakeLibrary.h"
#include "inet/clConnection.h"
#include "inet/clWinInet.h"

namespace {

using inet_test::BlockingAction;
using inet_test::FakeControls;

class ConnectionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    clWinInet::LoadInternetLibrary();
    fake = std::make_unique<FakeControls>();
    connection = std::make_unique<TclInternetConnection>();
  }
  void TearDown() override {
    connection.reset();
    fake->ResetCloseCalls();
    fake.reset();
  }

  inet_test::BindingScope scope{inet_test::kFakeLibrary};

  // Logs every action event as "<event>:<kind>".
  void LogEvents() {
    auto kind = [](TclInternetAction* a) -> std::string {
      if (dynamic_cast<TclInternetOpenAction*>(a)) return "open";
      if (dynamic_cast<TclConnectAction*>(a)) return "connect";
      if (dynamic_cast<TclHttpOpenRequestAction*>(a)) return "request";
      if (dynamic_cast<TclHttpSendRequestAction*>(a)) return "send";
      return "other";
    };
    auto logger = [this, kind](const char* name) {
      return [this, kind, name](TclInternetConnection* sender, TclInternetAction* action) {
        EXPECT_EQ(sender, connection.get());
        log.push_back(std::string(name) + ":" + kind(action));
      };
    };
    connection->SetOnActionAdded(logger("added"));
    connection->SetOnActionRemoved(logger("removed"));
    connection->SetOnBeforeFireAction(logger("before"));
    connection->SetOnAfterFireAction(logger("after"));
  }

  std::unique_ptr<TclInternetOpenAction> Open(const std::string& proxy = "") {
    auto open = std::make_unique<TclInternetOpenAction>(connection.get(), "agent",
                                                        proxy.empty() ? 0 : 3, proxy, "", 0);
    open->Fire(-1);
    return open;
  }
  std::unique_ptr<TclConnectAction> Connect(HINTERNET root) {
    auto connect = std::make_unique<TclConnectAction>(connection.get(), root, "127.0.0.1", 80, "",
                                                      "", INTERNET_SERVICE_HTTP, 0);
    connect->Fire(1000);
    return connect;
  }
  std::unique_ptr<TclHttpOpenRequestAction> Request(HINTERNET root, HINTERNET connectHandle) {
    auto request = std::make_unique<TclHttpOpenRequestAction>(connection.get(), root, connectHandle,
                                                              "GET", "/x", "", "", nullptr, 0);
    request->Fire(1000);
    return request;
  }

  std::unique_ptr<FakeControls> fake;
  std::unique_ptr<TclInternetConnection> connection;
  std::vector<std::string> log;
};

TEST_F(ConnectionTest,
       ActionThatCompletesInTimeRaisesNothingNotifiesBeforeAndAfterAndLeavesNoCurrentAction) {
  LogEvents();
  auto open = Open();
  EXPECT_NE(open->Handle(), nullptr);
  EXPECT_EQ(open->ErrorText(), "");
  EXPECT_EQ(connection->CurrentAction(), nullptr);
  open.reset();
  EXPECT_EQ(log,
            (std::vector<std::string>{"added:open", "before:open", "after:open", "removed:open"}));
}

TEST_F(ConnectionTest, OpenActionPassesNoProxyTextWhenEmptyAndTrimsIt) {
  auto plain = Open();
  EXPECT_STREQ(fake->LastProxy(), "(none)");
  auto proxied = Open("  127.0.0.1:3128 \t");
  EXPECT_STREQ(fake->LastProxy(), "[127.0.0.1:3128]");
  EXPECT_EQ(proxied->Proxy(), "127.0.0.1:3128");
}

TEST_F(ConnectionTest, ProxyTextsLoseEveryControlCharacterAroundThemButKeepInnerBlanks) {
  TclInternetOpenAction open(connection.get(), "agent", 3, "\v\x01http=a:1 https=b:2\f",
                             "\x1f<local>  \x7f", 0);
  EXPECT_EQ(open.Proxy(), "http=a:1 https=b:2");
  EXPECT_EQ(open.ProxyBypass(), "<local>  \x7f");
  TclInternetOpenAction blank(connection.get(), "agent", 3, " \t\r\n", "", 0);
  blank.Fire(-1);
  EXPECT_STREQ(fake->LastProxy(), "(none)");
}

TEST_F(ConnectionTest, DestroyingAResourceActionClosesItsHandleButSendAndReadCloseNothing) {
  auto open = Open();
  auto connect = Connect(open->Handle());
  auto request = Request(open->Handle(), connect->Handle());
  HINTERNET requestHandle = request->Handle();
  ASSERT_NE(requestHandle, nullptr);

  int closesBefore = fake->CloseCalls();
  {
    TclHttpSendRequestAction send(connection.get(), open->Handle(), requestHandle, "", nullptr, 0);
    send.Fire(1000);
    char buffer[8] = {};
    TclInternetReadFileAction read(connection.get(), open->Handle(), requestHandle, buffer);
    read.SetBytesToRead(3);
    read.Fire(1000);
    EXPECT_EQ(read.BytesRead(), 3u);
    EXPECT_EQ(std::string(buffer), "xxx");
  }
  EXPECT_EQ(fake->CloseCalls(), closesBefore);

  request.reset();
  EXPECT_EQ(fake->CloseCount(requestHandle), 1);
  EXPECT_EQ(fake->CloseCount(open->Handle()), 0);
}

TEST_F(ConnectionTest, FailedCallRaisesItsErrorCodeAndText) {
  TclConnectAction connect(connection.get(), reinterpret_cast<HINTERNET>(99999), "h", 80, "", "",
                           INTERNET_SERVICE_HTTP, 0);
  try {
    connect.Fire(1000);
    FAIL() << "no exception";
  } catch (const EclTimeoutInternetError&) {
    FAIL() << "not a time-out";
  } catch (const EclInternetError& e) {
    EXPECT_EQ(e.ErrorCode(), 6);
    EXPECT_EQ(e.Message(), "The handle is invalid");
  }
  EXPECT_EQ(connect.Handle(), nullptr);
  EXPECT_EQ(connect.ErrorCode(), 6);
}

TEST_F(ConnectionTest, FiringAnActionWithoutConnectionIsAnAssertionFailure) {
  TclHttpSendRequestAction send(nullptr, nullptr, nullptr, "", nullptr, 0);
  try {
    send.Fire(1000);
    FAIL() << "no exception";
  } catch (const rtl::EAssertionFailed& e) {
    EXPECT_EQ(e.Message(), "Assertion failure (clConnection, line 631)");
  }
}

TEST_F(ConnectionTest, CancellingTwiceClosesTheParentHandleOnce) {
  auto open = Open();
  HINTERNET root = open->Handle();
  TclHttpSendRequestAction send(connection.get(), root, nullptr, "", nullptr, 0);
  send.Cancel();
  send.Cancel();
  EXPECT_EQ(fake->CloseCount(root), 1);
  EXPECT_EQ(send.ParentHandle(), nullptr);
}

TEST_F(ConnectionTest, CancellingUnderTheRootMakesTheOpenActionForgetItSoItIsNotClosedAgain) {
  auto open = Open();
  HINTERNET root = open->Handle();
  auto connect = Connect(root);
  auto request = Request(root, connect->Handle());
  request->Cancel();
  EXPECT_EQ(open->Handle(), nullptr);
  EXPECT_EQ(request->Handle() != nullptr, true);  // only the closed handle is forgotten
  open.reset();
  EXPECT_EQ(fake->CloseCount(root), 1);
}

TEST_F(ConnectionTest, FindActionReturnsTheFirstListedActionOfTheClassOrADerivedOne) {
  TclHttpSendRequestAction send(connection.get(), nullptr, nullptr, "", nullptr, 0);
  auto open = Open();
  auto connect = Connect(open->Handle());
  EXPECT_EQ(connection->FindAction<TclInternetResourceAction>(), open.get());
  EXPECT_EQ(connection->FindAction<TclInternetAction>(), &send);
  EXPECT_EQ(connection->FindAction<TclConnectAction>(), connect.get());
  EXPECT_EQ(connection->FindAction<TclFtpOpenFileAction>(), nullptr);
  connect.reset();
  EXPECT_EQ(connection->FindAction<TclConnectAction>(), nullptr);
}

TEST_F(ConnectionTest, FindActionByHandleLooksAtResourceActionsOnly) {
  auto open = Open();
  auto connect = Connect(open->Handle());
  EXPECT_EQ(connection->FindActionByHandle(connect->Handle()), connect.get());
  EXPECT_EQ(connection->FindActionByHandle(open->Handle()), open.get());
  EXPECT_EQ(connection->FindActionByHandle(reinterpret_cast<HINTERNET>(424242)), nullptr);
}

TEST_F(ConnectionTest, FtpFindActionKeepsTheFoundRecord) {
  auto open = Open();
  TclConnectAction connect(connection.get(), open->Handle(), "127.0.0.1", 21, "u", "p",
                           INTERNET_SERVICE_FTP, INTERNET_FLAG_PASSIVE);
  connect.Fire(1000);
  TclFtpFindFirstFileAction find(connection.get(), open->Handle(), connect.Handle(), "/a.zip",
                                 INTERNET_FLAG_RELOAD);
  find.Fire(1000);
  EXPECT_NE(find.Handle(), nullptr);
  EXPECT_EQ(find.FindData().nFileSizeLow, 123456u);
}

TEST_F(ConnectionTest, TimeOutOfZeroCancelsAndRaisesRequestTimeoutAfterTheCallReturned) {
  auto open = Open();
  HINTERNET root = open->Handle();
  LogEvents();
  BlockingAction blocking(connection.get(), root);
  try {
    blocking.Fire(0);
    FAIL() << "no exception";
  } catch (const EclTimeoutInternetError& e) {
    EXPECT_EQ(e.Message(), "Request timeout");
    EXPECT_EQ(e.ErrorCode(), 258);
  }
  // The blocked call had returned (with its own failure) before the raise.
  EXPECT_EQ(blocking.ErrorCode(), static_cast<int>(ERROR_INTERNET_OPERATION_CANCELLED));
  EXPECT_EQ(fake->CloseCount(root), 1);
  EXPECT_EQ(connection->CurrentAction(), nullptr);
  EXPECT_EQ(log, (std::vector<std::string>{"added:other", "before:other"}));
}

TEST_F(ConnectionTest, AbortSignalledBeforeFiringCancelsTheNextAction) {
  auto open = Open();
  HINTERNET root = open->Handle();
  connection->Abort();
  BlockingAction blocking(connection.get(), root);
  try {
    blocking.Fire(-1);
    FAIL() << "no exception";
  } catch (const EclTimeoutInternetError&) {
    FAIL() << "an abort is not a time-out";
  } catch (const EclInternetError& e) {
    EXPECT_EQ(e.ErrorCode(), static_cast<int>(ERROR_INTERNET_OPERATION_CANCELLED));
  }
  EXPECT_EQ(fake->CloseCount(root), 1);
}

TEST_F(ConnectionTest, ExceptionInsideExecuteIsSwallowedAndTheFireReturns) {
  inet_test::ThrowingAction throwing(connection.get());
  EXPECT_NO_THROW(throwing.Fire(1000));
  auto open = Open();  // the worker is still alive
  EXPECT_NE(open->Handle(), nullptr);
}

TEST_F(ConnectionTest, HandlerExceptionReachesTheFiringThread) {
  connection->SetOnBeforeFireAction(
      [](TclInternetConnection*, TclInternetAction*) { throw rtl::Exception("vetoed"); });
  TclInternetOpenAction open(connection.get(), "agent", 0, "", "", 0);
  EXPECT_THROW(open.Fire(1000), rtl::Exception);
  EXPECT_EQ(open.Handle(), nullptr);
  EXPECT_EQ(connection->CurrentAction(), nullptr);
}

class StatusCallbackTest : public ConnectionTest {
 protected:
  struct Status {
    TclInternetConnection* sender;
    DWORD status;
  };
  TclStatusCallbackEvent Recorder() {
    return [this](TclInternetConnection* sender, TclInternetAction*, DWORD status, void*, DWORD) {
      statuses.push_back({sender, status});
    };
  }
  std::vector<Status> statuses;
};

TEST_F(StatusCallbackTest, HandlerAssignedWhenTheRootOpensReceivesNotificationsOfLaterHandles) {
  connection->SetOnStatusCallback(Recorder());
  auto open = Open();
  EXPECT_EQ(fake->LastCallbackRoot(), open->Handle());
  auto connect = Connect(open->Handle());
  ASSERT_EQ(statuses.size(), 1u);
  EXPECT_EQ(statuses[0].sender, connection.get());
  EXPECT_EQ(statuses[0].status, INTERNET_STATUS_HANDLE_CREATED);
}

TEST_F(StatusCallbackTest, HandlerAssignedAfterTheRootOpenedIsNeverCalled) {
  auto open = Open();
  EXPECT_NE(fake->LastCallbackRoot(), open->Handle());
  connection->SetOnStatusCallback(Recorder());
  auto connect = Connect(open->Handle());
  EXPECT_TRUE(statuses.empty());
}

class ConnectionDestructionTest : public ConnectionTest {};

TEST_F(ConnectionDestructionTest, ActionsStillListedAreFreedAndTheirHandlesClosed) {
  // Kept actions belong to the connection from here on.
  auto* open = Open().release();
  HINTERNET root = open->Handle();
  auto* connect = Connect(root).release();
  HINTERNET connectHandle = connect->Handle();
  int removed = 0;
  connection->SetOnActionRemoved([&](TclInternetConnection*, TclInternetAction*) { ++removed; });
  connection.reset();
  EXPECT_EQ(removed, 2);
  EXPECT_EQ(fake->CloseCount(root), 1);
  EXPECT_EQ(fake->CloseCount(connectHandle), 1);
}

TEST_F(ConnectionDestructionTest, AbortDoesNothingHarmfulWithoutAnyAction) {
  connection->Abort();
  connection.reset();
  SUCCEED();
}

TEST_F(ConnectionDestructionTest, ActionsAreFreedFromTheFrontAndFindersAndFiresDoNothingMeanwhile) {
  auto* open = Open().release();
  auto* connect = Connect(open->Handle()).release();
  auto* send =
      new TclHttpSendRequestAction(connection.get(), open->Handle(), nullptr, "", nullptr, 0);
  HINTERNET connectHandle = connect->Handle();
  std::vector<TclInternetAction*> removed;
  int foundDuringDestruction = 0;
  int firedDuringDestruction = 0;
  connection->SetOnBeforeFireAction(
      [&](TclInternetConnection*, TclInternetAction*) { ++firedDuringDestruction; });
  connection->SetOnActionRemoved([&](TclInternetConnection* sender, TclInternetAction* action) {
    removed.push_back(action);
    if (sender->FindAction<TclInternetAction>() != nullptr) ++foundDuringDestruction;
    if (sender->FindActionByHandle(connectHandle) != nullptr) ++foundDuringDestruction;
    // A fire while the connection goes away neither runs nor notifies.
    if (action == open) send->Fire(1000);
  });
  connection.reset();
  EXPECT_EQ(removed, (std::vector<TclInternetAction*>{open, connect, send}));
  EXPECT_EQ(foundDuringDestruction, 0);
  EXPECT_EQ(firedDuringDestruction, 0);
  EXPECT_EQ(fake->CloseCount(connectHandle), 1);
}

class HandleClosedNotificationTest : public ConnectionTest {};

TEST_F(HandleClosedNotificationTest, TheActionBeingFiredKeepsItsHandle) {
  auto open = Open();
  HINTERNET root = open->Handle();
  auto connect = Connect(root);
  HINTERNET connectHandle = connect->Handle();
  // Announced while the connect action is the one being fired: the open action
  // forgets the root, the connect action is left alone.
  HINTERNET keptByCurrent = nullptr;
  HINTERNET keptByOpen = root;
  connection->SetOnBeforeFireAction([&](TclInternetConnection* sender, TclInternetAction*) {
    sender->NotifyHandleClosed(connectHandle);
    keptByCurrent = connect->Handle();
    sender->NotifyHandleClosed(root);
    keptByOpen = open->Handle();
  });
  connect->Fire(1000);
  EXPECT_EQ(keptByCurrent, connectHandle);
  EXPECT_EQ(keptByOpen, nullptr);
}

TEST_F(HandleClosedNotificationTest, OnlyTheClosedHandleIsForgotten) {
  auto open = Open();
  auto connect = Connect(open->Handle());
  auto request = Request(open->Handle(), connect->Handle());
  connection->NotifyHandleClosed(connect->Handle());
  EXPECT_EQ(connect->Handle(), nullptr);
  EXPECT_NE(open->Handle(), nullptr);
  EXPECT_NE(request->Handle(), nullptr);
  // Forgotten, so freeing the action does not close it again.
  int closes = fake->CloseCalls();
  connect.reset();
  EXPECT_EQ(fake->CloseCalls(), closes);
}

// Kept actions after a cancel: the finders skip every action whose handles are
// gone, so the next attempt starts again from the root.
class StaleActionTest : public ConnectionTest {
 protected:
  // A chain kept on the connection, as a worker with a kept connection leaves it.
  void KeepChain() {
    open = Open().release();
    connectAction = Connect(open->Handle()).release();
    request = Request(open->Handle(), connectAction->Handle()).release();
  }
  bool NothingFound() {
    return connection->FindAction<TclInternetOpenAction>() == nullptr &&
           connection->FindAction<TclConnectAction>() == nullptr &&
           connection->FindAction<TclHttpOpenRequestAction>() == nullptr &&
           connection->FindAction<TclInternetResourceAction>() == nullptr;
  }
  TclInternetOpenAction* open = nullptr;
  TclConnectAction* connectAction = nullptr;
  TclHttpOpenRequestAction* request = nullptr;
};

TEST_F(StaleActionTest, KeptChainIsFoundWhileItsHandlesLive) {
  KeepChain();
  EXPECT_EQ(connection->FindAction<TclInternetOpenAction>(), open);
  EXPECT_EQ(connection->FindAction<TclConnectAction>(), connectAction);
  EXPECT_EQ(connection->FindAction<TclHttpOpenRequestAction>(), request);
}

TEST_F(StaleActionTest, CancelUnderTheRootLeavesNothingToFind) {
  KeepChain();
  TclHttpSendRequestAction send(connection.get(), open->Handle(), request->Handle(), "", nullptr,
                                0);
  send.Cancel();
  EXPECT_TRUE(send.Stale());
  EXPECT_TRUE(open->Stale());
  EXPECT_TRUE(connectAction->Stale());
  EXPECT_TRUE(request->Stale());
  EXPECT_TRUE(NothingFound());
  EXPECT_EQ(connection->FindAction<TclInternetAction>(), nullptr);
  // A new root is found again, and what is built on it.
  auto fresh = Open();
  EXPECT_EQ(connection->FindAction<TclInternetOpenAction>(), fresh.get());
  auto freshConnect = Connect(fresh->Handle());
  EXPECT_EQ(connection->FindAction<TclConnectAction>(), freshConnect.get());
}

TEST_F(StaleActionTest, ClosedConnectHandleMakesTheRequestsUnderItStale) {
  KeepChain();
  // The request's parent is the root, but it was opened on the connect handle.
  connection->NotifyHandleClosed(connectAction->Handle());
  EXPECT_EQ(connection->FindAction<TclInternetOpenAction>(), open);
  EXPECT_EQ(connection->FindAction<TclConnectAction>(), nullptr);
  EXPECT_EQ(connection->FindAction<TclHttpOpenRequestAction>(), nullptr);
}

TEST_F(StaleActionTest, UnfiredOrFailedResourceActionIsNotHandedOut) {
  TclInternetOpenAction unfired(connection.get(), "agent", 0, "", "", 0);
  EXPECT_EQ(connection->FindAction<TclInternetOpenAction>(), nullptr);
}

// Closing a connection frees what it keeps; the worker stays for later fires.
TEST_F(StaleActionTest, CloseFreesTheListedActionsAndTheirHandlesAndFiringGoesOn) {
  KeepChain();
  HINTERNET root = open->Handle();
  HINTERNET connectHandle = connectAction->Handle();
  HINTERNET requestHandle = request->Handle();
  LogEvents();
  connection->Close();
  EXPECT_EQ(connection->ActionCount(), 0);
  EXPECT_TRUE(NothingFound());
  EXPECT_THAT(log, ::testing::ElementsAre("removed:open", "removed:connect", "removed:request"));
  EXPECT_EQ(fake->CloseCount(root), 1);
  EXPECT_EQ(fake->CloseCount(connectHandle), 1);
  EXPECT_EQ(fake->CloseCount(requestHandle), 1);
  TclInternetOpenAction* again = Open().release();  // kept: Close frees it
  EXPECT_NE(again->Handle(), nullptr);
  EXPECT_EQ(connection->FindAction<TclInternetOpenAction>(), again);
  connection->Close();
  EXPECT_EQ(connection->ActionCount(), 0);
}

TEST_F(StaleActionTest, CloseOfAnUnusedConnectionDoesNothing) {
  connection->Close();
  EXPECT_EQ(connection->ActionCount(), 0);
  auto open = Open();
  EXPECT_NE(open->Handle(), nullptr);
}

}  // namespace

namespace {

TEST(ConnectionHolds, TakenActionsAreHandedOutOnceAndSparedByClose) {
  TclInternetConnection connection;
  auto* kept = new TclHttpSendRequestAction(&connection, nullptr, nullptr, "", nullptr, 0);
  auto* held = new TclHttpSendRequestAction(&connection, nullptr, nullptr, "", nullptr, 0);
  ASSERT_TRUE(held->TryHold());
  EXPECT_FALSE(held->TryHold()) << "a held action is nobody else's";
  EXPECT_EQ(connection.TakeAction<TclHttpSendRequestAction>(), kept);
  EXPECT_EQ(connection.TakeAction<TclHttpSendRequestAction>(), nullptr) << "both are held now";
  kept->LetGo();
  connection.Close();
  ASSERT_EQ(connection.ActionCount(), 1) << "the let-go action is freed, the held one spared";
  EXPECT_EQ(connection.Actions(0), held);
  bool made = true;
  auto* taken = connection.TakeOrMake<TclHttpSendRequestAction>(
      [](TclHttpSendRequestAction*) { return true; },
      [&] { return new TclHttpSendRequestAction(&connection, nullptr, nullptr, "", nullptr, 0); }, made);
  EXPECT_TRUE(made) << "the only listed one is held";
  EXPECT_TRUE(taken->Held());
  delete taken;
  delete held;
}

}  // namespace

// The connection over the real internet client library against a small HTTP
// server on 127.0.0.1 whose routes stall: time-outs, aborts from another thread
// and status notifications handled on the firing thread.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <httplib.h>

#include <atomic>
#include <barrier>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "FakeLibrary.h"
#include "inet/clConnection.h"
#include "inet/clWinInet.h"
#include "platform/Messages.h"
#include "platform/Threads.h"
#include "platform/Waits.h"

namespace {

// "/stall" sends its headers and 10 of 100000 bytes, then nothing until the
// server stops; "/hang" sends nothing at all until then.
class StallingServer {
 public:
  StallingServer() {
    server_.Get("/stall", [this](const httplib::Request&, httplib::Response& response) {
      response.set_content_provider(
          100000, "application/octet-stream",
          [this](size_t offset, size_t, httplib::DataSink& sink) {
            if (offset == 0) {
              sink.write("0123456789", 10);
              return true;
            }
            WaitForStop();
            return false;
          });
    });
    server_.Get("/hang", [this](const httplib::Request&, httplib::Response& response) {
      WaitForStop();
      response.set_content("late", "text/plain");
    });
    port_ = server_.bind_to_any_port("127.0.0.1");
    // The socket already listens after the bind: clients queue until the loop runs.
    thread_ = std::thread([this] { server_.listen_after_bind(); });
  }
  ~StallingServer() {
    {
      std::lock_guard<std::mutex> guard(mutex_);
      stopping_ = true;
    }
    stopped_.notify_all();
    server_.stop();
    thread_.join();
  }
  INTERNET_PORT Port() const { return static_cast<INTERNET_PORT>(port_); }

 private:
  void WaitForStop() {
    std::unique_lock<std::mutex> lock(mutex_);
    stopped_.wait(lock, [this] { return stopping_; });
  }

  httplib::Server server_;
  int port_ = 0;
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable stopped_;
  bool stopping_ = false;  // guarded by mutex_
};

class ConnectionAgainstServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    clWinInet::SetInternetLibraryName(clWinInet::kDefaultInternetLibraryName);
    connection = std::make_unique<TclInternetConnection>();
  }
  void TearDown() override {
    send.reset();
    request.reset();
    connect.reset();
    open.reset();
    connection.reset();
  }

  // Root, connection and an opened GET request for Path.
  void OpenRequest(const std::string& path) {
    open = std::make_unique<TclInternetOpenAction>(connection.get(), "test agent", INTERNET_OPEN_TYPE_PRECONFIG, "",
                                                   "", 0);
    open->Fire(-1);
    connect = std::make_unique<TclConnectAction>(connection.get(), open->Handle(), "127.0.0.1", server.Port(), "",
                                                 "", INTERNET_SERVICE_HTTP, 0);
    connect->Fire(5000);
    request = std::make_unique<TclHttpOpenRequestAction>(connection.get(), open->Handle(), connect->Handle(), "GET",
                                                         path, "", "", nullptr,
                                                         INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_RELOAD);
    request->Fire(5000);
    send = std::make_unique<TclHttpSendRequestAction>(connection.get(), open->Handle(), request->Handle(), "",
                                                      nullptr, 0);
  }

  StallingServer server;
  std::unique_ptr<TclInternetConnection> connection;
  std::unique_ptr<TclInternetOpenAction> open;
  std::unique_ptr<TclConnectAction> connect;
  std::unique_ptr<TclHttpOpenRequestAction> request;
  std::unique_ptr<TclHttpSendRequestAction> send;
  // Filled by status handlers, which also run while TearDown closes handles.
  std::vector<DWORD> statuses;
  int strayStatuses = 0;
};

TEST_F(ConnectionAgainstServerTest, ReadFromAStalledServerRaisesRequestTimeoutSoonAfterTheTimeOut) {
  OpenRequest("/stall");
  send->Fire(5000);
  char buffer[4096];
  TclInternetReadFileAction read(connection.get(), open->Handle(), request->Handle(), buffer);
  read.SetBytesToRead(10);
  read.Fire(5000);
  EXPECT_EQ(read.BytesRead(), 10u);
  EXPECT_EQ(std::string(buffer, 10), "0123456789");

  read.SetBytesToRead(sizeof(buffer));
  auto start = std::chrono::steady_clock::now();
  try {
    read.Fire(300);
    FAIL() << "the read returned " << read.BytesRead() << " bytes";
  } catch (const EclTimeoutInternetError& e) {
    EXPECT_EQ(e.Message(), "Request timeout");
    EXPECT_EQ(e.ErrorCode(), 258);
  }
  auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_GE(elapsed, std::chrono::milliseconds(250));
  EXPECT_LT(elapsed, std::chrono::milliseconds(1000));
  // The blocked read had returned, with its own failure recorded on the worker,
  // before the time-out was raised.
  EXPECT_EQ(read.ErrorCode(), static_cast<int>(ERROR_INTERNET_OPERATION_CANCELLED));
  // The root was closed to end the read, and the open action knows it.
  EXPECT_EQ(open->Handle(), nullptr);
  EXPECT_EQ(read.ParentHandle(), nullptr);
  EXPECT_EQ(connection->CurrentAction(), nullptr);
}

TEST_F(ConnectionAgainstServerTest, AbortFromAnotherThreadCancelsABlockedSend) {
  OpenRequest("/hang");
  std::atomic<bool> fired{false};
  connection->SetOnBeforeFireAction([&](TclInternetConnection*, TclInternetAction*) { fired = true; });
  std::thread aborter([&] {
    while (!fired.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    connection->Abort();
  });
  try {
    send->Fire(-1);
    ADD_FAILURE() << "the send returned normally";
  } catch (const EclTimeoutInternetError&) {
    ADD_FAILURE() << "an abort is not a time-out";
  } catch (const EclInternetError& e) {
    EXPECT_EQ(e.ErrorCode(), static_cast<int>(ERROR_INTERNET_OPERATION_CANCELLED));
  }
  aborter.join();
  EXPECT_EQ(send->ParentHandle(), nullptr);
}

TEST_F(ConnectionAgainstServerTest, SendThatDoesNotAnswerInTimeIsCancelledAndLaterCallsUnderTheRootFail) {
  OpenRequest("/hang");
  EXPECT_THROW(send->Fire(200), EclTimeoutInternetError);
  TclHttpOpenRequestAction again(connection.get(), nullptr, connect->Handle(), "GET", "/stall", "", "", nullptr, 0);
  EXPECT_THROW(again.Fire(2000), EclInternetError);
}

TEST_F(ConnectionAgainstServerTest, StatusNotificationsReachAHandlerOnTheFiringThread) {
  auto firingThread = std::this_thread::get_id();
  connection->SetOnStatusCallback(
      [this, firingThread](TclInternetConnection* sender, TclInternetAction*, DWORD status, void*, DWORD) {
        if (sender != connection.get() || std::this_thread::get_id() != firingThread) strayStatuses++;
        statuses.push_back(status);
      });
  OpenRequest("/stall");
  send->Fire(5000);
  EXPECT_FALSE(statuses.empty());
  EXPECT_EQ(strayStatuses, 0);
}

TEST_F(ConnectionAgainstServerTest, ConnectionCreatedOnAWorkerThreadRunsItsHandlersThere) {
  std::thread::id workerId;
  std::vector<std::thread::id> handlerThreads;
  std::thread worker([&] {
    workerId = std::this_thread::get_id();
    TclInternetConnection own;
    own.SetOnAfterFireAction([&](TclInternetConnection*, TclInternetAction*) {
      handlerThreads.push_back(std::this_thread::get_id());
    });
    TclInternetOpenAction root(&own, "agent", INTERNET_OPEN_TYPE_PRECONFIG, "", "", 0);
    root.Fire(-1);
    TclConnectAction link(&own, root.Handle(), "127.0.0.1", server.Port(), "", "", INTERNET_SERVICE_HTTP, 0);
    link.Fire(5000);
  });
  worker.join();
  ASSERT_EQ(handlerThreads.size(), 2u);
  EXPECT_EQ(handlerThreads[0], workerId);
  EXPECT_EQ(handlerThreads[1], workerId);
}

TEST_F(ConnectionAgainstServerTest, HandlersRunOnTheCreatingThreadWhileAnotherThreadFiresAndTimesOut) {
  // Created here, fired from a second thread: status notifications come from the
  // connection's worker, fire notifications from the firing thread, and both are
  // handed to this thread while it serves messages. The time-out makes the firing
  // thread forget the root in the open action while the worker has looked it up.
  std::uint32_t creator = platform::CurrentThreadId();
  int foreignHandlers = 0;
  std::vector<DWORD> seen;
  connection->SetOnStatusCallback([&](TclInternetConnection*, TclInternetAction*, DWORD status, void*, DWORD) {
    if (platform::CurrentThreadId() != creator) ++foreignHandlers;
    seen.push_back(status);
  });
  int beforeFire = 0;
  connection->SetOnBeforeFireAction([&](TclInternetConnection*, TclInternetAction*) {
    if (platform::CurrentThreadId() != creator) ++foreignHandlers;
    ++beforeFire;
  });
  auto finished = platform::CreateEvent(true, false);
  int timeOuts = 0;
  HINTERNET rootAfter = reinterpret_cast<HINTERNET>(1);
  std::thread firing([&] {
    OpenRequest("/hang");
    try {
      send->Fire(300);
    } catch (const EclTimeoutInternetError& e) {
      if (e.ErrorCode() == 258) ++timeOuts;
    }
    rootAfter = open->Handle();
    send.reset();
    request.reset();
    connect.reset();
    open.reset();
    finished->Set();
  });
  platform::WaitServingMessages(finished, platform::kInfinite);
  firing.join();
  EXPECT_EQ(timeOuts, 1);
  EXPECT_EQ(rootAfter, nullptr);
  EXPECT_EQ(foreignHandlers, 0);
  EXPECT_THAT(seen, ::testing::Contains(static_cast<DWORD>(INTERNET_STATUS_SENDING_REQUEST)));
  EXPECT_EQ(beforeFire, 4);  // open, connect, request, send
}

// Cancels racing each other over the stand-in library, which counts closes.
class ConcurrentCancelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    clWinInet::LoadInternetLibrary();
    fake = std::make_unique<inet_test::FakeControls>();
    connection = std::make_unique<TclInternetConnection>();
  }
  void TearDown() override {
    connection.reset();
    fake->ResetCloseCalls();
    fake.reset();
  }

  inet_test::BindingScope scope{inet_test::kFakeLibrary};
  std::unique_ptr<inet_test::FakeControls> fake;
  std::unique_ptr<TclInternetConnection> connection;
};

TEST_F(ConcurrentCancelTest, TwoThreadsCancellingAtOnceCloseTheParentHandleOnce) {
  for (int round = 0; round < 50; ++round) {
    TclInternetOpenAction open(connection.get(), "agent", INTERNET_OPEN_TYPE_PRECONFIG, "", "", 0);
    open.Fire(-1);
    HINTERNET root = open.Handle();
    TclHttpSendRequestAction send(connection.get(), root, nullptr, "", nullptr, 0);
    std::barrier start(2);
    auto cancel = [&] {
      start.arrive_and_wait();
      send.Cancel();
    };
    std::thread other(cancel);
    cancel();
    other.join();
    ASSERT_EQ(fake->CloseCount(root), 1) << "round " << round;
    EXPECT_EQ(send.ParentHandle(), nullptr);
    EXPECT_EQ(open.Handle(), nullptr);
  }
}

}  // namespace

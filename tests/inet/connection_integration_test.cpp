// The connection and its actions over the real internet client library, used the
// way the download workers use them: a root, a connection, HEAD and GET requests
// sent and read in blocks through actions, against the fault-injecting HTTP
// server and a real FTP server on 127.0.0.1.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "inet/clConnection.h"
#include "inet/clWinInet.h"
#include "support/FaultServer.h"
#include "support/FtpServer.h"
#include "support/TempDir.h"

namespace {

using testing_support::FaultRoute;
using testing_support::FaultServer;
using ::testing::HasSubstr;

// Root, connection and request actions of one transfer, freed in reverse order.
class ActionChain {
 public:
  explicit ActionChain(TclInternetConnection* connection) : connection_(connection) {
    open = std::make_unique<TclInternetOpenAction>(connection, "test agent", INTERNET_OPEN_TYPE_PRECONFIG, "", "",
                                                   0);
    open->Fire(-1);
  }
  ~ActionChain() {
    read.reset();
    send.reset();
    request.reset();
    file.reset();
    find.reset();
    connect.reset();
    open.reset();
  }

  void Connect(int port, DWORD service, const std::string& user = "", const std::string& password = "",
               DWORD flags = 0) {
    connect = std::make_unique<TclConnectAction>(connection_, open->Handle(), "127.0.0.1",
                                                 static_cast<INTERNET_PORT>(port), user, password, service, flags);
    connect->Fire(5000);
  }
  // Opens and sends a request; the send's failure (if any) is raised.
  void Send(const std::string& verb, const std::string& path, int timeOut = 5000) {
    request = std::make_unique<TclHttpOpenRequestAction>(connection_, open->Handle(), connect->Handle(), verb, path,
                                                         "", "", nullptr, INTERNET_FLAG_RELOAD);
    request->Fire(5000);
    send = std::make_unique<TclHttpSendRequestAction>(connection_, open->Handle(), request->Handle(), "", nullptr,
                                                      0);
    send->Fire(timeOut);
  }
  // Reads Handle to its end in blocks of Block bytes through one read action.
  std::string ReadAll(HINTERNET handle, DWORD block) {
    buffer.assign(block, '\0');
    read = std::make_unique<TclInternetReadFileAction>(connection_, open->Handle(), handle, buffer.data());
    std::string body;
    for (;;) {
      read->SetBytesToRead(block);
      read->Fire(5000);
      if (read->BytesRead() == 0) return body;
      body.append(buffer.data(), read->BytesRead());
      delivered = body.size();
    }
  }
  DWORD QueryNumber(DWORD level) {
    DWORD value = 0;
    DWORD length = sizeof(value);
    if (!clWinInet::HttpQueryInfoA(request->Handle(), level | HTTP_QUERY_FLAG_NUMBER, &value, &length, nullptr)) {
      return 0;
    }
    return value;
  }

  std::unique_ptr<TclInternetOpenAction> open;
  std::unique_ptr<TclConnectAction> connect;
  std::unique_ptr<TclHttpOpenRequestAction> request;
  std::unique_ptr<TclHttpSendRequestAction> send;
  std::unique_ptr<TclFtpFindFirstFileAction> find;
  std::unique_ptr<TclFtpOpenFileAction> file;
  std::unique_ptr<TclInternetReadFileAction> read;
  std::vector<char> buffer;
  std::size_t delivered = 0;

 private:
  TclInternetConnection* connection_;
};

class HttpThroughActionsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    clWinInet::SetInternetLibraryName(clWinInet::kDefaultInternetLibraryName);
    connection = std::make_unique<TclInternetConnection>();
    chain = std::make_unique<ActionChain>(connection.get());
    chain->Connect(server.Port(), INTERNET_SERVICE_HTTP);
  }
  void TearDown() override {
    server.ReleaseStalls();
    chain.reset();
    connection.reset();
  }

  std::string body = std::string(100000, 'b') + "end";
  FaultServer server;
  std::unique_ptr<TclInternetConnection> connection;
  std::unique_ptr<ActionChain> chain;
};

TEST_F(HttpThroughActionsTest, HeadThenGetReadInBlocksDeliversTheWholeBody) {
  FaultRoute route;
  route.body = body;
  server.Route("/file.bin", route);

  chain->Send("HEAD", "/file.bin");
  EXPECT_EQ(chain->QueryNumber(HTTP_QUERY_STATUS_CODE), 200u);
  EXPECT_EQ(chain->QueryNumber(HTTP_QUERY_CONTENT_LENGTH), body.size());
  chain->send.reset();
  chain->request.reset();

  chain->Send("GET", "/file.bin");
  EXPECT_EQ(chain->ReadAll(chain->request->Handle(), 8192), body);

  std::vector<testing_support::RecordedRequest> requests = server.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].method, "HEAD");
  EXPECT_EQ(requests[1].method, "GET");
  EXPECT_EQ(requests[1].path, "/file.bin");
  EXPECT_EQ(requests[1].Header("user-agent"), "test agent");
}

TEST_F(HttpThroughActionsTest, ErrorStatusIsNotAFailureOfTheSendButIsReadAsANumber) {
  FaultRoute route;
  route.status = 404;
  route.body = "missing";
  server.Route("/gone", route);
  chain->Send("GET", "/gone");
  EXPECT_EQ(chain->send->ErrorCode(), 0);
  EXPECT_EQ(chain->QueryNumber(HTTP_QUERY_STATUS_CODE), 404u);
}

TEST_F(HttpThroughActionsTest, BodyDroppedBeforeItsLengthRaisesTheConnectionAbortedError) {
  FaultRoute route;
  route.body = body;
  route.dropAfter = 30000;
  server.Route("/drop", route);
  chain->Send("GET", "/drop");
  try {
    chain->ReadAll(chain->request->Handle(), 8192);
    FAIL() << "the short body ended like a complete one";
  } catch (const EclTimeoutInternetError&) {
    FAIL() << "a dropped connection is not a time-out";
  } catch (const EclInternetError& e) {
    EXPECT_EQ(e.ErrorCode(), static_cast<int>(ERROR_INTERNET_CONNECTION_ABORTED));
    EXPECT_EQ(e.Message(), clWinInet::GetInternetErrorText(ERROR_INTERNET_CONNECTION_ABORTED));
  }
  EXPECT_LE(chain->delivered, 30000u);
  EXPECT_EQ(std::string(chain->delivered, 'b'), body.substr(0, chain->delivered));
}

TEST_F(HttpThroughActionsTest, ServerThatNeverAnswersTimesOutAfterTheSendHasReturned) {
  FaultRoute route;
  route.body = body;
  route.stallBeforeHeaders = true;
  server.Route("/silent", route);
  auto start = std::chrono::steady_clock::now();
  try {
    chain->Send("GET", "/silent", 300);
    FAIL() << "the send returned";
  } catch (const EclTimeoutInternetError& e) {
    EXPECT_EQ(e.Message(), "Request timeout");
    EXPECT_EQ(e.ErrorCode(), 258);
  }
  auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_LT(elapsed, std::chrono::milliseconds(1000));
  // The send's own result was recorded on the worker before the time-out was raised.
  EXPECT_EQ(chain->send->ErrorCode(), static_cast<int>(ERROR_INTERNET_OPERATION_CANCELLED));
  EXPECT_EQ(chain->open->Handle(), nullptr);
  EXPECT_EQ(chain->send->ParentHandle(), nullptr);
}

TEST_F(HttpThroughActionsTest, ChainOfActionsIsListedInOrderAndFoundAgainByClassAndHandle) {
  FaultRoute route;
  route.body = "x";
  server.Route("/x", route);
  chain->Send("GET", "/x");
  EXPECT_EQ(connection->FindAction<TclInternetOpenAction>(), chain->open.get());
  EXPECT_EQ(connection->FindAction<TclConnectAction>(), chain->connect.get());
  EXPECT_EQ(connection->FindActionByHandle(chain->request->Handle()), chain->request.get());
  EXPECT_EQ(connection->ActionCount(), 4);
  EXPECT_EQ(connection->Actions(3), chain->send.get());
}

TEST(ConnectionStatusTest, CreationIsReportedWithoutAnActionAndClosingWithTheActionThatStillOwnsIt) {
  FaultServer server;
  clWinInet::SetInternetLibraryName(clWinInet::kDefaultInternetLibraryName);
  TclInternetConnection connection;
  struct Report {
    DWORD status;
    TclInternetAction* action;
  };
  std::vector<Report> reports;
  connection.SetOnStatusCallback([&](TclInternetConnection*, TclInternetAction* action, DWORD status, void*, DWORD) {
    reports.push_back({status, action});
  });
  ActionChain chain(&connection);
  chain.Connect(server.Port(), INTERNET_SERVICE_HTTP);
  chain.request = std::make_unique<TclHttpOpenRequestAction>(&connection, chain.open->Handle(),
                                                             chain.connect->Handle(), "GET", "/", "", "", nullptr, 0);
  chain.request->Fire(5000);
  TclInternetAction* request = chain.request.get();
  ASSERT_FALSE(reports.empty());
  EXPECT_EQ(reports.back().status, static_cast<DWORD>(INTERNET_STATUS_HANDLE_CREATED));
  // Reported inside the call, before the action has stored the new handle.
  EXPECT_EQ(reports.back().action, nullptr);
  reports.clear();
  chain.request.reset();
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].status, static_cast<DWORD>(INTERNET_STATUS_HANDLE_CLOSING));
  EXPECT_EQ(reports[0].action, request);
}

class FtpThroughActionsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!testing_support::FtpServer::Available()) GTEST_SKIP() << "python3-pyftpdlib is not installed";
    clWinInet::SetInternetLibraryName(clWinInet::kDefaultInternetLibraryName);
    ::mkdir(dir.File("root").c_str(), 0755);
    testing_support::WriteFile(dir.File("root/data.bin"), body);
    server = std::make_unique<testing_support::FtpServer>(dir.Path(), dir.File("root"), "joe", "secret");
    ASSERT_TRUE(server->Started()) << server->Log();
    connection = std::make_unique<TclInternetConnection>();
    chain = std::make_unique<ActionChain>(connection.get());
  }
  void TearDown() override {
    chain.reset();
    connection.reset();
  }

  testing_support::TempDir dir;
  std::string body = testing_support::RandomBytes(300000, 7);
  std::unique_ptr<testing_support::FtpServer> server;
  std::unique_ptr<TclInternetConnection> connection;
  std::unique_ptr<ActionChain> chain;
};

TEST_F(FtpThroughActionsTest, FindGivesTheSizeAndOpenReadsTheFilePassively) {
  chain->Connect(server->Port(), INTERNET_SERVICE_FTP, "joe", "secret", INTERNET_FLAG_PASSIVE);
  chain->find = std::make_unique<TclFtpFindFirstFileAction>(connection.get(), chain->open->Handle(),
                                                            chain->connect->Handle(), "/data.bin",
                                                            INTERNET_FLAG_RELOAD);
  chain->find->Fire(5000);
  EXPECT_EQ(chain->find->FindData().nFileSizeLow, body.size());
  chain->file = std::make_unique<TclFtpOpenFileAction>(connection.get(), chain->open->Handle(),
                                                       chain->connect->Handle(), "/data.bin", GENERIC_READ,
                                                       FTP_TRANSFER_TYPE_BINARY);
  chain->file->Fire(5000);
  EXPECT_EQ(chain->ReadAll(chain->file->Handle(), 65536), body);
}

TEST_F(FtpThroughActionsTest, MissingFileRaisesTheExtendedErrorWithTheServersReply) {
  chain->Connect(server->Port(), INTERNET_SERVICE_FTP, "joe", "secret", INTERNET_FLAG_PASSIVE);
  chain->find = std::make_unique<TclFtpFindFirstFileAction>(connection.get(), chain->open->Handle(),
                                                            chain->connect->Handle(), "/nothing.bin",
                                                            INTERNET_FLAG_RELOAD);
  // The reply is kept per thread by the library: only the worker, whose call
  // failed, can turn it into the text.
  try {
    chain->find->Fire(5000);
    FAIL() << "a missing file was found";
  } catch (const EclInternetError& e) {
    EXPECT_EQ(e.ErrorCode(), static_cast<int>(ERROR_INTERNET_EXTENDED_ERROR));
    EXPECT_THAT(e.Message(), HasSubstr("; Additional info: 550"));
  }
  EXPECT_EQ(chain->find->Handle(), nullptr);
}

TEST_F(FtpThroughActionsTest, RefusedLoginRaisesTheServersReplyAndProducesNoHandle) {
  try {
    chain->Connect(server->Port(), INTERNET_SERVICE_FTP, "joe", "wrong", INTERNET_FLAG_PASSIVE);
    FAIL() << "a wrong password was accepted";
  } catch (const EclInternetError& e) {
    EXPECT_EQ(e.ErrorCode(), static_cast<int>(ERROR_INTERNET_EXTENDED_ERROR));
    EXPECT_THAT(e.Message(), HasSubstr("Additional info: 530"));
  }
  EXPECT_EQ(chain->connect->Handle(), nullptr);
}

}  // namespace

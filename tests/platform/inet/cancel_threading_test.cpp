// Closing handles from another thread while a call is blocked under them, and
// several threads using one root at once.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>
#include <vector>

#include "InetTestHelpers.h"
#include "support/FaultServer.h"
#include "support/TempDir.h"

namespace {

using namespace inet_testing;
using testing_support::FaultRoute;
using testing_support::FaultServer;

class Cancel : public ::testing::Test {
 protected:
  void SetUp() override {
    FaultRoute stallHeaders;
    stallHeaders.body = "never";
    stallHeaders.stallBeforeHeaders = true;
    server.Route("/stall-headers", stallHeaders);
    FaultRoute stallBody;
    stallBody.body = testing_support::RandomBytes(100000, 5);
    stallBody.stallAfter = 4096;
    server.Route("/stall-body", stallBody);
  }
  void TearDown() override { server.ReleaseStalls(); }

  HttpSession Open(const std::string& path) {
    HttpSession s = OpenHttp("127.0.0.1", static_cast<INTERNET_PORT>(server.Port()), "GET", path);
    // Long enough that only the close can end the blocked call in this test.
    DWORD limit = 60000;
    InternetSetOptionA(s.request.get(), INTERNET_OPTION_RECEIVE_TIMEOUT, &limit, sizeof(limit));
    return s;
  }
  void WaitForRequests(size_t count) {
    while (server.Requests().size() < count) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    // Give the client a moment to enter its wait after the server saw the request.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }

  FaultServer server;
};

TEST_F(Cancel, ClosingTheRequestEndsABlockedSendWithCancelled) {
  HttpSession s = Open("/stall-headers");
  HINTERNET request = s.request.get();
  auto send = std::async(std::launch::async, [request] {
    BOOL ok = HttpSendRequestA(request, nullptr, 0, nullptr, 0);
    return std::make_pair(ok, LastError());
  });
  WaitForRequests(1);
  ASSERT_TRUE(InternetCloseHandle(request));
  auto [ok, error] = send.get();
  EXPECT_FALSE(ok);
  EXPECT_EQ(error, ERROR_INTERNET_OPERATION_CANCELLED);
  // The handle is gone: closing it again is refused, not a crash.
  EXPECT_FALSE(InternetCloseHandle(request));
  EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST_F(Cancel, ClosingTheRootEndsABlockedReadOfAChildRequest) {
  HttpSession s = Open("/stall-body");
  HINTERNET request = s.request.get();
  ASSERT_TRUE(HttpSendRequestA(request, nullptr, 0, nullptr, 0));
  std::atomic<bool> firstBlockRead{false};
  auto read = std::async(std::launch::async, [request, &firstBlockRead] {
    char buffer[4096];
    DWORD got = 0;
    if (!InternetReadFile(request, buffer, sizeof(buffer), &got) || got != sizeof(buffer)) {
      return std::make_pair(FALSE, LastError());
    }
    firstBlockRead = true;
    BOOL ok = InternetReadFile(request, buffer, sizeof(buffer), &got);
    return std::make_pair(ok, LastError());
  });
  while (!firstBlockRead) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  ASSERT_TRUE(InternetCloseHandle(s.root.get()));
  auto [ok, error] = read.get();
  EXPECT_FALSE(ok);
  EXPECT_EQ(error, ERROR_INTERNET_OPERATION_CANCELLED);
  // Closing the root closed its children too.
  DWORD type = 0;
  DWORD size = sizeof(type);
  EXPECT_FALSE(InternetQueryOptionA(request, INTERNET_OPTION_HANDLE_TYPE, &type, &size));
  EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST_F(Cancel, ClosingTheConnectHandleEndsAHandshakeThatNeverCompletes) {
  // A listener that accepts (in the kernel) but never speaks: TLS waits forever.
  int listener = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
  ASSERT_EQ(listen(listener, 4), 0);
  socklen_t length = sizeof(address);
  getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
  HttpSession s = OpenHttp("127.0.0.1", ntohs(address.sin_port), "GET", "/", INTERNET_FLAG_SECURE);
  DWORD limit = 60000;
  InternetSetOptionA(s.request.get(), INTERNET_OPTION_RECEIVE_TIMEOUT, &limit, sizeof(limit));
  HINTERNET request = s.request.get();
  auto send = std::async(std::launch::async, [request] {
    BOOL ok = HttpSendRequestA(request, nullptr, 0, nullptr, 0);
    return std::make_pair(ok, LastError());
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  ASSERT_TRUE(InternetCloseHandle(s.connect.get()));
  auto [ok, error] = send.get();
  EXPECT_FALSE(ok);
  EXPECT_EQ(error, ERROR_INTERNET_OPERATION_CANCELLED);
  close(listener);
}

TEST_F(Cancel, ThreadsShareOneRootWithoutMixingBodies) {
  std::vector<std::string> bodies;
  for (int i = 0; i < 4; ++i) {
    FaultRoute route;
    route.body = testing_support::RandomBytes(200000 + static_cast<size_t>(i) * 1000,
                                              static_cast<unsigned>(i + 20));
    bodies.push_back(route.body);
    server.Route("/r" + std::to_string(i), route);
  }
  Handle root(InternetOpenA("inet-test", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0));
  Handle connect(InternetConnectA(root.get(), "127.0.0.1", static_cast<INTERNET_PORT>(server.Port()),
                                  nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0));
  std::vector<std::future<bool>> results;
  for (int i = 0; i < 4; ++i) {
    results.push_back(std::async(std::launch::async, [&, i] {
      for (int round = 0; round < 5; ++round) {
        Handle request(HttpOpenRequestA(connect.get(), "GET", ("/r" + std::to_string(i)).c_str(),
                                        nullptr, nullptr, nullptr, 0, 0));
        if (!HttpSendRequestA(request.get(), nullptr, 0, nullptr, 0)) return false;
        std::string body;
        if (!ReadAll(request.get(), body, 3000) || body != bodies[static_cast<size_t>(i)]) {
          return false;
        }
      }
      return true;
    }));
  }
  for (auto& result : results) EXPECT_TRUE(result.get());
}

TEST(LastResponse, IsKeptPerThread) {
  // A thread that never made an FTP call has no response text, whatever others did.
  auto other = std::async(std::launch::async, [] { return LastResponseInfo(); });
  EXPECT_EQ(other.get(), "");
}

}  // namespace

// Closing handles from another thread while a call is blocked under them, and
// several threads using one root at once.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <map>
#include <mutex>
#include <chrono>
#include <future>
#include <thread>
#include <vector>

#include "InetTestHelpers.h"
#include "support/TempDir.h"

namespace {

using namespace inet_testing;

// A small HTTP server written here, so that every thread in these tests runs
// instrumented code: serves bodies by path with keep-alive, and stalls on request
// ("/stall-headers": never answers; "/stall-body": sends 4096 bytes of 100000).
class StallServer {
 public:
  StallServer() {
    listener_ = socket(AF_INET, SOCK_STREAM, 0);
    int yes = 1;
    setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof(yes));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    listen(listener_, 16);
    socklen_t length = sizeof(address);
    getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    acceptor_ = std::thread([this] { AcceptLoop(); });
  }
  ~StallServer() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
    }
    stopped_.notify_all();
    shutdown(listener_, SHUT_RDWR);
    close(listener_);
    acceptor_.join();
    std::vector<std::thread> workers;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      workers.swap(workers_);
    }
    for (std::thread& worker : workers) worker.join();
  }
  INTERNET_PORT Port() const { return static_cast<INTERNET_PORT>(port_); }
  void Body(const std::string& path, std::string body) {
    std::lock_guard<std::mutex> lock(mutex_);
    bodies_[path] = std::move(body);
  }
  size_t Requests() {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
  }

 private:
  void AcceptLoop() {
    for (;;) {
      int fd = accept(listener_, nullptr, nullptr);
      if (fd < 0) return;
      std::lock_guard<std::mutex> lock(mutex_);
      if (stopping_) {
        close(fd);
        return;
      }
      workers_.emplace_back([this, fd] { Serve(fd); });
    }
  }
  void Serve(int fd) {
    std::string pending;
    char buffer[4096];
    for (;;) {
      size_t end;
      while ((end = pending.find("\r\n\r\n")) == std::string::npos) {
        ssize_t got = recv(fd, buffer, sizeof(buffer), 0);
        if (got <= 0) {
          close(fd);
          return;
        }
        pending.append(buffer, static_cast<size_t>(got));
      }
      std::string head = pending.substr(0, end);
      pending.erase(0, end + 4);
      size_t space = head.find(' ');
      std::string path = head.substr(space + 1, head.find(' ', space + 1) - space - 1);
      std::string body;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        ++requests_;
        body = bodies_[path];
      }
      if (path == "/stall-headers") {
        WaitForStop();
        break;
      }
      if (path == "/stall-body") {
        std::string response =
            "HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n" + std::string(4096, 'b');
        send(fd, response.data(), response.size(), MSG_NOSIGNAL);
        WaitForStop();
        break;
      }
      std::string response = "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) +
                             "\r\n\r\n" + body;
      if (send(fd, response.data(), response.size(), MSG_NOSIGNAL) < 0) break;
    }
    close(fd);
  }
  void WaitForStop() {
    std::unique_lock<std::mutex> lock(mutex_);
    stopped_.wait(lock, [this] { return stopping_; });
  }

  int listener_ = -1;
  int port_ = 0;
  std::thread acceptor_;
  std::mutex mutex_;
  std::condition_variable stopped_;
  bool stopping_ = false;                     // guarded by mutex_
  size_t requests_ = 0;                       // guarded by mutex_
  std::map<std::string, std::string> bodies_;  // guarded by mutex_
  std::vector<std::thread> workers_;          // guarded by mutex_
};

class Cancel : public ::testing::Test {
 protected:
  HttpSession Open(const std::string& path) {
    HttpSession s = OpenHttp("127.0.0.1", server.Port(), "GET", path);
    // Long enough that only the close can end the blocked call in this test.
    DWORD limit = 60000;
    InternetSetOptionA(s.request.get(), INTERNET_OPTION_RECEIVE_TIMEOUT, &limit, sizeof(limit));
    return s;
  }
  void WaitForRequests(size_t count) {
    while (server.Requests() < count) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    // Give the client a moment to enter its wait after the server saw the request.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }

  StallServer server;
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
    bodies.push_back(testing_support::RandomBytes(200000 + static_cast<size_t>(i) * 1000,
                                                  static_cast<unsigned>(i + 20)));
    server.Body("/r" + std::to_string(i), bodies.back());
  }
  Handle root(InternetOpenA("inet-test", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0));
  Handle connect(InternetConnectA(root.get(), "127.0.0.1", server.Port(), nullptr, nullptr,
                                  INTERNET_SERVICE_HTTP, 0, 0));
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

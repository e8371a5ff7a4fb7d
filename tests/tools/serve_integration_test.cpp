// The server program itself, started on a free loopback port and asked with a
// real HTTP client.
#include <gtest/gtest.h>
#include <httplib.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <zlib.h>

#include <chrono>
#include <memory>
#include <regex>
#include <string>
#include <thread>

#include "platform/Files.h"
#include "platform/Process.h"
#include "support/ChildProcess.h"
#include "support/TempDir.h"

namespace {

using namespace std::chrono_literals;
using testing_support::ChildProcess;
using testing_support::TempDir;

constexpr std::size_t kBigSize = 300000;

std::string Gunzip(const std::string& data) {
  z_stream stream{};
  inflateInit2(&stream, 15 + 16);
  std::string out;
  char buffer[16384];
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  stream.avail_in = static_cast<uInt>(data.size());
  int status = Z_OK;
  while (status == Z_OK) {
    stream.next_out = reinterpret_cast<Bytef*>(buffer);
    stream.avail_out = sizeof buffer;
    status = inflate(&stream, Z_NO_FLUSH);
    out.append(buffer, sizeof buffer - stream.avail_out);
  }
  inflateEnd(&stream);
  return status == Z_STREAM_END ? out : "<not gzip>";
}

// A site folder and the running server over it.
class ServeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    site_ = dir_.Path() + "/site root";
    platform::ForceDirectories(site_ + "/tarvo/file");
    big_ = testing_support::RandomBytes(kBigSize, 7);
    testing_support::WriteFile(site_ + "/tarvo/file/big.bin", big_);
    testing_support::WriteFile(site_ + "/tarvo/livelist.txt",
                               "[main]\nfile1=0,big.bin\nfile2=0,big.bin\nfile3=0,big.bin\n");
    testing_support::WriteFile(dir_.File("secret.txt"), "outside the site");
    // A known modification time for Last-Modified.
    struct timeval times[2] = {{1445412480, 0}, {1445412480, 0}};
    ::utimes((site_ + "/tarvo/file/big.bin").c_str(), times);
  }

  void Start(std::vector<std::string> extra = {}) {
    std::vector<std::string> argv{LIVEUPDATE_SERVE_PROGRAM, "--root", site_, "--port", "0"};
    argv.insert(argv.end(), extra.begin(), extra.end());
    server_ = std::make_unique<ChildProcess>(argv, dir_.File("serve.log"));
    std::regex ready("listening on http://127\\.0\\.0\\.1:([0-9]+)\n");
    auto deadline = std::chrono::steady_clock::now() + 10s;
    std::smatch match;
    std::string log;
    while (!std::regex_search(log = testing_support::ReadFile(server_->LogFile()), match, ready)) {
      ASSERT_LT(std::chrono::steady_clock::now(), deadline) << log;
      std::this_thread::sleep_for(10ms);
    }
    port_ = std::stoi(match[1]);
    client_ = std::make_unique<httplib::Client>("127.0.0.1", port_);
    client_->set_decompress(false);
  }

  httplib::Result Get(const std::string& path, httplib::Headers headers = {}) {
    return client_->Get(path, headers);
  }

  TempDir dir_;
  std::string site_;
  std::string big_;
  std::unique_ptr<ChildProcess> server_;
  int port_ = 0;
  std::unique_ptr<httplib::Client> client_;
};

TEST_F(ServeTest, WholeFileWithLengthDateAndRanges) {
  Start();
  auto result = Get("/tarvo/file/big.bin");
  ASSERT_TRUE(result);
  EXPECT_EQ(result->status, 200);
  EXPECT_EQ(result->body, big_);
  EXPECT_EQ(result->get_header_value("Content-Length"), std::to_string(kBigSize));
  EXPECT_EQ(result->get_header_value("Accept-Ranges"), "bytes");
  EXPECT_EQ(result->get_header_value("Last-Modified"), "Wed, 21 Oct 2015 07:28:00 GMT");
  EXPECT_FALSE(result->has_header("Content-Encoding"));
}

TEST_F(ServeTest, HeadTellsTheSameWithoutABody) {
  Start();
  auto result = client_->Head("/tarvo/file/big.bin");
  ASSERT_TRUE(result);
  EXPECT_EQ(result->status, 200);
  EXPECT_TRUE(result->body.empty());
  EXPECT_EQ(result->get_header_value("Content-Length"), std::to_string(kBigSize));
  EXPECT_EQ(result->get_header_value("Accept-Ranges"), "bytes");
  EXPECT_EQ(result->get_header_value("Last-Modified"), "Wed, 21 Oct 2015 07:28:00 GMT");
}

TEST_F(ServeTest, RangesAreAnsweredWithTheirBytes) {
  Start();
  struct Case {
    std::string range;
    std::size_t first;
    std::size_t last;
  };
  const Case cases[] = {
      {"bytes=0-0", 0, 0},
      {"bytes=1000-1999", 1000, 1999},
      {"bytes=299990-", 299990, kBigSize - 1},
      {"bytes=-10", kBigSize - 10, kBigSize - 1},
      {"bytes=150000-999999", 150000, kBigSize - 1},
  };
  for (const Case& c : cases) {
    auto result = Get("/tarvo/file/big.bin", {{"Range", c.range}});
    ASSERT_TRUE(result) << c.range;
    EXPECT_EQ(result->status, 206) << c.range;
    EXPECT_EQ(result->body, big_.substr(c.first, c.last - c.first + 1)) << c.range;
    EXPECT_EQ(result->get_header_value("Content-Range"), "bytes " + std::to_string(c.first) + "-" +
                                                             std::to_string(c.last) + "/" +
                                                             std::to_string(kBigSize))
        << c.range;
    EXPECT_EQ(result->get_header_value("Content-Length"), std::to_string(c.last - c.first + 1));
  }
  auto past = Get("/tarvo/file/big.bin", {{"Range", "bytes=300000-"}});
  ASSERT_TRUE(past);
  EXPECT_EQ(past->status, 416);
  EXPECT_EQ(past->get_header_value("Content-Range"), "bytes */300000");
  auto several = Get("/tarvo/file/big.bin", {{"Range", "bytes=0-1,5-6"}});
  ASSERT_TRUE(several);
  EXPECT_EQ(several->status, 200);
  EXPECT_EQ(several->body, big_);
}

TEST_F(ServeTest, NothingOutsideTheRootIsServed) {
  Start();
  for (const char* path : {"/../secret.txt", "/tarvo/../../secret.txt",
                           "/tarvo/%2e%2e/../secret.txt", "/missing.dat", "/tarvo", "/"}) {
    auto result = Get(path);
    ASSERT_TRUE(result) << path;
    EXPECT_EQ(result->status, 404) << path;
    EXPECT_EQ(result->body.find("outside"), std::string::npos) << path;
  }
}

TEST_F(ServeTest, GzipGoesOnlyToClientsThatAcceptIt) {
  Start({"--gzip"});
  auto compressed = Get("/tarvo/livelist.txt", {{"Accept-Encoding", "gzip, deflate"}});
  ASSERT_TRUE(compressed);
  EXPECT_EQ(compressed->status, 200);
  EXPECT_EQ(compressed->get_header_value("Content-Encoding"), "gzip");
  EXPECT_EQ(Gunzip(compressed->body),
            "[main]\nfile1=0,big.bin\nfile2=0,big.bin\nfile3=0,big.bin\n");
  EXPECT_EQ(compressed->get_header_value("Content-Length"),
            std::to_string(compressed->body.size()));
  // Ranges count bytes of the compressed form.
  auto part = Get("/tarvo/livelist.txt", {{"Accept-Encoding", "gzip"}, {"Range", "bytes=0-9"}});
  ASSERT_TRUE(part);
  EXPECT_EQ(part->status, 206);
  EXPECT_EQ(part->body, compressed->body.substr(0, 10));
  EXPECT_EQ(part->get_header_value("Content-Range"),
            "bytes 0-9/" + std::to_string(compressed->body.size()));

  auto plain = Get("/tarvo/livelist.txt");
  ASSERT_TRUE(plain);
  EXPECT_FALSE(plain->has_header("Content-Encoding"));
  EXPECT_EQ(plain->body, "[main]\nfile1=0,big.bin\nfile2=0,big.bin\nfile3=0,big.bin\n");
}

TEST_F(ServeTest, WithoutGzipTextIsSentAsItIs) {
  Start();
  auto result = Get("/tarvo/livelist.txt", {{"Accept-Encoding", "gzip"}});
  ASSERT_TRUE(result);
  EXPECT_FALSE(result->has_header("Content-Encoding"));
  EXPECT_EQ(result->get_header_value("Content-Length"), "55");
  EXPECT_EQ(result->body.size(), 55u);
}

TEST_F(ServeTest, RateLimitedAnswerTakesAtLeastItsTime) {
  constexpr std::size_t kRate = 50000;
  Start({"--rate", std::to_string(kRate)});
  auto started = std::chrono::steady_clock::now();
  auto result = Get("/tarvo/file/big.bin", {{"Range", "bytes=0-99999"}});
  auto took = std::chrono::steady_clock::now() - started;
  ASSERT_TRUE(result);
  EXPECT_EQ(result->body, big_.substr(0, 100000));
  // 100000 bytes at 50000 B/s: no less than about two seconds (a floor only).
  EXPECT_GE(took, 1900ms);
}

TEST_F(ServeTest, ConcurrentConnectionsArePacedEach) {
  constexpr std::size_t kRate = 100000;
  Start({"--rate", std::to_string(kRate)});
  // Two connections at once: each answer arrives whole and none beats its own
  // floor of 100000 bytes at 100000 B/s.
  auto fetch = [this](const std::string& range, std::string& body,
                      std::chrono::steady_clock::duration& took) {
    httplib::Client client("127.0.0.1", port_);
    auto started = std::chrono::steady_clock::now();
    auto result = client.Get("/tarvo/file/big.bin", {{"Range", range}});
    took = std::chrono::steady_clock::now() - started;
    if (result) body = result->body;
  };
  std::string first, second;
  std::chrono::steady_clock::duration tookFirst{}, tookSecond{};
  std::thread a([&] { fetch("bytes=0-99999", first, tookFirst); });
  std::thread b([&] { fetch("bytes=100000-199999", second, tookSecond); });
  a.join();
  b.join();
  EXPECT_EQ(first, big_.substr(0, 100000));
  EXPECT_EQ(second, big_.substr(100000, 100000));
  EXPECT_GE(tookFirst, 950ms);
  EXPECT_GE(tookSecond, 950ms);
}

TEST(ServeProgramTest, StopsOnSigtermAndSigint) {
  TempDir dir;
  for (int signal : {SIGTERM, SIGINT}) {
    int port = testing_support::FreeLoopbackPort();
    int pid = 0;
    ASSERT_TRUE(platform::StartProcess(
        {LIVEUPDATE_SERVE_PROGRAM, "--root", dir.Path(), "--port", std::to_string(port)}, &pid));
    ASSERT_TRUE(testing_support::WaitForListener(port, 10s));
    ::kill(pid, signal);
    int exitCode = -1;
    const bool ended = platform::WaitForProcess(pid, 10s, exitCode);
    // A server left running would hold the test runner's output open.
    if (!ended) ::kill(pid, SIGKILL);
    ASSERT_TRUE(ended) << "signal " << signal;
    EXPECT_EQ(exitCode, 0) << "signal " << signal;
  }
}

TEST(ServeProgramTest, RefusesAMissingRoot) {
  int pid = 0;
  ASSERT_TRUE(
      platform::StartProcess({LIVEUPDATE_SERVE_PROGRAM, "--root", "/nonexistent/site"}, &pid));
  int exitCode = 0;
  ASSERT_TRUE(platform::WaitForProcess(pid, 10s, exitCode));
  EXPECT_NE(exitCode, 0);
}

}  // namespace

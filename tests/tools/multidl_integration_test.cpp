// The built multidl program against servers on 127.0.0.1: bytes on disk, exit
// statuses, -c after a SIGINT in the middle of a download (a split map too), -i with -j,
// --checksum, and the readout on a pseudo-terminal.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "MultidlProcess.h"
#include "StateFile.h"
#include "support/ChildProcess.h"
#include "support/FaultServer.h"
#include "support/NginxServer.h"
#include "support/ProxyServer.h"
#include "support/TempDir.h"

namespace {

using namespace std::chrono_literals;
using testing_support::FaultRoute;
using testing_support::FaultServer;
using testing_support::RandomBytes;
using testing_support::ReadFile;
using testing_support::TempDir;

using multidl_test::Program;
using multidl_test::Spawn;
using multidl_test::Wait;

class MultidlTest : public ::testing::Test {
 protected:
  int Run(const std::vector<std::string>& args) { return Wait(Spawn(args, Log())); }
  std::string Log() const { return dir.File("multidl.log"); }
  std::string Out(const std::string& name) const { return dir.File("out/" + name); }
  int Count(const std::string& path, const std::string& method, bool ranged = false) const {
    return server.Count(path, method, ranged);
  }

  TempDir dir;
  FaultServer server;
};

TEST_F(MultidlTest, DownloadsEveryByteInSegmentsAndExitsZero) {
  const std::string body = RandomBytes(200000, 1);
  server.Route("/a.bin", FaultRoute{body});
  // Blocks small enough for four segments of a small file.
  EXPECT_EQ(Run({"-q", "-n", "4", "--batch-size", "8192", "-d", dir.File("out"),
                 server.Url("/a.bin")}),
            0)
      << ReadFile(Log());
  EXPECT_EQ(ReadFile(Out("a.bin")), body);
  EXPECT_EQ(Count("/a.bin", "GET", true), 4);
  EXPECT_FALSE(testing_support::FileExists(Out("a.bin.multidl"))) << "no state once complete";
}

TEST_F(MultidlTest, FetchesFromNginxInFiveSegments) {
  if (!testing_support::NginxServer::Available()) GTEST_SKIP() << "nginx is not installed";
  const std::string body = RandomBytes(5 << 20, 7);
  ::mkdir(dir.File("site").c_str(), 0755);
  testing_support::WriteFile(dir.File("site/big.bin"), body);
  testing_support::NginxOptions options;
  options.root = dir.File("site");
  testing_support::NginxServer nginx(dir.File("nginx"), options);
  ASSERT_TRUE(nginx.Started());
  // Fixed: a busy machine may otherwise let a finishing worker split another.
  EXPECT_EQ(Run({"-q", "-n", "5", "--fixed-segments", "-d", dir.File("out"),
                 nginx.Url("/big.bin")}),
            0)
      << ReadFile(Log());
  EXPECT_TRUE(ReadFile(Out("big.bin")) == body);
  const std::string log = nginx.AccessLog();
  int partial = 0;
  for (size_t at = log.find("\"GET /big.bin HTTP/1.1\" 206 "); at != std::string::npos;
       at = log.find("\"GET /big.bin HTTP/1.1\" 206 ", at + 1))
    ++partial;
  EXPECT_EQ(partial, 5) << log;
}

TEST_F(MultidlTest, FailuresHaveTheirDocumentedStatus) {
  server.Route("/missing", FaultRoute{"", 404});
  server.Route("/big", FaultRoute{RandomBytes(5000, 2)});
  FaultRoute stall{RandomBytes(1000, 3)};
  stall.stallBeforeHeaders = true;
  server.Route("/stall", stall);
  testing_support::WriteFile(dir.File("file"), "x");
  struct Case {
    std::vector<std::string> args;
    int status;
    const char* says;
  } cases[] = {
      {{"-d", dir.File("out"), server.Url("/missing")}, 3, "code = 404"},
      {{"--timeout", "200", "--tries", "2", "--reconnect-after", "10", "-d", dir.File("out"),
        server.Url("/stall")},
       3,
       "Request timeout"},
      {{"--max-size", "1K", "-d", dir.File("out"), server.Url("/big")}, 6, "refused"},
      {{"-d", dir.File("file") + "/sub", server.Url("/big")}, 4, "cannot write"},
      {{"-n", "12", server.Url("/big")}, 2, "threads"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Run(c.args), c.status) << c.says << "\n" << ReadFile(Log());
    EXPECT_NE(ReadFile(Log()).find(c.says), std::string::npos) << ReadFile(Log());
  }
  server.ReleaseStalls();
  EXPECT_FALSE(testing_support::FileExists(Out("big"))) << "a refused resource writes nothing";
}

TEST_F(MultidlTest, ChecksumsAreVerified) {
  server.Route("/c.txt", FaultRoute{"hello\n"});
  const std::string sha = "5891b5b522d5df086d0ff0b110fbd9d21bb4fc7163af34d08286a2e846f6be03";
  EXPECT_EQ(Run({"-q", "--checksum", "sha-256=" + sha, "-o", Out("c.txt"), server.Url("/c.txt")}),
            0)
      << ReadFile(Log());
  std::string wrong = sha;
  wrong[0] = '6';
  EXPECT_EQ(Run({"-q", "--checksum", "sha-256=" + wrong, "-o", Out("c.txt"), server.Url("/c.txt")}),
            5);
  EXPECT_NE(ReadFile(Log()).find("mismatch"), std::string::npos) << ReadFile(Log());
}

TEST_F(MultidlTest, AListRunsAtMostJobsItemsAtOnce) {
  std::string list = "# four files\n";
  for (int i = 0; i < 4; ++i) {
    FaultRoute route{RandomBytes(3000, 10 + i)};
    route.stallAfter = 1000;  // each holds its connection until released
    route.faultTimes = 1;
    server.Route("/l" + std::to_string(i), route);
    list += server.Url("/l" + std::to_string(i)) + "\n\n";
  }
  testing_support::WriteFile(dir.File("list"), list);
  const pid_t pid = Spawn({"-q", "-j", "2", "--timeout", "1500", "--reconnect-after", "10", "-i",
                           dir.File("list"), "-d", dir.File("out")},
                          Log());
  std::this_thread::sleep_for(800ms);
  // Two items stall in their data requests; the other two have not been asked for.
  int started = 0;
  for (int i = 0; i < 4; ++i) started += Count("/l" + std::to_string(i), "HEAD") > 0;
  EXPECT_EQ(started, 2);
  EXPECT_EQ(Wait(pid), 0) << ReadFile(Log());
  server.ReleaseStalls();
  for (int i = 0; i < 4; ++i)
    EXPECT_EQ(ReadFile(Out("l" + std::to_string(i))), RandomBytes(3000, 10 + i)) << i;
}

TEST_F(MultidlTest, ContinueAfterSigintFetchesOnlyWhatIsMissing) {
  const std::string body = RandomBytes(400000, 20);
  FaultRoute route{body};
  route.stallAfter = 100000;  // every segment stops half-way the first time
  route.faultTimes = 2;
  server.Route("/r.bin", route);
  const pid_t pid = Spawn({"-n", "2", "-d", dir.File("out"), server.Url("/r.bin")}, Log());
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (Count("/r.bin", "GET", true) < 2 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(20ms);
  }
  std::this_thread::sleep_for(500ms);
  ::kill(pid, SIGINT);
  EXPECT_EQ(Wait(pid), 130) << ReadFile(Log());
  server.ReleaseStalls();
  const std::string state = ReadFile(Out("r.bin.multidl"));
  ASSERT_NE(state.find("\"BytesProceed\""), std::string::npos) << ReadFile(Log());

  EXPECT_EQ(Run({"-q", "-c", "-n", "2", "-d", dir.File("out"), server.Url("/r.bin")}), 0)
      << ReadFile(Log());
  EXPECT_EQ(ReadFile(Out("r.bin")), body);
  EXPECT_FALSE(testing_support::FileExists(Out("r.bin.multidl")));
  // The resumed requests start past the bytes kept, never at the segment starts.
  std::vector<std::string> ranges;
  for (const auto& r : server.Requests()) {
    if (r.path == "/r.bin" && !r.Header("range").empty()) ranges.push_back(r.Header("range"));
  }
  ASSERT_EQ(ranges.size(), 4u);
  for (std::size_t i = 2; i < 4; ++i) {
    EXPECT_NE(ranges[i], "bytes=0-199999");
    EXPECT_NE(ranges[i], "bytes=200000-399999");
  }
}

TEST_F(MultidlTest, ASplitMapIsSavedOnSigintAndResumedWithC) {
  // The second of three segments crawls, and so does every later request:
  // the workers that finish split it, and their takers crawl in turn.
  const std::string body = RandomBytes(3 << 20, 21);
  FaultRoute route{body};
  route.slowRate = 16 * 1024;
  for (int i = 1; i < 40; ++i) route.slowRanged.push_back(i == 2 ? 0 : i);
  server.Route("/s.bin", route);
  const pid_t pid = Spawn({"-n", "3", "-d", dir.File("out"), server.Url("/s.bin")}, Log());
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (Count("/s.bin", "GET", true) < 5 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(20ms);
  }
  ::kill(pid, SIGINT);
  EXPECT_EQ(Wait(pid), 130) << ReadFile(Log());
  const auto saved = multidl::LoadStateFile(Out("s.bin.multidl"));
  ASSERT_TRUE(saved) << ReadFile(Log());
  ASSERT_GT(saved->segments.size(), 3u) << "no split was saved";
  std::int64_t next = 0;
  std::vector<std::pair<std::int64_t, std::int64_t>> missing;  // first and last byte
  for (const multidl::SavedSegment& segment : saved->segments) {
    EXPECT_EQ(segment.resourcePos, next) << "a gap or an overlap in the saved map";
    next = segment.resourcePos + segment.bytesToProceed;
    if (segment.bytesProceed < segment.bytesToProceed)
      missing.emplace_back(segment.resourcePos + segment.bytesProceed, next - 1);
  }
  EXPECT_EQ(next, static_cast<std::int64_t>(body.size()));

  const std::size_t before = server.Requests().size();
  server.Route("/s.bin", FaultRoute{body});
  EXPECT_EQ(Run({"-q", "-c", "-n", "3", "-d", dir.File("out"), server.Url("/s.bin")}), 0)
      << ReadFile(Log());
  EXPECT_EQ(ReadFile(Out("s.bin")), body);
  // Every missing part is asked for from its first byte, and nothing outside
  // the missing parts is asked for (a part split again asks within it).
  std::set<std::int64_t> starts;
  const auto requests = server.Requests();
  for (std::size_t i = before; i < requests.size(); ++i) {
    const std::string range = requests[i].Header("range");
    if (range.empty()) continue;
    const std::int64_t first = std::stoll(range.substr(6));
    const std::int64_t last = std::stoll(range.substr(range.find('-') + 1));
    starts.insert(first);
    EXPECT_TRUE(std::any_of(missing.begin(), missing.end(), [&](const auto& m) {
      return first >= m.first && last <= m.second;
    })) << range << " asks for bytes the map holds";
  }
  for (const auto& m : missing) EXPECT_EQ(starts.count(m.first), 1u) << m.first;
}

TEST_F(MultidlTest, AChangedResourceIsFetchedAfreshDespiteTheStateFile) {
  const std::string oldBody = RandomBytes(100000, 30);
  FaultRoute route{oldBody};
  route.dropAfter = 20000;
  server.Route("/ch.bin", route);
  EXPECT_EQ(Run({"-q", "--tries", "1", "-n", "2", "-d", dir.File("out"), server.Url("/ch.bin")}),
            3);
  ASSERT_TRUE(testing_support::FileExists(Out("ch.bin.multidl"))) << "a failure leaves its map";
  const std::string newBody = RandomBytes(100000, 31);
  FaultRoute changed{newBody};
  changed.lastModified = "Thu, 22 Oct 2015 07:28:00 GMT";
  server.Route("/ch.bin", changed);
  EXPECT_EQ(Run({"-q", "-c", "-d", dir.File("out"), server.Url("/ch.bin")}), 0) << ReadFile(Log());
  EXPECT_EQ(ReadFile(Out("ch.bin")), newBody);
}

TEST_F(MultidlTest, ReadoutOnATerminalRedrawsInPlaceWithTheBar) {
  FaultRoute route{RandomBytes(300000, 40)};
  route.stallAfter = 60000;
  route.faultTimes = 3;
  server.Route("/t.bin", route);
  int master = -1;
  winsize size{};
  size.ws_col = 100;
  size.ws_row = 24;
  const pid_t pid = ::forkpty(&master, nullptr, nullptr, &size);
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    std::string program = Program();
    std::string out = dir.File("out");
    std::string url = server.Url("/t.bin");
    // Blocks smaller than what arrives before the stall, so that it shows.
    ::execl(program.c_str(), program.c_str(), "-n", "3", "--batch-size", "8192", "--timeout",
            "1000", "--reconnect-after", "10", "-d", out.c_str(), url.c_str(),
            static_cast<char*>(nullptr));
    ::_exit(127);
  }
  std::string screen;
  testing_support::ReadUntil(master, "", screen);
  ::close(master);
  EXPECT_EQ(Wait(pid), 0) << screen;
  server.ReleaseStalls();
  EXPECT_NE(screen.find("t.bin"), std::string::npos);
  EXPECT_NE(screen.find("\x1b[1A\r\x1b[J"), std::string::npos) << "the line is redrawn in place";
  // While stalled, each of the three segments shows its done part at its place.
  EXPECT_NE(screen.find("#...."), std::string::npos) << screen;
  EXPECT_NE(screen.find("....#"), std::string::npos) << screen;
  EXPECT_NE(screen.find("done: "), std::string::npos);
}

TEST_F(MultidlTest, ProxyCredentialsReachAnAuthenticatingProxy) {
  if (!testing_support::ProxyServer::Available()) GTEST_SKIP() << "no proxy program";
  testing_support::ProxyServer proxy(dir.Path(), "alice", "s3cret");
  ASSERT_TRUE(proxy.Started());
  const std::string body = RandomBytes(50000, 50);
  server.Route("/p.bin", FaultRoute{body});
  EXPECT_EQ(Run({"-q", "--tries", "1", "--proxy", proxy.HostPort(), "--proxy-user", "alice:s3cret",
                 "-d", dir.File("out"), server.Url("/p.bin")}),
            0)
      << ReadFile(Log());
  EXPECT_EQ(ReadFile(Out("p.bin")), body);
  EXPECT_NE(Run({"-q", "--tries", "1", "--proxy", proxy.HostPort(), "-o", Out("q.bin"),
                 server.Url("/p.bin")}),
            0);
}

}  // namespace

// The fault matrix: the built multidl against misbehaving servers on 127.0.0.1
// (the fault server, an FTP server that cuts a transfer, a Digest proxy, a
// full file system). Every row ends in exactly one of two ways: the right
// bytes (checked by their sha-256), or a clear failure with the documented
// exit status and nothing left that looks complete.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "MultidlProcess.h"
#include "support/ChildProcess.h"
#include "support/FaultServer.h"
#include "support/FtpServer.h"
#include "support/ProxyServer.h"
#include "support/TempDir.h"

namespace {

using testing_support::FaultRoute;
using testing_support::FaultServer;
using testing_support::FileExists;
using testing_support::RandomBytes;
using testing_support::ReadFile;
using testing_support::TempDir;

std::string Sha256(const std::string& data) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_Digest(data.data(), data.size(), digest, &length, EVP_sha256(), nullptr);
  static const char kHex[] = "0123456789abcdef";
  std::string hex;
  for (unsigned int i = 0; i < length; ++i) {
    hex += kHex[digest[i] >> 4];
    hex += kHex[digest[i] & 15];
  }
  return hex;
}

int Occurrences(const std::string& text, const std::string& what) {
  int n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

const std::string kBody = RandomBytes(100000, 70);
const std::string kOther = RandomBytes(100000, 71);

// What a row leaves on disk.
enum class Disk {
  kBody,         // the file holds Expected (sha-256)
  kNothing,      // no file of that name
  kIncomplete,   // no file, or one shorter than the resource: never one that looks complete
};

struct Row {
  const char* name;
  // Sets up the routes (and servers) and returns multidl's arguments; Out is
  // the output file.
  std::function<std::vector<std::string>(FaultServer&, TempDir&, const std::string& out)> setup;
  int exit;
  Disk disk;
  std::string expected;  // the file's bytes when Disk is kBody
  std::string says;      // text the run must print
  // Further checks on what the server received and what was printed.
  std::function<void(const FaultServer&, const std::string& log, const std::string& out)> check;
};

FaultRoute Route(const std::string& body) { return FaultRoute{body}; }

std::vector<std::string> Args(std::initializer_list<std::string> extra, const std::string& out,
                              const std::string& url) {
  // The bodies are small: 8 KiB blocks let them have several segments.
  std::vector<std::string> args{"-o", out, "--batch-size", "8192"};
  args.insert(args.end(), extra);
  if (std::find(args.begin(), args.end(), "--reconnect-after") == args.end()) {
    args.insert(args.end(), {"--reconnect-after", "10"});
  }
  args.push_back(url);
  return args;
}

std::vector<std::string> RangesOf(const FaultServer& server, const std::string& path) {
  std::vector<std::string> ranges;
  for (const auto& r : server.Requests()) {
    if (r.path == path && !r.Header("range").empty()) ranges.push_back(r.Header("range"));
  }
  return ranges;
}

std::vector<Row> Rows() {
  std::vector<Row> rows;
  const std::string gz = testing_support::GzipCompress(kBody);

  rows.push_back({"a gzip body cut by 2,000 bytes fails the item",
                  [gz](FaultServer& s, TempDir&, const std::string& out) {
                    FaultRoute r = Route(gz.substr(0, gz.size() - 2000));
                    r.contentEncoding = "gzip";
                    s.Route("/gzcut", r);
                    return Args({}, out, s.Url("/gzcut"));
                  },
                  3, Disk::kNothing, "", "Uncompressing failure", nullptr});
  rows.push_back({"a garbage gzip body fails the item",
                  [](FaultServer& s, TempDir&, const std::string& out) {
                    FaultRoute r = Route(std::string("\x1f\x8b\x08\x00", 4) + RandomBytes(5000, 72));
                    r.contentEncoding = "gzip";
                    s.Route("/gzbad", r);
                    return Args({}, out, s.Url("/gzbad"));
                  },
                  3, Disk::kNothing, "", "Uncompressing failure", nullptr});
  rows.push_back({"206 answers with another total than HEAD's length",
                  [](FaultServer& s, TempDir&, const std::string& out) {
                    FaultRoute r = Route(kBody);
                    r.rangeTotal = 200000;
                    s.Route("/total", r);
                    return Args({}, out, s.Url("/total"));
                  },
                  3, Disk::kIncomplete, "", "changed on the server: its length 100000 is now 200000",
                  nullptr});
  rows.push_back({"a GET answers 200 with 200,000 bytes where HEAD said 100,000",
                  [](FaultServer& s, TempDir&, const std::string& out) {
                    FaultRoute r = Route(kBody);
                    auto bigger = std::make_shared<FaultRoute>(kOther + kOther);
                    bigger->acceptRanges = false;
                    r.changed = bigger;
                    r.changedAfter = 2;  // after HEAD and the information GET
                    s.Route("/grown", r);
                    return Args({}, out, s.Url("/grown"));
                  },
                  0, Disk::kBody, kOther + kOther, "is now 200000", nullptr});
  rows.push_back({"206 answers from byte 20,000 on carry a new ETag and Last-Modified",
                  [](FaultServer& s, TempDir&, const std::string& out) {
                    FaultRoute r = Route(kBody);
                    r.etag = "\"v1\"";
                    auto later = std::make_shared<FaultRoute>(kOther);
                    later->etag = "\"v2\"";
                    later->lastModified = "Thu, 22 Oct 2015 07:28:00 GMT";
                    later->ignoreIfRange = true;
                    r.changed = later;
                    r.changedFrom = 20000;
                    s.Route("/spliced", r);
                    return Args({"-n", "5"}, out, s.Url("/spliced"));
                  },
                  3, Disk::kIncomplete, "", "ETag \"v1\" is now \"v2\"",
                  [](const FaultServer& s, const std::string&, const std::string&) {
                    int ranged = 0;
                    for (const auto& r : s.Requests()) {
                      if (r.path != "/spliced" || r.Header("range").empty()) continue;
                      ++ranged;
                      EXPECT_EQ(r.Header("if-range"), "\"v1\"") << r.Header("range");
                    }
                    // How many went out before the first change stopped the rest varies.
                    EXPECT_GE(ranged, 2);
                  }});
  rows.push_back({"the resource changes mid-download and the server honours If-Range",
                  [](FaultServer& s, TempDir&, const std::string& out) {
                    FaultRoute r = Route(kBody);
                    r.etag = "\"v1\"";
                    auto next = std::make_shared<FaultRoute>(kOther);
                    next->etag = "\"v2\"";
                    r.changed = next;
                    r.changedAfter = 4;
                    s.Route("/moved", r);
                    return Args({"-n", "5"}, out, s.Url("/moved"));
                  },
                  0, Disk::kBody, kOther, "The resource changed on the server", nullptr});
  rows.push_back({"a chunked body cut, then complete and shorter on the retry",
                  [](FaultServer& s, TempDir&, const std::string& out) {
                    FaultRoute r = Route(kBody);
                    r.contentLength = false;
                    r.dropAfter = 73728;
                    auto complete = std::make_shared<FaultRoute>(kOther.substr(0, 50000));
                    complete->contentLength = false;
                    r.changed = complete;
                    // HEAD and information GET, then the data worker's HEAD and its GET.
                    r.changedAfter = 4;
                    s.Route("/chunked", r);
                    return Args({}, out, s.Url("/chunked"));
                  },
                  0, Disk::kBody, kOther.substr(0, 50000), "(48.8KiB in", nullptr});
  rows.push_back({"one segment without ranges recovers from a dropped connection",
                  [](FaultServer& s, TempDir&, const std::string& out) {
                    FaultRoute r = Route(kBody);
                    r.acceptRanges = false;
                    r.dropAfter = 30000;
                    r.faultTimes = 1;
                    s.Route("/noranges", r);
                    return Args({}, out, s.Url("/noranges"));
                  },
                  0, Disk::kBody, kBody, "(97.7KiB in", nullptr});
  for (int status : {405, 501}) {
    rows.push_back({status == 405 ? "HEAD refused with 405" : "HEAD refused with 501",
                    [status](FaultServer& s, TempDir&, const std::string& out) {
                      FaultRoute r = Route(kBody);
                      r.headStatus = status;
                      s.Route("/nohead", r);
                      return Args({}, out, s.Url("/nohead"));
                    },
                    0, Disk::kBody, kBody, "done: ", nullptr});
  }
  rows.push_back({"no Last-Modified still gives five segments, with a warning",
                  [](FaultServer& s, TempDir&, const std::string& out) {
                    FaultRoute r = Route(kBody);
                    r.lastModified = "";
                    s.Route("/nodate", r);
                    return Args({"-n", "5"}, out, s.Url("/nodate"));
                  },
                  0, Disk::kBody, kBody, "warning: The requested header was not found: Last Modified",
                  [](const FaultServer& s, const std::string&, const std::string&) {
                    // Inclusive ranges: exactly the bytes of each segment.
                    std::vector<std::string> ranges = RangesOf(s, "/nodate");
                    std::sort(ranges.begin(), ranges.end());
                    EXPECT_EQ(ranges, (std::vector<std::string>{"bytes=0-19999", "bytes=20000-39999",
                                                                "bytes=40000-59999", "bytes=60000-79999",
                                                                "bytes=80000-99999"}));
                  }});
  for (int status : {404, 410}) {
    rows.push_back({status == 404 ? "404 is not retried" : "410 is not retried",
                    [status](FaultServer& s, TempDir&, const std::string& out) {
                      const std::string path = "/gone" + std::to_string(status);
                      s.Route(path, FaultRoute{"", status});
                      return Args({"--reconnect-after", "60000"}, out, s.Url(path));
                    },
                    3, Disk::kNothing, "", "code = " + std::to_string(status),
                    [status](const FaultServer& s, const std::string&, const std::string&) {
                      EXPECT_EQ(s.Count("/gone" + std::to_string(status), "HEAD"), 1)
                          << "no second attempt";
                    }});
  }
  rows.push_back({"503 with Retry-After waits what the server asked",
                  [](FaultServer& s, TempDir&, const std::string& out) {
                    FaultRoute r{"", 503};
                    r.retryAfter = "1";
                    r.changed = std::make_shared<FaultRoute>(kBody);
                    r.changedAfter = 1;
                    s.Route("/busy", r);
                    return Args({"--reconnect-after", "60000"}, out, s.Url("/busy"));
                  },
                  0, Disk::kBody, kBody, "retrying in 1 s: HTTP 503", nullptr});
  for (const char* url : {"gopher://127.0.0.1/x.bin", "htp://127.0.0.1/x.bin"}) {
    rows.push_back({"an unsupported scheme",
                    [url](FaultServer&, TempDir&, const std::string& out) {
                      return Args({}, out, url);
                    },
                    2, Disk::kNothing, "", "unsupported protocol", nullptr});
  }
  rows.push_back({"-o naming a folder",
                  [](FaultServer& s, TempDir& dir, const std::string&) {
                    s.Route("/f", Route(kBody));
                    ::mkdir(dir.File("folder").c_str(), 0755);
                    return Args({}, dir.File("folder"), s.Url("/f"));
                  },
                  4, Disk::kNothing, "", "is a folder", nullptr});
  rows.push_back({"the state file keeps no password and only its owner reads it",
                  [](FaultServer& s, TempDir&, const std::string& out) {
                    FaultRoute r = Route(kBody);
                    r.dropAfter = 12000;
                    s.Route("/cred", r);
                    std::string url = s.Url("/cred");
                    url.insert(7, "bob:hunter2@");
                    return Args({"--tries", "1"}, out, url);
                  },
                  3, Disk::kIncomplete, "", "failed: ",
                  [](const FaultServer&, const std::string&, const std::string& out) {
                    const std::string state = ReadFile(out + ".multidl");
                    ASSERT_FALSE(state.empty());
                    EXPECT_EQ(state.find("hunter2"), std::string::npos) << state;
                    EXPECT_NE(state.find("bob@"), std::string::npos) << state;
                    struct stat st {};
                    ::stat((out + ".multidl").c_str(), &st);
                    EXPECT_EQ(st.st_mode & 0777, 0600u);
                  }});
  rows.push_back({"a Digest proxy gets no clear-text password",
                  [](FaultServer& s, TempDir&, const std::string& out) {
                    FaultRoute r = Route(kBody);
                    r.digestUser = "alice";
                    r.digestPassword = "s3cret";
                    r.digestAsProxy = true;
                    s.Route("/viaproxy", r);
                    // The fault server is the proxy and the origin at once.
                    return Args({"--proxy", "127.0.0.1:" + std::to_string(s.Port()), "--proxy-user",
                                 "alice:s3cret"},
                                out, "http://origin.invalid/viaproxy");
                  },
                  0, Disk::kBody, kBody, "done: ",
                  [](const FaultServer& s, const std::string&, const std::string&) {
                    for (const auto& r : s.Requests()) {
                      EXPECT_EQ(r.Header("proxy-authorization").rfind("Basic", 0), std::string::npos)
                          << r.Header("proxy-authorization");
                    }
                  }});
  return rows;
}

class FaultMatrix : public ::testing::Test {
 protected:
  // Prefix: a wrapper command for multidl.
  int RunRow(const Row& row, const std::string& out, const std::vector<std::string>& prefix = {}) {
    const std::vector<std::string> args = row.setup(server, dir, out);
    return multidl_test::Wait(multidl_test::Spawn(args, dir.File("log"), prefix));
  }
  void Expect(const Row& row, int status, const std::string& out, std::int64_t size) {
    const std::string log = ReadFile(dir.File("log"));
    EXPECT_EQ(status, row.exit) << log;
    EXPECT_NE(log.find(row.says), std::string::npos) << "wanted: " << row.says << "\n" << log;
    switch (row.disk) {
      case Disk::kBody:
        EXPECT_EQ(Sha256(ReadFile(out)), Sha256(row.expected))
            << ReadFile(out).size() << " bytes\n" << log;
        EXPECT_FALSE(FileExists(out + ".multidl")) << "no state once complete";
        break;
      case Disk::kNothing:
        EXPECT_FALSE(FileExists(out)) << log;
        break;
      case Disk::kIncomplete:
        if (FileExists(out)) {
          EXPECT_LT(static_cast<std::int64_t>(ReadFile(out).size()), size) << log;
        }
        break;
    }
    if (row.check) row.check(server, log, out);
  }

  TempDir dir;
  FaultServer server;
};

TEST_F(FaultMatrix, EveryRowEndsWithTheRightBytesOrAClearFailure) {
  int index = 0;
  for (const Row& row : Rows()) {
    SCOPED_TRACE(row.name);
    const std::string out = dir.File("out" + std::to_string(index++) + ".bin");
    Expect(row, RunRow(row, out), out, static_cast<std::int64_t>(kBody.size()));
  }
}

// Rows with a server or a file system of their own.
TEST_F(FaultMatrix, AChangedResourceSeenByContinueIsFetchedAfreshAndSaysSo) {
  FaultRoute first = Route(kBody);
  first.etag = "\"v1\"";
  first.dropAfter = 12000;
  server.Route("/again", first);
  const std::string out = dir.File("again.bin");
  Row row{"first run", [](FaultServer& s, TempDir&, const std::string& o) {
            return Args({"--tries", "1"}, o, s.Url("/again"));
          },
          3, Disk::kIncomplete, "", "failed: ", nullptr};
  Expect(row, RunRow(row, out), out, 100000);
  ASSERT_TRUE(FileExists(out + ".multidl"));
  FaultRoute second = Route(kOther);
  second.etag = "\"v2\"";
  server.Route("/again", second);
  Row resumed{"-c onto a changed file", [](FaultServer& s, TempDir&, const std::string& o) {
                return Args({"-c"}, o, s.Url("/again"));
              },
              0, Disk::kBody, kOther, "fetching it afresh", nullptr};
  Expect(resumed, RunRow(resumed, out), out, 100000);
}

TEST_F(FaultMatrix, FtpTransfersContinueFromTheirOffset) {
  if (!testing_support::FtpServer::Available()) GTEST_SKIP() << "no FTP server";
  ::mkdir(dir.File("ftp").c_str(), 0755);
  const std::string body = RandomBytes(200000, 73);
  testing_support::WriteFile(dir.File("ftp/f.bin"), body);
  struct Case {
    const char* name;
    bool resume;
  } cases[] = {{"a retry after a cut RETR", false}, {"-c after a run the cut failed", true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir work;
    testing_support::FtpServer ftp(work.Path(), dir.File("ftp"), "u", "p", 60000);
    ASSERT_TRUE(ftp.Started());
    const std::string url = "ftp://u:p@127.0.0.1:" + std::to_string(ftp.Port()) + "/f.bin";
    const std::string out = work.File("f.bin");
    if (c.resume) {
      Row cut{"cut", [&](FaultServer&, TempDir&, const std::string& o) {
                return Args({"--tries", "1"}, o, url);
              },
              3, Disk::kIncomplete, "", "failed: ", nullptr};
      Expect(cut, RunRow(cut, out), out, 200000);
    }
    Row row{c.name, [&](FaultServer&, TempDir&, const std::string& o) {
              return Args(c.resume ? std::initializer_list<std::string>{"-c"}
                                   : std::initializer_list<std::string>{"--tries", "3"},
                          o, url);
            },
            0, Disk::kBody, body, c.resume ? "resuming, " : "done: ", nullptr};
    Expect(row, RunRow(row, out), out, 200000);
    EXPECT_NE(ftp.Log().find("REST 57344"), std::string::npos) << ftp.Log();
  }
}

TEST_F(FaultMatrix, ThroughSquidAskingForDigest) {
  using testing_support::ProxyAuth;
  if (!testing_support::ProxyServer::Available(ProxyAuth::kDigest)) GTEST_SKIP() << "no squid";
  TempDir work;
  testing_support::ProxyServer squid(work.Path(), "alice", "s3cret", ProxyAuth::kDigest);
  ASSERT_TRUE(squid.Started()) << squid.Log();
  server.Route("/squid", Route(kBody));
  const std::string out = dir.File("squid.bin");
  Row row{"squid", [&](FaultServer& s, TempDir&, const std::string& o) {
            return Args({"--tries", "2", "--proxy", squid.HostPort(), "--proxy-user", "alice:s3cret"},
                        o, s.Url("/squid"));
          },
          0, Disk::kBody, kBody, "done: ", nullptr};
  Expect(row, RunRow(row, out), out, 100000);
  const std::string log = squid.Log();
  EXPECT_NE(log.find(" alice "), std::string::npos) << log;
  EXPECT_EQ(log.find("Basic"), std::string::npos) << "the password went in clear text\n" << log;
}

// A file system with too little room: a small tmpfs in a mount namespace of
// its own (no root needed where user namespaces are allowed); otherwise a
// file size limit on an open-ended body.
TEST_F(FaultMatrix, AFullDiskEndsAtOnceWithTheSystemsReason) {
  const std::string small = dir.File("small");
  ::mkdir(small.c_str(), 0755);
  const std::string big = RandomBytes(3 << 20, 74);
  FaultRoute route = Route(big);
  const std::string out = small + "/big.bin";
  // What the run leaves is listed before the namespace, and its tmpfs, go.
  std::vector<std::string> prefix{"unshare", "-rm", "sh", "-c",
                                  "mount -t tmpfs -o size=1m tmpfs '" + small +
                                      "' || exit 99; \"$0\" \"$@\"; s=$?; cd '" + small +
                                      "' && stat -c 'left %s %n' *; exit $s"};
  const bool mounts =
      std::system(("unshare -rm sh -c 'mount -t tmpfs -o size=1m tmpfs " + small + "' 2>/dev/null")
                      .c_str()) == 0;
  std::string reason = "No space left on device";
  if (!mounts) {
    // The limit refuses the file's size up front, so the body comes unsized.
    route.contentLength = false;
    struct rlimit limit {1 << 20, 1 << 20};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    ::signal(SIGXFSZ, SIG_IGN);
    prefix.clear();
    reason = "File too large";
  }
  server.Route("/big", route);
  Row row{"full disk", [&](FaultServer& s, TempDir&, const std::string& o) {
            return Args({"-n", "4"}, o, s.Url("/big"));
          },
          4, Disk::kIncomplete, "", "Write data failed: " + reason, nullptr};
  const int status = RunRow(row, out, prefix);
  if (!mounts) {
    struct rlimit none {RLIM_INFINITY, RLIM_INFINITY};
    ::setrlimit(RLIMIT_FSIZE, &none);
  }
  // The tmpfs went with its namespace: what the run left is gone too, so only
  // the log tells. One message, and no further attempt made the server busy.
  const std::string log = ReadFile(dir.File("log"));
  EXPECT_EQ(status, 4) << log;
  EXPECT_EQ(Occurrences(log, reason), 1) << log;
  EXPECT_EQ(Occurrences(log, "cannot write the state file"), 0) << log;
  if (mounts) {
    // Cut back to the bytes really written, the state kept for -c.
    EXPECT_EQ(Occurrences(log, "left 3145728 big.bin\n"), 0) << log;
    EXPECT_NE(log.find(" big.bin\n"), std::string::npos) << log;
    EXPECT_NE(log.find(" big.bin.multidl\n"), std::string::npos) << log;
  } else {
    EXPECT_LE(ReadFile(out).size(), static_cast<std::size_t>(1 << 20));
  }
}

}  // namespace

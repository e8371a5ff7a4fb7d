// Downloads end to end against the fault-injecting server on 127.0.0.1: the
// segment plan, the order of events, faults, resumption and size limits. Every
// check is on bytes on disk, events, error texts and what the server received.
#include <gtest/gtest.h>

#include <algorithm>

#include "download/DownloadTestSupport.h"
#include "inet/InternetErrors.h"
#include "platform/Files.h"
#include "platform/Messages.h"
#include "support/FaultServer.h"
#include "support/TempDir.h"

using namespace download_test;
using testing_support::FaultRoute;
using testing_support::FaultServer;
using testing_support::RandomBytes;
using testing_support::ReadFile;
using testing_support::TempDir;

namespace {

class DownloadTest : public ::testing::Test {
 protected:
  DownloadTest() {
    QuickSettings(dl);
    log.Attach(dl);
  }

  TclDownLoadItem* Add(const std::string& path, const std::string& file) {
    TclDownLoadItem* item = dl.DownLoadList().Add();
    item->SetURL(server.Url(path));
    item->SetLocalFile(dir.File(file));
    return item;
  }

  // The ranges the server was asked for on Path, in arrival order.
  std::vector<std::string> Ranges(const std::string& path) {
    std::vector<std::string> ranges;
    for (const auto& r : server.Requests()) {
      if (r.path == path && r.method == "GET" && !r.Header("range").empty())
        ranges.push_back(r.Header("range"));
    }
    std::sort(ranges.begin(), ranges.end());
    return ranges;
  }
  int Count(const std::string& path, const std::string& method) const {
    return server.Count(path, method);
  }

  TempDir dir;
  FaultServer server;
  TclMultiDownLoader dl;
  EventLog log;
};

TEST_F(DownloadTest, TwoSegmentDownloadRaisesItsEventsInOrderAndWritesEveryByte) {
  const std::string body = RandomBytes(20000, 1);
  server.Route("/f.bin", FaultRoute{body});
  std::vector<std::string> notified;
  RecordingNotifier first(&dl, "n1", &notified);
  RecordingNotifier second(&dl, "n2", &notified);
  TclDownLoadItem* item = Add("/f.bin", "f.bin");
  item->SetThreadCount(10);
  log.events.clear();

  dl.Start(item, false);

  EXPECT_TRUE(HasBytes(dir.File("f.bin"), body));
  ASSERT_EQ(item->ResourceState().Count(), 2) << "20000 div 8192";
  EXPECT_EQ(item->ResourceState().Items(0)->ResourcePos(), 0);
  EXPECT_EQ(item->ResourceState().Items(1)->ResourcePos(), 10000);
  EXPECT_EQ(item->Status(), psSuccess);
  EXPECT_EQ(log.events,
            (std::vector<std::string>{"busy", "status psProcess", "url", "info 20000", "data",
                                      "status psSuccess", "preview", "idle", "completed"}));
  EXPECT_EQ(log.dataBytes, 20000);
  EXPECT_EQ(Ranges("/f.bin"), (std::vector<std::string>{"bytes=0-9999", "bytes=10000-19999"}));

  // Both notifiers hear every broadcast, the first registered first.
  ASSERT_FALSE(notified.empty());
  ASSERT_EQ(notified.size() % 2, 0u);
  for (std::size_t i = 0; i < notified.size(); i += 2) {
    EXPECT_EQ(notified[i].substr(0, 3), "n1 ");
    EXPECT_EQ(notified[i + 1], "n2 " + notified[i].substr(3));
  }
  EXPECT_NE(std::find(notified.begin(), notified.end(), "n1 status psSuccess"), notified.end());
  EXPECT_GE(std::count(notified.begin(), notified.end(), "n2 data"), 2);
}

TEST_F(DownloadTest, BlocksReadTogetherGoOutOneByOneAndNoneIsWrittenAfterAStop) {
  const std::string body = RandomBytes(100000, 2);
  server.Route("/stop.bin", FaultRoute{body});
  TclDownLoadItem* item = Add("/stop.bin", "stop.bin");
  item->SetThreadCount(1);
  std::vector<std::int32_t> sizes;
  dl.SetOnDataItemProceed([&](TclMultiInternetControl*, TclInternetItem*, TclResourceInfo*,
                              TclResourceStateItem*, const char* data, std::int32_t size) {
    const std::size_t at = 8192 * sizes.size();
    EXPECT_EQ(std::string(data, size), body.substr(at, size)) << at;
    EXPECT_EQ(data[size], '\0') << "a zero byte after every block";
    sizes.push_back(size);
    // Reads double while they come at once: 1, 2, 4 blocks; the stop
    // comes inside the second read of four.
    if (sizes.size() == 4) item->Stop();
  });
  dl.Start(item, false);
  EXPECT_EQ(sizes, (std::vector<std::int32_t>{8192, 8192, 8192, 8192}));
  EXPECT_EQ(item->ResourceState().Status(), psTerminated);
  EXPECT_TRUE(HasBytes(dir.File("stop.bin"), body.substr(0, 4 * 8192)))
      << "blocks read with the first four but after the stop are never written";
}

TEST_F(DownloadTest, SegmentPlanFollowsSizeThreadCountAndRangeSupport) {
  struct Case {
    const char* name;
    std::size_t size;
    int threads;
    bool ranges;
    int segments;
  } cases[] = {
      {"five of 100000", 100000, 5, true, 5},
      {"two of 20000", 20000, 5, true, 2},
      {"one of 5000", 5000, 5, true, 1},
      {"no ranges", 100000, 5, false, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = std::string("/plan") + std::to_string(c.size) + (c.ranges ? "r" : "n");
    const std::string body = RandomBytes(c.size, 2);
    FaultRoute route{body};
    route.acceptRanges = c.ranges;
    server.Route(path, route);
    TclDownLoadItem* item = Add(path, path.substr(1));
    item->SetThreadCount(c.threads);
    dl.Start(item, false);
    EXPECT_EQ(item->ResourceState().Count(), c.segments);
    EXPECT_TRUE(HasBytes(dir.File(path.substr(1)), body));
    EXPECT_EQ(item->Status(), psSuccess);
  }
}

TEST_F(DownloadTest, AServerThatClaimsRangesButIgnoresThemNeverGetsItsBodyWrittenAtAWrongPlace) {
  const std::string body = RandomBytes(50000, 3);
  FaultRoute route{body};
  route.ignoreRange = true;  // "Accept-Ranges: bytes", yet 200 with the whole body
  server.Route("/ignore", route);
  dl.SetTryCount(1);
  TclDownLoadItem* item = Add("/ignore", "ignore.bin");
  dl.Start(item, false);
  ASSERT_EQ(item->ResourceState().Count(), 5);
  // The segment from byte 0 takes the whole answer's first bytes; every later
  // segment fails rather than taking the body's start as its own bytes.
  EXPECT_EQ(item->ResourceState().Items(0)->Status(), psSuccess);
  for (int i = 1; i < 5; ++i) EXPECT_EQ(item->ResourceState().Items(i)->Status(), psFailed) << i;
  EXPECT_EQ(item->Status(), psFailed);
  // Nothing was written at a wrong position, and the failed file is cut after
  // the bytes it holds: it never looks complete.
  EXPECT_EQ(ReadFile(dir.File("ignore.bin")), body.substr(0, 10000));
}

TEST_F(DownloadTest, ADroppedConnectionIsResumedFromTheByteWhereItStopped) {
  const std::string body = RandomBytes(40000, 4);
  FaultRoute route{body};
  route.dropAfter = 12345;
  route.faultTimes = 1;
  server.Route("/drop", route);
  TclDownLoadItem* item = Add("/drop", "drop.bin");
  item->SetThreadCount(1);
  dl.Start(item, false);
  EXPECT_TRUE(HasBytes(dir.File("drop.bin"), body));
  // The retry asks for the rest only, from the first missing byte; whole
  // batches only were kept, so it starts at a batch boundary.
  auto ranges = Ranges("/drop");
  ASSERT_EQ(ranges.size(), 2u);
  EXPECT_EQ(ranges[0], "bytes=0-39999");
  EXPECT_EQ(ranges[1], "bytes=8192-39999") << "exactly the bytes still missing";
  EXPECT_EQ(log.errors.size(), 0u) << "a fault a retry gets past is not reported";
  EXPECT_EQ(item->Status(), psSuccess);
}

TEST_F(DownloadTest, AStalledServerTimesOutEveryAttemptThenFails) {
  FaultRoute route{RandomBytes(1000, 5)};
  route.stallBeforeHeaders = true;
  server.Route("/stall", route);
  dl.SetTimeOut(300);
  dl.SetTryCount(3);
  TclDownLoadItem* item = Add("/stall", "stall.bin");
  dl.Start(item, false);
  server.ReleaseStalls();
  EXPECT_EQ(Count("/stall", "HEAD"), 3) << "TryCount attempts";
  EXPECT_EQ(log.errors, (std::vector<std::string>{"Request timeout|258"}));
  EXPECT_EQ(item->ResourceState().Status(), psFailed);
  EXPECT_EQ(log.events.back(), "completed");
  EXPECT_FALSE(platform::FileExists(dir.File("stall.bin")));
}

TEST_F(DownloadTest, ErrorStatusAndMissingHeadersAreReportedWithTheirTexts) {
  FaultRoute missing{RandomBytes(30000, 6)};
  server.Route("/missing", FaultRoute{"", 404});
  missing.lastModified = "";
  server.Route("/nodate", missing);

  TclDownLoadItem* notFound = Add("/missing", "missing.bin");
  dl.Start(notFound, false);
  EXPECT_EQ(log.errors,
            (std::vector<std::string>{"HTTP resource access error occured, code = 404|404"}));
  EXPECT_EQ(notFound->ResourceState().Status(), psFailed);
  EXPECT_EQ(notFound->Errors().Count(), 1);

  log.errors.clear();
  TclDownLoadItem* noDate = Add("/nodate", "nodate.bin");
  dl.Start(noDate, false);
  ASSERT_EQ(log.errors.size(), 1u);
  EXPECT_NE(log.errors[0].find(": Last Modified|"), std::string::npos) << log.errors[0];
  EXPECT_EQ(noDate->ResourceState().Count(), 1);
  EXPECT_EQ(noDate->Status(), psErrors);
  EXPECT_TRUE(HasBytes(dir.File("nodate.bin"), missing.body));
}

TEST_F(DownloadTest, StopDuringAPauseEndsTheRunAtOnceAsTerminated) {
  FaultRoute route{RandomBytes(1000, 7)};
  route.stallBeforeHeaders = true;
  server.Route("/pause", route);
  dl.SetTimeOut(200);
  dl.SetReconnectAfter(60000);
  dl.SetTryCount(5);
  TclDownLoadItem* item = Add("/pause", "pause.bin");
  dl.Start(item, true);
  // Wait, serving the workers, until the first attempt has failed.
  while (Count("/pause", "HEAD") < 1) platform::ProcessMessages();
  platform::Sleep(400);
  platform::ProcessMessages();
  const auto before = std::chrono::steady_clock::now();
  item->Stop();
  item->WaitForWorkers();
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(10))
      << "the pause did not end";
  server.ReleaseStalls();
  EXPECT_EQ(item->ResourceState().Status(), psTerminated);
  EXPECT_EQ(Count("/pause", "HEAD"), 1);
}

TEST_F(DownloadTest, AFailedSegmentIsTakenOverByTheNextWorkerThatFinishes) {
  const std::string body = RandomBytes(40000, 8);
  FaultRoute route{body};
  route.dropAfter = 100;
  route.faultTimes = 1;  // the first ranged request breaks, and only once
  server.Route("/take", route);
  dl.SetTryCount(1);  // a broken segment fails at once
  TclDownLoadItem* item = Add("/take", "take.bin");
  item->SetThreadCount(2);
  dl.Start(item, false);
  EXPECT_TRUE(HasBytes(dir.File("take.bin"), body));
  EXPECT_EQ(item->ResourceState().Items(0)->Status(), psSuccess);
  EXPECT_EQ(item->ResourceState().Items(1)->Status(), psSuccess);
  EXPECT_EQ(Ranges("/take").size(), 3u) << "two segments and one takeover";
  EXPECT_EQ(log.errors.size(), 1u) << "the failure itself is still reported";
}

TEST_F(DownloadTest, AnUnchangedCompleteItemStartedAgainTransfersNothing) {
  const std::string body = RandomBytes(30000, 9);
  server.Route("/again", FaultRoute{body});
  TclDownLoadItem* item = Add("/again", "again.bin");
  item->SetThreadCount(3);
  dl.Start(item, false);
  ASSERT_EQ(item->ResourceState().Count(), 3);
  const std::size_t rangedBefore = Ranges("/again").size();
  log.dataBytes = 0;

  dl.Start(item, false);
  EXPECT_EQ(Ranges("/again").size(), rangedBefore);
  EXPECT_EQ(log.dataBytes, 0);
  EXPECT_EQ(item->Status(), psSuccess);
  EXPECT_TRUE(HasBytes(dir.File("again.bin"), body));
  EXPECT_EQ(log.events.back(), "completed");
}

TEST_F(DownloadTest, AResourceChangedOnTheServerWithTheSameSizeIsFetchedAfresh) {
  const std::string oldBody = RandomBytes(30000, 10);
  FaultRoute route{oldBody};
  route.dropAfter = 9000;  // every ranged request breaks after one batch: a partial map stays
  server.Route("/changed", route);
  dl.SetTryCount(1);
  TclDownLoadItem* item = Add("/changed", "changed.bin");
  item->SetThreadCount(3);
  dl.Start(item, false);
  ASSERT_EQ(item->ResourceState().Count(), 3);
  ASSERT_GT(item->ResourceState().BytesProceed(), 0);

  const std::string newBody = RandomBytes(30000, 11);
  FaultRoute changed{newBody};
  changed.lastModified = "Thu, 22 Oct 2015 07:28:00 GMT";
  server.Route("/changed", changed);
  dl.Start(item, false);
  EXPECT_TRUE(HasBytes(dir.File("changed.bin"), newBody)) << "never spliced from two versions";
  EXPECT_EQ(item->Status(), psSuccess);
}

TEST_F(DownloadTest, AResumeOfAnUnchangedResourceFetchesOnlyTheMissingBytes) {
  const std::string body = RandomBytes(30000, 12);
  FaultRoute route{body};
  route.dropAfter = 9000;
  route.faultTimes = 3;
  server.Route("/resume", route);
  dl.SetTryCount(1);
  TclDownLoadItem* item = Add("/resume", "resume.bin");
  item->SetThreadCount(3);
  dl.Start(item, false);
  const std::int64_t kept = item->ResourceState().BytesProceed();
  ASSERT_EQ(kept, 3 * 8192) << "one whole batch of each segment";
  log.dataBytes = 0;
  dl.Start(item, false);
  EXPECT_TRUE(HasBytes(dir.File("resume.bin"), body));
  EXPECT_EQ(log.dataBytes, 30000 - kept);
}

TEST_F(DownloadTest, RequestsBeforeTheDataFollowTheInformationSettings) {
  struct Case {
    bool headOnly, reuse, ranges;
    int heads, wholeGets, rangedGets;
  };
  const std::vector<Case> cases = {
      {false, false, true, 4, 1, 3},  // the classic plan: HEAD and GET, then HEAD and GET each
      {true, false, true, 4, 0, 3},
      {false, true, true, 1, 1, 3},
      {true, true, true, 1, 0, 3},    // one request per segment and one before them
      {true, true, false, 1, 1, 1},   // range support unknown: the GET tells; one segment
  };
  int run = 0;
  for (const Case& c : cases) {
    const std::string path = "/plan" + std::to_string(run++);
    const std::string body = RandomBytes(60000, 20 + run);
    FaultRoute route{body};
    route.acceptRanges = c.ranges;
    server.Route(path, route);
    dl.SetHeadOnlyInfo(c.headOnly);
    dl.SetReuseResourceInfo(c.reuse);
    TclDownLoadItem* item = Add(path, path.substr(1));
    item->SetThreadCount(3);
    dl.Start(item, false);
    EXPECT_TRUE(HasBytes(dir.File(path.substr(1)), body)) << path;
    EXPECT_EQ(Count(path, "HEAD"), c.heads) << path;
    EXPECT_EQ(Count(path, "GET") - static_cast<int>(Ranges(path).size()), c.wholeGets) << path;
    EXPECT_EQ(Ranges(path).size(), static_cast<std::size_t>(c.rangedGets)) << path;
  }
}

TEST_F(DownloadTest, ASplitMapWithMoreSegmentsThanWorkersIsWorkedThroughByAsMany) {
  // A map an earlier run split into seven segments: two complete, three
  // begun, two untouched; the file holds what the map says is done.
  const std::string body = RandomBytes(70000, 13);
  server.Route("/split", FaultRoute{body});
  TclDownLoadItem* item = Add("/split", "split.bin");
  item->SetThreadCount(3);
  const std::int64_t done[7] = {10000, 4000, 0, 10000, 1, 0, 9999};
  TclResourceState map;
  map.Init(7, 70000);
  std::string file(body.size(), '\0');
  for (int i = 0; i < 7; ++i) {
    map.Items(i)->SetBytesProceed(done[i]);
    file.replace(i * 10000, done[i], body.substr(i * 10000, done[i]));
  }
  item->ResourceState().Assign(map);
  item->SetMapValidators("", FaultRoute{}.lastModified);
  testing_support::WriteFile(dir.File("split.bin"), file);
  dl.SetSplitSegments(true);
  int most = 0;
  dl.SetOnDataItemProceed([&](TclMultiInternetControl*, TclInternetItem*, TclResourceInfo*,
                              TclResourceStateItem*, const char*,
                              std::int32_t) { most = std::max(most, item->WorkerCount()); });
  dl.Start(item, false);
  EXPECT_TRUE(HasBytes(dir.File("split.bin"), body));
  EXPECT_TRUE(item->ResumedMap());
  EXPECT_LE(most, 3);
  // Exactly the missing bytes, each asked for once; the complete segments not at all.
  EXPECT_EQ(Ranges("/split"),
            (std::vector<std::string>{"bytes=14000-19999", "bytes=20000-29999",
                                      "bytes=40001-49999", "bytes=50000-59999",
                                      "bytes=69999-69999"}));
  EXPECT_EQ(item->ResourceState().Count(), 7);
  EXPECT_EQ(item->ResourceState().Status(), psSuccess);
}

TEST_F(DownloadTest, SizeLimitsRefuseAResourceAfterTheInformationPhase) {
  server.Route("/big", FaultRoute{RandomBytes(2000, 13)});
  dl.SetMaxResourceSize(1000);
  TclDownLoadItem* item = Add("/big", "big.bin");
  dl.Start(item, false);
  EXPECT_FALSE(platform::FileExists(dir.File("big.bin")));
  EXPECT_EQ(Count("/big", "HEAD"), 1);
  EXPECT_TRUE(Ranges("/big").empty());
  EXPECT_EQ(log.events.back(), "completed");
}

TEST_F(DownloadTest, GzipContentArrivesAsTheWorkFileAndEndsDecoded) {
  const std::string text = std::string(50000, 'a') + RandomBytes(1000, 14);
  FaultRoute route{text};
  route.gzip = true;
  server.Route("/z.txt", route);
  TclDownLoadItem* item = Add("/z.txt", "z.txt");
  std::vector<std::string> seen;
  dl.SetOnDataItemProceed([&](TclMultiInternetControl*, TclInternetItem* i, TclResourceInfo*,
                              TclResourceStateItem*, const char*, std::int32_t) {
    seen.push_back(static_cast<TclDownLoadItem*>(i)->WorkFile());
  });
  dl.Start(item, false);
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(seen.front(), dir.File("z.txt") + "~");
  EXPECT_TRUE(HasBytes(dir.File("z.txt"), text));
  EXPECT_FALSE(platform::FileExists(dir.File("z.txt") + "~"));
  auto requests = server.Requests();
  EXPECT_EQ(requests.back().Header("accept-encoding"), "gzip, deflate");
}

TEST_F(DownloadTest, TheFileTimeIsTheServersDateAndTheSuggestedNameStaysInTheFolder) {
  FaultRoute route{"hello"};
  route.contentDisposition = "attachment; filename=\"../../escape.txt\"";
  server.Route("/named", route);
  dl.SetLocalFolder(dir.Path());
  TclDownLoadItem* item = dl.DownLoadList().Add();
  item->SetURL(server.Url("/named?x=1"));  // a query: no name from the address
  ASSERT_EQ(item->LocalFile(), "");
  dl.Start(item, false);
  EXPECT_EQ(item->LocalFile(), dir.File("escape.txt"));
  EXPECT_EQ(ReadFile(dir.File("escape.txt")), "hello");
  rtl::DateTime stamped = 0;
  ASSERT_TRUE(platform::GetFileDateTime(dir.File("escape.txt"), stamped));
  EXPECT_NEAR(stamped, item->ResourceInfo()->Date(), 1.0 / 86400);
  int y, m, d;
  rtl::DecodeDate(rtl::LocalToUTC(stamped), y, m, d);
  EXPECT_EQ(y * 10000 + m * 100 + d, 20151021);
}

TEST_F(DownloadTest, StartingEveryItemStopsAtTheFirstBusyOne) {
  for (const char* p : {"/a", "/b", "/c"}) {
    FaultRoute route{RandomBytes(1000, 15)};
    route.stallBeforeHeaders = std::string(p) == "/b";
    server.Route(p, route);
  }
  TclDownLoadItem* a = Add("/a", "a");
  TclDownLoadItem* b = Add("/b", "b");
  TclDownLoadItem* c = Add("/c", "c");
  dl.Start(b, true);
  EXPECT_THROW(
      {
        try {
          dl.Start(nullptr, true);
        } catch (const EclInternetError& e) {
          EXPECT_EQ(e.Message(), "Operation is in progress");
          EXPECT_EQ(e.ErrorCode(), 0);
          throw;
        }
      },
      EclInternetError);
  EXPECT_TRUE(a->IsBusy() || platform::FileExists(dir.File("a")));
  EXPECT_FALSE(c->IsBusy());
  server.ReleaseStalls();
  b->Stop();
  a->WaitForWorkers();
  b->WaitForWorkers();
  EXPECT_EQ(dl.BusyCount(), 0);
  EXPECT_FALSE(platform::FileExists(dir.File("c")));
}

}  // namespace

// WaitForItem against a loopback server: it serves the workers' events until
// the item has completed and reads the outcome from the segment map and the
// error list, for a success and for each way an item fails; a time-out leaves
// the item running, and a second wait after Stop ends it.
#include <gtest/gtest.h>

#include <functional>

#include "download/DownloadTestSupport.h"
#include "support/ChildProcess.h"
#include "support/FaultServer.h"

using namespace download_test;
using namespace testing_support;

namespace {

struct OutcomeCase {
  const char* name;
  std::function<void(FaultServer&, TclMultiDownLoader&)> setUp;
  std::string path;  // on the server; empty: a port nothing listens on
  bool succeeded;
  TclProcessStatus status;
  TclProcessStatus itemStatus;  // the item's own, which is not the outcome
  std::int32_t errorCode;
  const char* errorText;  // part of the last error
};

const std::string kBody = RandomBytes(100000, 7);

TEST(WaitForItem, ReadsTheOutcomeFromTheSegmentMapAndTheErrorList) {
  const OutcomeCase cases[] = {
      {"every byte in four segments", [](FaultServer& s, TclMultiDownLoader&) {
         s.Route("/ok", FaultRoute{kBody});
       }, "/ok", true, psSuccess, psSuccess, 0, ""},
      {"not found", [](FaultServer& s, TclMultiDownLoader&) {
         s.Route("/missing", FaultRoute{"gone", 404});
       }, "/missing", false, psFailed, psProcess, 404, "code = 404"},
      {"connection refused", nullptr, "", false, psFailed, psProcess, 12029,
       "could not be established"},
      {"refused by the size limit", [](FaultServer& s, TclMultiDownLoader& dl) {
         s.Route("/big", FaultRoute{kBody});
         dl.SetMaxResourceSize(1000);
       }, "/big", false, psSuccess, psProcess, 0, ""},
      {"cut short on every try", [](FaultServer& s, TclMultiDownLoader&) {
         FaultRoute route{kBody};
         route.cutAt = 60000;
         s.Route("/cut", route);
       }, "/cut", false, psFailed, psFailed, 0, ""},
  };
  for (const OutcomeCase& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    FaultServer server;
    TclMultiDownLoader dl;
    QuickSettings(dl);
    if (c.setUp) c.setUp(server, dl);
    TclDownLoadItem* item = dl.DownLoadList().Add();
    item->SetURL(c.path.empty() ? "http://127.0.0.1:" + std::to_string(FreeLoopbackPort()) + "/x"
                                : server.Url(c.path));
    item->SetLocalFile(dir.File("out.bin"));
    item->SetThreadCount(4);
    dl.Start(item, true);

    const TclItemOutcome outcome = WaitForItem(*item);
    EXPECT_TRUE(outcome.Completed);
    EXPECT_FALSE(item->IsBusy());
    EXPECT_EQ(outcome.Succeeded(), c.succeeded);
    EXPECT_STREQ(StatusName(outcome.Status), StatusName(c.status));
    EXPECT_STREQ(StatusName(item->Status()), StatusName(c.itemStatus));
    if (c.errorText[0] != '\0') {
      EXPECT_EQ(outcome.ErrorCode, c.errorCode);
      EXPECT_NE(outcome.Error.find(c.errorText), std::string::npos) << outcome.Error;
    }
    if (c.succeeded) {
      EXPECT_EQ(outcome.Segments, 4);
      EXPECT_EQ(outcome.BytesProceed, static_cast<std::int64_t>(kBody.size()));
      EXPECT_TRUE(HasBytes(dir.File("out.bin"), kBody));
      EXPECT_TRUE(outcome.Error.empty());
    } else if (c.status == psFailed) {
      EXPECT_FALSE(outcome.Error.empty());
    }
  }
}

TEST(WaitForItem, ATimeOutLeavesTheItemRunningAndAWaitAfterStopEndsIt) {
  TempDir dir;
  FaultServer server;
  FaultRoute route{kBody};
  route.stallAfter = 20000;
  server.Route("/stall", route);
  TclMultiDownLoader dl;
  QuickSettings(dl);
  dl.SetTimeOut(60000);
  TclDownLoadItem* item = dl.DownLoadList().Add();
  item->SetURL(server.Url("/stall"));
  item->SetLocalFile(dir.File("out.bin"));
  item->SetThreadCount(1);
  dl.Start(item, true);

  const TclItemOutcome early = WaitForItem(*item, 300);
  EXPECT_FALSE(early.Completed);
  EXPECT_FALSE(early.Succeeded());
  EXPECT_TRUE(item->IsBusy());

  item->Stop();
  const TclItemOutcome stopped = WaitForItem(*item);
  server.ReleaseStalls();
  EXPECT_TRUE(stopped.Completed);
  EXPECT_FALSE(stopped.Succeeded());
  EXPECT_STREQ(StatusName(stopped.Status), StatusName(psTerminated));
  EXPECT_FALSE(item->IsBusy());
}

TEST(WaitForItem, AnItemThatIsNotBusyReturnsAtOnce) {
  TclMultiDownLoader dl;
  TclDownLoadItem* item = dl.DownLoadList().Add();
  const TclItemOutcome outcome = WaitForItem(*item);
  EXPECT_TRUE(outcome.Completed);
  EXPECT_FALSE(outcome.Succeeded());
  EXPECT_EQ(outcome.Segments, 0);
}

}  // namespace

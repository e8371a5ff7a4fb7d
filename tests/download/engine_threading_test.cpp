// The engine's cross-thread paths with real threads against a loopback server:
// items in parallel, one connection shared by two items, a kept connection
// reused by the next worker, an item destroyed while its workers run, a stop
// that must start nothing more, the takeover of a segment whose worker
// has failed but not yet ended, and segments split while they run.
#include <gtest/gtest.h>

#include <dirent.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <mutex>

#include "download/DownloadTestSupport.h"
#include "inet/clConnection.h"
#include "platform/Messages.h"
#include "support/FaultServer.h"

using namespace download_test;
using namespace testing_support;

namespace {

int CountEntries(const char* folder) {
  DIR* d = opendir(folder);
  if (!d) return -1;
  int n = 0;
  while (readdir(d)) ++n;
  closedir(d);
  return n;
}
// The process's threads but the library's one for finishing cancelled
// transfers, which lives from the first cancel to the end of the process.
int ThreadCount() {
  int n = 0;
  DIR* d = opendir("/proc/self/task");
  if (!d) return -1;
  while (dirent* e = readdir(d)) {
    if (e->d_name[0] == '.') continue;
    std::ifstream comm(std::string("/proc/self/task/") + e->d_name + "/comm");
    std::string name;
    std::getline(comm, name);
    if (name != "inet-reaper") ++n;
  }
  closedir(d);
  return n;
}
int DescriptorCount() {
  return CountEntries("/proc/self/fd");
}

// Waits, serving messages, until Done holds or about ten seconds passed.
template <class F>
bool ServeUntil(F done) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    platform::WaitMessage(20);
    platform::ProcessMessages();
  }
  return true;
}

class EngineThreads : public ::testing::Test {
 protected:
  EngineThreads() { QuickSettings(dl); }
  TclDownLoadItem* Add(const std::string& path, const std::string& file) {
    TclDownLoadItem* item = dl.DownLoadList().Add();
    item->SetURL(server.Url(path));
    item->SetLocalFile(dir.File(file));
    return item;
  }
  TempDir dir;
  FaultServer server;
  TclMultiDownLoader dl;
};

TEST_F(EngineThreads, ManyItemsWithSeveralSegmentsEachRunTogether) {
  std::vector<std::string> bodies;
  std::vector<TclDownLoadItem*> items;
  for (int i = 0; i < 4; ++i) {
    bodies.push_back(RandomBytes(60000 + 1000 * i, 30 + i));
    server.Route("/many" + std::to_string(i), FaultRoute{bodies.back()});
    items.push_back(Add("/many" + std::to_string(i), "many" + std::to_string(i)));
    items.back()->SetThreadCount(3);
    items.back()->SetKeepConnection(i == 3);  // one item keeps one connection for its workers
  }
  int completed = 0;
  dl.SetOnProcessCompleted([&](TclMultiInternetControl*, TclInternetItem*) { ++completed; });
  dl.Start(nullptr, true);
  ASSERT_TRUE(ServeUntil([&] { return completed == 4; }));
  for (int i = 0; i < 4; ++i) {
    EXPECT_TRUE(HasBytes(dir.File("many" + std::to_string(i)), bodies[i])) << i;
    EXPECT_EQ(items[i]->ResourceState().Count(), i == 3 ? 1 : 3);
  }
  EXPECT_EQ(dl.BusyCount(), 0);
}

TEST_F(EngineThreads, TwoItemsShareTheControlsConnection) {
  TclInternetConnection connection;
  dl.SetConnection(&connection);
  const std::string a = RandomBytes(200000, 40), b = RandomBytes(150000, 41);
  server.Route("/a", FaultRoute{a});
  server.Route("/b", FaultRoute{b});
  TclDownLoadItem* first = Add("/a", "a");
  TclDownLoadItem* second = Add("/b", "b");
  int completed = 0;
  dl.SetOnProcessCompleted([&](TclMultiInternetControl*, TclInternetItem*) { ++completed; });
  dl.Start(first, true);
  dl.Start(second, true);
  ASSERT_TRUE(ServeUntil([&] { return completed == 2; }));
  EXPECT_TRUE(HasBytes(dir.File("a"), a));
  EXPECT_TRUE(HasBytes(dir.File("b"), b));
  EXPECT_EQ(first->ResourceState().Count(), 1) << "a shared connection means one segment";
  EXPECT_EQ(first->Status(), psSuccess);
  EXPECT_EQ(second->Status(), psSuccess);
  dl.SetConnection(nullptr);
}

TEST_F(EngineThreads, AKeptRequestIsReRangedForTheNextTransfer) {
  const std::string body = RandomBytes(40000, 42);
  FaultRoute route{body};
  route.dropAfter = 10000;
  route.faultTimes = 1;
  server.Route("/kept", route);
  dl.SetTryCount(1);
  TclDownLoadItem* item = Add("/kept", "kept.bin");
  item->SetKeepConnection(true);
  dl.Start(item, false);  // breaks after one batch and keeps its map
  ASSERT_EQ(item->ResourceState().BytesProceed(), 8192);
  dl.Start(item, false);  // the kept request goes out again, from byte 8192
  EXPECT_TRUE(HasBytes(dir.File("kept.bin"), body));
  std::vector<std::string> ranges;
  for (const auto& r : server.Requests()) {
    if (r.method == "GET" && !r.Header("range").empty()) ranges.push_back(r.Header("range"));
  }
  EXPECT_EQ(ranges, (std::vector<std::string>{"bytes=0-39999", "bytes=8192-39999"}));
}

TEST_F(EngineThreads, AnItemDestroyedWhileBusyLeavesNoThreadOrDescriptorBehind) {
  FaultRoute route{RandomBytes(500000, 44)};
  route.stallAfter = 100000;
  server.Route("/busy", route);
  std::int64_t received = 0;
  dl.SetOnDataItemProceed([&](TclMultiInternetControl*, TclInternetItem*, TclResourceInfo*,
                              TclResourceStateItem*, const char*,
                              std::int32_t size) { received += size; });
  // Starts four workers, lets them receive, then destroys the item under them.
  auto destroyWhileBusy = [&] {
    received = 0;
    TclDownLoadItem* item = Add("/busy", "busy");
    item->SetThreadCount(4);
    dl.Start(item, true);
    ASSERT_TRUE(ServeUntil([&] { return received > 0 && item->WorkerCount() == 4; }));
    dl.DownLoadList().Delete(0);  // stops and waits for the workers
    server.ReleaseStalls();
    EXPECT_EQ(dl.BusyCount(), 0);
  };
  // The first round brings up what the library keeps for the whole process
  // (its helper for cancelled transfers among it).
  destroyWhileBusy();
  ASSERT_TRUE(ServeUntil([&] { return true; }));
  platform::Sleep(200);
  const int threads = ThreadCount();
  const int descriptors = DescriptorCount();
  for (int round = 0; round < 3; ++round) destroyWhileBusy();
  EXPECT_TRUE(ServeUntil([&] {
    return ThreadCount() <= threads && DescriptorCount() <= descriptors;
  })) << "threads "
      << ThreadCount() << " (were " << threads << "), descriptors " << DescriptorCount()
      << " (were " << descriptors << ")";
}

// Serves 300,000 bytes in three segments: the first and the last stall until
// released (then go on), the middle one answers 500.
FaultRoute MiddleSegmentFails(const std::string& body) {
  FaultRoute stalling{body};
  stalling.stallAfter = 1000;
  stalling.resumeAfterStall = true;
  auto failing = std::make_shared<FaultRoute>("", 500);
  failing->body = body;
  failing->changed = std::make_shared<FaultRoute>(stalling);
  failing->changedFrom = 200000;
  stalling.changed = failing;
  stalling.changedFrom = 100000;
  return stalling;
}

int MiddleRequests(const FaultServer& server) {
  int n = 0;
  for (const auto& r : server.Requests()) n += r.Header("range").rfind("bytes=100000-", 0) == 0;
  return n;
}

TEST_F(EngineThreads, AStoppedItemTakesNoFailedSegmentOver) {
  const std::string body = RandomBytes(300000, 45);
  server.Route("/stop", MiddleSegmentFails(body));
  dl.SetTryCount(2);
  dl.SetReconnectAfter(10);
  TclDownLoadItem* item = Add("/stop", "stop.bin");
  item->SetThreadCount(3);
  dl.Start(item, true);
  ASSERT_TRUE(ServeUntil([&] {
    return item->ResourceState().Count() == 3 &&
           item->ResourceState().Items(1)->Status() == psFailed && item->WorkerCount() == 2;
  }));
  const int before = MiddleRequests(server);
  item->Stop();
  ASSERT_TRUE(ServeUntil([&] { return !item->IsBusy(); }));
  server.ReleaseStalls();
  EXPECT_EQ(MiddleRequests(server), before) << "a stopped worker started another";
  EXPECT_EQ(item->ResourceState().Status(), psTerminated);
}

// Between a worker's failed status and its end hook, its holder still names
// the segment; a worker that finishes in that window must take it over all
// the same. A notifier holds the window open: when the failure reaches the
// map, it lets the other worker run to its end before the failed one ends.
class WindowHolder : public TclControlNotifier {
 public:
  WindowHolder(TclMultiDownLoader* control, FaultServer& server)
      : TclControlNotifier(control), server_(server) {}
  void ResourceStateChanged(TclInternetItem* item) override {
    const TclResourceState& state = item->ResourceState();
    if (held_ || state.Count() != 3 || state.Items(1)->Status() != psFailed) return;
    held_ = true;
    server_.ReleaseStalls();
    // The first and last segments run to their ends while the failed worker
    // waits in its status hook.
    ServeUntil([&] {
      return state.Items(0)->Status() == psSuccess && state.Items(2)->Status() == psSuccess &&
             (MiddleRequests(server_) >= 2 || item->WorkerCount() == 1);
    });
  }
  bool held_ = false;

 private:
  FaultServer& server_;
};

TEST_F(EngineThreads, AWorkerThatEndsWhileAFailedOneIsEndingTakesItsSegmentOver) {
  const std::string body = RandomBytes(300000, 46);
  server.Route("/race", MiddleSegmentFails(body));
  dl.SetTryCount(1);
  WindowHolder holder(&dl, server);
  TclDownLoadItem* item = Add("/race", "race.bin");
  item->SetThreadCount(3);
  dl.Start(item, false);
  ASSERT_TRUE(holder.held_);
  // One request of the failed worker, then those of the workers that took the
  // segment over as each of the others ended.
  EXPECT_GE(MiddleRequests(server), 2) << "the failed segment was not taken over";
}

// Remembers where every write went: the writes of all workers together must
// cover the resource once, byte for byte.
class WriteRecorder : public rtl::MemoryStream {
 public:
  std::int64_t Write(const void* buffer, std::int64_t count) override {
    {
      std::lock_guard<std::mutex> guard(lock_);
      writes_.push_back({Position(), count});
    }
    return rtl::MemoryStream::Write(buffer, count);
  }
  std::vector<std::pair<std::int64_t, std::int64_t>> Writes() {
    std::lock_guard<std::mutex> guard(lock_);
    return writes_;
  }

 private:
  std::mutex lock_;
  std::vector<std::pair<std::int64_t, std::int64_t>> writes_;
};

std::string Contents(rtl::Stream& stream) {
  std::string text(static_cast<std::size_t>(stream.Size()), '\0');
  stream.SetPosition(0);
  stream.Read(text.data(), stream.Size());
  return text;
}

TEST_F(EngineThreads, SplitSegmentsMoveWorkOffSlowPathsAndCoverTheResourceOnce) {
  // Two of the five first requests (and the ninth) crawl; the others do not.
  const std::string body = RandomBytes(3 * 1024 * 1024, 47);
  FaultRoute route{body};
  route.slowRanged = {1, 3, 8};
  route.slowRate = 64 * 1024;
  server.Route("/uneven", route);
  dl.SetSplitSegments(true);
  dl.SetReuseResourceInfo(true);
  dl.SetBatchSize(16384);
  WriteRecorder stream;
  std::vector<std::string> notes;
  RecordingNotifier notifier(&dl, "bar", &notes);
  TclDownLoadItem* item = Add("/uneven", "unused");
  item->SetDataStream(&stream);
  bool completed = false;
  dl.SetOnProcessCompleted([&](TclMultiInternetControl*, TclInternetItem*) { completed = true; });
  dl.Start(item, true);
  // At 64 KiB/s each slow path alone would need about ten seconds.
  ASSERT_TRUE(ServeUntil([&] { return completed; }));

  EXPECT_TRUE(Contents(stream) == body);
  auto writes = stream.Writes();
  std::sort(writes.begin(), writes.end());
  std::int64_t end = 0;
  for (const auto& [position, count] : writes) {
    ASSERT_EQ(position, end) << (position < end ? "written twice" : "a gap") << ", "
                             << item->ResourceState().Count() << " segments";
    end += count;
  }
  EXPECT_EQ(end, static_cast<std::int64_t>(body.size()));

  const TclResourceState& map = item->ResourceState();
  EXPECT_GT(map.Count(), 5) << "no segment was split";
  std::int64_t next = 0;
  for (int i = 0; i < map.Count(); ++i) {
    const TclResourceStateItem* segment = map.Items(i);
    EXPECT_EQ(segment->ResourcePos(), next) << "segment " << i;
    EXPECT_EQ(segment->BytesProceed(), segment->BytesToProceed()) << "segment " << i;
    EXPECT_EQ(segment->Status(), psSuccess) << "segment " << i;
    next = segment->ResourcePos() + segment->BytesToProceed();
  }
  EXPECT_EQ(next, static_cast<std::int64_t>(body.size()));
  EXPECT_EQ(map.Status(), psSuccess);
  // The bar repaints from the map on every change: it was told of the new ones.
  EXPECT_GT(std::count(notes.begin(), notes.end(), "bar state"), map.Count());
  // One HEAD for the item, no HEAD of the data workers, and more ranged
  // requests than segments were planned.
  EXPECT_EQ(server.Count("/uneven", "HEAD"), 1);
  EXPECT_EQ(server.Count("/uneven", "GET", true), map.Count());
  EXPECT_EQ(dl.BusyCount(), 0);
}

}  // namespace

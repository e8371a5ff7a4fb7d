// The real liveupdate against a server whose answers are wrong in ways the
// engine must catch: a gzip list or file whose body is cut or garbage, a file
// cut short on every try, a file that changes between its information and
// its data or between its ranges. In every case nothing is installed, "ver"
// stays unwritten, the run ends with the bad resource (later files are never
// asked for), the log names it, and the main application is started.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "support/FaultServer.h"
#include "ui/UpdaterHarness.h"

namespace {

using testing_support::FaultRoute;
using testing_support::FaultServer;
using testing_support::FileExists;
using testing_support::GzipCompress;
using testing_support::RandomBytes;
using updater_testing::Installation;

const std::string kList = "[main]\nfile1=0,whole.dat\nfile2=0,bad.dat\nfile3=0,after.dat\n";

FaultRoute Gzipped(std::string body) {
  FaultRoute route(std::move(body));
  route.contentEncoding = "gzip";
  return route;
}

// Garbage behind a gzip header: data that does not decode. (A body without
// the gzip magic is passed through unchanged, as zlib's reader does.)
std::string Garbage(std::size_t size, unsigned seed) {
  return std::string("\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\x03", 10) + RandomBytes(size, seed);
}

std::string Cut(const std::string& text) {
  return text.substr(0, text.size() * 3 / 4);
}

// A resource that is another version at every answer after the first
// Unchanged ones: no two answers agree.
FaultRoute EverChanging(int unchanged) {
  std::shared_ptr<const FaultRoute> next;
  for (int version = 30; version >= 1; --version) {
    FaultRoute route(RandomBytes(60000, static_cast<unsigned>(version)));
    route.etag = "\"v" + std::to_string(version) + "\"";
    route.changed = next;
    route.changedAfter = unchanged + version;
    next = std::make_shared<const FaultRoute>(route);
  }
  FaultRoute first(RandomBytes(60000, 99));
  first.etag = "\"v0\"";
  first.changed = next;
  first.changedAfter = unchanged;
  return first;
}

// Ranged answers from byte 20,000 on come from another version.
FaultRoute ChangedFromByte() {
  FaultRoute other(RandomBytes(60000, 8));
  other.etag = "\"other\"";
  FaultRoute route(RandomBytes(60000, 7));
  route.etag = "\"first\"";
  route.changed = std::make_shared<const FaultRoute>(other);
  route.changedFrom = 20000;
  return route;
}

TEST(BadAnswers, NeverInstallOrRecordTheVersion) {
  const std::string list = kList + std::string(2000, ';') + "\n";  // worth compressing
  struct Case {
    const char* name;
    bool badList;  // else bad.dat is the bad resource
    FaultRoute route;
    int status;
    int rangedGets;  // of the bad resource, when it is to be counted (-1: not)
  } cases[] = {
      {"gzip list cut", true, Gzipped(Cut(GzipCompress(list))), 3, -1},
      {"gzip list of garbage", true, Gzipped(Garbage(3000, 1)), 3, -1},
      {"gzip file cut", false, Gzipped(Cut(GzipCompress(RandomBytes(100000, 2)))), 4, -1},
      {"gzip file of garbage", false, Gzipped(Garbage(50000, 3)), 4, -1},
      {"file cut at byte 600 of 1000 on every try",
       false,
       [] {
         FaultRoute cut(RandomBytes(1000, 5));
         cut.cutAt = 600;
         return cut;
       }(),
       4, 10},
      {"file changed between its information and its data", false, EverChanging(1), 4, -1},
      {"file changed between its ranges", false, ChangedFromByte(), 4, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FaultServer faults;
    faults.Route("/tarvo/livelist.txt", c.badList ? c.route : FaultRoute(list));
    faults.Route("/tarvo/file/whole.dat", FaultRoute("whole"));
    faults.Route("/tarvo/file/bad.dat", c.route);
    faults.Route("/tarvo/file/after.dat", FaultRoute("after"));
    Installation app;

    EXPECT_EQ(app.Run({"v6", "main", "x"}, faults.Url("")), c.status);

    EXPECT_EQ(app.Setting("ver"), "<none>");
    for (const char* file : {"whole.dat", "bad.dat", "after.dat"})
      EXPECT_FALSE(FileExists(app.folder.File(file))) << file << " is not installed";
    EXPECT_EQ(faults.Count("/tarvo/file/after.dat"), 0) << "the run ends with the bad resource";
    if (c.rangedGets >= 0) {
      EXPECT_EQ(faults.Count("/tarvo/file/bad.dat", "GET", true), c.rangedGets)
          << "every try asked for the rest";
      EXPECT_EQ(testing_support::ReadFile(app.folder.Staged("whole.dat")), "whole")
          << "staged files stay";
    }
    const std::vector<std::string> log = app.LogTexts();
    ASSERT_FALSE(log.empty());
    const std::string where =
        faults.Url(c.badList ? "/tarvo/livelist.txt" : "/tarvo/file/bad.dat");
    EXPECT_EQ(log.back().find("version=v6 exit=" + std::to_string(c.status) +
                              (c.badList ? " list not fetched: <" : " file not fetched: <") +
                              where + ">: "),
              0u)
        << log.back();
    EXPECT_EQ(app.TakeMainApplicationStart(),
              (std::vector<std::string>{app.folder.File("tarvo.exe"), "x"}));
  }
}

}  // namespace

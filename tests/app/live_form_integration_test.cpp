// The updater's window logic in process, against the fault server on
// 127.0.0.1: what the stored description gives the components, the update
// run (each file fetched once, judged by its own completion, failures before
// the size is known), and the close question during a run.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "LiveViewRecorder.h"
#include "app/AppFolder.h"
#include "app/Settings.h"
#include "app/ULiveconst.h"
#include "app/Ulive.h"
#include "rtl/PropertyStreaming.h"
#include "support/ChildProcess.h"
#include "support/FaultServer.h"

namespace {

using app::TclCommandLine;
using app::TclUpdaterSession;
using app::TfrmLive;
using app_testing::LiveViewRecorder;
using testing_support::FaultRoute;
using testing_support::FaultServer;
using testing_support::FileExists;
using testing_support::RandomBytes;
using testing_support::ReadFile;

FaultRoute Body(std::string body) {
  FaultRoute route;
  route.body = std::move(body);
  return route;
}

class LiveForm : public ::testing::Test {
 public:
  LiveForm() {
    ::setenv("LIVEUPDATE_SERVER", server.Url("").c_str(), 1);
    record = folder.File("tarvo-args.txt");
    folder.Write("tarvo.exe", app_testing::RecorderScript(record));
    ::chmod(folder.File("tarvo.exe").c_str(), 0755);
  }
  ~LiveForm() override { ::unsetenv("LIVEUPDATE_SERVER"); }

  // A session as the program makes it, and the window on the recorder.
  void Open(std::vector<std::string> tail = {"v7", "main", "-x", "two words"}) {
    view = LiveViewRecorder();
    std::vector<std::string> args{folder.File("liveupdate1.exe")};
    args.insert(args.end(), tail.begin(), tail.end());
    session = std::make_unique<TclUpdaterSession>(
        TclCommandLine(args), "form-test-" + std::to_string(::getpid()) + "-" +
                                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
    form = std::make_unique<TfrmLive>(*session, view);
    // Loopback retries need no pause of seconds.
    form->dl->SetReconnectAfter(50);
    view.Show(*form);
  }
  // Runs the window until it closes, then destroys it (the hand-over).
  void RunAndDestroy() {
    view.Run();
    form.reset();
  }
  void List(const std::string& text) { server.Route("/tarvo/livelist.txt", Body(text)); }
  void File(const std::string& path, FaultRoute route) {
    server.Route("/tarvo/file/" + path, std::move(route));
  }
  int Gets(const std::string& path) {
    auto requests = server.Requests();
    return static_cast<int>(std::count_if(requests.begin(), requests.end(), [&](const auto& r) {
      return r.method == "GET" && r.path == path &&
             r.Header("range").rfind("bytes=0-", 0) != std::string::npos;
    }));
  }
  std::string Version() { return app::ReadSetting(folder.Path(), "ver", "<none>"); }

  FaultServer server;
  app_testing::AppFolder folder;
  std::string record;
  LiveViewRecorder view;
  std::unique_ptr<TclUpdaterSession> session;
  std::unique_ptr<TfrmLive> form;
};

TEST_F(LiveForm, StoredDescriptionSetsUpTheComponentsThroughTheirSetters) {
  Open();
  EXPECT_EQ(form->Name(), "frmLive");
  EXPECT_EQ(form->ClientWidth(), 324);
  EXPECT_EQ(form->ClientHeight(), 70);
  EXPECT_EQ(form->Position(), app::poScreenCenter);
  EXPECT_TRUE(form->HasBorderIcon(app::biSystemMenu));
  EXPECT_FALSE(form->HasBorderIcon(app::biMinimize));
  EXPECT_FALSE(form->HasBorderIcon(app::biMaximize));
  EXPECT_EQ(form->Font().Name(), "宋体");
  EXPECT_EQ(form->Font().Height(), -12);
  EXPECT_EQ(form->Font().Size(), 9);

  EXPECT_EQ(form->dl->TryCount(), 10);
  EXPECT_EQ(form->dl->InternetAgent(), "QuorinPellix LiveUpdate");
  EXPECT_EQ(form->dl->TimeOut(), 5000) << "every other setting stays at its default";
  EXPECT_EQ(form->dl->DownLoadList().Count(), 0);

  EXPECT_EQ(form->lbl->Caption(), "获取更新列表.....");
  EXPECT_EQ(form->lbl->Left(), 24);
  EXPECT_EQ(form->lbl->Top(), 10);
  EXPECT_TRUE(form->lbl->Transparent());
  EXPECT_EQ(form->Bevel1->Left(), 22);
  EXPECT_EQ(form->Bevel1->Top(), 24);
  EXPECT_EQ(form->Bevel1->Width(), 285);
  EXPECT_EQ(form->Bevel1->Height(), 19);
  EXPECT_EQ(form->Bevel1->Style(), app::bsLowered);
  EXPECT_EQ(form->clProgressBar1->Left(), 24);
  EXPECT_EQ(form->clProgressBar1->Top(), 26);
  EXPECT_EQ(form->clProgressBar1->Width(), 281);
  EXPECT_EQ(form->clProgressBar1->Height(), 15);
  // The reference, stored by name ahead of the control it names, is bound
  // once everything is read.
  EXPECT_EQ(form->clProgressBar1->InternetControl(), form->dl);
  EXPECT_EQ(form->dl->NotifierCount(), 1);
  EXPECT_TRUE(form->Timer1->Enabled());
  EXPECT_EQ(form->Timer1->Interval(), 1000u);
  EXPECT_TRUE(form->Timer1->Running());

  // Nothing was shown while loading (not the stored caption, not the label):
  // the bar painted once when loading ended, then FormCreate set the titles.
  EXPECT_EQ(view.paints, 1);
  ASSERT_NE(view.image, nullptr);
  EXPECT_EQ(view.image->Pixel(0, 0), form->clProgressBar1->Colors()->Frame());
  EXPECT_EQ(view.titles, (std::vector<std::string>{"QuorinPellix自动升级"}));
  EXPECT_EQ(view.captions, (std::vector<std::string>{"QuorinPellix自动升级"}));
  EXPECT_TRUE(view.labels.empty());

  // A stored description that writes the same again loads into a new window.
  rtl::Json stored = rtl::WriteComponent(*form);
  EXPECT_EQ(stored["clProgressBar1"]["InternetControl"], "dl");
  EXPECT_EQ(stored["dl"]["TryCount"], 10);
}

TEST_F(LiveForm, RunFetchesEachFileOnceInstallsAndHandsOver) {
  const std::string a = RandomBytes(30000, 1), c = RandomBytes(5000, 2), d = RandomBytes(20000, 3);
  List(
      "[other]\nfile1=0,other.dat\n[main]\nfile1=0,a.dat\nfile2=x,bad.dat\nfile3=0,b/"
      "c.dat\nfile4=1,d.dat\n");
  File("a.dat", Body(a));
  File("b/c.dat", Body(c));
  File("d.dat", Body(d));
  Open();
  std::vector<int> shownSegments;
  form->clProgressBar1->SetOnChanged([&](TclProgressBar* bar) {
    if (bar->ResourceState()) shownSegments.push_back(bar->ResourceState()->Count());
  });
  RunAndDestroy();

  EXPECT_EQ(ReadFile(folder.File("a.dat")), a);
  EXPECT_EQ(ReadFile(folder.File("b/c.dat")), c);
  EXPECT_EQ(ReadFile(folder.File("d.dat")), d);
  EXPECT_FALSE(FileExists(folder.File("other.dat")));
  EXPECT_FALSE(FileExists(folder.File("liveupdate/tmp.ini"))) << "the list is deleted once read";
  EXPECT_EQ(Version(), "v7");
  EXPECT_EQ(app::ReadSetting(folder.Path(), "firstrun", ""), ",d.dat");
  // A later start never restarts an earlier file.
  EXPECT_EQ(Gets("/tarvo/file/a.dat"), 1);
  EXPECT_EQ(Gets("/tarvo/file/b/c.dat"), 1);
  EXPECT_EQ(Gets("/tarvo/file/d.dat"), 1);
  EXPECT_EQ(view.labels, (std::vector<std::string>{"下载文件a.dat...", "下载文件b/c.dat...",
                                                   "下载文件d.dat..."}));
  EXPECT_TRUE(view.questions.empty()) << "the run's own close needs no answer";
  EXPECT_EQ(view.closes, 1);
  EXPECT_GT(view.waits, 0) << "the waits slept until a message came";
  EXPECT_NE(std::find(shownSegments.begin(), shownSegments.end(), 3), shownSegments.end())
      << "the bar showed the 30000-byte file's three segments";
  EXPECT_EQ(app_testing::WaitForLines(record),
            (std::vector<std::string>{folder.File("tarvo.exe"), "-x", "two words"}));
}

TEST_F(LiveForm, FailuresLeaveTheVersionUnwrittenAndStillHandOver) {
  struct Case {
    const char* name;
    std::function<void(LiveForm&)> serve;
    std::vector<std::string> labels;
  } cases[] = {{"list missing (404)", [](LiveForm&) {}, {}},
               {"file cut after 600 of 1000 bytes",
                [](LiveForm& t) {
                  t.List("[main]\nfile1=0,cut.dat\nfile2=0,after.dat\n");
                  FaultRoute cut = Body(RandomBytes(1000, 4));
                  cut.dropAfter = 600;
                  t.File("cut.dat", cut);
                  t.File("after.dat", Body("after"));
                },
                {"下载文件cut.dat..."}},
               {"file of unknown size",
                [](LiveForm& t) {
                  t.List("[main]\nfile1=0,chunked.dat\n");
                  FaultRoute chunked = Body("some bytes of no announced length");
                  chunked.contentLength = false;
                  t.File("chunked.dat", chunked);
                },
                {"下载文件chunked.dat..."}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    c.serve(*this);
    Open();
    form->dl->SetTryCount(2);
    RunAndDestroy();
    EXPECT_EQ(view.labels, c.labels);
    EXPECT_EQ(view.closes, 1);
    EXPECT_EQ(Version(), "<none>");
    EXPECT_FALSE(FileExists(folder.File("cut.dat")));
    EXPECT_FALSE(FileExists(folder.File("chunked.dat")));
    EXPECT_FALSE(FileExists(folder.File("after.dat")));
    EXPECT_EQ(Gets("/tarvo/file/after.dat"), 0) << "the run gives up after a failed file";
    EXPECT_EQ(app_testing::WaitForLines(record).size(), 3u);
    ::unlink(record.c_str());
  }
}

TEST_F(LiveForm, UnreachableServerIsAFailureNotAnEmptyList) {
  ::setenv("LIVEUPDATE_SERVER",
           ("http://127.0.0.1:" + std::to_string(testing_support::FreeLoopbackPort())).c_str(), 1);
  Open({"v7", "main"});
  form->dl->SetTryCount(2);
  RunAndDestroy();
  EXPECT_EQ(view.closes, 1);
  EXPECT_TRUE(view.labels.empty()) << "no file was attempted";
  EXPECT_EQ(Version(), "<none>");
  EXPECT_EQ(app_testing::WaitForLines(record),
            (std::vector<std::string>{folder.File("tarvo.exe")}));
}

TEST_F(LiveForm, CloseQuestionDuringTheRun) {
  struct Case {
    const char* name;
    bool yes;
    const char* version;
    bool secondFetched;
  } cases[] = {{"answered No, the run goes on", false, "v7", true},
               {"answered Yes, the run ends as failed", true, "<none>", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    List("[main]\nfile1=0,one.dat\nfile2=0,two.dat\n");
    File("one.dat", Body("one"));
    File("two.dat", Body("two"));
    const int twoBefore = Gets("/tarvo/file/two.dat");
    Open({"v7", "main"});
    view.answer = [&] { return c.yes; };
    view.onLabel = [&](const std::string& text) {
      if (text == "下载文件one.dat...") form->Close();
    };
    RunAndDestroy();
    ASSERT_EQ(view.questions.size(), 1u);
    EXPECT_EQ(view.questions[0], "信息|" + app::CloseQuestionText());
    EXPECT_EQ(Version(), c.version);
    EXPECT_EQ(FileExists(folder.File("two.dat")), c.secondFetched);
    EXPECT_EQ(Gets("/tarvo/file/two.dat") - twoBefore, c.secondFetched ? 1 : 0);
    EXPECT_FALSE(FileExists(folder.File("one.dat")) && c.yes) << "nothing is installed after Yes";
    EXPECT_EQ(view.captions.back(), c.yes ? "正在终止升级，请稍等..." : "QuorinPellix自动升级");
    EXPECT_EQ(view.closes, 1);
    EXPECT_EQ(app_testing::WaitForLines(record).size(), 1u)
        << "the main application starts either way";
    for (const char* name : {"tarvo-args.txt", "sms.ini", "one.dat", "two.dat"})
      ::unlink(folder.File(name).c_str());
  }
}

}  // namespace

// The updater's real GTK window on a virtual X server, in the middle of a
// download paced by liveupdate-serve: screenshots of the client area (kept as
// test artefacts) checked for the label's text and the bar's pixels, and the
// close question answered by clicking its buttons.
#include <gtest/gtest.h>
#include <signal.h>
#include <gtk/gtk.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/AppFolder.h"
#include "app/Settings.h"
#include "app/ULiveconst.h"
#include "app/Ulive.h"
#include "platform/Files.h"
#include "progress/Canvas.h"
#include "support/ChildProcess.h"
#include "support/TempDir.h"
#include "ui/GtkView.h"

namespace {

using testing_support::FileExists;
using testing_support::ReadFile;

const std::string kBin = platform::ExecutableFolder();
constexpr int kFileSize = 600000;
// Per connection: the file takes seconds, so both shots fall in the middle.
constexpr int kRate = 150000;
// The virtual screen ctest starts the test on.
constexpr int kScreenWidth = 1024, kScreenHeight = 768;
// Where the stored window puts the bar and its sunken frame.
constexpr int kBarLeft = 24, kBarTop = 26, kBarWidth = 281, kBarHeight = 15;
constexpr int kBevelLeft = 22, kBevelTop = 24;

// An image's pixels, red in the low byte as the bar's colours.
struct Shot {
  int width = 0;
  int height = 0;
  std::vector<std::uint32_t> pixels;

  std::uint32_t At(int x, int y) const { return pixels[static_cast<size_t>(y * width + x)]; }
  Shot Region(int left, int top, int regionWidth, int regionHeight) const {
    Shot part{regionWidth, regionHeight, {}};
    for (int y = top; y < top + regionHeight; ++y)
      for (int x = left; x < left + regionWidth; ++x) part.pixels.push_back(At(x, y));
    return part;
  }
};

Shot FromPixbuf(GdkPixbuf* pixbuf) {
  Shot shot{gdk_pixbuf_get_width(pixbuf), gdk_pixbuf_get_height(pixbuf), {}};
  const int stride = gdk_pixbuf_get_rowstride(pixbuf);
  const int channels = gdk_pixbuf_get_n_channels(pixbuf);
  const guchar* data = gdk_pixbuf_get_pixels(pixbuf);
  for (int y = 0; y < shot.height; ++y)
    for (int x = 0; x < shot.width; ++x) {
      const guchar* p = data + y * stride + x * channels;
      shot.pixels.push_back(p[0] | (p[1] << 8) | (p[2] << 16));
    }
  return shot;
}

Shot FromBitmap(const TclBitmap& bitmap) {
  Shot shot{bitmap.Width(), bitmap.Height(), {}};
  for (int y = 0; y < shot.height; ++y)
    for (int x = 0; x < shot.width; ++x) shot.pixels.push_back(bitmap.Pixel(x, y).value_or(~0u));
  return shot;
}

// A widget's window as an image, saved under the test artefacts as Name.
Shot Grab(GtkWidget* widget, const std::string& name) {
  gdk_display_sync(gdk_display_get_default());
  GdkWindow* window = gtk_widget_get_window(widget);
  GdkPixbuf* pixbuf = gdk_pixbuf_get_from_window(window, 0, 0, gdk_window_get_width(window),
                                                 gdk_window_get_height(window));
  if (!pixbuf) return {};
  const std::string folder = LIVEUPDATE_TEST_ARTIFACTS;
  platform::ForceDirectories(folder);
  gdk_pixbuf_save(pixbuf, (folder + "/" + name + ".png").c_str(), "png", nullptr, nullptr);
  Shot shot = FromPixbuf(pixbuf);
  g_object_unref(pixbuf);
  return shot;
}

int FontPoints(GtkWidget* label) {
  int points = 0;
  if (PangoAttrList* attributes = gtk_label_get_attributes(GTK_LABEL(label))) {
    PangoAttrIterator* it = pango_attr_list_get_iterator(attributes);
    if (auto* font =
            reinterpret_cast<PangoAttrFontDesc*>(pango_attr_iterator_get(it, PANGO_ATTR_FONT_DESC)))
      points = pango_font_description_get_size(font->desc) / PANGO_SCALE;
    pango_attr_iterator_destroy(it);
  }
  return points;
}

GtkWidget* FindMessageDialog() {
  GList* windows = gtk_window_list_toplevels();
  GtkWidget* found = nullptr;
  for (GList* w = windows; w; w = w->next)
    if (GTK_IS_MESSAGE_DIALOG(w->data) && gtk_widget_get_mapped(GTK_WIDGET(w->data)))
      found = GTK_WIDGET(w->data);
  g_list_free(windows);
  return found;
}

std::string Lines(std::string text) {
  for (char& c : text)
    if (c == '\r') c = '\n';
  return text;
}

// What one run of the window showed.
struct Seen {
  std::vector<Shot> shots;
  std::vector<std::optional<Shot>> paintedAtShot;  // the bar's last paint before each shot
  std::vector<std::int64_t> bytesAtShot;
  std::vector<std::string> labelAtShot;
  GtkAllocation labelArea{};
  bool dialogType = false;
  bool resizable = true;
  GdkPoint origin{};
  int labelPoints = 0;
  std::string applicationName;
  std::string questionTitle;
  std::string questionText;
  std::int64_t bytesAtAnswer = 0;
  std::uint32_t frameColor = 0;
};

class UpdaterWindow : public ::testing::Test {
 protected:
  UpdaterWindow() {
    const int port = testing_support::FreeLoopbackPort();
    server = std::make_unique<testing_support::ChildProcess>(
        std::vector<std::string>{kBin + "liveupdate-serve", "--root", site.Path(), "--port",
                                 std::to_string(port), "--rate", std::to_string(kRate)},
        site.File("serve.log"));
    EXPECT_TRUE(testing_support::WaitForListener(port, std::chrono::seconds(10)));
    ::setenv("LIVEUPDATE_SERVER", ("http://127.0.0.1:" + std::to_string(port)).c_str(), 1);
    record = folder.File("tarvo-args.txt");
    folder.Write("tarvo.exe", app_testing::RecorderScript(record));
    ::chmod(folder.File("tarvo.exe").c_str(), 0755);
    Serve("livelist.txt", "[main]\nfile1=0,big.dat\nfile2=0,after.dat\n");
    Serve("file/big.dat", big);
    Serve("file/after.dat", "after");
  }
  ~UpdaterWindow() override { ::unsetenv("LIVEUPDATE_SERVER"); }

  void Serve(const std::string& path, const std::string& body) {
    platform::ForceDirectories(platform::ExtractFileDir(site.File("tarvo/" + path)));
    testing_support::WriteFile(site.File("tarvo/" + path), body);
  }

  // Makes the window as the program does and runs it to its end, taking two
  // shots while big.dat arrives and then asking to close; the question is
  // answered with Answer's button.
  void RunClosingMidway(GtkResponseType answer, const std::string& name) {
    seen = {};
    step = Step::FirstShot;
    answer_ = answer;
    name_ = name;
    lastPainted.reset();
    int argc = 1;
    char arg0[] = "gui-test";
    char* args[] = {arg0, nullptr};
    char** argv = args;
    view = ui::TclGtkView::Create(argc, argv);
    ASSERT_NE(view, nullptr) << "no display: this test runs under xvfb-run";
    session = std::make_unique<app::TclUpdaterSession>(
        app::TclCommandLine({folder.File("liveupdate1.exe"), "v9", "main", "hand", "back"}),
        "gui-test-" + std::to_string(::getpid()) + "-" + name);
    form = std::make_unique<app::TfrmLive>(*session, *view);
    view->Show(*form);
    if (const char* given = g_get_application_name()) seen.applicationName = given;
    // The bitmap of every paint of the bar is kept, so a shot can be
    // compared with what was painted last.
    g_signal_connect(view->BarArea(), "draw", G_CALLBACK(&UpdaterWindow::AfterBarDraw), this);
    const guint poll = g_timeout_add(20, &UpdaterWindow::Poll, this);
    view->Run();
    g_source_remove(poll);
    seen.frameColor = form->clProgressBar1->Colors()->Frame();
    form.reset();  // the hand-over
    view.reset();
  }

  std::int64_t Bytes() const {
    const TclResourceState* state = form->clProgressBar1->ResourceState();
    return state ? state->BytesProceed() : 0;
  }

  static gboolean AfterBarDraw(GtkWidget*, cairo_t*, gpointer self) {
    auto* test = static_cast<UpdaterWindow*>(self);
    if (const TclBitmap* bitmap = test->form->clProgressBar1->Bitmap())
      test->lastPainted = FromBitmap(*bitmap);
    return FALSE;
  }

  void TakeShot() {
    const std::string name = "gtk-window-" + name_ + "-" + std::to_string(seen.shots.size() + 1);
    seen.shots.push_back(Grab(view->Window(), name));
    seen.paintedAtShot.push_back(lastPainted);
    seen.bytesAtShot.push_back(Bytes());
    seen.labelAtShot.push_back(gtk_label_get_text(GTK_LABEL(view->Label())));
    gtk_widget_get_allocation(view->Label(), &seen.labelArea);
    GtkWindow* window = GTK_WINDOW(view->Window());
    seen.dialogType = gtk_window_get_type_hint(window) == GDK_WINDOW_TYPE_HINT_DIALOG;
    seen.resizable = gtk_window_get_resizable(window);
    gdk_window_get_origin(gtk_widget_get_window(view->Window()), &seen.origin.x, &seen.origin.y);
    seen.labelPoints = FontPoints(view->Label());
  }

  static gboolean Poll(gpointer self) {
    auto* test = static_cast<UpdaterWindow*>(self);
    Seen& seen = test->seen;
    const std::int64_t bytes = test->Bytes();
    if (test->step == Step::FirstShot && bytes >= kFileSize / 10 && test->lastPainted) {
      test->TakeShot();
      test->step = Step::SecondShot;
    } else if (test->step == Step::SecondShot && bytes >= seen.bytesAtShot[0] + kFileSize / 5) {
      test->TakeShot();
      // As a click on the title bar's close box would.
      gtk_window_close(GTK_WINDOW(test->view->Window()));
      test->step = Step::Question;
    } else if (test->step == Step::Question) {
      if (GtkWidget* dialog = FindMessageDialog()) {
        gchar* text = nullptr;
        g_object_get(dialog, "text", &text, nullptr);
        seen.questionText = text ? text : "";
        g_free(text);
        seen.questionTitle = gtk_window_get_title(GTK_WINDOW(dialog));
        seen.bytesAtAnswer = bytes;
        Grab(dialog, "gtk-question-" + test->name_);
        if (test->answer_ == GTK_RESPONSE_NONE) {
          // Told to stop while the question is open: it is answered for the user.
          ::raise(SIGTERM);
        } else {
          gtk_button_clicked(
              GTK_BUTTON(gtk_dialog_get_widget_for_response(GTK_DIALOG(dialog), test->answer_)));
        }
        test->step = Step::Answered;
      }
    }
    return G_SOURCE_CONTINUE;
  }

  void CheckShots() const {
    ASSERT_EQ(seen.shots.size(), 2u);
    for (size_t i = 0; i < seen.shots.size(); ++i) {
      SCOPED_TRACE("shot " + std::to_string(i + 1));
      const Shot& shot = seen.shots[i];
      EXPECT_EQ(shot.width, 324);
      EXPECT_EQ(shot.height, 70);
      EXPECT_EQ(seen.labelAtShot[i], "下载文件big.dat...");
      // The window shows exactly what the bar painted last.
      ASSERT_TRUE(seen.paintedAtShot[i]);
      EXPECT_TRUE(seen.paintedAtShot[i]->pixels ==
                  shot.Region(kBarLeft, kBarTop, kBarWidth, kBarHeight).pixels);
      EXPECT_EQ(shot.At(kBarLeft, kBarTop), seen.frameColor);
      // The label's text: ink in its area where the window's background is
      // plain.
      const std::uint32_t background = shot.At(2, 2);
      const GtkAllocation& label = seen.labelArea;
      const Shot text = shot.Region(label.x, label.y, label.width, label.height);
      EXPECT_GT(std::count_if(text.pixels.begin(), text.pixels.end(),
                              [&](std::uint32_t p) { return p != background; }),
                50)
          << "the label's text is drawn";
      EXPECT_EQ(label.x, 24);
      EXPECT_EQ(label.y, 10);
      // The sunken frame around the bar is drawn in other colours.
      EXPECT_NE(shot.At(kBevelLeft, kBevelTop + 8), background);
    }
    // The window itself: a fixed-size dialog-type toplevel, centred on the
    // screen, the label in a 9-point font.
    EXPECT_EQ(seen.applicationName, "QuorinPellix自动升级") << "the title the window's creation set";
    EXPECT_TRUE(seen.dialogType);
    EXPECT_FALSE(seen.resizable);
    EXPECT_EQ(seen.origin.x, (kScreenWidth - 324) / 2);
    EXPECT_EQ(seen.origin.y, (kScreenHeight - 70) / 2);
    EXPECT_EQ(seen.labelPoints, 9);
    EXPECT_GT(seen.bytesAtShot[1], seen.bytesAtShot[0]);
    EXPECT_FALSE(seen.shots[0].Region(kBarLeft, kBarTop, kBarWidth, kBarHeight).pixels ==
                 seen.shots[1].Region(kBarLeft, kBarTop, kBarWidth, kBarHeight).pixels)
        << "the segments grew between the shots";
  }

  enum class Step { FirstShot, SecondShot, Question, Answered };

  testing_support::TempDir site;
  app_testing::AppFolder folder;
  std::unique_ptr<testing_support::ChildProcess> server;
  std::string record;
  const std::string big = testing_support::RandomBytes(kFileSize, 11);
  std::unique_ptr<ui::TclGtkView> view;
  std::unique_ptr<app::TclUpdaterSession> session;
  std::unique_ptr<app::TfrmLive> form;

  GtkResponseType answer_ = GTK_RESPONSE_NO;
  std::string name_;
  Step step = Step::FirstShot;
  std::optional<Shot> lastPainted;
  Seen seen;
};

TEST_F(UpdaterWindow, ShotsInTheMiddleOfADownloadAndTheCloseQuestion) {
  struct Case {
    const char* name;
    GtkResponseType answer;
    const char* version;
    bool installed;
  } cases[] = {{"no", GTK_RESPONSE_NO, "v9", true},
               {"yes", GTK_RESPONSE_YES, "<none>", false},
               {"sigterm", GTK_RESPONSE_NONE, "<none>", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("answered ") + c.name);
    ASSERT_NO_FATAL_FAILURE(RunClosingMidway(c.answer, c.name));
    CheckShots();
    EXPECT_EQ(seen.questionTitle, "信息");
    EXPECT_EQ(seen.questionText, Lines(app::CloseQuestionText()));
    EXPECT_LT(seen.bytesAtAnswer, kFileSize) << "the question came in the middle of the download";
    // After No the file finishes and is installed; Yes stops it at once
    // (it stays staged, cut short), nothing further is fetched or installed
    // and the version stays unwritten.
    if (c.installed) {
      EXPECT_TRUE(ReadFile(folder.File("big.dat")) == big);
    } else {
      const std::string staged = ReadFile(folder.Staged("big.dat"));
      EXPECT_FALSE(staged.empty() || staged == big);
    }
    EXPECT_EQ(session->ExitStatus(), c.installed ? app::esDone : app::esClosed);
    EXPECT_EQ(FileExists(folder.File("big.dat")), c.installed);
    EXPECT_EQ(FileExists(folder.File("after.dat")) || FileExists(folder.Staged("after.dat")),
              c.installed);
    EXPECT_EQ(app::ReadSetting(folder.Path(), "ver", "<none>"), c.version);
    EXPECT_EQ(app_testing::WaitForLines(record),
              (std::vector<std::string>{folder.File("tarvo.exe"), "hand", "back"}))
        << "the main application starts either way";
    for (const char* file : {"tarvo-args.txt", "sms.ini", "big.dat", "after.dat",
                             "liveupdate/big.dat", "liveupdate/after.dat"})
      ::unlink(folder.File(file).c_str());
  }
}

}  // namespace

// The updater's real GTK window on a virtual X server, in the middle of a
// download paced by liveupdate-serve: screenshots of the client area (kept as
// test artefacts) checked for the label's text and the bar's pixels, and the
// close question answered by clicking its buttons.
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <sys/stat.h>
#include <unistd.h>

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
#include "platform/Process.h"
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

// A copy of an RGB image's pixels, red in the low byte as the bar's colours.
struct Shot {
  int width = 0;
  int height = 0;
  std::vector<std::uint32_t> pixels;

  std::uint32_t At(int x, int y) const { return pixels[static_cast<size_t>(y * width + x)]; }
  bool SameRegion(const Shot& other, int left, int top, int width_, int height_) const {
    for (int y = 0; y < height_; ++y)
      for (int x = 0; x < width_; ++x)
        if (At(left + x, top + y) != other.At(left + x, top + y)) return false;
    return true;
  }
};

Shot FromPixbuf(GdkPixbuf* pixbuf) {
  Shot shot;
  shot.width = gdk_pixbuf_get_width(pixbuf);
  shot.height = gdk_pixbuf_get_height(pixbuf);
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
  Shot shot;
  shot.width = bitmap.Width();
  shot.height = bitmap.Height();
  for (int y = 0; y < shot.height; ++y)
    for (int x = 0; x < shot.width; ++x) shot.pixels.push_back(bitmap.Pixel(x, y).value_or(~0u));
  return shot;
}

// The bar's region of a window shot, as a shot of its own.
Shot Region(const Shot& shot, int left, int top, int width, int height) {
  Shot part;
  part.width = width;
  part.height = height;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) part.pixels.push_back(shot.At(left + x, top + y));
  return part;
}

std::string ArtefactFolder() {
  std::string folder = LIVEUPDATE_TEST_ARTIFACTS;
  platform::ForceDirectories(folder);
  return folder + "/";
}

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
    big = testing_support::RandomBytes(kFileSize, 11);
    Serve("file/big.dat", big);
    Serve("file/after.dat", "after");
  }
  ~UpdaterWindow() override { ::unsetenv("LIVEUPDATE_SERVER"); }

  void Serve(const std::string& path, const std::string& body) {
    platform::ForceDirectories(platform::ExtractFileDir(site.File("tarvo/" + path)));
    testing_support::WriteFile(site.File("tarvo/" + path), body);
  }

  // Makes the window as the program does and runs it to its end, taking
  // two shots while big.dat arrives and then asking to close; the question
  // is answered with Answer's button.
  void RunClosingMidway(GtkResponseType answer, const std::string& name) {
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
    answer_ = answer;
    name_ = name;
    view->Show(*form);
    if (const char* given = g_get_application_name()) applicationName = given;
    // The bitmap of every paint of the bar is kept, so a shot can be
    // compared with what was painted last.
    g_signal_connect(view->BarArea(), "draw", G_CALLBACK(&UpdaterWindow::AfterBarDraw), this);
    const guint poll = g_timeout_add(20, &UpdaterWindow::Poll, this);
    view->Run();
    g_source_remove(poll);
    frameColor = form->clProgressBar1->Colors()->Frame();
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
    gdk_display_sync(gdk_display_get_default());
    GdkPixbuf* pixbuf = view->Capture();
    ASSERT_NE(pixbuf, nullptr);
    const std::string file =
        ArtefactFolder() + "gtk-window-" + name_ + "-" + std::to_string(shots.size() + 1) + ".png";
    gdk_pixbuf_save(pixbuf, file.c_str(), "png", nullptr, nullptr);
    shots.push_back(FromPixbuf(pixbuf));
    paintedAtShot.push_back(lastPainted);
    bytesAtShot.push_back(Bytes());
    labelAtShot.push_back(gtk_label_get_text(GTK_LABEL(view->Label())));
    GtkAllocation allocation;
    gtk_widget_get_allocation(view->Label(), &allocation);
    labelArea = allocation;
    g_object_unref(pixbuf);
    // The window itself: a fixed-size dialog-type toplevel, centred on the
    // screen, the label in a 9-point font.
    GtkWindow* window = GTK_WINDOW(view->Window());
    dialogType = gtk_window_get_type_hint(window) == GDK_WINDOW_TYPE_HINT_DIALOG;
    resizable = gtk_window_get_resizable(window);
    gdk_window_get_origin(gtk_widget_get_window(view->Window()), &origin.x, &origin.y);
    labelPoints = 0;
    if (PangoAttrList* attributes = gtk_label_get_attributes(GTK_LABEL(view->Label()))) {
      PangoAttrIterator* it = pango_attr_list_get_iterator(attributes);
      if (auto* font = reinterpret_cast<PangoAttrFontDesc*>(
              pango_attr_iterator_get(it, PANGO_ATTR_FONT_DESC)))
        labelPoints = pango_font_description_get_size(font->desc) / PANGO_SCALE;
      pango_attr_iterator_destroy(it);
    }
  }

  static GtkWidget* FindMessageDialog() {
    GList* windows = gtk_window_list_toplevels();
    GtkWidget* found = nullptr;
    for (GList* w = windows; w; w = w->next)
      if (GTK_IS_MESSAGE_DIALOG(w->data) && gtk_widget_get_mapped(GTK_WIDGET(w->data)))
        found = GTK_WIDGET(w->data);
    g_list_free(windows);
    return found;
  }

  static gboolean Poll(gpointer self) {
    auto* test = static_cast<UpdaterWindow*>(self);
    const std::int64_t bytes = test->Bytes();
    switch (test->step) {
      case Step::FirstShot:
        if (bytes >= kFileSize / 10 && test->lastPainted) {
          test->TakeShot();
          test->step = Step::SecondShot;
        }
        break;
      case Step::SecondShot:
        if (bytes >= test->bytesAtShot[0] + kFileSize / 5) {
          test->TakeShot();
          // As a click on the title bar's close box would.
          gtk_window_close(GTK_WINDOW(test->view->Window()));
          test->step = Step::Question;
        }
        break;
      case Step::Question:
        if (GtkWidget* dialog = FindMessageDialog()) {
          gchar* text = nullptr;
          g_object_get(dialog, "text", &text, nullptr);
          test->questionText = text ? text : "";
          g_free(text);
          test->questionTitle = gtk_window_get_title(GTK_WINDOW(dialog));
          test->bytesAtAnswer = bytes;
          gdk_display_sync(gdk_display_get_default());
          GdkWindow* window = gtk_widget_get_window(dialog);
          if (GdkPixbuf* shot = gdk_pixbuf_get_from_window(window, 0, 0,
                                                           gdk_window_get_width(window),
                                                           gdk_window_get_height(window))) {
            const std::string file = ArtefactFolder() + "gtk-question-" + test->name_ + ".png";
            gdk_pixbuf_save(shot, file.c_str(), "png", nullptr, nullptr);
            g_object_unref(shot);
          }
          gtk_button_clicked(GTK_BUTTON(
              gtk_dialog_get_widget_for_response(GTK_DIALOG(dialog), test->answer_)));
          test->step = Step::Answered;
        }
        break;
      case Step::Answered:
        break;
    }
    return G_SOURCE_CONTINUE;
  }

  void CheckShots() {
    ASSERT_EQ(shots.size(), 2u);
    for (size_t i = 0; i < shots.size(); ++i) {
      SCOPED_TRACE("shot " + std::to_string(i + 1));
      const Shot& shot = shots[i];
      EXPECT_EQ(shot.width, 324);
      EXPECT_EQ(shot.height, 70);
      EXPECT_EQ(labelAtShot[i], "下载文件big.dat...");
      // The window shows exactly what the bar painted last.
      ASSERT_TRUE(paintedAtShot[i]);
      EXPECT_TRUE(paintedAtShot[i]->SameRegion(Region(shot, barLeft, barTop, barWidth, barHeight),
                                               0, 0, barWidth, barHeight));
      EXPECT_EQ(shot.At(barLeft, barTop), frameColor);
      // The label's text: ink in its area where the window's background is
      // plain.
      const std::uint32_t background = shot.At(2, 2);
      int ink = 0;
      for (int y = labelArea.y; y < labelArea.y + labelArea.height; ++y)
        for (int x = labelArea.x; x < labelArea.x + labelArea.width; ++x)
          ink += shot.At(x, y) != background;
      EXPECT_GT(ink, 50) << "the label's text is drawn";
      EXPECT_EQ(labelArea.x, 24);
      EXPECT_EQ(labelArea.y, 10);
      // The sunken frame around the bar is drawn in other colours.
      EXPECT_NE(shot.At(bevelLeft, bevelTop + 8), background);
    }
    EXPECT_EQ(applicationName, "QuorinPellix自动升级") << "the title the window's creation set";
    EXPECT_TRUE(dialogType);
    EXPECT_FALSE(resizable);
    EXPECT_EQ(origin.x, (kScreenWidth - 324) / 2);
    EXPECT_EQ(origin.y, (kScreenHeight - 70) / 2);
    EXPECT_EQ(labelPoints, 9);
    EXPECT_GT(bytesAtShot[1], bytesAtShot[0]);
    EXPECT_FALSE(shots[0].SameRegion(shots[1], barLeft, barTop, barWidth, barHeight))
        << "the segments grew between the shots";
  }

  enum class Step { FirstShot, SecondShot, Question, Answered };

  testing_support::TempDir site;
  app_testing::AppFolder folder;
  std::unique_ptr<testing_support::ChildProcess> server;
  std::string record;
  std::string big;
  std::unique_ptr<ui::TclGtkView> view;
  std::unique_ptr<app::TclUpdaterSession> session;
  std::unique_ptr<app::TfrmLive> form;
  std::uint32_t frameColor = 0;

  GtkResponseType answer_ = GTK_RESPONSE_NO;
  std::string name_;
  Step step = Step::FirstShot;
  std::optional<Shot> lastPainted;
  std::vector<Shot> shots;
  std::vector<std::optional<Shot>> paintedAtShot;
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

  static constexpr int barLeft = 24, barTop = 26, barWidth = 281, barHeight = 15;
  static constexpr int bevelLeft = 22, bevelTop = 24;
};

std::string Lines(std::string text) {
  for (char& c : text)
    if (c == '\r') c = '\n';
  return text;
}

TEST_F(UpdaterWindow, ShotsInTheMiddleOfADownloadAndTheCloseQuestion) {
  struct Case {
    const char* name;
    GtkResponseType answer;
    const char* version;
    bool installed;
  } cases[] = {{"no", GTK_RESPONSE_NO, "v9", true}, {"yes", GTK_RESPONSE_YES, "<none>", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("answered ") + c.name);
    step = Step::FirstShot;
    shots.clear();
    paintedAtShot.clear();
    bytesAtShot.clear();
    labelAtShot.clear();
    lastPainted.reset();
    ASSERT_NO_FATAL_FAILURE(RunClosingMidway(c.answer, c.name));
    CheckShots();
    EXPECT_EQ(questionTitle, "信息");
    EXPECT_EQ(questionText, Lines(app::CloseQuestionText()));
    EXPECT_LT(bytesAtAnswer, kFileSize) << "the question came in the middle of the download";
    // The file in progress finishes either way; after Yes it stays staged,
    // nothing further is fetched or installed and the version stays
    // unwritten.
    EXPECT_TRUE(ReadFile(c.installed ? folder.File("big.dat") : folder.Staged("big.dat")) == big);
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

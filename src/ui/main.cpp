// liveupdate VERSION SECTION [ARGS...]: the updater. Without a version it
// ends at once (no window, no lock, no settings); with --help, -h or
// --version it prints its usage and ends. Otherwise it takes the
// single-instance lock (another copy holding it does not stop this one),
// shows the window (GTK with a display, the console without one or with
// LIVEUPDATE_CONSOLE=1), runs the update and, once the window is gone,
// starts the main application again. The exit status is the run's outcome
// (app/RunOutcome.h).
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "app/CommandLine.h"
#include "app/RunOutcome.h"
#include "app/ULiveconst.h"
#include "app/Ulive.h"
#include "app/UpdaterSession.h"
#include "ui/ConsoleView.h"
#ifdef LIVEUPDATE_WITH_GTK
#include "ui/GtkView.h"
#endif

#ifndef LIVEUPDATE_VERSION
#define LIVEUPDATE_VERSION "unknown"
#endif

namespace {

bool Set(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0';
}

std::unique_ptr<app::TclLiveView> MakeView(int& argc, char**& argv) {
  const bool console =
      Set("LIVEUPDATE_CONSOLE") && std::string(std::getenv("LIVEUPDATE_CONSOLE")) != "0";
#ifdef LIVEUPDATE_WITH_GTK
  if (!console && (Set("DISPLAY") || Set("WAYLAND_DISPLAY"))) {
    if (auto view = ui::TclGtkView::Create(argc, argv)) return view;
  }
#else
  (void)argc;
  (void)argv;
  (void)console;
#endif
  return std::make_unique<ui::TclConsoleView>(stderr,
                                              ::isatty(STDIN_FILENO) && ::isatty(STDERR_FILENO));
}

int RunUpdater(int argc, char** argv, const app::TclCommandLine& commandLine) {
  app::TclUpdaterSession session(commandLine);
  std::unique_ptr<app::TclLiveView> view = MakeView(argc, argv);
  if (session.TakeInstanceMutex()) view->SetApplicationTitle(std::string(app::kShortTitle));
  {
    // The window is destroyed before the view: its destruction writes the
    // run's line to the log and hands over to the main application.
    app::TfrmLive form(session, *view);
    view->Show(form);
    view->Run();
  }
  return session.ExitStatus();
}

}  // namespace

int main(int argc, char** argv) {
  const app::TclCommandLine commandLine = app::TclCommandLine::FromMain(argc, argv);
  if (commandLine.AsksForUsage()) {
    if (commandLine.AsksForVersion()) std::printf("liveupdate %s\n\n", LIVEUPDATE_VERSION);
    std::fputs(app::UsageText().c_str(), stdout);
    return app::esDone;
  }
  if (!commandLine.ShouldRun()) return app::esDone;
  try {
    return RunUpdater(argc, argv, commandLine);
  } catch (const std::exception& e) {
    // Nothing was installed: the front-end or the window could not be made.
    std::fprintf(stderr, "liveupdate: %s\n", e.what());
    return app::esInstallFailed;
  }
}

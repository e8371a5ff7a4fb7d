#include "app/CommandLine.h"

#include "app/RunOutcome.h"
#include "app/UpdateServer.h"
#include "platform/Files.h"

namespace app {

TclCommandLine::TclCommandLine(std::vector<std::string> arguments)
    : arguments_(std::move(arguments)) {}

TclCommandLine TclCommandLine::FromMain(int argc, const char* const* argv) {
  std::vector<std::string> arguments;
  for (int i = 0; i < argc; ++i) arguments.emplace_back(argv[i] != nullptr ? argv[i] : "");
  return TclCommandLine(std::move(arguments));
}

const std::string& TclCommandLine::Get(std::size_t index) const {
  static const std::string kEmpty;
  return index < arguments_.size() ? arguments_[index] : kEmpty;
}

std::string TclCommandLine::Argument(std::size_t index) const {
  return Get(index);
}

std::vector<std::string> TclCommandLine::HandBack() const {
  if (arguments_.size() <= 3) return {};
  return {arguments_.begin() + 3, arguments_.end()};
}

bool TclCommandLine::AsksForUsage() const {
  const std::string& first = Version();
  return first == "--help" || first == "-h" || first == "--version";
}

std::string UsageText() {
  return "Usage: liveupdate VERSION SECTION [ARGUMENT...]\n"
         "       liveupdate --help | -h | --version\n"
         "\n"
         "The updater of the application in its own folder. The main application,\n"
         "tarvo.exe beside it, starts the copy that sms.ini's [tarvo] Liveupdate names:\n"
         "    liveupdate1.exe VERSION SECTION [ARGUMENT...]\n"
         "VERSION is the version being installed (written to sms.ini as \"ver\" once\n"
         "it is installed), SECTION the section of the update list that names this\n"
         "installation's files, and the ARGUMENTs are handed back to tarvo.exe, which\n"
         "is started again when the updater ends, whatever the outcome. Without a\n"
         "VERSION the updater does nothing.\n"
         "\n"
         "It fetches SERVER/tarvo/livelist.txt and the files it lists into the folder\n"
         "liveupdate/, installs them as one transaction (a journal in liveupdate/ lets\n"
         "the next run finish or roll back an installation that was interrupted) and\n"
         "appends one line about the run to liveupdate/liveupdate.log. With\n"
         "PublicKey=BASE64 in sms.ini's [tarvo] section it installs only what a site\n"
         "signed with that Ed25519 key vouches for (SERVER/tarvo/livelist.sums and\n"
         "livelist.sums.sig, made by liveupdate-publish); without one it warns in the\n"
         "log that the site is not verified. A list or file the server answers with\n"
         "404, 410 or 403 ends the run at once; an unreachable server is tried ten\n"
         "times.\n"
         "\n"
         "Environment:\n"
         "  LIVEUPDATE_SERVER    the update server's base URL, scheme and host with an\n"
         "                       optional port, no trailing '/' (built in: " +
         DefaultUpdateServer() +
         ")\n"
         "  LIVEUPDATE_CONSOLE   1: no window; the console front-end shows the run on\n"
         "                       standard error, even with a display\n"
         "  DISPLAY, WAYLAND_DISPLAY\n"
         "                       the display of the window; without one, the console\n"
         "\n"
         "Closing the window (or Ctrl-C on the console) asks whether to stop the\n"
         "update; SIGTERM stops it without asking, and a second SIGTERM ends the\n"
         "updater at once.\n"
         "\n"
         "Exit status:\n" +
         ExitStatusHelp();
}

std::string AppFolderOf(const std::string& programPath) {
  std::string folder = platform::ExtractFilePath(programPath);
  if (folder.empty()) return platform::ExecutableFolder();
  return folder;
}

}  // namespace app

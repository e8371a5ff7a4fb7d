// The updater's command line: `liveupdate VERSION SECTION [ARGS...]`.
//
// Argument 0 is the running updater's own path (it gives the application
// folder and decides the updater's replacement name), 1 the version being
// installed, 2 the update-list section, 3 and later are handed back to the main
// application. A missing argument reads as empty.
//
// TclCommandLine is a value: made once at start-up on the user-interface
// thread and only read afterwards, so it may be read from any thread.
#pragma once

#include <string>
#include <vector>

namespace app {

class TclCommandLine {
 public:
  TclCommandLine() = default;
  explicit TclCommandLine(std::vector<std::string> arguments);
  static TclCommandLine FromMain(int argc, const char* const* argv);

  // Argument Index, or "" when there are fewer arguments.
  std::string Argument(std::size_t index) const;
  std::size_t Count() const { return arguments_.size(); }

  const std::string& ProgramPath() const { return Get(0); }
  const std::string& Version() const { return Get(1); }
  const std::string& Section() const { return Get(2); }
  // Arguments 3 and later, in order.
  std::vector<std::string> HandBack() const;

  // Without a version the updater does nothing: no window, no lock, no settings.
  bool ShouldRun() const { return !Version().empty() && !AsksForUsage(); }
  // "--help", "-h" or "--version" as the first argument: the usage text is
  // printed and nothing else happens. Any other text is the version.
  bool AsksForUsage() const;
  bool AsksForVersion() const { return Version() == "--version"; }

 private:
  const std::string& Get(std::size_t index) const;

  std::vector<std::string> arguments_;
};

// The usage text of --help: the command line the main application passes,
// the environment variables, the files and the exit statuses.
std::string UsageText();

// The folder of ProgramPath with its trailing separator ("/" for a program at
// the root). A bare program name, found through the search path, has no folder
// in its text: the running executable's folder is used then.
std::string AppFolderOf(const std::string& programPath);

}  // namespace app

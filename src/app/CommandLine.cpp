#include "app/CommandLine.h"

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

std::string AppFolderOf(const std::string& programPath) {
  std::string folder = platform::ExtractFilePath(programPath);
  if (folder.empty()) return platform::ExecutableFolder();
  return folder;
}

}  // namespace app

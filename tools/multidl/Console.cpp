#include "Console.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>

#include "Readout.h"

namespace multidl {

Console::Console(int fd, bool quiet)
    : fd_(fd),
      mode_(quiet          ? Mode::kQuiet
            : ::isatty(fd) ? Mode::kTerminal
                           : Mode::kPlain) {}

int Console::Width() const {
  winsize size{};
  if (::ioctl(fd_, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return 80;
}

void Console::Write(const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd_, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // nowhere to report that standard error is gone
    done += static_cast<std::size_t>(n);
  }
}

void Console::Message(const std::string& text) {
  if (mode_ == Mode::kTerminal) {
    Write(ComposeRedraw(static_cast<int>(frame_.size()), {text}, frame_));
  } else {
    Write(text + "\n");
  }
}

void Console::Frame(const std::vector<std::string>& lines) {
  if (mode_ != Mode::kTerminal) return;
  Write(ComposeRedraw(static_cast<int>(frame_.size()), {}, lines));
  frame_ = lines;
}

void Console::Plain(const std::vector<std::string>& lines) {
  if (mode_ != Mode::kPlain) return;
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  Write(text);
}

void Console::Clear() {
  if (mode_ != Mode::kTerminal || frame_.empty()) return;
  Write(ComposeRedraw(static_cast<int>(frame_.size()), {}, {}));
  frame_.clear();
}

}  // namespace multidl

// Standard error as multidl writes to it: on a terminal a block of readout
// lines redrawn in place, with messages (errors, completions) printed above
// it; otherwise plain lines; with -q only messages.
//
// Threads: the main thread's.
#pragma once

#include <string>
#include <vector>

namespace multidl {

class Console {
 public:
  enum class Mode { kTerminal, kPlain, kQuiet };

  // Mode chosen from Quiet and whether Fd is a terminal.
  Console(int fd, bool quiet);
  Mode GetMode() const { return mode_; }
  // Columns of the terminal (80 when unknown).
  int Width() const;

  // A line that stays: printed above the readout block, which is redrawn below it.
  void Message(const std::string& text);
  // Replaces the readout block (terminal mode only).
  void Frame(const std::vector<std::string>& lines);
  // Appends lines as they are (plain mode only).
  void Plain(const std::vector<std::string>& lines);
  // Removes the readout block, leaving the messages.
  void Clear();

 private:
  void Write(const std::string& text);

  int fd_;
  Mode mode_;
  std::vector<std::string> frame_;
};

}  // namespace multidl

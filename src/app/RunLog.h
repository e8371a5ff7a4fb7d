// The updater's log, AppFolder + "liveupdate/liveupdate.log": one line per
// run with its outcome, plus a line for each thing worth knowing on the way
// (the site is not verified, a fetch is being retried, an interrupted
// installation was finished or rolled back):
//
//   2024-06-01T10:00:00Z version=2.0 exit=4 file not fetched: <URL>: ERROR
//   2024-06-01T10:00:00Z version=2.0 warning: the update site is not verified: ...
//
// Each line is appended with one write, so the lines of two copies running
// at once do not mix. Past 1 MiB the log moves to "liveupdate.log.1" (the one
// before it is dropped) and a new one begins. A line that cannot be written
// is lost silently: the run goes on either way. Every line also goes to the
// reporter, where the console front-end prints it.
//
// Threads: the user-interface thread's.
#pragma once

#include <chrono>
#include <functional>
#include <string>

namespace app {

class TclRunLog {
 public:
  using Reporter = std::function<void(const std::string& line)>;

  TclRunLog(std::string appFolder, std::string version);

  // Where the log is kept.
  static std::string FileOf(const std::string& appFolder);

  void SetReporter(Reporter reporter) { reporter_ = std::move(reporter); }
  // Appends "TIME version=V TEXT".
  void Append(const std::string& text);
  // The line Append writes for Text at Time (without the line end).
  std::string Line(const std::string& text, std::chrono::system_clock::time_point time) const;

 private:
  std::string appFolder_;
  std::string version_;
  Reporter reporter_;
};

}  // namespace app

// An application folder for one test, inside a temporary folder and with a
// blank in its path, plus helpers to stage files and to stand in for programs
// the updater starts.
#pragma once

#include <chrono>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/Files.h"
#include "support/TempDir.h"

namespace app_testing {

class AppFolder {
 public:
  AppFolder();

  // With the trailing separator, as the updater's AppFolder.
  const std::string& Path() const { return path_; }
  std::string File(const std::string& relative) const { return path_ + relative; }
  // Writes a file below the application folder, creating its folders.
  void Write(const std::string& relative, const std::string& data) const;
  // Writes a file below the staging folder, as a finished download leaves it.
  void Stage(const std::string& relative, const std::string& data) const;
  std::string Staged(const std::string& relative) const;

 private:
  testing_support::TempDir temp_;
  std::string path_;
};

// A shell script that records its own path and its arguments, one per line,
// into RecordFile (written whole, then renamed into place).
inline std::string RecorderScript(const std::string& recordFile);
// Waits until File exists, then returns its lines; empty on time-out.
inline std::vector<std::string> WaitForLines(
    const std::string& file, std::chrono::milliseconds limit = std::chrono::seconds(10));

inline AppFolder::AppFolder() : path_(temp_.Path() + "/my app/") {
  if (!platform::ForceDirectories(path_)) throw std::runtime_error("cannot create " + path_);
}

inline void AppFolder::Write(const std::string& relative, const std::string& data) const {
  std::string file = File(relative);
  platform::ForceDirectories(platform::ExtractFileDir(file));
  testing_support::WriteFile(file, data);
}

inline void AppFolder::Stage(const std::string& relative, const std::string& data) const {
  Write("liveupdate/" + relative, data);
}

inline std::string AppFolder::Staged(const std::string& relative) const {
  return File("liveupdate/" + relative);
}

inline std::string RecorderScript(const std::string& recordFile) {
  return "#!/bin/sh\n"
         "printf '%s\\n' \"$0\" \"$@\" > '" +
         recordFile +
         ".part'\n"
         "mv '" +
         recordFile + ".part' '" + recordFile + "'\n";
}

inline std::vector<std::string> WaitForLines(const std::string& file,
                                             std::chrono::milliseconds limit) {
  auto deadline = std::chrono::steady_clock::now() + limit;
  while (!testing_support::FileExists(file)) {
    if (std::chrono::steady_clock::now() > deadline) return {};
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  std::vector<std::string> lines;
  std::istringstream in(testing_support::ReadFile(file));
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

}  // namespace app_testing

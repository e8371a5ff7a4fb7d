// What the black-box tests of the real programs share: an application
// folder holding the built liveupdate as liveupdate1.exe, a stand-in main
// application that records how it was started, and the libraries the program
// loads from beside itself; an update site folder signed with the real
// liveupdate-publish; and running a program to its end with its output.
#pragma once

#include <sys/stat.h>

#include <chrono>
#include <sstream>
#include <string>
#include <vector>

#include "app/AppFolder.h"
#include "app/Settings.h"
#include "platform/Files.h"
#include "platform/Process.h"
#include "support/TempDir.h"

namespace updater_testing {

inline const std::string& BinFolder() {
  static const std::string folder = platform::ExecutableFolder();
  return folder;
}

// Runs Argv to its end (at most Limit) with standard output and error in
// Output; the exit status, or -1 when it did not end in time.
inline int RunCaptured(const std::vector<std::string>& argv, std::string& output,
                       std::chrono::seconds limit = std::chrono::seconds(120)) {
  testing_support::TempDir temp;
  const std::string file = temp.File("output");
  std::vector<std::string> shell{"/bin/sh", "-c", "exec \"$0\" \"$@\" > '" + file + "' 2>&1"};
  shell.insert(shell.end(), argv.begin(), argv.end());
  int pid = 0;
  int status = -1;
  if (!platform::StartProcess(shell, &pid) || !platform::WaitForProcess(pid, limit, status))
    status = -1;
  output = testing_support::ReadFile(file);
  return status;
}

inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// An application folder with the updater in it.
class Installation {
 public:
  explicit Installation(const std::string& name = "liveupdate1.exe") : name_(name) {
    record = folder.File("tarvo-args.txt");
    folder.Write("tarvo.exe", app_testing::RecorderScript(record));
    ::chmod(folder.File("tarvo.exe").c_str(), 0755);
    for (const char* lib : {"libcl_platform.so", "libinetclient.so"})
      platform::CopyFile(BinFolder() + lib, folder.File(lib), false);
    platform::CopyFile(BinFolder() + "liveupdate", folder.File(name_), false);
    ::chmod(folder.File(name_).c_str(), 0755);
  }

  // Starts the updater (console front-end) against Url; Environment holds
  // further NAME=VALUE pairs.
  int Start(const std::vector<std::string>& args, const std::string& url,
            const std::vector<std::string>& environment = {}) const {
    std::vector<std::string> argv{"/usr/bin/env", "LIVEUPDATE_CONSOLE=1",
                                  "LIVEUPDATE_SERVER=" + url};
    argv.insert(argv.end(), environment.begin(), environment.end());
    argv.push_back(folder.File(name_));
    argv.insert(argv.end(), args.begin(), args.end());
    int pid = 0;
    if (!platform::StartProcess(argv, &pid)) return -1;
    return pid;
  }
  static int Wait(int pid, std::chrono::seconds limit = std::chrono::seconds(200)) {
    int code = -1;
    if (pid <= 0 || !platform::WaitForProcess(pid, limit, code)) return -1;
    return code;
  }
  int Run(const std::vector<std::string>& args, const std::string& url,
          const std::vector<std::string>& environment = {}) const {
    return Wait(Start(args, url, environment));
  }

  std::string Setting(const std::string& key) const {
    return app::ReadSetting(folder.Path(), key, "<none>");
  }
  void SetSetting(const std::string& key, const std::string& value) const {
    app::WriteSetting(folder.Path(), key, value);
  }
  std::vector<std::string> LogLines() const {
    return Lines(testing_support::ReadFile(folder.File("liveupdate/liveupdate.log")));
  }
  // The log's lines without their time stamp ("version=..." onwards).
  std::vector<std::string> LogTexts() const {
    std::vector<std::string> texts;
    for (const std::string& line : LogLines()) texts.push_back(line.substr(line.find(' ') + 1));
    return texts;
  }
  // Waits for the main application's start and forgets it, so the next run
  // can be waited for too.
  std::vector<std::string> TakeMainApplicationStart() const {
    std::vector<std::string> lines = app_testing::WaitForLines(record);
    ::unlink(record.c_str());
    return lines;
  }

  app_testing::AppFolder folder;
  std::string record;

 private:
  std::string name_;
};

// An update site: a folder with tarvo/ below it, and the publisher's key.
class Site {
 public:
  Site() {
    std::string output;
    RunCaptured({BinFolder() + "liveupdate-publish", "--new-key", KeyFile()}, output);
    const std::string prefix = "PublicKey=";
    publicKey = output.rfind(prefix, 0) == 0 ? Lines(output)[0].substr(prefix.size()) : output;
  }
  const std::string& Path() const { return dir_.Path(); }
  std::string File(const std::string& relative) const { return dir_.File("tarvo/" + relative); }
  std::string KeyFile() const { return dir_.File("publisher.pem"); }

  void Serve(const std::string& relative, const std::string& body) const {
    platform::ForceDirectories(platform::ExtractFileDir(File(relative)));
    testing_support::WriteFile(File(relative), body);
  }
  // Signs the site as it is now with liveupdate-publish; its exit status.
  int Sign(const std::string& version, const std::vector<std::string>& options = {}) const {
    std::vector<std::string> argv{BinFolder() + "liveupdate-publish", "--key", KeyFile(),
                                  "--version", version};
    argv.insert(argv.end(), options.begin(), options.end());
    argv.push_back(Path());
    std::string output;
    return RunCaptured(argv, output);
  }

  std::string publicKey;

 private:
  testing_support::TempDir dir_;
};

}  // namespace updater_testing

// A server program started by a test: spawned without a shell, its output kept in
// a log file, stopped (SIGTERM, then SIGKILL) and reaped when the object goes.
// Plus the loopback helpers such servers need: a free port, waiting for a listener.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace testing_support {

class ChildProcess {
 public:
  ChildProcess(std::vector<std::string> argv, const std::string& logFile);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool Running();
  void Stop();
  const std::string& LogFile() const { return logFile_; }

 private:
  pid_t pid_ = -1;
  std::string logFile_;
};

// A port on 127.0.0.1 that nothing listens on at the moment of the call.
int FreeLoopbackPort();
// Waits until something accepts connections on 127.0.0.1:port.
bool WaitForListener(int port, std::chrono::milliseconds limit);
// The full path of a program found on PATH or in the usual system folders, or "".
std::string FindProgram(const std::string& name);
// Appends what a terminal (or pipe) gives to Seen until Text is in it (true),
// its input ends or nothing arrives for Idle (false). An empty Text reads to
// the end.
bool ReadUntil(int descriptor, const std::string& text, std::string& seen,
               std::chrono::milliseconds idle = std::chrono::seconds(20));

}  // namespace testing_support

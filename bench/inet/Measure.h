// Timing of one whole-body read: wall time and CPU time, in this process or in
// a child process (curl), and medians over runs. Used by one thread.
#pragma once

#include <sched.h>

#include <functional>
#include <string>
#include <vector>

namespace bench {

struct Sample {
  double wallSeconds = 0;
  double cpuSeconds = 0;  // user + system
};

// Times Read in this process (all its threads' CPU counts). Ends the program
// with a message when Read does not deliver exactly Expected bytes.
Sample TimeInProcess(const std::string& name, const std::function<long long()>& read, long long expected);

// Times `curl -s -o /dev/null URL` as a child process, with the child's CPU.
// Ends the program when curl fails.
Sample TimeCurl(const std::string& url);

// Median of each figure on its own.
Sample Median(const std::vector<Sample>& samples);

// Keeps the calling thread, and every thread it starts meanwhile (they inherit
// it), on the core it runs on now; gives the thread its former cores back.
class KeepToOneCore {
 public:
  KeepToOneCore();
  ~KeepToOneCore();
  KeepToOneCore(const KeepToOneCore&) = delete;
  KeepToOneCore& operator=(const KeepToOneCore&) = delete;

 private:
  cpu_set_t former_{};
  bool saved_ = false;
};

}  // namespace bench

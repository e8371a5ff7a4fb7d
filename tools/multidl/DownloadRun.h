// One run of multidl: a download control with one item per URL, at most
// Settings.jobs of them busy at once, driven from the main thread. The loop
// waits for the workers' messages with a short time-out, serves them, starts
// the next items, redraws the readout, keeps the state files and, on SIGINT
// or SIGTERM, stops the items, waits for them and keeps their maps.
//
// Threads: the main thread creates the run, and with it the control, its items
// and every event; the engine's workers reach it only through those events.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "Console.h"
#include "ExitCode.h"
#include "Options.h"

class TclMultiDownLoader;
class TclDownLoadItem;

namespace multidl {

class DownloadRun {
 public:
  DownloadRun(const Settings& settings, Console& console);
  ~DownloadRun();
  DownloadRun(const DownloadRun&) = delete;
  DownloadRun& operator=(const DownloadRun&) = delete;

  // Runs every item to its end (or until a stop signal) and returns the exit status.
  int Execute();

 private:
  enum class Phase { kPending, kRunning, kCompleted, kDone };
  struct Job {
    std::string url;
    std::string localFile;
    std::string name;  // the file name, for the readout
    TclDownLoadItem* item = nullptr;
    Phase phase = Phase::kPending;
    ItemOutcome outcome;
    std::chrono::steady_clock::time_point started;
    std::int64_t restoredBytes = 0;  // kept by the state file of an earlier run
    bool resumeReported = false;
    std::string retryReason;  // of the attempt that failed last, until the next begins
    std::chrono::steady_clock::time_point retryAt;
  };

  // Makes the items; false (with a message) when two would write one file.
  bool Plan();
  void StartNext();
  void Start(Job& job);
  // Restores the map of an earlier run when asked to and it fits; removes a
  // state file that is not going to be used.
  void PrepareState(Job& job);
  void Finish(Job& job);
  // False when the item has no map worth keeping.
  bool SaveState(const Job& job);
  // Says whether the map of the state file was continued or the file changed.
  void ReportResume(Job& job);
  std::string Note(const Job& job) const;
  void StopAll();
  void Redraw(bool force);
  void SaveRunningStates();
  Job* JobOf(const void* item);
  int RunningCount() const;
  bool AllDone() const;

  const Settings& settings_;
  Console& console_;
  std::string folder_;
  std::unique_ptr<TclMultiDownLoader> control_;
  std::vector<Job> jobs_;
  std::size_t next_ = 0;
  bool stopping_ = false;
  std::chrono::steady_clock::time_point lastRedraw_;
  std::chrono::steady_clock::time_point lastSave_;
};

}  // namespace multidl

// How an update run ended: the exit status of the process and the words the
// log and the console give it.
//
// Plain data and pure functions, callable from any thread.
#pragma once

#include <string>

namespace app {

// Documented in --help, the README and the manual page; the main application
// and scripts may depend on them.
enum TclExitStatus : int {
  esDone = 0,           // installed, or nothing to install (also --help, --version)
  esListFailed = 3,     // the update list could not be fetched
  esFileFailed = 4,     // a file of the update could not be fetched
  esRefused = 5,        // verification refused the site
  esInstallFailed = 6,  // installation failed (the folder was rolled back)
  esClosed = 7          // closed by the user (close question answered Yes, or SIGTERM)
};

struct TclRunOutcome {
  TclExitStatus Status = esDone;
  // What happened, e.g. "installed 3 files", "file not fetched".
  std::string Summary;
  // Where it happened, when a resource or file is to blame, and why.
  std::string Where;
  std::string Error;

  static TclRunOutcome Failure(TclExitStatus status, std::string summary, std::string where,
                               std::string error) {
    return {status, std::move(summary), std::move(where), std::move(error)};
  }
  bool Failed() const { return Status != esDone; }
};

// "exit=N SUMMARY[: <WHERE>][: ERROR]", the outcome part of a log line.
std::string DescribeOutcome(const TclRunOutcome& outcome);

// The exit-status table as --help prints it, one status a line.
std::string ExitStatusHelp();

}  // namespace app

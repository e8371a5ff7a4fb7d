// multidl: downloads URLs in parallel segments with the download engine; see
// README.md beside this file for the options, the state files and the exit
// status.
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "Console.h"
#include "DownloadRun.h"
#include "Options.h"
#include "Signals.h"

int main(int argc, char** argv) {
  const multidl::ParseOutcome parsed =
      multidl::ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
  if (!parsed.run) {
    std::cout << parsed.output;
    std::cerr << parsed.error;
    return parsed.exitCode;
  }
  multidl::InstallStopSignals();
  int status = 0;
  {
    multidl::Console console(STDERR_FILENO, parsed.settings.quiet);
    multidl::DownloadRun run(parsed.settings, console);
    status = run.Execute();
  }
  // A worker that freed itself may still be ending on its own thread after its
  // item completed; the process-wide synchronizer record it unregisters from
  // must not be destroyed under it, so the static destructors are skipped.
  // Every file has been closed by now.
  std::cout.flush();
  std::cerr.flush();
  std::fflush(nullptr);
  _exit(status);
}

#include "Signals.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>

#include "ExitCode.h"

namespace multidl {
namespace {

std::atomic<int> stopSignal{0};
static_assert(std::atomic<int>::is_always_lock_free);

void OnStopSignal(int signal) {
  int expected = 0;
  if (!stopSignal.compare_exchange_strong(expected, signal)) _exit(kExitInterrupted);
}

}  // namespace

void InstallStopSignals() {
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  // A reader of our standard error that goes away must not end the run.
  signal(SIGPIPE, SIG_IGN);
}

int StopSignal() {
  return stopSignal.load();
}

}  // namespace multidl

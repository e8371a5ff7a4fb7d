// SIGINT and SIGTERM as a flag the main loop polls between its short waits.
// The handler only stores into a lock-free atomic (async-signal-safe); a
// second signal while the run is already stopping ends the process at once.
//
// Threads: installed by the main thread; the handler may run on any thread.
#pragma once

namespace multidl {

void InstallStopSignals();
// The signal that asked the run to stop, 0 while none did.
int StopSignal();

}  // namespace multidl

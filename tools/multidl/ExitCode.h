// The exit status of a run, decided from how each item ended. Pure: the run
// collects one outcome per item and asks for the code.
//
// Threads: pure functions and plain data.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/clTypes.h"

namespace multidl {

// Documented in --help and in the folder's README; scripts depend on them.
enum ExitCode : int {
  kExitOk = 0,
  kExitUsage = 2,         // bad options or arguments; nothing was downloaded
  kExitNetwork = 3,       // the server or the network failed an item
  kExitLocalFile = 4,     // a local file or folder could not be made, written or read
  kExitChecksum = 5,      // a finished file does not have the expected digest
  kExitSizeLimit = 6,     // an item was refused by --min-size or --max-size
  kExitInterrupted = 130  // stopped by SIGINT or SIGTERM; the state files were kept
};

// What is known about one item once it has completed.
struct ItemOutcome {
  bool started = false;                 // the engine was asked to download it
  bool interrupted = false;             // stopped by a signal before it could finish
  TclProcessStatus status = psUnknown;  // the segment map's derived status
  std::int64_t resourceSize = 0;        // as the server reported it; 0 when unknown
  std::int64_t bytesProceed = 0;        // sum over the map's segments
  bool dataPhase = false;       // segments were planned (not refused after the information phase)
  bool sizeRefused = false;     // the size was known and outside the limits
  bool localFileError = false;  // an error of the local side was recorded
  bool checksumChecked = false;
  bool checksumMatched = false;
};

// True when the item ended with every byte of the resource: not failed or
// terminated, and the bytes done add up to the size whenever it is known.
bool AllBytesArrived(const ItemOutcome& item);

// The code of one item: kExitOk when it is complete (and its digest, when one
// was asked for, matches).
ExitCode ItemExitCode(const ItemOutcome& item);

// The code of the whole run: kExitOk only when every item is; an interrupted
// run gives kExitInterrupted; otherwise the code of the first item, in
// command-line order, that did not succeed.
ExitCode RunExitCode(const std::vector<ItemOutcome>& items);

// True for an error text that the local file layer raises (creating, opening,
// sizing, writing or reading the file), as opposed to the network or server.
bool IsLocalFileErrorText(const std::string& text, std::int32_t code);

// The lines of the exit-code table for --help and the README.
std::string ExitCodeHelp();

}  // namespace multidl

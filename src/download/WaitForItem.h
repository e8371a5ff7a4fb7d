// The documented way for a program to wait for a download: WaitForItem pumps
// the calling thread's messages until the item has completed (or the time-out
// has passed) and returns its outcome, read from where the outcome lives: the
// item's segment map (its resource state) and its error list. The item's own
// Status is not the outcome: it can stay psProcess after a failed information
// phase.
//
// Threads: call it on the thread that created the control (the one the item's
// events run on); it serves their messages while it waits.
#pragma once

#include <cstdint>
#include <string>

#include "base/clTypes.h"
#include "platform/Waits.h"

class TclInternetItem;

struct TclItemOutcome {
  // False when the time-out came first: the item is still running (Stop it
  // and wait again, or go on waiting).
  bool Completed = false;
  // The resource state's status: psSuccess when every segment ended well,
  // psFailed, psErrors or psTerminated otherwise.
  TclProcessStatus Status = psUnknown;
  // The last error recorded for the item and its code (an internet error
  // number, an HTTP status, 0 for a local file error); empty when none.
  std::string Error;
  std::int32_t ErrorCode = 0;
  // Bytes that arrived, the size the server reported (0 when unknown) and
  // the segments of the map (0 when no data phase ran).
  std::int64_t BytesProceed = 0;
  std::int64_t ResourceSize = 0;
  int Segments = 0;

  // Completed with psSuccess after a data phase, with every byte of a
  // resource of known size. A resource refused by the size limits completes
  // with psSuccess from its information phase but without data: no success.
  bool Succeeded() const;
};

// Waits, serving the calling thread's messages, until Item is no longer busy
// or TimeoutMs milliseconds have passed (platform::kInfinite: no limit). Call
// it after starting the item (TclMultiInternetControl::Start with async true);
// an item that is not busy returns at once.
TclItemOutcome WaitForItem(TclInternetItem& item, platform::DWORD timeoutMs = platform::kInfinite);

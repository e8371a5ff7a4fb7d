// Where a worker that completed its segment takes over unfinished work: the
// running segment expected to finish last, split so that its worker and the
// taker are expected to finish together. Pure: the item measures, this
// decides.
//
// Threads: none of its own; the item calls it on the user-interface thread.
#pragma once

#include <cstdint>
#include <vector>

// One running segment: the bytes it still has to fetch and its worker's
// estimated speed (bytes per second; 0 or less: not known yet).
struct TclSplitCandidate {
  std::int64_t remaining = 0;
  double speed = 0;
};

// What is known of the taker: the finishing worker's speed and the seconds
// it needed from its start to its first block, which a new request costs
// again.
struct TclSplitTaker {
  double speed = 0;
  double latency = 0;
};

// A worker's speed as its blocks tell it: Bytes over its Age (seconds since
// it started), but, once no block came for kQuietSeconds, at most two
// Blocks per the seconds since its last one (a worker whose next block is
// late is slower than its average says; a negative SinceLastBlock: no block
// yet). Before its first block it is unknown (0) until it is older than
// twice the Latency a new request showed plus kQuietSeconds, then at most
// two Blocks per its age.
inline constexpr double kQuietSeconds = 0.02;
double EstimateSpeed(std::int64_t bytes, double age, double sinceLastBlock, std::int64_t block,
                     double latency);

// A candidate's index and how many of its remaining bytes its worker keeps
// (from its current position on); the taker gets the rest.
struct TclSplitChoice {
  int index = -1;
  std::int64_t keep = 0;
};

// Without measured speeds a split is made in halves, when the half is at
// least this large.
inline constexpr std::int64_t kMinSplitPart = 1024 * 1024;
// With measured speeds a split is made when it is expected to end the split
// segment this much sooner (its new request's latency counted): a request,
// and the rest of the cut answer thrown away, for less is no bargain.
inline constexpr double kMinSplitGainSeconds = 0.1;

// The splits worth making, best first: candidates ordered by the time their
// workers still need (an unknown speed counts as the taker's). Each is split
// where both workers are expected to finish together, the running one
// keeping whole blocks; the taker's part holds at least a Block.
std::vector<TclSplitChoice> RankSplits(const std::vector<TclSplitCandidate>& candidates,
                                       const TclSplitTaker& taker, std::int64_t block);

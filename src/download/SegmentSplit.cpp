#include "download/SegmentSplit.h"

#include <algorithm>

double EstimateSpeed(std::int64_t bytes, double age, double sinceLastBlock, std::int64_t block,
                     double latency) {
  // Twice a block per the quiet time: a worker whose hook waited for the
  // event thread a moment is not taken for a slow one.
  const double b = 2.0 * static_cast<double>(std::max<std::int64_t>(block, 1));
  if (sinceLastBlock < 0 || bytes <= 0) {
    return age > 2 * latency + kQuietSeconds ? b / age : 0;
  }
  const double average = age > 0 ? static_cast<double>(bytes) / age : 0;
  return sinceLastBlock > kQuietSeconds ? std::min(average, b / sinceLastBlock) : average;
}

std::vector<TclSplitChoice> RankSplits(const std::vector<TclSplitCandidate>& candidates,
                                       const TclSplitTaker& taker, std::int64_t block) {
  struct Ranked {
    TclSplitChoice choice;
    double timeLeft;
    std::int64_t remaining;
  };
  const std::int64_t b = std::max<std::int64_t>(block, 1);
  const double vt = taker.speed;
  std::vector<Ranked> ranked;
  for (std::size_t i = 0; i < candidates.size(); ++i) {
    const TclSplitCandidate& c = candidates[i];
    if (c.remaining <= 0) continue;
    const double r = static_cast<double>(c.remaining);
    const double own = c.speed > 0 ? c.speed : vt;
    const bool measured = own > 0 && vt > 0;
    // The running worker keeps what it fetches while the taker starts and
    // fetches the rest; whole blocks, since a worker left a few bytes short
    // of one waits for them as long as for a block.
    double keep = r / 2;
    if (measured) keep = (taker.latency * vt + r) * own / (own + vt);
    const std::int64_t kept =
        std::clamp<std::int64_t>(static_cast<std::int64_t>(keep) / b * b, 0, c.remaining);
    const std::int64_t part = c.remaining - kept;
    if (part < b) continue;
    if (measured) {
      const double after = std::max(static_cast<double>(kept) / own,
                                    taker.latency + static_cast<double>(part) / vt);
      if (r / own - after < kMinSplitGainSeconds) continue;
    } else if (part < kMinSplitPart) {
      continue;
    }
    ranked.push_back({{static_cast<int>(i), kept}, own > 0 ? r / own : 0, c.remaining});
  }
  std::stable_sort(ranked.begin(), ranked.end(), [](const Ranked& a, const Ranked& b) {
    if (a.timeLeft != b.timeLeft) return a.timeLeft > b.timeLeft;
    return a.remaining > b.remaining;
  });
  std::vector<TclSplitChoice> choices;
  for (const Ranked& r : ranked) choices.push_back(r.choice);
  return choices;
}

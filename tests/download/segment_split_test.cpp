// The split decision: which running segment a finishing worker takes the end
// of, how much the running worker keeps, when a split is not worth a request,
// and what a worker's blocks tell of its speed.
#include "download/SegmentSplit.h"

#include <gtest/gtest.h>

namespace {

constexpr std::int64_t kBlock = 65536;
constexpr std::int64_t kMiB = 1024 * 1024;

TEST(SegmentSplit, SplitsWhereBothWorkersFinishTogetherWhenItSavesTime) {
  struct Case {
    const char* what;
    std::vector<TclSplitCandidate> running;
    TclSplitTaker taker;
    std::vector<TclSplitChoice> expected;
  };
  const std::vector<Case> cases = {
      {"equal speeds: halves in whole blocks",
       {{10 * kMiB + 1000, 1e6}}, {1e6, 0}, {{0, 5 * kMiB}}},
      {"a slow worker keeps what it fetches while the fast taker starts",
       {{8 * kMiB, 100e3}}, {100e6, 0.01}, {{0, 0}}},
      {"the taker's latency leaves the running worker more",
       {{8 * kMiB, 1e6}}, {1e6, 1.0}, {{0, 4 * kMiB + 7 * kBlock}}},
      {"a fast path saves too little to be worth a request",
       {{4 * kMiB, 200e6}}, {200e6, 0.001}, {}},
      {"a part smaller than a block is never split off",
       {{kBlock - 100, 1e3}}, {100e6, 0}, {}},
      {"unknown speeds: halves of at least 1 MiB",
       {{2 * kMiB, 0}, {2 * kMiB - 2 * kBlock, 0}}, {0, 0}, {{0, kMiB}}},
      {"the segment that needs longest goes first, not the largest",
       {{20 * kMiB, 50e6}, {2 * kMiB, 100e3}}, {50e6, 0.01},
       {{1, 0}, {0, 10 * kMiB + 3 * kBlock}}},
      {"an unmeasured worker counts as fast as the taker",
       {{6 * kMiB, 0}, {3 * kMiB, 1e6}}, {1e6, 0}, {{0, 3 * kMiB}, {1, 3 * kMiB / 2}}},
  };
  for (const Case& c : cases) {
    const std::vector<TclSplitChoice> choices = RankSplits(c.running, c.taker, kBlock);
    ASSERT_EQ(choices.size(), c.expected.size()) << c.what;
    for (std::size_t i = 0; i < choices.size(); ++i) {
      EXPECT_EQ(choices[i].index, c.expected[i].index) << c.what;
      EXPECT_EQ(choices[i].keep, c.expected[i].keep) << c.what;
      EXPECT_EQ(choices[i].keep % kBlock, 0) << c.what;
    }
  }
}

TEST(SegmentSplit, SpeedIsTheAverageButNoMoreThanALateBlockAllows) {
  struct Case {
    const char* what;
    std::int64_t bytes;
    double age, sinceLastBlock, latency, expected;
  };
  const std::vector<Case> cases = {
      {"no block yet, young: unknown", 0, 0.1, -1, 0.05, 0},
      {"no block yet, older than twice the latency and a quiet time: two blocks in its age", 0,
       0.5, -1, 0.05, 2 * kBlock / 0.5},
      {"steady: the average", 10 * kBlock, 1.0, 0.001, 0, 10 * kBlock},
      {"a short wait for the event thread leaves the average", 8 * kBlock, 0.2, 0.015, 0,
       40 * kBlock},
      {"a burst, then quiet: two blocks since the last one", 8 * kBlock, 0.2, 0.1, 0,
       2 * kBlock / 0.1},
  };
  for (const Case& c : cases) {
    EXPECT_DOUBLE_EQ(EstimateSpeed(c.bytes, c.age, c.sinceLastBlock, kBlock, c.latency),
                     c.expected)
        << c.what;
  }
}

}  // namespace

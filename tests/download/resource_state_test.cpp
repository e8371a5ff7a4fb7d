#include "download/ResourceState.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <utility>
#include <vector>

#include "rtl/Exceptions.h"

namespace {

using Segment = std::pair<std::int64_t, std::int64_t>;  // position, length

std::vector<Segment> Map(const TclResourceState& state) {
  std::vector<Segment> result;
  for (int i = 0; i < state.Count(); ++i)
    result.emplace_back(state.Items(i)->ResourcePos(), state.Items(i)->BytesToProceed());
  return result;
}

// A clock the test moves by hand, in place of the platform's counter.
struct FakeClock {
  static inline std::int64_t now = 0;
  static inline std::int64_t frequency = 1'000'000'000;
  static inline bool counterWorks = true;
  static inline bool frequencyWorks = true;
  static bool Counter(std::int64_t& value) {
    value = now;
    return counterWorks;
  }
  static bool Frequency(std::int64_t& value) {
    value = frequency;
    return frequencyWorks;
  }
};

class ResourceStateTest : public ::testing::Test {
 protected:
  TclResourceState state;
};

class ResourceStateSplit : public ResourceStateTest {};

TEST_F(ResourceStateSplit, ThreeSegmentsOfTenThousandGiveTheRemainderToTheLast) {
  state.Init(3, 10000);
  EXPECT_EQ(state.ResourceSize(), 10000);
  EXPECT_EQ(Map(state), (std::vector<Segment>{{0, 3333}, {3333, 3333}, {6666, 3334}}));
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(state.Items(i)->Status(), psUnknown);
    EXPECT_EQ(state.Items(i)->BytesProceed(), 0);
  }
}

TEST_F(ResourceStateSplit, UnknownSizeGivesOpenEndedSegmentsAtZero) {
  state.Init(5, 0);
  EXPECT_EQ(state.ResourceSize(), 0);
  EXPECT_EQ(Map(state), std::vector<Segment>(5, Segment{0, 0}));
}

TEST_F(ResourceStateSplit, NegativeSizeIsTreatedAsUnknown) {
  state.Init(2, -7);
  EXPECT_EQ(Map(state), std::vector<Segment>(2, Segment{0, 0}));
}

TEST_F(ResourceStateSplit, FewerBytesThanSegmentsPutsEverythingInTheLast) {
  state.Init(4, 2);
  EXPECT_EQ(Map(state), (std::vector<Segment>{{0, 0}, {0, 0}, {0, 0}, {0, 2}}));
}

TEST_F(ResourceStateSplit, OneSegmentCoversTheWholeResource) {
  state.Init(1, 12345);
  EXPECT_EQ(Map(state), (std::vector<Segment>{{0, 12345}}));
}

TEST_F(ResourceStateSplit, SizesBeyondFourGigabytesSplitWithoutOverflow) {
  const std::int64_t size = 5'000'000'001;
  state.Init(2, size);
  EXPECT_EQ(Map(state), (std::vector<Segment>{{0, 2'500'000'000}, {2'500'000'000, 2'500'000'001}}));
  state.SetBytesProceed(state.Items(0), 2'500'000'000);
  state.SetBytesProceed(state.Items(1), 2'500'000'001);
  EXPECT_EQ(state.BytesProceed(), size);
}

TEST_F(ResourceStateSplit, NoSegmentsAskedKeepsTheStateUnmappedWithItsSize) {
  state.Init(0, 1000);
  EXPECT_EQ(state.Count(), 0);
  EXPECT_EQ(state.ResourceSize(), 1000);
  state.Init(-3, 1000);
  EXPECT_EQ(state.Count(), 0);
}

TEST_F(ResourceStateSplit, ExistingMapIsResumedWithItsProgress) {
  state.Init(3, 10000);
  state.SetBytesProceed(state.Items(0), 1000);
  state.SetBytesProceed(state.Items(2), 3334);
  state.SetSegmentStatus(state.Items(0), psFailed);
  state.SetSegmentStatus(state.Items(2), psSuccess);
  state.SetSegmentStatus(nullptr, psErrors);

  state.Init(7, 99999);

  EXPECT_EQ(state.ResourceSize(), 10000);
  EXPECT_EQ(Map(state), (std::vector<Segment>{{0, 3333}, {3333, 3333}, {6666, 3334}}));
  EXPECT_EQ(state.Items(0)->BytesProceed(), 1000);
  EXPECT_EQ(state.Items(2)->BytesProceed(), 3334);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(state.Items(i)->Status(), psUnknown);
  EXPECT_EQ(state.ResourceStatus(), psUnknown);
  EXPECT_EQ(state.StartBytesProceed(), 4334);
  EXPECT_EQ(state.Speed(), 0);
  EXPECT_EQ(state.ElapsedTime(), 0);
  EXPECT_EQ(state.LastCounter(), 0);
}

TEST_F(ResourceStateSplit, ClearingUnmapsSoTheNextInitSplitsAgain) {
  state.Init(2, 100);
  state.SetSegmentStatus(nullptr, psFailed);
  state.Clear();
  EXPECT_EQ(state.Count(), 0);
  EXPECT_EQ(state.ResourceStatus(), psUnknown);
  EXPECT_EQ(state.BytesProceed(), 0);
  state.Init(4, 400);
  EXPECT_EQ(state.ResourceSize(), 400);
  EXPECT_EQ(Map(state), (std::vector<Segment>{{0, 100}, {100, 100}, {200, 100}, {300, 100}}));
}

TEST_F(ResourceStateTest, EmptyStateReportsNothing) {
  EXPECT_EQ(state.Status(), psUnknown);
  EXPECT_EQ(state.BytesProceed(), 0);
  EXPECT_EQ(state.ResourceSize(), 0);
  EXPECT_EQ(state.Count(), 0);
}

TEST_F(ResourceStateTest, SegmentSettersIgnoreNegativePositionAndLength) {
  auto* segment = state.Add();
  EXPECT_EQ(segment->ResourcePos(), 0);
  EXPECT_EQ(segment->BytesToProceed(), 0);
  EXPECT_EQ(segment->Status(), psUnknown);
  segment->SetResourcePos(10);
  segment->SetBytesToProceed(20);
  segment->SetResourcePos(-1);
  segment->SetBytesToProceed(-5);
  EXPECT_EQ(segment->ResourcePos(), 10);
  EXPECT_EQ(segment->BytesToProceed(), 20);
}

TEST_F(ResourceStateTest, ResetKeepsTheMapAndByteCountsButForgetsStatuses) {
  state.Init(2, 10);
  state.SetBytesProceed(state.Items(0), 3);
  state.SetBytesProceed(state.Items(1), 4);
  state.SetSegmentStatus(state.Items(1), psTerminated);
  state.SetSegmentStatus(nullptr, psSuccess);
  state.Reset();
  EXPECT_EQ(Map(state), (std::vector<Segment>{{0, 5}, {5, 5}}));
  EXPECT_EQ(state.Items(0)->BytesProceed(), 3);
  EXPECT_EQ(state.Items(1)->BytesProceed(), 4);
  EXPECT_EQ(state.Items(1)->Status(), psUnknown);
  EXPECT_EQ(state.ResourceStatus(), psUnknown);
  EXPECT_EQ(state.StartBytesProceed(), 7);
  EXPECT_GT(state.StartCounter(), 0);
}

class ResourceStateStatus : public ResourceStateTest {
 protected:
  void Segments(std::initializer_list<TclProcessStatus> statuses) {
    state.Clear();
    for (TclProcessStatus s : statuses) state.SetSegmentStatus(state.Add(), s);
  }
};

TEST_F(ResourceStateStatus, ActivityOutranksFailureAndSuccess) {
  Segments({psSuccess, psFailed, psProcess});
  EXPECT_EQ(state.Status(), psProcess);
}

TEST_F(ResourceStateStatus, ErrorsOutrankSuccess) {
  Segments({psSuccess, psErrors});
  EXPECT_EQ(state.Status(), psErrors);
}

TEST_F(ResourceStateStatus, TerminationOutranksFailureButNotActivity) {
  Segments({psFailed, psTerminated, psErrors});
  EXPECT_EQ(state.Status(), psTerminated);
  Segments({psTerminated, psProcess});
  EXPECT_EQ(state.Status(), psProcess);
}

TEST_F(ResourceStateStatus, FailureOutranksErrors) {
  Segments({psErrors, psFailed, psUnknown});
  EXPECT_EQ(state.Status(), psFailed);
}

TEST_F(ResourceStateStatus, ResourceStatusWinsOverAllSucceededSegments) {
  Segments({psSuccess, psSuccess});
  EXPECT_EQ(state.Status(), psSuccess);
  state.SetSegmentStatus(nullptr, psFailed);
  EXPECT_EQ(state.Status(), psFailed);
}

TEST_F(ResourceStateStatus, ResourceStatusWinsOverUnknownSegments) {
  Segments({psUnknown, psUnknown});
  EXPECT_EQ(state.Status(), psUnknown);
  state.SetSegmentStatus(nullptr, psTerminated);
  EXPECT_EQ(state.Status(), psTerminated);
}

TEST_F(ResourceStateStatus, SegmentFailureOrActivityOutranksResourceStatus) {
  Segments({psSuccess, psErrors});
  state.SetSegmentStatus(nullptr, psSuccess);
  EXPECT_EQ(state.Status(), psErrors);
  state.SetSegmentStatus(nullptr, psTerminated);
  EXPECT_EQ(state.Status(), psErrors);
  Segments({psProcess});
  state.SetSegmentStatus(nullptr, psFailed);
  EXPECT_EQ(state.Status(), psProcess);
}

TEST_F(ResourceStateStatus, StateWithoutSegmentsReportsResourceStatus) {
  state.SetSegmentStatus(nullptr, psErrors);
  EXPECT_EQ(state.Status(), psErrors);
}

class ResourceStateCopy : public ResourceStateTest {
 protected:
  void SetUp() override {
    source.Init(3, 10000);
    source.SetBytesProceed(source.Items(1), 1234);
    source.SetSegmentStatus(source.Items(1), psProcess);
    source.SetSegmentStatus(source.Items(2), psFailed);
  }
  TclResourceState source;
};

TEST_F(ResourceStateCopy, AssignCopiesSizeAndEverySegmentField) {
  state.Init(1, 5);
  state.SetSegmentStatus(nullptr, psErrors);
  state.Assign(source);
  EXPECT_EQ(state.ResourceSize(), 10000);
  EXPECT_EQ(Map(state), Map(source));
  EXPECT_EQ(state.Items(1)->BytesProceed(), 1234);
  EXPECT_EQ(state.Items(1)->Status(), psProcess);
  EXPECT_EQ(state.Items(2)->Status(), psFailed);
  EXPECT_EQ(state.ResourceStatus(), psUnknown);
  EXPECT_EQ(state.BytesProceed(), 1234);
}

TEST_F(ResourceStateCopy, AssignFromPlainSegmentCollectionHasUnknownSize) {
  rtl::OwnedCollection<TclResourceStateItem> plain;
  auto* segment = plain.Add();
  segment->SetResourcePos(50);
  segment->SetBytesToProceed(60);
  segment->SetBytesProceed(7);
  state.Init(2, 100);
  state.Assign(plain);
  EXPECT_EQ(state.ResourceSize(), 0);
  EXPECT_EQ(Map(state), (std::vector<Segment>{{50, 60}}));
  EXPECT_EQ(state.BytesProceed(), 7);
}

TEST_F(ResourceStateCopy, AssignToItselfKeepsTheSegments) {
  source.Assign(source);
  EXPECT_EQ(Map(source), (std::vector<Segment>{{0, 3333}, {3333, 3333}, {6666, 3334}}));
  EXPECT_EQ(source.Items(1)->BytesProceed(), 1234);
  EXPECT_EQ(source.Items(1)->Status(), psUnknown);
}

class Unrelated : public rtl::Persistent {
 public:
  std::string ClassName() const override { return "TUnrelated"; }
};
class OtherItem : public rtl::CollectionItem {
 public:
  using rtl::CollectionItem::CollectionItem;
  std::string ClassName() const override { return "TOtherItem"; }
};

TEST_F(ResourceStateCopy, AssignFromAnotherClassIsRefusedAndLosesNothing) {
  Unrelated unrelated;
  try {
    source.Assign(unrelated);
    FAIL() << "no refusal";
  } catch (const rtl::EConvertError& e) {
    EXPECT_EQ(e.Message(), "Cannot assign a TUnrelated to a TclResourceState");
  }
  rtl::OwnedCollection<OtherItem> others;
  others.Add();
  try {
    source.Assign(others);
    FAIL() << "no refusal";
  } catch (const rtl::EConvertError& e) {
    EXPECT_EQ(e.Message(), "Cannot assign a TOtherItem to a TclResourceStateItem");
  }
  EXPECT_EQ(source.Count(), 3);
  EXPECT_EQ(source.ResourceSize(), 10000);
  EXPECT_EQ(source.Items(2)->Status(), psFailed);
}

TEST_F(ResourceStateCopy, SegmentCopiesOnlyFromASegment) {
  TclResourceStateItem copy;
  copy.Assign(*source.Items(1));
  EXPECT_EQ(copy.ResourcePos(), 3333);
  EXPECT_EQ(copy.BytesToProceed(), 3333);
  EXPECT_EQ(copy.BytesProceed(), 1234);
  EXPECT_EQ(copy.Status(), psProcess);
  Unrelated unrelated;
  try {
    copy.Assign(unrelated);
    FAIL() << "no refusal";
  } catch (const rtl::EConvertError& e) {
    EXPECT_EQ(e.Message(), "Cannot assign a TUnrelated to a TclResourceStateItem");
  }
}

class ResourceStateSpeed : public ResourceStateTest {
 protected:
  void SetUp() override {
    FakeClock::now = 1'000'000;
    FakeClock::frequency = 1'000'000'000;
    FakeClock::counterWorks = true;
    FakeClock::frequencyWorks = true;
    resource_state::SetCounterSource(&FakeClock::Counter, &FakeClock::Frequency);
  }
  void TearDown() override { resource_state::SetCounterSource(nullptr, nullptr); }
};

TEST_F(ResourceStateSpeed, SpeedCountsOnlyBytesSinceResetOverCounterTime) {
  state.Init(2, 10000);
  state.SetBytesProceed(state.Items(0), 1000);
  FakeClock::now = 5'000'000;
  state.Reset();
  EXPECT_EQ(state.StartCounter(), 5'000'000);
  EXPECT_EQ(state.StartBytesProceed(), 1000);

  FakeClock::now = 5'000'000 + 2'000'000'000;  // two seconds later
  state.SetBytesProceed(state.Items(1), 600);
  state.SetBytesProceed(state.Items(0), 1400);
  EXPECT_DOUBLE_EQ(state.Speed(), 500.0);
  EXPECT_DOUBLE_EQ(state.ElapsedTime(), 2.0);
  EXPECT_EQ(state.LastCounter(), 2'005'000'000);
}

TEST_F(ResourceStateSpeed, NoTimeSinceResetLeavesSpeedAtZero) {
  state.Init(1, 100);
  state.SetBytesProceed(state.Items(0), 50);
  EXPECT_EQ(state.Speed(), 0);
  EXPECT_EQ(state.ElapsedTime(), 0);
  EXPECT_EQ(state.LastCounter(), 1'000'000);
}

TEST_F(ResourceStateSpeed, FailedCounterLeavesSpeedAndLastReadingAlone) {
  state.Init(1, 100);
  FakeClock::now += 1'000'000'000;
  state.SetBytesProceed(state.Items(0), 10);
  EXPECT_DOUBLE_EQ(state.Speed(), 10.0);
  FakeClock::counterWorks = false;
  FakeClock::now += 1'000'000'000;
  state.SetBytesProceed(state.Items(0), 20);
  EXPECT_EQ(state.Speed(), 0);
  EXPECT_EQ(state.ElapsedTime(), 0);
  EXPECT_EQ(state.LastCounter(), 1'001'000'000);
}

TEST_F(ResourceStateSpeed, UnusableFrequencyLeavesSpeedAtZero) {
  FakeClock::frequency = 0;
  state.Init(1, 100);
  FakeClock::now += 1'000'000'000;
  state.SetBytesProceed(state.Items(0), 10);
  EXPECT_EQ(state.Speed(), 0);
  EXPECT_EQ(state.LastCounter(), 0);
}

TEST_F(ResourceStateSpeed, FrequencyIsReadOnceAndKept) {
  FakeClock::frequency = 1000;
  state.Init(1, 100);
  FakeClock::now += 2000;
  state.SetBytesProceed(state.Items(0), 10);
  EXPECT_DOUBLE_EQ(state.ElapsedTime(), 2.0);
  FakeClock::frequency = 500;  // a later change is not seen
  FakeClock::now += 2000;
  state.SetBytesProceed(state.Items(0), 20);
  EXPECT_DOUBLE_EQ(state.ElapsedTime(), 4.0);
  EXPECT_DOUBLE_EQ(state.Speed(), 5.0);
}

TEST_F(ResourceStateTest, PlatformCounterMeasuresElapsedSeconds) {
  state.Init(1, 1000);
  const auto before = std::chrono::steady_clock::now();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  state.SetBytesProceed(state.Items(0), 400);
  const double upper =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - before).count();
  EXPECT_GE(state.ElapsedTime(), 0.020);
  EXPECT_LE(state.ElapsedTime(), upper + 0.001);
  EXPECT_DOUBLE_EQ(state.Speed(), 400 / state.ElapsedTime());
  EXPECT_GT(state.LastCounter(), state.StartCounter());
}

class ResourceStateEvents : public ResourceStateTest {
 protected:
  void SetUp() override {
    state.SetOnChanged([this](TclResourceState* sender) {
      EXPECT_EQ(sender, &state);
      ++events;
      snapshots.push_back(Map(state));
    });
  }
  int events = 0;
  std::vector<std::vector<Segment>> snapshots;
};

TEST_F(ResourceStateEvents, InitAnnouncesEachSegmentOnceWhenItIsComplete) {
  state.Init(3, 10000);
  EXPECT_EQ(events, 3);
  ASSERT_EQ(snapshots.size(), 3u);
  EXPECT_EQ(snapshots[0], (std::vector<Segment>{{0, 3333}}));
  EXPECT_EQ(snapshots[1], (std::vector<Segment>{{0, 3333}, {3333, 3333}}));
  EXPECT_EQ(snapshots[2], (std::vector<Segment>{{0, 3333}, {3333, 3333}, {6666, 3334}}));
}

TEST_F(ResourceStateEvents, EveryChangeFiresOnceAndResetFiresNothing) {
  state.Init(2, 100);
  events = 0;
  state.Init(2, 100);  // resumes: no map change
  state.Reset();
  EXPECT_EQ(events, 0);
  state.SetSegmentStatus(state.Items(0), psProcess);
  EXPECT_EQ(events, 1);
  state.SetSegmentStatus(nullptr, psSuccess);
  EXPECT_EQ(events, 2);
  state.SetBytesProceed(state.Items(1), 10);
  EXPECT_EQ(events, 3);
  state.SetBytesProceed(nullptr, 0);
  EXPECT_EQ(events, 4);
  state.Add();
  EXPECT_EQ(events, 5);
  state.Delete(2);
  EXPECT_EQ(events, 6);
  TclResourceState other;
  other.Init(4, 40);
  state.Assign(other);
  EXPECT_EQ(events, 7);
  EXPECT_EQ(snapshots.back().size(), 4u);
  state.Clear();
  EXPECT_EQ(events, 8);
  EXPECT_TRUE(snapshots.back().empty());
  state.Clear();  // nothing left to clear
  EXPECT_EQ(events, 8);
}

TEST_F(ResourceStateEvents, RemovingTheLastSegmentResetsBeforeTheEvent) {
  state.Init(1, 100);
  state.SetSegmentStatus(nullptr, psFailed);
  TclProcessStatus seen = psFailed;
  state.SetOnChanged([&](TclResourceState* sender) { seen = sender->ResourceStatus(); });
  state.Delete(0);
  EXPECT_EQ(seen, psUnknown);
}

TEST_F(ResourceStateEvents, SplittingASegmentLeavesNoGapOrOverlapAndFiresOnce) {
  struct Case {
    std::int64_t done;  // bytes of segment 1 (3333, 3333) done
    std::int64_t at;
    std::vector<Segment> after;  // empty: refused, map unchanged
  };
  const std::vector<Case> cases = {
      {0, 5000, {{0, 3333}, {3333, 1667}, {5000, 1666}, {6666, 3334}}},
      {1000, 4333, {{0, 3333}, {3333, 1000}, {4333, 2333}, {6666, 3334}}},  // at the done bytes
      {1001, 4333, {}},  // before them
      {0, 3333, {}},     // at the start: a segment of length 0 would read as open-ended
      {0, 6666, {}},     // at the end
      {0, 7000, {}},     // past it
  };
  for (const Case& c : cases) {
    state.Clear();
    state.Init(3, 10000);
    state.Items(1)->SetBytesProceed(c.done);
    events = 0;
    TclResourceStateItem* rest = state.Split(state.Items(1), c.at);
    if (c.after.empty()) {
      EXPECT_EQ(rest, nullptr) << c.at;
      EXPECT_EQ(Map(state), (std::vector<Segment>{{0, 3333}, {3333, 3333}, {6666, 3334}}));
      EXPECT_EQ(events, 0);
      continue;
    }
    ASSERT_EQ(rest, state.Items(2)) << c.at;
    EXPECT_EQ(Map(state), c.after) << c.at;
    EXPECT_EQ(rest->BytesProceed(), 0);
    EXPECT_EQ(rest->Status(), psUnknown);
    EXPECT_EQ(state.Items(1)->BytesProceed(), c.done);
    EXPECT_EQ(events, 1) << "one change for the whole split";
  }
  state.Clear();
  state.Init(2, 0);  // open-ended segments are never split
  EXPECT_EQ(state.Split(state.Items(0), 10), nullptr);
}

}  // namespace

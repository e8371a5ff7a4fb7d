// The console's picture of a segment map: cells filled where segments have
// fetched, segment starts marked, the percentage of the whole.
#include "ui/ConsoleBar.h"

#include <gtest/gtest.h>

#include "download/ResourceState.h"

namespace {

struct Case {
  const char* name;
  int segments;
  std::int64_t size;
  std::vector<std::int64_t> done;  // bytes per segment
  const char* text;
};

TEST(ConsoleBar, ShowsEachSegmentFillingFromItsStart) {
  const Case cases[] = {
      {"fresh map of four", 4, 1000, {0, 0, 0, 0}, "[.....|....|....|....] 0%"},
      {"each a quarter done", 4, 1000, {50, 50, 50, 50}, "[#....#....#....#....] 20%"},
      {"first complete", 4, 1000, {250, 0, 0, 0}, "[#####|....|....|....] 25%"},
      {"all complete", 4, 1000, {250, 250, 250, 250}, "[####################] 100%"},
      {"one segment half done", 1, 1000, {500}, "[##########..........] 50%"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TclResourceState state;
    state.Init(c.segments, c.size);
    ASSERT_EQ(state.Count(), c.segments);
    for (int i = 0; i < c.segments; ++i)
      state.SetBytesProceed(state.Items(i), c.done[static_cast<size_t>(i)]);
    EXPECT_EQ(ui::ConsoleBarText(&state, 20), c.text);
  }
}

TEST(ConsoleBar, WithoutAMapOfKnownSizeShowsEmptyCellsAndNoPercentage) {
  EXPECT_EQ(ui::ConsoleBarText(nullptr, 5), "[.....]");
  EXPECT_EQ(ui::ConsolePercent(nullptr), -1);
  TclResourceState unknown;
  unknown.Init(1, 0);
  EXPECT_EQ(ui::ConsoleBarText(&unknown, 5), "[.....]");
}

}  // namespace

// The bar's pure geometry: scaling, shading and the fills of one bar.
#include "progress/ProgressGeometry.h"

#include <gtest/gtest.h>

namespace {

TEST(ScaleLength, RoundsHalvesToTheEvenNeighbour) {
  struct Case {
    std::int64_t part, total;
    int length, expected;
  } cases[] = {
      {21, 2, 1, 10},
      {23, 2, 1, 12},
      {1, 4, 2, 0},
      {3, 4, 2, 2},
      {75, 100, 14, 10},
      {500, 1000, 279, 140},
      {250, 1000, 279, 70},
      {2, 3, 100, 67},
      {1, 3, 3, 1},
      {0, 1000, 279, 0},
      // Sizes beyond 32 bits scale like any other.
      {std::int64_t{3} << 32, std::int64_t{4} << 32, 100, 75},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ScaleLength(c.part, c.total, c.length), c.expected)
        << c.part << "/" << c.total << "*" << c.length;
  }
}

TEST(ShiftColor, MovesEachByteOnlyWhileItStaysInRange) {
  struct Case {
    TclColor color;
    int delta;
    TclColor expected;
  } cases[] = {
      {0x0000FA, +30, 0x1E1EFA},  // red 250 would pass 255: kept, not clamped
      {0x000014, -30, 0x000014},  // red 20 would pass 0: kept
      {0x008000, +10, 0x0A8A0A},
      {0x008000, -30, 0x006200},
      {0xFF0000, +30, 0xFF1E1E},
      {0x02ABCDEF, +30, 0x02ABCDEF},  // top byte 1..127: unchanged
      {0x7F000000, -10, 0x7F000000},
      {0x80000005, +10, 0x0A0A0F},  // a system colour shifts its low
                                    // bytes and loses the top byte
      {0xFFFFFF, +30, 0xFFFFFF},
  };
  for (const Case& c : cases)
    EXPECT_EQ(ShiftColor(c.color, c.delta), c.expected) << std::hex << c.color;
}

TEST(BarFills, ThinOrFlatBarsAreOneFill) {
  const TclRect bar{5, 5, 50, 7};
  const std::vector<TclColorFill> single{{bar, 0x112233}};
  EXPECT_EQ(BarFills(bar, 0x112233, doHorisontal, ds3D), single);
  EXPECT_EQ(BarFills(TclRect{5, 5, 7, 50}, 0x112233, doVertical, ds3D),
            (std::vector<TclColorFill>{{{5, 5, 7, 50}, 0x112233}}));
  EXPECT_EQ(BarFills(TclRect{0, 0, 40, 30}, 0x112233, doHorisontal, dsFlat),
            (std::vector<TclColorFill>{{{0, 0, 40, 30}, 0x112233}}));
}

TEST(BarFills, ShadedBandsAreFixedRectanglesThatMayReachOutside) {
  // Five rows thick: the bands overlap and the dark ones start above the bar.
  EXPECT_EQ(BarFills(TclRect{10, 20, 30, 25}, 0x404040, doHorisontal, ds3D),
            (std::vector<TclColorFill>{{{10, 20, 30, 22}, 0x5E5E5E},
                                       {{10, 22, 30, 24}, 0x4A4A4A},
                                       {{10, 23, 30, 25}, 0x222222},
                                       {{10, 21, 30, 23}, 0x363636},
                                       {{10, 24, 30, 21}, 0x404040}}));
  // Vertical bands run across the columns.
  EXPECT_EQ(BarFills(TclRect{0, 3, 10, 9}, 0x404040, doVertical, ds3D),
            (std::vector<TclColorFill>{{{0, 3, 2, 9}, 0x5E5E5E},
                                       {{2, 3, 4, 9}, 0x4A4A4A},
                                       {{8, 3, 10, 9}, 0x222222},
                                       {{6, 3, 8, 9}, 0x363636},
                                       {{4, 3, 6, 9}, 0x404040}}));
}

TEST(LayoutProgress, FrameAndBackgroundFollowTheBorderStyle) {
  TclProgressLook look;
  EXPECT_EQ(LayoutProgress(20, 10, look, nullptr),
            (std::vector<TclProgressElement>{{gitFrame, {0, 0, 20, 10}},
                                             {gitBackGround, {1, 1, 19, 9}}}));
  look.borderStyle = bsNone;
  EXPECT_EQ(LayoutProgress(20, 10, look, nullptr),
            (std::vector<TclProgressElement>{{gitBackGround, {0, 0, 20, 10}}}));
}

TEST(LayoutProgress, WithoutFrameTheSplitScalesTheWholeHeight) {
  TclProgressLook look;
  look.borderStyle = bsNone;
  TclResourceState state;
  state.Init(2, 100);
  state.SetBytesProceed(state.Items(0), 50);
  state.SetSegmentStatus(state.Items(1), psFailed);
  // 20 rows: the segments get 15 of them, the total bar the 5 above.
  EXPECT_EQ(LayoutProgress(100, 20, look, &state),
            (std::vector<TclProgressElement>{{gitBackGround, {0, 0, 100, 20}},
                                             {gitProcessTotal, {0, 0, 51, 5}, psFailed},
                                             {gitProcessItem, {0, 5, 51, 20}, psUnknown},
                                             {gitProcessItem, {50, 5, 50, 20}, psFailed}}));
}

}  // namespace

// The bar's picture, read pixel by pixel from the bitmap of a paint.
#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "BarTestKit.h"

namespace {

using namespace bar_test;
constexpr TclColor W = kWhite, F = kFrame, B = kBlue, G = kGreen;

// The updater's bar, 281 × 15 with every property at its default, showing a
// resource of 1000 bytes in two segments: the first not begun, the second
// (from byte 500) a quarter of the resource along. The total bar therefore
// covers columns 1..71, the second segment columns 141..211.
class UpdaterBar : public ::testing::Test {
 protected:
  UpdaterBar() {
    bar.SetWidth(281);
    bar.SetHeight(15);
    state.Init(2, 1000);
    state.SetBytesProceed(state.Items(1), 250);
  }
  const TclBitmap& Painted() {
    bar.ShowResourceState(&state);
    return *bar.Bitmap();
  }
  TclProgressBar bar;
  ImageParent parent{bar};
  TclResourceState state;
};

struct LayoutCase {
  std::string name;
  TclDrawPaintOptions options;
  int split;
  TclDrawStyle style;
  int column;
  std::vector<std::optional<TclColor>> rows;
};
void PrintTo(const LayoutCase& c, std::ostream* os) {
  *os << c.name;
}

class UpdaterBarColumns : public UpdaterBar, public ::testing::WithParamInterface<LayoutCase> {};

TEST_P(UpdaterBarColumns, PaintsEachRowOfTheColumn) {
  const LayoutCase& c = GetParam();
  bar.SetOptions(c.options);
  bar.SetProgressSplit(c.split);
  bar.SetStyle(c.style);
  EXPECT_EQ(Line(Painted(), c.column, true), c.rows);
}

const TclDrawPaintOptions kBoth{dpDrawTotal, dpDrawItems};

INSTANTIATE_TEST_SUITE_P(
    Layouts, UpdaterBarColumns,
    ::testing::Values(
        // The total area is rows 1..3; its overlapping bands leave the frame's
        // row and row 1 at -10, rows 2 and 3 at -30 and the segment area's first row at +10.
        LayoutCase{"TotalBands", kBoth, 25, ds3D, 30,
                   Expect({kGreenDown10, kGreenDown10, kGreenDown30, kGreenDown30, kGreenUp10, W, W,
                           W, W, W, W, W, W, W, F})},
        LayoutCase{"SegmentBands", kBoth, 25, ds3D, 150,
                   Expect({F, W, W, W, kBlueUp30, kBlueUp30, kBlueUp10, kBlueUp10, B, B,
                           kBlueDown10, kBlueDown10, kBlueDown30, kBlueDown30, F})},
        LayoutCase{"NeitherBarReaches", kBoth, 25, ds3D, 100,
                   Expect({F, W, W, W, W, W, W, W, W, W, W, W, W, W, F})},
        LayoutCase{"SplitHundredTotalFillsInside", kBoth, 100, ds3D, 30,
                   Expect({F, kGreenUp30, kGreenUp30, kGreenUp10, kGreenUp10, G, G, G, G, G,
                           kGreenDown10, kGreenDown10, kGreenDown30, kGreenDown30, F})},
        LayoutCase{"SplitHundredNoSegments", kBoth, 100, ds3D, 150,
                   Expect({F, W, W, W, W, W, W, W, W, W, W, W, W, W, F})},
        LayoutCase{"SplitZeroSegmentsCoverTheFrameTop", kBoth, 0, ds3D, 150,
                   Expect({kBlueUp30, kBlueUp30, kBlueUp10, kBlueUp10, B, B, B, B, B, B,
                           kBlueDown10, kBlueDown10, kBlueDown30, kBlueDown30, F})},
        LayoutCase{"SplitZeroNoTotal", kBoth, 0, ds3D, 30,
                   Expect({F, W, W, W, W, W, W, W, W, W, W, W, W, W, F})},
        LayoutCase{"OnlyItemsUseTheInside",
                   {dpDrawItems},
                   25,
                   ds3D,
                   150,
                   Expect({F, kBlueUp30, kBlueUp30, kBlueUp10, kBlueUp10, B, B, B, B, B,
                           kBlueDown10, kBlueDown10, kBlueDown30, kBlueDown30, F})},
        LayoutCase{"OnlyItemsNoTotal",
                   {dpDrawItems},
                   25,
                   ds3D,
                   30,
                   Expect({F, W, W, W, W, W, W, W, W, W, W, W, W, W, F})},
        LayoutCase{"OnlyTotalUsesTheInside",
                   {dpDrawTotal},
                   25,
                   ds3D,
                   30,
                   Expect({F, kGreenUp30, kGreenUp30, kGreenUp10, kGreenUp10, G, G, G, G, G,
                           kGreenDown10, kGreenDown10, kGreenDown30, kGreenDown30, F})},
        LayoutCase{"OnlyTotalNoSegments",
                   {dpDrawTotal},
                   25,
                   ds3D,
                   150,
                   Expect({F, W, W, W, W, W, W, W, W, W, W, W, W, W, F})},
        LayoutCase{"FlatTotal", kBoth, 25, dsFlat, 30,
                   Expect({F, G, G, G, W, W, W, W, W, W, W, W, W, W, F})},
        LayoutCase{"FlatSegment", kBoth, 25, dsFlat, 150,
                   Expect({F, W, W, W, B, B, B, B, B, B, B, B, B, B, F})}),
    [](const auto& info) { return info.param.name; });

TEST_F(UpdaterBar, BarsEndWherePlacedAndTheFrameStaysAtTheSides) {
  const TclBitmap& bitmap = Painted();
  const int segmentRow = 8, totalRow = 1;
  EXPECT_EQ(bitmap.Pixel(71, totalRow), kGreenDown10);  // scaled length 70, one pixel more
  EXPECT_EQ(bitmap.Pixel(72, totalRow), W);
  EXPECT_EQ(bitmap.Pixel(140, segmentRow),
            W);  // the second segment starts at 1 + 139.5 rounded to even
  EXPECT_EQ(bitmap.Pixel(141, segmentRow), B);
  EXPECT_EQ(bitmap.Pixel(211, segmentRow), B);
  EXPECT_EQ(bitmap.Pixel(212, segmentRow), W);
  EXPECT_EQ(Line(bitmap, 0, true), std::vector<std::optional<TclColor>>(15, F));
  EXPECT_EQ(Line(bitmap, 280, true), std::vector<std::optional<TclColor>>(15, F));
}

TEST_F(UpdaterBar, BarsTakeTheColourOfTheirStatus) {
  state.SetSegmentStatus(state.Items(1), psErrors);  // yellow; the total derives psErrors too
  const TclBitmap& bitmap = Painted();
  EXPECT_EQ(bitmap.Pixel(150, 8), 0x00FFFFu);
  EXPECT_EQ(bitmap.Pixel(30, 1), 0x00F5F5u);  // blue 0 cannot go 10 lower and stays
  state.SetSegmentStatus(state.Items(1), psFailed);
  EXPECT_EQ(Painted().Pixel(150, 8), 0x0000FFu);
}

TEST_F(UpdaterBar, HandlerThatTakesOverTheBackgroundLeavesItUndrawn) {
  bar.SetOnCustomDraw([](TclProgressBar*, TclProgressBarItemType type, TclCanvas&, TclRect,
                         TclColor, bool& handled) { handled = type == gitBackGround; });
  const TclBitmap& bitmap = Painted();
  EXPECT_EQ(bitmap.Pixel(100, 7), std::nullopt);
  EXPECT_EQ(bitmap.Pixel(279, 13), std::nullopt);
  EXPECT_EQ(bitmap.Pixel(150, 8), B);  // the bars are still drawn
  EXPECT_EQ(bitmap.Pixel(0, 7), F);
  // The copy leaves the window's own pixels where the bitmap is undrawn.
  EXPECT_EQ(parent.Shown(100, 7), ImageParent::kUnderneath);
  EXPECT_EQ(parent.Shown(150, 8), B);
}

TEST_F(UpdaterBar, HandlerSeesEveryElementInOrderAndMayDrawItself) {
  struct Seen {
    TclProgressBarItemType type;
    TclRect rect;
    TclColor color;
    bool operator==(const Seen&) const = default;
  };
  std::vector<Seen> seen;
  bar.SetOnCustomDraw([&](TclProgressBar*, TclProgressBarItemType type, TclCanvas& canvas,
                          TclRect rect, TclColor color, bool& handled) {
    seen.push_back({type, rect, color});
    if (type != gitProcessItem) return;
    canvas.FillRect(rect, 0x0000FF);
    rect = {0, 0, 281, 15};  // a copy: the bar's own drawing does not move
    handled = true;
  });
  const TclBitmap& bitmap = Painted();
  EXPECT_EQ(seen, (std::vector<Seen>{{gitFrame, {0, 0, 281, 15}, F},
                                     {gitBackGround, {1, 1, 280, 14}, W},
                                     {gitProcessTotal, {1, 1, 72, 4}, G},
                                     {gitProcessItem, {1, 4, 1, 14}, B},
                                     {gitProcessItem, {141, 4, 212, 14}, B}}));
  EXPECT_EQ(bitmap.Pixel(150, 4), 0x0000FFu);  // no bands: the handler's plain fill
  EXPECT_EQ(bitmap.Pixel(150, 13), 0x0000FFu);
  EXPECT_EQ(bitmap.Pixel(100, 8), W);
}

// A 102-pixel bar with a frame: a 100-pixel area from column 1.
class HundredPixelArea : public ::testing::Test {
 protected:
  HundredPixelArea() {
    bar.SetWidth(102);
    bar.SetHeight(15);
  }
  const TclBitmap& Painted(TclResourceState& state) {
    bar.ShowResourceState(&state);
    return *bar.Bitmap();
  }
  TclProgressBar bar;
  ImageParent parent{bar};
};

TEST_F(HundredPixelArea, TotalBarLengthFollowsTheBytesDone) {
  struct Case {
    std::int64_t done;
    int pixels;  // drawn from column 1
  } cases[] = {{0, 0}, {10, 2}, {500, 51}, {999, 100}, {1000, 100}};
  bar.SetOptions({dpDrawTotal});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.done);
    TclResourceState state;
    state.Init(1, 1000);
    state.SetBytesProceed(state.Items(0), c.done);
    std::vector<std::optional<TclColor>> row(102, W);
    row[0] = row[101] = F;
    for (int x = 1; x <= c.pixels; ++x) row[static_cast<size_t>(x)] = G;
    EXPECT_EQ(Line(Painted(state), 7, false), row);
  }
}

TEST_F(HundredPixelArea, SegmentFromHalfTheResourceStartsHalfwayAlong) {
  bar.SetOptions({dpDrawItems});
  TclResourceState state;
  state.Init(2, 1000);
  state.SetBytesProceed(state.Items(1), 100);
  const TclBitmap& bitmap = Painted(state);
  EXPECT_EQ(bitmap.Pixel(1 + 49, 7), W);
  EXPECT_EQ(bitmap.Pixel(1 + 50, 7), B);
  EXPECT_EQ(bitmap.Pixel(1 + 60, 7), B);  // ten pixels long, one more
  EXPECT_EQ(bitmap.Pixel(1 + 61, 7), W);
}

TEST_F(HundredPixelArea, UnknownSizeOrNoMapShowsFrameAndBackgroundOnly) {
  TclResourceState unknown;
  unknown.Init(3, 0);
  for (const TclResourceState* state : {&unknown, static_cast<TclResourceState*>(nullptr)}) {
    bar.ShowResourceState(state);
    std::vector<std::optional<TclColor>> column(15, W);
    column.front() = column.back() = F;
    for (int x = 1; x <= 100; x += 33) EXPECT_EQ(Line(*bar.Bitmap(), x, true), column);
  }
}

// Vertical: 15 wide and 102 high, the same two segments. The total bar takes
// columns 1..3 and grows up from row 100; segments stand in columns 4..13 at
// their place counted up from the bottom.
TEST(VerticalBar, GrowsUpwardWithBandsAcrossTheColumns) {
  TclProgressBar bar;
  ImageParent parent{bar};
  bar.SetWidth(15);
  bar.SetHeight(102);
  bar.SetOrientation(doVertical);
  TclResourceState state;
  state.Init(2, 1000);
  state.SetBytesProceed(state.Items(1), 250);
  bar.ShowResourceState(&state);
  const TclBitmap& bitmap = *bar.Bitmap();
  EXPECT_EQ(Line(bitmap, 80, false), Expect({kGreenDown10, kGreenDown10, kGreenDown30, kGreenDown30,
                                             kGreenUp10, W, W, W, W, W, W, W, W, W, F}));
  EXPECT_EQ(Line(bitmap, 30, false),
            Expect({F, W, W, W, kBlueUp30, kBlueUp30, kBlueUp10, kBlueUp10, B, B, kBlueDown10,
                    kBlueDown10, kBlueDown30, kBlueDown30, F}));
  // Total: 25 rows from row 101, one more. Segment: from row 51 up 25 rows, one more.
  EXPECT_EQ(bitmap.Pixel(1, 74), W);
  EXPECT_EQ(bitmap.Pixel(1, 75), kGreenDown10);
  EXPECT_EQ(bitmap.Pixel(8, 24), W);
  EXPECT_EQ(bitmap.Pixel(8, 25), B);
  EXPECT_EQ(bitmap.Pixel(8, 50), B);
  EXPECT_EQ(bitmap.Pixel(8, 51), W);

  bar.SetStyle(dsFlat);
  EXPECT_EQ(Line(*bar.Bitmap(), 80, false), Expect({F, G, G, G, W, W, W, W, W, W, W, W, W, W, F}));
}

}  // namespace

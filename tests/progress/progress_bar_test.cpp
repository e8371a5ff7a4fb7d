// The bar as a control: defaults, setter rules, when it repaints, what a paint
// copies where, and its stored properties.
#include "progress/clProgressBar.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "BarTestKit.h"
#include "rtl/PropertyStreaming.h"

namespace {

using namespace bar_test;

class ProgressBar : public ::testing::Test {
 protected:
  ProgressBar() {
    bar.SetOnChanged([this](TclProgressBar* sender) {
      EXPECT_EQ(sender, &bar);
      parent.events.push_back("changed");
    });
  }
  TclProgressBar bar;
  ImageParent parent{bar};
};

TEST_F(ProgressBar, NewBarHasItsDefaultsAndStoresOnlyItsPlace) {
  EXPECT_EQ(bar.Width(), 150);
  EXPECT_EQ(bar.Height(), 17);
  EXPECT_EQ(bar.Options(), (TclDrawPaintOptions{dpDrawTotal, dpDrawItems}));
  EXPECT_EQ(bar.Orientation(), doHorisontal);
  EXPECT_EQ(bar.Style(), ds3D);
  EXPECT_EQ(bar.BorderStyle(), bsFrame);
  EXPECT_EQ(bar.ProgressSplit(), 25);
  EXPECT_EQ(bar.Colors()->Scheme(), csScheme1);
  EXPECT_EQ(bar.Align(), alNone);
  EXPECT_TRUE(bar.Visible());
  EXPECT_EQ(bar.ResourceState(), nullptr);
  EXPECT_EQ(rtl::WriteComponent(bar),
            (rtl::Json{{"Left", 0}, {"Top", 0}, {"Width", 150}, {"Height", 17}}));
  EXPECT_EQ(parent.paints, 0);
}

TEST_F(ProgressBar, SettersRepaintAndReportOnlyARealChange) {
  struct Case {
    const char* name;
    std::function<void(TclProgressBar&)> set;
    int paints;
  } cases[] = {
      {"same options",
       [](auto& b) {
         b.SetOptions({dpDrawTotal, dpDrawItems});
       },
       0},
      {"other options", [](auto& b) { b.SetOptions({dpDrawItems}); }, 1},
      {"same orientation", [](auto& b) { b.SetOrientation(doHorisontal); }, 0},
      {"other orientation", [](auto& b) { b.SetOrientation(doVertical); }, 1},
      {"same style", [](auto& b) { b.SetStyle(ds3D); }, 0},
      {"other style", [](auto& b) { b.SetStyle(dsFlat); }, 1},
      {"same border", [](auto& b) { b.SetBorderStyle(bsFrame); }, 0},
      {"other border", [](auto& b) { b.SetBorderStyle(bsNone); }, 1},
      {"same split", [](auto& b) { b.SetProgressSplit(25); }, 0},
      {"split 0", [](auto& b) { b.SetProgressSplit(0); }, 1},
      {"split 100", [](auto& b) { b.SetProgressSplit(100); }, 1},
      {"split -1", [](auto& b) { b.SetProgressSplit(-1); }, 0},
      {"split 101", [](auto& b) { b.SetProgressSplit(101); }, 0},
      {"one colour", [](auto& b) { b.Colors()->SetFrame(0x0000FF); }, 1},
      {"a scheme", [](auto& b) { b.Colors()->SetScheme(csScheme2); }, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TclProgressBar fresh;
    ImageParent window(fresh);
    int changed = 0;
    fresh.SetOnChanged([&](TclProgressBar*) { ++changed; });
    c.set(fresh);
    EXPECT_EQ(window.paints, c.paints);
    EXPECT_EQ(changed, c.paints);
  }
  TclProgressBar fresh;
  fresh.SetProgressSplit(101);
  EXPECT_EQ(fresh.ProgressSplit(), 25);
}

TEST_F(ProgressBar, ChangeReportFollowsTheFinishedPaint) {
  bar.SetStyle(dsFlat);
  EXPECT_EQ(parent.events, (std::vector<std::string>{"paint", "changed"}));
  ASSERT_NE(bar.Bitmap(), nullptr);
  EXPECT_EQ(parent.Shown(0, 0), kFrame);
}

TEST_F(ProgressBar, ColoursAreCopiedInAndRepaintOnce) {
  TclDrawColors other;
  other.SetScheme(csScheme3);
  bar.SetColors(other);
  EXPECT_EQ(parent.paints, 1);
  EXPECT_EQ(bar.Colors()->Scheme(), csScheme3);
  EXPECT_NE(bar.Colors(), &other);
  EXPECT_EQ(bar.Bitmap()->Pixel(0, 0), 0x298514u);
  EXPECT_EQ(bar.Bitmap()->Pixel(5, 5), 0xE55500u);
}

TEST_F(ProgressBar, SystemColoursAreDrawnFromTheFixedTable) {
  bar.Colors()->SetBackGround(0x8000000F);  // button face
  EXPECT_EQ(bar.Bitmap()->Pixel(5, 5), 0xC0C0C0u);
}

TEST_F(ProgressBar, ShownMapRepaintsAndAForgottenOneLeavesFrameAndBackground) {
  bar.SetWidth(102);
  TclResourceState state, other;
  state.Init(1, 100);
  state.SetBytesProceed(state.Items(0), 100);
  bar.ShowResourceState(&state);
  EXPECT_EQ(parent.paints, 1);
  EXPECT_EQ(bar.ResourceState(), &state);
  EXPECT_EQ(parent.Shown(50, 8), kBlue);

  bar.ForgetResourceState(&other);
  EXPECT_EQ(bar.ResourceState(), &state);
  bar.ForgetResourceState(&state);
  EXPECT_EQ(bar.ResourceState(), nullptr);
  EXPECT_EQ(parent.paints, 1);  // forgetting does not repaint

  bar.SetStyle(dsFlat);
  EXPECT_EQ(parent.Shown(50, 8), kWhite);
}

TEST_F(ProgressBar, HiddenOrLoadingBarDoesNotPaint) {
  bar.SetVisible(false);
  bar.SetStyle(dsFlat);
  EXPECT_EQ(bar.Bitmap(), nullptr);
  EXPECT_EQ(parent.Shown(0, 0), ImageParent::kUnderneath);
  bar.Paint(nullptr);  // no window yet
  EXPECT_EQ(bar.Bitmap(), nullptr);

  bar.SetVisible(true);
  bar.BeginLoading();
  bar.Paint(nullptr);
  bar.SetStyle(ds3D);
  EXPECT_EQ(bar.Bitmap(), nullptr);
}

TEST_F(ProgressBar, DrawProgressCopiesTheBitmapAtTheRectangleCorner) {
  TclBitmap window(nullptr, 300, 40);
  window.Canvas().FillRect({0, 0, 300, 40}, ImageParent::kUnderneath);
  bar.DrawProgress(nullptr, window.Canvas(), {10, 20, 291, 35});
  EXPECT_EQ(bar.Bitmap()->Width(), 281);
  EXPECT_EQ(bar.Bitmap()->Height(), 15);
  EXPECT_EQ(window.Pixel(9, 20), ImageParent::kUnderneath);
  EXPECT_EQ(window.Pixel(10, 20), kFrame);
  EXPECT_EQ(window.Pixel(11, 21), kWhite);
  EXPECT_EQ(window.Pixel(290, 34), kFrame);
  EXPECT_EQ(window.Pixel(291, 34), ImageParent::kUnderneath);
  EXPECT_EQ(window.Pixel(290, 35), ImageParent::kUnderneath);
}

TEST_F(ProgressBar, LoadingReplaysTheStoredValuesAndPaintsOnceAtTheEnd) {
  TclProgressBar source;
  source.SetBounds(21, 37, 281, 15);
  source.SetOptions({dpDrawItems});
  source.SetOrientation(doVertical);
  source.SetStyle(dsFlat);
  source.SetBorderStyle(bsNone);
  source.SetProgressSplit(40);
  source.Colors()->SetScheme(csScheme2);
  source.SetAlign(alClient);
  source.SetHint("progress");
  const rtl::Json stored = rtl::WriteComponent(source);

  rtl::ReadComponent(bar, stored);
  EXPECT_EQ(parent.events, (std::vector<std::string>{"paint", "changed"}));
  EXPECT_EQ(rtl::WriteComponent(bar), stored);
  EXPECT_EQ(bar.Left(), 21);
  EXPECT_EQ(bar.Options(), TclDrawPaintOptions{dpDrawItems});
  EXPECT_EQ(bar.Orientation(), doVertical);
  EXPECT_EQ(bar.ProgressSplit(), 40);
  EXPECT_EQ(bar.Colors()->Scheme(), csScheme2);
  EXPECT_EQ(stored["Options"], rtl::Json::array({"dpDrawItems"}));
}

}  // namespace

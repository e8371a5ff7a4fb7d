// The bar bound to a real download control: it follows the control's
// segment-map notifications, shows the item changed last, forgets a deleted
// item, unbinds when the control goes, and leaves the control's list when it
// goes itself. The maps change through the item as the engine changes them.
#include <gtest/gtest.h>

#include <memory>

#include "BarTestKit.h"
#include "download/clMultiDownLoader.h"
#include "progress/ProgressBarNotifier.h"
#include "progress/clProgressBar.h"
#include "rtl/Exceptions.h"
#include "rtl/PropertyStreaming.h"

namespace {

using namespace bar_test;

// The updater's bar: 281 x 15, everything else at its defaults.
class BoundBar : public ::testing::Test {
 protected:
  BoundBar() {
    bar.SetBounds(0, 0, 281, 15);
    bar.SetOnChanged([this](TclProgressBar*) { ++changes; });
  }

  // A map of Segments equal segments over Size bytes, as the item builds it.
  TclDownLoadItem* AddItem(int segments, std::int64_t size) {
    TclDownLoadItem* item = dl.DownLoadList().Add();
    item->ResourceState().Init(segments, size);
    return item;
  }
  TclColor SegmentColor(TclProcessStatus status) const {
    return bar.Colors()->ItemColors()->GetByIndex(status);
  }

  TclMultiDownLoader dl;
  TclProgressBar bar;
  ImageParent parent{bar};
  int changes = 0;
};

TEST(ProgressBarNotifier, NeedsBothAControlAndABar) {
  TclMultiDownLoader dl;
  TclProgressBar bar;
  try {
    TclProgressBarNotifier notifier(&dl, nullptr);
    FAIL() << "a notifier without a bar was made";
  } catch (const rtl::EAssertionFailed& e) {
    EXPECT_STREQ(e.what(), "Assertion failure (clProgressBar, line 751)");
  }
  EXPECT_EQ(dl.NotifierCount(), 0) << "the refused notifier left the control's list";
  try {
    TclProgressBarNotifier notifier(nullptr, &bar);
    FAIL() << "a notifier without a control was made";
  } catch (const rtl::EAssertionFailed& e) {
    EXPECT_STREQ(e.what(), "Assertion failure (clMultiDC, line 1747)");
  }
}

TEST_F(BoundBar, BindingRegistersOneNotifierAndRebindingMovesIt) {
  EXPECT_EQ(bar.Notifier(), nullptr);
  bar.SetInternetControl(&dl);
  ASSERT_NE(bar.Notifier(), nullptr);
  EXPECT_EQ(bar.Notifier()->Control(), &dl);
  EXPECT_EQ(bar.Notifier()->ProgressBar(), &bar);
  EXPECT_EQ(dl.NotifierCount(), 1);
  TclProgressBarNotifier* first = bar.Notifier();
  bar.SetInternetControl(&dl);
  EXPECT_EQ(bar.Notifier(), first) << "binding to the same control again changes nothing";
  EXPECT_EQ(dl.NotifierCount(), 1);

  TclDownLoadItem* item = AddItem(1, 100);
  item->ResourceState().SetBytesProceed(item->ResourceState().Items(0), 10);
  EXPECT_EQ(bar.ResourceState(), &item->ResourceState());

  TclMultiDownLoader other;
  const int paints = parent.paints;
  bar.SetInternetControl(&other);
  EXPECT_EQ(dl.NotifierCount(), 0);
  EXPECT_EQ(other.NotifierCount(), 1);
  EXPECT_EQ(bar.ResourceState(), nullptr) << "the old control's map is forgotten";
  EXPECT_EQ(parent.paints, paints) << "binding does not paint";
  item->ResourceState().SetBytesProceed(item->ResourceState().Items(0), 20);
  EXPECT_EQ(bar.ResourceState(), nullptr) << "the old control no longer reaches the bar";

  bar.SetInternetControl(nullptr);
  EXPECT_EQ(other.NotifierCount(), 0);
  EXPECT_EQ(bar.Notifier(), nullptr);
}

TEST_F(BoundBar, EveryMapChangeRepaintsWithTheSegmentsWhereTheyAre) {
  bar.SetInternetControl(&dl);
  TclDownLoadItem* item = dl.DownLoadList().Add();
  const int before = parent.paints;
  item->ResourceState().Init(2, 1000);
  EXPECT_GT(parent.paints, before) << "splitting the map repaints";
  EXPECT_EQ(changes, parent.paints) << "every repaint is reported";
  ASSERT_EQ(bar.ResourceState(), &item->ResourceState());
  ASSERT_EQ(item->ResourceState().Count(), 2);

  TclResourceState& state = item->ResourceState();
  int paints = parent.paints;
  state.SetBytesProceed(state.Items(0), 250);
  EXPECT_EQ(parent.paints, paints + 1);
  paints = parent.paints;
  state.SetSegmentStatus(state.Items(1), psProcess);
  EXPECT_EQ(parent.paints, paints + 1);
  state.SetBytesProceed(state.Items(1), 100);

  // Inner width 279: segment 0 covers 0..250 of 1000 -> 70 pixels (+1) from
  // column 1; segment 1 starts at 500 -> column 1 + 140 and is 28 (+1) long.
  // Row 8 is the middle of the segment area (rows 4..13), drawn in the
  // segment's own colour.
  EXPECT_EQ(parent.Shown(1, 8), SegmentColor(state.Items(0)->Status()));
  EXPECT_EQ(parent.Shown(71, 8), SegmentColor(state.Items(0)->Status()));
  EXPECT_EQ(parent.Shown(72, 8), kWhite);
  EXPECT_EQ(parent.Shown(140, 8), kWhite);
  EXPECT_EQ(parent.Shown(141, 8), SegmentColor(psProcess));
  EXPECT_EQ(parent.Shown(169, 8), SegmentColor(psProcess));
  EXPECT_EQ(parent.Shown(170, 8), kWhite);
  // The total bar (rows 1..3) has 350 of 1000 bytes: 98 pixels (+1).
  EXPECT_NE(parent.Shown(99, 2), kWhite);
  EXPECT_EQ(parent.Shown(100, 2), kWhite);
  EXPECT_EQ(parent.Shown(0, 0), kFrame);
}

TEST_F(BoundBar, ShowsTheItemChangedLastAndForgetsADeletedOneWithoutRepainting) {
  bar.SetInternetControl(&dl);
  TclDownLoadItem* first = AddItem(1, 1000);
  TclDownLoadItem* second = AddItem(1, 1000);
  EXPECT_EQ(bar.ResourceState(), &second->ResourceState());
  first->ResourceState().SetBytesProceed(first->ResourceState().Items(0), 1000);
  EXPECT_EQ(bar.ResourceState(), &first->ResourceState());
  EXPECT_EQ(bar.Notifier()->Item(), first);
  EXPECT_EQ(parent.Shown(200, 8), SegmentColor(first->ResourceState().Items(0)->Status()));

  // Deleting the item not shown changes nothing.
  const int paints = parent.paints;
  dl.DownLoadList().Delete(second->Index());
  EXPECT_EQ(bar.ResourceState(), &first->ResourceState());
  // Deleting the shown one: forgotten, no repaint; the next paint is empty.
  dl.DownLoadList().Delete(first->Index());
  EXPECT_EQ(bar.ResourceState(), nullptr);
  EXPECT_EQ(bar.Notifier()->Item(), nullptr);
  EXPECT_EQ(parent.paints, paints);
  bar.SetProgressSplit(30);
  EXPECT_EQ(parent.Shown(200, 8), kWhite);
  EXPECT_EQ(parent.Shown(200, 2), kWhite);
}

TEST(ProgressBarBinding, TheControlDestroyedFirstUnbindsTheBar) {
  auto dl = std::make_unique<TclMultiDownLoader>();
  TclProgressBar bar;
  ImageParent parent(bar);
  bar.SetInternetControl(dl.get());
  TclDownLoadItem* item = dl->DownLoadList().Add();
  item->ResourceState().Init(1, 10);
  ASSERT_NE(bar.ResourceState(), nullptr);
  dl.reset();
  EXPECT_EQ(bar.InternetControl(), nullptr);
  EXPECT_EQ(bar.Notifier(), nullptr);
  EXPECT_EQ(bar.ResourceState(), nullptr);
  bar.SetProgressSplit(50);  // paints without touching the gone map
  EXPECT_EQ(parent.Shown(100, 8), kWhite);
}

TEST(ProgressBarBinding, TheBarDestroyedFirstLeavesTheControlsList) {
  TclMultiDownLoader dl;
  auto bar = std::make_unique<TclProgressBar>();
  bar->SetInternetControl(&dl);
  ASSERT_EQ(dl.NotifierCount(), 1);
  bar.reset();
  EXPECT_EQ(dl.NotifierCount(), 0);
  TclDownLoadItem* item = dl.DownLoadList().Add();
  item->ResourceState().Init(2, 100);  // nobody left to tell
  dl.DownLoadList().Delete(0);
}

// A window-like owner holding both, read from a stored description: the
// reference is resolved by name after loading and the bar is bound.
class TwoParts : public rtl::Component {
 public:
  TwoParts() {
    dl = new TclMultiDownLoader(this);
    dl->SetName("dl");
    bar = new TclProgressBar(this);
    bar->SetName("bar");
  }
  void DefineProperties(rtl::Properties& p) override {
    p.Child("bar", bar);
    p.Child("dl", dl);
  }
  TclMultiDownLoader* dl;
  TclProgressBar* bar;
};

TEST(ProgressBarBinding, IsStoredByNameAndRestoredAfterLoading) {
  TwoParts source;
  source.bar->SetInternetControl(source.dl);
  rtl::Json json = rtl::WriteComponent(source);
  EXPECT_EQ(json["bar"]["InternetControl"], "dl");

  TwoParts copy;
  rtl::ReadComponent(copy, json);
  EXPECT_EQ(copy.bar->InternetControl(), copy.dl);
  EXPECT_EQ(copy.dl->NotifierCount(), 1);
  // The owner frees its parts in reverse order of creation: the bar first
  // here, then the control, and neither touches the other afterwards.
}

}  // namespace

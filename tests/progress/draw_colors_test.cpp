#include "progress/DrawColors.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "rtl/Exceptions.h"
#include "rtl/PropertyStreaming.h"

namespace {

using Six = std::array<TclColor, 6>;

// Stands in for the progress bar: counts repaints and what the colours said then.
class RepaintCounter : public TclDrawColorsBar {
 public:
  void Changed() override {
    ++repaints;
    if (colors) schemesSeen.push_back(colors->Scheme());
  }
  int repaints = 0;
  const TclDrawColors* colors = nullptr;
  std::vector<TclColorScheme> schemesSeen;
};

Six ColorsOf(const TclStatusColors& set) {
  Six result{};
  for (int i = 0; i < 6; ++i) result[static_cast<size_t>(i)] = set.GetByIndex(i);
  return result;
}

void FillSet(TclStatusColors& set, const Six& values) {
  for (int i = 0; i < 6; ++i) set.SetByIndex(i, values[static_cast<size_t>(i)]);
}

class DrawColorsTest : public ::testing::Test {
 protected:
  DrawColorsTest() { bar.colors = &colors; }
  RepaintCounter bar;
  TclDrawColors colors{&bar};
};

// The tables as published: background, frame, segment colours, total colours.
struct Expected {
  TclColorScheme scheme;
  TclColor backGround, frame;
  Six items, totals;
};
const Expected kTables[] = {
    {csScheme1,
     0xFFFFFF,
     0xFF0000,
     {0xFF0000, 0xFF0000, 0x0000FF, 0x00FFFF, 0xFF0000, 0xFF0000},
     {0x008000, 0x008000, 0x0000FF, 0x00FFFF, 0x008000, 0x008000}},
    {csScheme2,
     0xF0FBFF,
     0xF0CAA6,
     {0xF0CAA6, 0xF0CAA6, 0xC0C0C0, 0xC0C0C0, 0xF0CAA6, 0xF0CAA6},
     {0xF0CAA6, 0xF0CAA6, 0xC0C0C0, 0xC0C0C0, 0xF0CAA6, 0xF0CAA6}},
    {csScheme3,
     0xE55500,
     0x298514,
     {0x298514, 0x298514, 0x170DD6, 0x0BC5F4, 0x298514, 0x298514},
     {0x296514, 0x296514, 0x170DD6, 0x0BC5F4, 0x296514, 0x296514}},
};

void ExpectTable(const TclDrawColors& colors, const Expected& table) {
  EXPECT_EQ(colors.Scheme(), table.scheme);
  EXPECT_EQ(colors.BackGround(), table.backGround);
  EXPECT_EQ(colors.Frame(), table.frame);
  EXPECT_EQ(ColorsOf(*colors.ItemColors()), table.items);
  EXPECT_EQ(ColorsOf(*colors.TotalColors()), table.totals);
}

class ColorSchemeTables : public DrawColorsTest {};

TEST_F(ColorSchemeTables, NewObjectUsesSchemeOneAndStoresNothing) {
  ExpectTable(colors, kTables[0]);
  EXPECT_EQ(bar.repaints, 0);
  EXPECT_EQ(rtl::WriteProperties(colors), rtl::Json::object());
  EXPECT_EQ(colors.Bar(), &bar);
  EXPECT_EQ(colors.ItemColors()->Owner(), &colors);
  EXPECT_EQ(colors.TotalColors()->Owner(), &colors);
}

TEST_F(ColorSchemeTables, EachPredefinedSchemeSetsEveryTableValue) {
  for (int order : {2, 1, 0, 2}) {
    const Expected& table = kTables[order];
    SCOPED_TRACE(static_cast<int>(table.scheme));
    colors.SetScheme(table.scheme);
    ExpectTable(colors, table);
  }
}

TEST_F(ColorSchemeTables, StatusPropertiesReadTheirIndex) {
  const TclStatusColors& items = *colors.ItemColors();
  const TclStatusColors& totals = *colors.TotalColors();
  EXPECT_EQ(items.StatusUnknown(), 0xFF0000u);
  EXPECT_EQ(items.StatusSuccess(), 0xFF0000u);
  EXPECT_EQ(items.StatusFailed(), 0x0000FFu);
  EXPECT_EQ(items.StatusErrors(), 0x00FFFFu);
  EXPECT_EQ(items.StatusProcess(), 0xFF0000u);
  EXPECT_EQ(items.StatusTerminated(), 0xFF0000u);
  EXPECT_EQ(totals.StatusSuccess(), 0x008000u);
  EXPECT_EQ(totals.StatusFailed(), 0x0000FFu);
  TclStatusColors free;
  free.SetStatusUnknown(1);
  free.SetStatusSuccess(2);
  free.SetStatusFailed(3);
  free.SetStatusErrors(4);
  free.SetStatusProcess(5);
  free.SetStatusTerminated(6);
  EXPECT_EQ(ColorsOf(free), (Six{1, 2, 3, 4, 5, 6}));
}

TEST_F(ColorSchemeTables, IndexOutsideTheStatusesIsRefused) {
  EXPECT_THROW(colors.ItemColors()->GetByIndex(6), rtl::EListError);
  EXPECT_THROW(colors.ItemColors()->GetByIndex(-1), rtl::EListError);
  EXPECT_THROW(colors.TotalColors()->SetByIndex(6, 0x123456), rtl::EListError);
  ExpectTable(colors, kTables[0]);
  EXPECT_EQ(bar.repaints, 0);
}

class CustomScheme : public DrawColorsTest {};

TEST_F(CustomScheme, SameBackGroundChangesNothing) {
  colors.SetBackGround(0xFFFFFF);
  colors.SetFrame(0xFF0000);
  EXPECT_EQ(colors.Scheme(), csScheme1);
  EXPECT_EQ(bar.repaints, 0);
}

TEST_F(CustomScheme, NewBackGroundTurnsCustomKeepingTheOtherColours) {
  colors.SetBackGround(0x00FF00);
  EXPECT_EQ(colors.Scheme(), csSchemeCustom);
  EXPECT_EQ(colors.BackGround(), 0x00FF00u);
  EXPECT_EQ(colors.Frame(), 0xFF0000u);
  EXPECT_EQ(ColorsOf(*colors.ItemColors()), kTables[0].items);
  EXPECT_EQ(bar.repaints, 1);
  EXPECT_EQ(bar.schemesSeen.back(), csSchemeCustom);
  EXPECT_EQ(rtl::WriteProperties(colors)["BackGround"], 0x00FF00);
}

TEST_F(CustomScheme, NewFrameTurnsCustom) {
  colors.SetScheme(csScheme2);
  colors.SetFrame(0x010203);
  EXPECT_EQ(colors.Scheme(), csSchemeCustom);
  EXPECT_EQ(colors.Frame(), 0x010203u);
  EXPECT_EQ(colors.BackGround(), 0xF0FBFFu);
  EXPECT_EQ(bar.repaints, 2);
}

TEST_F(CustomScheme, ChoosingCustomDirectlyIsIgnored) {
  colors.SetScheme(csSchemeCustom);
  colors.SetScheme(static_cast<TclColorScheme>(4));
  colors.SetScheme(csScheme1);
  ExpectTable(colors, kTables[0]);
  EXPECT_EQ(bar.repaints, 0);
}

TEST_F(CustomScheme, PredefinedSchemeReplacesEveryCustomColour) {
  colors.SetBackGround(0x111111);
  colors.SetFrame(0x222222);
  colors.ItemColors()->SetByIndex(psFailed, 0x333333);
  colors.TotalColors()->SetByIndex(psProcess, 0x444444);
  bar.repaints = 0;
  colors.SetScheme(csScheme3);
  ExpectTable(colors, kTables[2]);
  EXPECT_EQ(bar.repaints, 1);
}

TEST_F(CustomScheme, ReturningToSchemeOneFromCustomReappliesIt) {
  colors.ItemColors()->SetByIndex(psSuccess, 0x555555);
  colors.SetScheme(csScheme1);
  ExpectTable(colors, kTables[0]);
}

TEST_F(CustomScheme, SettingAStatusColourToItsValueKeepsTheScheme) {
  colors.ItemColors()->SetByIndex(2, 0x0000FF);
  EXPECT_EQ(colors.Scheme(), csScheme1);
  EXPECT_EQ(bar.repaints, 0);
}

TEST_F(CustomScheme, NewStatusColourTurnsCustomAndRepaints) {
  colors.TotalColors()->SetByIndex(psErrors, 0xABCDEF);
  EXPECT_EQ(colors.Scheme(), csSchemeCustom);
  EXPECT_EQ(colors.TotalColors()->StatusErrors(), 0xABCDEFu);
  EXPECT_EQ(bar.repaints, 1);
  EXPECT_EQ(bar.schemesSeen.back(), csSchemeCustom);
}

TEST_F(CustomScheme, SetterCopiesASetWithOneRepaintBeforeTurningCustom) {
  TclStatusColors given;
  FillSet(given, {1, 2, 3, 4, 5, 6});
  colors.SetItemColors(given);
  EXPECT_EQ(bar.repaints, 1);
  EXPECT_EQ(bar.schemesSeen.back(), csScheme1);
  EXPECT_EQ(colors.Scheme(), csSchemeCustom);
  EXPECT_EQ(ColorsOf(*colors.ItemColors()), (Six{1, 2, 3, 4, 5, 6}));
  EXPECT_NE(colors.ItemColors(), &given);
  EXPECT_EQ(ColorsOf(*colors.TotalColors()), kTables[0].totals);

  colors.SetScheme(csScheme2);
  colors.SetTotalColors(given);
  EXPECT_EQ(bar.repaints, 3);
  EXPECT_EQ(colors.Scheme(), csSchemeCustom);
  EXPECT_EQ(ColorsOf(*colors.TotalColors()), (Six{1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(ColorsOf(*colors.ItemColors()), kTables[1].items);
}

TEST_F(CustomScheme, ObjectWithoutBarChangesSilently) {
  TclDrawColors alone;
  alone.SetBackGround(1);
  alone.ItemColors()->SetByIndex(0, 2);
  alone.SetScheme(csScheme3);
  ExpectTable(alone, kTables[2]);
}

class ColorsCopy : public DrawColorsTest {};

TEST_F(ColorsCopy, AssignTakesColoursAndSchemeWithOneRepaint) {
  TclDrawColors source;
  source.SetScheme(csScheme3);
  source.SetFrame(0x0A0B0C);
  source.ItemColors()->SetByIndex(psErrors, 0x0D0E0F);
  colors.Assign(source);
  EXPECT_EQ(bar.repaints, 1);
  EXPECT_EQ(colors.Scheme(), csSchemeCustom);
  EXPECT_EQ(colors.Frame(), 0x0A0B0Cu);
  EXPECT_EQ(colors.BackGround(), 0xE55500u);
  EXPECT_EQ(ColorsOf(*colors.ItemColors()), ColorsOf(*source.ItemColors()));
  EXPECT_EQ(ColorsOf(*colors.TotalColors()), kTables[2].totals);
  EXPECT_EQ(colors.ItemColors()->Owner(), &colors);
}

TEST_F(ColorsCopy, AssignFromAPredefinedSchemeKeepsThatScheme) {
  TclDrawColors source;
  source.SetScheme(csScheme2);
  colors.SetBackGround(0x999999);
  colors.Assign(source);
  ExpectTable(colors, kTables[1]);
}

TEST_F(ColorsCopy, StatusSetAssignRepaintsOwnerAndKeepsItsScheme) {
  TclStatusColors source;
  FillSet(source, {6, 5, 4, 3, 2, 1});
  colors.TotalColors()->Assign(source);
  EXPECT_EQ(ColorsOf(*colors.TotalColors()), (Six{6, 5, 4, 3, 2, 1}));
  EXPECT_EQ(colors.Scheme(), csScheme1);
  EXPECT_EQ(bar.repaints, 1);
}

TEST_F(ColorsCopy, AssignBetweenTheTwoClassesIsRefused) {
  TclStatusColors set;
  try {
    colors.Assign(set);
    FAIL() << "no refusal";
  } catch (const rtl::EConvertError& e) {
    EXPECT_EQ(e.Message(), "Cannot assign a TclStatusColors to a TclDrawColors");
  }
  try {
    set.Assign(colors);
    FAIL() << "no refusal";
  } catch (const rtl::EConvertError& e) {
    EXPECT_EQ(e.Message(), "Cannot assign a TclDrawColors to a TclStatusColors");
  }
  ExpectTable(colors, kTables[0]);
  EXPECT_EQ(bar.repaints, 0);
}

class ColorsStreaming : public DrawColorsTest {
 protected:
  // Writes Colors and reads the text back into a new object, as a form load does.
  void RoundTrip() {
    written = rtl::WriteProperties(colors);
    rtl::LoadFromText(loaded, written.dump());
  }
  rtl::Json written;
  RepaintCounter loadedBar;
  TclDrawColors loaded{&loadedBar};
};

TEST_F(ColorsStreaming, UnchangedPredefinedSchemeStoresOnlyItsName) {
  colors.SetScheme(csScheme2);
  RoundTrip();
  EXPECT_EQ(written, rtl::Json::parse(R"({"Scheme":"csScheme2"})"));
  ExpectTable(loaded, kTables[1]);
}

TEST_F(ColorsStreaming, CustomObjectWritesEveryNonBlackColourInStreamingOrder) {
  colors.SetScheme(csScheme3);
  colors.SetFrame(0x123456);
  RoundTrip();
  std::vector<std::string> keys;
  for (const auto& [key, value] : written.items()) keys.push_back(key);
  EXPECT_EQ(keys, (std::vector<std::string>{"BackGround", "Frame", "Scheme", "ItemColors", "TotalColors"}));
  EXPECT_EQ(written["Scheme"], "csSchemeCustom");
  EXPECT_EQ(written["BackGround"], 0xE55500);
  EXPECT_EQ(written["ItemColors"]["StatusFailed"], 0x170DD6);
  EXPECT_EQ(written["TotalColors"].size(), 6u);

  EXPECT_EQ(loaded.Scheme(), csSchemeCustom);
  EXPECT_EQ(loaded.BackGround(), 0xE55500u);
  EXPECT_EQ(loaded.Frame(), 0x123456u);
  EXPECT_EQ(ColorsOf(*loaded.ItemColors()), kTables[2].items);
  EXPECT_EQ(ColorsOf(*loaded.TotalColors()), kTables[2].totals);
}

TEST_F(ColorsStreaming, BlackColoursOfACustomObjectAreNotStoredAndComeBackAsSchemeOne) {
  colors.SetScheme(csScheme3);
  colors.SetFrame(0x000000);
  colors.ItemColors()->SetByIndex(psFailed, 0x000000);
  RoundTrip();
  EXPECT_FALSE(written.contains("Frame"));
  EXPECT_EQ(written["ItemColors"].size(), 6u) << "a stored set is written whole";
  EXPECT_EQ(written["ItemColors"]["StatusFailed"], 0);

  EXPECT_EQ(loaded.Scheme(), csSchemeCustom);
  EXPECT_EQ(loaded.Frame(), 0xFF0000u) << "scheme 1's frame stays";
  Six items = kTables[2].items;
  items[psFailed] = 0x000000;  // written inside the set, so it does come back
  EXPECT_EQ(ColorsOf(*loaded.ItemColors()), items);
}

TEST_F(ColorsStreaming, CustomBlackOnlyChangeIsLostEntirely) {
  colors.SetBackGround(0x000000);
  RoundTrip();
  EXPECT_FALSE(written.contains("BackGround"));
  EXPECT_EQ(written["Scheme"], "csSchemeCustom");
  // Every stored colour equals scheme 1's, the stored scheme is refused: the
  // object comes back as an untouched scheme 1.
  ExpectTable(loaded, kTables[0]);
  EXPECT_EQ(loadedBar.repaints, 0);
}

TEST_F(ColorsStreaming, AllBlackSetUnderCustomIsNotStored) {
  colors.SetFrame(0x010101);
  FillSet(*colors.TotalColors(), {0, 0, 0, 0, 0, 0});
  written = rtl::WriteProperties(colors);
  EXPECT_FALSE(written.contains("TotalColors"));
  EXPECT_TRUE(written.contains("ItemColors"));
  colors.TotalColors()->SetByIndex(psTerminated, 0x000001);
  written = rtl::WriteProperties(colors);
  ASSERT_TRUE(written.contains("TotalColors"));
  EXPECT_EQ(written["TotalColors"]["StatusTerminated"], 1);
  EXPECT_EQ(written["TotalColors"]["StatusUnknown"], 0);
}

TEST_F(ColorsStreaming, SystemColoursKeepTheirTopBit) {
  colors.SetBackGround(0x8000000F);
  colors.ItemColors()->SetByIndex(psProcess, 0xFF000001);
  RoundTrip();
  EXPECT_EQ(loaded.BackGround(), 0x8000000Fu);
  EXPECT_EQ(loaded.ItemColors()->StatusProcess(), 0xFF000001u);
}

TEST_F(ColorsStreaming, StoredSchemeIsAppliedBeforeTheColoursThatFollowIt) {
  rtl::LoadFromText(loaded, R"({"Scheme":"csScheme2","TotalColors":{"StatusFailed":255}})");
  EXPECT_EQ(loaded.Scheme(), csSchemeCustom);
  EXPECT_EQ(loaded.BackGround(), 0xF0FBFFu);
  Six totals = kTables[1].totals;
  totals[psFailed] = 255;
  EXPECT_EQ(ColorsOf(*loaded.TotalColors()), totals);
}

TEST_F(ColorsStreaming, UnknownSchemeNameIsAReadError) {
  EXPECT_THROW(rtl::LoadFromText(loaded, R"({"Scheme":"csScheme9"})"), rtl::EReadError);
  EXPECT_THROW(rtl::LoadFromText(loaded, R"({"Frame":"red"})"), rtl::EReadError);
}

}  // namespace

#include <gtest/gtest.h>

#include "rtl/Collection.h"
#include "rtl/Exceptions.h"
#include "rtl/PropertyStreaming.h"
#include "rtl/StringList.h"

namespace {

enum TclMode { mdFirst, mdSecond, mdThird };

class TInner : public rtl::Persistent {
 public:
  std::string ClassName() const override { return "TInner"; }
  int width = 1;
  void DefineProperties(rtl::Properties& p) override {
    p.Value<int>("Width", [this] { return width; }, [this](int v) { width = v; }).Default(1);
  }
};

class TRow : public rtl::CollectionItem {
 public:
  explicit TRow(rtl::Collection* c) : CollectionItem(c) {}
  std::string text;
  void DefineProperties(rtl::Properties& p) override {
    p.Value<std::string>("Text", [this] { return text; }, [this](std::string v) { text = std::move(v); });
  }
};

class TSample : public rtl::Component {
 public:
  TSample() : Component(nullptr) {}
  std::string ClassName() const override { return "TSample"; }

  int count = 5;
  std::string url;
  TclMode mode = mdFirst;
  bool flag = false;
  TInner inner;
  rtl::StringList lines;
  rtl::OwnedCollection<TRow> rows;
  std::vector<std::string> setterLog;
  int sideEffects = 0;

  void SetCount(int v) {
    setterLog.push_back("Count");
    if (v <= 0 || v == count) return;
    count = v;
    if (!Loading()) ++sideEffects;
  }

  void DefineProperties(rtl::Properties& p) override {
    p.Value<int>("Count", [this] { return count; }, [this](int v) { SetCount(v); }).Default(5);
    p.Value<std::string>("URL", [this] { return url; }, [this](std::string v) {
      setterLog.push_back("URL");
      url = std::move(v);
    }).StoredWhen([this] { return !url.empty(); });
    p.Enum<TclMode>("Mode", [this] { return mode; }, [this](TclMode v) {
      setterLog.push_back("Mode");
      mode = v;
    }, {"mdFirst", "mdSecond", "mdThird"}).Default("mdFirst");
    p.Value<bool>("Flag", [this] { return flag; }, [this](bool v) { flag = v; }).Default(false);
    p.Object("Inner", &inner);
    p.Strings("Lines", &lines);
    p.Items("Rows", &rows);
  }
};

TEST(PropertyStreaming, DefaultsAndStoredRulesKeepANewObjectEmpty) {
  TSample s;
  EXPECT_EQ(rtl::WriteProperties(s).dump(), "{}");
}

TEST(PropertyStreaming, ChangedValuesAreWrittenInDeclarationOrder) {
  TSample s;
  s.flag = true;
  s.mode = mdThird;
  s.count = 7;
  s.url = "http://x/";
  s.inner.width = 4;
  s.lines.Add("one");
  s.rows.Add()->text = "r1";
  EXPECT_EQ(rtl::WriteProperties(s).dump(),
            R"({"Count":7,"URL":"http://x/","Mode":"mdThird","Flag":true,"Inner":{"Width":4},)"
            R"("Lines":["one"],"Rows":[{"Text":"r1"}]})");
}

TEST(PropertyStreaming, ReadingReplaysTheStoredOrderThroughSettersWhileLoading) {
  TSample s;
  rtl::LoadFromText(s, R"({"Mode":"mdSecond","URL":"ftp://h/","Count":9,"Rows":[{"Text":"a"},{"Text":"b"}]})");
  EXPECT_EQ(s.setterLog, (std::vector<std::string>{"Mode", "URL", "Count"}));
  EXPECT_EQ(s.mode, mdSecond);
  EXPECT_EQ(s.count, 9);
  EXPECT_EQ(s.sideEffects, 0) << "setters skip side effects while loading";
  ASSERT_EQ(s.rows.Count(), 2);
  EXPECT_EQ(s.rows.Items(1)->text, "b");
  EXPECT_FALSE(s.Loading());
}

TEST(PropertyStreaming, SetterRulesApplyToStoredValues) {
  TSample s;
  rtl::LoadFromText(s, R"({"Count":-3})");
  EXPECT_EQ(s.count, 5);
}

TEST(PropertyStreaming, RoundTripGivesAnEqualObject) {
  TSample a;
  a.count = 2;
  a.url = "https://h/p?q=1";
  a.mode = mdSecond;
  a.inner.width = 3;
  a.lines.SetText("x\r\ny\r\n");
  a.rows.Add()->text = "only";
  TSample b;
  rtl::LoadFromText(b, rtl::SaveToText(a));
  EXPECT_EQ(rtl::WriteProperties(b), rtl::WriteProperties(a));
  EXPECT_EQ(b.lines.Text(), "x\r\ny\r\n");
}

TEST(PropertyStreaming, BadInputGivesClearErrorsAndKeepsTheObjectUsable) {
  TSample s;
  try {
    rtl::LoadFromText(s, R"({"Colour":1})");
    FAIL();
  } catch (const rtl::EReadError& e) {
    EXPECT_EQ(e.Message(), "Property Colour does not exist");
  }
  EXPECT_FALSE(s.Loading());
  EXPECT_THROW(rtl::LoadFromText(s, R"({"Count":"many"})"), rtl::EReadError);
  EXPECT_THROW(rtl::LoadFromText(s, R"({"Mode":"mdFourth"})"), rtl::EReadError);
  EXPECT_THROW(rtl::LoadFromText(s, "{not json"), rtl::EReadError);
  EXPECT_THROW(rtl::LoadFromText(s, "[1,2]"), rtl::EReadError);
}

}  // namespace

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

namespace {

// A form-like owner with two children, one of which refers to the other.
class TPart : public rtl::Component {
 public:
  using rtl::Component::Component;
  rtl::Component* peer = nullptr;
  int size = 0;
  std::vector<std::string> log;  // what the setters and Loaded saw
  void DefineProperties(rtl::Properties& p) override {
    p.Reference("Peer", [this] { return peer; }, [this](rtl::Component* c) {
      log.push_back(std::string("Peer loading=") + (Loading() ? "1" : "0"));
      peer = c;
    });
    p.Value<int>("Size", [this] { return size; }, [this](int v) {
      log.push_back(std::string("Size loading=") + (Loading() ? "1" : "0"));
      size = v;
    }).Default(0);
  }
  void Loaded() override { log.push_back(std::string("Loaded peer=") + (peer ? peer->Name() : "none")); }
};

class TForm : public rtl::Component {
 public:
  TForm() : rtl::Component(nullptr) {
    first = new TPart(this);
    first->SetName("first");
    second = new TPart(this);
    second->SetName("second");
  }
  TPart* first;
  TPart* second;
  void DefineProperties(rtl::Properties& p) override {
    p.Child("first", first);
    p.Child("second", second);
  }
};

TEST(ComponentStreaming, NameTagChildrenAndForwardReferencesRoundTrip) {
  TForm source;
  source.SetName("frm");
  source.SetTag(7);
  source.first->peer = source.second;  // a reference to a child read later
  source.second->size = 3;
  rtl::Json json = rtl::WriteComponent(source);
  EXPECT_EQ(json.dump(),
            R"({"Name":"frm","Tag":7,"first":{"Name":"first","Peer":"second"},"second":{"Name":"second","Size":3}})");

  TForm copy;
  rtl::ReadComponent(copy, json);
  EXPECT_EQ(copy.Name(), "frm");
  EXPECT_EQ(copy.Tag(), 7);
  EXPECT_EQ(copy.first->peer, copy.second);
  EXPECT_EQ(copy.second->size, 3);
  // Setters run while loading, the reference is set once everything is read,
  // and Loaded comes last with the reference in place.
  EXPECT_EQ(copy.first->log, (std::vector<std::string>{"Peer loading=1", "Loaded peer=second"}));
  EXPECT_EQ(copy.second->log, (std::vector<std::string>{"Size loading=1", "Loaded peer=none"}));
  EXPECT_FALSE(copy.first->Loading());
}

TEST(ComponentStreaming, AnUnknownReferenceStaysUnsetAndAFailedLoadLeavesNoComponentLoading) {
  TForm form;
  rtl::ReadComponent(form, rtl::Json::parse(R"({"first":{"Peer":"nobody"}})"));
  EXPECT_EQ(form.first->peer, nullptr);

  EXPECT_THROW(rtl::ReadComponent(form, rtl::Json::parse(R"({"first":{"Size":1},"bogus":1})")), rtl::EReadError);
  EXPECT_FALSE(form.Loading());
  EXPECT_FALSE(form.first->Loading());
}

}  // namespace

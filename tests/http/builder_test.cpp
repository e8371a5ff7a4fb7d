#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "http/clHttpRequest.h"
#include "http/clStreams.h"
#include "rtl/PropertyStreaming.h"
#include "support/TempDir.h"

namespace {

using testing_support::TempDir;

std::string Body(TclHttpRequestBuilder& builder) {
  auto stream = builder.GetBodyStream();
  stream->SetPosition(0);
  return stream->ReadRemaining();
}

TclFormFieldRequestItem* Field(TclHttpRequestBuilder& builder, const std::string& name,
                               const std::string& value) {
  auto* item = builder.AddItem<TclFormFieldRequestItem>();
  item->SetFieldName(name);
  item->SetFieldValue(value);
  return item;
}

class BuilderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    builder.OnChanged = [this](TclHttpRequestBuilder*) { ++changes; };
  }
  TclHttpRequestBuilder builder;
  int changes = 0;
  TempDir dir;
};

TEST_F(BuilderTest, WithoutItemsTheBodyIsEmpty) {
  EXPECT_EQ(builder.RequestType(), rtUnknown);
  EXPECT_TRUE(builder.Boundary().empty());
  builder.Prepare();
  EXPECT_EQ(builder.Header().ContentLength(), 0);
  EXPECT_EQ(builder.GetBodySize(), 0);
  EXPECT_EQ(Body(builder), "");
  EXPECT_EQ(builder.GetBodyText().Count(), 0);
}

TEST_F(BuilderTest, FormFieldsAreUrlEncodedAndJoined) {
  Field(builder, "a b", "x&y");
  Field(builder, "q", "/p?1");
  EXPECT_EQ(builder.RequestType(), rtFormData);
  EXPECT_EQ(builder.Header().ContentType(), "application/x-www-form-urlencoded");
  builder.Prepare();
  EXPECT_EQ(Body(builder), "a+b=x%26y&q=/p?1");
  EXPECT_EQ(builder.Header().ContentLength(), 16);
  EXPECT_EQ(builder.GetBodyText().Items(), std::vector<std::string>{"a+b=x%26y&q=/p?1"});
}

TEST_F(BuilderTest, FieldEncodingCoversReservedHighAndControlBytes) {
  EXPECT_EQ(UrlEncodeField("+&*%<>\"#{}|\\^~[]'="),
            "%2B%26%2A%25%3C%3E%22%23%7B%7D%7C%5C%5E%7E%5B%5D%27%3D");
  EXPECT_EQ(UrlEncodeField("/?:;,@$!() "), "/?:;,@$!()+");
  EXPECT_EQ(UrlEncodeField("\xC4\x01\t"), "%C4\x01\t");
  auto* item = Field(builder, "n", "\xC4");
  builder.Prepare();
  EXPECT_EQ(Body(builder), "n=%C4");
  item->SetUrlEncode(false);
  builder.Prepare();
  EXPECT_EQ(Body(builder), "n=\xC4");
}

TEST_F(BuilderTest, FileItemSwitchesToMultipartAndBack) {
  Field(builder, "f", "v");
  auto* file = builder.AddItem<TclSubmitFileRequestItem>();
  EXPECT_EQ(builder.RequestType(), rtMultiPartData);
  EXPECT_EQ(builder.Header().ContentType(), "multipart/form-data;boundary=");
  testing_support::WriteFile(dir.File("a.txt"), "file");
  file->SetFileName(dir.File("a.txt"));
  builder.Prepare();
  ASSERT_EQ(builder.Boundary().size(), 41u);
  EXPECT_EQ(builder.Boundary().substr(0, 29), std::string(29, '-'));
  EXPECT_EQ(builder.Header().ContentType(),
            "multipart/form-data;boundary=" + builder.Boundary().substr(2));
  delete file;  // the item leaves the list
  EXPECT_EQ(builder.ItemCount(), 1);
  EXPECT_EQ(builder.RequestType(), rtFormData);
  EXPECT_EQ(builder.Header().ContentType(), "application/x-www-form-urlencoded");
}

TEST_F(BuilderTest, TextAmongFormFieldsGivesUnknownAndTheTextAlone) {
  Field(builder, "a", "1");
  auto* text = builder.AddItem<TclTextRequestItem>();
  text->SetText("line one\r\nline two\rthree\nfour");
  Field(builder, "b", "2");
  EXPECT_EQ(builder.RequestType(), rtUnknown);
  EXPECT_EQ(builder.Header().ContentType(), "");
  builder.Prepare();
  EXPECT_EQ(Body(builder), "line one\r\nline two\rthree\nfour");
  EXPECT_EQ(builder.GetBodySize(), 29);
  EXPECT_EQ(builder.GetBodyText().Items(),
            (std::vector<std::string>{"line one", "line two", "three", "four"}));
}

TEST_F(BuilderTest, BodyTextEndsAtTheFirstZeroByte) {
  auto* xml = builder.AddItem<TclXmlRequestItem>();
  xml->SetText(std::string("<a/>\r\n<b/>\0tail", 15));
  builder.Prepare();
  EXPECT_EQ(builder.GetBodyText().Items(), (std::vector<std::string>{"<a/>", "<b/>"}));
  const rtl::StringList* cached = &builder.GetBodyText();
  EXPECT_EQ(cached, &builder.GetBodyText());
  xml->SetText("changed");
  EXPECT_EQ(builder.GetBodyText().Items(), std::vector<std::string>{"changed"});
}

TEST_F(BuilderTest, OneMultipartFieldMakesTheKnownBody) {
  Field(builder, "f", "v");
  builder.AddItem<TclSubmitFileRequestItem>();
  delete builder.Items(1);
  builder.SetRequestType(rtMultiPartData);
  builder.Prepare();
  const std::string& b = builder.Boundary();
  std::string fieldText = "Content-Disposition: form-data; name=\"f\"\r\n\r\nv";
  EXPECT_EQ(fieldText.size(), 45u);
  EXPECT_EQ(Body(builder), b + "\r\n" + fieldText + "\r\n" + b + "--\r\n");
  EXPECT_EQ(builder.Header().ContentLength(), 135);
  EXPECT_EQ(builder.GetBodySize(), 135);
}

TEST_F(BuilderTest, BodySizeEqualsStreamBytesForEveryKind) {
  testing_support::WriteFile(dir.File("data.bin"), testing_support::RandomBytes(5000, 3));
  builder.OnGetDataStream = [](TclHttpRequestBuilder*, TclHttpRequestItem*,
                               std::unique_ptr<rtl::Stream>& s) {
    s = std::make_unique<rtl::MemoryStream>(std::string(321, 'b'));
  };
  Field(builder, "x", "1");
  builder.AddItem<TclBinaryRequestItem>();
  builder.AddItem<TclTextRequestItem>()->SetText("text");
  builder.AddItem<TclSubmitFileRequestItem>()->SetFileName(dir.File("data.bin"));
  for (TclRequestType type : {rtMultiPartData, rtUnknown, rtFormData}) {
    builder.SetRequestType(type);
    builder.Prepare();
    EXPECT_EQ(static_cast<std::int64_t>(Body(builder).size()), builder.GetBodySize())
        << static_cast<int>(type);
    EXPECT_EQ(builder.Header().ContentLength(), builder.GetBodySize()) << static_cast<int>(type);
  }
  builder.ClearItems();
  builder.SetRequestType(rtMultiPartData);
  builder.Prepare();
  EXPECT_EQ(Body(builder), "\r\n" + builder.Boundary() + "--\r\n");
  EXPECT_EQ(builder.GetBodySize(), 47);
}

TEST_F(BuilderTest, FileItemOutsideMultipartIsEmpty) {
  auto* file = builder.AddItem<TclSubmitFileRequestItem>();
  file->SetFileName(dir.File("missing"));
  builder.SetRequestType(rtUnknown);
  EXPECT_EQ(file->GetDataSize(), 0);
  TclSubmitFileRequestItem detached;
  EXPECT_EQ(detached.GetDataSize(), 0);
}

TEST_F(BuilderTest, MissingFileFailsPrepareAndLeavesTheBuilderAsItWas) {
  auto* file = builder.AddItem<TclSubmitFileRequestItem>();
  file->SetFileName(dir.File("missing.bin"));
  try {
    builder.Prepare();
    FAIL() << "no exception";
  } catch (const rtl::EFOpenError& e) {
    EXPECT_NE(e.Message().find("Cannot open file \"" + dir.File("missing.bin") + "\""),
              std::string::npos);
  }
  EXPECT_TRUE(builder.Boundary().empty()) << "a failed Prepare does not count as prepared";
  EXPECT_THROW(builder.GetBodyStream(), EclRequestBuilderError);
  testing_support::WriteFile(dir.File("missing.bin"), "now here");
  builder.Prepare();
  std::string body = Body(builder);
  EXPECT_NE(body.find("now here"), std::string::npos);
  std::remove(dir.File("missing.bin").c_str());
  EXPECT_THROW(builder.GetBodyStream(), rtl::EFOpenError);
}

TEST_F(BuilderTest, BinaryItemsAskTheHandlerEachTime) {
  int calls = 0;
  builder.OnGetDataStream = [&](TclHttpRequestBuilder* sender, TclHttpRequestItem* item,
                                std::unique_ptr<rtl::Stream>& stream) {
    EXPECT_EQ(sender, &builder);
    EXPECT_EQ(item, builder.Items(0));
    ++calls;
    auto s = std::make_unique<rtl::MemoryStream>("binary!");
    s->SetPosition(7);  // the item rewinds it
    stream = std::move(s);
  };
  builder.AddItem<TclBinaryRequestItem>();
  builder.Prepare();
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(Body(builder), "binary!");
  EXPECT_EQ(calls, 2);
  builder.OnGetDataStream = nullptr;
  builder.Prepare();
  EXPECT_EQ(Body(builder), "");
}

TEST_F(BuilderTest, RequestsBeforePrepareFailWithTheSameMessage) {
  Field(builder, "a", "b");
  for (auto call : std::vector<std::function<void()>>{
           [&] { builder.GetBodySize(); }, [&] { builder.GetBodyStream(); },
           [&] { builder.GetBodyText(); }, [&] { builder.Header().GetHeaderLines(); }}) {
    try {
      call();
      ADD_FAILURE() << "no exception";
    } catch (const EclRequestBuilderError& e) {
      EXPECT_EQ(e.Message(), "RequestBuilder is not initialized, call Prepare before");
    }
  }
  builder.Prepare();
  builder.Clear();
  EXPECT_EQ(builder.ItemCount(), 0);
  EXPECT_THROW(builder.GetBodyText(), EclRequestBuilderError);
}

TEST_F(BuilderTest, BoundaryIsMadeFromTheLocalTime) {
  rtl::SystemTime t;
  t.wYear = 2024;
  t.wMonth = 3;
  t.wDay = 12;
  t.wHour = 14;
  t.wMinute = 5;
  t.wSecond = 9;
  t.wMilliseconds = 500;
  EXPECT_EQ(TclHttpRequestBuilder::MakeBoundary(t), std::string(29, '-') + "030C0E05091F");
  t.wMilliseconds = 5;
  EXPECT_EQ(TclHttpRequestBuilder::MakeBoundary(t), std::string(29, '-') + "030C0E050905");
  t.wMilliseconds = 256;
  std::string a = TclHttpRequestBuilder::MakeBoundary(t);
  t.wMilliseconds = 271;
  EXPECT_EQ(TclHttpRequestBuilder::MakeBoundary(t), a);
}

TEST_F(BuilderTest, NotificationsFollowOutermostBrackets) {
  builder.BeginUpdate();
  Field(builder, "a", "1");
  builder.AddItem<TclTextRequestItem>()->SetText("t");
  EXPECT_EQ(changes, 0);
  builder.EndUpdate();
  EXPECT_EQ(changes, 1);
  builder.EndUpdate();  // unbalanced: nothing
  EXPECT_EQ(changes, 1);
  builder.Prepare();
  EXPECT_EQ(changes, 2);
  static_cast<TclTextRequestItem*>(builder.Items(1))->SetText("t");  // equal value
  EXPECT_EQ(changes, 2);
  builder.SetRequestType(rtUnknown);  // equal value
  EXPECT_EQ(changes, 2);
  builder.Clear();
  EXPECT_EQ(changes, 3);
}

TEST_F(BuilderTest, ItemAssignCopiesOnlyMatchingKinds) {
  auto* text = builder.AddItem<TclTextRequestItem>();
  auto* xml = builder.AddItem<TclXmlRequestItem>();
  auto* field = builder.AddItem<TclFormFieldRequestItem>();
  xml->SetText("<x/>");
  text->Assign(*xml);
  EXPECT_EQ(text->Text(), "<x/>");
  field->SetFieldName("n");
  text->Assign(*field);  // another kind of item: nothing copied, no error
  EXPECT_EQ(text->Text(), "<x/>");
  rtl::StringList notAnItem;
  EXPECT_THROW(text->Assign(notAnItem), rtl::EConvertError);
  TclFormFieldRequestItem other;
  other.SetUrlEncode(false);
  other.SetFieldName("k");
  other.SetFieldValue("v");
  field->Assign(other);
  EXPECT_FALSE(field->UrlEncode());
  EXPECT_EQ(field->FieldName(), "k");
  EXPECT_EQ(field->FieldValue(), "v");
}

TEST_F(BuilderTest, BuilderAssignCopiesItemsHeaderAndTypeButNotTheBoundary) {
  TclHttpRequestBuilder source;
  Field(source, "a", "1");
  testing_support::WriteFile(dir.File("a.zip"), "zip");
  source.AddItem<TclSubmitFileRequestItem>()->SetFileName(dir.File("a.zip"));
  source.Header().SetUserAgent("copy me");
  source.Prepare();
  builder.Prepare();
  builder.Assign(source);
  EXPECT_TRUE(builder.Boundary().empty());
  ASSERT_EQ(builder.ItemCount(), 2);
  EXPECT_EQ(builder.Items(0)->ClassName(), "TclFormFieldRequestItem");
  EXPECT_EQ(static_cast<TclSubmitFileRequestItem*>(builder.Items(1))->FileName(),
            dir.File("a.zip"));
  EXPECT_EQ(builder.Header().UserAgent(), "copy me");
  EXPECT_EQ(builder.RequestType(), rtMultiPartData);
  EXPECT_NE(builder.Items(0), source.Items(0));
  rtl::StringList notABuilder;
  EXPECT_THROW(builder.Assign(notABuilder), rtl::EConvertError);
  EXPECT_EQ(builder.ItemCount(), 2) << "nothing changes on refusal";
}

TEST_F(BuilderTest, ItemsMoveBetweenBuilders) {
  TclHttpRequestBuilder other;
  auto* field = Field(builder, "a", "1");
  builder.AddItem<TclSubmitFileRequestItem>();
  auto* file = builder.Items(1);
  file->SetBuilder(&other);
  EXPECT_EQ(builder.ItemCount(), 1);
  EXPECT_EQ(builder.RequestType(), rtFormData);
  EXPECT_EQ(other.ItemCount(), 1);
  EXPECT_EQ(other.RequestType(), rtMultiPartData);
  field->SetBuilder(nullptr);
  std::unique_ptr<TclHttpRequestItem> detached(field);
  EXPECT_EQ(builder.ItemCount(), 0);
  EXPECT_EQ(builder.RequestType(), rtUnknown);
}

class BuilderPersistenceTest : public BuilderTest {};

TEST_F(BuilderPersistenceTest, EveryItemClassAndACustomHeaderRoundTrip) {
  builder.SetName("req");
  auto* f = Field(builder, "field", "va lue");
  f->SetUrlEncode(false);
  builder.AddItem<TclBinaryRequestItem>();
  builder.AddItem<TclTextRequestItem>()->SetText("plain\r\ntext");
  builder.AddItem<TclXmlRequestItem>()->SetText("<x a=\"1\"/>");
  auto* file = builder.AddItem<TclSubmitFileRequestItem>();
  file->SetFileName("/x/a.zip");
  file->SetFieldName("upload");
  file->SetContentType("application/zip");
  TclHttpRequestHeader& h = builder.Header();
  h.SetAccept("*/*");
  h.SetUserAgent("agent");
  h.SetReferer("http://127.0.0.1/");
  h.SetProxyUser("pu");
  h.SetProxyPassword("pp");
  h.SetAuthenticationType(atDigest);
  h.ExtraFields().Add("X-A: 1");
  h.SetContentVersion("1.1");
  h.SetContentLength(99);
  h.SetContentType("custom/type");  // stands as stored, not re-derived
  std::string text = rtl::SaveToText(builder);

  TclHttpRequestBuilder copy;
  rtl::LoadFromText(copy, text);
  EXPECT_EQ(rtl::SaveToText(copy), text);
  ASSERT_EQ(copy.ItemCount(), 5);
  const char* classes[] = {"TclFormFieldRequestItem", "TclBinaryRequestItem", "TclTextRequestItem",
                           "TclXmlRequestItem", "TclSubmitFileRequestItem"};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(copy.Items(i)->ClassName(), classes[i]);
  auto* cf = static_cast<TclFormFieldRequestItem*>(copy.Items(0));
  EXPECT_EQ(cf->FieldName(), "field");
  EXPECT_EQ(cf->FieldValue(), "va lue");
  EXPECT_FALSE(cf->UrlEncode());
  EXPECT_EQ(static_cast<TclTextRequestItem*>(copy.Items(2))->Text(), "plain\r\ntext");
  EXPECT_EQ(static_cast<TclXmlRequestItem*>(copy.Items(3))->Text(), "<x a=\"1\"/>");
  auto* cfile = static_cast<TclSubmitFileRequestItem*>(copy.Items(4));
  EXPECT_EQ(cfile->FileName(), "/x/a.zip");
  EXPECT_EQ(cfile->FieldName(), "upload");
  EXPECT_EQ(cfile->ContentType(), "application/zip");
  EXPECT_EQ(copy.RequestType(), rtMultiPartData);
  EXPECT_EQ(copy.Header().ContentType(), "custom/type");
  EXPECT_EQ(copy.Header().ContentLength(), 99);
  EXPECT_EQ(copy.Header().ProxyUser(), "pu");
  EXPECT_EQ(copy.Header().AuthenticationType(), atDigest);
  EXPECT_EQ(copy.Header().ExtraFields().Items(), std::vector<std::string>{"X-A: 1"});
}

TEST_F(BuilderPersistenceTest, LoadingOverExistingItemsKeepsTheStoredRequestType) {
  TclHttpRequestBuilder source;
  source.AddItem<TclSubmitFileRequestItem>()->SetFileName("/x/a.zip");
  source.Header().SetContentType("stored/type");
  rtl::Json json = rtl::WriteComponent(source);
  Field(builder, "old", "1");
  Field(builder, "older", "2");
  rtl::ReadComponent(builder, json);
  ASSERT_EQ(builder.ItemCount(), 1);
  EXPECT_EQ(builder.Items(0)->ClassName(), "TclSubmitFileRequestItem");
  EXPECT_EQ(builder.RequestType(), rtMultiPartData);
  EXPECT_EQ(builder.Header().ContentType(), "stored/type");
}

TEST_F(BuilderPersistenceTest, StoredFormNamesTheClassThenTheData) {
  Field(builder, "n", "v");
  rtl::Json json = rtl::WriteComponent(builder);
  EXPECT_EQ(json["Items"].dump(), R"([["TclFormFieldRequestItem","n","v",true]])");
  EXPECT_EQ(json["RequestType"], "rtFormData");
  builder.ClearItems();
  EXPECT_FALSE(rtl::WriteComponent(builder).contains("Items"));
  EXPECT_FALSE(rtl::WriteComponent(builder).contains("RequestType"));
}

TEST_F(BuilderPersistenceTest, UnregisteredClassIsRejectedAndNothingIsLost) {
  Field(builder, "keep", "me");
  rtl::Json bad = rtl::WriteComponent(builder);
  bad["Items"] = rtl::Json::parse(R"([["TclTextRequestItem","t"],["TclNoSuchItem","x"]])");
  try {
    rtl::ReadComponent(builder, bad);
    FAIL() << "no exception";
  } catch (const rtl::EReadError& e) {
    EXPECT_EQ(e.Message(), "Class TclNoSuchItem not found");
  }
  ASSERT_EQ(builder.ItemCount(), 1);
  EXPECT_EQ(static_cast<TclFormFieldRequestItem*>(builder.Items(0))->FieldName(), "keep");

  for (const char* items : {R"([["TclFormFieldRequestItem","n"]])", R"([["TclTextRequestItem",5]])",
                            R"([["TclTextRequestItem","a","extra"]])", R"([[]])", R"("nope")"}) {
    bad["Items"] = rtl::Json::parse(items);
    EXPECT_THROW(rtl::ReadComponent(builder, bad), rtl::EReadError) << items;
    EXPECT_EQ(builder.ItemCount(), 1) << items;
  }
}

TEST_F(BuilderPersistenceTest, RegisteredCustomClassIsRecreated) {
  struct TclCustomItem : TclTextRequestItem {
    static const TclHttpRequestItemClass& Info() {
      static const TclHttpRequestItemClass info{"TclCustomItem", &CreateFor<TclCustomItem>};
      return info;
    }
    const TclHttpRequestItemClass& ItemClass() const override { return Info(); }
  };
  RegisterRequestItemClass(TclCustomItem::Info());
  ASSERT_NE(FindRequestItemClass("TclCustomItem"), nullptr);
  builder.AddItem(TclCustomItem::Info())->Assign(TclTextRequestItem());
  rtl::Json json = rtl::WriteComponent(builder);
  TclHttpRequestBuilder copy;
  rtl::ReadComponent(copy, json);
  ASSERT_EQ(copy.ItemCount(), 1);
  EXPECT_EQ(copy.Items(0)->ClassName(), "TclCustomItem");
}

}  // namespace

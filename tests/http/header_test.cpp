#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "http/clHttpRequest.h"
#include "rtl/PropertyStreaming.h"

namespace {

std::vector<std::string> Lines(TclHttpRequestHeader& header) {
  return header.GetHeaderLines().Items();
}

class HeaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    builder.OnChanged = [this](TclHttpRequestBuilder* sender) {
      EXPECT_EQ(sender, &builder);
      ++changes;
    };
    builder.Prepare();
    changes = 0;
  }
  TclHttpRequestBuilder builder;
  TclHttpRequestHeader& header = builder.Header();
  int changes = 0;
};

TEST_F(HeaderTest, FreshHeaderGivesThreeLines) {
  EXPECT_EQ(Lines(header),
            (std::vector<std::string>{"Accept: text/html, */*", "Accept-Language: en-us",
                                      "Connection: Keep-Alive"}));
}

TEST_F(HeaderTest, LinesComeInTheFixedOrder) {
  header.SetUserAgent("agent/1");
  header.SetContentVersion("v2");
  header.SetReferer("http://127.0.0.1/from");
  header.SetContentType("text/plain");
  header.SetContentLanguage("de");
  header.SetContentEncoding("gzip");
  header.SetAcceptEncoding("gzip, deflate");
  header.SetAcceptCharSet("utf-8");
  header.SetContentLength(1234);
  header.SetProxyUser("u");
  header.SetProxyPassword("p");
  header.ExtraFields().Add("X-One: 1");
  header.ExtraFields().Add("X-Two: 2");
  EXPECT_EQ(Lines(header), (std::vector<std::string>{
                               "Accept: text/html, */*",
                               "Accept-Charset: utf-8",
                               "Accept-Encoding: gzip, deflate",
                               "Accept-Language: en-us",
                               "Referer: http://127.0.0.1/from",
                               "User-Agent: agent/1",
                               "Connection: Keep-Alive",
                               "Content-Version: v2",
                               "Content-Encoding: gzip",
                               "Content-Language: de",
                               "Content-Type: text/plain",
                               "Content-Length: 1234",
                               "Proxy-Authorization: Basic dTpw",
                               "X-One: 1",
                               "X-Two: 2",
                           }));
}

TEST_F(HeaderTest, ValuesAreWrittenUntrimmed) {
  header.SetAccept("  spaced  ");
  EXPECT_EQ(Lines(header)[0], "Accept:   spaced  ");
}

TEST_F(HeaderTest, ContentLengthLineOnlyAboveZero) {
  header.SetContentLength(0);
  EXPECT_EQ(Lines(header).size(), 3u);
  header.SetContentLength(-5);
  EXPECT_EQ(Lines(header).size(), 3u);
  header.SetContentLength(5000000000LL);
  EXPECT_EQ(Lines(header).back(), "Content-Length: 5000000000");
}

TEST_F(HeaderTest, ProxyCredentialsFollowTheirRules) {
  header.SetProxyPassword("secret");
  EXPECT_EQ(Lines(header).back(), "Proxy-Authorization: Basic c2VjcmV0")
      << "password alone, no colon";
  header.SetProxyPassword("");
  header.SetProxyUser("alice");
  EXPECT_EQ(Lines(header).back(), "Proxy-Authorization: Basic YWxpY2U6") << "user and colon";
  header.SetProxyPassword(std::string(200, 'x'));
  std::string line = Lines(header).back();
  EXPECT_EQ(line.find('\r'), std::string::npos) << "one line however long";
  header.SetAuthenticationType(atDigest);
  EXPECT_EQ(Lines(header).size(), 3u);
}

TEST_F(HeaderTest, ExtraFieldRepeatingAStandardFieldIsAppended) {
  header.ExtraFields().Add("Accept: text/xml");
  auto lines = Lines(header);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines.front(), "Accept: text/html, */*");
  EXPECT_EQ(lines.back(), "Accept: text/xml");
}

TEST_F(HeaderTest, CacheIsTheSameListUntilAChange) {
  const rtl::StringList* first = &header.GetHeaderLines();
  const rtl::StringList* second = &header.GetHeaderLines();
  EXPECT_EQ(first, second);
  EXPECT_EQ(first->Items(), second->Items());
  header.SetAccept("text/html, */*");  // equal value
  EXPECT_EQ(changes, 0);
  EXPECT_EQ(first->Count(), 3) << "the cached lines were kept";
  header.SetAccept("a/b");
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(first->Count(), 0) << "a change drops the cached lines";
  EXPECT_EQ(&header.GetHeaderLines(), first);
  EXPECT_EQ(header.GetHeaderLines()[0], "Accept: a/b");
}

TEST_F(HeaderTest, EqualValuesNotifyNobody) {
  header.SetAcceptLanguage("en-us");
  header.SetConnection("Keep-Alive");
  header.SetContentLength(0);
  header.SetAuthenticationType(atBasic);
  header.SetProxyUser("");
  EXPECT_EQ(changes, 0);
  header.SetAcceptLanguage("EN-US");  // case matters
  EXPECT_EQ(changes, 1);
}

TEST_F(HeaderTest, EveryEditOfExtraFieldsIsAChange) {
  header.GetHeaderLines();
  header.ExtraFields().Add("A: 1");
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(Lines(header).back(), "A: 1");
  header.ExtraFields().SetStrings(0, "B: 2");
  EXPECT_EQ(changes, 2);
  EXPECT_EQ(Lines(header).back(), "B: 2");
  header.ExtraFields().Delete(0);
  EXPECT_EQ(changes, 3);
  EXPECT_EQ(Lines(header).size(), 3u);
  rtl::StringList replacement{"C: 3", "D: 4"};
  header.SetExtraFields(replacement);
  EXPECT_EQ(changes, 4);
  EXPECT_EQ(Lines(header).back(), "D: 4");
}

TEST_F(HeaderTest, ClearRestoresInitialValuesInOneNotification) {
  header.SetAccept("x");
  header.SetUserAgent("y");
  header.ExtraFields().Add("Z: 1");
  header.SetAuthenticationType(atDigest);
  changes = 0;
  header.Clear();
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(header.Accept(), "text/html, */*");
  EXPECT_EQ(header.UserAgent(), "");
  EXPECT_EQ(header.ExtraFields().Count(), 0);
  EXPECT_EQ(header.AuthenticationType(), atBasic);
  EXPECT_EQ(Lines(header).size(), 3u);
}

TEST_F(HeaderTest, AssignCopiesAllButProxyCredentials) {
  TclHttpRequestHeader source;
  source.SetAccept("a");
  source.SetAcceptCharSet("b");
  source.SetAcceptEncoding("c");
  source.SetAcceptLanguage("d");
  source.SetConnection("close");
  source.SetContentEncoding("e");
  source.SetContentLanguage("f");
  source.SetContentLength(7);
  source.SetContentType("g");
  source.SetContentVersion("h");
  source.ExtraFields().Add("I: i");
  source.SetReferer("j");
  source.SetUserAgent("k");
  source.SetProxyUser("their-user");
  source.SetProxyPassword("their-password");
  source.SetAuthenticationType(atDigest);
  header.SetProxyUser("mine");
  header.SetProxyPassword("my-password");
  changes = 0;
  header.Assign(source);
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(header.Accept(), "a");
  EXPECT_EQ(header.AcceptCharSet(), "b");
  EXPECT_EQ(header.AcceptEncoding(), "c");
  EXPECT_EQ(header.AcceptLanguage(), "d");
  EXPECT_EQ(header.Connection(), "close");
  EXPECT_EQ(header.ContentEncoding(), "e");
  EXPECT_EQ(header.ContentLanguage(), "f");
  EXPECT_EQ(header.ContentLength(), 7);
  EXPECT_EQ(header.ContentType(), "g");
  EXPECT_EQ(header.ContentVersion(), "h");
  EXPECT_EQ(header.ExtraFields().Items(), std::vector<std::string>{"I: i"});
  EXPECT_EQ(header.Referer(), "j");
  EXPECT_EQ(header.UserAgent(), "k");
  EXPECT_EQ(header.AuthenticationType(), atDigest);
  EXPECT_EQ(header.ProxyUser(), "mine");
  EXPECT_EQ(header.ProxyPassword(), "my-password");
}

TEST_F(HeaderTest, AssignFromAnotherClassIsRefusedButStillDropsTheCache) {
  header.SetUserAgent("kept");
  const rtl::StringList* lines = &header.GetHeaderLines();
  EXPECT_EQ(lines->Count(), 4);
  changes = 0;
  rtl::StringList notAHeader{"x"};
  try {
    header.Assign(notAHeader);
    FAIL() << "no exception";
  } catch (const rtl::EConvertError& e) {
    EXPECT_EQ(e.Message(), "Cannot assign a TStringList to a TclHttpRequestHeader");
  }
  EXPECT_EQ(lines->Count(), 0) << "the cache was emptied";
  EXPECT_EQ(changes, 1) << "the owner was notified";
  EXPECT_EQ(header.UserAgent(), "kept");
}

TEST(HeaderWithoutPreparedBuilder, LinesAreRefused) {
  TclHttpRequestBuilder builder;
  builder.Header().SetUserAgent("u");
  try {
    builder.Header().GetHeaderLines();
    FAIL() << "no exception";
  } catch (const EclRequestBuilderError& e) {
    EXPECT_EQ(e.Message(), "RequestBuilder is not initialized, call Prepare before");
  }
  EXPECT_EQ(builder.Header().UserAgent(), "u");
  builder.Prepare();
  EXPECT_EQ(builder.Header().GetHeaderLines().Count(), 4);
  builder.Clear();
  EXPECT_THROW(builder.Header().GetHeaderLines(), EclRequestBuilderError);
}

TEST(StandaloneHeader, NeedsNoPreparation) {
  TclHttpRequestHeader header;
  EXPECT_EQ(header.GetHeaderLines().Count(), 3);
}

TEST(HeaderPersistence, AuthenticationTypeIsWrittenOnlyWhenNotBasic) {
  TclHttpRequestHeader header;
  rtl::Json json = rtl::WriteProperties(header);
  EXPECT_FALSE(json.contains("AuthenticationType"));
  EXPECT_TRUE(json.contains("ExtraFields"));
  EXPECT_EQ(json["Accept"], "text/html, */*");
  EXPECT_EQ(json["ProxyUser"], "");
  header.SetAuthenticationType(atDigest);
  header.ExtraFields().Add("K: v");
  json = rtl::WriteProperties(header);
  EXPECT_EQ(json["AuthenticationType"], "atDigest");
  TclHttpRequestHeader copy;
  rtl::ReadProperties(copy, json);
  EXPECT_EQ(copy.AuthenticationType(), atDigest);
  EXPECT_EQ(copy.ExtraFields().Items(), std::vector<std::string>{"K: v"});
}

}  // namespace

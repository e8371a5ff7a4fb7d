// The pure parts of the library: response and request header handling, byte
// ranges, proxy lists, the error table and the message table.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/inet/HttpHeaders.h"
#include "platform/inet/InetErrors.h"
#include "platform/inet/RootObject.h"

namespace {

using namespace inet;

TEST(HeaderBlock, KeepsStatusFieldsAndRawForms) {
  HeaderBlock block;
  block.AddLine("HTTP/1.1 206 Partial Content\r\n");
  block.AddLine("Content-Length: 10\r\n");
  block.AddLine("set-cookie: a=1\r\n");
  block.AddLine("Set-Cookie: b=2\r\n");
  block.AddLine(" continued\r\n");
  EXPECT_EQ(block.Status(), 206);
  EXPECT_EQ(block.Version(), "HTTP/1.1");
  EXPECT_EQ(block.StatusText(), "Partial Content");
  EXPECT_EQ(block.Find("content-length").value_or(""), "10");
  EXPECT_EQ(block.Find("Set-Cookie", 1).value_or(""), "b=2 continued");
  EXPECT_FALSE(block.Find("Set-Cookie", 2));
  EXPECT_EQ(block.RawCrlf(),
            "HTTP/1.1 206 Partial Content\r\nContent-Length: 10\r\nset-cookie: a=1\r\n"
            "Set-Cookie: b=2 continued\r\n\r\n");
  std::string nul = block.RawNul();
  EXPECT_EQ(nul.back(), '\0');
  EXPECT_EQ(std::string(nul.c_str()), "HTTP/1.1 206 Partial Content");
}

TEST(RequestHeaders, AddIfNewRefusesDuplicatesAndReplaceRemoves) {
  RequestHeaders headers;
  DWORD error = 0;
  ASSERT_TRUE(headers.Apply("Range: bytes=0-9\r\nAccept-Encoding: gzip, deflate",
                            HTTP_ADDREQ_FLAG_ADD_IF_NEW, error));
  EXPECT_EQ(headers.Find("range").value_or(""), "bytes=0-9");
  EXPECT_FALSE(headers.Apply("range: bytes=5-", HTTP_ADDREQ_FLAG_ADD_IF_NEW, error));
  EXPECT_EQ(error, ERROR_HTTP_HEADER_ALREADY_EXISTS);
  EXPECT_EQ(headers.Find("Range").value_or(""), "bytes=0-9");
  ASSERT_TRUE(headers.Apply("Range: bytes=5-", HTTP_ADDREQ_FLAG_REPLACE, error));
  EXPECT_EQ(headers.Find("Range").value_or(""), "bytes=5-");
  ASSERT_TRUE(headers.Apply("Range:", HTTP_ADDREQ_FLAG_REPLACE, error));
  EXPECT_FALSE(headers.Find("Range"));
  ASSERT_TRUE(headers.Apply("Accept-Encoding: br", HTTP_ADDREQ_FLAG_COALESCE_WITH_COMMA, error));
  EXPECT_EQ(headers.Find("Accept-Encoding").value_or(""), "gzip, deflate, br");
  EXPECT_FALSE(headers.Apply("no colon here", HTTP_ADDREQ_FLAG_ADD, error));
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(ByteRanges, ParsesRequestStartAndContentRange) {
  EXPECT_EQ(RangeStart("bytes=40000-60000").value_or(0), 40000u);
  EXPECT_EQ(RangeStart("bytes=7-").value_or(0), 7u);
  EXPECT_FALSE(RangeStart("bytes=-500"));
  EXPECT_FALSE(RangeStart("items=1-2"));
  auto range = ParseContentRange("bytes 100-199/1000");
  ASSERT_TRUE(range);
  EXPECT_EQ(range->first, 100u);
  EXPECT_EQ(range->last, 199u);
  EXPECT_EQ(range->total.value_or(0), 1000u);
  auto unknownTotal = ParseContentRange("bytes 0-9/*");
  ASSERT_TRUE(unknownTotal);
  EXPECT_FALSE(unknownTotal->total);
  EXPECT_FALSE(ParseContentRange("bytes 10-5/100"));
  EXPECT_FALSE(ParseContentRange("bytes 0-99/50"));
  EXPECT_FALSE(ParseContentRange("bytes */1000"));
  EXPECT_TRUE(HasToken("none, Bytes", "bytes"));
  EXPECT_FALSE(HasToken("none", "bytes"));
}

TEST(ProxyLists, ChoosesPerSchemeEntryAndMatchesBypassPatterns) {
  auto entries = ParseProxyList("http=proxy1:3128 https=https://proxy2 ;fallback:8000");
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0].scheme, "http");
  EXPECT_EQ(entries[0].hostPort, "proxy1:3128");
  EXPECT_EQ(entries[1].hostPort, "proxy2:80");
  EXPECT_EQ(entries[2].scheme, "");
  auto bypass = ParseBypassList("*.internal; <local>, 10.0.0.*");
  EXPECT_TRUE(BypassMatches(bypass, "build.INTERNAL"));
  EXPECT_TRUE(BypassMatches(bypass, "intranet"));
  EXPECT_TRUE(BypassMatches(bypass, "10.0.0.7"));
  EXPECT_FALSE(BypassMatches(bypass, "example.org"));
  EXPECT_FALSE(BypassMatches(bypass, "10.0.1.7"));
}

TEST(ErrorTable, MapsLibcurlResultsToInternetErrors) {
  TransferFacts none;
  EXPECT_EQ(MapCurlError(CURLE_OPERATION_TIMEDOUT, none), ERROR_INTERNET_TIMEOUT);
  EXPECT_EQ(MapCurlError(CURLE_COULDNT_RESOLVE_HOST, none), ERROR_INTERNET_NAME_NOT_RESOLVED);
  EXPECT_EQ(MapCurlError(CURLE_COULDNT_CONNECT, none), ERROR_INTERNET_CANNOT_CONNECT);
  EXPECT_EQ(MapCurlError(CURLE_PARTIAL_FILE, none), ERROR_INTERNET_CONNECTION_ABORTED);
  EXPECT_EQ(MapCurlError(CURLE_RECV_ERROR, none), ERROR_INTERNET_CONNECTION_ABORTED);
  EXPECT_EQ(MapCurlError(CURLE_GOT_NOTHING, none), ERROR_HTTP_INVALID_SERVER_RESPONSE);
  EXPECT_EQ(MapCurlError(CURLE_PEER_FAILED_VERIFICATION, none), ERROR_INTERNET_SEC_CERT_CN_INVALID);

  TransferFacts date;
  date.certDateProblem = true;
  EXPECT_EQ(MapCurlError(CURLE_PEER_FAILED_VERIFICATION, date),
            ERROR_INTERNET_SEC_CERT_DATE_INVALID);
  TransferFacts authority;
  authority.certAuthorityProblem = true;
  authority.certDateProblem = true;
  EXPECT_EQ(MapCurlError(CURLE_PEER_FAILED_VERIFICATION, authority), ERROR_INTERNET_INVALID_CA);
  TransferFacts clientCert;
  clientCert.clientCertRequested = true;
  EXPECT_EQ(MapCurlError(CURLE_SSL_CONNECT_ERROR, clientCert),
            ERROR_INTERNET_CLIENT_AUTH_CERT_NEEDED);
  EXPECT_EQ(MapCurlError(CURLE_RECV_ERROR, clientCert), ERROR_INTERNET_CLIENT_AUTH_CERT_NEEDED);
  TransferFacts cancelled;
  cancelled.cancelled = true;
  EXPECT_EQ(MapCurlError(CURLE_WRITE_ERROR, cancelled), ERROR_INTERNET_OPERATION_CANCELLED);
  TransferFacts ftp;
  ftp.ftpReplySeen = true;
  EXPECT_EQ(MapCurlError(CURLE_REMOTE_FILE_NOT_FOUND, ftp), ERROR_INTERNET_EXTENDED_ERROR);
  EXPECT_EQ(MapCurlError(CURLE_LOGIN_DENIED, ftp), ERROR_INTERNET_EXTENDED_ERROR);
  EXPECT_EQ(MapCurlError(CURLE_LOGIN_DENIED, none), ERROR_INTERNET_LOGIN_FAILURE);
}

TEST(MessageTable, HasSentencesForInternetErrorsOnly) {
  const char* cancelled = InetClientMessageText(ERROR_INTERNET_OPERATION_CANCELLED);
  ASSERT_NE(cancelled, nullptr);
  EXPECT_STREQ(cancelled, "The operation has been canceled.\r\n");
  for (DWORD code : {12002u, 12007u, 12029u, 12030u, 12037u, 12038u, 12044u, 12045u, 12150u,
                     12152u}) {
    const char* text = InetClientMessageText(code);
    ASSERT_NE(text, nullptr) << code;
    size_t length = std::strlen(text);
    EXPECT_EQ(std::string(text + length - 3), ".\r\n") << code;
  }
  EXPECT_EQ(InetClientMessageText(2), nullptr);
  EXPECT_EQ(InetClientMessageText(12999), nullptr);
}

}  // namespace

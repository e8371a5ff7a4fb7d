// HTTP through the library as the workers use it: HEAD, information GET, ranged
// GET read in blocks, against a fault-injecting server and a real nginx.
#include <gtest/gtest.h>

#include <cstring>

#include "InetTestHelpers.h"
#include "support/FaultServer.h"
#include "support/NginxServer.h"
#include "support/TempDir.h"

namespace {

using namespace inet_testing;
using testing_support::FaultRoute;
using testing_support::FaultServer;

class HttpFaults : public ::testing::Test {
 protected:
  HttpSession Open(const char* verb, const std::string& path, DWORD flags = 0) {
    return OpenHttp("127.0.0.1", static_cast<INTERNET_PORT>(server.Port()), verb, path, flags);
  }
  void AddRange(HINTERNET request, const std::string& range) {
    std::string line = "Range: " + range;
    ASSERT_TRUE(HttpAddRequestHeadersA(request, line.c_str(), static_cast<DWORD>(line.size()),
                                       HTTP_ADDREQ_FLAG_ADD_IF_NEW));
  }

  FaultServer server;
  std::string body = testing_support::RandomBytes(300000, 7);
};

TEST_F(HttpFaults, HeadGivesStatusLengthDateAndTypeWithoutBody) {
  FaultRoute route;
  route.body = body;
  route.contentType = "application/zip";
  server.Route("/f.zip", route);
  HttpSession s = Open("HEAD", "/f.zip");
  ASSERT_TRUE(HttpSendRequestA(s.request.get(), nullptr, 0, nullptr, 0)) << LastError();
  EXPECT_EQ(StatusCode(s.request.get()), 200u);

  DWORD length = 0;
  DWORD size = sizeof(length);
  ASSERT_TRUE(HttpQueryInfoA(s.request.get(), HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER,
                             &length, &size, nullptr));
  EXPECT_EQ(length, body.size());
  std::uint64_t length64 = 0;
  size = sizeof(length64);
  ASSERT_TRUE(HttpQueryInfoA(s.request.get(),
                             HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER64, &length64,
                             &size, nullptr));
  EXPECT_EQ(length64, body.size());

  SYSTEMTIME time{};
  size = sizeof(time);
  ASSERT_TRUE(HttpQueryInfoA(s.request.get(), HTTP_QUERY_LAST_MODIFIED | HTTP_QUERY_FLAG_SYSTEMTIME,
                             &time, &size, nullptr));
  EXPECT_EQ(size, 16u);
  EXPECT_EQ(time.wYear, 2015);
  EXPECT_EQ(time.wMonth, 10);
  EXPECT_EQ(time.wDay, 21);
  EXPECT_EQ(time.wDayOfWeek, 3);
  EXPECT_EQ(time.wHour, 7);
  EXPECT_EQ(time.wMinute, 28);
  EXPECT_EQ(QueryText(s.request.get(), HTTP_QUERY_CONTENT_TYPE), "application/zip");

  std::string read;
  ASSERT_TRUE(ReadAll(s.request.get(), read));
  EXPECT_TRUE(read.empty());
  ASSERT_EQ(server.Requests().size(), 1u);
  EXPECT_EQ(server.Requests()[0].method, "HEAD");
  EXPECT_EQ(server.Requests()[0].Header("user-agent"), "inet-test/1.0");
}

TEST_F(HttpFaults, InformationGetReportsDispositionEncodingAndRandomAccess) {
  FaultRoute route;
  route.body = body;
  route.contentDisposition = "attachment; filename=\"x.bin\"";
  route.contentEncoding = "x-gzip";
  server.Route("/info", route);
  HttpSession s = Open("GET", "/info");
  ASSERT_TRUE(HttpSendRequestA(s.request.get(), nullptr, 0, nullptr, 0));
  EXPECT_EQ(QueryText(s.request.get(), HTTP_QUERY_CONTENT_DISPOSITION),
            "attachment; filename=\"x.bin\"");
  EXPECT_EQ(QueryText(s.request.get(), HTTP_QUERY_CONTENT_ENCODING), "x-gzip");
  EXPECT_EQ(InternetSetFilePointer(s.request.get(), 0, nullptr, FILE_END, 0), body.size());
  // Positioning reports the size but does not move: the body still reads whole.
  std::string read;
  ASSERT_TRUE(ReadAll(s.request.get(), read, 65536));
  EXPECT_EQ(read, body);
}

TEST_F(HttpFaults, AbsentHeaderFailsWithHeaderNotFound) {
  FaultRoute route;
  route.body = "abc";
  route.lastModified.clear();
  server.Route("/nodate", route);
  HttpSession s = Open("HEAD", "/nodate");
  ASSERT_TRUE(HttpSendRequestA(s.request.get(), nullptr, 0, nullptr, 0));
  SYSTEMTIME time{};
  DWORD size = sizeof(time);
  EXPECT_FALSE(HttpQueryInfoA(s.request.get(), HTTP_QUERY_LAST_MODIFIED | HTTP_QUERY_FLAG_SYSTEMTIME,
                              &time, &size, nullptr));
  EXPECT_EQ(LastError(), ERROR_HTTP_HEADER_NOT_FOUND);
  char text[64];
  size = sizeof(text);
  EXPECT_FALSE(HttpQueryInfoA(s.request.get(), HTTP_QUERY_CONTENT_DISPOSITION, text, &size, nullptr));
  EXPECT_EQ(LastError(), ERROR_HTTP_HEADER_NOT_FOUND);
}

TEST_F(HttpFaults, SmallBufferReportsNeededLength) {
  FaultRoute route;
  route.body = "abc";
  route.contentType = "text/plain; charset=utf-8";
  server.Route("/t", route);
  HttpSession s = Open("HEAD", "/t");
  ASSERT_TRUE(HttpSendRequestA(s.request.get(), nullptr, 0, nullptr, 0));
  char small[4];
  DWORD size = sizeof(small);
  EXPECT_FALSE(HttpQueryInfoA(s.request.get(), HTTP_QUERY_CONTENT_TYPE, small, &size, nullptr));
  EXPECT_EQ(LastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(size, std::strlen("text/plain; charset=utf-8") + 1);
  DWORD number = 0;
  size = 2;
  EXPECT_FALSE(HttpQueryInfoA(s.request.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER,
                              &number, &size, nullptr));
  EXPECT_EQ(LastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(size, 4u);
}

TEST_F(HttpFaults, RawHeadersHoldTheWholeResponseBlock) {
  FaultRoute route;
  route.body = "abc";
  server.Route("/raw", route);
  HttpSession s = Open("HEAD", "/raw");
  ASSERT_TRUE(HttpSendRequestA(s.request.get(), nullptr, 0, nullptr, 0));
  DWORD size = 0;
  EXPECT_FALSE(HttpQueryInfoA(s.request.get(), HTTP_QUERY_RAW_HEADERS_CRLF, nullptr, &size, nullptr));
  EXPECT_EQ(LastError(), ERROR_INSUFFICIENT_BUFFER);
  std::string raw(size, '\0');
  ASSERT_TRUE(HttpQueryInfoA(s.request.get(), HTTP_QUERY_RAW_HEADERS_CRLF, raw.data(), &size, nullptr));
  raw.resize(size);
  EXPECT_EQ(raw.rfind("HTTP/1.1 200", 0), 0u);
  EXPECT_NE(raw.find("Last-Modified: Wed, 21 Oct 2015 07:28:00 GMT\r\n"), std::string::npos);
  EXPECT_EQ(raw.substr(raw.size() - 4), "\r\n\r\n");
}

TEST_F(HttpFaults, ErrorStatusIsASuccessfulSendWithThatStatus) {
  FaultRoute route;
  route.status = 500;
  route.body = "oops";
  server.Route("/broken", route);
  HttpSession s = Open("GET", "/broken");
  ASSERT_TRUE(HttpSendRequestA(s.request.get(), nullptr, 0, nullptr, 0));
  EXPECT_EQ(StatusCode(s.request.get()), 500u);
  HttpSession missing = Open("HEAD", "/nothing-here");
  ASSERT_TRUE(HttpSendRequestA(missing.request.get(), nullptr, 0, nullptr, 0));
  EXPECT_EQ(StatusCode(missing.request.get()), 404u);
}

TEST_F(HttpFaults, RangedGetReadsItsSegmentInBlocks) {
  FaultRoute route;
  route.body = body;
  server.Route("/seg", route);
  HttpSession s = Open("GET", "/seg");
  AddRange(s.request.get(), "bytes=40000-60000");
  ASSERT_TRUE(HttpSendRequestA(s.request.get(), nullptr, 0, nullptr, 0));
  EXPECT_EQ(StatusCode(s.request.get()), 206u);
  EXPECT_EQ(server.Requests().back().Header("range"), "bytes=40000-60000");
  EXPECT_EQ(QueryText(s.request.get(), HTTP_QUERY_RANGE | HTTP_QUERY_FLAG_REQUEST_HEADERS),
            "bytes=40000-60000");
  EXPECT_EQ(QueryText(s.request.get(), HTTP_QUERY_CONTENT_RANGE), "bytes 40000-60000/300000");
  // The worker reads exactly its 20000 bytes in blocks of 8192: each read is full.
  std::string read;
  std::string block(8192, '\0');
  DWORD want[] = {8192, 8192, 3616};
  for (DWORD n : want) {
    DWORD got = 0;
    ASSERT_TRUE(InternetReadFile(s.request.get(), block.data(), n, &got));
    ASSERT_EQ(got, n);
    read.append(block.data(), got);
  }
  EXPECT_EQ(read, body.substr(40000, 20000));
  EXPECT_EQ(InternetSetFilePointer(s.request.get(), 0, nullptr, FILE_END, 0), body.size());
}

TEST_F(HttpFaults, RangeAnsweredWithWholeResourceFailsTheSend) {
  FaultRoute route;
  route.body = body;
  route.ignoreRange = true;
  server.Route("/norange", route);
  HttpSession s = Open("GET", "/norange");
  AddRange(s.request.get(), "bytes=1000-2000");
  EXPECT_FALSE(HttpSendRequestA(s.request.get(), nullptr, 0, nullptr, 0));
  EXPECT_EQ(LastError(), ERROR_INTERNET_EXTENDED_ERROR);
  EXPECT_NE(LastResponseInfo().find("bytes from 1000"), std::string::npos) << LastResponseInfo();
  EXPECT_NE(LastResponseInfo().find("status 200"), std::string::npos);
  EXPECT_EQ(StatusCode(s.request.get()), 200u);
  char buffer[16];
  DWORD got = 99;
  EXPECT_FALSE(InternetReadFile(s.request.get(), buffer, sizeof(buffer), &got));
  EXPECT_EQ(got, 0u);
}

TEST_F(HttpFaults, RangeAnsweredAtAnotherPositionFailsTheSend) {
  FaultRoute route;
  route.body = body;
  route.misplaceRange = -500;
  server.Route("/shifted", route);
  HttpSession s = Open("GET", "/shifted");
  AddRange(s.request.get(), "bytes=1000-2000");
  EXPECT_FALSE(HttpSendRequestA(s.request.get(), nullptr, 0, nullptr, 0));
  EXPECT_EQ(LastError(), ERROR_INTERNET_EXTENDED_ERROR);
  EXPECT_NE(LastResponseInfo().find("bytes 500-1500"), std::string::npos) << LastResponseInfo();
}

TEST_F(HttpFaults, BodyEndingBeforeItsLengthIsAReadFailure) {
  FaultRoute route;
  route.body = body;
  route.dropAfter = 100000;
  server.Route("/drop", route);
  HttpSession s = Open("GET", "/drop");
  ASSERT_TRUE(HttpSendRequestA(s.request.get(), nullptr, 0, nullptr, 0));
  std::string read;
  EXPECT_FALSE(ReadAll(s.request.get(), read, 8192));
  EXPECT_EQ(LastError(), ERROR_INTERNET_CONNECTION_ABORTED);
  EXPECT_LE(read.size(), 100000u);
  EXPECT_EQ(read, body.substr(0, read.size()));
  // The failure stays: the handle never pretends the body ended normally.
  char buffer[16];
  DWORD got = 0;
  EXPECT_FALSE(InternetReadFile(s.request.get(), buffer, sizeof(buffer), &got));
  EXPECT_EQ(LastError(), ERROR_INTERNET_CONNECTION_ABORTED);
  EXPECT_EQ(got, 0u);

  // One read asking for more than arrives tells, failing, how much it put in.
  HttpSession whole = Open("GET", "/drop");
  ASSERT_TRUE(HttpSendRequestA(whole.request.get(), nullptr, 0, nullptr, 0));
  std::string all(body.size(), '\0');
  EXPECT_FALSE(InternetReadFile(whole.request.get(), all.data(), static_cast<DWORD>(all.size()),
                                &got));
  EXPECT_EQ(LastError(), ERROR_INTERNET_CONNECTION_ABORTED);
  EXPECT_EQ(got, 100000u);
  EXPECT_EQ(all.substr(0, got), body.substr(0, got));
}

TEST_F(HttpFaults, PositioningFailsWithoutLengthOrWithoutRanges) {
  FaultRoute chunked;
  chunked.body = body;
  chunked.contentLength = false;
  server.Route("/chunked", chunked);
  FaultRoute noRanges;
  noRanges.body = body;
  noRanges.acceptRanges = false;
  server.Route("/noranges", noRanges);

  HttpSession a = Open("GET", "/chunked");
  ASSERT_TRUE(HttpSendRequestA(a.request.get(), nullptr, 0, nullptr, 0));
  EXPECT_EQ(InternetSetFilePointer(a.request.get(), 0, nullptr, FILE_END, 0),
            INVALID_SET_FILE_POINTER);
  EXPECT_EQ(LastError(), ERROR_INTERNET_INVALID_OPERATION);
  std::string read;
  ASSERT_TRUE(ReadAll(a.request.get(), read, 4096));
  EXPECT_EQ(read, body);

  HttpSession b = Open("GET", "/noranges");
  ASSERT_TRUE(HttpSendRequestA(b.request.get(), nullptr, 0, nullptr, 0));
  EXPECT_EQ(InternetSetFilePointer(b.request.get(), 0, nullptr, FILE_END, 0),
            INVALID_SET_FILE_POINTER);
  EXPECT_EQ(LastError(), ERROR_INTERNET_INVALID_OPERATION);
}

TEST_F(HttpFaults, GzipBodyArrivesUndecodedWithItsEncoding) {
  FaultRoute route;
  route.body = std::string(100000, 'z');
  route.gzip = true;
  server.Route("/gz", route);
  HttpSession s = Open("GET", "/gz");
  const char* accept = "Accept-Encoding: gzip, deflate";
  ASSERT_TRUE(HttpAddRequestHeadersA(s.request.get(), accept, 30, HTTP_ADDREQ_FLAG_ADD_IF_NEW));
  ASSERT_TRUE(HttpSendRequestA(s.request.get(), nullptr, 0, nullptr, 0));
  EXPECT_EQ(server.Requests().back().Header("accept-encoding"), "gzip, deflate");
  EXPECT_EQ(QueryText(s.request.get(), HTTP_QUERY_CONTENT_ENCODING), "gzip");
  std::string read;
  ASSERT_TRUE(ReadAll(s.request.get(), read));
  EXPECT_EQ(read, testing_support::GzipCompress(route.body));
}

TEST_F(HttpFaults, ConnectionRefusedAndReadBeforeSendFailClearly) {
  HttpSession s = OpenHttp("127.0.0.1", 1, "GET", "/");
  EXPECT_FALSE(HttpSendRequestA(s.request.get(), nullptr, 0, nullptr, 0));
  EXPECT_EQ(LastError(), ERROR_INTERNET_CANNOT_CONNECT);
  HttpSession t = Open("GET", "/x");
  char buffer[4];
  DWORD got = 0;
  EXPECT_FALSE(InternetReadFile(t.request.get(), buffer, sizeof(buffer), &got));
  EXPECT_EQ(LastError(), ERROR_INTERNET_INCORRECT_HANDLE_STATE);
  DWORD status = 0;
  DWORD size = sizeof(status);
  EXPECT_FALSE(HttpQueryInfoA(t.request.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER,
                              &status, &size, nullptr));
  EXPECT_EQ(LastError(), ERROR_INTERNET_INCORRECT_HANDLE_STATE);
}

TEST_F(HttpFaults, StalledServerTimesOutByReceiveLimit) {
  FaultRoute route;
  route.body = body;
  route.stallAfter = 1000;
  server.Route("/stall", route);
  HttpSession s = Open("GET", "/stall");
  DWORD limit = 300;
  ASSERT_TRUE(InternetSetOptionA(s.request.get(), INTERNET_OPTION_RECEIVE_TIMEOUT, &limit,
                                 sizeof(limit)));
  ASSERT_TRUE(HttpSendRequestA(s.request.get(), nullptr, 0, nullptr, 0));
  std::string read;
  EXPECT_FALSE(ReadAll(s.request.get(), read, 500));
  EXPECT_EQ(LastError(), ERROR_INTERNET_TIMEOUT);
  EXPECT_EQ(read, body.substr(0, 1000));
  server.ReleaseStalls();
}

TEST_F(HttpFaults, StatusCallbackReportsTheRequestWithItsContext) {
  FaultRoute route;
  route.body = "abc";
  server.Route("/cb", route);
  static std::vector<std::pair<DWORD, DWORD_PTR>> seen;
  seen.clear();
  Handle root(InternetOpenA("inet-test", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0));
  INTERNET_STATUS_CALLBACK callback = [](HINTERNET, DWORD_PTR context, DWORD status, LPVOID,
                                         DWORD) { seen.emplace_back(status, context); };
  EXPECT_EQ(InternetSetStatusCallback(root.get(), callback), nullptr);
  Handle connect(InternetConnectA(root.get(), "127.0.0.1", static_cast<INTERNET_PORT>(server.Port()),
                                  nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 11));
  Handle request(HttpOpenRequestA(connect.get(), "GET", "/cb", nullptr, nullptr, nullptr, 0, 22));
  ASSERT_TRUE(HttpSendRequestA(request.get(), nullptr, 0, nullptr, 0));
  request.Reset();
  std::vector<std::pair<DWORD, DWORD_PTR>> expected = {
      {INTERNET_STATUS_HANDLE_CREATED, 11},   {INTERNET_STATUS_HANDLE_CREATED, 22},
      {INTERNET_STATUS_SENDING_REQUEST, 22},  {INTERNET_STATUS_REQUEST_SENT, 22},
      {INTERNET_STATUS_RESPONSE_RECEIVED, 22}, {INTERNET_STATUS_HANDLE_CLOSING, 22}};
  EXPECT_EQ(seen, expected);
}

class HttpNginx : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!testing_support::NginxServer::Available()) GTEST_SKIP() << "nginx is not installed";
    testing_support::WriteFile(dir.File("file.bin"), body);
    testing_support::NginxOptions options;
    options.root = dir.Path();
    nginx = std::make_unique<testing_support::NginxServer>(dir.File("nginx"), options);
    ASSERT_TRUE(nginx->Started());
  }
  testing_support::TempDir dir;
  std::string body = testing_support::RandomBytes(1 << 20, 3);
  std::unique_ptr<testing_support::NginxServer> nginx;
};

TEST_F(HttpNginx, HeadThenInformationGetThenSegmentsRebuildTheFile) {
  INTERNET_PORT port = static_cast<INTERNET_PORT>(nginx->Port());
  Handle root(InternetOpenA("inet-test", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
  Handle connect(InternetConnectA(root.get(), "127.0.0.1", port, nullptr, nullptr,
                                  INTERNET_SERVICE_HTTP, 0, 0));
  {
    Handle head(HttpOpenRequestA(connect.get(), "HEAD", "/file.bin", nullptr, nullptr, nullptr,
                                 INTERNET_FLAG_NO_CACHE_WRITE, 0));
    ASSERT_TRUE(HttpSendRequestA(head.get(), nullptr, 0, nullptr, 0));
    EXPECT_EQ(StatusCode(head.get()), 200u);
    EXPECT_EQ(QueryText(head.get(), HTTP_QUERY_CONTENT_LENGTH), std::to_string(body.size()));
  }
  {
    Handle info(HttpOpenRequestA(connect.get(), "GET", "/file.bin", nullptr, nullptr, nullptr, 0, 0));
    ASSERT_TRUE(HttpSendRequestA(info.get(), nullptr, 0, nullptr, 0));
    EXPECT_EQ(InternetSetFilePointer(info.get(), 0, nullptr, FILE_END, 0), body.size());
  }
  std::string rebuilt(body.size(), '\0');
  const size_t segment = 300000;
  for (size_t start = 0; start < body.size(); start += segment) {
    size_t count = std::min(segment, body.size() - start);
    Handle get(HttpOpenRequestA(connect.get(), "GET", "/file.bin", nullptr, nullptr, nullptr,
                                INTERNET_FLAG_NO_CACHE_WRITE, 0));
    std::string range = "Range: bytes=" + std::to_string(start) + "-" + std::to_string(start + count);
    ASSERT_TRUE(HttpAddRequestHeadersA(get.get(), range.c_str(), static_cast<DWORD>(range.size()),
                                       HTTP_ADDREQ_FLAG_ADD_IF_NEW));
    ASSERT_TRUE(HttpSendRequestA(get.get(), nullptr, 0, nullptr, 0)) << LastError();
    EXPECT_EQ(StatusCode(get.get()), 206u);
    size_t done = 0;
    while (done < count) {
      DWORD want = static_cast<DWORD>(std::min<size_t>(8192, count - done));
      DWORD got = 0;
      ASSERT_TRUE(InternetReadFile(get.get(), rebuilt.data() + start + done, want, &got));
      ASSERT_EQ(got, want);
      done += got;
    }
  }
  EXPECT_EQ(rebuilt, body);
  // The connection pool kept the connection warm: far fewer connections than requests.
  std::string log = nginx->AccessLog();
  EXPECT_NE(log.find("\"HEAD /file.bin HTTP/1.1\" 200"), std::string::npos);
  EXPECT_NE(log.find("\"GET /file.bin HTTP/1.1\" 206"), std::string::npos);
}

}  // namespace

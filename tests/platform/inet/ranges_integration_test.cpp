// Byte ranges as the segment workers use them: which answers to a ranged request
// are accepted as the segment's bytes, and a request handle sent again with its
// Range line replaced. Against the fault-injecting server and a stock HTTP/1.0
// server that knows nothing of ranges.
#include <gtest/gtest.h>

#include <memory>

#include "InetTestHelpers.h"
#include "support/ChildProcess.h"
#include "support/FaultServer.h"
#include "support/TempDir.h"

namespace {

using namespace inet_testing;
using testing_support::FaultRoute;
using testing_support::FaultServer;

bool SetRange(HINTERNET request, const std::string& range, DWORD modifiers) {
  std::string line = "Range: " + range;
  return HttpAddRequestHeadersA(request, line.c_str(), static_cast<DWORD>(line.size()),
                                modifiers) != FALSE;
}

// Reads exactly count bytes (fewer only when the body ends first).
bool ReadCount(HINTERNET request, size_t count, std::string& read) {
  std::string block(8192, '\0');
  while (read.size() < count) {
    DWORD want = static_cast<DWORD>(std::min<size_t>(block.size(), count - read.size()));
    DWORD got = 0;
    if (!InternetReadFile(request, block.data(), want, &got)) return false;
    if (got == 0) return true;
    read.append(block.data(), got);
  }
  return true;
}

struct RangeAnswerCase {
  const char* name;
  bool ignoreRange;
  long long misplaceRange;
  const char* range;
  bool accepted;
  DWORD status;      // the answer's status, queryable either way
  size_t firstByte;  // accepted answers: where the delivered bytes start
};

class RangeAnswers : public ::testing::TestWithParam<RangeAnswerCase> {
 protected:
  FaultServer server;
  std::string body = testing_support::RandomBytes(60000, 11);
};

TEST_P(RangeAnswers, AcceptOnlyBodiesThatStartWhereTheRangeStarts) {
  const RangeAnswerCase& c = GetParam();
  FaultRoute route;
  route.body = body;
  route.ignoreRange = c.ignoreRange;
  route.misplaceRange = c.misplaceRange;
  server.Route("/r", route);
  HttpSession s = OpenHttp("127.0.0.1", static_cast<INTERNET_PORT>(server.Port()), "GET", "/r");
  ASSERT_TRUE(SetRange(s.request.get(), c.range, HTTP_ADDREQ_FLAG_ADD | HTTP_ADDREQ_FLAG_REPLACE));
  BOOL sent = HttpSendRequestA(s.request.get(), nullptr, 0, nullptr, 0);
  DWORD sendError = LastError();
  std::string mismatch = LastResponseInfo();
  EXPECT_EQ(StatusCode(s.request.get()), c.status);
  ASSERT_EQ(server.Requests().size(), 1u);
  EXPECT_EQ(server.Requests()[0].Header("range"), c.range);
  if (!c.accepted) {
    EXPECT_FALSE(sent);
    EXPECT_EQ(sendError, ERROR_INTERNET_EXTENDED_ERROR);
    EXPECT_NE(mismatch.find("Ranged request"), std::string::npos) << mismatch;
    char buffer[16];
    DWORD got = 99;
    EXPECT_FALSE(InternetReadFile(s.request.get(), buffer, sizeof(buffer), &got));
    EXPECT_EQ(got, 0u);
    return;
  }
  ASSERT_TRUE(sent) << sendError << " " << mismatch;
  std::string read;
  ASSERT_TRUE(ReadCount(s.request.get(), 20000, read));
  EXPECT_EQ(read, body.substr(c.firstByte, 20000));
}

INSTANTIATE_TEST_SUITE_P(
    FaultServer, RangeAnswers,
    ::testing::Values(
        RangeAnswerCase{"WholeBodyForRangeFromZero", true, 0, "bytes=0-30000", true, 200, 0},
        RangeAnswerCase{"WholeBodyForOpenRangeFromZero", true, 0, "bytes=0-", true, 200, 0},
        RangeAnswerCase{"PartialFromZero", false, 0, "bytes=0-30000", true, 206, 0},
        RangeAnswerCase{"PartialInTheMiddle", false, 0, "bytes=30000-50000", true, 206, 30000},
        RangeAnswerCase{"WholeBodyForRangeAboveZero", true, 0, "bytes=1-30000", false, 200, 0},
        RangeAnswerCase{"WholeBodyForRangeInTheMiddle", true, 0, "bytes=30000-50000", false, 200,
                        0},
        RangeAnswerCase{"PartialAfterTheStartOfRangeFromZero", false, 500, "bytes=0-30000", false,
                        206, 0},
        RangeAnswerCase{"PartialBeforeTheStart", false, -500, "bytes=30000-50000", false, 206, 0},
        RangeAnswerCase{"PartialAfterTheStart", false, 500, "bytes=30000-50000", false, 206, 0}),
    [](const ::testing::TestParamInfo<RangeAnswerCase>& info) { return info.param.name; });

// A request handle is sent again (a retry, or the next segment's worker) with its
// Range line replaced: the new range goes out and is the one the answer is held to.
class ResentRequest : public ::testing::Test {
 protected:
  void SetUp() override {
    FaultRoute route;
    route.body = body;
    server.Route("/f", route);
    s = OpenHttp("127.0.0.1", static_cast<INTERNET_PORT>(server.Port()), "GET", "/f");
  }
  FaultServer server;
  std::string body = testing_support::RandomBytes(20000, 5);
  HttpSession s;
};

TEST_F(ResentRequest, ReplacedRangeGoesOutAndItsBytesArrive) {
  for (DWORD modifiers :
       {HTTP_ADDREQ_FLAG_ADD | HTTP_ADDREQ_FLAG_REPLACE, HTTP_ADDREQ_FLAG_REPLACE}) {
    SCOPED_TRACE(modifiers);
    ASSERT_TRUE(
        SetRange(s.request.get(), "bytes=0-100", HTTP_ADDREQ_FLAG_ADD | HTTP_ADDREQ_FLAG_REPLACE));
    ASSERT_TRUE(HttpSendRequestA(s.request.get(), nullptr, 0, nullptr, 0)) << LastError();
    std::string first;
    ASSERT_TRUE(ReadCount(s.request.get(), 100, first));
    EXPECT_EQ(first, body.substr(0, 100));

    ASSERT_TRUE(SetRange(s.request.get(), "bytes=5000-5100", modifiers)) << LastError();
    EXPECT_EQ(QueryText(s.request.get(), HTTP_QUERY_RANGE | HTTP_QUERY_FLAG_REQUEST_HEADERS),
              "bytes=5000-5100");
    ASSERT_TRUE(HttpSendRequestA(s.request.get(), nullptr, 0, nullptr, 0))
        << LastError() << " " << LastResponseInfo();
    EXPECT_EQ(StatusCode(s.request.get()), 206u);
    EXPECT_EQ(QueryText(s.request.get(), HTTP_QUERY_CONTENT_RANGE), "bytes 5000-5100/20000");
    std::string second;
    ASSERT_TRUE(ReadCount(s.request.get(), 100, second));
    EXPECT_EQ(second, body.substr(5000, 100));

    auto requests = server.Requests();
    ASSERT_GE(requests.size(), 2u);
    EXPECT_EQ(requests[requests.size() - 2].Header("range"), "bytes=0-100");
    EXPECT_EQ(requests.back().Header("range"), "bytes=5000-5100");
    EXPECT_EQ(requests.back().headers.count("range"), 1u);
  }
}

TEST_F(ResentRequest, AddOnlyWhenNewKeepsTheLineThatIsThenSentAndChecked) {
  ASSERT_TRUE(SetRange(s.request.get(), "bytes=0-100", HTTP_ADDREQ_FLAG_ADD_IF_NEW));
  ASSERT_TRUE(HttpSendRequestA(s.request.get(), nullptr, 0, nullptr, 0));
  EXPECT_FALSE(SetRange(s.request.get(), "bytes=5000-5100", HTTP_ADDREQ_FLAG_ADD_IF_NEW));
  EXPECT_EQ(LastError(), ERROR_HTTP_HEADER_ALREADY_EXISTS);
  ASSERT_TRUE(HttpSendRequestA(s.request.get(), nullptr, 0, nullptr, 0));
  EXPECT_EQ(server.Requests().back().Header("range"), "bytes=0-100");
  std::string read;
  ASSERT_TRUE(ReadCount(s.request.get(), 100, read));
  EXPECT_EQ(read, body.substr(0, 100));
}

TEST_F(ResentRequest, RemovedRangeIsNotHeldAgainstTheNextAnswer) {
  ASSERT_TRUE(SetRange(s.request.get(), "bytes=5000-5100", HTTP_ADDREQ_FLAG_ADD));
  ASSERT_TRUE(HttpSendRequestA(s.request.get(), nullptr, 0, nullptr, 0));
  // An empty value with REPLACE removes the line; REPLACE alone never adds one.
  ASSERT_TRUE(SetRange(s.request.get(), "", HTTP_ADDREQ_FLAG_REPLACE));
  ASSERT_TRUE(SetRange(s.request.get(), "", HTTP_ADDREQ_FLAG_REPLACE));
  ASSERT_TRUE(HttpSendRequestA(s.request.get(), nullptr, 0, nullptr, 0))
      << LastError() << " " << LastResponseInfo();
  EXPECT_EQ(StatusCode(s.request.get()), 200u);
  EXPECT_EQ(server.Requests().back().headers.count("range"), 0u);
  std::string read;
  ASSERT_TRUE(ReadAll(s.request.get(), read));
  EXPECT_EQ(read, body);
}

// The stock HTTP/1.0 server of the scripting language: no ranges, no Accept-Ranges.
class RangelessServer : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string python = testing_support::FindProgram("python3");
    if (python.empty()) GTEST_SKIP() << "python3 is not installed";
    testing_support::WriteFile(dir.File("file.bin"), body);
    port = testing_support::FreeLoopbackPort();
    process = std::make_unique<testing_support::ChildProcess>(
        std::vector<std::string>{python, "-m", "http.server", "--bind", "127.0.0.1", "--directory",
                                 dir.Path(), std::to_string(port)},
        dir.File("server.log"));
    ASSERT_TRUE(testing_support::WaitForListener(port, std::chrono::seconds(10)));
  }
  testing_support::TempDir dir;
  std::string body = testing_support::RandomBytes(300000, 9);
  int port = 0;
  std::unique_ptr<testing_support::ChildProcess> process;
};

TEST_F(RangelessServer, OneSegmentFromZeroIsTheWholeFile) {
  HttpSession s = OpenHttp("127.0.0.1", static_cast<INTERNET_PORT>(port), "GET", "/file.bin");
  std::string range = "bytes=0-" + std::to_string(body.size());
  ASSERT_TRUE(SetRange(s.request.get(), range, HTTP_ADDREQ_FLAG_ADD | HTTP_ADDREQ_FLAG_REPLACE));
  ASSERT_TRUE(HttpSendRequestA(s.request.get(), nullptr, 0, nullptr, 0))
      << LastError() << " " << LastResponseInfo();
  EXPECT_EQ(StatusCode(s.request.get()), 200u);
  // Not range-capable, so never split: positioning to the end is refused.
  EXPECT_EQ(InternetSetFilePointer(s.request.get(), 0, nullptr, FILE_END, 0),
            INVALID_SET_FILE_POINTER);
  std::string read;
  ASSERT_TRUE(ReadCount(s.request.get(), body.size(), read));
  EXPECT_EQ(read, body);
}

TEST_F(RangelessServer, SegmentAboveZeroFailsWithoutDeliveringABody) {
  HttpSession s = OpenHttp("127.0.0.1", static_cast<INTERNET_PORT>(port), "GET", "/file.bin");
  ASSERT_TRUE(SetRange(s.request.get(), "bytes=100000-200000", HTTP_ADDREQ_FLAG_ADD));
  EXPECT_FALSE(HttpSendRequestA(s.request.get(), nullptr, 0, nullptr, 0));
  EXPECT_EQ(LastError(), ERROR_INTERNET_EXTENDED_ERROR);
  EXPECT_NE(LastResponseInfo().find("bytes from 100000"), std::string::npos) << LastResponseInfo();
  char buffer[16];
  DWORD got = 99;
  EXPECT_FALSE(InternetReadFile(s.request.get(), buffer, sizeof(buffer), &got));
  EXPECT_EQ(got, 0u);
}

}  // namespace

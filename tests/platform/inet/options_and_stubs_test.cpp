// Options, the last response text, the error dialog and the entry points that are
// not offered, without any network traffic.
#include <gtest/gtest.h>

#include <cstring>

#include "InetTestHelpers.h"

namespace {

using namespace inet_testing;

class Options : public ::testing::Test {
 protected:
  void SetUp() override {
    root = Handle(InternetOpenA("agent/2.0", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    ASSERT_TRUE(root);
    connect = Handle(InternetConnectA(root.get(), "127.0.0.1", 80, nullptr, nullptr,
                                      INTERNET_SERVICE_HTTP, 0, 5));
    request = Handle(HttpOpenRequestA(connect.get(), "GET", "/x", nullptr, nullptr, nullptr,
                                      INTERNET_FLAG_SECURE | INTERNET_FLAG_IGNORE_CERT_CN_INVALID,
                                      6));
    ASSERT_TRUE(request);
  }
  DWORD QueryDword(HINTERNET handle, DWORD option) {
    DWORD value = 0xDEADBEEF;
    DWORD size = sizeof(value);
    EXPECT_TRUE(InternetQueryOptionA(handle, option, &value, &size)) << option;
    EXPECT_EQ(size, sizeof(DWORD));
    return value;
  }
  Handle root;
  Handle connect;
  Handle request;
};

TEST_F(Options, ConnectionLimitsAreProcessWideWithoutAHandle) {
  DWORD old = QueryDword(nullptr, INTERNET_OPTION_MAX_CONNS_PER_SERVER);
  DWORD ten = 10;
  ASSERT_TRUE(InternetSetOptionA(nullptr, INTERNET_OPTION_MAX_CONNS_PER_SERVER, &ten, sizeof(ten)));
  EXPECT_EQ(QueryDword(nullptr, INTERNET_OPTION_MAX_CONNS_PER_SERVER), 10u);
  DWORD twelve = 12;
  ASSERT_TRUE(InternetSetOptionA(nullptr, INTERNET_OPTION_MAX_CONNS_PER_1_0_SERVER, &twelve,
                                 sizeof(twelve)));
  EXPECT_EQ(QueryDword(nullptr, INTERNET_OPTION_MAX_CONNS_PER_1_0_SERVER), 12u);
  DWORD zero = 0;
  EXPECT_FALSE(InternetSetOptionA(nullptr, INTERNET_OPTION_MAX_CONNS_PER_SERVER, &zero, sizeof(zero)));
  EXPECT_FALSE(InternetSetOptionA(nullptr, INTERNET_OPTION_MAX_CONNS_PER_SERVER, &ten, 2));
  EXPECT_EQ(LastError(), ERROR_INTERNET_BAD_OPTION_LENGTH);
  InternetSetOptionA(nullptr, INTERNET_OPTION_MAX_CONNS_PER_SERVER, &old, sizeof(old));
}

TEST_F(Options, SecurityFlagsKeepOnlyTheIgnoreBitsAndReportSecure) {
  EXPECT_EQ(QueryDword(request.get(), INTERNET_OPTION_SECURITY_FLAGS),
            SECURITY_FLAG_SECURE | SECURITY_FLAG_IGNORE_CERT_CN_INVALID);
  DWORD flags = SECURITY_FLAG_IGNORE_UNKNOWN_CA | SECURITY_FLAG_IGNORE_CERT_DATE_INVALID |
                SECURITY_FLAG_IGNORE_REVOCATION;
  ASSERT_TRUE(InternetSetOptionA(request.get(), INTERNET_OPTION_SECURITY_FLAGS, &flags, sizeof(flags)));
  EXPECT_EQ(QueryDword(request.get(), INTERNET_OPTION_SECURITY_FLAGS),
            SECURITY_FLAG_SECURE | SECURITY_FLAG_IGNORE_UNKNOWN_CA |
                SECURITY_FLAG_IGNORE_CERT_DATE_INVALID);
  DWORD value = 0;
  DWORD size = sizeof(value);
  EXPECT_FALSE(InternetQueryOptionA(connect.get(), INTERNET_OPTION_SECURITY_FLAGS, &value, &size));
  EXPECT_EQ(LastError(), ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
}

TEST_F(Options, ProxyCredentialsAreTextsWithTheirLength) {
  char user[] = "alice-and-more";
  ASSERT_TRUE(InternetSetOptionA(request.get(), INTERNET_OPTION_PROXY_USERNAME, user, 5));
  char out[32] = {};
  DWORD size = 3;
  EXPECT_FALSE(InternetQueryOptionA(request.get(), INTERNET_OPTION_PROXY_USERNAME, out, &size));
  EXPECT_EQ(LastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(size, 6u);
  size = sizeof(out);
  ASSERT_TRUE(InternetQueryOptionA(request.get(), INTERNET_OPTION_PROXY_USERNAME, out, &size));
  EXPECT_STREQ(out, "alice");
  EXPECT_EQ(size, 5u);
}

TEST_F(Options, HandlesReportTypeParentContextAndAgent) {
  EXPECT_EQ(QueryDword(root.get(), INTERNET_OPTION_HANDLE_TYPE), INTERNET_HANDLE_TYPE_INTERNET);
  EXPECT_EQ(QueryDword(connect.get(), INTERNET_OPTION_HANDLE_TYPE),
            INTERNET_HANDLE_TYPE_CONNECT_HTTP);
  EXPECT_EQ(QueryDword(request.get(), INTERNET_OPTION_HANDLE_TYPE),
            INTERNET_HANDLE_TYPE_HTTP_REQUEST);
  HINTERNET parent = nullptr;
  DWORD size = sizeof(parent);
  ASSERT_TRUE(InternetQueryOptionA(request.get(), INTERNET_OPTION_PARENT_HANDLE, &parent, &size));
  EXPECT_EQ(parent, connect.get());
  DWORD_PTR context = 0;
  size = sizeof(context);
  ASSERT_TRUE(InternetQueryOptionA(request.get(), INTERNET_OPTION_CONTEXT_VALUE, &context, &size));
  EXPECT_EQ(context, 6u);
  char agent[32] = {};
  size = sizeof(agent);
  ASSERT_TRUE(InternetQueryOptionA(request.get(), INTERNET_OPTION_USER_AGENT, agent, &size));
  EXPECT_STREQ(agent, "agent/2.0");
}

TEST_F(Options, TimeoutsAreInheritedByHandlesCreatedLater) {
  DWORD limit = 1234;
  ASSERT_TRUE(InternetSetOptionA(connect.get(), INTERNET_OPTION_RECEIVE_TIMEOUT, &limit, sizeof(limit)));
  Handle later(HttpOpenRequestA(connect.get(), "GET", "/y", nullptr, nullptr, nullptr, 0, 0));
  EXPECT_EQ(QueryDword(later.get(), INTERNET_OPTION_RECEIVE_TIMEOUT), 1234u);
  EXPECT_EQ(QueryDword(request.get(), INTERNET_OPTION_RECEIVE_TIMEOUT), 60000u);
}

TEST_F(Options, UnknownAndReadOnlyOptionsAreRefused) {
  DWORD value = 1;
  EXPECT_FALSE(InternetSetOptionA(request.get(), 9999, &value, sizeof(value)));
  EXPECT_EQ(LastError(), ERROR_INTERNET_INVALID_OPTION);
  EXPECT_FALSE(InternetSetOptionA(request.get(), INTERNET_OPTION_HANDLE_TYPE, &value, sizeof(value)));
  EXPECT_EQ(LastError(), ERROR_INTERNET_OPTION_NOT_SETTABLE);
  DWORD size = sizeof(value);
  EXPECT_FALSE(InternetQueryOptionA(reinterpret_cast<HINTERNET>(0x42), INTERNET_OPTION_HANDLE_TYPE,
                                    &value, &size));
  EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST_F(Options, WrongHandleKindsAndBadArgumentsFailClearly) {
  EXPECT_EQ(HttpOpenRequestA(root.get(), "GET", "/", nullptr, nullptr, nullptr, 0, 0), nullptr);
  EXPECT_EQ(LastError(), ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
  EXPECT_EQ(InternetConnectA(root.get(), "", 80, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0),
            nullptr);
  EXPECT_EQ(LastError(), ERROR_INTERNET_INVALID_URL);
  EXPECT_EQ(InternetOpenA("a", INTERNET_OPEN_TYPE_PROXY, nullptr, nullptr, 0), nullptr);
  EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_FALSE(HttpAddRequestHeadersA(request.get(), "no colon", 8, HTTP_ADDREQ_FLAG_ADD));
  EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_FALSE(InternetCloseHandle(reinterpret_cast<HINTERNET>(0x42)));
  EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST(EntryPoints, ThoseNotOfferedFailWithCallNotImplemented) {
  EXPECT_EQ(InternetOpenUrlA(nullptr, "http://127.0.0.1/", nullptr, 0, 0, 0), nullptr);
  EXPECT_EQ(LastError(), ERROR_CALL_NOT_IMPLEMENTED);
  EXPECT_FALSE(HttpSendRequestExA(nullptr, nullptr, nullptr, 0, 0));
  EXPECT_EQ(LastError(), ERROR_CALL_NOT_IMPLEMENTED);
  EXPECT_FALSE(HttpEndRequestA(nullptr, nullptr, 0, 0));
  EXPECT_EQ(LastError(), ERROR_CALL_NOT_IMPLEMENTED);
  DWORD written = 0;
  EXPECT_FALSE(InternetWriteFile(nullptr, "x", 1, &written));
  EXPECT_EQ(LastError(), ERROR_CALL_NOT_IMPLEMENTED);
  EXPECT_FALSE(FtpCreateDirectoryA(nullptr, "d"));
  EXPECT_EQ(LastError(), ERROR_CALL_NOT_IMPLEMENTED);
  EXPECT_FALSE(FtpRemoveDirectoryA(nullptr, "d"));
  EXPECT_EQ(LastError(), ERROR_CALL_NOT_IMPLEMENTED);
  EXPECT_FALSE(FtpDeleteFileA(nullptr, "f"));
  EXPECT_EQ(LastError(), ERROR_CALL_NOT_IMPLEMENTED);
  EXPECT_FALSE(InternetSetCookieA("http://h/", "a", "b"));
  EXPECT_EQ(LastError(), ERROR_CALL_NOT_IMPLEMENTED);
  char cookie[16];
  DWORD size = sizeof(cookie);
  EXPECT_FALSE(InternetGetCookieA("http://h/", "a", cookie, &size));
  EXPECT_EQ(LastError(), ERROR_NO_MORE_ITEMS);
}

TEST(EntryPoints, ErrorDialogDeclinesCertificateQuestionsAndEchoesOthers) {
  for (DWORD code : {ERROR_INTERNET_SEC_CERT_DATE_INVALID, ERROR_INTERNET_SEC_CERT_CN_INVALID,
                     ERROR_INTERNET_INVALID_CA, ERROR_INTERNET_CLIENT_AUTH_CERT_NEEDED}) {
    EXPECT_EQ(InternetErrorDlg(nullptr, nullptr, code, 7, nullptr), ERROR_CANCELLED) << code;
  }
  EXPECT_EQ(InternetErrorDlg(nullptr, nullptr, ERROR_INTERNET_TIMEOUT, 7, nullptr),
            ERROR_INTERNET_TIMEOUT);
}

TEST(EntryPoints, LastResponseIsEmptyOnAFreshThread) {
  DWORD code = 77;
  DWORD size = 0;
  EXPECT_TRUE(InternetGetLastResponseInfoA(&code, nullptr, &size));
  EXPECT_EQ(size, 0u);
  EXPECT_EQ(code, 0u);
}

}  // namespace

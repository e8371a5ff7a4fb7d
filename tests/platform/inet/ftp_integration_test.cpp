// FTP through the library as the workers use it: login at connect, find for size
// and time, open and read in passive and active mode, server replies on failure.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <utime.h>

#include <memory>

#include "InetTestHelpers.h"
#include "support/FtpServer.h"
#include "support/TempDir.h"

namespace {

using namespace inet_testing;
using testing_support::FtpServer;

// 2020-01-02 03:04:05 UTC
constexpr time_t kFileTime = 1577934245;

class Ftp : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!FtpServer::Available()) GTEST_SKIP() << "python3-pyftpdlib is not installed";
    mkdir(dir.File("root").c_str(), 0755);
    mkdir(dir.File("root/pub").c_str(), 0755);
    testing_support::WriteFile(dir.File("root/pub/data.bin"), body);
    utimbuf times{kFileTime, kFileTime};
    utime(dir.File("root/pub/data.bin").c_str(), &times);
    server = std::make_unique<FtpServer>(dir.Path(), dir.File("root"), "joe", "secret");
    ASSERT_TRUE(server->Started()) << server->Log();
    root = Handle(InternetOpenA("inet-test", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
  }
  Handle Connect(const char* user, const char* password, DWORD flags) {
    return Handle(InternetConnectA(root.get(), "127.0.0.1",
                                   static_cast<INTERNET_PORT>(server->Port()), user, password,
                                   INTERNET_SERVICE_FTP, flags, 0));
  }
  std::string ReadFile(DWORD flags, DWORD block) {
    Handle connect = Connect("joe", "secret", flags);
    EXPECT_TRUE(connect) << LastError();
    Handle file(FtpOpenFileA(connect.get(), "/pub/data.bin", GENERIC_READ,
                             FTP_TRANSFER_TYPE_BINARY, 0));
    EXPECT_TRUE(file) << LastError() << " " << LastResponseInfo();
    std::string read;
    EXPECT_TRUE(ReadAll(file.get(), read, block));
    return read;
  }

  testing_support::TempDir dir;
  std::string body = testing_support::RandomBytes(700000, 11);
  std::unique_ptr<FtpServer> server;
  Handle root;
};

TEST_F(Ftp, FindReportsSizeAndUtcWriteTimeWithoutDataConnection) {
  Handle connect = Connect("joe", "secret", INTERNET_FLAG_PASSIVE);
  ASSERT_TRUE(connect) << LastError();
  WIN32_FIND_DATAA found{};
  Handle find(FtpFindFirstFileA(connect.get(), "/pub/data.bin", &found, INTERNET_FLAG_RELOAD, 0));
  ASSERT_TRUE(find) << LastError() << " " << LastResponseInfo();
  EXPECT_EQ(found.nFileSizeLow, body.size());
  EXPECT_EQ(found.nFileSizeHigh, 0u);
  EXPECT_STREQ(found.cFileName, "data.bin");
  std::uint64_t ticks = (static_cast<std::uint64_t>(found.ftLastWriteTime.dwHighDateTime) << 32) |
                        found.ftLastWriteTime.dwLowDateTime;
  EXPECT_EQ(ticks, (static_cast<std::uint64_t>(kFileTime) + 11644473600ull) * 10000000ull);
  std::string log = server->Log();
  EXPECT_NE(log.find("SIZE"), std::string::npos);
  EXPECT_NE(log.find("MDTM"), std::string::npos);
  EXPECT_EQ(log.find("PASV"), std::string::npos);
  EXPECT_EQ(log.find("RETR"), std::string::npos);
}

TEST_F(Ftp, PassiveReadDeliversTheFileExactly) {
  EXPECT_EQ(ReadFile(INTERNET_FLAG_PASSIVE, 8192), body);
  std::string log = server->Log();
  EXPECT_TRUE(log.find("EPSV") != std::string::npos || log.find("PASV") != std::string::npos);
  EXPECT_NE(log.find("TYPE I"), std::string::npos);
}

TEST_F(Ftp, ActiveReadDeliversTheFileExactly) {
  EXPECT_EQ(ReadFile(0, 65536), body);
  std::string log = server->Log();
  EXPECT_TRUE(log.find("EPRT") != std::string::npos || log.find("PORT") != std::string::npos)
      << log;
}

TEST_F(Ftp, AnonymousLoginWorksWithoutCredentials) {
  Handle connect = Connect(nullptr, nullptr, INTERNET_FLAG_PASSIVE);
  ASSERT_TRUE(connect) << LastError();
  WIN32_FIND_DATAA found{};
  Handle find(FtpFindFirstFileA(connect.get(), "pub/data.bin", &found, INTERNET_FLAG_RELOAD, 0));
  ASSERT_TRUE(find);
  EXPECT_EQ(found.nFileSizeLow, body.size());
}

TEST_F(Ftp, WrongPasswordFailsAtConnectWithTheServerReply) {
  Handle connect = Connect("joe", "wrong", INTERNET_FLAG_PASSIVE);
  EXPECT_FALSE(connect);
  EXPECT_EQ(LastError(), ERROR_INTERNET_EXTENDED_ERROR);
  EXPECT_EQ(LastResponseInfo().rfind("530", 0), 0u) << LastResponseInfo();
}

TEST_F(Ftp, MissingFileFailsFindAndOpenWithTheServerReply) {
  Handle connect = Connect("joe", "secret", INTERNET_FLAG_PASSIVE);
  ASSERT_TRUE(connect);
  WIN32_FIND_DATAA found{};
  Handle find(FtpFindFirstFileA(connect.get(), "/pub/none.bin", &found, INTERNET_FLAG_RELOAD, 0));
  EXPECT_FALSE(find);
  EXPECT_EQ(LastError(), ERROR_INTERNET_EXTENDED_ERROR);
  EXPECT_EQ(LastResponseInfo().rfind("550", 0), 0u) << LastResponseInfo();

  Handle file(FtpOpenFileA(connect.get(), "/pub/none.bin", GENERIC_READ, FTP_TRANSFER_TYPE_BINARY, 0));
  EXPECT_FALSE(file);
  EXPECT_EQ(LastError(), ERROR_INTERNET_EXTENDED_ERROR);
  std::string reply = LastResponseInfo();
  EXPECT_EQ(reply.rfind("550", 0), 0u) << reply;
  EXPECT_EQ(reply.substr(reply.size() - 2), "\r\n");
}

TEST_F(Ftp, HttpCallsOnAnFtpConnectionAreRefused) {
  Handle connect = Connect("joe", "secret", INTERNET_FLAG_PASSIVE);
  ASSERT_TRUE(connect);
  EXPECT_EQ(HttpOpenRequestA(connect.get(), "GET", "/", nullptr, nullptr, nullptr, 0, 0), nullptr);
  EXPECT_EQ(LastError(), ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
  DWORD type = 0;
  DWORD size = sizeof(type);
  ASSERT_TRUE(InternetQueryOptionA(connect.get(), INTERNET_OPTION_HANDLE_TYPE, &type, &size));
  EXPECT_EQ(type, INTERNET_HANDLE_TYPE_CONNECT_FTP);
}

}  // namespace

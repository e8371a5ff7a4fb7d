// Sizes beyond 4 GiB at the library's boundary: a sparse 5 GiB file served by nginx
// and by the FTP server. Lengths come whole through the 64-bit query and the
// high half of the positioning result; a size that does not fit the caller's
// result fails instead of being cut to its low half.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <memory>

#include "InetTestHelpers.h"
#include "support/FtpServer.h"
#include "support/NginxServer.h"
#include "support/TempDir.h"

namespace {

using namespace inet_testing;

constexpr std::uint64_t kFiveGiB = 5ull << 30;
// Bytes written just past the 4 GiB mark, so a ranged read there is checked.
constexpr std::uint64_t kMarkOffset = (4ull << 30) + 12345;
const std::string kMark = "beyond the 32-bit boundary";

// A file of kFiveGiB bytes that takes no disk space but the mark.
bool MakeSparseFile(const std::string& path) {
  int fd = ::open(path.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0644);
  if (fd < 0) return false;
  bool ok = ::ftruncate(fd, static_cast<off_t>(kFiveGiB)) == 0 &&
            ::pwrite(fd, kMark.data(), kMark.size(), static_cast<off_t>(kMarkOffset)) ==
                static_cast<ssize_t>(kMark.size());
  return ::close(fd) == 0 && ok;
}

class LargeHttpFile : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!testing_support::NginxServer::Available()) GTEST_SKIP() << "nginx is not installed";
    ASSERT_TRUE(MakeSparseFile(dir.File("big.bin")));
    testing_support::NginxOptions options;
    options.root = dir.Path();
    nginx = std::make_unique<testing_support::NginxServer>(dir.File("nginx"), options);
    ASSERT_TRUE(nginx->Started());
  }
  HttpSession Open(const char* verb) {
    return OpenHttp("127.0.0.1", static_cast<INTERNET_PORT>(nginx->Port()), verb, "/big.bin");
  }
  testing_support::TempDir dir;
  std::unique_ptr<testing_support::NginxServer> nginx;
};

TEST_F(LargeHttpFile, ContentLengthIsWholeAsNumber64AndRefusedAs32Bits) {
  HttpSession s = Open("HEAD");
  ASSERT_TRUE(HttpSendRequestA(s.request.get(), nullptr, 0, nullptr, 0)) << LastError();
  std::uint64_t length64 = 0;
  DWORD size = sizeof(length64);
  ASSERT_TRUE(HttpQueryInfoA(s.request.get(), HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER64,
                             &length64, &size, nullptr));
  EXPECT_EQ(size, 8u);
  EXPECT_EQ(length64, kFiveGiB);
  DWORD length32 = 0;
  size = sizeof(length32);
  EXPECT_FALSE(HttpQueryInfoA(s.request.get(), HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER,
                              &length32, &size, nullptr));
  EXPECT_EQ(LastError(), ERROR_HTTP_INVALID_HEADER);
}

TEST_F(LargeHttpFile, EndPositionComesInTwoHalvesOrFailsWithoutTheHighHalf) {
  HttpSession s = Open("GET");
  ASSERT_TRUE(HttpSendRequestA(s.request.get(), nullptr, 0, nullptr, 0)) << LastError();

  LONG high = 0;  // the high half of the distance on the way in, of the position on the way out
  platform::SetLastError(12345);
  DWORD low = InternetSetFilePointer(s.request.get(), 0, &high, FILE_END, 0);
  EXPECT_EQ(LastError(), ERROR_SUCCESS);
  EXPECT_EQ(low, static_cast<DWORD>(kFiveGiB & 0xFFFFFFFFu));
  EXPECT_EQ(high, static_cast<LONG>(kFiveGiB >> 32));

  // Without a high half the position does not fit: no cut value that looks valid.
  DWORD cut = InternetSetFilePointer(s.request.get(), 0, nullptr, FILE_END, 0);
  EXPECT_EQ(cut, INVALID_SET_FILE_POINTER);
  EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST_F(LargeHttpFile, RangeBeyondFourGiBReadsTheBytesThere) {
  HttpSession s = Open("GET");
  std::string range = "Range: bytes=" + std::to_string(kMarkOffset) + "-" +
                      std::to_string(kMarkOffset + kMark.size());
  ASSERT_TRUE(HttpAddRequestHeadersA(s.request.get(), range.c_str(),
                                     static_cast<DWORD>(range.size()),
                                     HTTP_ADDREQ_FLAG_ADD | HTTP_ADDREQ_FLAG_REPLACE));
  ASSERT_TRUE(HttpSendRequestA(s.request.get(), nullptr, 0, nullptr, 0))
      << LastError() << " " << LastResponseInfo();
  EXPECT_EQ(StatusCode(s.request.get()), 206u);
  std::string read(kMark.size(), '\0');
  DWORD got = 0;
  ASSERT_TRUE(
      InternetReadFile(s.request.get(), read.data(), static_cast<DWORD>(read.size()), &got));
  ASSERT_EQ(got, kMark.size());
  EXPECT_EQ(read, kMark);
  LONG high = 0;
  EXPECT_EQ(InternetSetFilePointer(s.request.get(), 0, &high, FILE_END, 0),
            static_cast<DWORD>(kFiveGiB & 0xFFFFFFFFu));
  EXPECT_EQ(high, static_cast<LONG>(kFiveGiB >> 32));
}

TEST(LargeFtpFile, FindGivesBothHalvesOfTheSize) {
  if (!testing_support::FtpServer::Available())
    GTEST_SKIP() << "python3-pyftpdlib is not installed";
  testing_support::TempDir dir;
  ASSERT_EQ(::mkdir(dir.File("root").c_str(), 0755), 0);
  ASSERT_TRUE(MakeSparseFile(dir.File("root/big.bin")));
  testing_support::FtpServer server(dir.Path(), dir.File("root"), "joe", "secret");
  ASSERT_TRUE(server.Started()) << server.Log();
  Handle root(InternetOpenA("inet-test", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
  Handle connect(InternetConnectA(root.get(), "127.0.0.1",
                                  static_cast<INTERNET_PORT>(server.Port()), "joe", "secret",
                                  INTERNET_SERVICE_FTP, INTERNET_FLAG_PASSIVE, 0));
  ASSERT_TRUE(connect) << LastError();
  WIN32_FIND_DATAA found{};
  Handle find(FtpFindFirstFileA(connect.get(), "/big.bin", &found, INTERNET_FLAG_RELOAD, 0));
  ASSERT_TRUE(find) << LastError() << " " << LastResponseInfo();
  EXPECT_EQ(found.nFileSizeHigh, static_cast<DWORD>(kFiveGiB >> 32));
  EXPECT_EQ(found.nFileSizeLow, static_cast<DWORD>(kFiveGiB & 0xFFFFFFFFu));
}

}  // namespace

// HTTPS against real nginx servers with test certificates: each certificate
// problem has its own error, each ignore flag lifts only its own problem, relaxed
// connections are never reused by strict requests, client certificates.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

#include "InetTestHelpers.h"
#include "support/CertificateAuthority.h"
#include "support/NginxServer.h"
#include "support/TempDir.h"

namespace {

using namespace inet_testing;
using testing_support::CertificateAuthority;
using testing_support::IssuedCertificate;
using testing_support::NginxOptions;
using testing_support::NginxServer;

class Tls : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!NginxServer::Available()) return;
    dir = new testing_support::TempDir();
    testing_support::WriteFile(dir->File("page.txt"), "secure hello");
    ca = new CertificateAuthority(dir->Path());
    valid = Start("valid", ca->Issue("valid", {"localhost"}, {"127.0.0.1"}));
    expired = Start("expired", ca->Issue("expired", {"localhost"}, {"127.0.0.1"}, -30, -1));
    wrongHost = Start("wronghost", ca->Issue("wronghost", {"other.example"}, {}));
    selfSigned = Start("selfsigned", ca->SelfSigned("selfsigned", {"localhost"}, {"127.0.0.1"}));
    client = ca->Issue("client", {"client"}, {});
    NginxOptions options;
    IssuedCertificate server = ca->Issue("mutual", {"localhost"}, {"127.0.0.1"});
    options.root = dir->Path();
    options.certFile = server.certFile;
    options.keyFile = server.keyFile;
    options.clientCaFile = ca->CaFile();
    mutual = new NginxServer(dir->File("nginx-mutual"), options);
  }
  static void TearDownTestSuite() {
    for (NginxServer* server : {valid, expired, wrongHost, selfSigned, mutual}) delete server;
    delete ca;
    delete dir;
  }
  static NginxServer* Start(const std::string& name, const IssuedCertificate& cert) {
    NginxOptions options;
    options.root = dir->Path();
    options.certFile = cert.certFile;
    options.keyFile = cert.keyFile;
    return new NginxServer(dir->File("nginx-" + name), options);
  }

  void SetUp() override {
    if (dir == nullptr) GTEST_SKIP() << "nginx is not installed";
    ASSERT_TRUE(valid->Started() && expired->Started() && wrongHost->Started() &&
                selfSigned->Started() && mutual->Started());
    setenv("SSL_CERT_FILE", ca->CaFile().c_str(), 1);
    root = Handle(InternetOpenA("inet-test", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0));
  }
  void TearDown() override { unsetenv("SSL_CERT_FILE"); }

  Handle Connect(NginxServer* server) {
    return Handle(InternetConnectA(root.get(), "127.0.0.1",
                                   static_cast<INTERNET_PORT>(server->Port()), nullptr, nullptr,
                                   INTERNET_SERVICE_HTTP, 0, 0));
  }
  Handle Request(const Handle& connect) {
    return Handle(HttpOpenRequestA(connect.get(), "GET", "/page.txt", nullptr, nullptr, nullptr,
                                   INTERNET_FLAG_SECURE | INTERNET_FLAG_NO_CACHE_WRITE, 0));
  }
  void AddSecurityFlags(HINTERNET request, DWORD flags) {
    DWORD current = 0;
    DWORD size = sizeof(current);
    ASSERT_TRUE(InternetQueryOptionA(request, INTERNET_OPTION_SECURITY_FLAGS, &current, &size));
    EXPECT_TRUE(current & SECURITY_FLAG_SECURE);
    current |= flags;
    ASSERT_TRUE(InternetSetOptionA(request, INTERNET_OPTION_SECURITY_FLAGS, &current, sizeof(current)));
  }
  // The send's result: 0 for success, otherwise the error.
  DWORD SendWith(NginxServer* server, DWORD flags) {
    Handle connect = Connect(server);
    Handle request = Request(connect);
    if (flags != 0) AddSecurityFlags(request.get(), flags);
    if (!HttpSendRequestA(request.get(), nullptr, 0, nullptr, 0)) return LastError();
    std::string body;
    EXPECT_TRUE(ReadAll(request.get(), body));
    EXPECT_EQ(body, "secure hello");
    return 0;
  }

  static testing_support::TempDir* dir;
  static CertificateAuthority* ca;
  static NginxServer* valid;
  static NginxServer* expired;
  static NginxServer* wrongHost;
  static NginxServer* selfSigned;
  static NginxServer* mutual;
  static IssuedCertificate client;
  Handle root;
};

testing_support::TempDir* Tls::dir = nullptr;
CertificateAuthority* Tls::ca = nullptr;
NginxServer* Tls::valid = nullptr;
NginxServer* Tls::expired = nullptr;
NginxServer* Tls::wrongHost = nullptr;
NginxServer* Tls::selfSigned = nullptr;
NginxServer* Tls::mutual = nullptr;
IssuedCertificate Tls::client;

TEST_F(Tls, TrustedCertificateForTheHostSucceeds) {
  EXPECT_EQ(SendWith(valid, 0), 0u);
}

TEST_F(Tls, UntrustedAuthorityFailsWithInvalidCa) {
  unsetenv("SSL_CERT_FILE");
  EXPECT_EQ(SendWith(valid, 0), ERROR_INTERNET_INVALID_CA);
  EXPECT_EQ(SendWith(valid, SECURITY_FLAG_IGNORE_UNKNOWN_CA), 0u);
}

TEST_F(Tls, ExpiredCertificateFailsWithDateErrorAndOnlyTheDateFlagLiftsIt) {
  EXPECT_EQ(SendWith(expired, 0), ERROR_INTERNET_SEC_CERT_DATE_INVALID);
  EXPECT_EQ(SendWith(expired, SECURITY_FLAG_IGNORE_UNKNOWN_CA | SECURITY_FLAG_IGNORE_CERT_CN_INVALID),
            ERROR_INTERNET_SEC_CERT_DATE_INVALID);
  EXPECT_EQ(SendWith(expired, SECURITY_FLAG_IGNORE_CERT_DATE_INVALID), 0u);
}

TEST_F(Tls, WrongHostFailsWithNameErrorAndOnlyTheNameFlagLiftsIt) {
  EXPECT_EQ(SendWith(wrongHost, 0), ERROR_INTERNET_SEC_CERT_CN_INVALID);
  EXPECT_EQ(SendWith(wrongHost,
                     SECURITY_FLAG_IGNORE_UNKNOWN_CA | SECURITY_FLAG_IGNORE_CERT_DATE_INVALID),
            ERROR_INTERNET_SEC_CERT_CN_INVALID);
  EXPECT_EQ(SendWith(wrongHost, SECURITY_FLAG_IGNORE_CERT_CN_INVALID), 0u);
}

TEST_F(Tls, SelfSignedFailsWithInvalidCaAndOnlyTheAuthorityFlagLiftsIt) {
  EXPECT_EQ(SendWith(selfSigned, 0), ERROR_INTERNET_INVALID_CA);
  EXPECT_EQ(SendWith(selfSigned,
                     SECURITY_FLAG_IGNORE_CERT_DATE_INVALID | SECURITY_FLAG_IGNORE_CERT_CN_INVALID),
            ERROR_INTERNET_INVALID_CA);
  EXPECT_EQ(SendWith(selfSigned, SECURITY_FLAG_IGNORE_UNKNOWN_CA), 0u);
}

TEST_F(Tls, SendRepeatedOnTheSameRequestAfterAddingTheFlagSucceeds) {
  Handle connect = Connect(expired);
  Handle request = Request(connect);
  ASSERT_FALSE(HttpSendRequestA(request.get(), nullptr, 0, nullptr, 0));
  ASSERT_EQ(LastError(), ERROR_INTERNET_SEC_CERT_DATE_INVALID);
  EXPECT_EQ(InternetErrorDlg(nullptr, request.get(), ERROR_INTERNET_SEC_CERT_DATE_INVALID, 7, nullptr),
            ERROR_CANCELLED);
  AddSecurityFlags(request.get(), SECURITY_FLAG_IGNORE_CERT_DATE_INVALID);
  ASSERT_TRUE(HttpSendRequestA(request.get(), nullptr, 0, nullptr, 0)) << LastError();
  EXPECT_EQ(StatusCode(request.get()), 200u);
}

TEST_F(Tls, RelaxedConnectionIsNeverReusedByAStrictRequest) {
  Handle connect = Connect(selfSigned);
  {
    Handle relaxed = Request(connect);
    AddSecurityFlags(relaxed.get(), SECURITY_FLAG_IGNORE_UNKNOWN_CA);
    ASSERT_TRUE(HttpSendRequestA(relaxed.get(), nullptr, 0, nullptr, 0));
    std::string body;
    ASSERT_TRUE(ReadAll(relaxed.get(), body));
  }
  // Same root, same connect handle, same server: the warm relaxed connection must
  // not carry a strict request past the certificate check.
  Handle strict = Request(connect);
  EXPECT_FALSE(HttpSendRequestA(strict.get(), nullptr, 0, nullptr, 0));
  EXPECT_EQ(LastError(), ERROR_INTERNET_INVALID_CA);
  // And the relaxed pool still works afterwards.
  Handle relaxedAgain = Request(connect);
  AddSecurityFlags(relaxedAgain.get(), SECURITY_FLAG_IGNORE_UNKNOWN_CA);
  EXPECT_TRUE(HttpSendRequestA(relaxedAgain.get(), nullptr, 0, nullptr, 0));
}

TEST_F(Tls, ServerAskingForClientCertificateGivesClientAuthNeededUntilOneIsSet) {
  Handle connect = Connect(mutual);
  Handle request = Request(connect);
  ASSERT_FALSE(HttpSendRequestA(request.get(), nullptr, 0, nullptr, 0));
  EXPECT_EQ(LastError(), ERROR_INTERNET_CLIENT_AUTH_CERT_NEEDED);

  CERT_CONTEXT context{X509_ASN_ENCODING, reinterpret_cast<BYTE*>(client.pem.data()),
                       static_cast<DWORD>(client.pem.size()), nullptr, nullptr};
  ASSERT_TRUE(InternetSetOptionA(request.get(), INTERNET_OPTION_CLIENT_CERT_CONTEXT, &context,
                                 sizeof(context)));
  ASSERT_TRUE(HttpSendRequestA(request.get(), nullptr, 0, nullptr, 0)) << LastError();
  EXPECT_EQ(StatusCode(request.get()), 200u);
  std::string body;
  ASSERT_TRUE(ReadAll(request.get(), body));
  EXPECT_EQ(body, "secure hello");

  // Choosing no certificate lets the handshake go on; this server then refuses the
  // request itself.
  Handle without = Request(connect);
  ASSERT_TRUE(InternetSetOptionA(without.get(), INTERNET_OPTION_CLIENT_CERT_CONTEXT, nullptr, 0));
  ASSERT_TRUE(HttpSendRequestA(without.get(), nullptr, 0, nullptr, 0)) << LastError();
  EXPECT_EQ(StatusCode(without.get()), 400u);
}

TEST_F(Tls, ClientCertificateOptionRejectsWhatIsNotPem) {
  Handle connect = Connect(mutual);
  Handle request = Request(connect);
  BYTE junk[] = {1, 2, 3};
  CERT_CONTEXT context{X509_ASN_ENCODING, junk, sizeof(junk), nullptr, nullptr};
  EXPECT_FALSE(InternetSetOptionA(request.get(), INTERNET_OPTION_CLIENT_CERT_CONTEXT, &context,
                                  sizeof(context)));
  EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_FALSE(InternetSetOptionA(request.get(), INTERNET_OPTION_CLIENT_CERT_CONTEXT, &context, 7));
  EXPECT_EQ(LastError(), ERROR_INTERNET_BAD_OPTION_LENGTH);
}

}  // namespace

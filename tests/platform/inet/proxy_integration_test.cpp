// Requests through a real proxy with Basic credentials, CONNECT tunnels, the
// bypass list and per-scheme proxy entries.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>

#include "InetTestHelpers.h"
#include "support/CertificateAuthority.h"
#include "support/FaultServer.h"
#include "support/NginxServer.h"
#include "support/ProxyServer.h"
#include "support/TempDir.h"

namespace {

using namespace inet_testing;
using testing_support::FaultRoute;
using testing_support::FaultServer;
using testing_support::ProxyServer;

class Proxy : public ::testing::Test {
 protected:
  void SetUp() override {
    FaultRoute route;
    route.body = "through the proxy";
    server.Route("/p.txt", route);
    if (!ProxyServer::Available()) GTEST_SKIP() << "tinyproxy is not installed";
    proxy = std::make_unique<ProxyServer>(dir.Path(), "pxuser", "pxpass");
    ASSERT_TRUE(proxy->Started());
  }
  HttpSession Open(const std::string& proxyList, const char* bypass = nullptr) {
    return OpenHttp("127.0.0.1", static_cast<INTERNET_PORT>(server.Port()), "GET", "/p.txt", 0,
                    INTERNET_OPEN_TYPE_PROXY, proxyList.c_str(), bypass);
  }
  void SetCredentials(HINTERNET request, const char* user, const char* password) {
    ASSERT_TRUE(InternetSetOptionA(request, INTERNET_OPTION_PROXY_USERNAME, const_cast<char*>(user),
                                   static_cast<DWORD>(std::strlen(user))));
    ASSERT_TRUE(InternetSetOptionA(request, INTERNET_OPTION_PROXY_PASSWORD,
                                   const_cast<char*>(password),
                                   static_cast<DWORD>(std::strlen(password))));
  }

  testing_support::TempDir dir;
  FaultServer server;
  std::unique_ptr<ProxyServer> proxy;
};

TEST_F(Proxy, BasicCredentialsPassTheProxy) {
  HttpSession s = Open(proxy->HostPort());
  SetCredentials(s.request.get(), "pxuser", "pxpass");
  ASSERT_TRUE(HttpSendRequestA(s.request.get(), nullptr, 0, nullptr, 0)) << LastError();
  EXPECT_EQ(StatusCode(s.request.get()), 200u);
  std::string body;
  ASSERT_TRUE(ReadAll(s.request.get(), body));
  EXPECT_EQ(body, "through the proxy");
  ASSERT_EQ(server.Requests().size(), 1u);
  EXPECT_EQ(server.Requests()[0].path, "/p.txt");
  char user[64] = {};
  DWORD size = sizeof(user);
  ASSERT_TRUE(InternetQueryOptionA(s.request.get(), INTERNET_OPTION_PROXY_USERNAME, user, &size));
  EXPECT_STREQ(user, "pxuser");
}

TEST_F(Proxy, MissingOrWrongCredentialsGiveStatus407) {
  HttpSession none = Open(proxy->HostPort());
  ASSERT_TRUE(HttpSendRequestA(none.request.get(), nullptr, 0, nullptr, 0)) << LastError();
  EXPECT_EQ(StatusCode(none.request.get()), 407u);

  HttpSession wrong = Open(proxy->HostPort());
  SetCredentials(wrong.request.get(), "pxuser", "nope");
  ASSERT_TRUE(HttpSendRequestA(wrong.request.get(), nullptr, 0, nullptr, 0)) << LastError();
  // This proxy answers a bad Basic password with 401 after the 407 challenge; what
  // matters is that the proxy's refusal is the final answer the caller sees.
  DWORD status = StatusCode(wrong.request.get());
  EXPECT_TRUE(status == 407u || status == 401u) << status;
  EXPECT_TRUE(server.Requests().empty());
}

TEST_F(Proxy, CredentialsSetAfterA407AreUsedByTheNextSend) {
  HttpSession s = Open(proxy->HostPort());
  ASSERT_TRUE(HttpSendRequestA(s.request.get(), nullptr, 0, nullptr, 0));
  ASSERT_EQ(StatusCode(s.request.get()), 407u);
  SetCredentials(s.request.get(), "pxuser", "pxpass");
  ASSERT_TRUE(HttpSendRequestA(s.request.get(), nullptr, 0, nullptr, 0));
  EXPECT_EQ(StatusCode(s.request.get()), 200u);
}

TEST_F(Proxy, RefusedTunnelReportsStatus407AndCredentialsOpenIt) {
  if (!testing_support::NginxServer::Available()) GTEST_SKIP() << "nginx is not installed";
  testing_support::WriteFile(dir.File("t.txt"), "tunnelled");
  testing_support::CertificateAuthority ca(dir.Path());
  auto cert = ca.Issue("tls", {"localhost"}, {"127.0.0.1"});
  testing_support::NginxOptions options;
  options.root = dir.Path();
  options.certFile = cert.certFile;
  options.keyFile = cert.keyFile;
  testing_support::NginxServer nginx(dir.File("nginx"), options);
  ASSERT_TRUE(nginx.Started());
  setenv("SSL_CERT_FILE", ca.CaFile().c_str(), 1);

  HttpSession refused = OpenHttp("127.0.0.1", static_cast<INTERNET_PORT>(nginx.Port()), "GET",
                                 "/t.txt", INTERNET_FLAG_SECURE, INTERNET_OPEN_TYPE_PROXY,
                                 proxy->HostPort().c_str());
  ASSERT_TRUE(HttpSendRequestA(refused.request.get(), nullptr, 0, nullptr, 0)) << LastError();
  EXPECT_EQ(StatusCode(refused.request.get()), 407u);

  HttpSession open = OpenHttp("127.0.0.1", static_cast<INTERNET_PORT>(nginx.Port()), "GET",
                              "/t.txt", INTERNET_FLAG_SECURE, INTERNET_OPEN_TYPE_PROXY,
                              proxy->HostPort().c_str());
  SetCredentials(open.request.get(), "pxuser", "pxpass");
  ASSERT_TRUE(HttpSendRequestA(open.request.get(), nullptr, 0, nullptr, 0)) << LastError();
  EXPECT_EQ(StatusCode(open.request.get()), 200u);
  std::string body;
  ASSERT_TRUE(ReadAll(open.request.get(), body));
  EXPECT_EQ(body, "tunnelled");
  unsetenv("SSL_CERT_FILE");
  EXPECT_NE(proxy->Log().find("CONNECT"), std::string::npos);
}

TEST_F(Proxy, BypassListSendsMatchingHostsDirect) {
  // Nothing listens on the proxy port named here: only a bypassed request can work.
  HttpSession direct = Open("127.0.0.1:1", "localhost;127.0.0.*");
  ASSERT_TRUE(HttpSendRequestA(direct.request.get(), nullptr, 0, nullptr, 0)) << LastError();
  EXPECT_EQ(StatusCode(direct.request.get()), 200u);

  HttpSession viaDeadProxy = Open("127.0.0.1:1", "other.example");
  EXPECT_FALSE(HttpSendRequestA(viaDeadProxy.request.get(), nullptr, 0, nullptr, 0));
  EXPECT_EQ(LastError(), ERROR_INTERNET_CANNOT_CONNECT);
}

TEST_F(Proxy, PerSchemeEntryChoosesTheProxyForHttp) {
  HttpSession s = Open("https=127.0.0.1:1 http=" + proxy->HostPort());
  SetCredentials(s.request.get(), "pxuser", "pxpass");
  ASSERT_TRUE(HttpSendRequestA(s.request.get(), nullptr, 0, nullptr, 0)) << LastError();
  EXPECT_EQ(StatusCode(s.request.get()), 200u);
}

}  // namespace

namespace {

// Digest: the fault server plays the proxy (and, separately, the origin server).
class Digest : public ::testing::Test {
 protected:
  FaultServer server;
};

TEST_F(Digest, ProxyDigestChallengeIsAnsweredWithTheProxyCredentials) {
  FaultRoute route;
  route.body = "digest proxied";
  route.digestUser = "dig";
  route.digestPassword = "est";
  route.digestAsProxy = true;
  server.Route("/d.txt", route);
  // The target port is never contacted: the request goes to the proxy.
  HttpSession s = OpenHttp("127.0.0.1", 9, "GET", "/d.txt", 0, INTERNET_OPEN_TYPE_PROXY,
                           ("127.0.0.1:" + std::to_string(server.Port())).c_str());
  ASSERT_TRUE(HttpSendRequestA(s.request.get(), nullptr, 0, nullptr, 0)) << LastError();
  ASSERT_EQ(StatusCode(s.request.get()), 407u);
  InternetSetOptionA(s.request.get(), INTERNET_OPTION_PROXY_USERNAME, const_cast<char*>("dig"), 3);
  InternetSetOptionA(s.request.get(), INTERNET_OPTION_PROXY_PASSWORD, const_cast<char*>("est"), 3);
  ASSERT_TRUE(HttpSendRequestA(s.request.get(), nullptr, 0, nullptr, 0)) << LastError();
  EXPECT_EQ(StatusCode(s.request.get()), 200u);
  std::string body;
  ASSERT_TRUE(ReadAll(s.request.get(), body));
  EXPECT_EQ(body, "digest proxied");
  auto requests = server.Requests();
  ASSERT_GE(requests.size(), 3u);
  EXPECT_EQ(requests.back().path, "http://127.0.0.1:9/d.txt");
  EXPECT_EQ(requests.back().Header("proxy-authorization").rfind("Digest ", 0), 0u);
}

TEST_F(Digest, WrongProxyPasswordEndsWith407) {
  FaultRoute route;
  route.body = "x";
  route.digestUser = "dig";
  route.digestPassword = "est";
  route.digestAsProxy = true;
  server.Route("/d.txt", route);
  HttpSession s = OpenHttp("127.0.0.1", 9, "GET", "/d.txt", 0, INTERNET_OPEN_TYPE_PROXY,
                           ("127.0.0.1:" + std::to_string(server.Port())).c_str());
  InternetSetOptionA(s.request.get(), INTERNET_OPTION_PROXY_USERNAME, const_cast<char*>("dig"), 3);
  InternetSetOptionA(s.request.get(), INTERNET_OPTION_PROXY_PASSWORD, const_cast<char*>("bad"), 3);
  ASSERT_TRUE(HttpSendRequestA(s.request.get(), nullptr, 0, nullptr, 0)) << LastError();
  EXPECT_EQ(StatusCode(s.request.get()), 407u);
}

TEST_F(Digest, ServerDigestUsesTheConnectCredentials) {
  FaultRoute route;
  route.body = "digest origin";
  route.digestUser = "joe";
  route.digestPassword = "pw";
  server.Route("/o.txt", route);
  Handle root(InternetOpenA("inet-test", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0));
  Handle connect(InternetConnectA(root.get(), "127.0.0.1", static_cast<INTERNET_PORT>(server.Port()),
                                  "joe", "pw", INTERNET_SERVICE_HTTP, 0, 0));
  Handle request(HttpOpenRequestA(connect.get(), "GET", "/o.txt", nullptr, nullptr, nullptr, 0, 0));
  ASSERT_TRUE(HttpSendRequestA(request.get(), nullptr, 0, nullptr, 0)) << LastError();
  EXPECT_EQ(StatusCode(request.get()), 200u);
  std::string body;
  ASSERT_TRUE(ReadAll(request.get(), body));
  EXPECT_EQ(body, "digest origin");
}

}  // namespace

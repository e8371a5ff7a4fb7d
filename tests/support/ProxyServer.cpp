#include "support/ProxyServer.h"

#include <sys/stat.h>
#include <unistd.h>

#include "support/TempDir.h"

namespace testing_support {

namespace {

const char* kDigestHelper = "/usr/lib/squid/digest_file_auth";

}  // namespace

bool ProxyServer::Available(ProxyAuth auth) {
  if (auth == ProxyAuth::kDigest) {
    return !FindProgram("squid").empty() && ::access(kDigestHelper, X_OK) == 0;
  }
  return !FindProgram("tinyproxy").empty();
}

ProxyServer::ProxyServer(const std::string& workFolder, const std::string& user,
                         const std::string& password, ProxyAuth auth) {
  port_ = FreeLoopbackPort();
  if (auth == ProxyAuth::kDigest) {
    // squid drops to its own user: what it writes must be writable by anyone.
    ::chmod(workFolder.c_str(), 0777);
    logFile_ = workFolder + "/squid-access.log";
    secondLog_ = workFolder + "/squid-cache.log";
    WriteFile(workFolder + "/digest.pass", user + ":" + password + "\n");
    WriteFile(workFolder + "/squid.conf",
              "http_port 127.0.0.1:" + std::to_string(port_) + "\npid_filename " + workFolder +
                  "/squid.pid\ncache_log " + secondLog_ + "\naccess_log stdio:" + logFile_ +
                  "\ncache deny all\ncoredump_dir " + workFolder +
                  "\nshutdown_lifetime 0 seconds\nauth_param digest program " + kDigestHelper +
                  " " + workFolder + "/digest.pass\nauth_param digest realm loopback\n"
                  "auth_param digest children 2\nacl authed proxy_auth REQUIRED\n"
                  "http_access allow authed\nhttp_access deny all\n");
    process_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{FindProgram("squid"), "-N", "-f", workFolder + "/squid.conf"},
        workFolder + "/squid.out");
    started_ = WaitForListener(port_, std::chrono::seconds(20));
    return;
  }
  logFile_ = workFolder + "/tinyproxy.log";
  std::string config = "Port " + std::to_string(port_) +
                       "\nListen 127.0.0.1\nTimeout 60\nLogLevel Info\nMaxClients 50\n"
                       "Allow 127.0.0.1\nLogFile \"" + logFile_ + "\"\nPidFile \"" + workFolder +
                       "/tinyproxy.pid\"\n";
  if (!user.empty()) config += "BasicAuth " + user + " " + password + "\n";
  WriteFile(workFolder + "/tinyproxy.conf", config);
  process_ = std::make_unique<ChildProcess>(
      std::vector<std::string>{FindProgram("tinyproxy"), "-d", "-c", workFolder + "/tinyproxy.conf"},
      workFolder + "/tinyproxy.out");
  started_ = WaitForListener(port_, std::chrono::seconds(10));
}

ProxyServer::~ProxyServer() = default;

std::string ProxyServer::Log() const {
  return ReadFile(logFile_) + (secondLog_.empty() ? "" : ReadFile(secondLog_));
}

}  // namespace testing_support

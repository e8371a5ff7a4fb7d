// A real forwarding proxy on a free 127.0.0.1 port: tinyproxy, optionally
// requiring Basic credentials, or squid requiring Digest credentials (and
// refusing Basic ones); both forward plain requests and CONNECT tunnels.
#pragma once

#include <memory>
#include <string>

#include "support/ChildProcess.h"

namespace testing_support {

enum class ProxyAuth { kBasic, kDigest };

class ProxyServer {
 public:
  static bool Available(ProxyAuth auth = ProxyAuth::kBasic);

  // Empty user: no credentials needed (Basic only).
  ProxyServer(const std::string& workFolder, const std::string& user,
              const std::string& password, ProxyAuth auth = ProxyAuth::kBasic);
  ~ProxyServer();

  bool Started() const { return started_; }
  int Port() const { return port_; }
  std::string HostPort() const { return "127.0.0.1:" + std::to_string(port_); }
  // The proxy's logs (squid: its access log, then its cache log, where it
  // names every credential scheme it refused).
  std::string Log() const;

 private:
  int port_ = 0;
  bool started_ = false;
  std::string logFile_;
  std::string secondLog_;
  std::unique_ptr<ChildProcess> process_;
};

}  // namespace testing_support

// A real forwarding proxy (tinyproxy) on a free 127.0.0.1 port, optionally
// requiring Basic credentials; it forwards plain requests and CONNECT tunnels.
#pragma once

#include <memory>
#include <string>

#include "support/ChildProcess.h"

namespace testing_support {

class ProxyServer {
 public:
  static bool Available();

  // Empty user: no credentials needed.
  ProxyServer(const std::string& workFolder, const std::string& user,
              const std::string& password);
  ~ProxyServer();

  bool Started() const { return started_; }
  int Port() const { return port_; }
  std::string HostPort() const { return "127.0.0.1:" + std::to_string(port_); }
  std::string Log() const;

 private:
  int port_ = 0;
  bool started_ = false;
  std::string logFile_;
  std::unique_ptr<ChildProcess> process_;
};

}  // namespace testing_support

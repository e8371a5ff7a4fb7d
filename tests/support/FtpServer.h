// A real FTP server (python3-pyftpdlib) serving a folder on a free 127.0.0.1 port,
// with one user account and anonymous access, passive and active data connections.
#pragma once

#include <memory>
#include <string>

#include "support/ChildProcess.h"

namespace testing_support {

class FtpServer {
 public:
  static bool Available();

  FtpServer(const std::string& workFolder, const std::string& root, const std::string& user,
            const std::string& password);
  ~FtpServer();

  bool Started() const { return started_; }
  int Port() const { return port_; }
  // The server's log: every command it received.
  std::string Log() const;

 private:
  int port_ = 0;
  bool started_ = false;
  std::string logFile_;
  std::unique_ptr<ChildProcess> process_;
};

}  // namespace testing_support

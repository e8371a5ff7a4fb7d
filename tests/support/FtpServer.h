// A real FTP server (python3-pyftpdlib) serving a folder on a free 127.0.0.1 port,
// with one user account and anonymous access, passive and active data connections;
// on request the first retrieval of a file ends after some bytes (a cut transfer).
#pragma once

#include <memory>
#include <string>

#include "support/ChildProcess.h"

namespace testing_support {

class FtpServer {
 public:
  static bool Available();

  // CutFirstAt > 0: the first RETR sends at most that many bytes and ends.
  FtpServer(const std::string& workFolder, const std::string& root, const std::string& user,
            const std::string& password, std::size_t cutFirstAt = 0);
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

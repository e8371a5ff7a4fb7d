// A real nginx serving a folder on a free 127.0.0.1 port, plain or with TLS
// (optionally asking for client certificates). Started by the constructor,
// stopped by the destructor. Available() tells whether nginx is installed.
#pragma once

#include <memory>
#include <string>

#include "support/ChildProcess.h"

namespace testing_support {

struct NginxOptions {
  std::string root;              // folder served at "/"
  std::string certFile;          // TLS when set
  std::string keyFile;
  std::string clientCaFile;      // when set, a client certificate is required
  std::string extraServerLines;  // more directives inside the server block
};

class NginxServer {
 public:
  static bool Available();

  NginxServer(const std::string& workFolder, const NginxOptions& options);
  ~NginxServer();

  bool Started() const { return started_; }
  int Port() const { return port_; }
  // "http(s)://127.0.0.1:port" + path
  std::string Url(const std::string& path) const;
  std::string AccessLog() const;

 private:
  std::string folder_;
  int port_ = 0;
  bool tls_ = false;
  bool started_ = false;
  std::unique_ptr<ChildProcess> process_;
};

}  // namespace testing_support

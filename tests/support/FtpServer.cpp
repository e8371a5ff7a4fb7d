#include "support/FtpServer.h"

#include <unistd.h>

#include <cstdlib>

#include "support/TempDir.h"

namespace testing_support {
namespace {

const char* kPython = "/usr/bin/python3";

const char* kScript = R"PY(
import logging, sys
from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer
root, port, user, password = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4]
logging.basicConfig(level=logging.DEBUG, stream=sys.stderr)
authorizer = DummyAuthorizer()
authorizer.add_user(user, password, root, perm="elr")
authorizer.add_anonymous(root)
handler = FTPHandler
handler.authorizer = authorizer
handler.banner = "loopback test ftp ready"
server = FTPServer(("127.0.0.1", port), handler)
server.serve_forever()
)PY";

}  // namespace

bool FtpServer::Available() {
  if (access(kPython, X_OK) != 0) return false;
  std::string command = std::string(kPython) + " -c 'import pyftpdlib' >/dev/null 2>&1";
  return std::system(command.c_str()) == 0;
}

FtpServer::FtpServer(const std::string& workFolder, const std::string& root,
                     const std::string& user, const std::string& password) {
  port_ = FreeLoopbackPort();
  std::string script = workFolder + "/ftpserver.py";
  WriteFile(script, kScript);
  logFile_ = workFolder + "/ftpserver.log";
  process_ = std::make_unique<ChildProcess>(
      std::vector<std::string>{kPython, script, root, std::to_string(port_), user, password},
      logFile_);
  started_ = WaitForListener(port_, std::chrono::seconds(15));
}

FtpServer::~FtpServer() = default;

std::string FtpServer::Log() const { return ReadFile(logFile_); }

}  // namespace testing_support

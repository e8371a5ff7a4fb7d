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
from pyftpdlib.filesystems import AbstractedFS
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer
root, port, user, password = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4]
cut = [int(sys.argv[5])]

class Cut:
    def __init__(self, f, left):
        self.f, self.left = f, left
    def read(self, size=-1):
        if self.left <= 0:
            return b""
        data = self.f.read(self.left if size < 0 else min(size, self.left))
        self.left -= len(data)
        return data
    def __getattr__(self, name):
        return getattr(self.f, name)

class CutFS(AbstractedFS):
    def open(self, filename, mode):
        f = super().open(filename, mode)
        if "r" in mode and cut[0] > 0:
            left, cut[0] = cut[0], 0
            return Cut(f, left)
        return f
logging.basicConfig(level=logging.DEBUG, stream=sys.stderr)
authorizer = DummyAuthorizer()
authorizer.add_user(user, password, root, perm="elr")
authorizer.add_anonymous(root)
handler = FTPHandler
handler.authorizer = authorizer
handler.banner = "loopback test ftp ready"
handler.abstracted_fs = CutFS
handler.use_sendfile = False
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
                     const std::string& user, const std::string& password,
                     std::size_t cutFirstAt) {
  port_ = FreeLoopbackPort();
  std::string script = workFolder + "/ftpserver.py";
  WriteFile(script, kScript);
  logFile_ = workFolder + "/ftpserver.log";
  process_ = std::make_unique<ChildProcess>(
      std::vector<std::string>{kPython, script, root, std::to_string(port_), user, password,
                               std::to_string(cutFirstAt)},
      logFile_);
  started_ = WaitForListener(port_, std::chrono::seconds(15));
}

FtpServer::~FtpServer() = default;

std::string FtpServer::Log() const { return ReadFile(logFile_); }

}  // namespace testing_support

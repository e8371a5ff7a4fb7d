#include "support/ProxyServer.h"

#include "support/TempDir.h"

namespace testing_support {

bool ProxyServer::Available() { return !FindProgram("tinyproxy").empty(); }

ProxyServer::ProxyServer(const std::string& workFolder, const std::string& user,
                         const std::string& password) {
  port_ = FreeLoopbackPort();
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

std::string ProxyServer::Log() const { return ReadFile(logFile_); }

}  // namespace testing_support

#include "support/NginxServer.h"

#include <sys/stat.h>

#include "support/TempDir.h"

namespace testing_support {

bool NginxServer::Available() { return !FindProgram("nginx").empty(); }

NginxServer::NginxServer(const std::string& workFolder, const NginxOptions& options)
    : folder_(workFolder), tls_(!options.certFile.empty()) {
  mkdir(folder_.c_str(), 0755);
  mkdir((folder_ + "/tmp").c_str(), 0755);
  port_ = FreeLoopbackPort();
  std::string tmp = folder_ + "/tmp";
  std::string config =
      "daemon off;\nmaster_process off;\nworker_processes 1;\n"
      "pid " + folder_ + "/nginx.pid;\nerror_log " + folder_ + "/error.log info;\n"
      "events { worker_connections 256; }\n"
      "http {\n"
      "  access_log " + folder_ + "/access.log;\n"
      "  client_body_temp_path " + tmp + "; proxy_temp_path " + tmp + ";\n"
      "  fastcgi_temp_path " + tmp + "; uwsgi_temp_path " + tmp + "; scgi_temp_path " + tmp + ";\n"
      "  default_type application/octet-stream;\n"
      "  types { text/plain txt; text/html html; application/zip zip; }\n"
      "  sendfile on;\n  keepalive_requests 10000;\n"
      "  server {\n"
      "    listen 127.0.0.1:" + std::to_string(port_) + (tls_ ? " ssl" : "") + ";\n"
      "    server_name localhost;\n"
      "    root " + options.root + ";\n";
  if (tls_) {
    config += "    ssl_certificate " + options.certFile + ";\n    ssl_certificate_key " +
              options.keyFile + ";\n";
    if (!options.clientCaFile.empty()) {
      config += "    ssl_client_certificate " + options.clientCaFile +
                ";\n    ssl_verify_client on;\n";
    }
  }
  config += options.extraServerLines + "  }\n}\n";
  WriteFile(folder_ + "/nginx.conf", config);
  process_ = std::make_unique<ChildProcess>(
      std::vector<std::string>{FindProgram("nginx"), "-p", folder_, "-c", folder_ + "/nginx.conf",
                               "-e", folder_ + "/error.log"},
      folder_ + "/stdout.log");
  started_ = WaitForListener(port_, std::chrono::seconds(10));
}

NginxServer::~NginxServer() = default;

std::string NginxServer::Url(const std::string& path) const {
  return std::string(tls_ ? "https" : "http") + "://127.0.0.1:" + std::to_string(port_) + path;
}

std::string NginxServer::AccessLog() const { return ReadFile(folder_ + "/access.log"); }

}  // namespace testing_support

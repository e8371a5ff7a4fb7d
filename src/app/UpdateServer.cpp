#include "app/UpdateServer.h"

#include <cstdlib>

#include "app/ULiveconst.h"

#ifndef LIVEUPDATE_DEFAULT_SERVER
#error "LIVEUPDATE_DEFAULT_SERVER must name the build's default update server"
#endif

namespace app {

std::string UpdateServerBaseUrl() {
  const char* configured = std::getenv(std::string(kServerEnvironmentVariable).c_str());
  std::string base =
      configured != nullptr && *configured != '\0' ? configured : LIVEUPDATE_DEFAULT_SERVER;
  while (!base.empty() && base.back() == '/') base.pop_back();
  return base;
}

std::string DefaultUpdateServer() {
  return LIVEUPDATE_DEFAULT_SERVER;
}

std::string UpdateListUrl(std::string_view base) {
  return std::string(base) + std::string(kServerListPath);
}

std::string UpdateFileUrl(std::string_view base, std::string_view path) {
  return std::string(base) + std::string(kServerFilePath) + std::string(path);
}

}  // namespace app

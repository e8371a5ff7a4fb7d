#include "EngineSettings.h"

#include <unistd.h>

#include <cctype>
#include <climits>
#include <cstdio>

#include "download/clMultiDownLoader.h"

namespace multidl {
namespace {

std::string PercentEncode(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
      out += static_cast<char>(c);
    } else {
      char escaped[4];
      std::snprintf(escaped, sizeof escaped, "%%%02X", c);
      out += escaped;
    }
  }
  return out;
}

std::string Combine(const std::string& folder, const std::string& name) {
  if (!name.empty() && name[0] == '/') return name;
  if (folder.empty()) return name;
  return folder.back() == '/' ? folder + name : folder + "/" + name;
}

// The last part of the URL's path, without query or fragment.
std::string UrlFileName(const std::string& url) {
  std::size_t start = url.find("://");
  start = start == std::string::npos ? 0 : start + 3;
  const std::size_t pathStart = url.find('/', start);
  if (pathStart == std::string::npos) return "";
  std::string path = url.substr(pathStart, url.find_first_of("?#", pathStart) - pathStart);
  std::string name = path.substr(path.rfind('/') + 1);
  if (name == "." || name == "..") return "";
  return name;
}

}  // namespace

void ApplyToControl(const Settings& s, const std::string& folder, TclMultiDownLoader& control) {
  control.SetTryCount(s.tries);
  control.SetTimeOut(s.timeout);
  control.SetReconnectAfter(s.reconnectAfter);
  control.SetBatchSize(s.batchSize);
  control.SetMinResourceSize(s.minSize);
  control.SetMaxResourceSize(s.maxSize);
  control.SetProxy(s.hasProxyUser ? ProxyWithCredentials(s.proxy, s.proxyUser, s.proxyPassword)
                                  : s.proxy);
  control.SetProxyBypass(s.proxyBypass);
  if (!s.userAgent.empty()) control.SetInternetAgent(s.userAgent);
  control.SetPassiveFTPMode(s.passiveFtp);
  control.SetCorrectResourceTime(s.remoteTime);
  control.SetDoNotGetResourceInfo(s.skipInfo);
  // Beyond the component's defaults: what a command-line user expects.
  control.SetRetryPermanentErrors(s.retryPermanent);
  control.SetHonorRetryAfter(true);
  control.SetHeadFallback(true);
  control.SetKeepSizeWithoutHeaders(true);
  control.SetSplitSegments(!s.fixedSegments);
  control.SetHeadOnlyInfo(true);
  control.SetReuseResourceInfo(true);
  control.SetLocalFolder(folder);
}

void ApplyToItem(const Settings& s, TclDownLoadItem& item) {
  item.SetThreadCount(s.threads);
  item.SetKeepConnection(s.keepConnection);
  item.SetPriority(s.priority);
  TclCertificateFlags flags;
  if (s.insecureHostName) flags.Include(cfIgnoreCommonNameInvalid);
  if (s.insecureDate) flags.Include(cfIgnoreDateInvalid);
  if (s.insecureAuthority) flags.Include(cfIgnoreUnknownAuthority);
  item.SetCertificateFlags(flags);
  // With the dialog allowed, a certificate error is only sent again as it was;
  // without it the worker applies the flags before the repeat.
  item.SetUseInternetErrorDialog(false);
  item.SetAllowCompression(!s.noCompression);
  if (!s.user.empty()) {
    item.SetUserName(s.user);
    item.SetPassword(s.password);
  }
}

std::string ProxyWithCredentials(const std::string& proxy, const std::string& user,
                                 const std::string& password) {
  if (user.empty()) return proxy;
  std::string rest = proxy;
  std::string scheme = "http://";
  const std::size_t schemeEnd = rest.find("://");
  if (schemeEnd != std::string::npos) {
    scheme = rest.substr(0, schemeEnd + 3);
    rest = rest.substr(schemeEnd + 3);
  }
  // Credentials already in the text are replaced.
  const std::size_t at = rest.rfind('@');
  if (at != std::string::npos) rest = rest.substr(at + 1);
  return scheme + PercentEncode(user) + ":" + PercentEncode(password) + "@" + rest;
}

std::string LocalFileFor(const std::string& output, const std::string& suggested,
                         const std::string& url, const std::string& folder) {
  if (!output.empty()) return Combine(folder, output);
  if (!suggested.empty() && suggested.back() != '/') return suggested;
  const std::string name = UrlFileName(url);
  return Combine(folder, name.empty() ? "index.html" : name);
}

std::string AbsoluteFolder(const std::string& folder) {
  std::string result = folder;
  if (result.empty() || result[0] != '/') {
    char cwd[PATH_MAX];
    const std::string base = ::getcwd(cwd, sizeof cwd) ? cwd : ".";
    result = result.empty() || result == "." ? base : Combine(base, result);
  }
  while (result.size() > 1 && result.back() == '/') result.pop_back();
  return result;
}

}  // namespace multidl

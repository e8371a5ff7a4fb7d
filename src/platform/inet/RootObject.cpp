#include "platform/inet/RootObject.h"

#include <cctype>
#include <utility>

namespace inet {
namespace {

constexpr size_t kIdleEntriesPerKey = 16;

std::vector<std::string> SplitList(const std::string& text, const char* separators) {
  std::vector<std::string> items;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find_first_of(separators, pos);
    if (end == std::string::npos) end = text.size();
    if (end > pos) items.push_back(text.substr(pos, end - pos));
    pos = end + 1;
  }
  return items;
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

bool WildcardMatch(const char* pattern, const char* text) {
  if (*pattern == '\0') return *text == '\0';
  if (*pattern == '*') {
    for (const char* t = text;; ++t) {
      if (WildcardMatch(pattern + 1, t)) return true;
      if (*t == '\0') return false;
    }
  }
  return *text != '\0' && *pattern == *text && WildcardMatch(pattern + 1, text + 1);
}

}  // namespace

PoolEntry::PoolEntry(std::string poolKey) : key(std::move(poolKey)), multi(curl_multi_init()) {}

PoolEntry::~PoolEntry() {
  if (multi != nullptr) curl_multi_cleanup(multi);
}

std::vector<ProxyEntry> ParseProxyList(const std::string& text) {
  std::vector<ProxyEntry> entries;
  for (const std::string& item : SplitList(text, " ;\t")) {
    ProxyEntry entry;
    std::string rest = item;
    size_t equals = rest.find('=');
    if (equals != std::string::npos) {
      entry.scheme = Lower(rest.substr(0, equals));
      rest = rest.substr(equals + 1);
    }
    size_t schemeEnd = rest.find("://");
    if (schemeEnd != std::string::npos) {
      rest = rest.substr(schemeEnd + 3);
    }
    while (!rest.empty() && rest.back() == '/') rest.pop_back();
    if (rest.empty()) continue;
    if (rest.find(':') == std::string::npos || rest.back() == ']') rest += ":80";
    entry.hostPort = rest;
    entries.push_back(entry);
  }
  return entries;
}

std::vector<std::string> ParseBypassList(const std::string& text) {
  std::vector<std::string> items;
  for (const std::string& item : SplitList(text, " ;,\t")) items.push_back(Lower(item));
  return items;
}

bool BypassMatches(const std::vector<std::string>& bypass, const std::string& host) {
  std::string name = Lower(host);
  for (const std::string& pattern : bypass) {
    if (pattern == "<local>") {
      if (name.find('.') == std::string::npos && name.find(':') == std::string::npos) return true;
      continue;
    }
    if (WildcardMatch(pattern.c_str(), name.c_str())) return true;
  }
  return false;
}

RootObject::RootObject(std::string agent, DWORD accessType, const char* proxy,
                       const char* bypass, DWORD)
    : InetObject(ObjectKind::kRoot, nullptr, 0), agent_(std::move(agent)), accessType_(accessType) {
  if (accessType_ == INTERNET_OPEN_TYPE_PROXY) {
    proxyText_ = proxy ? proxy : "";
    proxies_ = ParseProxyList(proxyText_);
    bypass_ = ParseBypassList(bypass ? bypass : "");
  }
}

RootObject::~RootObject() = default;

std::string RootObject::ProxyFor(const std::string& scheme, const std::string& host,
                                 bool& useEnvironment) const {
  useEnvironment = accessType_ == INTERNET_OPEN_TYPE_PRECONFIG ||
                   accessType_ == INTERNET_OPEN_TYPE_PRECONFIG_WITH_NO_AUTOPROXY;
  if (accessType_ != INTERNET_OPEN_TYPE_PROXY || BypassMatches(bypass_, host)) {
    return "";
  }
  const ProxyEntry* chosen = nullptr;
  for (const ProxyEntry& entry : proxies_) {
    if (entry.scheme == scheme) {
      chosen = &entry;
      break;
    }
    if (entry.scheme.empty() && chosen == nullptr) chosen = &entry;
  }
  return chosen ? "http://" + chosen->hostPort : "";
}

std::unique_ptr<PoolEntry> RootObject::Borrow(const std::string& key) {
  {
    std::lock_guard<std::mutex> lock(poolMutex_);
    auto found = pool_.find(key);
    if (found != pool_.end()) {
      std::unique_ptr<PoolEntry> entry = std::move(found->second);
      pool_.erase(found);
      return entry;
    }
  }
  return std::make_unique<PoolEntry>(key);
}

void RootObject::Return(std::unique_ptr<PoolEntry> entry) {
  if (!entry) return;
  std::unique_ptr<PoolEntry> surplus;
  {
    std::lock_guard<std::mutex> lock(poolMutex_);
    if (pool_.count(entry->key) < kIdleEntriesPerKey) {
      std::string key = entry->key;
      pool_.emplace(std::move(key), std::move(entry));
    } else {
      surplus = std::move(entry);
    }
  }
  // surplus (if any) is cleaned up here, outside the lock.
}

ConnectObject::ConnectObject(std::shared_ptr<InetObject> root, std::string hostName,
                             INTERNET_PORT portNumber, std::string userName,
                             std::string passwordText, DWORD serviceKind, DWORD connectFlags,
                             DWORD_PTR context)
    : InetObject(ObjectKind::kConnect, std::move(root), context),
      host(std::move(hostName)),
      port(portNumber),
      user(std::move(userName)),
      password(std::move(passwordText)),
      service(serviceKind),
      flags(connectFlags) {}

}  // namespace inet

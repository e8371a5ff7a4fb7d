// The root handle (InternetOpenA) with its proxy settings, status callback and the
// pools of multi handles its transfers borrow, and the connect handle
// (InternetConnectA).
//
// Threads: the pools are guarded by the root's mutex and may be used from any
// thread; a borrowed entry belongs to one transfer until it is returned. The
// callback pointer is atomic. Other fields are written at creation only.
#pragma once

#include <curl/curl.h>

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/inet/InetObject.h"
#include "platform/inet/TlsPolicy.h"

namespace inet {

// One multi handle with its warm connections. Transfers that may share connections
// share a key (scheme, host, port, credentials, proxy, TLS flags, client
// certificate); relaxed and strict TLS settings never meet in one entry.
struct PoolEntry {
  explicit PoolEntry(std::string poolKey);
  ~PoolEntry();
  PoolEntry(const PoolEntry&) = delete;
  PoolEntry& operator=(const PoolEntry&) = delete;

  std::string key;
  CURLM* multi;
  TlsPolicy tls;
};

struct ProxyEntry {
  std::string scheme;  // empty: for every scheme
  std::string hostPort;
};

// Pure helpers for the proxy text and bypass list of InternetOpenA.
std::vector<ProxyEntry> ParseProxyList(const std::string& text);
std::vector<std::string> ParseBypassList(const std::string& text);
bool BypassMatches(const std::vector<std::string>& bypass, const std::string& host);

class RootObject : public InetObject {
 public:
  RootObject(std::string agent, DWORD accessType, const char* proxy, const char* bypass,
             DWORD flags);
  ~RootObject() override;

  const std::string& Agent() const { return agent_; }
  DWORD AccessType() const { return accessType_; }
  // The proxy URL for a request, "" for a direct connection, or nothing to leave
  // the choice to the environment (preconfigured access).
  std::string ProxyFor(const std::string& scheme, const std::string& host, bool& useEnvironment) const;
  const std::string& ProxyText() const { return proxyText_; }

  INTERNET_STATUS_CALLBACK StatusCallback() const { return callback_.load(); }
  INTERNET_STATUS_CALLBACK SetStatusCallback(INTERNET_STATUS_CALLBACK callback) {
    return callback_.exchange(callback);
  }

  std::unique_ptr<PoolEntry> Borrow(const std::string& key);
  void Return(std::unique_ptr<PoolEntry> entry);

 private:
  std::string agent_;
  DWORD accessType_;
  std::string proxyText_;
  std::vector<ProxyEntry> proxies_;
  std::vector<std::string> bypass_;
  std::atomic<INTERNET_STATUS_CALLBACK> callback_{nullptr};
  std::mutex poolMutex_;
  std::multimap<std::string, std::unique_ptr<PoolEntry>> pool_;  // guarded by poolMutex_
};

class ConnectObject : public InetObject {
 public:
  ConnectObject(std::shared_ptr<InetObject> root, std::string host, INTERNET_PORT port,
                std::string user, std::string password, DWORD service, DWORD flags,
                DWORD_PTR context);

  std::string host;
  INTERNET_PORT port;
  std::string user;
  std::string password;
  DWORD service;
  DWORD flags;
};

}  // namespace inet

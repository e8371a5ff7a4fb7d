#include "Readers.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "Measure.h"
#include "inet/InternetErrors.h"
#include "inet/clConnection.h"
#include "platform/LastError.h"

namespace bench {
namespace {

struct UrlParts {
  std::string host;
  INTERNET_PORT port = 0;
  std::string path;
};

bool CrackUrl(const std::string& url, UrlParts& parts) {
  char host[256] = {};
  char path[2048] = {};
  URL_COMPONENTSA c{};
  c.dwStructSize = sizeof(c);
  c.lpszHostName = host;
  c.dwHostNameLength = sizeof(host);
  c.lpszUrlPath = path;
  c.dwUrlPathLength = sizeof(path);
  if (!InternetCrackUrlA(url.c_str(), 0, ICU_DECODE, &c)) {
    std::fprintf(stderr, "cannot crack %s\n", url.c_str());
    return false;
  }
  parts.host = host;
  parts.port = c.nPort;
  parts.path = path;
  return true;
}

}  // namespace

long long LibraryRead(const std::string& url, DWORD block) {
  UrlParts parts;
  if (!CrackUrl(url, parts)) return -1;
  HINTERNET root = InternetOpenA("bench", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
  HINTERNET connect = InternetConnectA(root, parts.host.c_str(), parts.port, nullptr, nullptr,
                                       INTERNET_SERVICE_HTTP, 0, 0);
  HINTERNET request = HttpOpenRequestA(connect, "GET", parts.path.c_str(), nullptr, nullptr, nullptr,
                                       INTERNET_FLAG_NO_CACHE_WRITE, 0);
  long long total = -1;
  if (request && HttpSendRequestA(request, nullptr, 0, nullptr, 0)) {
    std::vector<char> buffer(block);
    total = 0;
    for (;;) {
      DWORD got = 0;
      if (!InternetReadFile(request, buffer.data(), block, &got)) {
        std::fprintf(stderr, "library read failed after %lld bytes, error %lu\n", total,
                     static_cast<unsigned long>(platform::GetLastError()));
        total = -1;
        break;
      }
      if (got == 0) break;
      total += got;
    }
  } else {
    std::fprintf(stderr, "library request failed, error %lu\n", static_cast<unsigned long>(platform::GetLastError()));
  }
  InternetCloseHandle(root);
  return total;
}

long long ConnectionRead(const std::string& url, DWORD block, int timeOut) {
  UrlParts parts;
  if (!CrackUrl(url, parts)) return -1;
  long long total = 0;
  try {
    // Declared first, so the actions below are freed (and their handles closed)
    // before the connection ends its worker.
    TclInternetConnection connection;
    TclInternetOpenAction open(&connection, "bench", INTERNET_OPEN_TYPE_PRECONFIG, "", "", 0);
    open.Fire(-1);
    TclConnectAction connect(&connection, open.Handle(), parts.host, parts.port, "", "", INTERNET_SERVICE_HTTP,
                             0);
    connect.Fire(timeOut);
    TclHttpOpenRequestAction request(&connection, connect.ParentHandle(), connect.Handle(), "GET", parts.path, "",
                                     "", nullptr, INTERNET_FLAG_NO_CACHE_WRITE);
    request.Fire(timeOut);
    TclHttpSendRequestAction send(&connection, request.ParentHandle(), request.Handle(), "", nullptr, 0);
    send.Fire(timeOut);

    std::vector<char> buffer(static_cast<std::size_t>(block) + 1);
    TclInternetReadFileAction read(&connection, request.ParentHandle(), request.Handle(), buffer.data());
    for (;;) {
      std::memset(buffer.data(), 0, buffer.size());
      read.SetBytesToRead(block);
      read.Fire(timeOut);
      if (read.BytesRead() == 0) break;
      total += read.BytesRead();
    }
  } catch (const EclInternetError& e) {
    std::fprintf(stderr, "connection read failed after %lld bytes: %s (%d)\n", total, e.Message().c_str(),
                 e.ErrorCode());
    return -1;
  }
  return total;
}

long long ConnectionReadOnOneCore(const std::string& url, DWORD block, int timeOut) {
  KeepToOneCore keep;
  return ConnectionRead(url, block, timeOut);
}

}  // namespace bench

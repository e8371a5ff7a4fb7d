// URL cracking and rebuilding on arbitrary input: never crashes, never writes past
// the component buffers, and a rebuilt URL is stable (cracking and rebuilding it
// again gives the same text and the same scheme) unless escaping made a component
// too long for its buffer.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/LastError.h"
#include "platform/inet/InetClient.h"

namespace {

struct Cracked {
  char scheme[32];
  char host[256];
  char user[128];
  char password[128];
  char path[2048];
  char extra[1024];
  URL_COMPONENTSA c;
  bool ok = false;

  explicit Cracked(const std::string& url) {
    std::memset(this, 0, sizeof(*this));
    c.dwStructSize = sizeof(c);
    c.lpszScheme = scheme;
    c.dwSchemeLength = sizeof(scheme);
    c.lpszHostName = host;
    c.dwHostNameLength = sizeof(host);
    c.lpszUserName = user;
    c.dwUserNameLength = sizeof(user);
    c.lpszPassword = password;
    c.dwPasswordLength = sizeof(password);
    c.lpszUrlPath = path;
    c.dwUrlPathLength = sizeof(path);
    c.lpszExtraInfo = extra;
    c.dwExtraInfoLength = sizeof(extra);
    ok = InternetCrackUrlA(url.c_str(), static_cast<DWORD>(url.size()), ICU_DECODE | ICU_ESCAPE,
                           &c) != FALSE;
    if (ok && (c.dwHostNameLength >= sizeof(host) || c.dwUrlPathLength >= sizeof(path) ||
               std::strlen(host) != c.dwHostNameLength || std::strlen(path) != c.dwUrlPathLength)) {
      std::abort();
    }
  }

  // Rebuilds as the URL parser does; empty on failure.
  std::string Rebuild() {
    if (user[0] == '\0') {
      c.lpszUserName = nullptr;
      c.dwUserNameLength = 0;
    }
    if (password[0] == '\0') {
      c.lpszPassword = nullptr;
      c.dwPasswordLength = 0;
    }
    char out[2055];
    DWORD length = sizeof(out);
    DWORD flags = ICU_ESCAPE | (user[0] || password[0] ? ICU_USERNAME : 0);
    if (!InternetCreateUrlA(&c, flags, out, &length)) return "";
    if (length >= sizeof(out) || out[length] != '\0') std::abort();
    return std::string(out, length);
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  if (size > 4096) return 0;
  std::string input(reinterpret_cast<const char*>(data), size);
  if (input.find('\0') != std::string::npos) return 0;
  Cracked first(input);
  if (!first.ok) return 0;
  std::string rebuilt = first.Rebuild();
  if (rebuilt.empty()) return 0;
  Cracked second(rebuilt);
  if (!second.ok) {
    // Escaping may grow a component past its fixed buffer; anything else is a fault.
    if (platform::GetLastError() != ERROR_INSUFFICIENT_BUFFER) std::abort();
    return 0;
  }
  if (second.c.nScheme != first.c.nScheme) std::abort();
  std::string again = second.Rebuild();
  if (again != rebuilt) std::abort();
  return 0;
}

// URL parsing, rebuilding and local file naming through the parser and the
// corrector, over the internet client library loaded at run time. Checks: a
// failed parse leaves cleared parts and an empty URL; a rebuilt URL parses to
// itself (unless escaping made a part too long for its buffer); the local file
// name is the folder plus one path-free name; a corrected path ends in the local
// file's name.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "inet/InternetErrors.h"
#include "platform/LastError.h"
#include "url/URLParser.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

bool Cleared(const TclURLParser& parser) {
  return parser.URL().empty() && parser.Host().empty() && parser.UserName().empty() &&
         parser.Password().empty() && parser.UrlPath().empty() && parser.ExtraInfo().empty() &&
         parser.Port() == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 4096) return 0;
  std::string input(reinterpret_cast<const char*>(data), size);
  if (input.find('\0') != std::string::npos) return 0;

  TclURLParser parser;
  std::string rebuilt = parser.Parse(input);
  Check(rebuilt == parser.URL());
  if (input.empty()) Check(Cleared(parser));
  if (!rebuilt.empty()) {
    TclUrlKind kind = parser.UrlKind();
    TclURLParser again;
    std::string second = again.Parse(rebuilt);
    if (second.empty()) {
      // Escaping may grow a part past its fixed buffer; anything else is a fault.
      Check(platform::GetLastError() == ERROR_INSUFFICIENT_BUFFER);
    } else {
      Check(second == rebuilt);
      Check(again.UrlKind() == kind);
      // Port 0 stands for "the scheme's default" and is left out of the rebuilt URL.
      Check(again.Host() == parser.Host());
      Check(parser.Port() == 0 || again.Port() == parser.Port());
    }
  }

  TclURLParser namer;
  std::string local = namer.BuildLocalFileName(input, "/dl");
  if (namer.URL().empty()) {
    Check(local == "/dl");
  } else {
    Check(local.compare(0, 4, "/dl/") == 0);
    Check(local.find('/', 4) == std::string::npos);
  }

  TclURLCorrector corrector;
  corrector.SetCorrectUrl(true);
  corrector.SetLocalFile("/tmp/new.bin");
  try {
    if (!corrector.Parse(input).empty()) {
      const std::string& path = corrector.UrlPath();
      Check(path.size() >= 7 && path.compare(path.size() - 7, 7, "new.bin") == 0);
    }
  } catch (const EclInternetError& e) {
    // A corrected path that would not fit its buffer is refused, never cut.
    Check(e.ErrorCode() == static_cast<std::int32_t>(ERROR_INTERNET_INVALID_URL));
  }
  return 0;
}

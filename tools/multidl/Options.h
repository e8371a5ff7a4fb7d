// The command line of multidl turned into a settings record, and the small
// text parsers it needs (sizes with suffixes, URL lists, user:password).
// Parsing never touches the network or the files it names, except reading
// the URL list of -i.
//
// Threads: pure functions and plain data, used on the main thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/clTypes.h"

namespace multidl {

inline constexpr const char* kVersion = "0.1.0";

struct Settings {
  std::vector<std::string> urls;  // in command-line order, then those of -i
  std::string inputFile;          // -i; "-" is standard input
  int jobs = 5;                   // items at once

  // The item's settings.
  int threads = 5;  // ThreadCount, 1..10
  bool keepConnection = false;
  std::string user;  // server credentials, when given
  std::string password;
  TclProcessPriority priority = ppNormal;
  bool noCompression = false;
  bool insecureHostName = false;
  bool insecureDate = false;
  bool insecureAuthority = false;

  // The control's settings.
  int batchSize = 65536;
  int timeout = 60000;  // ms; what command-line users expect (the component's own is 5000)
  int tries = 5;
  int reconnectAfter = 5000;  // ms
  std::string proxy;
  std::string proxyBypass;
  bool hasProxyUser = false;
  std::string proxyUser;
  std::string proxyPassword;
  std::string userAgent;  // empty: the control's own
  bool passiveFtp = false;
  std::int64_t minSize = 0;
  std::int64_t maxSize = 0;
  bool remoteTime = true;  // CorrectResourceTime
  bool skipInfo = false;   // DoNotGetResourceInfo
  // Beyond the component's defaults, on for multidl's users.
  bool retryPermanent = false;  // RetryPermanentErrors
  bool fixedSegments = false;   // SplitSegments off

  // Where the files go.
  std::string output;  // -o, one URL only
  std::string dir;     // -d, the control's LocalFolder

  bool resume = false;       // -c
  std::string checksumType;  // "sha-256", lower case; empty when none
  std::string checksumHex;   // lower case
  bool quiet = false;
};

// What the command line asks for: a run with Settings, or an exit with a text
// for standard output (help, version) or standard error (a usage error).
struct ParseOutcome {
  bool run = false;
  int exitCode = 0;
  std::string output;  // help or version text
  std::string error;   // usage error, already prefixed "multidl: "
  Settings settings;
};

// Args holds the program's arguments without the program name.
ParseOutcome ParseCommandLine(const std::vector<std::string>& args);

// "123", "64K", "1.5M", "2G" (powers of 1024) to a byte count; nullopt for
// anything else, negative or too large.
std::optional<std::int64_t> ParseSize(const std::string& text);

// The URLs of a list file: one a line, blanks around them removed; blank
// lines and lines starting with '#' skipped.
std::vector<std::string> ParseUrlList(const std::string& text);

// True for an address multidl can fetch: http, https or ftp, or no scheme at all
// (taken as http).
bool SupportedScheme(const std::string& url);

// "user:password" split at the first colon; no colon gives an empty password.
void SplitCredentials(const std::string& text, std::string& user, std::string& password);

}  // namespace multidl

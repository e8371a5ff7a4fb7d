#include "Options.h"

#include <CLI/CLI.hpp>
#include <cctype>
#include <cmath>
#include <fstream>
#include <iostream>
#include <limits>
#include <map>
#include <sstream>

#include "Checksum.h"
#include "ExitCode.h"

namespace multidl {
namespace {

std::string Trim(const std::string& text) {
  std::size_t first = 0;
  std::size_t last = text.size();
  while (first < last && std::isspace(static_cast<unsigned char>(text[first]))) ++first;
  while (last > first && std::isspace(static_cast<unsigned char>(text[last - 1]))) --last;
  return text.substr(first, last - first);
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// A CLI11 check that the text is a size ParseSize accepts.
CLI::Validator SizeText() {
  return CLI::Validator(
      [](std::string& text) -> std::string {
        return ParseSize(text) ? "" : "not a size (bytes, or a number with K, M or G): " + text;
      },
      "SIZE");
}

// What multidl turns on beyond the download component's defaults.
std::string BeyondDefaultsHelp() {
  return "Beyond the download component's defaults, multidl:\n"
         "  gives up at once on errors no retry can mend (RetryPermanentErrors off;\n"
         "    --retry-permanent turns it back on)\n"
         "  waits as long as a 429 or 503 answer's Retry-After asks, at most 60 s\n"
         "    (HonorRetryAfter)\n"
         "  asks with GET when a server refuses HEAD (HeadFallback)\n"
         "  splits a file into segments even without Last-Modified or Content-Type,\n"
         "    reported as a warning (KeepSizeWithoutHeaders)\n"
         "  moves unfinished work to connections that finish first: the end of the\n"
         "    segment that would finish last becomes a new segment (SplitSegments;\n"
         "    --fixed-segments turns it off)\n"
         "  asks the server with HEAD alone when it gave length and range support\n"
         "    (HeadOnlyInfo), and sends no HEAD before each segment's request\n"
         "    (ReuseResourceInfo): one request per segment and one before them\n"
         "  gives each network action 60 s (--timeout) instead of 5 s\n";
}

ParseOutcome UsageError(const std::string& message) {
  ParseOutcome outcome;
  outcome.exitCode = kExitUsage;
  outcome.error = "multidl: " + message + "\nTry 'multidl --help' for more information.\n";
  return outcome;
}

bool ReadListFile(const std::string& name, std::string& text) {
  std::ostringstream content;
  if (name == "-") {
    content << std::cin.rdbuf();
  } else {
    std::ifstream file(name, std::ios::binary);
    if (!file) return false;
    content << file.rdbuf();
  }
  text = content.str();
  return true;
}

}  // namespace

std::optional<std::int64_t> ParseSize(const std::string& input) {
  const std::string text = Trim(input);
  if (text.empty()) return std::nullopt;
  std::size_t digits = 0;
  while (digits < text.size() &&
         (std::isdigit(static_cast<unsigned char>(text[digits])) || text[digits] == '.')) {
    ++digits;
  }
  if (digits == 0) return std::nullopt;
  const std::string number = text.substr(0, digits);
  const std::string suffix = Lower(text.substr(digits));
  static const std::map<std::string, double> kUnits{
      {"", 1.0}, {"k", 1024.0}, {"m", 1024.0 * 1024}, {"g", 1024.0 * 1024 * 1024}};
  const auto unit = kUnits.find(suffix);
  if (unit == kUnits.end() || number.find('.') != number.rfind('.') || number == ".")
    return std::nullopt;
  // A fraction only makes sense with a unit: "1.5" bytes is no size.
  if (unit->first.empty() && number.find('.') != std::string::npos) return std::nullopt;
  const double value = std::stod(number) * unit->second;
  if (!(value < static_cast<double>(std::numeric_limits<std::int64_t>::max()))) return std::nullopt;
  return static_cast<std::int64_t>(std::llround(value));
}

std::vector<std::string> ParseUrlList(const std::string& text) {
  std::vector<std::string> urls;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    line = Trim(line);
    if (line.empty() || line[0] == '#') continue;
    urls.push_back(line);
  }
  return urls;
}

bool SupportedScheme(const std::string& url) {
  const std::size_t end = url.find("://");
  if (end == std::string::npos) return true;
  const std::string scheme = Lower(url.substr(0, end));
  return scheme == "http" || scheme == "https" || scheme == "ftp";
}

void SplitCredentials(const std::string& text, std::string& user, std::string& password) {
  const std::size_t colon = text.find(':');
  user = text.substr(0, colon);
  password = colon == std::string::npos ? "" : text.substr(colon + 1);
}

ParseOutcome ParseCommandLine(const std::vector<std::string>& args) {
  Settings s;
  std::string batchSize;
  std::string minSize;
  std::string maxSize;
  std::string proxyUser;
  std::string user;
  std::string priority = "normal";
  std::string checksum;
  bool insecure = false;

  CLI::App app{
      "Downloads each URL in parallel segments (HTTP, HTTPS, FTP), several at once, with\n"
      "retries, resumption (-c) and a live segmented readout on the terminal.",
      "multidl"};
  app.set_version_flag("--version", std::string("multidl ") + kVersion);
  app.footer(BeyondDefaultsHelp() + "\n" + ExitCodeHelp());
  app.add_option("URL", s.urls, "addresses to download, one item each");
  app.add_option("-i,--input-file", s.inputFile,
                 "read URLs from FILE, one a line ('-' for standard input); blank lines and # "
                 "comments skipped");
  app.add_option("-j,--jobs", s.jobs,
                 "download at most N items at once, starting the next as one completes")
      ->check(CLI::PositiveNumber)
      ->capture_default_str();
  app.add_option("-o,--output", s.output, "write to FILE (only with one URL)");
  app.add_option("-d,--dir", s.dir, "folder for the files (default: the current folder)");
  app.add_flag("-c,--continue", s.resume,
               "resume from the state file FILE.multidl an interrupted run left, when the server "
               "still reports the "
               "same size and date");
  app.add_option("--checksum", checksum,
                 "verify the finished file: TYPE=HEX, TYPE one of md5, sha-1, sha-224, sha-256, "
                 "sha-384, sha-512 "
                 "(only with one URL)");
  app.add_flag("-q,--quiet", s.quiet,
               "no progress readout and no summary (errors are still printed)");

  app.add_option("-n,--threads", s.threads, "segments (parallel connections) per item")
      ->check(CLI::Range(1, 10))
      ->capture_default_str();
  app.add_option("--batch-size", batchSize,
                 "bytes per read; also the smallest segment (default 65536)")
      ->check(SizeText());
  app.add_option("--timeout", s.timeout,
                 "limit of each network action, in ms (the component's own default is 5000)")
      ->check(CLI::PositiveNumber)
      ->capture_default_str();
  app.add_option("--tries", s.tries, "attempts of each connection in all")
      ->check(CLI::PositiveNumber)
      ->capture_default_str();
  app.add_option("--reconnect-after", s.reconnectAfter, "pause between attempts, in ms")
      ->check(CLI::PositiveNumber)
      ->capture_default_str();
  app.add_flag("--fixed-segments", s.fixedSegments,
               "keep each segment on its own connection to its end, however slow (no "
               "splitting of unfinished segments)");
  app.add_flag("--keep-connection", s.keepConnection,
               "one connection for all requests of an item (one segment)");
  app.add_option("--priority", priority, "priority of the worker threads")
      ->check(CLI::IsMember({"lower", "normal", "higher"}))
      ->capture_default_str();
  app.add_option("-u,--user", user, "server credentials USER:PASSWORD");
  app.add_option("--proxy", s.proxy, "proxy HOST:PORT (or a list the platform understands)");
  app.add_option("--proxy-bypass", s.proxyBypass, "hosts reached without the proxy");
  app.add_option("--proxy-user", proxyUser, "proxy credentials USER:PASSWORD (Basic or Digest)");
  app.add_option("-A,--user-agent", s.userAgent, "User-Agent text");
  app.add_flag("--no-compression", s.noCompression, "do not ask for gzip-compressed content");
  app.add_flag("--insecure-host-name", s.insecureHostName,
               "accept a certificate for another host name");
  app.add_flag("--insecure-date", s.insecureDate, "accept an expired or not yet valid certificate");
  app.add_flag("--insecure-authority", s.insecureAuthority,
               "accept a certificate of an unknown authority");
  app.add_flag("-k,--insecure", insecure, "all three --insecure-* flags");
  app.add_flag("--passive-ftp", s.passiveFtp, "passive FTP transfers");
  app.add_option("--min-size", minSize, "refuse resources smaller than SIZE (K, M, G suffixes)")
      ->check(SizeText());
  app.add_option("--max-size", maxSize, "refuse resources larger than SIZE (K, M, G suffixes)")
      ->check(SizeText());
  app.add_flag(
      "--no-remote-time", [&s](std::int64_t) { s.remoteTime = false; },
      "do not give the files the server's date");
  app.add_flag("--skip-info", s.skipInfo,
               "do not ask the server about the resource first (size unknown: one segment)");
  app.add_flag("--retry-permanent", s.retryPermanent,
               "retry errors no retry can mend (404, 403, a refused certificate, FTP 550 ...) "
               "like any other, as the component does by default; multidl gives up on them at "
               "once");

  // CLI11 wants the program name in front, as in main's argv.
  std::vector<std::string> words{"multidl"};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  try {
    app.parse(static_cast<int>(argv.size()), argv.data());
  } catch (const CLI::CallForHelp&) {
    ParseOutcome outcome;
    outcome.output = app.help();
    return outcome;
  } catch (const CLI::CallForVersion& e) {
    ParseOutcome outcome;
    outcome.output = std::string(e.what()) + "\n";
    return outcome;
  } catch (const CLI::ParseError& e) {
    return UsageError(e.what());
  }

  if (!s.inputFile.empty()) {
    std::string text;
    if (!ReadListFile(s.inputFile, text))
      return UsageError("cannot read the URL list " + s.inputFile);
    for (std::string& url : ParseUrlList(text)) s.urls.push_back(std::move(url));
  }
  if (s.urls.empty()) return UsageError("no URL given");
  for (const std::string& url : s.urls) {
    if (!SupportedScheme(url))
      return UsageError(url + ": unsupported protocol (http, https and ftp are supported)");
  }
  if (!s.output.empty() && s.urls.size() > 1) return UsageError("-o/--output takes one URL only");
  if (!batchSize.empty()) {
    const std::int64_t size = *ParseSize(batchSize);
    if (size < 1 || size > std::numeric_limits<int>::max())
      return UsageError("--batch-size out of range");
    s.batchSize = static_cast<int>(size);
  }
  if (!minSize.empty()) s.minSize = *ParseSize(minSize);
  if (!maxSize.empty()) s.maxSize = *ParseSize(maxSize);
  if (s.minSize > 0 && s.maxSize > 0 && s.minSize > s.maxSize) {
    return UsageError("--min-size is larger than --max-size");
  }
  if (!user.empty()) SplitCredentials(user, s.user, s.password);
  if (!proxyUser.empty()) {
    if (s.proxy.empty()) return UsageError("--proxy-user needs --proxy");
    s.hasProxyUser = true;
    SplitCredentials(proxyUser, s.proxyUser, s.proxyPassword);
  }
  s.priority = priority == "lower" ? ppLower : priority == "higher" ? ppHigher : ppNormal;
  if (insecure) s.insecureHostName = s.insecureDate = s.insecureAuthority = true;
  if (!checksum.empty()) {
    const std::size_t equals = checksum.find('=');
    if (equals == std::string::npos) return UsageError("--checksum wants TYPE=HEX");
    s.checksumType = Lower(checksum.substr(0, equals));
    s.checksumHex = Lower(checksum.substr(equals + 1));
    const int length = ChecksumLength(s.checksumType);
    if (length == 0) return UsageError("unsupported checksum type " + s.checksumType);
    if (s.checksumHex.size() != static_cast<std::size_t>(2 * length) ||
        s.checksumHex.find_first_not_of("0123456789abcdef") != std::string::npos) {
      return UsageError("a " + s.checksumType + " checksum is " + std::to_string(2 * length) +
                        " hex digits");
    }
    if (s.urls.size() > 1) return UsageError("--checksum takes one URL only");
  }

  ParseOutcome outcome;
  outcome.run = true;
  outcome.settings = std::move(s);
  return outcome;
}

}  // namespace multidl

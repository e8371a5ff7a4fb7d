// Splitting and rebuilding of URLs through the internet client library, the
// local file name a URL is saved under, and a parser that can replace the file
// name at the end of the URL path by that of a local file.
//
// Threads: a parser is used by one thread at a time (a worker's parser lives on
// the worker thread; download items use short-lived parsers on the user-interface
// thread). Its listener runs on the parsing thread, in the middle of Parse.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/inet/InetClient.h"

enum TclUrlKind : std::uint8_t { ukUnknown = 0, ukHttp = 1, ukFtp = 2, ukHttps = 3 };

class TclURLParser;

// Called between splitting and rebuilding. The record points at the parse's own
// buffers; a listener may rewrite them in place (then the stored parts change
// too) or point the record elsewhere (then only the rebuilt URL changes).
using TclOnUrlParsing = std::function<void(TclURLParser* sender, URL_COMPONENTSA& components)>;

class TclURLParser {
 public:
  // Component capacities, terminating zero included.
  static constexpr DWORD kSchemeCapacity = 32;
  static constexpr DWORD kHostCapacity = 256;
  static constexpr DWORD kUserNameCapacity = 128;
  static constexpr DWORD kPasswordCapacity = 128;
  static constexpr DWORD kUrlPathCapacity = 2048;
  static constexpr DWORD kExtraInfoCapacity = 1024;
  static constexpr DWORD kUrlCapacity = 2055;

  TclURLParser() = default;
  virtual ~TclURLParser() = default;
  TclURLParser(const TclURLParser&) = delete;
  TclURLParser& operator=(const TclURLParser&) = delete;

  // Splits URL, lets the listener adjust the parts and rebuilds it; stores and
  // returns the rebuilt URL. An empty result means failure and the thread's last
  // error tells why. A URL without a scheme is tried once more as "http://" URL.
  // Raises only what the binding raises (the library cannot be loaded) and what
  // a listener raises.
  std::string Parse(const std::string& url);

  // The local path under which URL is saved in Folder: the folder, a separator,
  // and the file name at the end of the URL path. Folder unchanged when the URL
  // cannot be parsed.
  std::string BuildLocalFileName(const std::string& url, const std::string& folder);

  // Copies the parse result (not the listener).
  virtual void Assign(const TclURLParser& source);

  const std::string& UrlPath() const { return urlPath_; }
  const std::string& UserName() const { return userName_; }
  const std::string& ExtraInfo() const { return extraInfo_; }
  const std::string& Host() const { return host_; }
  const std::string& Password() const { return password_; }
  TclUrlKind UrlKind() const { return urlKind_; }
  INTERNET_PORT Port() const { return port_; }
  const std::string& URL() const { return url_; }

  const TclOnUrlParsing& OnUrlParsing() const { return onUrlParsing_; }
  void SetOnUrlParsing(TclOnUrlParsing handler) { onUrlParsing_ = std::move(handler); }

 protected:
  // Fires OnUrlParsing when a listener is assigned.
  virtual void DoUrlParsing(URL_COMPONENTSA& components);

 private:
  std::string ParseOnce(const std::string& text);
  void ClearParts();

  std::string urlPath_;
  std::string userName_;
  std::string extraInfo_;
  std::string host_;
  std::string password_;
  TclUrlKind urlKind_ = ukUnknown;
  TclOnUrlParsing onUrlParsing_;
  INTERNET_PORT port_ = 0;
  std::string url_;
};

// A parser that, when CorrectUrl is set, replaces the file name at the end of
// the URL path by the file name of LocalFile during each parse.
class TclURLCorrector : public TclURLParser {
 public:
  bool CorrectUrl() const { return correctUrl_; }
  void SetCorrectUrl(bool value) { correctUrl_ = value; }
  const std::string& LocalFile() const { return localFile_; }
  void SetLocalFile(const std::string& value) { localFile_ = value; }

 protected:
  // Raises EclInternetError (invalid URL) when the corrected path would not fit
  // the path buffer, rather than overrunning or silently cutting it.
  void DoUrlParsing(URL_COMPONENTSA& components) override;

 private:
  bool correctUrl_ = false;
  std::string localFile_;
};

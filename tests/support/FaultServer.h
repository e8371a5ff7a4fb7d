// An HTTP server on a free 127.0.0.1 port whose routes misbehave on request: drop
// the connection after N body bytes, stall (until released or stopped), answer
// with an error status (HEAD alone too, Retry-After with it), omit
// Last-Modified or Content-Length, ignore or misplace byte ranges, report
// another total, ignore If-Range, send gzip-encoded bodies, and turn into
// another version of the resource after some requests or from some byte on. It records every request it received so
// tests can check exact request lines and headers. Requests sent to it as a
// proxy ("GET http://host:port/path") are served from the route of their path.
//
// Threads: the server runs its own threads; Route/Requests/ReleaseStalls may be
// called from any thread (guarded by the server's mutex).
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace httplib {
class Server;
}

namespace testing_support {

struct FaultRoute {
  FaultRoute() = default;
  explicit FaultRoute(std::string routeBody, int routeStatus = 200)
      : body(std::move(routeBody)), status(routeStatus) {}

  std::string body;
  int status = 200;
  std::string contentType = "application/octet-stream";
  std::string contentDisposition;            // header sent when not empty
  std::string lastModified = "Wed, 21 Oct 2015 07:28:00 GMT";  // empty: no header
  bool contentLength = true;                 // false: chunked, length unknown
  bool acceptRanges = true;                  // false: "Accept-Ranges: none", ranges ignored
  bool ignoreRange = false;                  // answer ranged requests with 200 + whole body
  long long misplaceRange = 0;               // answer 206 starting this many bytes off
  size_t dropAfter = static_cast<size_t>(-1);   // close after this many body bytes
  size_t stallAfter = static_cast<size_t>(-1);  // stop sending after this many body bytes
  bool resumeAfterStall = false;  // a released stall sends the rest instead of closing
  // Every answer ends (connection closed) before this byte of the resource,
  // whatever range was asked for: a file that can never be fetched whole.
  size_t cutAt = static_cast<size_t>(-1);
  bool stallBeforeHeaders = false;
  // When not negative, dropAfter and stallAfter apply only to the first this
  // many requests that carry a Range line (a fault that a retry gets past).
  int faultTimes = -1;
  bool gzip = false;  // send the body gzip-compressed with Content-Encoding: gzip
  std::string contentEncoding;  // an explicit Content-Encoding header (body sent as is)
  // Digest credentials the route demands: as an origin server (401) or, with
  // digestAsProxy, as the proxy the client sends its request to (407).
  std::string digestUser;
  std::string digestPassword;
  bool digestAsProxy = false;

  std::string etag;             // sent as ETag when not empty (quotes included)
  int headStatus = 0;           // the status of HEAD answers when not 0 (405, 501 ...)
  std::string retryAfter;       // sent as Retry-After with an error status
  long long rangeTotal = -1;    // the total a 206's Content-Range reports when not -1
  bool ignoreIfRange = false;   // answer 206 even when If-Range names another version
  // Another version of the resource, served to every request after the first
  // changedAfter ones, and to ranged requests from byte changedFrom on (that
  // version may name another one from a later byte).
  std::shared_ptr<const FaultRoute> changed;
  int changedAfter = -1;
  size_t changedFrom = static_cast<size_t>(-1);
  // Uneven paths: the ranged requests of these numbers (0 for the first one
  // with a Range line to this path) are answered at slowRate bytes per second.
  std::vector<int> slowRanged;
  size_t slowRate = 0;
};

struct RecordedRequest {
  std::string method;
  std::string path;
  std::string target;  // the request line's target, query included
  std::multimap<std::string, std::string> headers;  // lower-case names
  std::string Header(const std::string& lowerName) const;
};

class FaultServer {
 public:
  FaultServer();
  ~FaultServer();
  FaultServer(const FaultServer&) = delete;
  FaultServer& operator=(const FaultServer&) = delete;

  void Route(const std::string& path, FaultRoute route);
  int Port() const { return port_; }
  std::string Url(const std::string& path) const;
  std::vector<RecordedRequest> Requests() const;
  // Requests received for Path; any method when Method is empty, only those
  // with a Range line when RangedOnly.
  int Count(const std::string& path, const std::string& method = "", bool rangedOnly = false) const;
  // Lets every stalled response go on (they then end the connection).
  void ReleaseStalls();

 private:
  bool WaitWhileStalled();
  // Sleeps, unless the server stops first (false then).
  bool Pause(std::chrono::microseconds time);

  std::unique_ptr<httplib::Server> server_;
  std::thread thread_;
  int port_ = 0;
  mutable std::mutex mutex_;
  std::condition_variable released_;
  bool stallsReleased_ = false;  // guarded by mutex_
  bool stopping_ = false;        // guarded by mutex_
  std::map<std::string, FaultRoute> routes_;   // guarded by mutex_
  std::vector<RecordedRequest> requests_;      // guarded by mutex_
  std::map<std::string, int> rangedSeen_;      // guarded by mutex_
  std::map<std::string, int> seen_;            // guarded by mutex_
  std::map<std::string, int> rangedOrder_;     // guarded by mutex_
};

// gzip-compresses data (for routes and for checking decoded results).
std::string GzipCompress(const std::string& data);

}  // namespace testing_support

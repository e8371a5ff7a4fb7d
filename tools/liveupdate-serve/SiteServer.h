// An HTTP server for a local update site: the files below a root folder, on
// 127.0.0.1 only. GET and HEAD; a single byte range is answered with 206 and
// Content-Range, one starting past the end with 416; every answer carries
// Accept-Ranges, Content-Length and the file's modification time as
// Last-Modified. With gzip on, a client that accepts gzip receives the file
// gzip-compressed, and ranges then count bytes of the compressed form, as a
// server of stored compressed files does. With a rate limit, each answer is
// paced so that it never runs faster than the given bytes per second; a
// connection serves one answer at a time, so that is also its rate.
//
// Threads: Start and Stop belong to the thread that owns the object; requests
// are served on the server's own threads. Stop wakes paced answers at once.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace httplib {
class Server;
struct Request;
struct Response;
}  // namespace httplib

namespace serve {

struct SiteOptions {
  std::string root;
  bool gzip = false;
  std::uint64_t rateLimit = 0;  // bytes per second and answer; 0: unlimited
};

class SiteServer {
 public:
  explicit SiteServer(SiteOptions options);
  ~SiteServer();
  SiteServer(const SiteServer&) = delete;
  SiteServer& operator=(const SiteServer&) = delete;

  // Binds 127.0.0.1:Port (0: any free port) and starts serving. Returns the
  // bound port, or -1 when the port cannot be bound.
  int Start(int port);
  void Stop();

 private:
  void Serve(const httplib::Request& request, httplib::Response& response);
  // The gzip form of a file, made once per file version.
  std::shared_ptr<const std::string> Compressed(const std::string& path, std::int64_t mtimeNs,
                                                std::uint64_t size);
  // Sleeps until Deadline or Stop; false when stopping.
  bool PaceUntil(std::chrono::steady_clock::time_point deadline);

  SiteOptions options_;
  std::unique_ptr<httplib::Server> server_;
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable stopped_;
  bool stopping_ = false;  // guarded by mutex_
  struct CompressedFile {
    std::int64_t mtimeNs = 0;
    std::uint64_t size = 0;
    std::shared_ptr<const std::string> data;
  };
  std::map<std::string, CompressedFile> compressed_;  // guarded by mutex_
};

}  // namespace serve

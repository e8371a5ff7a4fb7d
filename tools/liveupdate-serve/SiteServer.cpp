#include "SiteServer.h"

#include <fcntl.h>
#include <httplib.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <vector>

#include "ByteRange.h"

namespace serve {
namespace {

// Keeps the segment workers of a download from queueing behind each other.
constexpr std::size_t kServerThreads = 64;
constexpr std::size_t kBlockSize = 64 * 1024;

// The file below Root that a decoded request path names, or "" when the path
// could step outside Root.
std::string FileFor(const std::string& root, const std::string& path) {
  if (path.empty() || path.front() != '/' || path.find('\0') != std::string::npos) return "";
  std::size_t start = 1;
  while (start <= path.size()) {
    std::size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    if (path.compare(start, end - start, "..") == 0) return "";
    start = end + 1;
  }
  return root + path;
}

std::string ContentType(const std::string& path) {
  std::size_t dot = path.rfind('.');
  std::string extension = dot == std::string::npos ? "" : path.substr(dot);
  if (extension == ".txt" || extension == ".ini") return "text/plain";
  if (extension == ".html" || extension == ".htm") return "text/html";
  return "application/octet-stream";
}

bool GzipFile(const std::string& path, std::string& out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  z_stream stream{};
  if (deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) !=
      Z_OK) {
    return false;
  }
  std::vector<char> input(kBlockSize);
  std::vector<char> output(kBlockSize);
  int flush = Z_NO_FLUSH;
  do {
    in.read(input.data(), static_cast<std::streamsize>(input.size()));
    stream.next_in = reinterpret_cast<Bytef*>(input.data());
    stream.avail_in = static_cast<uInt>(in.gcount());
    flush = in.eof() ? Z_FINISH : Z_NO_FLUSH;
    do {
      stream.next_out = reinterpret_cast<Bytef*>(output.data());
      stream.avail_out = static_cast<uInt>(output.size());
      deflate(&stream, flush);
      out.append(output.data(), output.size() - stream.avail_out);
    } while (stream.avail_out == 0);
  } while (flush != Z_FINISH);
  deflateEnd(&stream);
  return true;
}

}  // namespace

SiteServer::SiteServer(SiteOptions options)
    : options_(std::move(options)), server_(std::make_unique<httplib::Server>()) {
  while (options_.root.size() > 1 && options_.root.back() == '/') options_.root.pop_back();
  server_->new_task_queue = [] { return new httplib::ThreadPool(kServerThreads); };
  auto handler = [this](const httplib::Request& request, httplib::Response& response) {
    Serve(request, response);
  };
  server_->Get(".*", handler);
}

SiteServer::~SiteServer() {
  Stop();
}

int SiteServer::Start(int port) {
  int bound = port == 0 ? server_->bind_to_any_port("127.0.0.1")
                        : (server_->bind_to_port("127.0.0.1", port) ? port : -1);
  if (bound <= 0) return -1;
  thread_ = std::thread([this] { server_->listen_after_bind(); });
  // A stop asked for before the loop runs would be lost and the loop would
  // never end: the server counts as started only once it is running.
  while (!server_->is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return bound;
}

void SiteServer::Stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_) return;
    stopping_ = true;
  }
  stopped_.notify_all();
  server_->stop();
  if (thread_.joinable()) thread_.join();
}

bool SiteServer::PaceUntil(std::chrono::steady_clock::time_point deadline) {
  std::unique_lock<std::mutex> lock(mutex_);
  return !stopped_.wait_until(lock, deadline, [this] { return stopping_; });
}

std::shared_ptr<const std::string> SiteServer::Compressed(const std::string& path,
                                                          std::int64_t mtimeNs,
                                                          std::uint64_t size) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = compressed_.find(path);
    if (found != compressed_.end() && found->second.mtimeNs == mtimeNs &&
        found->second.size == size) {
      return found->second.data;
    }
  }
  auto data = std::make_shared<std::string>();
  if (!GzipFile(path, *data)) return nullptr;
  std::lock_guard<std::mutex> lock(mutex_);
  compressed_[path] = {mtimeNs, size, data};
  return data;
}

void SiteServer::Serve(const httplib::Request& request, httplib::Response& response) {
  // Ranges are answered here, so that they can count compressed bytes and be paced.
  const_cast<httplib::Request&>(request).ranges.clear();
  std::string file = FileFor(options_.root, request.path);
  struct stat info {};
  if (file.empty() || ::stat(file.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
    response.status = 404;
    response.set_content("not found\n", "text/plain");
    return;
  }
  std::int64_t mtimeNs =
      static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
  auto size = static_cast<std::uint64_t>(info.st_size);

  std::shared_ptr<const std::string> compressed;
  if (options_.gzip) {
    response.set_header("Vary", "Accept-Encoding");
    if (AcceptsGzip(request.get_header_value("Accept-Encoding"))) {
      compressed = Compressed(file, mtimeNs, size);
      if (!compressed) {
        response.status = 500;
        return;
      }
      size = compressed->size();
      response.set_header("Content-Encoding", "gzip");
    }
  }
  response.set_header("Accept-Ranges", "bytes");
  response.set_header("Last-Modified", HttpDate(info.st_mtim.tv_sec));

  ByteRange range = ParseByteRange(request.get_header_value("Range"), size);
  if (range.kind == ByteRange::Kind::kUnsatisfiable) {
    response.status = 416;
    response.set_header("Content-Range", "bytes */" + std::to_string(size));
    return;
  }
  std::uint64_t first = 0;
  std::uint64_t length = size;
  response.status = 200;
  if (range.kind == ByteRange::Kind::kPart) {
    first = range.first;
    length = range.Length();
    response.status = 206;
    response.set_header("Content-Range", "bytes " + std::to_string(range.first) + "-" +
                                             std::to_string(range.last) + "/" +
                                             std::to_string(size));
  }
  std::string type = ContentType(file);
  if (length == 0) {
    // Nothing to pace or read; an empty provider is never called.
    response.set_content("", type);
    return;
  }

  std::uint64_t rate = options_.rateLimit;
  std::size_t block = kBlockSize;
  if (rate > 0)
    block = static_cast<std::size_t>(std::clamp<std::uint64_t>(rate / 20, 1, kBlockSize));
  auto started = std::make_shared<std::chrono::steady_clock::time_point>();
  auto sent = std::make_shared<std::uint64_t>(0);
  // The file is opened per answer: a site's files may be replaced between requests.
  auto fd = std::shared_ptr<int>(
      new int(compressed ? -1 : ::open(file.c_str(), O_RDONLY | O_CLOEXEC)), [](int* descriptor) {
        if (*descriptor >= 0) ::close(*descriptor);
        delete descriptor;
      });
  if (!compressed && *fd < 0) {
    response.status = 404;
    return;
  }
  response.set_content_provider(
      length, type,
      [this, compressed, fd, first, block, rate, started, sent](
          std::size_t offset, std::size_t wanted, httplib::DataSink& sink) {
        if (*sent == 0) *started = std::chrono::steady_clock::now();
        std::size_t count = std::min(wanted, block);
        if (rate > 0) {
          // The answer's bytes up to the end of this block may leave no earlier
          // than that many bytes at the rate allow.
          auto due = *started +
                     std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                         std::chrono::duration<double>(static_cast<double>(*sent + count) / rate));
          if (!PaceUntil(due)) return false;
        }
        std::string buffer;
        if (compressed) {
          buffer.assign(*compressed, first + offset, count);
        } else {
          buffer.resize(count);
          ssize_t got = ::pread(*fd, buffer.data(), count, static_cast<off_t>(first + offset));
          // A file cut short while it is served ends the answer early.
          if (got <= 0) return false;
          buffer.resize(static_cast<std::size_t>(got));
        }
        *sent += buffer.size();
        return sink.write(buffer.data(), buffer.size());
      });
}

}  // namespace serve

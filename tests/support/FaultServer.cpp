#include "support/FaultServer.h"

#include <httplib.h>
#include <openssl/evp.h>
#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <chrono>

namespace testing_support {
namespace {

struct Range {
  size_t first;
  size_t last;
};

// A single "bytes=F-L", "bytes=F-" or "bytes=-N" range within size bytes.
bool ParseRange(const std::string& value, size_t size, Range& range) {
  if (value.rfind("bytes=", 0) != 0 || size == 0) return false;
  std::string ranges = value.substr(6);
  size_t dash = ranges.find('-');
  if (dash == std::string::npos || ranges.find(',') != std::string::npos) return false;
  std::string first = ranges.substr(0, dash);
  std::string last = ranges.substr(dash + 1);
  if (first.empty()) {
    if (last.empty()) return false;
    size_t count = std::min<size_t>(std::stoull(last), size);
    range = {size - count, size - 1};
    return true;
  }
  range.first = std::stoull(first);
  range.last = last.empty() ? size - 1 : std::min<size_t>(std::stoull(last), size - 1);
  return range.first <= range.last && range.first < size;
}

std::string Md5Hex(const std::string& text) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_Digest(text.data(), text.size(), digest, &length, EVP_md5(), nullptr);
  static const char kHex[] = "0123456789abcdef";
  std::string hex;
  for (unsigned int i = 0; i < length; ++i) {
    hex.push_back(kHex[digest[i] >> 4]);
    hex.push_back(kHex[digest[i] & 15]);
  }
  return hex;
}

// The value of one parameter of a Digest authorization header.
std::string DigestParameter(const std::string& header, const std::string& name) {
  size_t pos = 0;
  while ((pos = header.find(name + "=", pos)) != std::string::npos) {
    if (pos == 0 || header[pos - 1] == ' ' || header[pos - 1] == ',') {
      size_t start = pos + name.size() + 1;
      if (start < header.size() && header[start] == '"') {
        size_t end = header.find('"', start + 1);
        return header.substr(start + 1, end - start - 1);
      }
      size_t end = header.find(',', start);
      return header.substr(start, end == std::string::npos ? std::string::npos : end - start);
    }
    pos += name.size();
  }
  return "";
}

constexpr const char* kRealm = "loopback";
constexpr const char* kNonce = "5e0c4f5b9d2a";

bool DigestAccepted(const std::string& header, const std::string& method, const FaultRoute& route) {
  if (header.rfind("Digest ", 0) != 0) return false;
  if (DigestParameter(header, "username") != route.digestUser ||
      DigestParameter(header, "nonce") != kNonce) {
    return false;
  }
  std::string ha1 = Md5Hex(route.digestUser + ":" + kRealm + ":" + route.digestPassword);
  std::string ha2 = Md5Hex(method + ":" + DigestParameter(header, "uri"));
  std::string qop = DigestParameter(header, "qop");
  std::string expected =
      qop.empty() ? Md5Hex(ha1 + ":" + kNonce + ":" + ha2)
                  : Md5Hex(ha1 + ":" + kNonce + ":" + DigestParameter(header, "nc") + ":" +
                           DigestParameter(header, "cnonce") + ":" + qop + ":" + ha2);
  return DigestParameter(header, "response") == expected;
}

}  // namespace

std::string RecordedRequest::Header(const std::string& lowerName) const {
  auto found = headers.find(lowerName);
  return found == headers.end() ? "" : found->second;
}

std::string GzipCompress(const std::string& data) {
  z_stream stream{};
  deflateInit2(&stream, Z_BEST_SPEED, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&stream, data.size()) + 64, '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  stream.avail_in = static_cast<uInt>(data.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  deflate(&stream, Z_FINISH);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  return out;
}

FaultServer::FaultServer() : server_(std::make_unique<httplib::Server>()) {
  auto handler = [this](const httplib::Request& request, httplib::Response& response) {
    RecordedRequest recorded{request.method, request.path, request.target, {}};
    for (const auto& [name, value] : request.headers) {
      std::string lower = name;
      for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      recorded.headers.emplace(lower, value);
    }
    FaultRoute route;
    bool known = false;
    std::string rangeHeader = request.get_header_value("Range");
    {
      std::lock_guard<std::mutex> lock(mutex_);
      requests_.push_back(recorded);
      std::string path = request.path;
      if (path.rfind("http://", 0) == 0) {
        size_t slash = path.find('/', 7);
        path = slash == std::string::npos ? "/" : path.substr(slash);
      }
      auto found = routes_.find(path);
      if (found != routes_.end()) {
        route = found->second;
        known = true;
        const int seen = seen_[path]++;
        for (;;) {
          Range asked{};
          const bool changedHere =
              route.changed &&
              ((route.changedAfter >= 0 && seen >= route.changedAfter) ||
               (route.changedFrom != static_cast<size_t>(-1) &&
                ParseRange(rangeHeader, route.body.size(), asked) &&
                asked.first >= route.changedFrom));
          if (!changedHere) break;
          const std::shared_ptr<const FaultRoute> next = route.changed;
          route = *next;
        }
      }
    }
    // Ranges are answered here, never by the server library, so that faults can
    // be injected into them.
    const_cast<httplib::Request&>(request).ranges.clear();
    if (!known) {
      response.status = 404;
      response.set_content("not found", "text/plain");
      return;
    }
    if (!route.digestUser.empty()) {
      const char* credentials = route.digestAsProxy ? "Proxy-Authorization" : "Authorization";
      if (!DigestAccepted(request.get_header_value(credentials), request.method, route)) {
        response.status = route.digestAsProxy ? 407 : 401;
        response.set_header(route.digestAsProxy ? "Proxy-Authenticate" : "WWW-Authenticate",
                            std::string("Digest realm=\"") + kRealm + "\", nonce=\"" + kNonce +
                                "\", qop=\"auth\", algorithm=MD5");
        response.set_content("authentication required", "text/plain");
        return;
      }
    }
    if (route.stallBeforeHeaders && !WaitWhileStalled()) {
      return;
    }
    std::string body = route.gzip ? GzipCompress(route.body) : route.body;
    response.status = route.status;
    if (request.method == "HEAD" && route.headStatus != 0) response.status = route.headStatus;
    if (response.status >= 400 && !route.retryAfter.empty()) {
      response.set_header("Retry-After", route.retryAfter);
    }
    if (!route.lastModified.empty()) response.set_header("Last-Modified", route.lastModified);
    if (!route.etag.empty()) response.set_header("ETag", route.etag);
    if (!route.contentDisposition.empty()) {
      response.set_header("Content-Disposition", route.contentDisposition);
    }
    if (route.gzip) response.set_header("Content-Encoding", "gzip");
    if (!route.contentEncoding.empty()) response.set_header("Content-Encoding", route.contentEncoding);
    response.set_header("Accept-Ranges", route.acceptRanges ? "bytes" : "none");

    Range range{0, body.empty() ? 0 : body.size() - 1};
    // If-Range naming another version asks for the whole new body.
    const std::string ifRange = request.get_header_value("If-Range");
    const std::string validator = route.etag.empty() ? route.lastModified : route.etag;
    const bool sameVersion = ifRange.empty() || route.ignoreIfRange || ifRange == validator;
    if (response.status == 200 && !rangeHeader.empty() && route.acceptRanges && !route.ignoreRange &&
        sameVersion && ParseRange(rangeHeader, body.size(), range)) {
      size_t shown = static_cast<size_t>(static_cast<long long>(range.first) + route.misplaceRange);
      const long long total =
          route.rangeTotal >= 0 ? route.rangeTotal : static_cast<long long>(body.size());
      response.status = 206;
      response.set_header("Content-Range", "bytes " + std::to_string(shown) + "-" +
                                               std::to_string(shown + range.last - range.first) +
                                               "/" + std::to_string(total));
      body = body.substr(range.first, range.last - range.first + 1);
    }
    auto shared = std::make_shared<std::string>(std::move(body));
    size_t dropAfter = route.dropAfter;
    size_t stallAfter = route.stallAfter;
    if (route.faultTimes >= 0) {
      std::lock_guard<std::mutex> lock(mutex_);
      int& seen = rangedSeen_[request.path];
      if (rangeHeader.empty() || seen++ >= route.faultTimes) {
        dropAfter = static_cast<size_t>(-1);
        stallAfter = static_cast<size_t>(-1);
      }
    }
    size_t slowRate = 0;
    if (!rangeHeader.empty() && !route.slowRanged.empty()) {
      std::lock_guard<std::mutex> lock(mutex_);
      const int order = rangedOrder_[request.path]++;
      if (std::find(route.slowRanged.begin(), route.slowRanged.end(), order) !=
          route.slowRanged.end())
        slowRate = route.slowRate;
    }
    if (route.cutAt != static_cast<size_t>(-1)) {
      dropAfter = std::min(dropAfter, route.cutAt > range.first ? route.cutAt - range.first : 0);
    }
    const bool resume = route.resumeAfterStall;
    auto provide = [this, shared, dropAfter, stallAfter, resume, slowRate](
                       size_t offset, size_t length, httplib::DataSink& sink) {
      size_t end = std::min(offset + length, shared->size());
      if (slowRate > 0) {
        // A twentieth of a second's worth at a time.
        const size_t piece = std::max<size_t>(1024, slowRate / 20);
        end = std::min(end, offset + piece);
        if (!Pause(std::chrono::microseconds(1000000ull * (end - offset) / slowRate))) return false;
      }
      size_t limit = std::min(dropAfter, stallAfter);
      if (resume && stallAfter != static_cast<size_t>(-1) && offset >= stallAfter) {
        if (!WaitWhileStalled()) return false;
        limit = dropAfter;
      }
      if (offset >= limit) {
        if (stallAfter != static_cast<size_t>(-1) && offset >= stallAfter) WaitWhileStalled();
        return false;
      }
      end = std::min(end, limit);
      return sink.write(shared->data() + offset, end - offset);
    };
    if (route.contentLength) {
      response.set_content_provider(shared->size(), route.contentType, provide);
    } else {
      auto offset = std::make_shared<size_t>(0);
      response.set_chunked_content_provider(
          route.contentType, [provide, shared, offset](size_t, httplib::DataSink& sink) {
            if (*offset >= shared->size()) {
              sink.done();
              return true;
            }
            size_t length = std::min<size_t>(16384, shared->size() - *offset);
            if (!provide(*offset, length, sink)) return false;
            *offset += length;
            return true;
          });
    }
  };
  server_->Get(".*", handler);
  server_->set_keep_alive_max_count(1000);
  port_ = server_->bind_to_any_port("127.0.0.1");
  thread_ = std::thread([this] { server_->listen_after_bind(); });
  while (!server_->is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

FaultServer::~FaultServer() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  released_.notify_all();
  server_->stop();
  thread_.join();
}

bool FaultServer::WaitWhileStalled() {
  std::unique_lock<std::mutex> lock(mutex_);
  released_.wait(lock, [this] { return stallsReleased_ || stopping_; });
  return !stopping_;
}

bool FaultServer::Pause(std::chrono::microseconds time) {
  std::unique_lock<std::mutex> lock(mutex_);
  return !released_.wait_for(lock, time, [this] { return stopping_; });
}

void FaultServer::Route(const std::string& path, FaultRoute route) {
  std::lock_guard<std::mutex> lock(mutex_);
  routes_[path] = std::move(route);
}

std::string FaultServer::Url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::vector<RecordedRequest> FaultServer::Requests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

int FaultServer::Count(const std::string& path, const std::string& method, bool rangedOnly) const {
  std::lock_guard<std::mutex> lock(mutex_);
  int count = 0;
  for (const RecordedRequest& r : requests_) {
    count += r.path == path && (method.empty() || r.method == method) &&
             (!rangedOnly || !r.Header("range").empty());
  }
  return count;
}

void FaultServer::ReleaseStalls() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stallsReleased_ = true;
  }
  released_.notify_all();
}

}  // namespace testing_support

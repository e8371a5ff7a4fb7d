// The builder's bodies, sent with its own header lines as a raw POST to a
// cpp-httplib server on 127.0.0.1, must be parsed back into the same fields
// and files; the server also reports how many body bytes it read.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "http/clHttpRequest.h"
#include "support/TempDir.h"

namespace {

using testing_support::RandomBytes;
using testing_support::TempDir;

struct Received {
  std::string contentType;
  std::string contentLength;
  size_t bodySize = 0;
  std::multimap<std::string, std::string> params;
  httplib::MultipartFormDataMap files;
};

class PostServer {
 public:
  PostServer() {
    server_.set_read_timeout(5, 0);
    server_.Post("/submit", [this](const httplib::Request& req, httplib::Response& res) {
      std::lock_guard<std::mutex> lock(mutex_);
      received_.contentType = req.get_header_value("Content-Type");
      received_.contentLength = req.get_header_value("Content-Length");
      received_.bodySize = req.body.size();
      received_.params.clear();
      for (const auto& [k, v] : req.params) received_.params.emplace(k, v);
      received_.files = req.files;
      res.set_content("ok", "text/plain");
    });
    port_ = server_.bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    // The socket listens from bind_to_any_port on; the kernel queues early
    // connections until the accept loop runs.
  }
  ~PostServer() {
    server_.stop();
    thread_.join();
  }
  int Port() const { return port_; }
  Received Last() {
    std::lock_guard<std::mutex> lock(mutex_);
    return received_;
  }

 private:
  httplib::Server server_;
  std::thread thread_;
  int port_ = 0;
  std::mutex mutex_;
  Received received_;
};

struct Answer {
  std::string statusLine;
  size_t bodyBytesSent = 0;
};

// Sends the request exactly as composed: the builder's header lines and body.
// The server reads as many body bytes as Content-Length announces: too few
// announced and the multipart end is missing (400), too many and it waits for
// bytes that never come (no answer).
Answer PostRaw(int port, TclHttpRequestBuilder& builder) {
  std::string request = "POST /submit HTTP/1.1\r\nHost: 127.0.0.1\r\n";
  for (const auto& line : builder.Header().GetHeaderLines().Items()) request += line + "\r\n";
  request += "\r\n";
  auto body = builder.GetBodyStream();
  body->SetPosition(0);
  std::string bodyBytes = body->ReadRemaining();
  request += bodyBytes;

  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  EXPECT_GE(fd, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return {"connect failed", 0};
  }
  size_t sent = 0;
  while (sent < request.size()) {
    ssize_t n = ::send(fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) break;
    sent += static_cast<size_t>(n);
  }
  timeval timeout{10, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  std::string answer;
  char buffer[4096];
  // The answer is small; read until its header is complete and "ok" arrived.
  while (answer.find("\r\n\r\nok") == std::string::npos) {
    ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    answer.append(buffer, static_cast<size_t>(n));
  }
  ::close(fd);
  return {answer.substr(0, answer.find("\r\n")), bodyBytes.size()};
}

class BuilderPostTest : public ::testing::Test {
 protected:
  PostServer server;
  TclHttpRequestBuilder builder;
  TempDir dir;
};

TEST_F(BuilderPostTest, FormDataFieldsArriveDecoded) {
  const std::vector<std::pair<std::string, std::string>> fields = {
      {"a b", "x&y"},           {"q", "/p?1"}, {"reserved", "+&*%<>\"#{}|\\^~[]'="},
      {"high", "\xC4\xE9\xFF"}, {"empty", ""}, {"spaces", "  two  blanks  "},
  };
  for (const auto& [name, value] : fields) {
    auto* item = builder.AddItem<TclFormFieldRequestItem>();
    item->SetFieldName(name);
    item->SetFieldValue(value);
  }
  builder.Prepare();
  Answer answer = PostRaw(server.Port(), builder);
  EXPECT_EQ(answer.statusLine, "HTTP/1.1 200 OK");
  EXPECT_EQ(static_cast<std::int64_t>(answer.bodyBytesSent), builder.Header().ContentLength());
  Received got = server.Last();
  EXPECT_EQ(got.contentType, "application/x-www-form-urlencoded");
  EXPECT_EQ(got.contentLength, std::to_string(builder.Header().ContentLength()));
  EXPECT_EQ(static_cast<std::int64_t>(got.bodySize), builder.Header().ContentLength());
  ASSERT_EQ(got.params.size(), fields.size());
  for (const auto& [name, value] : fields) {
    auto it = got.params.find(name);
    ASSERT_NE(it, got.params.end()) << name;
    EXPECT_EQ(it->second, value) << name;
  }
}

TEST_F(BuilderPostTest, MultipartFieldsAndFilesArriveWhole) {
  // Sizes from empty to a few hundred KiB; the data contains CR LF and hyphens.
  const std::vector<size_t> sizes = {0, 1, 2, 57, 4096, 65537, 300000};
  std::map<std::string, std::string> contents;
  for (size_t i = 0; i < sizes.size(); ++i) {
    std::string data = RandomBytes(sizes[i], static_cast<unsigned>(i + 11));
    if (data.size() > 10) data.replace(data.size() / 2, 6, "\r\n--\r\n");
    std::string path = dir.File("file" + std::to_string(i) + ".bin");
    testing_support::WriteFile(path, data);
    auto* file = builder.AddItem<TclSubmitFileRequestItem>();
    file->SetFieldName("file" + std::to_string(i));
    file->SetFileName(path);
    if (i % 2) file->SetContentType("image/png");
    contents[file->FieldName()] = data;
  }
  auto* field = builder.AddItem<TclFormFieldRequestItem>();
  field->SetFieldName("comment");
  field->SetFieldValue("multi\r\nline & =");
  builder.Prepare();
  Answer answer = PostRaw(server.Port(), builder);
  EXPECT_EQ(answer.statusLine, "HTTP/1.1 200 OK");
  EXPECT_EQ(static_cast<std::int64_t>(answer.bodyBytesSent), builder.Header().ContentLength());
  Received got = server.Last();
  EXPECT_EQ(got.contentType, "multipart/form-data;boundary=" + builder.Boundary().substr(2));
  EXPECT_EQ(got.contentLength, std::to_string(answer.bodyBytesSent));
  ASSERT_EQ(got.files.size(), sizes.size() + 1);
  for (size_t i = 0; i < sizes.size(); ++i) {
    std::string name = "file" + std::to_string(i);
    auto it = got.files.find(name);
    ASSERT_NE(it, got.files.end()) << name;
    EXPECT_EQ(it->second.content, contents[name]) << name;
    EXPECT_EQ(it->second.filename, dir.File(name + ".bin")) << "the full path is sent";
    EXPECT_EQ(it->second.content_type, i % 2 ? "image/png" : "application/octet-stream");
  }
  auto comment = got.files.find("comment");
  ASSERT_NE(comment, got.files.end());
  EXPECT_EQ(comment->second.content, "multi\r\nline & =");
  EXPECT_TRUE(comment->second.filename.empty());
}

TEST_F(BuilderPostTest, TheSmallestMultipartBodyIs135Bytes) {
  auto* field = builder.AddItem<TclFormFieldRequestItem>();
  field->SetFieldName("f");
  field->SetFieldValue("v");
  builder.SetRequestType(rtMultiPartData);
  builder.Prepare();
  EXPECT_EQ(builder.Header().ContentLength(), 135);
  Answer answer = PostRaw(server.Port(), builder);
  EXPECT_EQ(answer.statusLine, "HTTP/1.1 200 OK");
  EXPECT_EQ(answer.bodyBytesSent, 135u);
  Received got = server.Last();
  EXPECT_EQ(got.contentLength, "135");
  ASSERT_EQ(got.files.count("f"), 1u);
  EXPECT_EQ(got.files.find("f")->second.content, "v");
}

TEST_F(BuilderPostTest, BinaryAndTextItemsArriveConcatenated) {
  std::string binary = RandomBytes(100000, 99);
  builder.OnGetDataStream = [&](TclHttpRequestBuilder*, TclHttpRequestItem*,
                                std::unique_ptr<rtl::Stream>& s) {
    s = std::make_unique<rtl::MemoryStream>(binary);
  };
  builder.AddItem<TclTextRequestItem>()->SetText("<head>");
  builder.AddItem<TclBinaryRequestItem>();
  builder.Header().SetContentType("application/octet-stream");
  builder.Prepare();
  Answer answer = PostRaw(server.Port(), builder);
  EXPECT_EQ(answer.statusLine, "HTTP/1.1 200 OK");
  EXPECT_EQ(answer.bodyBytesSent, 6 + binary.size());
  Received got = server.Last();
  EXPECT_EQ(got.bodySize, 6 + binary.size());
  EXPECT_EQ(builder.Header().ContentLength(), static_cast<std::int64_t>(6 + binary.size()));
}

}  // namespace

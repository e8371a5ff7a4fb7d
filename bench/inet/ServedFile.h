// A file of whole mebibytes served by a local nginx on 127.0.0.1, for the
// benchmarks: written into a temporary folder, served for the object's
// lifetime, removed with it. Used by one thread.
#pragma once

#include <memory>
#include <string>

#include "support/NginxServer.h"
#include "support/TempDir.h"

namespace bench {

class ServedFile {
 public:
  explicit ServedFile(long long sizeMib);
  ~ServedFile();
  ServedFile(const ServedFile&) = delete;
  ServedFile& operator=(const ServedFile&) = delete;

  // nginx is missing or did not start; Problem() says which.
  bool Started() const { return nginx_ != nullptr && nginx_->Started(); }
  const std::string& Problem() const { return problem_; }
  std::string Url() const { return nginx_->Url("/big.bin"); }
  // A one-byte file beside it, for fixed costs such as a program's start.
  std::string TinyUrl() const { return nginx_->Url("/tiny.bin"); }
  long long Size() const { return size_; }

 private:
  testing_support::TempDir dir_;
  long long size_;
  std::string problem_;
  std::unique_ptr<testing_support::NginxServer> nginx_;
};

}  // namespace bench

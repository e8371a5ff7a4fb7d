#include "ServedFile.h"

#include <fstream>

namespace bench {

ServedFile::ServedFile(long long sizeMib) : size_(sizeMib * 1024 * 1024) {
  if (!testing_support::NginxServer::Available()) {
    problem_ = "nginx is not installed";
    return;
  }
  {
    // One random mebibyte repeated: incompressible enough, and quick to write.
    std::ofstream out(dir_.File("big.bin"), std::ios::binary);
    const std::string chunk = testing_support::RandomBytes(1 << 20, 1);
    for (long long i = 0; i < sizeMib; ++i) out.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
    if (!out) {
      problem_ = "cannot write the served file in " + dir_.Path();
      return;
    }
  }
  testing_support::WriteFile(dir_.File("tiny.bin"), "x");
  testing_support::NginxOptions options;
  options.root = dir_.Path();
  nginx_ = std::make_unique<testing_support::NginxServer>(dir_.File("nginx"), options);
  if (!nginx_->Started()) problem_ = "nginx did not start";
}

// The server stops before its folder goes.
ServedFile::~ServedFile() { nginx_.reset(); }

}  // namespace bench

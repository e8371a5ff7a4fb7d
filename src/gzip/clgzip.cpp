#include "gzip/clgzip.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <memory>
#include <vector>

#include "rtl/Exceptions.h"
#include "rtl/Streams.h"

namespace {

constexpr std::int32_t kDefaultBatchSize = 8192;

struct GzCloser {
  void operator()(gzFile_s* file) const { gzclose(file); }
};
using GzReader = std::unique_ptr<gzFile_s, GzCloser>;

[[noreturn]] void RaiseCannotOpen(const std::string& fileName) { throw rtl::Exception("Can't open: " + fileName); }

// Opens by name for reading. Opening by descriptor lets a folder be refused
// here: opened by name it would only fail at the first read, after the
// destination had been created.
GzReader OpenReader(const std::string& fileName) {
  int fd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) RaiseCannotOpen(fileName);
  struct stat st {};
  if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    ::close(fd);
    RaiseCannotOpen(fileName);
  }
  gzFile file = gzdopen(fd, "r");
  if (!file) {
    ::close(fd);  // a failed gzdopen leaves the descriptor open
    RaiseCannotOpen(fileName);
  }
  return GzReader(file);
}

}  // namespace

TclGZip::TclGZip(std::int32_t batchSize) : batchSize_(batchSize > 0 ? batchSize : kDefaultBatchSize) {}

void TclGZip::Uncompress(const std::string& sourceFile, const std::string& destFile) const {
  GzReader reader = OpenReader(sourceFile);
  rtl::FileStream dest(destFile, rtl::FileStream::fmCreate);
  std::vector<char> buffer(static_cast<size_t>(batchSize_));
  for (;;) {
    int count = gzread(reader.get(), buffer.data(), static_cast<unsigned>(batchSize_));
    if (count < 0) throw rtl::Exception("Uncompressing failure");
    if (count == 0) break;
    dest.WriteBuffer(buffer.data(), count);
  }
  // The reader ends a member cut short like a complete one and tells only
  // through its error state; taking that for success would hand on a short file.
  int error = Z_OK;
  gzerror(reader.get(), &error);
  if (error != Z_OK) throw rtl::Exception("Uncompressing failure");
}

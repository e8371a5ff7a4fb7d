// Feeds arbitrary bytes, as a file, to the gzip decoder: any outcome but a
// crash, a leak or a sanitizer report is fine, and a failure must be one of the
// decoder's own errors.
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "gzip/clgzip.h"
#include "rtl/Exceptions.h"

namespace {

const std::string& Folder() {
  static const std::string folder = [] {
    char pattern[] = "/tmp/fuzz-gzip-XXXXXX";
    const char* made = mkdtemp(pattern);
    if (!made) abort();
    return std::string(made);
  }();
  return folder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  const std::string source = Folder() + "/in.gz";
  const std::string dest = Folder() + "/out";
  FILE* file = std::fopen(source.c_str(), "wb");
  if (!file) abort();
  if (size > 0 && std::fwrite(data, 1, size, file) != size) abort();
  std::fclose(file);

  // Small inputs also go through the one-byte batch; larger ones could inflate
  // to megabytes, which one byte at a time would only slow the search down.
  static const std::int32_t kBatches[] = {64, 4096, 65536};
  const std::int32_t batch = size < 64 ? 1 : kBatches[data[0] % 3];
  try {
    TclGZip(batch).Uncompress(source, dest);
  } catch (const rtl::Exception& e) {
    if (e.Message() != "Uncompressing failure") abort();
  }
  return 0;
}

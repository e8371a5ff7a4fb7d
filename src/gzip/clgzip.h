// Unpacks a gzip-compressed file into a plain file, one BatchSize block at a
// time, on zlib's gzip file reader. A file that is not gzip data is copied as it is.
//
// Threads: a decoder is a plain object used by one thread at a time (the download
// item creates one on the user-interface thread for each unpacking).
#pragma once

#include <cstdint>
#include <string>

class TclGZip {
 public:
  // BatchSize is the size of each block read and written; a value below 1
  // would read nothing and end with an empty file, so it falls back to 8192.
  explicit TclGZip(std::int32_t batchSize);

  std::int32_t BatchSize() const { return batchSize_; }

  // Decodes SourceFile into DestFile, creating or replacing DestFile.
  // Raises rtl::Exception "Can't open: <SourceFile>" when the source cannot be
  // opened (DestFile is then left untouched), rtl::EFCreateError when DestFile
  // cannot be created, and rtl::Exception "Uncompressing failure" when the data
  // is damaged or ends early; DestFile then keeps the bytes written so far.
  void Uncompress(const std::string& sourceFile, const std::string& destFile) const;

 private:
  std::int32_t batchSize_;
};

// What a server reported about a remote resource, and the routine that reads a
// parameter ("filename=") out of a header text.
//
// Threads: a record has no lock. It is written by one thread at a time: a
// worker fills its own record on the worker thread, the download item copies it
// (Assign) on the user-interface thread.
#pragma once

#include <cstdint>
#include <string>

#include "rtl/DateTime.h"

class TclResourceInfo {
 public:
  // Date starts at the local clock's current date and time.
  TclResourceInfo();
  virtual ~TclResourceInfo() = default;
  TclResourceInfo(const TclResourceInfo&) = delete;
  TclResourceInfo& operator=(const TclResourceInfo&) = delete;

  // Copies every field from Source; the random-access flag is copied as read
  // (so a source of unknown size copies as false). With null, every field is
  // reset to empty, 0 or false, Date included.
  virtual void Assign(const TclResourceInfo* source);

  // Size in bytes; 0 means unknown. 64-bit so that resources over 2 GiB work.
  std::int64_t Size() const { return size_; }
  void SetSize(std::int64_t value) { size_ = value; }
  // The decoded URL path of the resource.
  const std::string& Name() const { return name_; }
  void SetName(const std::string& value) { name_ = value; }
  // Last modification time, local.
  rtl::DateTime Date() const { return date_; }
  void SetDate(rtl::DateTime value) { date_ = value; }
  const std::string& ContentType() const { return contentType_; }
  void SetContentType(const std::string& value) { contentType_ = value; }
  std::int32_t StatusCode() const { return statusCode_; }
  void SetStatusCode(std::int32_t value) { statusCode_ = value; }
  // Only ever true together with a known size: the stored flag alone would let
  // a resource of unknown length be split into segments.
  bool AllowsRandomAccess() const { return size_ > 0 && allowsRandomAccess_; }
  void SetAllowsRandomAccess(bool value) { allowsRandomAccess_ = value; }
  const std::string& ContentDisposition() const { return contentDisposition_; }
  void SetContentDisposition(const std::string& value) { contentDisposition_ = value; }
  bool Compressed() const { return compressed_; }
  void SetCompressed(bool value) { compressed_ = value; }
  // The resource's validators as the server sent them (empty when it sent
  // none): the ETag, and the Last-Modified text (for FTP the modification
  // time). A data answer with other ones is of another version.
  const std::string& ETag() const { return etag_; }
  void SetETag(const std::string& value) { etag_ = value; }
  const std::string& LastModified() const { return lastModified_; }
  void SetLastModified(const std::string& value) { lastModified_ = value; }

 private:
  std::int64_t size_ = 0;
  std::string name_;
  rtl::DateTime date_ = 0;
  std::string contentType_;
  std::int32_t statusCode_ = 0;
  bool allowsRandomAccess_ = false;
  std::string contentDisposition_;
  bool compressed_ = false;
  std::string etag_;
  std::string lastModified_;
};

// The value of ParamName inside a header text such as a content disposition.
// ParamName is searched in the lower-cased Source, so it must be given in lower
// case ("filename="); the value keeps the header's own letter case. A quoted
// value may contain semicolons; an unquoted one runs to the first semicolon. At
// most 1000 characters after the name are looked at. An empty ParamName takes
// the value from the start of Source.
std::string GetHeaderParamValue(const std::string& source, const std::string& paramName);

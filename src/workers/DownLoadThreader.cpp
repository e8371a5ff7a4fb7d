#include "workers/DownLoadThreader.h"

#include <algorithm>
#include <chrono>
#include <cerrno>
#include <cstring>
#include <exception>
#include <mutex>

#include "inet/InternetActions.h"
#include "inet/InternetErrors.h"
#include "inet/clConnection.h"
#include "inet/clWinInet.h"
#include "platform/LastError.h"
#include "rtl/Exceptions.h"
#include "rtl/Streams.h"
#include "workers/HttpQueries.h"

namespace {

// Holds DataLock when one is set.
class OptionalLock {
 public:
  explicit OptionalLock(std::mutex* lock) : lock_(lock) {
    if (lock_) lock_->lock();
  }
  ~OptionalLock() {
    if (lock_) lock_->unlock();
  }
  OptionalLock(const OptionalLock&) = delete;
  OptionalLock& operator=(const OptionalLock&) = delete;

 private:
  std::mutex* lock_;
};

}  // namespace

template <class T, class Make, class Fits>
T* TclDownLoadThreader::TakeOrOpen(TclConnectAction* connectAction, Make make, Fits fits) {
  // A kept handle action is this worker's only when it was made under this
  // connect for the same resource (a connection shared by items keeps the
  // requests of other files too); a new one is fired before it is used.
  bool made = false;
  T* action = Connection()->TakeOrMake<T>(
      [connectAction, &fits](T* kept) {
        return kept->WorksUnder(connectAction->Handle()) && fits(kept);
      },
      make, made);
  if (made) {
    try {
      action->Fire(GetTimeOut(TimeOut()));
    } catch (...) {
      ReleaseAction(action);
      throw;
    }
  }
  return action;
}

TclDownLoadThreader::TclDownLoadThreader(const std::string& url, bool infoOnly,
                                         rtl::Stream* dataStream)
    : TclCustomThreader(url, dataStream), infoOnly_(infoOnly) {}

void TclDownLoadThreader::Start() {
  {
    std::lock_guard guard(boundLock_);
    end_ = Bounded() ? ResourcePos() + BytesToProceed() : -1;
    readStart_ = readEnd_ = ResourcePos();
    cut_ = false;
  }
  TclCustomThreader::Start();
}

std::int64_t TclDownLoadThreader::ShrinkEnd(std::int64_t wanted, std::int64_t minCut,
                                            bool& cutRead) {
  bool abort = false;
  std::int64_t end = 0;
  {
    std::lock_guard guard(boundLock_);
    if (end_ < 0) return -1;
    end = std::max(wanted, readEnd_);
    // A read is cut off whole or not at all: what it delivers is either all
    // this worker's or none of it, so no byte is left to nobody. Never below
    // Wanted: the owner's map cannot end a segment there.
    if (cutRead && readStart_ < readEnd_ && readStart_ >= wanted) end = readStart_;
    if (end_ - end < std::max<std::int64_t>(minCut, 1)) return -1;
    end_ = end;
    abort = end < readEnd_;
    cut_ = cut_ || abort;
  }
  cutRead = abort;
  if (abort) Connection()->Abort();
  return end;
}

std::int64_t TclDownLoadThreader::Remaining() {
  // ResourcePos is this thread's own; only the end may move under it.
  std::lock_guard guard(boundLock_);
  return end_ - ResourcePos();
}

std::int64_t TclDownLoadThreader::NextRead(std::int64_t batch) {
  std::lock_guard guard(boundLock_);
  const std::int64_t want = std::clamp<std::int64_t>(end_ - ResourcePos(), 0, batch);
  readStart_ = ResourcePos();
  readEnd_ = readStart_ + want;
  return want;
}

bool TclDownLoadThreader::Claim(std::int64_t count) {
  std::lock_guard guard(boundLock_);
  if (readEnd_ > end_) {
    readEnd_ = readStart_;
    return false;
  }
  readStart_ = readEnd_ = readStart_ + count;
  return true;
}

bool TclDownLoadThreader::CutOff() {
  std::lock_guard guard(boundLock_);
  return cut_;
}

void TclDownLoadThreader::ProcessHttp(TclConnectAction* connectAction) {
  TclCustomThreader::ProcessHttp(connectAction);
  if (NoDataWanted()) return;
  // A server without ranges sends the body from its first byte: a segment
  // that broke off is fetched again from its start, not from where it broke.
  const TclResourceInfo* info = ResourceInfo();
  if (Bounded() && bytesProceed_ > 0 && info && !info->AllowsRandomAccess()) RestartSegment();
  if (Bounded() && Remaining() == 0) return;

  TclInternetConnection* connection = Connection();
  const std::string object = URLParser().UrlPath() + URLParser().ExtraInfo();
  auto* request = TakeOrOpen<TclHttpOpenRequestAction>(
      connectAction,
      [&] {
        return new TclHttpOpenRequestAction(connection, connectAction->ParentHandle(),
                                            connectAction->Handle(), "GET", object, "", "",
                                            nullptr, GetRequestFlags(false));
      },
      [&](TclHttpOpenRequestAction* kept) { return kept->ObjectName() == object; });
  struct Release {
    TclDownLoadThreader* self;
    TclHttpOpenRequestAction* request;
    ~Release() { self->ReleaseAction(request); }
  } release{this, request};
  if (Terminated()) return;

  AddRequestHeaders(request);
  AddRangeHeader(request);
  AddCompressionHeader(request);

  for (int send = 1;; ++send) {
    try {
      SendRequest(request);
    } catch (const EclInternetError&) {
      // A refused answer (a whole body for a range) may be of a new version.
      CheckSameResource(request);
      throw;
    }
    std::exception_ptr heldBack;
    try {
      CheckStatusCode(request);
    } catch (const EclInternetError&) {
      if (send >= 2) throw;
      heldBack = std::current_exception();
    }
    if (CheckProxyAuthentication(request) || send >= 2) {
      // An error status not answered by a proxy re-send is never read into
      // the file as data.
      if (heldBack) std::rethrow_exception(heldBack);
      break;
    }
    if (Terminated()) return;
  }
  CheckSameResource(request);
  ReadData(request);
}

void TclDownLoadThreader::RestartSegment() {
  SetResourcePos(ResourcePos() - bytesProceed_);
  bytesProceed_ = 0;
}

void TclDownLoadThreader::AddRangeHeader(TclHttpOpenRequestAction* request) {
  if (!Bounded()) return;
  // Inclusive, as HTTP ranges are: exactly the bytes still missing, so that
  // a kept connection never carries a byte nobody reads.
  const std::string line =
      rtl::Format("Range: bytes=%lld-%lld", static_cast<long long>(ResourcePos()),
                  static_cast<long long>(ResourcePos() + Remaining() - 1));
  // Replaces the line of an earlier send: a kept or retried request must ask
  // for the range of this send.
  clWinInet::HttpAddRequestHeadersA(request->Handle(), line.c_str(),
                                    static_cast<DWORD>(line.size()),
                                    HTTP_ADDREQ_FLAG_ADD | HTTP_ADDREQ_FLAG_REPLACE);
  // A server whose resource changed answers with the whole new body instead
  // of a piece of it. A weak ETag cannot stand in If-Range.
  const TclResourceInfo* info = ResourceInfo();
  std::string validator;
  if (info && !info->ETag().empty() && info->ETag().rfind("W/", 0) != 0) {
    validator = info->ETag();
  } else if (info) {
    validator = info->LastModified();
  }
  if (validator.empty()) return;
  const std::string ifRange = "If-Range: " + validator;
  clWinInet::HttpAddRequestHeadersA(request->Handle(), ifRange.c_str(),
                                    static_cast<DWORD>(ifRange.size()),
                                    HTTP_ADDREQ_FLAG_ADD | HTTP_ADDREQ_FLAG_REPLACE);
}

void TclDownLoadThreader::CheckSameResource(TclHttpOpenRequestAction* request) {
  const TclResourceInfo* info = ResourceInfo();
  if (!info) return;
  HINTERNET handle = request->Handle();
  std::string text;
  std::string change;
  if (!info->ETag().empty() && http_queries::QueryText(handle, HTTP_QUERY_ETAG, text) &&
      text != info->ETag()) {
    change = "ETag " + info->ETag() + " is now " + text;
  } else if (!info->LastModified().empty() &&
             http_queries::QueryText(handle, HTTP_QUERY_LAST_MODIFIED, text) &&
             text != info->LastModified()) {
    change = "Last-Modified " + info->LastModified() + " is now " + text;
  } else if (info->Size() > 0) {
    DWORD status = 0;
    std::int64_t length = 0;
    if (!http_queries::QueryNumber(handle, HTTP_QUERY_STATUS_CODE, status)) return;
    if (status == 206 && http_queries::QueryText(handle, HTTP_QUERY_CONTENT_RANGE, text)) {
      const std::size_t slash = text.rfind('/');
      const std::string total = slash == std::string::npos ? "" : text.substr(slash + 1);
      if (!total.empty() && total != "*" && total != std::to_string(info->Size())) {
        change = "its length " + std::to_string(info->Size()) + " is now " + total;
      }
    } else if (status == 200 &&
               http_queries::QueryNumber64(handle, HTTP_QUERY_CONTENT_LENGTH, length) &&
               length != info->Size()) {
      change = "its length " + std::to_string(info->Size()) + " is now " + std::to_string(length);
    }
  }
  if (change.empty()) return;
  throw EclInternetError(InternetMessages().ResourceChanged + ": " + change, 0,
                         TclFailureKind::ResourceChanged);
}

void TclDownLoadThreader::ProcessFtp(TclConnectAction* connectAction) {
  TclCustomThreader::ProcessFtp(connectAction);
  if (NoDataWanted()) return;
  if (Bounded() && Remaining() == 0) return;

  TclInternetConnection* connection = Connection();
  const std::string path = URLParser().UrlPath();
  auto* file = TakeOrOpen<TclFtpOpenFileAction>(
      connectAction,
      [&] {
        return new TclFtpOpenFileAction(connection, connectAction->ParentHandle(),
                                        connectAction->Handle(), path, GENERIC_READ,
                                        FTP_TRANSFER_TYPE_BINARY);
      },
      [&](TclFtpOpenFileAction* kept) { return kept->FileName() == path; });
  struct Release {
    TclDownLoadThreader* self;
    TclFtpOpenFileAction* file;
    ~Release() { self->ReleaseAction(file); }
  } release{this, file};
  if (Terminated()) return;
  // A transfer that continues starts at its offset (REST), never again at
  // the file's first byte.
  if (Bounded() && ResourcePos() > 0) {
    LONG high = static_cast<LONG>(static_cast<std::uint64_t>(ResourcePos()) >> 32);
    platform::SetLastError(0);
    const DWORD low = clWinInet::InternetSetFilePointer(
        file->Handle(), static_cast<LONG>(ResourcePos() & 0xFFFFFFFF), &high, FILE_BEGIN, 0);
    if (low == INVALID_SET_FILE_POINTER && platform::GetLastError() != 0) {
      throw EclInternetError::FromLastError();
    }
  }
  ReadData(file);
}

void TclDownLoadThreader::ReadData(TclInternetResourceAction* handleAction) {
  rtl::Stream* stream = DataStream();
  const bool bounded = Bounded();
  if (!bounded) {
    // An open-ended body comes again from its first byte: what an earlier
    // attempt wrote goes, and so does its count.
    RestartSegment();
    if (stream) {
      OptionalLock lock(DataLock());
      stream->SetSize(0);
      stream->SetPosition(0);
    }
  }
  const std::int32_t batch = std::max(BatchSize(), 1);
  // While data arrives faster than small blocks are handed over, several are
  // read at a time: each read is a call on the connection's thread. The
  // blocks still go to the owner one by one, each written just before its
  // data event, and what a read brought beyond a block after which the
  // worker was stopped is thrown away, never written. A read that has to
  // wait goes back to one block, so a slow path reports every block as it
  // comes.
  const std::int64_t most = std::max<std::int64_t>(batch, kReadSpan / batch * batch);
  std::int64_t span = batch;
  readBuffer_.assign(static_cast<std::size_t>(most) + 1, 0);
  TclInternetReadFileAction read(Connection(), handleAction->ParentHandle(), handleAction->Handle(),
                                 readBuffer_.data());
  struct FreeBuffer {
    std::vector<char>& buffer;
    ~FreeBuffer() {
      buffer.clear();
      buffer.shrink_to_fit();
    }
  } freeBuffer{readBuffer_};

  for (;;) {
    const std::int64_t want = bounded ? NextRead(span) : span;
    // A segment cut off in the middle of a read ends there, without the
    // closing read: its request was aborted.
    if (bounded && want == 0 && CutOff()) break;
    read.SetBytesToRead(static_cast<DWORD>(want));
    const auto started = std::chrono::steady_clock::now();
    try {
      read.Fire(GetTimeOut(TimeOut()));
    } catch (const EclInternetError&) {
      // The whole blocks that arrived before the failure are kept, as if
      // each had been read alone; the next attempt asks from after them.
      const std::int64_t whole = read.BytesRead() / batch * batch;
      if (bounded && !Claim(whole)) break;  // cut off by the owner: nothing of it is ours
      for (std::int64_t offset = 0; offset < whole; offset += batch) {
        lastReadCount_ = batch;
        if (!HandOver(stream, offset, bounded)) break;
      }
      throw;
    }
    const std::int64_t got = read.BytesRead();
    span = std::chrono::steady_clock::now() - started < kQuickRead ? std::min(most, span * 2)
                                                                   : batch;
    // Past this point the bytes are written: the owner can no longer take them.
    if (bounded && !Claim(got)) break;
    if (bounded && got != want) {
      throw EclInternetError(InternetMessages().ReadDataFailed, 0);
    }
    if (got == 0) {
      lastReadCount_ = 0;
      break;
    }
    for (std::int64_t offset = 0; offset < got; offset += batch) {
      lastReadCount_ = static_cast<std::int32_t>(std::min<std::int64_t>(batch, got - offset));
      if (!HandOver(stream, offset, bounded)) return;
    }
  }
}

bool TclDownLoadThreader::HandOver(rtl::Stream* stream, std::int64_t offset, bool bounded) {
  char* block = readBuffer_.data() + offset;
  if (stream) {
    OptionalLock lock(DataLock());
    if (bounded) stream->SetPosition(ResourcePos());
    // A short write (a full disk) fails the run at once with the system's
    // reason: no retry can make space.
    errno = 0;
    if (stream->Write(block, lastReadCount_) != lastReadCount_) {
      const int reason = errno;
      SetFailure(TclRunFailure::LocalFile);
      throw rtl::Exception("Write data failed: " +
                           (reason != 0 ? std::string(std::strerror(reason))
                                        : platform::SysErrorMessage(platform::GetLastError())));
    }
  }
  bytesProceed_ += lastReadCount_;
  SetResourcePos(ResourcePos() + lastReadCount_);
  // The event sees a zero byte just after its block: the next block's first
  // byte is put back after it.
  char& after = block[lastReadCount_];
  const char kept = after;
  after = 0;
  RunDataHook(ResourcePos(), block, lastReadCount_);
  after = kept;
  return !Terminated();
}

#include "workers/DownLoadThreader.h"

#include <algorithm>
#include <exception>
#include <mutex>

#include "inet/InternetActions.h"
#include "inet/InternetErrors.h"
#include "inet/clConnection.h"
#include "inet/clWinInet.h"
#include "platform/LastError.h"
#include "rtl/Exceptions.h"
#include "rtl/Streams.h"

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

template <class T, class Make>
T* TclDownLoadThreader::TakeOrOpen(TclConnectAction* connectAction, Make make) {
  // A kept handle action is this worker's only when it was made under this
  // connect; a new one is fired before it is used.
  bool made = false;
  T* action = Connection()->TakeOrMake<T>(
      [connectAction](T* kept) { return kept->WorksUnder(connectAction->Handle()); }, make, made);
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

void TclDownLoadThreader::ProcessHttp(TclConnectAction* connectAction) {
  TclCustomThreader::ProcessHttp(connectAction);
  if (NoDataWanted()) return;

  TclInternetConnection* connection = Connection();
  auto* request = TakeOrOpen<TclHttpOpenRequestAction>(connectAction, [&] {
    return new TclHttpOpenRequestAction(
        connection, connectAction->ParentHandle(), connectAction->Handle(), "GET",
        URLParser().UrlPath() + URLParser().ExtraInfo(), "", "", nullptr, GetRequestFlags(false));
  });
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
    SendRequest(request);
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
  ReadData(request);
}

void TclDownLoadThreader::AddRangeHeader(TclHttpOpenRequestAction* request) {
  if (BytesToProceed() < 0) return;
  // The end number is one past the last byte wanted; the read loop stops
  // after the bytes it needs and never reads the extra one.
  const std::string line =
      rtl::Format("Range: bytes=%lld-%lld", static_cast<long long>(ResourcePos()),
                  static_cast<long long>(ResourcePos() + BytesToProceed()));
  // Replaces the line of an earlier send: a kept or retried request must ask
  // for the range of this send.
  clWinInet::HttpAddRequestHeadersA(request->Handle(), line.c_str(),
                                    static_cast<DWORD>(line.size()),
                                    HTTP_ADDREQ_FLAG_ADD | HTTP_ADDREQ_FLAG_REPLACE);
}

void TclDownLoadThreader::ProcessFtp(TclConnectAction* connectAction) {
  TclCustomThreader::ProcessFtp(connectAction);
  if (NoDataWanted()) return;

  TclInternetConnection* connection = Connection();
  auto* file = TakeOrOpen<TclFtpOpenFileAction>(connectAction, [&] {
    return new TclFtpOpenFileAction(connection, connectAction->ParentHandle(),
                                    connectAction->Handle(), URLParser().UrlPath(), GENERIC_READ,
                                    FTP_TRANSFER_TYPE_BINARY);
  });
  struct Release {
    TclDownLoadThreader* self;
    TclFtpOpenFileAction* file;
    ~Release() { self->ReleaseAction(file); }
  } release{this, file};
  if (!Terminated()) ReadData(file);
}

void TclDownLoadThreader::ReadData(TclInternetResourceAction* handleAction) {
  rtl::Stream* stream = DataStream();
  const bool bounded = BytesToProceed() >= 0;
  if (!bounded && stream) {
    OptionalLock lock(DataLock());
    stream->SetPosition(0);
  }
  const std::int32_t batch = BatchSize();
  readBuffer_.assign(static_cast<std::size_t>(batch) + 1, 0);
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
    std::int64_t want = batch;
    if (bounded && BytesToProceed() - bytesProceed_ < batch)
      want = BytesToProceed() - bytesProceed_;
    read.SetBytesToRead(static_cast<DWORD>(std::max<std::int64_t>(want, 0)));
    read.Fire(GetTimeOut(TimeOut()));
    lastReadCount_ = static_cast<std::int32_t>(read.BytesRead());
    // Only the byte after the data is promised to be zero; clearing the whole
    // buffer for every block would cost a pass over it per block.
    readBuffer_[static_cast<std::size_t>(std::clamp(lastReadCount_, 0, batch))] = 0;
    if (bounded && lastReadCount_ != want) {
      throw EclInternetError(InternetMessages().ReadDataFailed, 0);
    }
    if (lastReadCount_ == 0) break;
    if (stream) {
      OptionalLock lock(DataLock());
      if (bounded) stream->SetPosition(ResourcePos());
      // A short write (a full disk) fails the run, never passes as data.
      if (stream->Write(readBuffer_.data(), lastReadCount_) != lastReadCount_) {
        throw rtl::Exception("Write data failed: " +
                             platform::SysErrorMessage(platform::GetLastError()));
      }
    }
    bytesProceed_ += lastReadCount_;
    SetResourcePos(ResourcePos() + lastReadCount_);
    RunDataHook(ResourcePos(), readBuffer_.data(), lastReadCount_);
    if (Terminated()) break;
  }
}

// The worker of a download item: after the base has connected and gathered the
// resource information, it requests the bytes of one segment (an HTTP range,
// or the whole FTP file), reads them in batches of BatchSize bytes, writes each
// batch into the item's stream at its offset and reports it to the item.
// Compressed content is written as it arrives; the item decodes the file.
//
// Threads: as the base. The stream is the one thing shared with other workers
// of the item: every positioning and write pair is made under DataLock; reads
// and hooks happen outside it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "workers/CustomThreader.h"

class TclInternetResourceAction;

class TclDownLoadThreader : public TclCustomThreader {
 public:
  TclDownLoadThreader(const std::string& url, bool infoOnly, rtl::Stream* dataStream);

  bool InfoOnly() const { return infoOnly_; }
  // Bytes received by this worker over all its attempts.
  std::int64_t BytesProceed() const { return bytesProceed_; }
  std::int32_t LastReadCount() const { return lastReadCount_; }

 protected:
  void ProcessHttp(TclConnectAction* connectAction) override;
  void ProcessFtp(TclConnectAction* connectAction) override;

 private:
  // Takes the kept request or file made under ConnectAction, or opens one
  // with Make and fires it.
  template <class T, class Make, class Fits>
  T* TakeOrOpen(TclConnectAction* connectAction, Make make, Fits fits);
  void AddRangeHeader(TclHttpOpenRequestAction* request);
  // Fails the attempt (kind ResourceChanged) when the answer names other
  // validators or another total length than the resource information.
  void CheckSameResource(TclHttpOpenRequestAction* request);
  void ReadData(TclInternetResourceAction* handleAction);
  // Back to the first byte this worker was to fetch, forgetting its bytes.
  void RestartSegment();
  bool NoDataWanted() const { return infoOnly_ || BytesToProceed() == 0 || Terminated(); }
  bool Bounded() const { return BytesToProceed() >= 0; }
  // Bytes of a bounded segment still to fetch.
  std::int64_t Remaining() const { return BytesToProceed() - bytesProceed_; }

  const bool infoOnly_;
  std::vector<char> readBuffer_;
  std::int32_t lastReadCount_ = 0;
  std::int64_t bytesProceed_ = 0;
};

// The worker of a download item: after the base has connected and gathered the
// resource information, it requests the bytes of one segment (an HTTP range,
// or the whole FTP file), reads them in batches of BatchSize bytes, writes each
// batch into the item's stream at its offset and reports it to the item.
// Compressed content is written as it arrives; the item decodes the file.
//
// Threads: as the base. The stream is the one thing shared with other workers
// of the item: every positioning and write pair is made under DataLock; reads
// and hooks happen outside it. The end of a bounded segment may be moved
// closer by the owner while the worker runs (ShrinkEnd): the end, and the end
// of the read in flight, are guarded by the worker's bound lock, so that the
// worker never fetches or writes a byte past the end it was last given.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "workers/CustomThreader.h"

class TclInternetResourceAction;

// The most a worker reads at a time when its blocks are smaller (whole
// blocks), and how fast a read must be for the next to take twice as much.
inline constexpr std::int64_t kReadSpan = 64 * 1024;
inline constexpr std::chrono::microseconds kQuickRead{500};

class TclDownLoadThreader : public TclCustomThreader {
 public:
  TclDownLoadThreader(const std::string& url, bool infoOnly, rtl::Stream* dataStream);

  // Fixes the end of a bounded segment (ResourcePos + BytesToProceed) before
  // the thread runs.
  void Start() override;

  bool InfoOnly() const { return infoOnly_; }
  // Owner thread, while the worker runs: moves the end of a bounded segment
  // back to Wanted, or to the end of the read in flight when that lies
  // further. With CutRead the read in flight may go too, when it starts at
  // Wanted or later: the end is then where that read started, the read is
  // aborted and nothing of it is written, and CutRead stays true (else it is
  // set false). Never below Wanted. Refused (-1)
  // when the segment is unbounded or when fewer than MinCut bytes would be
  // cut off; otherwise the worker stops at the new end, which is returned.
  // The bytes from there to the old end are no longer this worker's.
  std::int64_t ShrinkEnd(std::int64_t wanted, std::int64_t minCut, bool& cutRead);
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
  // Writes the block of LastReadCount bytes at Offset in the read buffer and
  // reports it; false when the worker was stopped meanwhile.
  bool HandOver(rtl::Stream* stream, std::int64_t offset, bool bounded);
  // Back to the first byte this worker was to fetch, forgetting its bytes.
  void RestartSegment();
  bool NoDataWanted() const { return infoOnly_ || BytesToProceed() == 0 || Terminated(); }
  bool Bounded() const { return BytesToProceed() >= 0; }
  // Bytes of a bounded segment still to fetch.
  std::int64_t Remaining();
  // The size of the next read of a bounded segment, at most Batch, recorded
  // as in flight.
  std::int64_t NextRead(std::int64_t batch);
  // After a read of a bounded segment delivered Count bytes: false when the
  // owner cut the read off (nothing of it is this worker's), else its bytes
  // are this worker's to write.
  bool Claim(std::int64_t count);
  // The owner cut the segment off in the middle of a read.
  bool CutOff();

  const bool infoOnly_;
  std::mutex boundLock_;
  // Guarded by boundLock_: the end (-1: unbounded), where the read in flight
  // starts and ends (equal: none in flight), and whether a ShrinkEnd cut a
  // read off.
  std::int64_t end_ = -1;
  std::int64_t readStart_ = 0;
  std::int64_t readEnd_ = 0;
  bool cut_ = false;
  std::vector<char> readBuffer_;
  std::int32_t lastReadCount_ = 0;
  std::int64_t bytesProceed_ = 0;
};

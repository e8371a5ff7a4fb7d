// The two ways the benchmark reads a whole body through the internet client
// library, each returning the byte count, or -1 after printing why it failed:
// - LibraryRead: the library's own calls, in the firing thread;
// - ConnectionRead: actions fired on a TclInternetConnection the way a download
//   worker fires them: root without a time-out, then connect, request, send and
//   one read action fired again and again, each with TimeOut, into a buffer one
//   byte longer than the block that is cleared before every read.
// Both run on the calling thread (ConnectionRead's calls run on the
// connection's worker thread while the caller waits).
// ConnectionReadOnOneCore keeps the calling thread and the connection's worker
// on the core the caller is running on, so that the hand-overs between them
// never have to wake another, idle core: it tells the cost of the hand-over
// itself apart from the cost of waking cores.
#pragma once

#include <string>

#include "platform/inet/InetClient.h"

namespace bench {

long long LibraryRead(const std::string& url, DWORD block);
long long ConnectionRead(const std::string& url, DWORD block, int timeOut);
long long ConnectionReadOnOneCore(const std::string& url, DWORD block, int timeOut);

}  // namespace bench

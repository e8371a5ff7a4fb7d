// Finishes transfers off the caller's thread: removing an easy handle from its multi
// handle can wait for a name lookup still running in libcurl's resolver thread, and
// a cancelled call must not wait for that. The reaper removes and frees the easy
// handle, then returns the multi handle to its root's pool.
//
// Threads: Reap() may be called from any thread; one reaper thread (started on first
// use, never joined) does the work. Everything handed over belongs to the reaper.
#pragma once

#include <curl/curl.h>

#include <memory>

#include "platform/inet/RootObject.h"

namespace inet {

void Reap(CURL* easy, bool attached, std::unique_ptr<PoolEntry> entry,
          std::shared_ptr<InetObject> root);

}  // namespace inet

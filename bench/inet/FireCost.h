// The cost of the connection's machinery alone: an action whose call does
// nothing, fired again and again with a time-out, so that what each fire costs
// beyond the library call itself (hand-over to the worker thread and back) can
// be told apart from the read. Runs on the calling thread.
#pragma once

#include "Measure.h"

namespace bench {

// Wall and CPU seconds of Count fires of an empty action on one connection;
// with OneCore, the firing thread and the connection's worker share one core.
Sample TimeEmptyFires(long long count, int timeOut, bool oneCore = false);

}  // namespace bench

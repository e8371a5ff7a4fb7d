// The workers module: the worker thread base and the download worker.
#pragma once

#include "workers/CustomThreader.h"
#include "workers/DownLoadThreader.h"

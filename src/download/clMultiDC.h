// The download control module: items, list, control layers, error list,
// notifiers and the segment map.
#pragma once

#include "download/ControlNotifier.h"
#include "download/DownLoadItem.h"
#include "download/ErrorList.h"
#include "download/InternetControl.h"
#include "download/InternetItem.h"
#include "download/MultiDownLoaderControl.h"
#include "download/ResourceState.h"

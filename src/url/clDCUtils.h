// The utilities module of the download component: URL parser and corrector,
// resource information.
#pragma once

#include "url/ResourceInfo.h"
#include "url/URLParser.h"

// Turns a colour value into the red, green and blue it is drawn with. A value
// with the top bit set names a system colour by the index in its low byte; this
// system has no desktop colour settings to ask, so those come from a fixed table.
//
// Threads: a pure function, callable from any thread.
#pragma once

#include "progress/DrawColors.h"

// Red in the low byte, then green, then blue; the top byte is 0. An unknown
// system colour index gives black.
TclColor ColorToRGB(TclColor color);

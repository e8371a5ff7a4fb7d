// The segmented bar as a line of text: the console front-end's picture of the
// segment map the progress bar shows. Each cell stands for an equal share of
// the resource; a cell whose middle byte some segment has already fetched is
// '#', any other '.', and a cell where a later segment begins and that is not
// filled yet is '|', so the segments are seen filling up from their starts.
//
// Pure functions, callable from any thread.
#pragma once

#include <string>

class TclResourceState;

namespace ui {

// Width cells between brackets, then the total percentage; without a map or
// while its size is unknown, empty cells and no percentage.
std::string ConsoleBarText(const TclResourceState* state, int width);
// The whole percentage done, or -1 without a map of known size.
int ConsolePercent(const TclResourceState* state);

}  // namespace ui

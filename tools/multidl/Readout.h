// The text of the progress readout, as pure functions of an item's segment
// map: one line per item with a bar in which every segment's done part is
// filled at its place in the file (the progress bar's own geometry, one column
// per pixel), the percentage, the speed and the time left; the plain line for a
// log; and the escape sequence that redraws a block of lines in place.
//
// Threads: pure functions; the segment map they read belongs to the main thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class TclResourceState;

namespace multidl {

struct ReadoutItem {
  std::string name;                         // shown at the start of the line
  const TclResourceState* state = nullptr;  // the item's segment map
  double speed = 0;                         // bytes per second
  std::string note;  // shown instead of the figures while not empty ("retrying in 5 s: ...")
};

// The reason of a failed attempt in the words of a Linux user: "connection
// refused", "timed out", "HTTP 503" ...; the error text itself otherwise.
std::string ShortReason(const std::string& error, std::int32_t code);

// 1536 -> "1.5KiB", 0 -> "0B"; one decimal from KiB up.
std::string FormatBytes(std::int64_t bytes);
// Seconds as "m:ss" or "h:mm:ss"; "--:--" when not finite or negative.
std::string FormatDuration(double seconds);

// Columns characters: '#' where a segment's done part lies, 'x' where the done
// part of a failed segment lies, '.' elsewhere. All '.' while the size is unknown.
std::string RenderBar(const TclResourceState* state, int columns);

// The terminal line of one item, never longer than Width - 1 characters (a
// full-width line would wrap on some terminals and spoil the redraw):
// "name [#####....###...]  45%  1.2MiB/s  0:12 left".
std::string RenderItemLine(const ReadoutItem& item, int width);

// The line written periodically when standard error is not a terminal:
// "name: 45% 28.8MiB of 64.0MiB, 1.2MiB/s, 0:12 left, 5 segments".
std::string RenderPlainLine(const ReadoutItem& item);

// What to write to replace the PreviousLines lines last drawn (the cursor
// stands below them) by Messages, which stay, followed by Lines, which the
// next redraw replaces. Every line ends with a newline.
std::string ComposeRedraw(int previousLines, const std::vector<std::string>& messages,
                          const std::vector<std::string>& lines);

}  // namespace multidl

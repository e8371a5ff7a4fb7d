// The geometry of the segmented progress bar, as pure functions: which
// elements (frame, background, total bar, one bar per segment) are drawn, in
// which order and where, and which fills make up one shaded or flat bar. The
// bar's drawing code only walks these lists; tests can call them directly.
//
// Threads: pure functions; they read the resource state they are given, which
// belongs to the user-interface thread.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <vector>

#include "download/ResourceState.h"
#include "progress/DrawColors.h"

enum TclDrawPaintOption : std::uint8_t { dpDrawTotal, dpDrawItems };
enum TclDrawOrientation : std::uint8_t { doHorisontal, doVertical };
enum TclDrawStyle : std::uint8_t { ds3D, dsFlat };
enum TclBorderStyle : std::uint8_t { bsNone, bsFrame };
enum TclProgressBarItemType : std::uint8_t {
  gitFrame,
  gitBackGround,
  gitProcessTotal,
  gitProcessItem
};

// A set of TclDrawPaintOption.
class TclDrawPaintOptions {
 public:
  constexpr TclDrawPaintOptions() = default;
  constexpr TclDrawPaintOptions(std::initializer_list<TclDrawPaintOption> options) {
    for (auto option : options) bits_ |= Bit(option);
  }
  constexpr bool Contains(TclDrawPaintOption option) const { return (bits_ & Bit(option)) != 0; }
  constexpr TclDrawPaintOptions& Include(TclDrawPaintOption option) {
    bits_ |= Bit(option);
    return *this;
  }
  constexpr bool operator==(const TclDrawPaintOptions&) const = default;

 private:
  static constexpr std::uint8_t Bit(TclDrawPaintOption option) {
    return static_cast<std::uint8_t>(1u << option);
  }
  std::uint8_t bits_ = 0;
};

// A rectangle in pixels; right and bottom are exclusive. One whose right is not
// past its left (or bottom past its top) covers nothing.
struct TclRect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;

  constexpr int Width() const { return right - left; }
  constexpr int Height() const { return bottom - top; }
  constexpr bool IsEmpty() const { return right <= left || bottom <= top; }
  constexpr bool operator==(const TclRect&) const = default;
};

// Everything about the bar's look that moves pixels.
struct TclProgressLook {
  TclDrawPaintOptions options{dpDrawTotal, dpDrawItems};
  TclDrawOrientation orientation = doHorisontal;
  TclDrawStyle style = ds3D;
  TclBorderStyle borderStyle = bsFrame;
  int progressSplit = 25;  // percent of the bar given to the total bar
  constexpr bool operator==(const TclProgressLook&) const = default;
};

// One element of the picture in drawing order. Bars carry the status whose
// colour they take: the derived status of the resource for the total bar, the
// segment's own for a segment bar.
struct TclProgressElement {
  TclProgressBarItemType type;
  TclRect rect;
  TclProcessStatus status = psUnknown;
  constexpr bool operator==(const TclProgressElement&) const = default;
};

// One rectangle filled with one colour.
struct TclColorFill {
  TclRect rect;
  TclColor color;
  constexpr bool operator==(const TclColorFill&) const = default;
};

// Part / Total × Length, rounded to the nearest integer with halves to the even
// neighbour (10.5 gives 10, 11.5 gives 12). Total must not be 0.
int ScaleLength(std::int64_t part, std::int64_t total, int length);

// Lightens (Delta > 0) or darkens a colour. A colour whose top byte is 1..127
// comes back unchanged; otherwise each of the three low bytes moves by Delta
// when the result stays in 0..255 and keeps its value when it would not (no
// clamping), and the top byte is dropped, so a system colour becomes the plain
// colour of its low bytes.
TclColor ShiftColor(TclColor color, int delta);

// The elements of a bar Width × Height pixels showing State (null: none), in
// drawing order: the frame (with bsFrame), the background, and, when the size
// of the resource is known, the total bar and one bar per segment, as the
// options ask. Empty bars are listed too: a custom-draw handler still sees them.
std::vector<TclProgressElement> LayoutProgress(int width, int height, const TclProgressLook& look,
                                               const TclResourceState* state);

// The fills, in order, that draw one bar: a single fill when flat (or at most
// two pixels thick), else two bands of lighter and two of darker colour at each
// edge across the thickness and the plain colour between them. The bands are
// fixed rectangles, so in a bar 3 to 7 pixels thick they overlap and reach
// outside it, later fills winning.
std::vector<TclColorFill> BarFills(const TclRect& bar, TclColor color,
                                   TclDrawOrientation orientation, TclDrawStyle style);

#include "progress/ProgressGeometry.h"

#include <cmath>
#include <limits>

namespace {

int RoundHalfToEven(double value) {
  double whole = std::floor(value);
  double fraction = value - whole;
  if (fraction > 0.5 || (fraction == 0.5 && std::fmod(whole, 2.0) != 0.0)) whole += 1.0;
  // Byte counts past the resource size could scale far outside the bar; keep
  // the result a valid int, the fills clip it to the bitmap anyway.
  constexpr double kMax = std::numeric_limits<int>::max() / 2;
  if (whole > kMax) return static_cast<int>(kMax);
  if (whole < -kMax) return static_cast<int>(-kMax);
  return static_cast<int>(whole);
}

// The total bar grows from the area's start by the share of all bytes done.
TclRect TotalBar(const TclRect& area, TclDrawOrientation orientation, std::int64_t done,
                 std::int64_t size) {
  TclRect bar = area;
  if (orientation == doHorisontal) {
    bar.right = area.left + ScaleLength(done, size, area.Width());
    // One pixel more for a bar that has begun and not ended, so that it meets
    // the first pixel still to come.
    if (bar.right != bar.left && bar.right != area.right) ++bar.right;
  } else {
    bar.top = area.bottom - ScaleLength(done, size, area.Height());
    if (bar.top != bar.bottom && bar.top != area.top) --bar.top;
  }
  return bar;
}

// A segment bar stands at the segment's place in the resource and grows from there.
TclRect SegmentBar(const TclRect& area, TclDrawOrientation orientation,
                   const TclResourceStateItem& segment, std::int64_t size) {
  TclRect bar = area;
  if (orientation == doHorisontal) {
    int length = area.Width();
    bar.left = area.left + ScaleLength(segment.ResourcePos(), size, length);
    bar.right = bar.left + ScaleLength(segment.BytesProceed(), size, length);
    if (bar.right != bar.left && bar.right != area.right) ++bar.right;
  } else {
    int length = area.Height();
    bar.bottom = area.bottom - ScaleLength(segment.ResourcePos(), size, length);
    bar.top = bar.bottom - ScaleLength(segment.BytesProceed(), size, length);
    if (bar.top != bar.bottom && bar.top != area.top) --bar.top;
  }
  return bar;
}

}  // namespace

int ScaleLength(std::int64_t part, std::int64_t total, int length) {
  return RoundHalfToEven(static_cast<double>(part) / static_cast<double>(total) * length);
}

TclColor ShiftColor(TclColor color, int delta) {
  if (static_cast<std::int8_t>(color >> 24) > 0) return color;
  TclColor result = 0;
  for (int shift = 0; shift < 24; shift += 8) {
    int byte = static_cast<int>((color >> shift) & 0xFF);
    int moved = byte + delta;
    if (moved >= 0 && moved <= 255) byte = moved;
    result |= static_cast<TclColor>(byte) << shift;
  }
  return result;
}

std::vector<TclProgressElement> LayoutProgress(int width, int height, const TclProgressLook& look,
                                               const TclResourceState* state) {
  std::vector<TclProgressElement> elements;
  TclRect inner{0, 0, width, height};
  if (look.borderStyle == bsFrame) {
    elements.push_back({gitFrame, inner});
    inner = {1, 1, width - 1, height - 1};
  }
  elements.push_back({gitBackGround, inner});
  if (!state || state->ResourceSize() <= 0) return elements;

  const bool horizontal = look.orientation == doHorisontal;
  const bool drawTotal = look.options.Contains(dpDrawTotal);
  const bool drawItems = look.options.Contains(dpDrawItems);
  const std::int64_t size = state->ResourceSize();

  // The segments' share is scaled against the inner rectangle's far
  // coordinate rather than its length (with a frame they differ by one): bars
  // are expected to split exactly as they always have.
  TclRect totalArea = inner;
  if (drawItems) {
    if (horizontal) {
      totalArea.bottom -= ScaleLength(100 - look.progressSplit, 100, inner.bottom);
    } else {
      totalArea.right -= ScaleLength(100 - look.progressSplit, 100, inner.right);
    }
  }
  if (drawTotal) {
    elements.push_back({gitProcessTotal,
                        TotalBar(totalArea, look.orientation, state->BytesProceed(), size),
                        state->Status()});
  }
  if (!drawItems) return elements;

  TclRect itemsArea = inner;
  if (drawTotal) {
    if (horizontal) {
      itemsArea.top = totalArea.bottom;
    } else {
      itemsArea.left = totalArea.right;
    }
  }
  for (int i = 0; i < state->Count(); ++i) {
    const TclResourceStateItem& segment = *state->Items(i);
    elements.push_back(
        {gitProcessItem, SegmentBar(itemsArea, look.orientation, segment, size), segment.Status()});
  }
  return elements;
}

std::vector<TclColorFill> BarFills(const TclRect& bar, TclColor color,
                                   TclDrawOrientation orientation, TclDrawStyle style) {
  const bool horizontal = orientation == doHorisontal;
  const int thickness = horizontal ? bar.Height() : bar.Width();
  if (style == dsFlat || thickness <= 2) return {{bar, color}};

  // A band from Near to Far across the thickness, at the bar's full length.
  auto band = [&](int nearEdge, int farEdge) {
    return horizontal ? TclRect{bar.left, nearEdge, bar.right, farEdge}
                      : TclRect{nearEdge, bar.top, farEdge, bar.bottom};
  };
  const int start = horizontal ? bar.top : bar.left;
  const int end = horizontal ? bar.bottom : bar.right;
  return {
      {band(start, start + 2), ShiftColor(color, 30)},
      {band(start + 2, start + 4), ShiftColor(color, 10)},
      {band(end - 2, end), ShiftColor(color, -30)},
      {band(end - 4, end - 2), ShiftColor(color, -10)},
      {band(start + 4, end - 4), color},
  };
}

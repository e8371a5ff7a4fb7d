// What the progress-bar tests share: a parent window that lends an image
// surface to the bar and counts the paints, and scheme 1's colours with the
// shades the bars' bands take.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "progress/clProgressBar.h"

namespace bar_test {

// Scheme 1: white background, blue frame and segments, green total.
constexpr TclColor kWhite = 0xFFFFFF;
constexpr TclColor kFrame = 0xFF0000;
constexpr TclColor kBlue = 0xFF0000;
constexpr TclColor kBlueUp30 = 0xFF1E1E, kBlueUp10 = 0xFF0A0A, kBlueDown10 = 0xF50000,
                   kBlueDown30 = 0xE10000;
constexpr TclColor kGreen = 0x008000;
constexpr TclColor kGreenUp30 = 0x1E9E1E, kGreenUp10 = 0x0A8A0A, kGreenDown10 = 0x007600,
                   kGreenDown30 = 0x006200;

// The parent window: an image as large as the bar, filled with a colour the
// bar never uses, onto which each paint lands.
class ImageParent : public TclControlParent {
 public:
  static constexpr TclColor kUnderneath = 0x123456;

  explicit ImageParent(TclProgressBar& bar) : bar_(bar) { bar_.SetParent(this); }
  ~ImageParent() override { bar_.SetParent(nullptr); }

  void PaintControl(TclGraphicControl& control) override {
    ++paints;
    events.push_back("paint");
    window_ = std::make_unique<TclBitmap>(nullptr, control.Width(), control.Height());
    window_->Canvas().FillRect(control.ClientRect(), kUnderneath);
    control.Paint(window_->Canvas().Context());
  }

  // What the window shows at (X, Y) after the last paint.
  std::optional<TclColor> Shown(int x, int y) const {
    return window_ ? window_->Pixel(x, y) : std::nullopt;
  }

  int paints = 0;
  std::vector<std::string> events;

 private:
  TclProgressBar& bar_;
  std::unique_ptr<TclBitmap> window_;
};

// The colours of one column (or row) of the last painted bitmap; none where undrawn.
inline std::vector<std::optional<TclColor>> Line(const TclBitmap& bitmap, int at, bool column) {
  std::vector<std::optional<TclColor>> line;
  int count = column ? bitmap.Height() : bitmap.Width();
  for (int i = 0; i < count; ++i)
    line.push_back(column ? bitmap.Pixel(at, i) : bitmap.Pixel(i, at));
  return line;
}

inline std::vector<std::optional<TclColor>> Expect(std::initializer_list<TclColor> colors) {
  return {colors.begin(), colors.end()};
}

}  // namespace bar_test

// The drawing surface of the progress bar: a canvas over a cairo context with
// the few operations the bar needs (rectangle fills and frames in exact pixels,
// the copy of a finished bitmap), and the off-screen bitmap the bar draws into,
// whose pixels can be read back.
//
// Threads: a canvas and a bitmap belong to the thread that made them (the
// user-interface thread for the bar); cairo contexts are not shared.
#pragma once

#include <cairo.h>

#include <memory>
#include <optional>

#include "progress/DrawColors.h"
#include "progress/ProgressGeometry.h"

class TclBitmap;

// Borrows a cairo context; drawing is clipped to whatever the context's target
// is. Fills are not antialiased, so integer rectangles cover exactly their
// pixels; the context's own settings are left as they were.
class TclCanvas {
 public:
  explicit TclCanvas(cairo_t* context);
  TclCanvas(const TclCanvas&) = delete;
  TclCanvas& operator=(const TclCanvas&) = delete;

  // For drawing beyond the operations below (a custom-draw handler, say).
  cairo_t* Context() const { return context_; }

  // An empty rectangle draws nothing.
  void FillRect(const TclRect& rect, TclColor color);
  // A one-pixel outline just inside Rect.
  void FrameRect(const TclRect& rect, TclColor color);
  // Copies Bitmap with its top-left corner at (X, Y). Pixels the bitmap has
  // not drawn are transparent: what was under them stays.
  void Draw(int x, int y, const TclBitmap& bitmap);

 private:
  cairo_t* context_;
};

// An off-screen image of 32-bit pixels, transparent until drawn on.
class TclBitmap {
 public:
  // Like: a canvas whose target the new image should resemble, or null for a
  // plain image in memory. Either way its pixels stay readable.
  TclBitmap(const TclCanvas* like, int width, int height);
  ~TclBitmap();
  TclBitmap(const TclBitmap&) = delete;
  TclBitmap& operator=(const TclBitmap&) = delete;

  int Width() const { return width_; }
  int Height() const { return height_; }
  TclCanvas& Canvas() { return *canvas_; }
  cairo_surface_t* Surface() const { return surface_; }

  // The colour at (X, Y), red in the low byte; none where nothing was drawn
  // or outside the image.
  std::optional<TclColor> Pixel(int x, int y) const;

 private:
  int width_;
  int height_;
  cairo_surface_t* surface_;
  cairo_t* context_;
  std::unique_ptr<TclCanvas> canvas_;
};

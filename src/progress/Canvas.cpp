#include "progress/Canvas.h"

#include <cstdint>
#include <cstring>

#include "progress/SystemColors.h"

TclCanvas::TclCanvas(cairo_t* context) : context_(context) {}

void TclCanvas::FillRect(const TclRect& rect, TclColor color) {
  if (rect.IsEmpty()) return;
  TclColor rgb = ColorToRGB(color);
  cairo_save(context_);
  cairo_set_antialias(context_, CAIRO_ANTIALIAS_NONE);
  cairo_set_operator(context_, CAIRO_OPERATOR_SOURCE);
  cairo_set_source_rgb(context_, (rgb & 0xFF) / 255.0, ((rgb >> 8) & 0xFF) / 255.0,
                       ((rgb >> 16) & 0xFF) / 255.0);
  cairo_rectangle(context_, rect.left, rect.top, rect.Width(), rect.Height());
  cairo_fill(context_);
  cairo_restore(context_);
}

void TclCanvas::FrameRect(const TclRect& rect, TclColor color) {
  if (rect.IsEmpty()) return;
  FillRect({rect.left, rect.top, rect.right, rect.top + 1}, color);
  FillRect({rect.left, rect.bottom - 1, rect.right, rect.bottom}, color);
  FillRect({rect.left, rect.top + 1, rect.left + 1, rect.bottom - 1}, color);
  FillRect({rect.right - 1, rect.top + 1, rect.right, rect.bottom - 1}, color);
}

void TclCanvas::Draw(int x, int y, const TclBitmap& bitmap) {
  cairo_save(context_);
  cairo_set_operator(context_, CAIRO_OPERATOR_OVER);
  cairo_set_source_surface(context_, bitmap.Surface(), x, y);
  cairo_rectangle(context_, x, y, bitmap.Width(), bitmap.Height());
  cairo_fill(context_);
  cairo_restore(context_);
}

TclBitmap::TclBitmap(const TclCanvas* like, int width, int height)
    : width_(width < 0 ? 0 : width), height_(height < 0 ? 0 : height) {
  surface_ = like ? cairo_surface_create_similar_image(cairo_get_target(like->Context()),
                                                       CAIRO_FORMAT_ARGB32, width_, height_)
                  : cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width_, height_);
  context_ = cairo_create(surface_);
  canvas_ = std::make_unique<TclCanvas>(context_);
}

TclBitmap::~TclBitmap() {
  canvas_.reset();
  cairo_destroy(context_);
  cairo_surface_destroy(surface_);
}

std::optional<TclColor> TclBitmap::Pixel(int x, int y) const {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return std::nullopt;
  cairo_surface_flush(surface_);
  const unsigned char* data = cairo_image_surface_get_data(surface_);
  if (!data) return std::nullopt;
  std::uint32_t pixel;
  std::memcpy(&pixel, data + y * cairo_image_surface_get_stride(surface_) + x * 4, sizeof pixel);
  // Native-endian alpha, red, green, blue, with the colours premultiplied.
  std::uint32_t alpha = pixel >> 24;
  if (alpha == 0) return std::nullopt;
  auto channel = [&](int shift) { return (((pixel >> shift) & 0xFF) * 255 + alpha / 2) / alpha; };
  return channel(16) | channel(8) << 8 | channel(0) << 16;
}

#include "progress/SystemColors.h"

#include <array>

namespace {

// Indexed by the system colour number: scroll bar, desktop, active and inactive
// caption, menu, window, window frame, menu text, window text, caption text,
// active and inactive border, application workspace, highlight, highlight
// text, button face, button shadow, grey text, button text, inactive caption
// text, button highlight, dark shadow, light, tooltip text, tooltip
// background, (unused), hot light, the two caption gradients, menu highlight,
// menu bar. A plain grey desktop theme.
constexpr std::array<TclColor, 31> kSystemColors = {
    0xC8C8C8, 0x808000, 0x800000, 0x808080, 0xC0C0C0, 0xFFFFFF, 0x000000, 0x000000,
    0x000000, 0xFFFFFF, 0xC0C0C0, 0xC0C0C0, 0x808080, 0x800000, 0xFFFFFF, 0xC0C0C0,
    0x808080, 0x808080, 0x000000, 0xC0C0C0, 0xFFFFFF, 0x000000, 0xDFDFDF, 0x000000,
    0xE1FFFF, 0xB5B5B5, 0xCC6600, 0xF0CAA6, 0xC0C0C0, 0x800000, 0xC0C0C0,
};

}  // namespace

TclColor ColorToRGB(TclColor color) {
  if ((color & 0x80000000u) == 0) return color & 0x00FFFFFFu;
  TclColor index = color & 0xFFu;
  return index < kSystemColors.size() ? kSystemColors[index] : 0x000000;
}

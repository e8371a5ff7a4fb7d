#include "ui/ConsoleBar.h"

#include "download/ResourceState.h"

namespace ui {

int ConsolePercent(const TclResourceState* state) {
  if (state == nullptr || state->ResourceSize() <= 0) return -1;
  return static_cast<int>(state->BytesProceed() * 100 / state->ResourceSize());
}

std::string ConsoleBarText(const TclResourceState* state, int width) {
  std::string cells(static_cast<std::size_t>(width > 0 ? width : 0), '.');
  const int percent = ConsolePercent(state);
  if (percent >= 0 && width > 0) {
    const std::int64_t size = state->ResourceSize();
    for (int i = 0; i < width; ++i) {
      const std::int64_t from = size * i / width;
      const std::int64_t to = size * (i + 1) / width;
      const std::int64_t middle = from + (to - from) / 2;
      for (int s = 0; s < state->Count(); ++s) {
        const TclResourceStateItem* segment = state->Items(s);
        const std::int64_t start = segment->ResourcePos();
        if (middle >= start && middle < start + segment->BytesProceed()) {
          cells[static_cast<std::size_t>(i)] = '#';
          break;
        }
        if (start > 0 && start >= from && start < to) cells[static_cast<std::size_t>(i)] = '|';
      }
    }
  }
  std::string text = "[" + cells + "]";
  if (percent >= 0) text += " " + std::to_string(percent) + "%";
  return text;
}

}  // namespace ui

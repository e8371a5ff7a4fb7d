#include "Readout.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "download/ResourceState.h"
#include "progress/ProgressGeometry.h"

namespace multidl {
namespace {

std::string Printf(const char* format, double value, const char* unit) {
  char text[48];
  std::snprintf(text, sizeof text, format, value, unit);
  return text;
}

std::string PadLeft(const std::string& text, std::size_t width) {
  return text.size() >= width ? text : std::string(width - text.size(), ' ') + text;
}

std::string FitName(const std::string& name, std::size_t width) {
  if (name.size() <= width) return name + std::string(width - name.size(), ' ');
  if (width <= 2) return name.substr(0, width);
  return name.substr(0, width - 2) + "..";
}

std::string Percent(const TclResourceState* state) {
  if (!state || state->ResourceSize() <= 0) return "--";
  const std::int64_t size = state->ResourceSize();
  const std::int64_t done = std::clamp<std::int64_t>(state->BytesProceed(), 0, size);
  // Floor: 100% only once every byte is there.
  return std::to_string(static_cast<int>(static_cast<long double>(done) * 100 / size)) + "%";
}

std::string TimeLeft(const ReadoutItem& item) {
  if (!item.state || item.state->ResourceSize() <= 0) return "";
  const std::int64_t left = item.state->ResourceSize() - item.state->BytesProceed();
  if (left <= 0) return "0:00 left";
  if (item.speed <= 0) return "--:-- left";
  return FormatDuration(static_cast<double>(left) / item.speed) + " left";
}

std::string Speed(double speed) {
  return FormatBytes(static_cast<std::int64_t>(std::max(0.0, speed))) + "/s";
}

}  // namespace

std::string FormatBytes(std::int64_t bytes) {
  if (bytes < 1024) return std::to_string(bytes) + "B";
  static const char* const kUnits[] = {"KiB", "MiB", "GiB", "TiB"};
  double value = static_cast<double>(bytes) / 1024;
  int unit = 0;
  // 1023.95 would print as "1024.0": move up a unit before it rounds there.
  while (value >= 1023.95 && unit < 3) {
    value /= 1024;
    ++unit;
  }
  return Printf("%.1f%s", value, kUnits[unit]);
}

std::string FormatDuration(double seconds) {
  if (!std::isfinite(seconds) || seconds < 0 || seconds > 360000.0 * 24) return "--:--";
  const long long total = std::llround(seconds);
  char text[32];
  if (total >= 3600) {
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", total / 3600, total / 60 % 60,
                  total % 60);
  } else {
    std::snprintf(text, sizeof text, "%lld:%02lld", total / 60, total % 60);
  }
  return text;
}

std::string RenderBar(const TclResourceState* state, int columns) {
  std::string bar(static_cast<std::size_t>(std::max(0, columns)), '.');
  // The bar's own layout, one pixel per column: only segment bars, flat, no frame.
  TclProgressLook look;
  look.options = TclDrawPaintOptions{dpDrawItems};
  look.style = dsFlat;
  look.borderStyle = bsNone;
  for (const TclProgressElement& element : LayoutProgress(columns, 1, look, state)) {
    if (element.type != gitProcessItem) continue;
    const char mark = element.status == psFailed ? 'x' : '#';
    for (int column = std::max(0, element.rect.left);
         column < std::min(columns, element.rect.right); ++column) {
      bar[static_cast<std::size_t>(column)] = mark;
    }
  }
  return bar;
}

std::string ShortReason(const std::string& error, std::int32_t code) {
  switch (code) {
    case 12029: return "connection refused";
    case 12002:
    case 258: return "timed out";
    case 12007: return "host not found";
    case 12030:
    case 12031: return "connection reset";
    case 12152: return "invalid answer";
    default: break;
  }
  if (code >= 400 && code < 600) return "HTTP " + std::to_string(code);
  return error;
}

std::string RenderItemLine(const ReadoutItem& item, int width) {
  const std::size_t limit = static_cast<std::size_t>(std::max(1, width - 1));
  const bool sized = item.state && item.state->ResourceSize() > 0;
  std::string right =
      !item.note.empty()
          ? " " + PadLeft(Percent(item.state), 4) + " " + item.note
          : " " + PadLeft(Percent(item.state), 4) + " " + PadLeft(Speed(item.speed), 10) + " " +
                (sized ? TimeLeft(item) : FormatBytes(item.state ? item.state->BytesProceed() : 0));
  const std::size_t nameWidth = std::min<std::size_t>(24, std::max<std::size_t>(8, limit / 4));
  // The bar takes what the name and the figures leave, but never fewer than 10 columns.
  const long barWidth =
      static_cast<long>(limit) - static_cast<long>(nameWidth) - 3 - static_cast<long>(right.size());
  std::string line;
  if (barWidth >= 10) {
    line = FitName(item.name, nameWidth) + " [" +
           RenderBar(item.state, static_cast<int>(barWidth)) + "]" + right;
  } else {
    line = FitName(item.name, nameWidth) + right;
  }
  if (line.size() > limit) line.resize(limit);
  return line;
}

std::string RenderPlainLine(const ReadoutItem& item) {
  const TclResourceState* state = item.state;
  std::string line = item.name + ": ";
  const std::int64_t done = state ? state->BytesProceed() : 0;
  if (state && state->ResourceSize() > 0) {
    line += Percent(state) + " " + FormatBytes(done) + " of " + FormatBytes(state->ResourceSize()) +
            ", " + Speed(item.speed) + ", " + TimeLeft(item);
  } else {
    line += FormatBytes(done) + ", " + Speed(item.speed);
  }
  const int segments = state ? state->Count() : 0;
  line += ", " + std::to_string(segments) + (segments == 1 ? " segment" : " segments");
  if (!item.note.empty()) line += ", " + item.note;
  return line;
}

std::string ComposeRedraw(int previousLines, const std::vector<std::string>& messages,
                          const std::vector<std::string>& lines) {
  std::string out;
  // Up to the first line drawn last time, then clear from there to the end of
  // the screen: a shorter block leaves nothing of the longer one behind.
  if (previousLines > 0) out += "\x1b[" + std::to_string(previousLines) + "A";
  out += "\r\x1b[J";
  for (const std::string& message : messages) out += message + "\n";
  for (const std::string& line : lines) out += line + "\n";
  return out;
}

}  // namespace multidl

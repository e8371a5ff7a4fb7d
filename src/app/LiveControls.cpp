#include "app/LiveControls.h"

#include <cmath>

#include "platform/Messages.h"
#include "rtl/PropertyStreaming.h"

namespace app {

void TclPlacedControl::SetWidth(int value) {
  if (value >= 0) width_ = value;
}

void TclPlacedControl::SetHeight(int value) {
  if (value >= 0) height_ = value;
}

void TclPlacedControl::DefineProperties(rtl::Properties& p) {
  p.Value<int>(
      "Left", [this] { return left_; }, [this](int v) { SetLeft(v); });
  p.Value<int>(
      "Top", [this] { return top_; }, [this](int v) { SetTop(v); });
  p.Value<int>(
      "Width", [this] { return width_; }, [this](int v) { SetWidth(v); });
  p.Value<int>(
      "Height", [this] { return height_; }, [this](int v) { SetHeight(v); });
}

TclLabel::TclLabel(rtl::Component* owner) : TclPlacedControl(owner) {}

void TclLabel::SetCaption(const std::string& value) {
  if (value == caption_) return;
  caption_ = value;
  if (!Loading() && onChanged_) onChanged_(this);
}

void TclLabel::DefineProperties(rtl::Properties& p) {
  TclPlacedControl::DefineProperties(p);
  p.Value<std::string>(
       "Caption", [this] { return caption_; }, [this](const std::string& v) { SetCaption(v); })
      .Default(std::string());
  p.Value<bool>(
       "Transparent", [this] { return transparent_; }, [this](bool v) { SetTransparent(v); })
      .Default(false);
}

TclBevel::TclBevel(rtl::Component* owner) : TclPlacedControl(owner) {
  SetWidth(50);
  SetHeight(50);
}

void TclBevel::DefineProperties(rtl::Properties& p) {
  TclPlacedControl::DefineProperties(p);
  p.Enum<TclBevelShape>(
       "Shape", [this] { return shape_; }, [this](TclBevelShape v) { SetShape(v); },
       {"bsBox", "bsFrame", "bsTopLine", "bsBottomLine", "bsLeftLine", "bsRightLine"})
      .Default("bsBox");
  p.Enum<TclBevelStyle>(
       "Style", [this] { return style_; }, [this](TclBevelStyle v) { SetStyle(v); },
       {"bsLowered", "bsRaised"})
      .Default("bsLowered");
}

TclTimer::TclTimer(rtl::Component* owner) : rtl::Component(owner) {
  // A timer made by code runs at once; one read from a window starts in Loaded.
  UpdateTimer();
}

TclTimer::~TclTimer() {
  if (timerId_) platform::KillTimer(timerId_);
}

void TclTimer::SetEnabled(bool value) {
  if (value == enabled_) return;
  enabled_ = value;
  UpdateTimer();
}

void TclTimer::SetInterval(unsigned value) {
  if (value == interval_) return;
  interval_ = value;
  UpdateTimer();
}

void TclTimer::SetOnTimer(TclNotifyEvent handler) {
  onTimer_ = std::move(handler);
  UpdateTimer();
}

void TclTimer::Loaded() {
  UpdateTimer();
}

void TclTimer::UpdateTimer() {
  if (timerId_) {
    platform::KillTimer(timerId_);
    timerId_ = 0;
  }
  if (Loading() || !enabled_ || interval_ == 0 || !onTimer_) return;
  timerId_ = platform::SetTimer(interval_, [this] {
    if (onTimer_) onTimer_(this);
  });
}

void TclTimer::DefineProperties(rtl::Properties& p) {
  p.Value<bool>(
       "Enabled", [this] { return enabled_; }, [this](bool v) { SetEnabled(v); })
      .Default(true);
  p.Value<unsigned>(
       "Interval", [this] { return interval_; }, [this](unsigned v) { SetInterval(v); })
      .Default(1000);
}

int TclFont::Size() const {
  return static_cast<int>(std::lround(std::abs(height_) * 72.0 / 96.0));
}

void TclFont::DefineProperties(rtl::Properties& p) {
  p.Value<std::string>(
       "Name", [this] { return name_; }, [this](const std::string& v) { SetName(v); })
      .Default(std::string("Tahoma"));
  p.Value<int>(
       "Height", [this] { return height_; }, [this](int v) { SetHeight(v); })
      .Default(-11);
}

}  // namespace app

#include "progress/GraphicControl.h"

#include "rtl/PropertyStreaming.h"

void TclGraphicControl::SetWidth(int value) {
  if (value >= 0) width_ = value;
}

void TclGraphicControl::SetHeight(int value) {
  if (value >= 0) height_ = value;
}

void TclGraphicControl::SetBounds(int left, int top, int width, int height) {
  SetLeft(left);
  SetTop(top);
  SetWidth(width);
  SetHeight(height);
}

void TclGraphicControl::Repaint() {
  if (parent_) parent_->PaintControl(*this);
}

void TclGraphicControl::DefineProperties(rtl::Properties& properties) {
  // The place is always stored: a window's layout is read back whole.
  properties.Value<int>(
      "Left", [this] { return left_; }, [this](int v) { SetLeft(v); });
  properties.Value<int>(
      "Top", [this] { return top_; }, [this](int v) { SetTop(v); });
  properties.Value<int>(
      "Width", [this] { return width_; }, [this](int v) { SetWidth(v); });
  properties.Value<int>(
      "Height", [this] { return height_; }, [this](int v) { SetHeight(v); });
  properties
      .Enum<TclAlign>(
          "Align", [this] { return align_; }, [this](TclAlign v) { SetAlign(v); },
          {"alNone", "alTop", "alBottom", "alLeft", "alRight", "alClient"})
      .Default("alNone");
  properties
      .Value<bool>(
          "Visible", [this] { return visible_; }, [this](bool v) { SetVisible(v); })
      .Default(true);
  properties
      .Value<int>(
          "Cursor", [this] { return cursor_; }, [this](int v) { SetCursor(v); })
      .Default(0);
  properties
      .Value<std::string>(
          "Hint", [this] { return hint_; }, [this](const std::string& v) { SetHint(v); })
      .Default(std::string());
  properties
      .Enum<TclHelpType>(
          "HelpType", [this] { return helpType_; }, [this](TclHelpType v) { SetHelpType(v); },
          {"htKeyword", "htContext"})
      .Default("htContext");
  properties
      .Value<std::string>(
          "HelpKeyword", [this] { return helpKeyword_; },
          [this](const std::string& v) { SetHelpKeyword(v); })
      .Default(std::string());
  properties
      .Value<int>(
          "HelpContext", [this] { return helpContext_; }, [this](int v) { SetHelpContext(v); })
      .Default(0);
  properties
      .Value<std::int64_t>(
          "Tag", [this] { return tag_; }, [this](std::int64_t v) { SetTag(v); })
      .Default(0);
}

// The plain controls of the updater's window, as stored values and nothing
// else: a text label, a sunken frame, a timer and the window's font. They know
// no toolkit; a front-end reads their place and text and shows them.
//
// Threads: owned by the user-interface thread, like the window that owns them.
// The timer fires there too, while that thread processes messages.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "rtl/Component.h"

namespace app {

using TclNotifyEvent = std::function<void(rtl::Component* sender)>;

// A place and size in the window, stored whole.
class TclPlacedControl : public rtl::Component {
 public:
  using rtl::Component::Component;
  int Left() const { return left_; }
  void SetLeft(int value) { left_ = value; }
  int Top() const { return top_; }
  void SetTop(int value) { top_ = value; }
  int Width() const { return width_; }
  void SetWidth(int value);  // >= 0
  int Height() const { return height_; }
  void SetHeight(int value);  // >= 0
  void DefineProperties(rtl::Properties& properties) override;

 private:
  int left_ = 0;
  int top_ = 0;
  int width_ = 0;
  int height_ = 0;
};

// A line of text. OnChanged fires when the text really changes, so a
// front-end redraws only then.
class TclLabel : public TclPlacedControl {
 public:
  explicit TclLabel(rtl::Component* owner = nullptr);
  std::string ClassName() const override { return "TLabel"; }

  const std::string& Caption() const { return caption_; }
  void SetCaption(const std::string& value);
  bool Transparent() const { return transparent_; }
  void SetTransparent(bool value) { transparent_ = value; }
  void SetOnChanged(TclNotifyEvent handler) { onChanged_ = std::move(handler); }
  void DefineProperties(rtl::Properties& properties) override;

 private:
  std::string caption_;
  bool transparent_ = false;
  TclNotifyEvent onChanged_;
};

enum TclBevelShape : std::uint8_t {
  bsBox,
  bsFrame,
  bsTopLine,
  bsBottomLine,
  bsLeftLine,
  bsRightLine
};
enum TclBevelStyle : std::uint8_t { bsLowered, bsRaised };

// A frame drawn around other controls; sunken (lowered) by default.
class TclBevel : public TclPlacedControl {
 public:
  explicit TclBevel(rtl::Component* owner = nullptr);
  std::string ClassName() const override { return "TBevel"; }
  TclBevelShape Shape() const { return shape_; }
  void SetShape(TclBevelShape value) { shape_ = value; }
  TclBevelStyle Style() const { return style_; }
  void SetStyle(TclBevelStyle value) { style_ = value; }
  void DefineProperties(rtl::Properties& properties) override;

 private:
  TclBevelShape shape_ = bsBox;
  TclBevelStyle style_ = bsLowered;
};

// A repeating timer on the platform's message queue of the thread that owns
// it. Enabled and Interval take effect at once, except while the timer is
// being loaded: it starts when loading ends, so it never fires into a
// half-read window.
class TclTimer : public rtl::Component {
 public:
  explicit TclTimer(rtl::Component* owner = nullptr);
  ~TclTimer() override;
  std::string ClassName() const override { return "TTimer"; }

  bool Enabled() const { return enabled_; }
  void SetEnabled(bool value);
  // Milliseconds, default 1000; 0 stops the timer.
  unsigned Interval() const { return interval_; }
  void SetInterval(unsigned value);
  void SetOnTimer(TclNotifyEvent handler);
  // Whether a platform timer is set now.
  bool Running() const { return timerId_ != 0; }
  void DefineProperties(rtl::Properties& properties) override;

 protected:
  void Loaded() override;

 private:
  void UpdateTimer();

  bool enabled_ = true;
  unsigned interval_ = 1000;
  TclNotifyEvent onTimer_;
  std::uint32_t timerId_ = 0;
};

// The window's font: a family name and a height in pixels (negative: the
// character height without internal leading, as stored).
class TclFont : public rtl::Persistent {
 public:
  std::string ClassName() const override { return "TFont"; }
  const std::string& Name() const { return name_; }
  void SetName(const std::string& value) { name_ = value; }
  int Height() const { return height_; }
  void SetHeight(int value) { height_ = value; }
  // Points at the screen's 96 pixels per inch.
  int Size() const;
  void DefineProperties(rtl::Properties& properties) override;

 private:
  std::string name_ = "Tahoma";
  int height_ = -11;
};

}  // namespace app

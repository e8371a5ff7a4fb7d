// A windowless control: a place and a size in its parent window, the
// placement, hint and help fields every control publishes, and a paint
// operation on a canvas that the parent lends. The fields are plain data: the
// window that holds the control lays it out and shows its hint.
//
// Threads: owned by the user-interface thread, like the window it sits on.
#pragma once

#include <cairo.h>

#include <cstdint>
#include <string>

#include "progress/ProgressGeometry.h"
#include "rtl/Component.h"

enum TclAlign : std::uint8_t { alNone, alTop, alBottom, alLeft, alRight, alClient };
enum TclHelpType : std::uint8_t { htKeyword, htContext };

class TclGraphicControl;

// The window a graphic control sits on. The control has no canvas of its own:
// to paint at once it asks its parent for one.
class TclControlParent {
 public:
  virtual ~TclControlParent() = default;
  // Calls Control.Paint now with a context on the parent's window whose origin
  // is the control's top-left corner; does nothing while that window does not
  // exist yet.
  virtual void PaintControl(TclGraphicControl& control) = 0;
};

class TclGraphicControl : public rtl::Component {
 public:
  explicit TclGraphicControl(rtl::Component* owner = nullptr) : rtl::Component(owner) {}
  std::string ClassName() const override { return "TGraphicControl"; }

  // Position in the parent's client area; sizes below 0 are ignored.
  int Left() const { return left_; }
  void SetLeft(int value) { left_ = value; }
  int Top() const { return top_; }
  void SetTop(int value) { top_ = value; }
  int Width() const { return width_; }
  void SetWidth(int value);
  int Height() const { return height_; }
  void SetHeight(int value);
  void SetBounds(int left, int top, int width, int height);
  // The control's own rectangle: (0, 0, Width, Height).
  TclRect ClientRect() const { return {0, 0, width_, height_}; }

  TclAlign Align() const { return align_; }
  void SetAlign(TclAlign value) { align_ = value; }
  // A hidden control does not paint.
  bool Visible() const { return visible_; }
  void SetVisible(bool value) { visible_ = value; }

  std::intptr_t Tag() const { return tag_; }
  void SetTag(std::intptr_t value) { tag_ = value; }
  const std::string& Hint() const { return hint_; }
  void SetHint(const std::string& value) { hint_ = value; }
  // The mouse pointer's shape over the control; 0 is the parent's default.
  int Cursor() const { return cursor_; }
  void SetCursor(int value) { cursor_ = value; }
  TclHelpType HelpType() const { return helpType_; }
  void SetHelpType(TclHelpType value) { helpType_ = value; }
  const std::string& HelpKeyword() const { return helpKeyword_; }
  void SetHelpKeyword(const std::string& value) { helpKeyword_ = value; }
  int HelpContext() const { return helpContext_; }
  void SetHelpContext(int value) { helpContext_ = value; }

  // Not owned; the window clears it before it goes away.
  TclControlParent* Parent() const { return parent_; }
  void SetParent(TclControlParent* parent) { parent_ = parent; }

  // Draws the control onto Target, whose origin is the control's top-left
  // corner. Hosts call it from their paint handler; Repaint calls it through
  // the parent. A null target draws nothing.
  virtual void Paint(cairo_t* target) = 0;

  void DefineProperties(rtl::Properties& properties) override;

 protected:
  // Paints now, not later: through the parent, or not at all without one.
  void Repaint();

 private:
  int left_ = 0;
  int top_ = 0;
  int width_ = 0;
  int height_ = 0;
  TclAlign align_ = alNone;
  bool visible_ = true;
  std::intptr_t tag_ = 0;
  std::string hint_;
  int cursor_ = 0;
  TclHelpType helpType_ = htContext;
  std::string helpKeyword_;
  int helpContext_ = 0;
  TclControlParent* parent_ = nullptr;
};

// The segmented progress bar: a windowless control that shows the progress of
// one download as a total bar for the whole resource and, beside it, one bar
// per segment at the segment's place in the resource, each in the colour of
// its status. Every paint draws the whole picture into a fresh off-screen
// bitmap and copies it onto the target in one step, so the bar never flickers
// however often the segment map changes.
//
// What the bar shows: the segment map (TclResourceState) of the item last
// reported. Bound to a download control (InternetControl), the bar follows it
// through a TclProgressBarNotifier, which calls ShowResourceState from the
// control's "resource state changed" notification (the bar repaints at once)
// and ForgetResourceState when that item is deleted (no repaint; the next
// paint draws frame and background only). Without a map, or while the map's
// resource size is unknown, the bar shows frame and background only.
//
// Threads: owned by the user-interface thread, like its window and the
// download control whose maps it reads; workers never touch it.
#pragma once

#include <cairo.h>

#include <functional>
#include <memory>
#include <string>

#include "download/ResourceState.h"
#include "progress/Canvas.h"
#include "progress/DrawColors.h"
#include "progress/GraphicControl.h"
#include "progress/ProgressGeometry.h"

class TclProgressBar;
class TclCustomInternetControl;
class TclProgressBarNotifier;

using TclOnProgressBarChanged = std::function<void(TclProgressBar* sender)>;
// Rect is a copy: changing it does not move the bar's own drawing. Setting
// Handled means the bar draws nothing for this element.
using TclProgressBarCustomDraw =
    std::function<void(TclProgressBar* sender, TclProgressBarItemType itemType, TclCanvas& canvas,
                       TclRect rect, TclColor color, bool& handled)>;

class TclProgressBar : public TclGraphicControl, public TclDrawColorsBar {
 public:
  // The height of a vertical scroll bar's arrow on this system, the new bar's
  // height. There is no desktop metric to ask, so it is the common 17 pixels.
  static constexpr int kScrollArrowHeight = 17;
  static constexpr int kDefaultWidth = 150;

  explicit TclProgressBar(rtl::Component* owner = nullptr);
  ~TclProgressBar() override;
  std::string ClassName() const override { return "TclProgressBar"; }

  // Which bars are drawn; default both.
  TclDrawPaintOptions Options() const { return look_.options; }
  void SetOptions(TclDrawPaintOptions value);
  // The direction the bars grow in; default doHorisontal.
  TclDrawOrientation Orientation() const { return look_.orientation; }
  void SetOrientation(TclDrawOrientation value);
  // Shaded or flat bars; default ds3D.
  TclDrawStyle Style() const { return look_.style; }
  void SetStyle(TclDrawStyle value);
  // A one-pixel frame round the bar or none; default bsFrame.
  TclBorderStyle BorderStyle() const { return look_.borderStyle; }
  void SetBorderStyle(TclBorderStyle value);
  // Percent of the bar given to the total bar when both are drawn, 0 to 100;
  // default 25. Other values are ignored.
  int ProgressSplit() const { return look_.progressSplit; }
  void SetProgressSplit(int value);
  // Owned by the bar; setting copies the colours in (and repaints).
  TclDrawColors* Colors() const { return colors_.get(); }
  void SetColors(const TclDrawColors& value);

  // The download control whose progress is shown (not owned; null for none).
  // The bar watches it: when the control is destroyed the bar unbinds itself.
  // Binding to another control drops the old notifier and the map shown.
  TclCustomInternetControl* InternetControl() const { return internetControl_; }
  void SetInternetControl(TclCustomInternetControl* value);
  // The bar's notifier at its control; null while unbound.
  TclProgressBarNotifier* Notifier() const { return notifier_.get(); }

  // Fired after every repaint caused by a change.
  const TclOnProgressBarChanged& OnChanged() const { return onChanged_; }
  void SetOnChanged(TclOnProgressBarChanged handler) { onChanged_ = std::move(handler); }
  // Lets the application draw the frame, the background or a bar itself.
  const TclProgressBarCustomDraw& OnCustomDraw() const { return onCustomDraw_; }
  void SetOnCustomDraw(TclProgressBarCustomDraw handler) { onCustomDraw_ = std::move(handler); }

  // The segment map shown (not owned; null for none). Show remembers State and
  // repaints; Forget drops State, when it is the one shown, without repainting.
  const TclResourceState* ResourceState() const { return state_; }
  void ShowResourceState(const TclResourceState* state);
  void ForgetResourceState(const TclResourceState* state);

  // Paints now, then fires OnChanged. Nothing happens while the bar is loading:
  // it paints once when loading ends.
  void Changed() override;

  // Draws the shown map into a new bitmap and copies it onto Target, unless
  // the bar is loading or hidden.
  void Paint(cairo_t* target) override;
  // Draws State into a new bitmap the size of Rect and copies it onto Canvas
  // at Rect's top-left corner.
  void DrawProgress(const TclResourceState* state, TclCanvas& canvas, const TclRect& rect);
  // The bitmap of the last paint, kept until the next one; null before the first.
  const TclBitmap* Bitmap() const { return bitmap_.get(); }

  void DefineProperties(rtl::Properties& properties) override;

 protected:
  // Fires OnChanged.
  virtual void DoChanged();
  // Offers one element to OnCustomDraw; true when the handler drew it itself.
  virtual bool DoCustomDraw(TclProgressBarItemType itemType, TclCanvas& canvas, const TclRect& rect,
                            TclColor color);
  void Loaded() override;
  void Notification(rtl::Component* component, rtl::Operation operation) override;

 private:
  void SetLook(const TclProgressLook& look);
  TclColor ColorOf(const TclProgressElement& element) const;

  TclProgressLook look_;
  std::unique_ptr<TclDrawColors> colors_;
  TclOnProgressBarChanged onChanged_;
  TclProgressBarCustomDraw onCustomDraw_;
  TclCustomInternetControl* internetControl_ = nullptr;
  std::unique_ptr<TclProgressBarNotifier> notifier_;
  const TclResourceState* state_ = nullptr;
  std::unique_ptr<TclBitmap> bitmap_;
};

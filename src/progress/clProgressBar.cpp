#include "progress/clProgressBar.h"

#include <vector>

#include "download/InternetControl.h"
#include "progress/ProgressBarNotifier.h"
#include "rtl/PropertyStreaming.h"

namespace {

const std::vector<std::string> kOptionNames = {"dpDrawTotal", "dpDrawItems"};

}  // namespace

TclProgressBar::TclProgressBar(rtl::Component* owner)
    : TclGraphicControl(owner), colors_(std::make_unique<TclDrawColors>(this)) {
  SetBounds(0, 0, kDefaultWidth, kScrollArrowHeight);
}

TclProgressBar::~TclProgressBar() {
  notifier_.reset();
  if (internetControl_) internetControl_->RemoveFreeNotification(this);
  internetControl_ = nullptr;
  state_ = nullptr;
  colors_.reset();
}

void TclProgressBar::SetInternetControl(TclCustomInternetControl* value) {
  if (value == internetControl_) return;
  if (internetControl_) internetControl_->RemoveFreeNotification(this);
  internetControl_ = value;
  // The old notifier leaves the old control's list; what it showed goes with it.
  notifier_.reset();
  state_ = nullptr;
  if (value) {
    value->FreeNotification(this);
    notifier_ = std::make_unique<TclProgressBarNotifier>(value, this);
  }
}

void TclProgressBar::Notification(rtl::Component* component, rtl::Operation operation) {
  TclGraphicControl::Notification(component, operation);
  if (operation == rtl::Operation::opRemove && component != nullptr &&
      component == internetControl_) {
    SetInternetControl(nullptr);
  }
}

void TclProgressBar::SetLook(const TclProgressLook& look) {
  if (look == look_) return;
  look_ = look;
  Changed();
}

void TclProgressBar::SetOptions(TclDrawPaintOptions value) {
  TclProgressLook look = look_;
  look.options = value;
  SetLook(look);
}

void TclProgressBar::SetOrientation(TclDrawOrientation value) {
  TclProgressLook look = look_;
  look.orientation = value;
  SetLook(look);
}

void TclProgressBar::SetStyle(TclDrawStyle value) {
  TclProgressLook look = look_;
  look.style = value;
  SetLook(look);
}

void TclProgressBar::SetBorderStyle(TclBorderStyle value) {
  TclProgressLook look = look_;
  look.borderStyle = value;
  SetLook(look);
}

void TclProgressBar::SetProgressSplit(int value) {
  if (value < 0 || value > 100) return;
  TclProgressLook look = look_;
  look.progressSplit = value;
  SetLook(look);
}

void TclProgressBar::SetColors(const TclDrawColors& value) {
  colors_->Assign(value);
}

void TclProgressBar::ShowResourceState(const TclResourceState* state) {
  state_ = state;
  Changed();
}

void TclProgressBar::ForgetResourceState(const TclResourceState* state) {
  if (state_ == state) state_ = nullptr;
}

void TclProgressBar::Changed() {
  // The colours change while they are read back with the window; the bar
  // shows itself once, with everything in place, from Loaded.
  if (Loading()) return;
  Repaint();
  DoChanged();
}

void TclProgressBar::Loaded() {
  Changed();
}

void TclProgressBar::DoChanged() {
  if (onChanged_) onChanged_(this);
}

bool TclProgressBar::DoCustomDraw(TclProgressBarItemType itemType, TclCanvas& canvas,
                                  const TclRect& rect, TclColor color) {
  bool handled = false;
  if (onCustomDraw_) onCustomDraw_(this, itemType, canvas, rect, color, handled);
  return handled;
}

void TclProgressBar::Paint(cairo_t* target) {
  if (!target || Loading() || !Visible()) return;
  TclCanvas canvas(target);
  DrawProgress(state_, canvas, ClientRect());
}

TclColor TclProgressBar::ColorOf(const TclProgressElement& element) const {
  switch (element.type) {
    case gitFrame:
      return colors_->Frame();
    case gitBackGround:
      return colors_->BackGround();
    case gitProcessTotal:
      return colors_->TotalColors()->GetByIndex(element.status);
    case gitProcessItem:
      return colors_->ItemColors()->GetByIndex(element.status);
  }
  return colors_->BackGround();
}

void TclProgressBar::DrawProgress(const TclResourceState* state, TclCanvas& canvas,
                                  const TclRect& rect) {
  auto bitmap = std::make_unique<TclBitmap>(&canvas, rect.Width(), rect.Height());
  TclCanvas& draw = bitmap->Canvas();
  for (const TclProgressElement& element :
       LayoutProgress(bitmap->Width(), bitmap->Height(), look_, state)) {
    const TclColor color = ColorOf(element);
    if (DoCustomDraw(element.type, draw, element.rect, color)) continue;
    switch (element.type) {
      case gitFrame:
        draw.FrameRect(element.rect, color);
        break;
      case gitBackGround:
        draw.FillRect(element.rect, color);
        break;
      case gitProcessTotal:
      case gitProcessItem:
        for (const TclColorFill& fill :
             BarFills(element.rect, color, look_.orientation, look_.style)) {
          draw.FillRect(fill.rect, fill.color);
        }
        break;
    }
  }
  canvas.Draw(rect.left, rect.top, *bitmap);
  bitmap_ = std::move(bitmap);
}

void TclProgressBar::DefineProperties(rtl::Properties& properties) {
  TclGraphicControl::DefineProperties(properties);
  properties
      .Custom(
          "Options",
          [this] {
            rtl::Json names = rtl::Json::array();
            for (size_t i = 0; i < kOptionNames.size(); ++i) {
              if (look_.options.Contains(static_cast<TclDrawPaintOption>(i)))
                names.push_back(kOptionNames[i]);
            }
            return names;
          },
          [this](const rtl::Json& json) {
            if (!json.is_array()) rtl::Properties::RaiseInvalidValue("Options");
            TclDrawPaintOptions options;
            for (const auto& name : json) {
              options.Include(static_cast<TclDrawPaintOption>(
                  rtl::Properties::EnumIndex("Options", name, kOptionNames)));
            }
            SetOptions(options);
          })
      .Default(rtl::Json::array({"dpDrawTotal", "dpDrawItems"}));
  properties
      .Enum<TclDrawOrientation>(
          "Orientation", [this] { return look_.orientation; },
          [this](TclDrawOrientation v) { SetOrientation(v); }, {"doHorisontal", "doVertical"})
      .Default("doHorisontal");
  properties
      .Enum<TclDrawStyle>(
          "Style", [this] { return look_.style; }, [this](TclDrawStyle v) { SetStyle(v); },
          {"ds3D", "dsFlat"})
      .Default("ds3D");
  properties
      .Enum<TclBorderStyle>(
          "BorderStyle", [this] { return look_.borderStyle; },
          [this](TclBorderStyle v) { SetBorderStyle(v); }, {"bsNone", "bsFrame"})
      .Default("bsFrame");
  properties.Object("Colors", colors_.get());
  properties
      .Value<int>(
          "ProgressSplit", [this] { return look_.progressSplit; },
          [this](int v) { SetProgressSplit(v); })
      .Default(25);
  properties.Reference(
      "InternetControl", [this] { return static_cast<rtl::Component*>(internetControl_); },
      [this](rtl::Component* c) {
        SetInternetControl(dynamic_cast<TclCustomInternetControl*>(c));
      });
}

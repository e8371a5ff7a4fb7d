#include "progress/DrawColors.h"

#include <vector>

#include "rtl/Exceptions.h"
#include "rtl/PropertyStreaming.h"

namespace {

struct SchemeTable {
  TclColor backGround;
  TclColor frame;
  std::array<TclColor, TclStatusColors::kCount> items;
  std::array<TclColor, TclStatusColors::kCount> totals;
};

// Indexed by TclColorScheme. The custom scheme's all-black row is what the
// stored rules compare with once the colours are the user's own.
constexpr SchemeTable kSchemes[] = {
    {0x000000, 0x000000, {0, 0, 0, 0, 0, 0}, {0, 0, 0, 0, 0, 0}},
    {0xFFFFFF,
     0xFF0000,
     {0xFF0000, 0xFF0000, 0x0000FF, 0x00FFFF, 0xFF0000, 0xFF0000},
     {0x008000, 0x008000, 0x0000FF, 0x00FFFF, 0x008000, 0x008000}},
    {0xF0FBFF,
     0xF0CAA6,
     {0xF0CAA6, 0xF0CAA6, 0xC0C0C0, 0xC0C0C0, 0xF0CAA6, 0xF0CAA6},
     {0xF0CAA6, 0xF0CAA6, 0xC0C0C0, 0xC0C0C0, 0xF0CAA6, 0xF0CAA6}},
    {0xE55500,
     0x298514,
     {0x298514, 0x298514, 0x170DD6, 0x0BC5F4, 0x298514, 0x298514},
     {0x296514, 0x296514, 0x170DD6, 0x0BC5F4, 0x296514, 0x296514}},
};

const std::vector<std::string> kSchemeNames = {"csSchemeCustom", "csScheme1", "csScheme2", "csScheme3"};

bool IsScheme(TclColorScheme value) { return value <= csScheme3; }

}  // namespace

TclColor TclStatusColors::GetByIndex(int index) const {
  if (index < 0 || index >= kCount) rtl::RaiseListIndexError(index);
  return colors_[static_cast<size_t>(index)];
}

void TclStatusColors::SetByIndex(int index, TclColor color) {
  if (index < 0 || index >= kCount) rtl::RaiseListIndexError(index);
  auto& slot = colors_[static_cast<size_t>(index)];
  if (slot == color) return;
  slot = color;
  if (owner_) {
    owner_->scheme_ = csSchemeCustom;
    owner_->Changed();
  }
}

void TclStatusColors::Assign(const rtl::Persistent& source) {
  const auto* other = dynamic_cast<const TclStatusColors*>(&source);
  if (!other) {
    rtl::Persistent::Assign(source);
    return;
  }
  colors_ = other->colors_;
  if (owner_) owner_->Changed();
}

void TclStatusColors::DefineProperties(rtl::Properties& properties) {
  static const char* const kNames[kCount] = {"StatusUnknown", "StatusSuccess", "StatusFailed",
                                             "StatusErrors",  "StatusProcess", "StatusTerminated"};
  for (int i = 0; i < kCount; ++i) {
    properties.Value<TclColor>(
        kNames[i], [this, i] { return GetByIndex(i); }, [this, i](TclColor value) { SetByIndex(i, value); });
  }
}

TclDrawColors::TclDrawColors(TclDrawColorsBar* bar)
    : bar_(bar),
      scheme_(csScheme1),
      itemColors_(std::make_unique<TclStatusColors>(this)),
      totalColors_(std::make_unique<TclStatusColors>(this)) {
  ApplyScheme();
}

TclDrawColors::~TclDrawColors() = default;

void TclDrawColors::SetBackGround(TclColor value) {
  if (backGround_ == value) return;
  backGround_ = value;
  scheme_ = csSchemeCustom;
  Changed();
}

void TclDrawColors::SetFrame(TclColor value) {
  if (frame_ == value) return;
  frame_ = value;
  scheme_ = csSchemeCustom;
  Changed();
}

void TclDrawColors::SetScheme(TclColorScheme value) {
  if (value == scheme_ || value == csSchemeCustom || !IsScheme(value)) return;
  scheme_ = value;
  ApplyScheme();
  Changed();
}

void TclDrawColors::SetItemColors(const TclStatusColors& value) {
  itemColors_->Assign(value);
  scheme_ = csSchemeCustom;
}

void TclDrawColors::SetTotalColors(const TclStatusColors& value) {
  totalColors_->Assign(value);
  scheme_ = csSchemeCustom;
}

void TclDrawColors::ApplyScheme() {
  const SchemeTable& table = kSchemes[scheme_];
  frame_ = table.frame;
  backGround_ = table.backGround;
  itemColors_->colors_ = table.items;
  totalColors_->colors_ = table.totals;
}

void TclDrawColors::Assign(const rtl::Persistent& source) {
  const auto* other = dynamic_cast<const TclDrawColors*>(&source);
  if (!other) {
    rtl::Persistent::Assign(source);
    return;
  }
  // The sets are copied directly rather than through their Assign, so that the
  // bar repaints once, with everything in place.
  frame_ = other->frame_;
  backGround_ = other->backGround_;
  totalColors_->colors_ = other->totalColors_->colors_;
  itemColors_->colors_ = other->itemColors_->colors_;
  scheme_ = other->scheme_;
  Changed();
}

bool TclDrawColors::DiffersFromScheme(const TclStatusColors& colors, bool items) const {
  const SchemeTable& table = kSchemes[scheme_];
  return colors.colors_ != (items ? table.items : table.totals);
}

void TclDrawColors::DefineProperties(rtl::Properties& properties) {
  properties
      .Value<TclColor>(
          "BackGround", [this] { return backGround_; }, [this](TclColor value) { SetBackGround(value); })
      .StoredWhen([this] { return backGround_ != kSchemes[scheme_].backGround; });
  properties.Value<TclColor>("Frame", [this] { return frame_; }, [this](TclColor value) { SetFrame(value); })
      .StoredWhen([this] { return frame_ != kSchemes[scheme_].frame; });
  properties
      .Enum<TclColorScheme>(
          "Scheme", [this] { return scheme_; }, [this](TclColorScheme value) { SetScheme(value); }, kSchemeNames)
      .StoredWhen([this] { return scheme_ != csScheme1; });
  properties.Object("ItemColors", itemColors_.get()).StoredWhen([this] { return DiffersFromScheme(*itemColors_, true); });
  properties.Object("TotalColors", totalColors_.get()).StoredWhen([this] {
    return DiffersFromScheme(*totalColors_, false);
  });
}

void TclDrawColors::Changed() {
  if (bar_) bar_->Changed();
}

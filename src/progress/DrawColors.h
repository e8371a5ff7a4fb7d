// The colours of the segmented progress bar: background, frame, and one set of
// six colours per bar kind (segments, total) indexed by process status, with
// three predefined schemes. Changing a single colour turns the scheme custom;
// every change makes the bar repaint. Both classes stream their published
// properties, each only when it differs from what the current scheme gives.
//
// Threads: owned by the progress bar and used only on the user-interface thread.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "download/ResourceState.h"
#include "rtl/Component.h"

// A colour: red in the low byte, then green, then blue; a set top bit names a
// system colour.
using TclColor = std::uint32_t;

enum TclColorScheme : std::uint8_t {
  csSchemeCustom = 0,
  csScheme1 = 1,
  csScheme2 = 2,
  csScheme3 = 3,
};

// What the colours repaint when they change: the progress bar.
class TclDrawColorsBar {
 public:
  virtual ~TclDrawColorsBar() = default;
  virtual void Changed() = 0;
};

class TclDrawColors;

// Six colours, one per TclProcessStatus.
class TclStatusColors : public rtl::Persistent {
 public:
  static constexpr int kCount = 6;

  // Owner may be null for a free-standing set (for instance one to assign from).
  explicit TclStatusColors(TclDrawColors* owner = nullptr) : owner_(owner) {}
  std::string ClassName() const override { return "TclStatusColors"; }

  TclDrawColors* Owner() const { return owner_; }

  // Index is a TclProcessStatus value; others raise EListError.
  TclColor GetByIndex(int index) const;
  // A new value turns the owner's scheme custom and repaints.
  void SetByIndex(int index, TclColor color);

  TclColor StatusUnknown() const { return GetByIndex(psUnknown); }
  void SetStatusUnknown(TclColor value) { SetByIndex(psUnknown, value); }
  TclColor StatusSuccess() const { return GetByIndex(psSuccess); }
  void SetStatusSuccess(TclColor value) { SetByIndex(psSuccess, value); }
  TclColor StatusFailed() const { return GetByIndex(psFailed); }
  void SetStatusFailed(TclColor value) { SetByIndex(psFailed, value); }
  TclColor StatusErrors() const { return GetByIndex(psErrors); }
  void SetStatusErrors(TclColor value) { SetByIndex(psErrors, value); }
  TclColor StatusProcess() const { return GetByIndex(psProcess); }
  void SetStatusProcess(TclColor value) { SetByIndex(psProcess, value); }
  TclColor StatusTerminated() const { return GetByIndex(psTerminated); }
  void SetStatusTerminated(TclColor value) { SetByIndex(psTerminated, value); }

  // Copies the six colours of another set and repaints; the owner keeps its scheme.
  void Assign(const rtl::Persistent& source) override;
  void DefineProperties(rtl::Properties& properties) override;

 private:
  friend class TclDrawColors;
  TclDrawColors* owner_;
  std::array<TclColor, kCount> colors_{};
};

class TclDrawColors : public rtl::Persistent {
 public:
  // Bar may be null. Starts in scheme 1 with its colours.
  explicit TclDrawColors(TclDrawColorsBar* bar = nullptr);
  ~TclDrawColors() override;
  std::string ClassName() const override { return "TclDrawColors"; }

  TclDrawColorsBar* Bar() const { return bar_; }

  // A new value turns the scheme custom (nothing else changes) and repaints.
  TclColor BackGround() const { return backGround_; }
  void SetBackGround(TclColor value);
  TclColor Frame() const { return frame_; }
  void SetFrame(TclColor value);

  // A new predefined scheme replaces every colour and repaints; the custom
  // scheme cannot be chosen, only reached by changing a colour.
  TclColorScheme Scheme() const { return scheme_; }
  void SetScheme(TclColorScheme value);

  TclStatusColors* ItemColors() const { return itemColors_.get(); }
  // Copies Value into the segment colours (one repaint), then turns the scheme custom.
  void SetItemColors(const TclStatusColors& value);
  TclStatusColors* TotalColors() const { return totalColors_.get(); }
  void SetTotalColors(const TclStatusColors& value);

  // Fills every colour from the current scheme's tables, without repainting.
  void ApplyScheme();

  // Copies colours and scheme of another TclDrawColors (the scheme is taken
  // over, not applied) and repaints once.
  void Assign(const rtl::Persistent& source) override;
  void DefineProperties(rtl::Properties& properties) override;

 protected:
  // Repaints the bar, when there is one.
  virtual void Changed();

 private:
  friend class TclStatusColors;
  bool DiffersFromScheme(const TclStatusColors& colors, bool items) const;

  TclColor backGround_ = 0;
  TclDrawColorsBar* bar_;
  TclColorScheme scheme_ = csSchemeCustom;
  TclColor frame_ = 0;
  std::unique_ptr<TclStatusColors> itemColors_;
  std::unique_ptr<TclStatusColors> totalColors_;
};

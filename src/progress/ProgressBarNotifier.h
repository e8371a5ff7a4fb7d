// The bar's link to its download control: a control notifier that remembers
// the item whose segment map the control reported changed last and has the
// bar show that map at once. When that item is deleted the bar forgets its map
// (no repaint: the next paint shows frame and background only).
//
// Threads: the user-interface thread's, like the control that calls it and
// the bar it drives.
#pragma once

#include "download/ControlNotifier.h"

class TclProgressBar;
class TclResourceState;

class TclProgressBarNotifier : public TclControlNotifier {
 public:
  // Both are required: a missing control or bar is an assertion failure.
  TclProgressBarNotifier(TclCustomInternetControl* control, TclProgressBar* bar);

  TclProgressBar* ProgressBar() const { return bar_; }
  // The item last reported, or none.
  TclInternetItem* Item() const { return item_; }
  // That item's segment map, or none.
  const TclResourceState* ResourceState() const;

  void ResourceStateChanged(TclInternetItem* item) override;
  void ItemDeleted(TclInternetItem* item) override;

 private:
  TclProgressBar* bar_;
  TclInternetItem* item_ = nullptr;
};

#include "progress/ProgressBarNotifier.h"

#include "download/InternetItem.h"
#include "progress/clProgressBar.h"
#include "rtl/Exceptions.h"

TclProgressBarNotifier::TclProgressBarNotifier(TclCustomInternetControl* control,
                                               TclProgressBar* bar)
    : TclControlNotifier(control), bar_(bar) {
  rtl::Assert(bar != nullptr, "Assertion failure", "clProgressBar", 751);
}

const TclResourceState* TclProgressBarNotifier::ResourceState() const {
  return item_ ? &item_->ResourceState() : nullptr;
}

void TclProgressBarNotifier::ResourceStateChanged(TclInternetItem* item) {
  item_ = item;
  bar_->ShowResourceState(ResourceState());
}

void TclProgressBarNotifier::ItemDeleted(TclInternetItem* item) {
  if (item != item_) return;
  bar_->ForgetResourceState(&item_->ResourceState());
  item_ = nullptr;
}

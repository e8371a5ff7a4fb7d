// The observer interface of a download control: a notifier registers with one
// control and is told of segment-map changes, status changes, data blocks and
// item removal for every item of that control, without taking the control's
// public events. The progress bar follows its control through one.
//
// Threads: broadcasts and registration happen on the user-interface thread.
#pragma once

#include <cstdint>

#include "base/clTypes.h"

class TclCustomInternetControl;
class TclInternetItem;
class TclResourceInfo;
class TclResourceStateItem;

class TclControlNotifier {
 public:
  // Registers with Control (appended at the end); a missing control is an
  // assertion failure.
  explicit TclControlNotifier(TclCustomInternetControl* control);
  // Unregisters (the first occurrence).
  virtual ~TclControlNotifier();
  TclControlNotifier(const TclControlNotifier&) = delete;
  TclControlNotifier& operator=(const TclControlNotifier&) = delete;

  TclCustomInternetControl* Control() const { return control_; }

  // The item's segment map changed in any way.
  virtual void ResourceStateChanged(TclInternetItem* item) { (void)item; }
  // After the control's OnStatusChanged.
  virtual void StatusChanged(TclInternetItem* item, TclProcessStatus status) {
    (void)item;
    (void)status;
  }
  // After the control's OnDataItemProceed, with the same arguments.
  virtual void DataItemProceed(TclInternetItem* item, TclResourceInfo* resourceInfo,
                               TclResourceStateItem* stateItem, const char* currentData,
                               std::int32_t currentDataSize) {
    (void)item;
    (void)resourceInfo;
    (void)stateItem;
    (void)currentData;
    (void)currentDataSize;
  }
  // The item is being destroyed; it is still fully usable.
  virtual void ItemDeleted(TclInternetItem* item) { (void)item; }

 private:
  friend class TclCustomInternetControl;
  TclCustomInternetControl* control_;
};

// The segment map of one download item: where each segment of the resource
// starts, how long it is, how far it got and how it ended, the status of the
// resource as a whole, and the transfer speed since the last start.
//
// Threads: a state belongs to the user-interface thread, like the item that owns
// it. Workers never touch it; their progress reaches it through events that the
// synchroniser delivers on that thread. No member takes a lock.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "base/clTypes.h"
#include "rtl/Collection.h"

// One segment. Its setters only store: the owning state's operations
// (SetSegmentStatus, SetBytesProceed, Init) are what announce a change.
class TclResourceStateItem : public rtl::CollectionItem {
 public:
  explicit TclResourceStateItem(rtl::Collection* collection = nullptr)
      : rtl::CollectionItem(collection) {}
  std::string ClassName() const override { return "TclResourceStateItem"; }

  // Copies all four fields from another segment; anything else is refused.
  void Assign(const rtl::Persistent& source) override;

  // Offset of the segment's first byte in the resource; negative values are ignored.
  std::int64_t ResourcePos() const { return resourcePos_; }
  void SetResourcePos(std::int64_t value);
  // Length of the segment; 0 means open-ended. Negative values are ignored.
  std::int64_t BytesToProceed() const { return bytesToProceed_; }
  void SetBytesToProceed(std::int64_t value);
  TclProcessStatus Status() const { return status_; }
  void SetStatus(TclProcessStatus value) { status_ = value; }
  // Bytes of this segment already transferred, counted from ResourcePos.
  std::int64_t BytesProceed() const { return bytesProceed_; }
  void SetBytesProceed(std::int64_t value) { bytesProceed_ = value; }

 private:
  std::int64_t resourcePos_ = 0;
  std::int64_t bytesToProceed_ = 0;
  TclProcessStatus status_ = psUnknown;
  std::int64_t bytesProceed_ = 0;
};

class TclResourceState;
using TclOnResourceStateChanged = std::function<void(TclResourceState* sender)>;

class TclResourceState : public rtl::OwnedCollection<TclResourceStateItem> {
 public:
  TclResourceState() = default;
  std::string ClassName() const override { return "TclResourceState"; }

  // Size of the whole resource in bytes, 0 when unknown. Only Init and Assign set it.
  std::int64_t ResourceSize() const { return resourceSize_; }
  // A status given to the resource as a whole rather than to one segment.
  TclProcessStatus ResourceStatus() const { return resourceStatus_; }
  // Counter readings at the last speed update and at the last Reset.
  std::int64_t LastCounter() const { return lastCounter_; }
  std::int64_t StartCounter() const { return startCounter_; }
  // Bytes per second since the last Reset, and the seconds that took.
  double Speed() const { return speed_; }
  double ElapsedTime() const { return elapsedTime_; }
  // The total BytesProceed at the last Reset: the speed counts only what came after it.
  std::int64_t StartBytesProceed() const { return startBytesProceed_; }

  // The sum of BytesProceed over all segments.
  std::int64_t BytesProceed() const;
  // The status of the resource derived from its segments and ResourceStatus.
  TclProcessStatus Status() const;

  // Starts a new transfer on the existing map: statuses and speed go back to
  // their start, byte counts and the map stay.
  void Reset();
  // Resets and, when there is no map yet, splits ResourceSize into SegmentCount
  // segments. An existing map is kept with its progress: that is how a download resumes.
  void Init(int segmentCount, std::int64_t resourceSize);
  // Sets the status of Segment, or ResourceStatus when Segment is null.
  void SetSegmentStatus(TclResourceStateItem* segment, TclProcessStatus status);
  // Sets the byte count of Segment (when given) and measures the speed.
  void SetBytesProceed(TclResourceStateItem* segment, std::int64_t value);
  // Ends the bounded Segment at the resource offset At and puts a new segment
  // for the rest (from At to the old end, nothing done) right after it, as
  // one change. Null, and nothing changed, unless At lies after the bytes
  // Segment has done and before its end.
  TclResourceStateItem* Split(TclResourceStateItem* segment, std::int64_t at);

  // Copies another state's size and segments after a Reset.
  void Assign(const rtl::Persistent& source) override;

  const TclOnResourceStateChanged& OnChanged() const { return onChanged_; }
  void SetOnChanged(TclOnResourceStateChanged handler) { onChanged_ = std::move(handler); }

 protected:
  // Fires OnChanged.
  virtual void StateChanged();
  void Update(rtl::CollectionItem* item) override;

 private:
  void UpdateSpeed();

  std::int64_t resourceSize_ = 0;
  TclProcessStatus resourceStatus_ = psUnknown;
  std::int64_t lastCounter_ = 0;
  std::int64_t startCounter_ = 0;
  double speed_ = 0;
  double elapsedTime_ = 0;
  std::int64_t startBytesProceed_ = 0;
  TclOnResourceStateChanged onChanged_;
};

namespace resource_state {

using CounterQuery = bool (*)(std::int64_t& value);

// Replaces the high-resolution counter and its frequency that the speed measure
// reads (null restores the platform's); the frequency is read again at its next
// use. Lets tests drive the clock; call it while no state is in use.
void SetCounterSource(CounterQuery counter, CounterQuery frequency);

}  // namespace resource_state

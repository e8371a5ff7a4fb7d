#include "download/ResourceState.h"

#include <atomic>
#include <limits>

#include "platform/Counter.h"
#include "rtl/Exceptions.h"

namespace {

std::atomic<resource_state::CounterQuery> counterSource{nullptr};
std::atomic<resource_state::CounterQuery> frequencySource{nullptr};

// The frequency never changes while the process runs, so it is read once;
// kUnread marks "not asked yet", a failed read is cached as 0.
constexpr std::int64_t kUnread = std::numeric_limits<std::int64_t>::min();
std::atomic<std::int64_t> cachedFrequency{kUnread};

bool ReadCounter(std::int64_t& value) {
  auto source = counterSource.load();
  return source ? source(value) : platform::QueryPerformanceCounter(value);
}

std::int64_t CounterFrequency() {
  std::int64_t frequency = cachedFrequency.load();
  if (frequency != kUnread) return frequency;
  auto source = frequencySource.load();
  bool ok = source ? source(frequency) : platform::QueryPerformanceFrequency(frequency);
  if (!ok) frequency = 0;
  cachedFrequency.store(frequency);
  return frequency;
}

}  // namespace

namespace resource_state {

void SetCounterSource(CounterQuery counter, CounterQuery frequency) {
  counterSource.store(counter);
  frequencySource.store(frequency);
  cachedFrequency.store(kUnread);
}

}  // namespace resource_state

void TclResourceStateItem::Assign(const rtl::Persistent& source) {
  const auto* other = dynamic_cast<const TclResourceStateItem*>(&source);
  if (!other) {
    rtl::CollectionItem::Assign(source);
    return;
  }
  resourcePos_ = other->resourcePos_;
  bytesToProceed_ = other->bytesToProceed_;
  status_ = other->status_;
  bytesProceed_ = other->bytesProceed_;
}

void TclResourceStateItem::SetResourcePos(std::int64_t value) {
  if (value < 0) return;
  resourcePos_ = value;
}

void TclResourceStateItem::SetBytesToProceed(std::int64_t value) {
  if (value < 0) return;
  bytesToProceed_ = value;
}

TclResourceStateItem* TclResourceState::Split(TclResourceStateItem* segment, std::int64_t at) {
  const std::int64_t end = segment->ResourcePos() + segment->BytesToProceed();
  // A segment of length 0 would read as open-ended: both parts keep a byte.
  if (segment->BytesToProceed() <= 0 || at <= segment->ResourcePos() ||
      at < segment->ResourcePos() + segment->BytesProceed() || at >= end) {
    return nullptr;
  }
  BeginUpdate();
  segment->SetBytesToProceed(at - segment->ResourcePos());
  TclResourceStateItem* rest = Insert(segment->Index() + 1);
  rest->SetResourcePos(at);
  rest->SetBytesToProceed(end - at);
  EndUpdate();
  return rest;
}

std::int64_t TclResourceState::BytesProceed() const {
  std::int64_t total = 0;
  for (int i = 0; i < Count(); ++i) total += Items(i)->BytesProceed();
  return total;
}

TclProcessStatus TclResourceState::Status() const {
  static constexpr TclProcessStatus kPriority[] = {psProcess, psTerminated, psFailed, psErrors,
                                                   psSuccess};
  TclProcessStatus derived = psUnknown;
  for (TclProcessStatus candidate : kPriority) {
    for (int i = 0; i < Count() && derived == psUnknown; ++i) {
      if (Items(i)->Status() == candidate) derived = candidate;
    }
    if (derived != psUnknown) break;
  }
  // A failure or activity in any segment outranks what was said of the whole;
  // otherwise a status set for the whole resource wins.
  if (derived >= psFailed) return derived;
  return resourceStatus_ != psUnknown ? resourceStatus_ : derived;
}

void TclResourceState::Reset() {
  for (int i = 0; i < Count(); ++i) Items(i)->SetStatus(psUnknown);
  resourceStatus_ = psUnknown;
  lastCounter_ = 0;
  startCounter_ = 0;
  speed_ = 0;
  elapsedTime_ = 0;
  startBytesProceed_ = BytesProceed();
  std::int64_t now = 0;
  if (ReadCounter(now)) startCounter_ = now;
}

void TclResourceState::Init(int segmentCount, std::int64_t resourceSize) {
  Reset();
  if (Count() > 0) return;
  resourceSize_ = resourceSize;
  if (segmentCount <= 0) return;
  const std::int64_t share = resourceSize_ > 0 ? resourceSize_ / segmentCount : 0;
  for (int i = 0; i < segmentCount; ++i) {
    // Each segment is announced once, complete: an observer never sees a
    // segment whose position and length are not set yet.
    BeginUpdate();
    TclResourceStateItem* segment = Add();
    if (resourceSize_ > 0) {
      segment->SetResourcePos(share * i);
      segment->SetBytesToProceed(i < segmentCount - 1 ? share
                                                      : resourceSize_ - share * (segmentCount - 1));
    }
    EndUpdate();
  }
}

void TclResourceState::SetSegmentStatus(TclResourceStateItem* segment, TclProcessStatus status) {
  if (segment) {
    segment->SetStatus(status);
  } else {
    resourceStatus_ = status;
  }
  StateChanged();
}

void TclResourceState::SetBytesProceed(TclResourceStateItem* segment, std::int64_t value) {
  if (segment) segment->SetBytesProceed(value);
  UpdateSpeed();
  StateChanged();
}

void TclResourceState::UpdateSpeed() {
  speed_ = 0;
  elapsedTime_ = 0;
  std::int64_t now = 0;
  if (!ReadCounter(now)) return;
  const std::int64_t frequency = CounterFrequency();
  if (frequency <= 0) return;
  const double seconds = static_cast<double>(now - startCounter_) / static_cast<double>(frequency);
  // With no time since Reset there is no rate to tell; 0 rather than a division by zero.
  if (seconds > 0) speed_ = static_cast<double>(BytesProceed() - startBytesProceed_) / seconds;
  lastCounter_ = now;
  elapsedTime_ = static_cast<double>(lastCounter_ - startCounter_) / static_cast<double>(frequency);
}

void TclResourceState::Assign(const rtl::Persistent& source) {
  const auto* collection = dynamic_cast<const rtl::Collection*>(&source);
  if (!collection) {
    rtl::Collection::Assign(source);  // refuses with the framework's copy error
    return;
  }
  // Refuse a collection of other items before anything of this map is lost.
  for (int i = 0; i < collection->Count(); ++i) {
    const rtl::CollectionItem* item = collection->GetItem(i);
    if (!dynamic_cast<const TclResourceStateItem*>(item)) {
      throw rtl::EConvertError(rtl::Format("Cannot assign a %s to a %s", item->ClassName().c_str(),
                                           "TclResourceStateItem"));
    }
  }
  Reset();
  if (&source == this) {
    // Replacing the segments by copies of themselves would first clear them.
    Changed();
    return;
  }
  const auto* state = dynamic_cast<const TclResourceState*>(&source);
  resourceSize_ = state ? state->resourceSize_ : 0;
  rtl::Collection::Assign(source);
}

void TclResourceState::StateChanged() {
  if (onChanged_) onChanged_(this);
}

void TclResourceState::Update(rtl::CollectionItem* item) {
  rtl::Collection::Update(item);
  if (Count() == 0) Reset();
  StateChanged();
}

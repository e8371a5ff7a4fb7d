#include "download/WaitForItem.h"

#include <chrono>

#include "download/InternetItem.h"
#include "platform/Messages.h"
#include "url/ResourceInfo.h"

bool TclItemOutcome::Succeeded() const {
  return Completed && Status == psSuccess && Segments > 0 &&
         (ResourceSize <= 0 || BytesProceed == ResourceSize);
}

TclItemOutcome WaitForItem(TclInternetItem& item, platform::DWORD timeoutMs) {
  using Clock = std::chrono::steady_clock;
  const bool unlimited = timeoutMs == platform::kInfinite;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  // Workers hand every event to this thread and wait until it has run here;
  // the last one to end empties the item's worker list from such an event.
  while (item.IsBusy()) {
    platform::DWORD wait = platform::kInfinite;
    if (!unlimited) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
      if (left.count() <= 0) break;
      wait = static_cast<platform::DWORD>(left.count());
    }
    platform::WaitMessage(wait);
    platform::ProcessMessages();
  }

  TclItemOutcome outcome;
  outcome.Completed = !item.IsBusy();
  const TclResourceState& state = item.ResourceState();
  outcome.Status = state.Status();
  outcome.BytesProceed = state.BytesProceed();
  outcome.Segments = state.Count();
  outcome.ResourceSize = item.ResourceInfo() != nullptr ? item.ResourceInfo()->Size() : 0;
  if (item.Errors().Count() > 0) {
    const TclErrorEntry& last = item.Errors().Items(item.Errors().Count() - 1);
    outcome.Error = last.Error;
    outcome.ErrorCode = last.ErrorCode;
  }
  return outcome;
}

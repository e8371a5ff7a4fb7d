// The errors of an item's current transfer, in the order they were reported,
// each with its code. Cleared at the start of every transfer.
//
// Threads: belongs to the user-interface thread, like its item.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct TclErrorEntry {
  std::string Error;
  std::int32_t ErrorCode = 0;
};

class TclErrorList {
 public:
  void Add(const std::string& error, std::int32_t errorCode) {
    entries_.push_back({error, errorCode});
  }
  void Clear() { entries_.clear(); }
  int Count() const { return static_cast<int>(entries_.size()); }
  const TclErrorEntry& Items(int index) const {
    return entries_.at(static_cast<std::size_t>(index));
  }
  const std::vector<TclErrorEntry>& Entries() const { return entries_; }

 private:
  std::vector<TclErrorEntry> entries_;
};

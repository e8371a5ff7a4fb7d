// Downloads several URLs at once into a folder and prints a text readout of
// each item's segments as they fill, from a notifier registered with the
// control (the interface the segmented progress bar follows it through).
// Usage: segmented-progress FOLDER URL...
// Exit status 0 when every download got all its bytes, 1 otherwise.
#include <cstdio>
#include <exception>
#include <map>
#include <string>
#include <vector>

#include "download/ControlNotifier.h"
#include "download/clMultiDownLoader.h"

namespace {

const char* StatusName(TclProcessStatus status) {
  switch (status) {
    case psSuccess: return "success";
    case psFailed: return "failed";
    case psErrors: return "errors";
    case psProcess: return "in progress";
    case psTerminated: return "terminated";
    default: return "unknown";
  }
}

// One cell per segment: '#' for the part done, '.' for the rest, '?' while a
// segment has no known length.
std::string SegmentCells(const TclResourceState& state) {
  constexpr int kCell = 10;
  std::string text;
  for (int i = 0; i < state.Count(); ++i) {
    const TclResourceStateItem* segment = state.Items(i);
    text += '[';
    if (segment->BytesToProceed() <= 0) {
      text += std::string(kCell, '?');
    } else {
      const auto done = static_cast<int>(kCell * segment->BytesProceed() / segment->BytesToProceed());
      text += std::string(done, '#') + std::string(kCell - done, '.');
    }
    text += ']';
  }
  return text;
}

// Prints an item's line each time it has moved on by a tenth, and each status
// change. Runs on the thread that pumps the control's messages.
class TextReadout : public TclControlNotifier {
 public:
  using TclControlNotifier::TclControlNotifier;

  void ResourceStateChanged(TclInternetItem* item) override {
    const TclResourceState& state = item->ResourceState();
    if (state.ResourceSize() <= 0 || state.Count() == 0) return;
    const auto tenth = static_cast<int>(10 * state.BytesProceed() / state.ResourceSize());
    auto [last, added] = tenths_.try_emplace(item, -1);
    if (!added && last->second == tenth) return;
    last->second = tenth;
    std::printf("%-24s %s %3d%%\n", Name(item).c_str(), SegmentCells(state).c_str(), tenth * 10);
  }
  void StatusChanged(TclInternetItem* item, TclProcessStatus status) override {
    std::printf("%-24s status: %s\n", Name(item).c_str(), StatusName(status));
  }

 private:
  static std::string Name(TclInternetItem* item) {
    const std::string& file = item->LocalFile();
    return file.substr(file.rfind('/') + 1);
  }
  std::map<TclInternetItem*, int> tenths_;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s FOLDER URL...\n", argv[0]);
    return 2;
  }
  try {
    TclMultiDownLoader downloader;
    downloader.SetLocalFolder(argv[1]);  // each item's file is named after its URL
    downloader.SetTryCount(3);
    downloader.SetReconnectAfter(500);
    TextReadout readout(&downloader);
    std::vector<TclDownLoadItem*> items;
    for (int i = 2; i < argc; ++i) {
      TclDownLoadItem* item = downloader.DownLoadList().Add();
      item->SetURL(argv[i]);
      item->SetThreadCount(5);
      items.push_back(item);
    }
    downloader.Start(nullptr, true);  // every item, all at once

    int failures = 0;
    for (TclDownLoadItem* item : items) {
      // Waiting for one item serves the events of all of them.
      const TclItemOutcome outcome = WaitForItem(*item, 120000);
      if (outcome.Succeeded()) {
        std::printf("done    %s (%lld bytes)\n", item->LocalFile().c_str(),
                    static_cast<long long>(outcome.BytesProceed));
      } else {
        ++failures;
        std::printf("failed  %s: %s\n", item->URL().c_str(),
                    outcome.Completed ? outcome.Error.c_str() : "timed out");
      }
    }
    return failures == 0 ? 0 : 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "segmented-progress: %s\n", e.what());
    return 1;
  }
}

// What the download tests share: a control on the test's thread, its events
// recorded as text in the order they came, and a notifier that records too.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "download/clMultiDC.h"
#include "download/clMultiDownLoader.h"
#include "rtl/StringList.h"
#include "support/TempDir.h"

namespace download_test {

// Compares bytes on disk without printing a binary body on failure.
inline ::testing::AssertionResult HasBytes(const std::string& path, const std::string& expected) {
  const std::string actual = testing_support::ReadFile(path);
  if (actual == expected) return ::testing::AssertionSuccess();
  std::size_t at = 0;
  while (at < actual.size() && at < expected.size() && actual[at] == expected[at]) ++at;
  return ::testing::AssertionFailure() << path << ": " << actual.size() << " bytes, expected "
                                       << expected.size() << ", first difference at " << at;
}

inline const char* StatusName(TclProcessStatus s) {
  static const char* const kNames[] = {"psUnknown", "psSuccess", "psFailed",
                                       "psErrors",  "psProcess", "psTerminated"};
  return kNames[s];
}

// Records every event of a control, in order, as short texts.
struct EventLog {
  std::vector<std::string> events;
  std::vector<std::string> errors;  // "text|code"
  long long dataBytes = 0;

  void Attach(TclMultiDownLoader& dl, bool withData = true) {
    dl.SetOnIsBusyChanged([this](rtl::Component* c) {
      events.push_back(static_cast<TclCustomInternetControl*>(c)->IsBusy() ? "busy" : "idle");
    });
    dl.SetOnStatusChanged([this](TclMultiInternetControl*, TclInternetItem*, TclProcessStatus s) {
      events.push_back(std::string("status ") + StatusName(s));
    });
    dl.SetOnURLParsing([this](TclMultiInternetControl*, TclInternetItem*, URL_COMPONENTSA&) {
      events.push_back("url");
    });
    dl.SetOnGetResourceInfo(
        [this](TclMultiInternetControl*, TclInternetItem*, TclResourceInfo* info) {
          events.push_back(info ? "info " + std::to_string(info->Size()) : "info none");
        });
    dl.SetOnDataItemProceed([this, withData](TclMultiInternetControl*, TclInternetItem*,
                                             TclResourceInfo*, TclResourceStateItem*, const char*,
                                             std::int32_t size) {
      dataBytes += size;
      if (withData && (events.empty() || events.back() != "data")) events.push_back("data");
    });
    dl.SetOnError([this](TclMultiInternetControl*, TclInternetItem*, const std::string& error,
                         std::int32_t code) {
      errors.push_back(error + "|" + std::to_string(code));
      events.push_back("error");
    });
    dl.SetOnDataTextProceed([this](TclMultiInternetControl*, TclInternetItem*,
                                   const rtl::StringList&) { events.push_back("preview"); });
    dl.SetOnProcessCompleted(
        [this](TclMultiInternetControl*, TclInternetItem*) { events.push_back("completed"); });
  }
};

// A notifier that records what it is told, tagged with its own name.
class RecordingNotifier : public TclControlNotifier {
 public:
  RecordingNotifier(TclCustomInternetControl* control, std::string tag,
                    std::vector<std::string>* log)
      : TclControlNotifier(control), tag_(std::move(tag)), log_(log) {}
  void ResourceStateChanged(TclInternetItem*) override { log_->push_back(tag_ + " state"); }
  void StatusChanged(TclInternetItem*, TclProcessStatus s) override {
    log_->push_back(tag_ + " status " + StatusName(s));
  }
  void DataItemProceed(TclInternetItem*, TclResourceInfo*, TclResourceStateItem*, const char*,
                       std::int32_t) override {
    log_->push_back(tag_ + " data");
  }
  void ItemDeleted(TclInternetItem*) override { log_->push_back(tag_ + " deleted"); }

 private:
  std::string tag_;
  std::vector<std::string>* log_;
};

// A control set up for quick loopback runs.
inline void QuickSettings(TclMultiDownLoader& dl) {
  dl.SetTimeOut(5000);
  dl.SetReconnectAfter(50);
  dl.SetTryCount(3);
}

}  // namespace download_test

// A front-end for the form tests: records what the form shows (titles,
// captions, label texts, paints of the bar into an image as large as it),
// answers the close question from a script, and runs the form's loop with a
// deadline so that a run that never ends fails instead of hanging.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/LiveView.h"
#include "app/Ulive.h"
#include "platform/Messages.h"
#include "progress/Canvas.h"

namespace app_testing {

class LiveViewRecorder : public app::TclLiveView {
 public:
  void SetApplicationTitle(const std::string& title) override { titles.push_back(title); }
  void SetCaption(const std::string& caption) override { captions.push_back(caption); }
  void SetLabelText(const std::string& text) override {
    labels.push_back(text);
    if (onLabel) onLabel(text);
  }
  bool AskYesNo(const std::string& caption, const std::string& text) override {
    questions.push_back(caption + "|" + text);
    return answer ? answer() : false;
  }
  void Show(app::TfrmLive& form) override { shown = &form; }
  void CloseWindow() override { ++closes; }
  void WaitForInput() override {
    ++waits;
    platform::WaitMessage();
  }
  void Run() override {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (closes == 0) {
      platform::ProcessMessages();
      if (closes != 0) break;
      ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "the run did not end";
      platform::WaitMessage(100);
    }
  }
  void PaintControl(TclGraphicControl& control) override {
    ++paints;
    image = std::make_unique<TclBitmap>(nullptr, control.Width(), control.Height());
    control.Paint(image->Canvas().Context());
  }

  std::vector<std::string> titles, captions, labels, questions;
  std::function<void(const std::string&)> onLabel;
  std::function<bool()> answer;
  app::TfrmLive* shown = nullptr;
  int closes = 0;
  int waits = 0;
  int paints = 0;
  std::unique_ptr<TclBitmap> image;
};

}  // namespace app_testing

// A front end for tests: installed for its lifetime, it records the message
// boxes and window requests instead of showing anything.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/front_end.h"

namespace pellan::test {

class RecordingFrontEnd : public HeadlessFrontEnd {
 public:
  RecordingFrontEnd() { SetFrontEnd(this); }
  ~RecordingFrontEnd() override { SetFrontEnd(nullptr); }
  RecordingFrontEnd(const RecordingFrontEnd&) = delete;
  RecordingFrontEnd& operator=(const RecordingFrontEnd&) = delete;

  int MessageBox(const std::string& text, const std::string&, int) override {
    boxes.push_back(text);
    if (whileShown) whileShown();  // a modal box's own loop
    return kMbAnswerOk;
  }
  void SetMainWindowOnTop(bool onTop) override { onTopRequests.push_back(onTop); }
  bool ShowWindowOnTop(const std::string& title) override {
    titleRequests.push_back(title);
    return title == existingTitle;
  }

  std::function<void()> whileShown;
  std::vector<std::string> boxes;
  std::vector<bool> onTopRequests;
  std::vector<std::string> titleRequests;
  std::string existingTitle;  // the one window ShowWindowOnTop finds
};

}  // namespace pellan::test

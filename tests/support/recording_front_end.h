// A front end for tests: installed for its lifetime, it records the message
// boxes instead of showing them.
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

  std::function<void()> whileShown;
  std::vector<std::string> boxes;
};

}  // namespace pellan::test

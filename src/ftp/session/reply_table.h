// A reply table says what a complete reply does, by the operation under
// way, the last command sent and the reply code. Rows are tried in order;
// for one operation and command, exact codes come first and a code of 0
// ("any other") last. Each layer of the control keeps the rows of its own
// operations.
#pragma once

#include <cstddef>
#include <string>

namespace pellan {

constexpr const char* kAnyCommand = nullptr;  // any last command
constexpr int kOtherCode = 0;                 // any other code

template <class Layer>
struct ReplyRow {
  long operation;
  const char* lastCommand;
  int code;
  void (Layer::*action)(int code);
};

// Runs the first row that matches; false when none does.
template <class Layer, size_t N>
bool RunReplyTable(Layer& layer, const ReplyRow<Layer> (&rows)[N], long operation, const std::string& lastCommand,
                   int code) {
  for (const ReplyRow<Layer>& row : rows) {
    if (row.operation != operation) continue;
    if (row.lastCommand != kAnyCommand && lastCommand != row.lastCommand) continue;
    if (row.code != kOtherCode && row.code != code) continue;
    (layer.*row.action)(code);
    return true;
  }
  return false;
}

}  // namespace pellan

// Two tiny helpers shared by the engine: cutting a text at its first NUL (for
// texts that came out of fixed-size buffers or decoded bytes) and telling
// whether the program is being debugged. Stateless; any instance serves.
#pragma once

#include <string>

namespace pellan {

class CPublic {
 public:
  // Everything before the first NUL character; the text itself when it has none.
  std::string mTrim(const std::string& text) const;

  // True while a debugger is attached to the program; false on any failure.
  bool IsDebug() const;
};

}  // namespace pellan

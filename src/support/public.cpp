#include "support/public.h"

#include "platform/system_info.h"

namespace pellan {

std::string CPublic::mTrim(const std::string& text) const {
  const auto nul = text.find('\0');
  return nul == std::string::npos ? text : text.substr(0, nul);
}

bool CPublic::IsDebug() const { return RunningUnderDebugger(); }

}  // namespace pellan

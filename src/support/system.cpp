#include "support/system.h"

#include <cmath>

#include "platform/clock.h"
#include "platform/code_page.h"
#include "platform/front_end.h"
#include "platform/system_info.h"

namespace pellan {

void CSystem::Delay(double ms) const {
  if (!(ms > 0)) return;  // also not-a-number
  // A day is far beyond any pause the engine asks for; the cap keeps the
  // conversion defined.
  constexpr double kLongest = 86'400'000.0;
  const double whole = std::nearbyint(ms < kLongest ? ms : kLongest);
  CurrentClock().Sleep(Milliseconds(static_cast<int64_t>(whole)));
}

int CSystem::GetUserLangID() const { return UserLanguageFromLocale(); }

int CSystem::LanguageOfLangId(int langId) {
  switch (langId) {
    case 2052:
    case 4100:
      return 1;
    case 1028:
    case 3076:
      return 2;
    case 1041:
      return 3;
    default:
      return 0;
  }
}

int CSystem::StrLen(const std::string& text) const {
  return static_cast<int>(EncodeText(text, ProcessCodePage()).size());
}

void CSystem::SetWindowOnTop(bool onTop) const { CurrentFrontEnd().SetMainWindowOnTop(onTop); }

bool CSystem::ShowWindowOnTop(const std::string& title) const {
  return CurrentFrontEnd().ShowWindowOnTop(title);
}

}  // namespace pellan

#include "platform/date_text.h"

#include "platform/clock.h"

namespace pellan {

std::string DateTimeText(std::time_t t) {
  std::tm local{};
  if (!localtime_r(&t, &local)) return std::string();
  char buf[32];
  const size_t n = std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &local);
  return std::string(buf, n);
}

std::time_t WallSeconds() { return CurrentClock().WallNow().tv_sec; }

std::string NowText() { return DateTimeText(WallSeconds()); }

}  // namespace pellan

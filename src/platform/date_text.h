// Date and time as the program displays and logs them: local time,
// "YYYY-MM-DD HH:MM:SS".
#pragma once

#include <ctime>
#include <string>

namespace pellan {

// The given wall-clock time as "YYYY-MM-DD HH:MM:SS" in local time.
std::string DateTimeText(std::time_t t);

// The current clock's wall time as "YYYY-MM-DD HH:MM:SS".
std::string NowText();

// The current clock's wall time in seconds since the Unix epoch.
std::time_t WallSeconds();

}  // namespace pellan

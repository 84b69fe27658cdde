// The modification time of a remote entry, at the minute resolution that
// listings give, and its one text form "yyyy-mm-dd hh:mm".
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace pellan {

struct ListDate {
  int year = 1899;
  int month = 12;
  int day = 30;
  int hour = 0;
  int minute = 0;

  bool operator==(const ListDate&) const = default;
};

// What a record holds when no date could be formed.
inline constexpr ListDate kZeroDate{};

// The date when it names a real calendar day and time of day (years 1..9999).
std::optional<ListDate> MakeListDate(int year, int month, int day, int hour, int minute);

// "yyyy-mm-dd hh:mm".
std::string ListDateText(const ListDate& date);
// Appends ListDateText(date) to `out`.
void AppendListDateText(const ListDate& date, std::string& out);

// Reads "yyyy-mm-dd", "yyyy-mm-dd hh:mm" or "yyyy-mm-dd hh:mm:ss" (seconds are
// dropped); nullopt for anything else.
std::optional<ListDate> ParseListDateText(std::string_view text);

// The calendar year of the process clock's wall time, in local time.
int CurrentYear();

}  // namespace pellan

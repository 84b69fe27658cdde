#include "ftp/remote/list_date.h"

#include <cstdio>
#include <cstring>
#include <ctime>

#include "platform/date_text.h"

namespace pellan {

namespace {

bool IsLeapYear(int y) {
  return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int DaysInMonth(int y, int m) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeapYear(y) ? 29 : kDays[m - 1];
}

// Exactly `n` ASCII digits at `at`, as a number; -1 otherwise.
int Digits(std::string_view s, size_t at, size_t n) {
  if (at + n > s.size()) return -1;
  int v = 0;
  for (size_t i = at; i < at + n; ++i) {
    if (s[i] < '0' || s[i] > '9') return -1;
    v = v * 10 + (s[i] - '0');
  }
  return v;
}

}  // namespace

std::optional<ListDate> MakeListDate(int year, int month, int day, int hour, int minute) {
  if (year < 1 || year > 9999 || month < 1 || month > 12) return std::nullopt;
  if (day < 1 || day > DaysInMonth(year, month)) return std::nullopt;
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59) return std::nullopt;
  return ListDate{year, month, day, hour, minute};
}

std::string ListDateText(const ListDate& d) {
  std::string text;
  AppendListDateText(d, text);
  return text;
}

void AppendListDateText(const ListDate& d, std::string& out) {
  const bool fits = d.year >= 0 && d.year <= 9999 && d.month >= 0 && d.month <= 99 && d.day >= 0 && d.day <= 99 &&
                    d.hour >= 0 && d.hour <= 99 && d.minute >= 0 && d.minute <= 99;
  if (!fits) {  // only a hand-made ListDate: the fields then take the room they need
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d", d.year, d.month, d.day, d.hour, d.minute);
    out += buf;
    return;
  }
  // Two digits at a time from a table: a listing forms one of these per
  // entry.
  static constexpr char kPairs[] =
      "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
      "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
      "8081828384858687888990919293949596979899";
  const auto put2 = [](char* at, int value) { std::memcpy(at, kPairs + 2 * value, 2); };
  char text[16] = {0, 0, 0, 0, '-', 0, 0, '-', 0, 0, ' ', 0, 0, ':', 0, 0};
  put2(text, d.year / 100);
  put2(text + 2, d.year % 100);
  put2(text + 5, d.month);
  put2(text + 8, d.day);
  put2(text + 11, d.hour);
  put2(text + 14, d.minute);
  out.append(text, sizeof text);
}

std::optional<ListDate> ParseListDateText(std::string_view t) {
  if (t.size() != 10 && t.size() != 16 && t.size() != 19) return std::nullopt;
  if (t[4] != '-' || t[7] != '-') return std::nullopt;
  const int y = Digits(t, 0, 4), mo = Digits(t, 5, 2), d = Digits(t, 8, 2);
  int h = 0, mi = 0;
  if (t.size() >= 16) {
    if (t[10] != ' ' || t[13] != ':') return std::nullopt;
    h = Digits(t, 11, 2);
    mi = Digits(t, 14, 2);
    if (t.size() == 19 && (t[16] != ':' || Digits(t, 17, 2) < 0 || Digits(t, 17, 2) > 59)) {
      return std::nullopt;
    }
  }
  return MakeListDate(y, mo, d, h, mi);
}

int CurrentYear() {
  const std::time_t now = WallSeconds();
  std::tm local{};
  if (!localtime_r(&now, &local)) return 1970;
  return local.tm_year + 1900;
}

}  // namespace pellan

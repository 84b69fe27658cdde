#include "ftp/remote/listing_parser.h"

#include <cstdint>
#include <cstring>
#include <optional>

namespace pellan {

namespace {

// Three characters packed into one number, for the month names' switch.
constexpr uint32_t Packed(const char (&m)[4]) {
  return static_cast<uint32_t>(static_cast<unsigned char>(m[0])) << 16 |
         static_cast<uint32_t>(static_cast<unsigned char>(m[1])) << 8 | static_cast<unsigned char>(m[2]);
}
constexpr size_t kNpos = std::string_view::npos;

// Letter case is folded for ASCII only: other bytes of a listing (UTF-8, or
// bytes kept from an unconvertible code page) are never touched.
char LowerAscii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
}
bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// 1..12 for a three-letter month name in any letter case, else 0.
int MonthNumber(std::string_view s) {
  if (s.size() != 3) return 0;
  const char l[4] = {LowerAscii(s[0]), LowerAscii(s[1]), LowerAscii(s[2]), 0};
  switch (Packed(l)) {
    case Packed("jan"): return 1;
    case Packed("feb"): return 2;
    case Packed("mar"): return 3;
    case Packed("apr"): return 4;
    case Packed("may"): return 5;
    case Packed("jun"): return 6;
    case Packed("jul"): return 7;
    case Packed("aug"): return 8;
    case Packed("sep"): return 9;
    case Packed("oct"): return 10;
    case Packed("nov"): return 11;
    case Packed("dec"): return 12;
    default: return 0;
  }
}

// `n` characters from the 1-based column `start`; empty past the end.
std::string_view Mid(std::string_view s, size_t start, size_t n = kNpos) {
  if (start < 1 || start > s.size()) return {};
  return s.substr(start - 1, n);
}

std::string_view TrimLeftSpaces(std::string_view s) {
  const size_t i = s.find_first_not_of(' ');
  return i == kNpos ? std::string_view() : s.substr(i);
}

std::string_view TrimRightSpaces(std::string_view s) {
  const size_t i = s.find_last_not_of(' ');
  return i == kNpos ? std::string_view() : s.substr(0, i + 1);
}

// One left-to-right pass of "  " -> " " (a run of four becomes two), as the
// fixed-width date fields expect.
std::string ReplaceDoubleSpaces(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    out += s[i];
    if (s[i] == ' ' && i + 1 < s.size() && s[i + 1] == ' ') ++i;
  }
  return out;
}

// A byte count: decimal digits only, at most 2^63 - 1.
std::optional<int64_t> ParseSize(std::string_view s) {
  if (s.empty() || s.size() > 19) return std::nullopt;
  uint64_t v = 0;
  for (char c : s) {
    if (!IsDigit(c)) return std::nullopt;
    v = v * 10 + static_cast<uint64_t>(c - '0');
  }
  if (v > static_cast<uint64_t>(INT64_MAX)) return std::nullopt;
  return static_cast<int64_t>(v);
}

// A number of 1..max_digits digits; -1 otherwise.
int SmallNumber(std::string_view s, size_t maxDigits) {
  if (s.empty() || s.size() > maxDigits) return -1;
  int v = 0;
  for (char c : s) {
    if (!IsDigit(c)) return -1;
    v = v * 10 + (c - '0');
  }
  return v;
}

// "h:mm" or "hh:mm" at the start of `s`; the characters used, or 0.
size_t ReadClock(std::string_view s, int& hour, int& minute) {
  const size_t colon = s.find(':');
  if (colon == kNpos || colon < 1 || colon > 2 || s.size() < colon + 3) return 0;
  hour = SmallNumber(s.substr(0, colon), 2);
  minute = SmallNumber(s.substr(colon + 1, 2), 2);
  return hour < 0 || minute < 0 ? 0 : colon + 3;
}

std::string Quoted(std::string_view s) {
  return "[" + std::string(s) + "]";
}

// The 12 characters at `at` read as a UNIX date field and are followed by a
// space or the end of the line.
bool IsUnixDateField(std::string_view line, size_t at) {
  if (at + 12 > line.size()) return false;
  const std::string_view f = line.substr(at, 12);
  if (MonthNumber(f.substr(0, 3)) == 0 || f[3] != ' ' || f[6] != ' ') return false;
  if (!(f[4] == ' ' || IsDigit(f[4])) || !IsDigit(f[5])) return false;
  const std::string_view t = f.substr(7);
  const bool clock =
      (IsDigit(t[0]) || t[0] == ' ') && IsDigit(t[1]) && t[2] == ':' && IsDigit(t[3]) && IsDigit(t[4]);
  const bool year = t[0] == ' ' && IsDigit(t[1]) && IsDigit(t[2]) && IsDigit(t[3]) && IsDigit(t[4]);
  return (clock || year) && (at + 12 == line.size() || line[at + 12] == ' ');
}

// "01-15-24 " at the start: a DOS line whatever its name holds.
bool StartsWithDosDate(std::string_view line) {
  if (line.size() < 9 || line[2] != '-' || line[5] != '-' || line[8] != ' ') return false;
  return IsDigit(line[0]) && IsDigit(line[1]) && IsDigit(line[3]) && IsDigit(line[4]) && IsDigit(line[6]) &&
         IsDigit(line[7]);
}

ListDate ListDateForYear(std::string_view field, int currentYear, const ListingReport& report) {
  const std::string s = ReplaceDoubleSpaces(field);
  const int month = MonthNumber(Mid(s, 1, 3));
  const int day = SmallNumber(TrimRightSpaces(Mid(s, 5, 2)), 2);
  const std::string_view tail =
      TrimLeftSpaces(s.size() > 5 ? std::string_view(s).substr(s.size() - 5) : std::string_view(s));
  int year = currentYear, hour = 0, minute = 0;
  bool ok = true;
  if (tail.find(':') != kNpos) {
    ok = ReadClock(tail, hour, minute) == tail.size();
  } else {
    year = SmallNumber(tail, 4);
  }
  std::optional<ListDate> date;
  if (ok) date = MakeListDate(year, month, day, hour, minute);
  if (date) return *date;
  if (report.dateError) report.dateError("Invalid date " + Quoted(field));
  return kZeroDate;
}

// The date of a field that IsUnixDateField accepted: the same result as
// ListDateForYear, read straight from the fixed columns ("Mmm dd hh:mm",
// "Mmm dd  yyyy", the day and the hour possibly with a space for a leading
// digit).
ListDate CheckedUnixDate(std::string_view f, int currentYear, const ListingReport& report) {
  const auto digit = [](char c) { return c - '0'; };
  const int month = MonthNumber(f.substr(0, 3));
  const int day = (f[4] == ' ' ? 0 : digit(f[4]) * 10) + digit(f[5]);
  int year = currentYear, hour = 0, minute = 0;
  if (f[9] == ':') {
    hour = (f[7] == ' ' ? 0 : digit(f[7]) * 10) + digit(f[8]);
    minute = digit(f[10]) * 10 + digit(f[11]);
  } else {
    year = digit(f[8]) * 1000 + digit(f[9]) * 100 + digit(f[10]) * 10 + digit(f[11]);
  }
  if (const auto date = MakeListDate(year, month, day, hour, minute)) return *date;
  if (report.dateError) report.dateError("Invalid date " + Quoted(f));
  return kZeroDate;
}

// "yy-mm-dd", optionally followed by " h:mm" or " hh:mm" (":ss" ignored)
// and AM or PM. Two-digit years 69..99 are 1969..1999, 00..68 are
// 2000..2068, as the C library reads them.
std::optional<ListDate> ParseDosDate(std::string_view s) {
  if (s.size() < 8 || s[2] != '-' || s[5] != '-') return std::nullopt;
  const int yy = SmallNumber(s.substr(0, 2), 2), mm = SmallNumber(s.substr(3, 2), 2),
            dd = SmallNumber(s.substr(6, 2), 2);
  if (yy < 0) return std::nullopt;
  int hour = 0, minute = 0;
  std::string_view rest = s.substr(8);
  if (!rest.empty()) {
    if (rest[0] != ' ') return std::nullopt;
    rest.remove_prefix(1);
    const size_t used = ReadClock(rest, hour, minute);
    if (used == 0) return std::nullopt;
    rest.remove_prefix(used);
    if (rest.size() >= 3 && rest[0] == ':' && SmallNumber(rest.substr(1, 2), 2) >= 0) {
      rest.remove_prefix(3);
    }
    if (!rest.empty() && rest[0] == ' ') rest.remove_prefix(1);
    if (!rest.empty()) {
      if (rest.size() != 2 || LowerAscii(rest[1]) != 'm') return std::nullopt;
      const char ap = LowerAscii(rest[0]);
      if ((ap != 'a' && ap != 'p') || hour < 1 || hour > 12) return std::nullopt;
      hour = hour % 12 + (ap == 'p' ? 12 : 0);
    }
  }
  return MakeListDate(yy <= 68 ? 2000 + yy : 1900 + yy, mm, dd, hour, minute);
}

// Fills `f` from a DOS line, and `name` with its name as it stands in the
// line. A reason when a step failed (the caller drops the line); every step
// runs either way.
std::optional<std::string> ParseDosLine(std::string_view line, CFtpFile& f, std::string_view& name) {
  name = Mid(line, 40);
  f.SetFileName(std::string(name));
  const std::string_view kept = line.substr(0, 38);
  std::optional<std::string> fault;

  const std::string when = ReplaceDoubleSpaces(kept.substr(0, 17));
  const std::string_view w = TrimRightSpaces(when);
  std::string reordered(Mid(w, 7, 2));
  reordered += '-';
  reordered += Mid(w, 1, 5);
  reordered += Mid(w, 9);
  if (const auto date = ParseDosDate(reordered)) {
    f.SetLastWriteTime(*date);
  } else {
    fault = "Invalid date " + Quoted(kept.substr(0, 17));
  }

  if (kept.find("<DIR>") != kNpos) {
    f.SetIsDirectory(true);
  } else {
    std::string digits;
    for (char c : Mid(kept, 18, 21)) {
      if (c != ' ') digits += c;
    }
    if (const auto size = ParseSize(digits)) {
      f.SetFileSize(*size);
    } else if (!fault) {
      fault = "Invalid file size " + Quoted(digits);
    }
  }
  return fault;
}

// The columns of the line before, which the next line most likely repeats
// and then shares.
class RepeatedColumns {
 public:
  SharedColumns SameOrNew(std::string_view permissions, std::string_view owner, std::string_view group,
                          std::string_view filePath) {
    if (permissions.empty() && owner.empty() && group.empty() && filePath.empty()) return nullptr;
    if (!m_last || m_last->permissions != permissions || m_last->owner != owner || m_last->group != group ||
        m_last->filePath != filePath) {
      m_last = std::make_shared<const FileColumns>(
          FileColumns{std::string(permissions), std::string(owner), std::string(group), std::string(filePath)});
    }
    return m_last;
  }

 private:
  SharedColumns m_last;
};

// Fills `f` from a UNIX line whose date field starts at column `pos`, and
// `name` with its name as it stands in the line. A reason when the size is
// not a number (the listing is then abandoned).
std::optional<std::string> ParseUnixLine(std::string_view line, size_t pos, int currentYear,
                                         const ListingReport& report, RepeatedColumns& repeated, CFtpFile& f,
                                         std::string_view& name) {
  const bool directory = line[0] == 'd';
  f.SetIsDirectory(directory);
  f.SetLastWriteTime(CheckedUnixDate(Mid(line, pos, 12), currentYear, report));

  name = Mid(line, pos + 13);
  std::string_view target;
  if (line[0] == 'l') {
    const size_t arrow = name.find(" -> ");
    if (arrow != kNpos) {
      target = name.substr(arrow + 4);
      name = name.substr(0, arrow);
    }
  }
  f.SetFileName(std::string(name));

  // The size ends just before the space in front of the month.
  const size_t sizeEnd = pos - 2;  // 0-based, one past the last digit
  const size_t space = line.rfind(' ', sizeEnd - 1);
  const size_t sizeStart = space == kNpos ? 0 : space + 1;
  const std::string_view sizeText = line.substr(sizeStart, sizeEnd - sizeStart);
  const auto size = ParseSize(sizeText);
  if (!size) return "Invalid file size " + Quoted(sizeText);
  f.SetFileSize(directory ? 0 : *size);

  // Permissions, link count, owner and, when present, group: the columns
  // before the size, split at runs of spaces. Only the first four are kept;
  // the rest are counted.
  std::string_view fields[4];
  size_t count = 0;
  const std::string_view head = line.substr(0, sizeStart);
  size_t i = 0;
  while (true) {
    const size_t sp = head.find(' ', i);
    if (count < 4) fields[count] = head.substr(i, sp == kNpos ? kNpos : sp - i);
    ++count;
    if (sp == kNpos) break;
    i = head.find_first_not_of(' ', sp);
    if (i == kNpos) {
      ++count;  // an empty last column
      break;
    }
  }
  f.SetColumns(repeated.SameOrNew(fields[0], count > 2 ? fields[2] : std::string_view(),
                                   count == 5 ? fields[3] : std::string_view(), target));
  return std::nullopt;
}

class ListingParser {
 public:
  explicit ListingParser(const ListingReport& report)
      : m_report(report), m_currentYear(CurrentYear()), m_files(std::make_unique<CFtpFiles>()) {}

  // False when the listing has to be abandoned.
  bool Line(std::string_view line) {
    CFtpFile f;
    std::string_view name;  // f's name, within `line`
    const size_t pos = StartsWithDosDate(line) ? 0 : GetDateStartPosition(line);
    if (pos >= 11) {
      if (const auto fault = ParseUnixLine(line, pos, m_currentYear, m_report, m_repeated, f, name)) {
        Log("GetFileListX.Error:" + *fault);
        return false;
      }
    } else if (const auto fault = ParseDosLine(line, f, name)) {
      Log("GetFileListX:Err(" + std::to_string(kUnknownListTypeError) + "#" + *fault + ")" +
          std::string(line.substr(0, 38)));
      return true;
    }
    if (name.empty() || name == "." || name == "..") return true;
    if (!m_files->Add(std::move(f), name)) Log("GetFileListX:Duplicate name dropped:" + std::string(name));
    return true;
  }

  void Reserve(size_t count) { m_files->Reserve(count); }

  std::unique_ptr<CFtpFiles> Take() { return std::move(m_files); }

 private:
  void Log(const std::string& line) {
    if (m_report.log) m_report.log(line);
  }

  const ListingReport& m_report;
  int m_currentYear;
  RepeatedColumns m_repeated;
  std::unique_ptr<CFtpFiles> m_files;
};

}  // namespace

bool IsBlankListing(std::string_view text) {
  return text.find_first_not_of(' ') == kNpos;
}

std::unique_ptr<CFtpFiles> GetFileListX(std::string_view text, const ListingReport& report) {
  if (IsBlankListing(text)) return nullptr;

  if (text.size() >= 5 && LowerAscii(text[0]) == 't' && LowerAscii(text[1]) == 'o' &&
      LowerAscii(text[2]) == 't' && LowerAscii(text[3]) == 'a' && LowerAscii(text[4]) == 'l') {
    size_t end = text.find_first_of("\r\n");
    if (end == kNpos) {
      end = text.size();
    } else {
      end += text.compare(end, 2, "\r\n") == 0 ? 2 : 1;
    }
    text.remove_prefix(end);
  }

  ListingParser parser(report);
  // Nearly every line is an entry.
  size_t lines = 1;
  for (const char* p = text.data(); (p = static_cast<const char*>(
                                          std::memchr(p, '\n', static_cast<size_t>(text.data() + text.size() - p))));
       ++p) {
    ++lines;
  }
  parser.Reserve(lines);
  size_t start = 0;
  while (start <= text.size()) {
    const size_t lf = text.find('\n', start);
    const std::string_view line = text.substr(start, lf == kNpos ? kNpos : lf - start);
    if (line.empty()) break;
    // Within a line, CR ends a line too: servers that end lines in CR alone
    // give one LF-less "line" holding the whole listing.
    size_t from = 0;
    while (from < line.size()) {
      size_t cr = line.find('\r', from);
      if (cr == kNpos) cr = line.size();
      if (cr > from && !parser.Line(line.substr(from, cr - from))) return nullptr;
      from = cr + 1;
    }
    if (lf == kNpos) break;
    start = lf + 1;
  }
  return parser.Take();
}

size_t GetDateStartPosition(std::string_view line) {
  // Candidates: " mmm " with a digit just before the leading space.
  for (size_t p = 1; p + 4 < line.size(); ++p) {
    if (line[p] != ' ' || line[p + 4] != ' ' || !IsDigit(line[p - 1])) continue;
    if (IsUnixDateField(line, p + 1)) return p + 2;
  }
  return 0;
}

ListDate GetListDate(std::string_view field, const ListingReport& report) {
  return ListDateForYear(field, CurrentYear(), report);
}

}  // namespace pellan

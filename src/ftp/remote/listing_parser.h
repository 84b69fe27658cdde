// Turns the text of a LIST reply into CFtpFiles. Two dialects are read, told
// apart line by line: the UNIX long format
//   -rw-r--r-- 1 owner group 1234 Jan 15 12:34 name
// and the DOS format of Windows servers, the name at column 40:
//   01-15-24  03:45PM       <DIR>          name
//
// The text is program text, already decoded from the session's code page by
// the caller. Columns count bytes: everything before a name is ASCII in both
// dialects, and a name is taken as the bytes that follow, untouched, so bytes
// that did not convert stay exactly as the server sent them.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "ftp/remote/ftp_file.h"
#include "ftp/remote/list_date.h"

namespace pellan {

// The engine's error number for a listing that is not blank yet gives no
// collection ("Unknowed file list type."); the caller raises it. The
// parser's own log lines about single lines carry it too.
inline constexpr int kUnknownListTypeError = 16002;

// Where the parser's diagnostics go; either may be left empty.
struct ListingReport {
  // A line for the engine's error log.
  std::function<void(const std::string& line)> log;
  // A date field that did not form a date; the entry keeps the zero date.
  std::function<void(const std::string& description)> dateError;
};

// True when the text is empty or only spaces: nothing was listed.
bool IsBlankListing(std::string_view text);

// The entries of a listing, keyed by name in listing order. nullptr for a
// blank listing, and for a listing whose UNIX line has a size that is not a
// number (logged as "GetFileListX.Error:" + reason): the caller cannot tell
// what the server holds and must not act on part of it.
//
// - A line that starts with a DOS date ("01-15-24 ") is DOS; otherwise a line
//   with a UNIX date field (GetDateStartPosition) at column 11 or later is
//   UNIX, and any other line DOS.
// - A first line starting with "total" (any letter case) is dropped.
// - Lines end at LF, CR LF or CR alone. The first empty line between two
//   LFs ends the listing (so does a trailing LF); a line of CRs is skipped.
// - ".", ".." and nameless entries are left out; directories hold size 0.
// - A DOS line that does not read (date or size) is logged and left out.
// - A name listed twice (exactly; "Ra.txt" and "RA.txt" are two names) keeps
//   its first entry; the later one is logged and left out.
std::unique_ptr<CFtpFiles> GetFileListX(std::string_view text, const ListingReport& report = {});

// The 1-based column of the month name that starts a UNIX date field
// ("Jan 15 12:34", "Dec  6  2023"), or 0. The month name, in any letter
// case, must follow a space that follows a digit (the end of the size), and
// the whole field must read as a date followed by a space or the end of the
// line; the leftmost such field wins, so dates inside a file name, or an
// owner named like a month, are never taken for the entry's date.
size_t GetDateStartPosition(std::string_view line);

// The date of a UNIX date field of 12 characters: month, day, and either
// hh:mm in the current year (the year of the clock's wall time, even when
// that puts the date in the future) or a year at 00:00. A field that does
// not form a date is reported through report.dateError and gives kZeroDate.
ListDate GetListDate(std::string_view field, const ListingReport& report = {});

}  // namespace pellan

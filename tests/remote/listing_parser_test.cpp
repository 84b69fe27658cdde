#include "ftp/remote/listing_parser.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/clock.h"
#include "ftp/transfer_helpers.h"

namespace pellan {
namespace {

// Collects what the parser reports. The test clock puts "now" in 2026.
class ListingTest : public ::testing::Test {
 protected:
  ListingTest() {
    m_report.log = [this](const std::string& line) { m_log.push_back(line); };
    m_report.dateError = [this](const std::string& d) { m_dateErrors.push_back(d); };
  }
  std::unique_ptr<CFtpFiles> Parse(std::string_view text) { return GetFileListX(text, m_report); }
  // The one record of a one-line listing as "name|path|d or f|size|time|permissions|owner|group".
  std::string One(const std::string& line) {
    m_log.clear();
    const auto files = Parse(line);
    if (!files || files->Count() != 1) return "no single record; " + (m_log.empty() ? "" : m_log[0]);
    const CFtpFile& f = *files->Item(size_t{1});
    if (files->Item(f.FileName()) != &f || !m_log.empty()) return "not found by name or logged";
    return f.FileName() + "|" + f.FilePath() + "|" + (f.IsDirectory() ? "d" : "f") + "|" +
           std::to_string(f.FileSize()) + "|" + f.LastWriteTime() + "|" + f.Permissions() + "|" + f.Owner() + "|" +
           f.Group();
  }

  test::ScopedLoop m_loop{true};
  ListingReport m_report;
  std::vector<std::string> m_log;
  std::vector<std::string> m_dateErrors;
};

// A DOS line as IIS writes it: date and time in 17 columns, <DIR> or the
// size right-aligned up to column 38, the name from column 40.
std::string Dos(const std::string& when, const std::string& sizeOrDir, const std::string& name) {
  std::string line = when + std::string(17 - when.size(), ' ');
  line += sizeOrDir == "<DIR>" ? "       <DIR>         " : std::string(21 - sizeOrDir.size(), ' ') + sizeOrDir;
  return line + " " + name;
}

TEST_F(ListingTest, LinesThatRead) {
  const std::string r = "-rw-r--r--";
  const std::pair<std::string, std::string> rows[] = {
      {"-rw-r--r-- 1 owner group 1234 Jan 15 12:34 name", "name||f|1234|2026-01-15 12:34|" + r + "|owner|group"},
      {"lrwxrwxrwx 1 u g 7 Jan 15 12:34 latest -> release-2",
       "latest|release-2|f|7|2026-01-15 12:34|lrwxrwxrwx|u|g"},
      {"-rw-r--r-- 1 owner 1234 Jan 15 12:34 a", "a||f|1234|2026-01-15 12:34|" + r + "|owner|"},
      {"-rw-r--r--    1 0          0          9223372036854775807 Dec  6 17:52 huge",
       "huge||f|9223372036854775807|2026-12-06 17:52|" + r + "|0|0"},
      {"-rw-r--r-- 1 u g 2 Dec 06 17:52   two leading", "  two leading||f|2|2026-12-06 17:52|" + r + "|u|g"},
      {"-rw-r--r-- 1 用户 组 3 Dec 06 17:52 中文名.txt", "中文名.txt||f|3|2026-12-06 17:52|" + r + "|用户|组"},
      {"-rw-r--r-- 1 u g 5 Dec 06 17:52 not -> a link", "not -> a link||f|5|2026-12-06 17:52|" + r + "|u|g"},
      // A date inside the name, of an earlier month: the entry's own date wins.
      {"-rw-r--r-- 1 u g 5 Dec 15 12:34 Meeting 2 May 10 12:00 notes",
       "Meeting 2 May 10 12:00 notes||f|5|2026-12-15 12:34|" + r + "|u|g"},
      // Device numbers: the size is what stands before the date.
      {"crw-rw-rw- 1 root root 1, 3 Jan 15 12:34 null", "null||f|3|2026-01-15 12:34|crw-rw-rw-|root|"},
      {"01-15-24  03:45PM       <DIR>          docs", "docs||d|0|2024-01-15 15:45|||"},
      {Dos("01-15-24  03:45AM", "1234", "a.txt"), "a.txt||f|1234|2024-01-15 03:45|||"},
      {Dos("12-31-99  12:00AM", "0", "midnight"), "midnight||f|0|1999-12-31 00:00|||"},
      {Dos("06-01-69  11:59pm", "7", "lower"), "lower||f|7|1969-06-01 23:59|||"},
      {Dos("02-29-24  15:45", "5368709120", "big.iso"), "big.iso||f|5368709120|2024-02-29 15:45|||"},
      {Dos("01-15-24  03:45PM", "<DIR>", "  spaced name "), "  spaced name ||d|0|2024-01-15 15:45|||"},
      // A UNIX-looking date inside a DOS name does not turn the line into UNIX.
      {Dos("01-15-24  03:45PM", "12", "x 1 jan 15 12:34 y"), "x 1 jan 15 12:34 y||f|12|2024-01-15 15:45|||"},
  };
  for (const auto& [line, record] : rows) EXPECT_EQ(One(line), record) << line;
}

TEST_F(ListingTest, LinesThatDoNotReadAreLoggedAndLeftOut) {
  const std::pair<std::string, std::string> rows[] = {
      {Dos("13-15-24  03:45PM", "1234", "a.txt"), "Invalid date [13-15-24  03:45PM]"},
      {Dos("01-15-24  13:45PM", "1234", "a.txt"), "Invalid date [01-15-24  13:45PM]"},
      {Dos("02-30-24  01:45PM", "1234", "a.txt"), "Invalid date [02-30-24  01:45PM]"},
      {Dos("01-15-24  03:45PM", "12x34", "a.txt"), "Invalid file size [12x34]"},
      {Dos("01-15-24  03:45PM", "", "a.txt"), "Invalid file size []"},
      {"Directory of /pub", "Invalid date [Directory of /pub]"},
      {"1 jan 15 12:34 x", "Invalid date [1 jan 15 12:34 x]"},  // month before column 11
      {"-rw-r--r-- 1 o g 1 Jan 5 12:34 n", "Invalid date [-rw-r--r-- 1 o g ]"},  // day not padded
      {"-rw-r--r-- 1 o g 1 Jan 15 2019 n", "Invalid date [-rw-r--r-- 1 o g ]"},  // year not aligned
      {"-rw-r--r-- 1 o g x Jan 15 12:34 n", "Invalid date [-rw-r--r-- 1 o g ]"},  // no digit before
      {"   ", "Invalid date [   ]"},
  };
  // A DOS line that reads but has no name is left out silently.
  for (const auto& [line, reason] : rows) {
    m_log.clear();
    const auto files = Parse(line + "\r\n01-15-24  03:45PM       <DIR>\r\n");
    ASSERT_NE(files, nullptr) << line;
    EXPECT_EQ(files->Count(), 0u) << line;
    EXPECT_EQ(m_log, std::vector<std::string>{"GetFileListX:Err(16002#" + reason + ")" + line.substr(0, 38)});
  }
}

TEST_F(ListingTest, DateFieldsAndWhereTheyStart) {
  const std::pair<const char*, size_t> starts[] = {
      {"-rw-r--r-- 1 owner group 1234 Jan 15 12:34 name", 31}, {"-rw-r--r-- 1 o g 1 Dec 06 17:52", 20},
      {"1 jan 15 12:34 x", 3}, {"-rw-r--r-- 1 o g 1 Jan 15 12:34x", 0},
      {"-rw-r--r-- 1 may may 1234 Aug 15 12:34 x", 27}, {"", 0}, {" jan ", 0},
  };
  for (const auto& [line, pos] : starts) EXPECT_EQ(GetDateStartPosition(line), pos) << line;

  for (const auto& [field, time] : {std::pair("Jan  5 12:34", "2026-01-05 12:34"),
                                    {"sep 30  1:05", "2026-09-30 01:05"}, {"Feb 29  2024", "2024-02-29 00:00"}}) {
    EXPECT_EQ(ListDateText(GetListDate(field, m_report)), time) << field;
  }
  const char* const bad[] = {"Foo 15 12:34", "Feb 29  2023", "Apr 31 10:00", "Jan 15 24:00",
                             "Jan 00 12:34", "Jan 15 12:3x", "Jan 15  20x3", ""};
  for (const char* field : bad) EXPECT_EQ(ListDateText(GetListDate(field, m_report)), "1899-12-30 00:00") << field;
  ASSERT_EQ(m_dateErrors.size(), std::size(bad));
  EXPECT_EQ(m_dateErrors.front(), "Invalid date [Foo 15 12:34]");
}

TEST_F(ListingTest, LineStructure) {
  const std::string a = "-rw-r--r-- 1 u g 1 Jan 15 12:34 a", b = "-rw-r--r-- 1 u g 2 Jan 15 12:34 b";
  const std::pair<std::string, std::vector<std::string>> rows[] = {
      {"total 24\r\n" + a + "\r\n" + b + "\r\n", {"a", "b"}},
      {"TOTAL 0\r\n", {}},
      {"total 2\r" + a + "\r" + b + "\r", {"a", "b"}},  // CR alone ends lines
      {a + "\n" + b, {"a", "b"}},                       // LF alone
      {a + "\n\n" + b + "\n", {"a"}},                   // an empty line ends the listing
      {a + "\r\n\r\n" + b + "\r\n", {"a", "b"}},        // a line of CR only is skipped
      {"\r\n" + a, {"a"}},
      {"drwxr-xr-x 3 0 0 4096 Dec 06 17:52 .\r\ndrwxr-xr-x 3 0 0 4096 Dec 06 17:52 ..\r\n" + a, {"a"}},
      {"01-15-24  03:45PM       <DIR>          .\r\n01-15-24  03:45PM       <DIR>          ..\r\n", {}},
      {"-rw-r--r-- 1 u g 1 Jan 15 12:34 \r\n" + a, {"a"}},  // no name
      {"01-15-24  03:45PM       <DIR>          docs\r\n" + a + "\r\n", {"docs", "a"}},
      // A second entry of a name is left out (and logged below); letter case counts.
      {a + "\r\n-rw-r--r-- 1 u g 2 Jan 15 12:34 a\r\n-rw-r--r-- 1 u g 3 Jan 15 12:34 A\r\n", {"a", "A"}},
  };
  for (const auto& [text, names] : rows) {
    const auto files = Parse(text);
    ASSERT_NE(files, nullptr) << text;
    EXPECT_EQ(test::Names(files.get()), names) << text;
    EXPECT_EQ(files->Item("a") ? files->Item("a")->FileSize() : 1, 1) << text;  // the first "a" line stays
  }
  for (const char* text : {"", " ", "          "}) {
    EXPECT_TRUE(IsBlankListing(text));
    EXPECT_EQ(Parse(text), nullptr) << '"' << text << '"';
  }
  EXPECT_FALSE(IsBlankListing("\r\n"));
  ASSERT_NE(Parse("\r\n"), nullptr);
  EXPECT_EQ(m_log, std::vector<std::string>{"GetFileListX:Duplicate name dropped:a"});
}

TEST_F(ListingTest, AUnixSizeThatIsNotANumberAbandonsTheListing) {
  const std::string good = "-rw-r--r-- 1 u g 1 Jan 15 12:34 a\r\n";
  const std::pair<std::string, std::string> rows[] = {
      {good + "-rw-r--r-- 1 u g 12a4 Jan 15 12:34 b\r\n", "12a4"},
      {"-rw-r--r-- 1 u g -5 Jan 15 12:34 b\r\n", "-5"},
      {"-rw-r--r-- 1 u g 9223372036854775808 Jan 15 12:34 b\r\n", "9223372036854775808"},
      // Also after a DOS line: a record never holds a size it could not read.
      {"01-15-24  03:45PM       <DIR>          docs\r\n-rw-r--r-- 1 u g 1.5 Jan 15 12:34 b\r\n", "1.5"},
  };
  for (const auto& [text, size] : rows) {
    m_log.clear();
    EXPECT_EQ(Parse(text), nullptr) << text;
    EXPECT_EQ(m_log, std::vector<std::string>{"GetFileListX.Error:Invalid file size [" + size + "]"});
  }
}

}  // namespace
}  // namespace pellan

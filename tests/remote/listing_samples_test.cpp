// Listings as real servers write them (captured from pyftpdlib, vsftpd and
// pure-ftpd serving one folder), listings in other code pages, and hostile
// listings.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "ftp/remote/listing_parser.h"
#include "platform/code_page.h"
#include "support/test_env.h"

namespace pellan {
namespace {

std::vector<std::string> Names(const CFtpFiles& files) {
  std::vector<std::string> out;
  for (const CFtpFile& f : files) out.push_back(f.FileName());
  return out;
}

// "size|time|d or f|path|owner|group" of the named record, "missing" without one.
std::string Of(const CFtpFiles& files, const std::string& name) {
  const CFtpFile* f = files.Item(name);
  if (!f) return "missing";
  return std::to_string(f->FileSize()) + "|" + f->LastWriteTime() + "|" + (f->IsDirectory() ? "d" : "f") + "|" +
         f->FilePath() + "|" + f->Owner() + "|" + f->Group();
}

class ListingSamples : public ::testing::Test {
 protected:
  ListingSamples() { m_report.log = m_report.dateError = [this](const std::string& line) { m_log.push_back(line); }; }
  std::unique_ptr<CFtpFiles> Parse(const std::string& text) { return GetFileListX(text, m_report); }

  test::ScopedLoop m_loop{true};  // "now" is in 2026, as when the samples were taken
  ListingReport m_report;
  std::vector<std::string> m_log;
};

TEST_F(ListingSamples, RealServersListTheSameFolder) {
  const std::vector<std::string> kDotted = {".hidden", "R-big.bin", "R-dec.txt", "R-old.txt", "RA.txt",
                                            "Ra.txt",  "T file with spaces.txt", "latest", "sub", "中文名.txt"};
  for (const char* file : {"pyftpdlib_list.txt", "vsftpd_list_a.txt", "pureftpd_list_a.txt"}) {
    SCOPED_TRACE(file);
    m_log.clear();
    const auto files = Parse(test::ReadWholeFile(std::string(PELLAN_SOURCE_DIR) + "/tests/remote/data/" + file));
    ASSERT_NE(files, nullptr);
    EXPECT_EQ(Names(*files), kDotted);
    EXPECT_TRUE(m_log.empty()) << m_log.front();
    const std::string id = file[0] == 'p' && file[1] == 'y' ? "root" : "0";
    EXPECT_EQ(Of(*files, "R-big.bin") + " " + files->Item("R-big.bin")->Permissions() + " " + Of(*files, "R-old.txt") +
                  " " + Of(*files, "R-dec.txt").substr(0, 18) + " " + Of(*files, "latest").substr(0, 28) + " " +
                  Of(*files, "sub").substr(0, 21) + " " + Of(*files, "Ra.txt").substr(0, 1) + Of(*files, "RA.txt").substr(0, 1),
              "5368709120|2026-12-06 17:52|f||" + id + "|" + id + " -rw-r--r-- 4|2019-03-04 00:00|f||4321|4321 " +
                  "2|2026-01-06 00:00 6|2026-12-06 17:52|f|Ra.txt| 0|2025-12-06 00:00|d| 36");
    for (const CFtpFile& f : *files) EXPECT_TRUE(IsSafeLocalFileName(f.FileName())) << f.FileName();
  }
  // pure-ftpd names the entries of "LIST sub/R*" with the path given.
  const auto files = Parse(test::ReadWholeFile(std::string(PELLAN_SOURCE_DIR) +
                                               "/tests/remote/data/pureftpd_list_sub_pattern.txt"));
  ASSERT_NE(files, nullptr);
  EXPECT_EQ(Names(*files), (std::vector<std::string>{"sub/R1.txt", "sub/R2 with spaces.txt"}));
  for (const CFtpFile& f : *files) EXPECT_FALSE(IsSafeLocalFileName(f.FileName()));
}

std::string Unix(const std::string& name) {
  return "-rw-r--r--    1 0        0        1 Jan 15 12:34 " + name + "\r\n";
}

TEST_F(ListingSamples, NamesInOtherCodePagesComeBackByteForByte) {
  const struct {
    std::string bytes;  // the name as the server sent it
    CodePage page;
    std::string text;  // the record's FileName
  } rows[] = {
      {"\xD6\xD0\xCE\xC4.txt", CodePage::kGbk, "中文.txt"},
      // A GBK character whose second byte is "\": one character, no separator.
      {"\x95\x5C.txt", CodePage::kGbk, "昞.txt"},
      // Bytes that are no GBK stay as they came.
      {"\xFFx\x81 y.txt", CodePage::kGbk, "\xFFx\x81 y.txt"},
      {"\xD6\xD0\xFF", CodePage::kGbk, "中\xFF"},
      {"\xC3\x28\xFE.txt", CodePage::kUtf8, "\xC3\x28\xFE.txt"},
  };
  for (const auto& r : rows) {
    const auto files = Parse(DecodeText(Unix(r.bytes) + Unix("plain.txt"), r.page));
    ASSERT_NE(files, nullptr);
    ASSERT_EQ(files->Count(), 2u) << r.text;
    const std::string& name = files->Item(size_t{1})->FileName();
    EXPECT_EQ(name, r.text);
    EXPECT_TRUE(EncodeText(name, r.page) == r.bytes && IsSafeLocalFileName(name)) << r.text;
  }
}

TEST_F(ListingSamples, HostileNames) {
  const std::string longName(1 << 20, 'x');
  std::string noise;  // a megabyte of month names and digits that never forms a date field
  while (noise.size() < (1 << 20)) noise += "1 jan 1 Dec 12 1:2 ";
  const struct {
    std::string listing;
    std::vector<std::string> names;
    std::vector<bool> safe;
  } rows[] = {
      {Unix("..") + Unix(".") + Unix("..."), {"..."}, {true}},
      {Unix("../../etc/passwd") + Unix("/abs") + Unix("a\\b") + Unix("..\\x"),
       {"../../etc/passwd", "/abs", "a\\b", "..\\x"},
       {false, false, false, false}},
      {Unix(std::string("a\0b", 3)), {std::string("a\0b", 3)}, {false}},
      // CR LF inside a name cannot be told from a line end: the rest is a line
      // of its own, which does not read and is left out.
      {Unix("evil\r\nR-other.txt"), {"evil"}, {true}},
      {Unix("evil\rR-other.txt"), {"evil"}, {true}},
      {" " + Unix("lead"), {"lead"}, {true}},
      {Unix("\ttab\t"), {"\ttab\t"}, {true}},
      {Unix(longName) + Unix("after"), {longName, "after"}, {true, true}},
      {noise + "\r\n" + Unix("after"), {"after"}, {true}},
  };
  for (const auto& r : rows) {
    m_log.clear();
    const auto files = Parse(r.listing);
    ASSERT_NE(files, nullptr) << r.listing.substr(0, 80);
    ASSERT_EQ(Names(*files), r.names) << r.listing.substr(0, 80);
    for (size_t i = 0; i < r.safe.size(); ++i) {
      const std::string& name = files->Item(i + 1)->FileName();
      EXPECT_EQ(IsSafeLocalFileName(name), r.safe[i]) << name.substr(0, 80);
      EXPECT_EQ(name.find_first_of("\r\n"), std::string::npos);
    }
    for (const std::string& line : m_log) EXPECT_LT(line.size(), 200u);  // 38 characters of a line only
  }
}

}  // namespace
}  // namespace pellan

// Listings as real servers write them (captured from pyftpdlib, vsftpd and
// pure-ftpd serving one folder), listings in other code pages, and hostile
// listings.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "ftp/remote/listing_parser.h"
#include "platform/code_page.h"
#include "support/test_env.h"

namespace pellan {
namespace {

std::string Sample(const std::string& name) {
  const std::string text = test::ReadWholeFile(std::string(PELLAN_SOURCE_DIR) + "/tests/remote/data/" + name);
  EXPECT_FALSE(text.empty()) << name;
  return text;
}

std::vector<std::string> Names(const CFtpFiles& files) {
  std::vector<std::string> out;
  for (const CFtpFile& f : files) out.push_back(f.FileName());
  return out;
}

class ListingSamples : public ::testing::Test {
 protected:
  ListingSamples() {
    m_report.log = [this](const std::string& line) { m_log.push_back(line); };
    m_report.dateError = [this](const std::string& d) { m_log.push_back(d); };
  }

  test::ScopedLoop m_loop{true};  // "now" is in 2026, as when the samples were taken
  ListingReport m_report;
  std::vector<std::string> m_log;
};

TEST_F(ListingSamples, RealServersListTheSameFolder) {
  const std::vector<std::string> kVisible = {"R-big.bin", "R-dec.txt", "R-old.txt",
                                             "RA.txt",    "Ra.txt",    "T file with spaces.txt",
                                             "latest",    "sub",       "中文名.txt"};
  std::vector<std::string> withHidden = kVisible;
  withHidden.insert(withHidden.begin(), ".hidden");
  const struct {
    const char* file;
    std::vector<std::string> names;
    const char* owner;
    const char* group;
  } rows[] = {
      {"pyftpdlib_list.txt", withHidden, "root", "root"}, {"vsftpd_list.txt", kVisible, "0", "0"},
      {"vsftpd_list_a.txt", withHidden, "0", "0"},        {"pureftpd_list.txt", kVisible, "0", "0"},
      {"pureftpd_list_a.txt", withHidden, "0", "0"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.file);
    m_log.clear();
    const auto files = GetFileListX(Sample(r.file), m_report);
    ASSERT_NE(files, nullptr);
    EXPECT_EQ(Names(*files), r.names);
    EXPECT_TRUE(m_log.empty()) << m_log.front();

    const CFtpFile* big = files->Item("R-big.bin");
    ASSERT_NE(big, nullptr);
    EXPECT_EQ(big->FileSize(), 5368709120);
    EXPECT_EQ(big->LastWriteTime(), "2026-12-06 17:52");
    EXPECT_EQ(big->Permissions(), "-rw-r--r--");
    EXPECT_EQ(big->Owner(), r.owner);
    EXPECT_EQ(big->Group(), r.group);

    const CFtpFile* old = files->Item("R-old.txt");
    ASSERT_NE(old, nullptr);
    EXPECT_EQ(old->LastWriteTime(), "2019-03-04 00:00");
    EXPECT_EQ(old->Owner(), "4321");
    EXPECT_EQ(files->Item("R-dec.txt")->LastWriteTime(), "2026-01-06 00:00");

    const CFtpFile* link = files->Item("latest");
    ASSERT_NE(link, nullptr);
    EXPECT_EQ(link->FilePath(), "Ra.txt");
    EXPECT_FALSE(link->IsDirectory());

    const CFtpFile* sub = files->Item("sub");
    ASSERT_NE(sub, nullptr);
    EXPECT_TRUE(sub->IsDirectory());
    EXPECT_EQ(sub->FileSize(), 0);
    EXPECT_EQ(sub->LastWriteTime(), "2025-12-06 00:00");

    EXPECT_EQ(files->Item("Ra.txt")->FileSize(), 3);
    EXPECT_EQ(files->Item("RA.txt")->FileSize(), 6);
    for (const CFtpFile& f : *files) EXPECT_TRUE(IsSafeLocalFileName(f.FileName())) << f.FileName();
  }
}

TEST_F(ListingSamples, PatternListingsAndPathsInNames) {
  const struct {
    const char* file;
    std::vector<std::string> names;
    bool safe;
  } rows[] = {
      {"pyftpdlib_list_sub.txt", {"R1.txt", "R2 with spaces.txt"}, true},
      {"vsftpd_list_sub_pattern.txt", {"R1.txt", "R2 with spaces.txt"}, true},
      // pure-ftpd names the entries of "LIST sub/R*" with the path given.
      {"pureftpd_list_sub_pattern.txt", {"sub/R1.txt", "sub/R2 with spaces.txt"}, false},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.file);
    const auto files = GetFileListX(Sample(r.file), m_report);
    ASSERT_NE(files, nullptr);
    EXPECT_EQ(Names(*files), r.names);
    for (const CFtpFile& f : *files) EXPECT_EQ(IsSafeLocalFileName(f.FileName()), r.safe);
  }
}

std::string Unix(const std::string& name, const std::string& size = "1") {
  return "-rw-r--r--    1 0        0        " + size + " Jan 15 12:34 " + name;
}

TEST_F(ListingSamples, NamesInOtherCodePagesComeBackByteForByte) {
  const struct {
    std::string bytes;  // the name as the server sent it
    CodePage page;
    std::string text;  // the record's FileName
    bool safe;
  } rows[] = {
      {"\xD6\xD0\xCE\xC4.txt", CodePage::kGbk, "中文.txt", true},
      // A GBK character whose second byte is "\": one character, no separator.
      {"\x95\x5C.txt", CodePage::kGbk, "昞.txt", true},
      // Bytes that are no GBK stay as they came.
      {"\xFFx\x81 y.txt", CodePage::kGbk, "\xFFx\x81 y.txt", true},
      {"\xD6\xD0\xFF", CodePage::kGbk, "中\xFF", true},
      {"中文名.txt", CodePage::kUtf8, "中文名.txt", true},
      {"\xC3\x28\xFE.txt", CodePage::kUtf8, "\xC3\x28\xFE.txt", true},
  };
  for (const auto& r : rows) {
    const std::string listing = Unix(r.bytes) + "\r\n" + Unix("plain.txt") + "\r\n";
    const auto files = GetFileListX(DecodeText(listing, r.page), m_report);
    ASSERT_NE(files, nullptr);
    ASSERT_EQ(files->Count(), 2u) << r.text;
    const CFtpFile& f = *files->Item(size_t{1});
    EXPECT_EQ(f.FileName(), r.text);
    EXPECT_EQ(EncodeText(f.FileName(), r.page), r.bytes);
    EXPECT_EQ(IsSafeLocalFileName(f.FileName()), r.safe);
  }
}

TEST_F(ListingSamples, HostileNames) {
  const struct {
    std::string listing;
    std::vector<std::string> names;
    std::vector<bool> safe;
  } rows[] = {
      {Unix("..") + "\r\n" + Unix(".") + "\r\n" + Unix("...") + "\r\n", {"..."}, {true}},
      {Unix("../../etc/passwd") + "\r\n" + Unix("/abs") + "\r\n" + Unix("a\\b") + "\r\n" + Unix("..\\x") +
           "\r\n",
       {"../../etc/passwd", "/abs", "a\\b", "..\\x"},
       {false, false, false, false}},
      {Unix(std::string("a\0b", 3)) + "\r\n", {std::string("a\0b", 3)}, {false}},
      // CR LF inside a name cannot be told from a line end: the rest is a line
      // of its own, which does not read and is left out.
      {Unix("evil\r\nR-other.txt") + "\r\n", {"evil"}, {true}},
      {Unix("evil\rR-other.txt") + "\r\n", {"evil"}, {true}},
      {" " + Unix("lead") + "\r\n", {"lead"}, {true}},
      {Unix("\ttab\t") + "\r\n", {"\ttab\t"}, {true}},
  };
  for (const auto& r : rows) {
    const auto files = GetFileListX(r.listing, m_report);
    ASSERT_NE(files, nullptr) << r.listing;
    ASSERT_EQ(Names(*files), r.names) << r.listing;
    for (size_t i = 0; i < r.safe.size(); ++i) {
      const std::string& name = files->Item(i + 1)->FileName();
      EXPECT_EQ(IsSafeLocalFileName(name), r.safe[i]) << name;
      EXPECT_EQ(name.find_first_of("\r\n"), std::string::npos);
    }
  }
}

TEST_F(ListingSamples, VeryLongLines) {
  const std::string longName(1 << 20, 'x');
  auto files = GetFileListX(Unix(longName) + "\r\n" + Unix("after") + "\r\n", m_report);
  ASSERT_NE(files, nullptr);
  EXPECT_EQ(Names(*files), (std::vector<std::string>{longName, "after"}));

  // A megabyte of month names and digits that never forms a date field.
  std::string noise;
  while (noise.size() < (1 << 20)) noise += "1 jan 1 Dec 12 1:2 ";
  m_log.clear();
  files = GetFileListX(noise + "\r\n" + Unix("after") + "\r\n", m_report);
  ASSERT_NE(files, nullptr);
  EXPECT_EQ(Names(*files), (std::vector<std::string>{"after"}));
  ASSERT_EQ(m_log.size(), 1u);  // the noise line, logged with its first 38 characters only
  EXPECT_LT(m_log[0].size(), 200u);
}

}  // namespace
}  // namespace pellan

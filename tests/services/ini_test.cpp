#include <tuple>

#include <gtest/gtest.h>

#include "platform/code_page.h"
#include "support/error_record_scope.h"
#include "support/file.h"
#include "support/ini_text.h"
#include "support/scratch_state_home.h"
#include "support/test_env.h"

namespace pellan {
namespace {

using std::string;
using Row = std::tuple<const char*, const char*, const char*, const char*, const char*>;
using namespace std::string_literals;

TEST(CFileIni, WriteCreatesReadFindsWithinTheBufferRefusesWhatWouldBreakTheFileAndSectionsWork) {
  test::TempDir dir;
  test::ErrorRecordScope scope;
  CFile file;
  const string path = dir.File("site.ini");
  for (const auto& [section, key, value] : {std::tuple("Site", "Host", "ftp.example"), {"Site", "Port", "21"},
                                            {"Other", "Host", "x"}, {"site", "host", "ftp2.example"}}) {
    EXPECT_TRUE(file.IniWrite(path, section, key, value)) << key;
  }
  EXPECT_EQ(test::ReadWholeFile(path), "[Site]\r\nHost=ftp2.example\r\nPort=21\r\n[Other]\r\nHost=x\r\n");
  // A missing file or key is no failure.
  EXPECT_EQ(file.IniRead(path, "SITE", "HOST", 255) + "|" + file.IniRead(path, "Site", "missing", 255) + "|" +
                file.IniRead(dir.File("missing.ini"), "Site", "Host", 255) + "|" + scope.Log(),
            "ftp2.example|||");

  test::WriteWholeFile(path, "[S]\r\nv=abcdef\r\nz=ab\0cd\r\nc=中文字\r\n"s);
  const std::tuple<const char*, int, const char*> rows[] = {
      {"v", 7, "abcdef"}, {"v", 4, "abc"}, {"v", 1, ""}, {"v", 0, ""},
      {"z", 255, "ab"},  // cut at the NUL
      {"c", 6, "中"},    // never half a character
      {"c", 7, "中文"}};
  for (const auto& [key, size, value] : rows) EXPECT_EQ(file.IniRead(path, "S", key, size), value);

  SetProcessCodePage(CodePage::kGbk);
  file.IniWrite(dir.File("gbk.ini"), "站点", "主机", "服务器");
  EXPECT_EQ(file.IniRead(dir.File("gbk.ini"), "站点", "主机", 255), "服务器");
  EXPECT_EQ(file.IniRead(dir.File("gbk.ini"), "站点", "主机", 5), "服务");  // two bytes a character
  SetProcessCodePage(CodePage::kUtf8);
  EXPECT_EQ(test::ReadWholeFile(dir.File("gbk.ini")).size(), string("[]\r\n=\r\n").size() + 4 + 4 + 6);
  test::WriteWholeFile(path, "[S]\r\nk=v\r\n");
  for (const auto& [section, key, value] : {std::tuple("S", "k", "x\r\n[Evil]\r\nk=y"), {"S]x", "k", "v"},
                                            {"S", "a=b", "v"}, {"S", " ;comment", "v"}, {"S", "[T]", "v"}}) {
    EXPECT_TRUE(file.IniWrite(path, section, key, value)) << key;
  }
  EXPECT_EQ(test::ReadWholeFile(path) + scope.Record().Source() + std::to_string(scope.Record().Number()),
            "[S]\r\nk=v\r\nIniWrite" + std::to_string(EINVAL));

  const std::string logBefore = scope.Log();
  test::WriteWholeFile(path, "[a[b]\r\n[x]y\r\n]\r\n");
  EXPECT_EQ(file.IniReadSection(path), std::vector<string>{"a[b"});  // not "x": text after "]"
  test::WriteWholeFile(path, "[a]\r\nk=1\r\n\r\n[b]\r\nk=2\r\n[c]");
  EXPECT_EQ(file.IniReadSection(path), (std::vector<string>{"a", "b"}));
  // Not "c": the last line without its line end; nor "B": letter case counts.
  EXPECT_TRUE(file.IniExistSection(path, "b") && !file.IniExistSection(path, "c") &&
              !file.IniExistSection(path, "B"));
  EXPECT_TRUE(file.IniDeleteSection(path, "b") && file.IniDeleteSection(path, "missing"));
  EXPECT_EQ(test::ReadWholeFile(path), "[a]\r\nk=1\r\n\r\n[c]\r\n");
  EXPECT_TRUE(file.IniDeleteSection(dir.File("none.ini"), "a") && !file.IniExistSection(dir.File("none.ini"), "a"));
  EXPECT_EQ(scope.Log(), logBefore);
}

}  // namespace
}  // namespace pellan

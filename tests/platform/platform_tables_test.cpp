#include <gtest/gtest.h>

#include "platform/code_page.h"
#include "platform/system_info.h"

namespace pellan {
namespace {

TEST(CodePage, NamesSequencesAndGbkBothWays) {
  EXPECT_EQ(ParseCodePage("CP936"), CodePage::kGbk);
  EXPECT_EQ(ParseCodePage("UTF-"), std::nullopt);
  const std::pair<const char*, size_t> rows[] = {
      {"\xF0\x9F\x98\x80", 4}, {"\xED\xA0\x80", 0}, {"\xE4\xB8\x41", 0}};
  for (const auto& [bytes, length] : rows) EXPECT_EQ(Utf8SequenceLength(bytes), length) << bytes;
  // Bytes on the wire or disk, and program text (UTF-8).
  const std::pair<std::string, std::string> gbkRows[] = {
      {"plain.txt", "plain.txt"},
      {"\xD6\xD0\xCE\xC4.txt", "中文.txt"},
      {"a\xFF" "b", "a\xFF" "b"},              // no GBK byte at all
      {"x\xD6", "x\xD6"},                      // a lead byte cut off at the end
      {"\xD6\x20\xD6\xD0", "\xD6 中"},         // a lead byte followed by one that cannot trail it
  };
  for (const auto& [gbk, text] : gbkRows) {
    EXPECT_EQ(DecodeText(gbk, CodePage::kGbk), text);
    EXPECT_EQ(EncodeText(text, CodePage::kGbk), gbk);
  }
  // Text that GBK cannot hold, and stray bytes kept from an earlier decode,
  // go through as their own bytes.
  const std::string emoji = "\xF0\x9F\x98\x80";
  EXPECT_EQ(EncodeText("a" + emoji + "中\x80x", CodePage::kGbk), "a" + emoji + "\xD6\xD0\x80x");
  const std::string raw("\xFF\x00\xC3", 3);  // UTF-8 is the identity, whatever the bytes
  EXPECT_EQ(DecodeText(raw, CodePage::kUtf8) + EncodeText(raw, CodePage::kUtf8), raw + raw);
}

TEST(SystemInfo, LanguageFromTheLocaleAndTheProgramFolder) {
  const std::pair<const char*, int> rows[] = {
      {"zh_CN.UTF-8", 1}, {"zh_SG", 1}, {"zh_TW.Big5", 2}, {"zh_HK.UTF-8", 2}, {"ja_JP.UTF-8", 3},
      {"ja", 3},          {"C", 0},     {"zh", 0},         {"", 0},            {"jav_ID", 0}};
  for (const auto& [name, lang] : rows) EXPECT_EQ(LanguageOfLocaleName(name), lang) << name;

  // The program folder is the executable's unless overridden.
  const std::string real = ProgramFolder();
  ASSERT_FALSE(real.empty());
  EXPECT_TRUE(real.front() == '/' && real.back() != '/') << real;
  std::string seen;
  for (const char* folder : {"/srv/pellan//", "/", ""}) SetProgramFolder(folder), seen += ProgramFolder() + "|";
  EXPECT_EQ(seen, "/srv/pellan|/|" + real + "|");
}

}  // namespace
}  // namespace pellan

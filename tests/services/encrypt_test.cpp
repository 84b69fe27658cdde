#include <string>

#include <gtest/gtest.h>

#include "platform/code_page.h"
#include "support/encrypt.h"
#include "support/recording_front_end.h"

namespace pellan {
namespace {

TEST(CEncrypt, KnownFormsAndOddInput) {
  const std::pair<const char*, const char*> rows[] = {
      {"", ""},
      // One byte: 2 Base64 characters, the key string, and the key's 8th and
      // 9th characters in front (19 in all).
      {"a", "qZYQNkRtWmBqZvCxFwd"},
      {"ab", "BqYWINkRtWmBqZvCxFwd"},
      {"abc", "mBYWJjNkRtWmBqZvCxFwd"},
      // 14 Base64 characters still take the key string ...
      {"P@ss w0rd!", "HJUEBzcyB3MHJkIQNkRtWmBqZvCxFwd"},
      // ... 15 do not, and the prefix is their own 10th and 11th characters.
      {"abcdefghijk", "2hYWJjZGVmZ2hpams"},
      {"user@example", "GFdXNlckBleGFtcGxl"},
  };
  CEncrypt e;
  for (const auto& [plain, cipher] : rows) {
    EXPECT_EQ(e.EncryptSiteInfo(plain, "base64") + "|" + e.DecryptSiteInfo(cipher, "base64"),
              cipher + std::string("|") + plain);
  }
  // Only the Base64 seed is known, and an unknown one says nothing.
  test::RecordingFrontEnd frontEnd;
  EXPECT_EQ(e.EncryptSiteInfo("secret", "Base64"), "");
  EXPECT_EQ(e.DecryptSiteInfo(e.Base64Encrypt("secret"), "des"), "");
  EXPECT_TRUE(frontEnd.boxes.empty());
  // Non-ASCII text goes through the process code page: two bytes a Chinese
  // character in GBK instead of three.
  const std::string plain = "服务器 ftp 用户", utf8 = e.Base64Encrypt(plain);
  SetProcessCodePage(CodePage::kGbk);
  const std::string gbk = e.Base64Encrypt(plain);
  EXPECT_EQ(e.Base64Decrypt(gbk), plain);
  SetProcessCodePage(CodePage::kUtf8);
  EXPECT_EQ(e.Base64Decrypt(utf8) + std::to_string(gbk.size() < utf8.size()), plain + "1");
  // Odd input to the decipher.
  using namespace std::string_literals;
  const std::pair<std::string, std::string> odd[] = {
      {e.Base64Encrypt("  ftp.example  "), "ftp.example"},  // spaces at the ends go
      {e.Base64Encrypt("ab\0cd"s), "ab"},                    // cut at a NUL
      {"NkRtWmBqZvCxFwd", ""},  // only the key string
      // Characters outside the alphabet count as missing: "YQ" then "!!" (nothing).
      {"..YQ!!", "a"},
      // A missing first character of a group still shifts in as all ones:
      // ((0 / 16) + (-1 * 4)) & 255 = 252, which is not ASCII and stays a byte.
      {"..!A", "\xfc"},
  };
  for (const auto& [cipher, plain] : odd) EXPECT_EQ(e.Base64Decrypt(cipher), plain) << cipher;
}

}  // namespace
}  // namespace pellan

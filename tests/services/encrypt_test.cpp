#include <string>

#include <gtest/gtest.h>

#include "platform/code_page.h"
#include "support/encrypt.h"
#include "support/recording_front_end.h"

namespace pellan {
namespace {

TEST(CEncrypt, KnownForms) {
  const struct {
    const char* plain;
    const char* cipher;
  } rows[] = {
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
  for (const auto& r : rows) {
    EXPECT_EQ(e.EncryptSiteInfo(r.plain, "base64"), r.cipher) << r.plain;
    EXPECT_EQ(e.DecryptSiteInfo(r.cipher, "base64"), r.plain) << r.cipher;
  }
  // Only the Base64 seed is known, and an unknown one says nothing.
  test::RecordingFrontEnd frontEnd;
  EXPECT_EQ(e.EncryptSiteInfo("secret", "Base64"), "");
  EXPECT_EQ(e.DecryptSiteInfo(e.Base64Encrypt("secret"), "des"), "");
  EXPECT_TRUE(frontEnd.boxes.empty());
}

// Every 7-bit character but NUL, without spaces at the ends.
std::string AsciiText(size_t length, unsigned seed) {
  std::string s;
  for (size_t i = 0; i < length; ++i) {
    seed = seed * 1103515245u + 12345u;
    char c = static_cast<char>(1 + (seed >> 16) % 127);
    if (c == ' ' && (i == 0 || i + 1 == length)) c = '~';
    s += c;
  }
  return s;
}

TEST(CEncrypt, TextsOfAnyLengthRoundTrip) {
  CEncrypt e;
  for (size_t length = 1; length <= 300; ++length) {
    const std::string plain = AsciiText(length, static_cast<unsigned>(length));
    const std::string cipher = e.EncryptSiteInfo(plain, "base64");
    ASSERT_EQ(e.DecryptSiteInfo(cipher, "base64"), plain) << length;
    // The key string is there exactly when the Base64 form is short.
    const size_t base64Length = (length * 4 + 2) / 3;
    EXPECT_EQ(cipher.size(), 2 + (base64Length < 15 ? base64Length + 15 : base64Length)) << length;
  }
  for (size_t length : {32'767u, 32'768u, 100'000u}) {
    const std::string plain = AsciiText(length, 7);
    EXPECT_EQ(e.Base64Decrypt(e.Base64Encrypt(plain)), plain) << length;
  }
  // Non-ASCII text goes through the process code page.
  const std::string plain = "服务器 ftp 用户";
  const std::string utf8 = e.Base64Encrypt(plain);
  SetProcessCodePage(CodePage::kGbk);
  const std::string gbk = e.Base64Encrypt(plain);
  EXPECT_EQ(e.Base64Decrypt(gbk), plain);
  SetProcessCodePage(CodePage::kUtf8);
  EXPECT_EQ(e.Base64Decrypt(utf8), plain);
  EXPECT_NE(gbk, utf8);  // two bytes a character instead of three
}

TEST(CEncrypt, DecryptingOddInput) {
  using namespace std::string_literals;
  CEncrypt e;
  const struct {
    std::string cipher, plain;
  } rows[] = {
      {e.Base64Encrypt("  ftp.example  "), "ftp.example"},  // spaces at the ends go
      {e.Base64Encrypt("ab\0cd"s), "ab"},                    // cut at a NUL
      {e.Base64Encrypt("\0abc"s), ""},
      {"x", ""},
      {"xx", ""},
      {"NkRtWmBqZvCxFwd", ""},  // only the key string
      // Characters outside the alphabet count as missing: "YQ" then "!!" (nothing).
      {"..YQ!!", "a"},
      // A missing first character of a group still shifts in as all ones:
      // ((0 / 16) + (-1 * 4)) & 255 = 252, which is not ASCII and stays a byte.
      {"..!A", "\xfc"},
  };
  for (const auto& r : rows) EXPECT_EQ(e.Base64Decrypt(r.cipher), r.plain) << r.cipher;
}

}  // namespace
}  // namespace pellan

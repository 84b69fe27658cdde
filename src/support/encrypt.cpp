#include "support/encrypt.h"

#include <cstring>
#include <exception>

#include "platform/code_page.h"
#include "platform/front_end.h"
#include "support/text.h"

namespace pellan {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr size_t kKeyLength = 15;

int AlphabetIndex(const std::string& s, size_t i) {
  if (i >= s.size()) return -1;
  const char c = s[i];
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

void ShowFailure(const char* operation, const char* what) {
  CurrentFrontEnd().MessageBox(std::string("modEncrypt[") + operation + "]\r\n" + what, std::string(),
                               kMbOkOnly);
}

}  // namespace

std::string CEncrypt::Base64Encrypt(const std::string& text) const {
  const std::string bytes = EncodeText(text, ProcessCodePage());
  const size_t n = bytes.size();
  std::string b;
  b.reserve(n / 3 * 4 + 4 + kKeyLength + 2);
  const auto code = [&](size_t i) -> unsigned { return i < n ? static_cast<unsigned char>(bytes[i]) : 0u; };
  // The counter is a size_t: any length works.
  for (size_t i = 0; i < n; i += 3) {
    const unsigned a = code(i), c2 = code(i + 1), d = code(i + 2);
    b += kAlphabet[a / 4];
    b += kAlphabet[(a & 3) * 16 + c2 / 16];
    if (i + 1 < n) b += kAlphabet[(c2 & 15) * 4 + d / 64];
    if (i + 2 < n) b += kAlphabet[d & 63];
  }
  if (b.empty()) return std::string();
  if (b.size() < kKeyLength) b += kKeyString;
  return b.substr(9, 2) + b;
}

std::string CEncrypt::Base64Decrypt(const std::string& text) const {
  std::string s = text;
  if (s.size() >= kKeyLength && s.compare(s.size() - kKeyLength, kKeyLength, kKeyString) == 0) {
    s.resize(s.size() - kKeyLength);
  }
  s = s.size() > 2 ? s.substr(2) : std::string();
  std::string out;
  out.reserve(s.size() / 4 * 3 + 3);
  for (size_t i = 0; i < s.size(); i += 4) {
    const int w = AlphabetIndex(s, i), x = AlphabetIndex(s, i + 1);
    const int y = AlphabetIndex(s, i + 2), z = AlphabetIndex(s, i + 3);
    // A missing first character (-1) still takes part, as two's complement.
    if (x >= 0) out += static_cast<char>((x / 16 + w * 4) & 255);
    if (y >= 0) out += static_cast<char>((y / 4 + x * 16) & 255);
    if (z >= 0) out += static_cast<char>((y * 64 + z) & 255);
  }
  const auto nul = out.find('\0');
  if (nul != std::string::npos) out.resize(nul);
  return TrimBlanks(DecodeText(out, ProcessCodePage()));
}

std::string CEncrypt::EncryptSiteInfo(const std::string& encryptText, const std::string& encryptSeed) const {
  try {
    return encryptSeed == "base64" ? Base64Encrypt(encryptText) : std::string();
  } catch (const std::exception& e) {
    ShowFailure("EncryptSiteInfo", e.what());
    return std::string();
  }
}

std::string CEncrypt::DecryptSiteInfo(const std::string& encryptedText, const std::string& decryptSeed) const {
  try {
    return decryptSeed == "base64" ? Base64Decrypt(encryptedText) : std::string();
  } catch (const std::exception& e) {
    ShowFailure("DecryptSiteInfo", e.what());
    return std::string();
  }
}

}  // namespace pellan

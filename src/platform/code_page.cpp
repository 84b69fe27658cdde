#include "platform/code_page.h"

#include <iconv.h>

#include <cerrno>
#include <cstring>

namespace pellan {

namespace {

CodePage g_processCodePage = CodePage::kUtf8;

bool IsAscii(std::string_view s) {
  for (unsigned char c : s) {
    if (c >= 0x80) return false;
  }
  return true;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 32);
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 32);
    if (x != y) return false;
  }
  return true;
}

// One converter per direction, opened on first use (single thread).
class Converter {
 public:
  Converter(const char* to, const char* from) : m_cd(iconv_open(to, from)) {}
  ~Converter() {
    if (m_cd != reinterpret_cast<iconv_t>(-1)) iconv_close(m_cd);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  // Converts `in`; where a byte sequence does not convert, `skip(rest)` tells
  // how many bytes to copy through unchanged (at least 1).
  template <typename Skip>
  std::string Run(std::string_view in, Skip skip) {
    if (m_cd == reinterpret_cast<iconv_t>(-1)) return std::string(in);
    std::string out;
    out.reserve(in.size() * 2 + 8);
    iconv(m_cd, nullptr, nullptr, nullptr, nullptr);
    char* src = const_cast<char*>(in.data());
    size_t srcLeft = in.size();
    char buf[4096];
    while (srcLeft > 0) {
      char* dst = buf;
      size_t dstLeft = sizeof buf;
      const size_t r = iconv(m_cd, &src, &srcLeft, &dst, &dstLeft);
      out.append(buf, static_cast<size_t>(dst - buf));
      if (r != static_cast<size_t>(-1)) continue;
      if (errno == E2BIG) continue;
      // EILSEQ or EINVAL (incomplete at the end): keep the bytes as they are.
      size_t n = skip(std::string_view(src, srcLeft));
      if (n == 0 || n > srcLeft) n = 1;
      out.append(src, n);
      src += n;
      srcLeft -= n;
      iconv(m_cd, nullptr, nullptr, nullptr, nullptr);
    }
    return out;
  }

 private:
  iconv_t m_cd;
};

Converter& GbkToUtf8() {
  static Converter c("UTF-8", "GBK");
  return c;
}

Converter& Utf8ToGbk() {
  static Converter c("GBK", "UTF-8");
  return c;
}

}  // namespace

size_t Utf8SequenceLength(std::string_view s) {
  if (s.empty()) return 0;
  const auto b = [&](size_t i) { return static_cast<unsigned char>(s[i]); };
  const unsigned char c = b(0);
  if (c < 0x80) return 1;
  size_t len;
  unsigned lo = 0x80, hi = 0xBF;  // allowed range of the second byte
  if (c >= 0xC2 && c <= 0xDF) {
    len = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    len = 3;
    if (c == 0xE0) lo = 0xA0;
    if (c == 0xED) hi = 0x9F;  // no surrogates
  } else if (c >= 0xF0 && c <= 0xF4) {
    len = 4;
    if (c == 0xF0) lo = 0x90;
    if (c == 0xF4) hi = 0x8F;
  } else {
    return 0;
  }
  if (s.size() < len) return 0;
  if (b(1) < lo || b(1) > hi) return 0;
  for (size_t i = 2; i < len; ++i) {
    if (b(i) < 0x80 || b(i) > 0xBF) return 0;
  }
  return len;
}

std::optional<CodePage> ParseCodePage(std::string_view name) {
  if (EqualsNoCase(name, "UTF-8") || EqualsNoCase(name, "UTF8")) return CodePage::kUtf8;
  if (EqualsNoCase(name, "GBK") || EqualsNoCase(name, "CP936") || EqualsNoCase(name, "GB2312")) {
    return CodePage::kGbk;
  }
  return std::nullopt;
}

const char* CodePageName(CodePage cp) { return cp == CodePage::kGbk ? "GBK" : "UTF-8"; }

std::string DecodeText(std::string_view bytes, CodePage cp) {
  if (cp == CodePage::kUtf8 || IsAscii(bytes)) return std::string(bytes);
  return GbkToUtf8().Run(bytes, [](std::string_view) -> size_t { return 1; });
}

std::string EncodeText(std::string_view text, CodePage cp) {
  if (cp == CodePage::kUtf8 || IsAscii(text)) return std::string(text);
  // A well-formed character that GBK lacks goes through as its UTF-8 bytes;
  // a stray byte goes through alone.
  return Utf8ToGbk().Run(text, [](std::string_view rest) -> size_t {
    const size_t n = Utf8SequenceLength(rest);
    return n ? n : 1;
  });
}

CodePage ProcessCodePage() { return g_processCodePage; }
void SetProcessCodePage(CodePage cp) { g_processCodePage = cp; }

}  // namespace pellan

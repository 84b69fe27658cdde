#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <netdb.h>

#include <gtest/gtest.h>

#include "platform/clock.h"
#include "platform/code_page.h"
#include "platform/date_text.h"
#include "platform/socket_errors.h"
#include "platform/system_info.h"
#include "support/test_env.h"

namespace pellan {
namespace {

TEST(SocketErrors, ErrnoMapsToWindowsSocketsNumbers) {
  const struct {
    int err;
    int wsa;
  } rows[] = {
      {0, 0},
      {ECONNREFUSED, 10061},
      {ETIMEDOUT, 10060},
      {ECONNRESET, 10054},
      {EPIPE, 10054},
      {EADDRINUSE, 10048},
      {EADDRNOTAVAIL, 10049},
      {EWOULDBLOCK, 10035},
      {EINPROGRESS, 10035},  // a pending non-blocking connect is not an error
      {EALREADY, 10037},
      {EISCONN, 10056},
      {ENOTCONN, 10057},
      {ENETUNREACH, 10051},
      {EHOSTUNREACH, 10065},
      {ECONNABORTED, 10053},
      {EACCES, 10013},
      {EMFILE, 10024},
      {EBADF, 10038},
      {EINTR, 10004},
      {EIO, 10107},
  };
  for (const auto& r : rows) EXPECT_EQ(SocketErrorFromErrno(r.err), r.wsa) << "errno " << r.err;
}

TEST(SocketErrors, ResolverCodesMapToHostErrors) {
  EXPECT_EQ(SocketErrorFromResolver(0, 0), 0);
  EXPECT_EQ(SocketErrorFromResolver(EAI_NONAME, 0), 11001);
  EXPECT_EQ(SocketErrorFromResolver(EAI_AGAIN, 0), 11002);
  EXPECT_EQ(SocketErrorFromResolver(EAI_FAIL, 0), 11003);
  EXPECT_EQ(SocketErrorFromResolver(EAI_NODATA, 0), 11004);
  EXPECT_EQ(SocketErrorFromResolver(EAI_SYSTEM, ECONNREFUSED), 10061);
}

TEST(CodePage, NamesParseWithoutLetterCase) {
  EXPECT_EQ(ParseCodePage("utf-8"), CodePage::kUtf8);
  EXPECT_EQ(ParseCodePage("UTF8"), CodePage::kUtf8);
  EXPECT_EQ(ParseCodePage("gbk"), CodePage::kGbk);
  EXPECT_EQ(ParseCodePage("CP936"), CodePage::kGbk);
  EXPECT_EQ(ParseCodePage("latin1"), std::nullopt);
  EXPECT_EQ(ParseCodePage(""), std::nullopt);
}

TEST(CodePage, GbkConvertsBothWays) {
  const struct {
    std::string gbk;   // bytes on the wire or disk
    std::string text;  // program text (UTF-8)
  } rows[] = {
      {"plain.txt", "plain.txt"},
      {"\xD6\xD0\xCE\xC4.txt", "中文.txt"},
      {"\xC9\xCF\xB4\xAB\xCD\xEA\xB3\xC9", "上传完成"},
  };
  for (const auto& r : rows) {
    EXPECT_EQ(DecodeText(r.gbk, CodePage::kGbk), r.text);
    EXPECT_EQ(EncodeText(r.text, CodePage::kGbk), r.gbk);
  }
}

TEST(CodePage, GbkBytesThatDoNotConvertAreKeptAndWrittenBackUnchanged) {
  const std::string rows[] = {
      "a\xFF" "b",        // no GBK byte at all
      "x\xD6",            // a lead byte cut off at the end
      "\xD6\x20\xD0\xCE",  // a lead byte followed by one that cannot trail it
      std::string("\x80\x00\xFE", 3),
  };
  for (const auto& gbk : rows) {
    const std::string text = DecodeText(gbk, CodePage::kGbk);
    EXPECT_EQ(EncodeText(text, CodePage::kGbk), gbk);
  }
  EXPECT_EQ(DecodeText("a\xFF" "b", CodePage::kGbk), "a\xFF" "b");
  EXPECT_EQ(DecodeText("x\xD6", CodePage::kGbk), "x\xD6");
  EXPECT_EQ(DecodeText("\xD6\x20\xD6\xD0", CodePage::kGbk), "\xD6 中");
}

TEST(CodePage, TextThatGbkCannotHoldGoesThroughAsItsOwnBytes) {
  const std::string emoji = "\xF0\x9F\x98\x80";  // U+1F600
  EXPECT_EQ(EncodeText("a" + emoji + "中", CodePage::kGbk), "a" + emoji + "\xD6\xD0");
  // A stray byte in program text (kept from an earlier decode) goes through alone.
  EXPECT_EQ(EncodeText("\x80x", CodePage::kGbk), "\x80x");
  // UTF-8 is the identity, whatever the bytes.
  const std::string raw("\xFF\x00\xC3", 3);
  EXPECT_EQ(DecodeText(raw, CodePage::kUtf8), raw);
  EXPECT_EQ(EncodeText(raw, CodePage::kUtf8), raw);
}

TEST(CodePage, Utf8SequenceLengthRejectsOverlongAndSurrogates) {
  EXPECT_EQ(Utf8SequenceLength("a"), 1u);
  EXPECT_EQ(Utf8SequenceLength("中"), 3u);
  EXPECT_EQ(Utf8SequenceLength("\xF0\x9F\x98\x80"), 4u);
  EXPECT_EQ(Utf8SequenceLength("\xC0\x80"), 0u);      // overlong NUL
  EXPECT_EQ(Utf8SequenceLength("\xE0\x80\x80"), 0u);  // overlong
  EXPECT_EQ(Utf8SequenceLength("\xED\xA0\x80"), 0u);  // surrogate
  EXPECT_EQ(Utf8SequenceLength("\xE4\xB8"), 0u);      // cut short
  EXPECT_EQ(Utf8SequenceLength("\x80"), 0u);
  EXPECT_EQ(Utf8SequenceLength(""), 0u);
}

TEST(SystemInfo, LanguageFromLocaleNames) {
  const struct {
    const char* name;
    int lang;
  } rows[] = {
      {"zh_CN.UTF-8", 1}, {"zh_SG", 1},   {"zh_TW.Big5", 2}, {"zh_HK.UTF-8", 2}, {"ja_JP.UTF-8", 3},
      {"ja", 3},          {"en_US.UTF-8", 0}, {"C", 0},      {"POSIX", 0},       {"zh", 0},
      {"", 0},            {"jav_ID", 0},
  };
  for (const auto& r : rows) EXPECT_EQ(LanguageOfLocaleName(r.name), r.lang) << r.name;
}

// Sets environment variables for one test and puts the old values back.
class EnvGuard {
 public:
  explicit EnvGuard(std::initializer_list<const char*> names) {
    for (const char* n : names) {
      const char* v = std::getenv(n);
      m_saved.emplace_back(n, v ? std::optional<std::string>(v) : std::nullopt);
    }
  }
  ~EnvGuard() {
    for (const auto& [n, v] : m_saved) {
      if (v) setenv(n.c_str(), v->c_str(), 1);
      else unsetenv(n.c_str());
    }
  }

 private:
  std::vector<std::pair<std::string, std::optional<std::string>>> m_saved;
};

TEST(SystemInfo, LanguageVariablesAreReadInPrecedenceOrder) {
  EnvGuard g({"LC_ALL", "LC_MESSAGES", "LANG"});
  setenv("LANG", "ja_JP.UTF-8", 1);
  setenv("LC_MESSAGES", "", 1);  // empty counts as unset
  unsetenv("LC_ALL");
  EXPECT_EQ(UserLanguageFromLocale(), 3);
  setenv("LC_MESSAGES", "zh_TW.UTF-8", 1);
  EXPECT_EQ(UserLanguageFromLocale(), 2);
  setenv("LC_ALL", "zh_CN.GBK", 1);
  EXPECT_EQ(UserLanguageFromLocale(), 1);
  setenv("LC_ALL", "en_GB.UTF-8", 1);
  EXPECT_EQ(UserLanguageFromLocale(), 0);
}

TEST(SystemInfo, ProgramFolderIsTheExecutablesUnlessOverridden) {
  const std::string real = ProgramFolder();
  ASSERT_FALSE(real.empty());
  EXPECT_EQ(real.front(), '/');
  EXPECT_NE(real.back(), '/');
  SetProgramFolder("/srv/pellan//");
  EXPECT_EQ(ProgramFolder(), "/srv/pellan");
  SetProgramFolder("/");
  EXPECT_EQ(ProgramFolder(), "/");
  SetProgramFolder("");
  EXPECT_EQ(ProgramFolder(), real);
}

TEST(SystemInfo, NoDebuggerUnderTheTestRunner) {
  // ctest does not trace its tests; a debugger session would.
  if (std::getenv("PELLAN_UNDER_DEBUGGER")) GTEST_SKIP() << "running under a debugger";
  EXPECT_FALSE(RunningUnderDebugger());
}

TEST(DateText, LocalTimeInTheProgramsFormat) {
  EnvGuard g({"TZ"});
  setenv("TZ", "UTC", 1);
  tzset();
  EXPECT_EQ(DateTimeText(0), "1970-01-01 00:00:00");
  EXPECT_EQ(DateTimeText(1'780'000'000), "2026-05-28 20:26:40");
  setenv("TZ", "Asia/Shanghai", 1);
  tzset();
  EXPECT_EQ(DateTimeText(0).substr(0, 10), "1970-01-01");
  setenv("TZ", "UTC", 1);
  tzset();
  // "Now" comes from the installed clock.
  test::ScopedLoop s(true);
  s.Clock()->Advance(std::chrono::seconds(61));
  EXPECT_EQ(NowText(), "2026-05-28 20:27:41");
}

}  // namespace
}  // namespace pellan

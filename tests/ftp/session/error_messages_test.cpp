#include <stdlib.h>

#include <cerrno>
#include <optional>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/error_messages.h"
#include "support/current_error.h"
#include "support/error_record_scope.h"
#include "support/recording_front_end.h"
#include "support/scratch_state_home.h"

namespace pellan {
namespace {

// The host's language, and the English column replaced (only by 43 texts),
// which a language outside the table also reads.
TEST(ErrorMessages, LanguageFromTheHostAndTextReplacesTheEnglishColumn) {
  {
    const test::ScopedEnv locale("LC_ALL", "zh_TW.UTF-8");
    EXPECT_EQ(ErrorMessages().Language(), kLangTraditionalChinese);
  }
  test::RecordingFrontEnd frontEnd;
  ErrorMessages m(kLangSimplifiedChinese);
  const std::string before = m.Text();
  const std::string parts42(41, '|');
  m.SetText(parts42);
  m.SetText(parts42 + "||");  // 44
  m.SetText("");              // nothing at all, not even a message
  EXPECT_EQ(m.Text(), before);
  EXPECT_EQ(frontEnd.boxes, (std::vector<std::string>(2, "Invalid value for 'Text' Property")));
  std::string replacement;
  for (int row = 0; row < kMessageRows; ++row) replacement += (row ? "|R" : "R") + std::to_string(row);
  m.SetText(replacement);
  EXPECT_EQ(m.Language(), kLangEnglish);
  EXPECT_EQ(m.Text(), replacement);
  EXPECT_EQ(m.GetErrorMessage(20004) + m.GetErrorMessage(10061), "R20R35");
  m.SetLanguage(kLangJapanese);
  EXPECT_EQ(m.GetErrorMessage(20004), "操作のタイムアウト");  // the other columns stay
  for (const int language : {7, -1}) {
    m.SetLanguage(language);  // kept, but reads English
    EXPECT_EQ(std::to_string(m.Language()) + m.GetErrorMessage(20004), std::to_string(language) + "R20");
  }
  EXPECT_EQ(frontEnd.boxes.size(), 2u);
}

// Which table answers a number: the edges of each range, numbers inside a
// range that it does not list, and a handled error's own text last.
TEST(ErrorMessages, LookupOrder) {
  const struct {
    long number;
    const char* english;
    const char* chinese;
  } rows[] = {
      {20001, "Hostname Required", "主机地址为空"}, {20009, "Can't find the file[ {0} ]", "未找到文件[ {0} ]"},
      {20013, "Failed to get current/working directory", nullptr}, {20050, "Create Window Error", nullptr},
      {20015, "Unknown Error", "未知错误"},  // inside the range but not listed
      {20051, "Unknown Error", "未知错误"}, {16120, "Service ready in nnn minutes.", nullptr},
      {16553, "Requested action not taken.", nullptr}, {16530, "Login failed", "登录失败"},
      {16999, "Unknown Error", "未知错误"}, {16001, "Failed to get current/working directory", nullptr},
      {16011, "Connection is interrupted", nullptr}, {16012, "Unknown Error", "未知错误"},
      {16100, "Unknown Error", "未知错误"}, {10061, "Connection refused", "连接被拒绝"},
      {11004, "Valid name, no data record of requested type.", nullptr}, {10059, "Unknown Error", "未知错误"},
      {0, "Unknown Error", "未知错误"},
  };
  const ErrorMessages english(kLangEnglish), chinese(kLangSimplifiedChinese);
  for (const auto& r : rows) {
    EXPECT_EQ(english.GetErrorMessage(r.number), r.english) << r.number;
    EXPECT_EQ(chinese.GetErrorMessage(r.number), r.chinese ? r.chinese : r.english) << r.number;
  }
  HandledError handled(12345, "Disk quota exceeded");
  EXPECT_EQ(english.GetErrorMessage(12345), "Disk quota exceeded");
  EXPECT_EQ(english.GetErrorMessage(20004), "Operation timed out");
  // Fill replaces each placeholder once, and leaves those it has no value for.
  EXPECT_EQ(ErrorMessages::Fill("Invalid Path[ {0} ]", {"/a/{1}"}), "Invalid Path[ /a/{1} ]");
  EXPECT_EQ(ErrorMessages::Fill("发生错误,{1}秒后第{0}次重传", {"2", "5"}), "发生错误,5秒后第2次重传");
  EXPECT_EQ(ErrorMessages::Fill("{0} and {3}", {"x"}), "x and {3}");
}

TEST(RaiseError, GenericDescriptionsGiveWayToTheNumbersText) {
  ErrorMessages messages(kLangEnglish);
  const struct {
    int language;
    const char* description;
    const char* recorded;
    bool logged;
  } rows[] = {
      {kLangEnglish, "Application-defined or object-defined error", "Operation timed out", true},
      {kLangEnglish, "Defined application or object error", "Operation timed out", true},
      {kLangSimplifiedChinese, "应用程序定义或对象定义错误", "操作超时", true},
      {kLangSimplifiedChinese, "定义的应用程序或对象错误", "操作超时", true},
      {kLangEnglish, "APPLICATION-DEFINED OR OBJECT-DEFINED ERROR", "Operation timed out", true},
      {kLangEnglish, "Some other or object error here", "Operation timed out", true},
      {kLangEnglish, "   ", "Operation timed out", false}, {kLangEnglish, "", "Operation timed out", false},
      {kLangEnglish, "Object error", "Object error", false},
  };
  for (const auto& r : rows) {
    test::ErrorRecordScope scope;
    messages.SetLanguage(r.language);
    messages.RaiseError("Timeout_Timer:Upload", 20004, r.description, false);
    EXPECT_EQ(scope.Record().Description(), r.recorded) << r.description;
    const std::string log = scope.Log();
    EXPECT_EQ(log.rfind(std::string("RaiseError:") + r.description + "  {", 0) == 0, r.logged) << r.description;
    EXPECT_NE(log.find(std::string("Timeout_Timer:Upload|") + r.recorded + "(20004)  {"), std::string::npos);
  }
}

// A real error is recorded and logged; number 0 with no error being
// handled only logs, and the record keeps the last real error; with one
// being handled, it takes that one.
TEST(RaiseError, RecordsAndLogsAndNumberZeroTakesTheHandledError) {
  test::ErrorRecordScope scope;
  test::RecordingFrontEnd frontEnd;
  ErrorMessages messages(kLangEnglish);
  CError& record = scope.Record();
  EXPECT_EQ(messages.RaiseError("Connect", 16530, "530 Login incorrect.", false), "");
  errno = 0;
  messages.RaiseError(" Quit ", 0, "nothing", true);
  EXPECT_EQ(record.Source() + "|" + std::to_string(record.Number()) + "|" + record.Description(),
            "Quit|16530|530 Login incorrect.");
  EXPECT_THAT(scope.Log(),
              ::testing::MatchesRegex("Connect\\|530 Login incorrect\\.\\(16530\\)  \\{[^\r]*\r\n"
                                      "Quit:ErrorNumber=0nothing  \\{[^\r]*\r\n"));
  EXPECT_TRUE(frontEnd.boxes.empty());
  {  // number 0 while an error is handled takes that error
    HandledError handled(10054, "");
    messages.RaiseError("CSocket.SendData", 0, "", false);
  }
  EXPECT_EQ(std::to_string(record.Number()) + " " + record.Description(),
            "10054 Connection reset by peer.");
  messages.RaiseError("  ", 20005, "", true);  // no source: the last one stays; shown
  EXPECT_EQ(record.Source() + std::to_string(record.ShowError()), "CSocket.SendData1");
  EXPECT_EQ(frontEnd.boxes, std::vector<std::string>{"Unspecified Remote Path(20005)"});
}

}  // namespace
}  // namespace pellan

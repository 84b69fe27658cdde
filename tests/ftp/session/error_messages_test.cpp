#include <stdlib.h>

#include <algorithm>
#include <cerrno>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/error_messages.h"
#include "support/current_error.h"
#include "support/error_record_scope.h"
#include "support/recording_front_end.h"
#include "support/scratch_state_home.h"

namespace pellan {
namespace {

// The table's first and last rows in every language, a row with a
// placeholder, and the edges: past the last row, a language outside it.
TEST(MessageTable, FirstAndLastRowsAndTheEdges) {
  const char* first[] = {"Hostname Required", "主机地址为空", "主機地址為空", "ホストは空である"};
  const char* last[] = {"Retransfer,please wait ... ", "正在重新传送,请等待...", "正在重新傳送,請等待...",
                        "は、再送信、お待ちください..."};
  for (int language = 0; language < kMessageLanguages; ++language) {
    const std::string text = ErrorMessages(language).Text();  // the current column joined
    EXPECT_EQ(std::count(text.begin(), text.end(), '|'), 42);
    EXPECT_EQ(text.substr(0, text.find('|')) + "|" + text.substr(text.rfind('|') + 1),
              std::string(first[language]) + "|" + last[language]);
  }
  EXPECT_STREQ(MessageTableText(1, 18), "只能传输以下文件类型:[ {0} ]");
  EXPECT_STREQ(MessageTableText(0, 43), "");
  EXPECT_STREQ(MessageTableText(9, 2), "Login failed");
}

// Which table answers a number (the edges of a range, a number inside one
// that it does not list, none at all), a handled error's own text, the
// placeholders, and a generic description that gives way to the number's
// text.
TEST(ErrorMessages, LookupPlaceholdersAndGenericDescriptions) {
  const std::pair<long, const char*> rows[] = {
      {20001, "主机地址为空"}, {20050, "Create Window Error"}, {20015, "未知错误"}, {16530, "登录失败"},
      {16999, "未知错误"},     {10061, "连接被拒绝"},          {10059, "未知错误"}, {0, "未知错误"}};
  const ErrorMessages chinese(kLangSimplifiedChinese);
  for (const auto& [number, text] : rows) EXPECT_EQ(chinese.GetErrorMessage(number), text) << number;
  {
    HandledError handled(12345, "Disk quota exceeded");
    EXPECT_EQ(chinese.GetErrorMessage(12345), "Disk quota exceeded");
  }
  EXPECT_EQ(ErrorMessages::Fill("{0} and {3} in {1}", {"/a/{1}", "x"}), "/a/{1} and {3} in x");
  ErrorMessages messages(kLangEnglish);
  for (const char* description : {"Application-defined or object-defined error", "定义的应用程序或对象错误", "",
                                  "Some other or object error here", "Object error"}) {
    test::ErrorRecordScope scope;
    messages.RaiseError("Timeout_Timer:Upload", 20004, description, false);
    EXPECT_EQ(scope.Record().Description(),
              std::string(description) == "Object error" ? "Object error" : "Operation timed out");
  }
}

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

#include <stdlib.h>

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

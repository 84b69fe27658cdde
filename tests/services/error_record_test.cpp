#include <cerrno>

#include <gtest/gtest.h>

#include "platform/date_text.h"
#include "support/current_error.h"
#include "support/error_record.h"
#include "support/error_record_scope.h"
#include "support/recording_front_end.h"
#include "support/test_env.h"

namespace pellan {
namespace {

// The date part of every line written while a test clock runs.
std::string Stamp() { return "  {" + DateTimeText(1'780'000'000) + "}\r\n"; }

class CErrorTest : public ::testing::Test {
 protected:
  test::ScopedLoop m_loop{true};
  test::ErrorRecordScope m_scope;
  test::RecordingFrontEnd m_frontEnd;
  CError& m_record = m_scope.Record();
  // "number|description|source" of the record.
  std::string Rec() {
    return std::to_string(m_record.Number()) + "|" + m_record.Description() + "|" + m_record.Source();
  }
};

TEST_F(CErrorTest, DealErrorLogsSourceTextAndNumber) {
  errno = 0;
  m_record.DealError("x", true);  // nothing to report leaves no trace
  EXPECT_EQ(m_record.Source() + m_scope.Log(), "");

  m_record.SetNumber(20004);
  m_record.SetDescription("Operation timed out");
  m_record.DealError(" FtpLibrary.Connect ", false);
  EXPECT_EQ(m_record.Source() + std::to_string(m_frontEnd.boxes.size()), "FtpLibrary.Connect0");
  m_record.DealError("   ", true);  // a blank source keeps the old one
  EXPECT_EQ(m_frontEnd.boxes, std::vector<std::string>{"Operation timed out(20004)"});
  EXPECT_EQ(m_scope.Log(), "FtpLibrary.Connect|Operation timed out(20004)" + Stamp() +
                               "FtpLibrary.Connect|Operation timed out(20004)" + Stamp());

  // Clear forgets the error but not the settings.
  m_record.SetShowError(true);
  m_record.Clear();
  EXPECT_EQ(Rec() + "|" + std::to_string(m_record.ShowError()) + "|" + m_record.LogFilePath(),
            "0|||1|" + m_scope.LogPath());

  // Without a number, the error being handled, else errno.
  {
    HandledError handled(10061, "Connection refused");
    m_record.DealError("CSocket.Connect", false);
  }
  EXPECT_EQ(Rec(), "10061|Connection refused|CSocket.Connect");
  EXPECT_EQ(CurrentError().number, 0);  // handled errors do not linger
  m_record.Clear();
  errno = ENOENT;
  m_record.DealError("ReadFile", false);
  EXPECT_EQ(Rec(), "2|" + ErrnoText(ENOENT) + "|ReadFile");

  // A number of its own never gets the text of an unrelated errno.
  m_record.Clear();
  m_record.SetNumber(7);
  errno = ENOENT;
  m_record.DealError("s", false);
  EXPECT_EQ(m_record.Description(), "");
  const std::string log = m_scope.Log(), tail = "CSocket.Connect|Connection refused(10061)" + Stamp() + "ReadFile|" +
                                                 ErrnoText(ENOENT) + "(2)" + Stamp() + "s|(7)" + Stamp();
  EXPECT_EQ(log.substr(log.size() - std::min(log.size(), tail.size())), tail);

  // A log past its limit starts afresh (the program runs for days).
  ASSERT_TRUE(test::WriteWholeFile(m_scope.LogPath(), std::string(CError::kLogSizeLimit + 1, 'x')));
  m_record.WriteFile("fresh");
  EXPECT_EQ(m_scope.Log(), "fresh" + Stamp());
}

}  // namespace
}  // namespace pellan

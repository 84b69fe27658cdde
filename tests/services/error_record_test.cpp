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

TEST(CError, DealErrorLogsSourceTextAndNumber) {
  test::ScopedLoop loop(true);
  test::ErrorRecordScope scope;
  test::RecordingFrontEnd frontEnd;
  CError& record = scope.Record();
  // "number|description|source" of the record.
  const auto rec = [&] {
    return std::to_string(record.Number()) + "|" + record.Description() + "|" + record.Source();
  };
  errno = 0;
  record.DealError("x", true);  // nothing to report leaves no trace
  EXPECT_EQ(record.Source() + scope.Log(), "");

  record.SetNumber(20004);
  record.SetDescription("Operation timed out");
  record.DealError(" FtpLibrary.Connect ", false);
  EXPECT_EQ(record.Source() + std::to_string(frontEnd.boxes.size()), "FtpLibrary.Connect0");
  record.DealError("   ", true);  // a blank source keeps the old one
  EXPECT_EQ(frontEnd.boxes, std::vector<std::string>{"Operation timed out(20004)"});
  EXPECT_EQ(scope.Log(), "FtpLibrary.Connect|Operation timed out(20004)" + Stamp() +
                               "FtpLibrary.Connect|Operation timed out(20004)" + Stamp());

  // Clear forgets the error but not the settings.
  record.SetShowError(true);
  record.Clear();
  EXPECT_EQ(rec() + "|" + std::to_string(record.ShowError()) + "|" + record.LogFilePath(),
            "0|||1|" + scope.LogPath());

  // Without a number, the error being handled, else errno.
  {
    HandledError handled(10061, "Connection refused");
    record.DealError("CSocket.Connect", false);
  }
  EXPECT_EQ(rec(), "10061|Connection refused|CSocket.Connect");
  EXPECT_EQ(CurrentError().number, 0);  // handled errors do not linger
  record.Clear();
  errno = ENOENT;
  record.DealError("ReadFile", false);
  EXPECT_EQ(rec(), "2|" + ErrnoText(ENOENT) + "|ReadFile");

  // A number of its own never gets the text of an unrelated errno.
  record.Clear();
  record.SetNumber(7);
  errno = ENOENT;
  record.DealError("s", false);
  EXPECT_EQ(record.Description(), "");
  const std::string log = scope.Log(), tail = "CSocket.Connect|Connection refused(10061)" + Stamp() + "ReadFile|" +
                                                 ErrnoText(ENOENT) + "(2)" + Stamp() + "s|(7)" + Stamp();
  EXPECT_EQ(log.substr(log.size() - std::min(log.size(), tail.size())), tail);

  // A log past its limit starts afresh (the program runs for days).
  ASSERT_TRUE(test::WriteWholeFile(scope.LogPath(), std::string(CError::kLogSizeLimit + 1, 'x')));
  record.WriteFile("fresh");
  EXPECT_EQ(scope.Log(), "fresh" + Stamp());
}

}  // namespace
}  // namespace pellan

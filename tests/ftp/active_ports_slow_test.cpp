// Active mode's local ports over a whole turn of the counter: tens of
// thousands of PORT commands (the server refuses each, so no data
// connection is made and nothing lingers in TIME_WAIT).
#include <string>

#include <gtest/gtest.h>

#include "scripted_session.h"

namespace pellan {
namespace {

class ActivePorts : public test::ScriptedSession {};

TEST_F(ActivePorts, StayInTheirRangeAndStartAgainAtItsBottom) {
  ASSERT_TRUE(LoginOk());
  m_server.AnswerByDefault();
  m_server.SetDefaultReply("PORT", "500 Not this time.");
  m_ftp->SetPassiveMode(false);

  int previous = -1, first = -1;
  bool wrapped = false;
  // The first port lies in 20000..40001: at most 45,536 more reach the top.
  for (int i = 0; i < 46000 && !wrapped; ++i) {
    ASSERT_EQ(m_ftp->GetRemoteFilesInfo("pub/"), nullptr);
    ASSERT_EQ(m_ftp->ErrorNumber(), 16500) << m_ftp->ErrorInfo();
    const std::string& line = m_server.Transcript().back();
    const int port = test::PortOf(line);
    ASSERT_GT(port, 0) << line;
    ASSERT_GE(port, 20000) << "after " << previous;
    ASSERT_LE(port, 65535) << "after " << previous;
    if (first < 0) {
      first = port;
      ASSERT_LE(first, 40001 + 50);
    } else if (port < previous) {
      // Past the top the count starts again at the bottom (a port taken by
      // someone else is skipped, so the first one used may lie a little higher).
      EXPECT_GE(previous, 65535 - 50);
      EXPECT_LE(port, 20000 + 50);
      wrapped = true;
    } else {
      ASSERT_LE(port - previous, 50) << "more ports skipped than are tried";
    }
    previous = port;
  }
  EXPECT_TRUE(wrapped) << "from " << first << " to " << previous;
}

}  // namespace
}  // namespace pellan

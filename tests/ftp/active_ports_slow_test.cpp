// Active mode's local ports over a whole turn of the counter: tens of
// thousands of PORT commands (the server refuses each, so no data
// connection is made and nothing lingers in TIME_WAIT). A client that runs
// for days goes round more than once.
#include <string>

#include <gtest/gtest.h>

#include "scripted_session.h"

namespace pellan::test {
namespace {

TEST_F(ScriptedSession, ActivePortsStayInTheirRangeAndStartAgainAtItsBottom) {
  ASSERT_TRUE(LoginOk());
  m_server.AnswerByDefault();
  m_server.SetDefaultReply("PORT", "500 Not this time.");
  m_ftp->SetPassiveMode(false);
  // The first port lies in 20000..40001: at most 45,536 more reach the top.
  int previous = -1;
  bool wrapped = false;
  for (int i = 0; i < 46000 && !wrapped; ++i) {
    ASSERT_EQ(m_ftp->GetRemoteFilesInfo("pub/"), nullptr);
    const int port = m_server.LastPort();
    ASSERT_TRUE(port >= 20000 && port <= 65535) << port << " after " << previous;
    // Past the top the count starts again at the bottom (a port taken by
    // someone else is skipped, so the first one used may lie a little higher).
    wrapped = port < previous;
    if (wrapped) {
      EXPECT_TRUE(previous >= 65535 - 50 && port <= 20000 + 50) << previous << " then " << port;
    }
    previous = port;
  }
  EXPECT_TRUE(wrapped) << previous;
}

}  // namespace
}  // namespace pellan::test

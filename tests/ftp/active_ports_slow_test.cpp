// Active mode's local ports over a whole turn of the counter: tens of
// thousands of PORT commands (the server refuses each, so no data
// connection is made and nothing lingers in TIME_WAIT).
#include <regex>
#include <string>

#include <gtest/gtest.h>

#include "ftp/transfer/ftp_library.h"
#include "net/socket_support.h"
#include "support/encrypt.h"
#include "support/error_record.h"
#include "support/fake_ftp_server.h"
#include "support/scratch_state_home.h"
#include "support/test_env.h"

namespace pellan {
namespace {

std::string Enc(const std::string& s) { return CEncrypt().EncryptSiteInfo(s, "base64"); }

TEST(ActivePorts, StayInTheirRangeAndStartAgainAtItsBottom) {
  test::ScopedLoop loop(true, std::chrono::milliseconds(1));
  test::FakeFtpServer server;
  server.Login().AnswerByDefault();
  server.SetDefaultReply("PORT", "500 Not this time.");
  g_blnConnecting = false;
  FtpLibrary ftp;
  ftp.SetServerName(Enc("127.0.0.1"));
  ftp.SetRemotePort(server.Port());
  ftp.SetUserName(Enc("user"));
  ftp.SetPassWord(Enc("pass"));
  ftp.SetKeepConnSecond(0);
  ftp.SetPassiveMode(false);
  ASSERT_TRUE(ftp.Connect());

  static const std::regex kPort("PORT 127,0,0,1,([0-9]+),([0-9]+)");
  int previous = -1, first = -1;
  bool wrapped = false;
  // The first port lies in 20000..40001: at most 45,536 more reach the top.
  for (int i = 0; i < 46000 && !wrapped; ++i) {
    ASSERT_EQ(ftp.GetRemoteFilesInfo("pub/"), nullptr);
    ASSERT_EQ(ftp.ErrorNumber(), 16500) << ftp.ErrorInfo();
    std::smatch m;
    const std::string& line = server.Transcript().back();
    ASSERT_TRUE(std::regex_match(line, m, kPort)) << line;
    const int port = std::stoi(m[1]) * 256 + std::stoi(m[2]);
    ASSERT_GE(port, 20000) << "after " << previous;
    ASSERT_LE(port, 65535) << "after " << previous;
    if (first < 0) {
      first = port;
      ASSERT_LE(first, 40001);
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
  ftp.CloseConnection();
}

}  // namespace
}  // namespace pellan

// A host may start another operation from inside any of the control's four
// events and see it finish, on either event loop.
#include <functional>

#include "scripted_session.h"

namespace pellan::test {
namespace {

TEST_F(ScriptedSession, AnOperationStartedFromAnEventHandlerCompletes) {
  ASSERT_TRUE(LoginOk());
  m_server.AnswerByDefault();
  m_server.SetFile("/f.txt", "data");
  TempDir local;
  std::string nested;
  bool armed = false;
  auto nestedPwd = [&] {
    if (!armed || m_ftp->Busy()) return;
    armed = false;
    nested = m_ftp->GetCurrentDirectory();
  };
  const auto cwd = [&] { return m_ftp->SetCurrentDirectory("/sub"); };
  struct Case {
    const char* handler;
    std::function<void()> attach;
    std::function<bool()> outer;
    bool outerResult;
  };
  const Case cases[] = {
      {"OnStateChange",
       [&] { m_ftp->OnStateChange = [&](long s) { s == kFtpReady ? nestedPwd() : void(); }; }, cwd, true},
      {"ServerMessage",
       [&] { m_ftp->ServerMessage = [&](auto& m, long) { m.rfind("250", 0) ? void() : nestedPwd(); }; }, cwd,
       true},
      {"OnError", [&] { m_ftp->OnError = nestedPwd; }, [&] { return m_ftp->DeleteFile("/missing"); }, false},
      {"OnTransfer", [&] { m_ftp->OnTransfer = nestedPwd; },
       [&] { return Download(*m_ftp, "/f.txt", local.File("f.txt")); }, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.handler);
    m_ftp->OnStateChange = nullptr;
    m_ftp->ServerMessage = nullptr;
    m_ftp->OnError = nullptr;
    m_ftp->OnTransfer = nullptr;
    c.attach();
    nested.clear();
    armed = true;
    const Duration start = m_loop.Clock()->Elapsed();
    EXPECT_EQ(c.outer(), c.outerResult);
    EXPECT_EQ(nested, "/");  // the handler ran, and its operation finished
    EXPECT_LT(m_loop.Clock()->Elapsed() - start, std::chrono::seconds(5)) << "the nested operation waited for a time-out";
  }
}

}  // namespace
}  // namespace pellan::test

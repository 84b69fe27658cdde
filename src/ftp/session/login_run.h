// One connect and log-in: its attempts at the socket and how far the log-in
// has come. It lives as long as the Connect call that made it.
#pragma once

namespace pellan {

class LoginRun {
 public:
  enum class Step {
    kConnecting,  // the control socket is opening
    kGreeting,    // connected: the server speaks first
    kUserSent,
    kPassSent,
    kLoggedIn,
    kFailed,
  };

  LoginRun() = default;
  ~LoginRun();
  LoginRun(const LoginRun&) = delete;
  LoginRun& operator=(const LoginRun&) = delete;

  Step CurrentStep() const { return m_step; }
  // The one way from step to step; each change goes to the engine log when
  // the log is verbose.
  void MoveTo(Step next);

  int failedSockets = 0;  // attempts whose socket failed (refused, reset)

 private:
  Step m_step = Step::kConnecting;
};

}  // namespace pellan

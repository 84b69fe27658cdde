#include "ftp/session/login_run.h"

#include "support/error_record.h"

namespace pellan {

namespace {

const char* StepName(LoginRun::Step step) {
  switch (step) {
    case LoginRun::Step::kConnecting:
      return "connecting";
    case LoginRun::Step::kGreeting:
      return "greeting";
    case LoginRun::Step::kUserSent:
      return "user sent";
    case LoginRun::Step::kPassSent:
      return "password sent";
    case LoginRun::Step::kLoggedIn:
      return "logged in";
    case LoginRun::Step::kFailed:
      return "failed";
  }
  return "?";
}

}  // namespace

LoginRun::~LoginRun() {
  if (m_step != Step::kLoggedIn) MoveTo(Step::kFailed);
}

void LoginRun::MoveTo(Step next) {
  if (next == m_step) return;
  LogStep("Login", StepName(m_step), StepName(next));
  m_step = next;
}

}  // namespace pellan

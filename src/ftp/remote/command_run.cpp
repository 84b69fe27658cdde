#include "ftp/remote/command_run.h"

#include "support/error_record.h"

namespace pellan {

namespace {

const char* StepName(CommandRun::Step step) {
  switch (step) {
    case CommandRun::Step::kStarting: return "starting";
    case CommandRun::Step::kFirstSent: return "first command sent";
    case CommandRun::Step::kSecondSent: return "second command sent";
    case CommandRun::Step::kEnded: return "ended";
  }
  return "?";
}

}  // namespace

void CommandRun::Sent(const std::string& verb) {
  if (verb == first) MoveTo(Step::kFirstSent);
  else if (!second.empty() && verb == second) MoveTo(Step::kSecondSent);
}

void CommandRun::MoveTo(Step next) {
  if (next == m_step) return;
  LogStep("Command " + first, StepName(m_step), StepName(next));
  m_step = next;
}

}  // namespace pellan

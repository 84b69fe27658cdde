// One command operation under way (delete, rename, make or remove a folder,
// change or read the working directory, SIZE): its commands, the argument
// of its second command, and the size SIZE answered. It lives as long as
// the operation's call and goes with it.
#pragma once

#include <string>

namespace pellan {

class CommandRun {
 public:
  enum class Step {
    kStarting,
    kFirstSent,   // the operation's command (TYPE before SIZE, RNFR)
    kSecondSent,  // the command its first reply called for (SIZE, RNTO)
    kEnded,
  };

  CommandRun(std::string firstVerb, std::string secondVerb = "", std::string secondArgument = "")
      : first(std::move(firstVerb)), second(std::move(secondVerb)), nextArgument(std::move(secondArgument)) {}
  ~CommandRun() { MoveTo(Step::kEnded); }
  CommandRun(const CommandRun&) = delete;
  CommandRun& operator=(const CommandRun&) = delete;

  // A command went: the step it stands for, if it is one of this run's.
  void Sent(const std::string& verb);
  // The one way from step to step; logged when the engine log is verbose.
  void MoveTo(Step next);

  const std::string first, second;
  const std::string nextArgument;
  double size = -2;  // -1: the server has no such file; -2: not known

 private:
  Step m_step = Step::kStarting;
};

}  // namespace pellan

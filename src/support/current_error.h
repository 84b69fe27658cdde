// "The error being handled": the number and text of the failure that the
// code now running is dealing with. Whoever catches a failure (the socket
// layer with its Windows Sockets number, a file helper with errno, a handler
// that caught an exception) makes it current with a HandledError for as long
// as it reports it; the error record and the message lookup read it from
// here. When no error is being handled the number is 0 and the text "".
//
// The value belongs to the calling thread, and a HandledError puts back what
// was current before it when it goes, so a report made inside another
// report's handling never leaves a stale error behind.
#pragma once

#include <string>

namespace pellan {

struct CurrentErrorInfo {
  long number = 0;
  std::string description;
};

const CurrentErrorInfo& CurrentError();

class HandledError {
 public:
  HandledError(long number, std::string description);
  // errno `err` with the system's text for it.
  static HandledError FromErrno(int err);
  ~HandledError();
  HandledError(const HandledError&) = delete;
  HandledError& operator=(const HandledError&) = delete;

 private:
  CurrentErrorInfo m_previous;
};

// The system's text for errno `err` ("No such file or directory").
std::string ErrnoText(int err);

}  // namespace pellan

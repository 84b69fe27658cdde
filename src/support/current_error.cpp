#include "support/current_error.h"

#include <cstring>
#include <utility>

namespace pellan {

namespace {
thread_local CurrentErrorInfo t_current;
}  // namespace

const CurrentErrorInfo& CurrentError() { return t_current; }

HandledError::HandledError(long number, std::string description) : m_previous(std::move(t_current)) {
  t_current.number = number;
  t_current.description = std::move(description);
}

HandledError HandledError::FromErrno(int err) { return HandledError(err, ErrnoText(err)); }

HandledError::~HandledError() { t_current = std::move(m_previous); }

std::string ErrnoText(int err) {
  char buf[256];
  // The GNU strerror_r returns the text, which may or may not be in buf.
  return std::string(strerror_r(err, buf, sizeof buf));
}

}  // namespace pellan

// The delays between attempts at something that keeps failing (a file, a
// login): `first` after the first failure, doubled after each further one
// up to `cap`. A success forgets the failures.
#pragma once

#include <algorithm>
#include <string>

#include "platform/clock.h"

namespace pellan::client {

class Backoff {
 public:
  Backoff(Duration first, Duration cap) : m_first(first), m_cap(std::max(first, cap)) {}

  // Whether the next attempt may be made now.
  bool Due() const { return m_delay == Duration::zero() || CurrentClock().Now() >= m_next; }
  // Records a failure now; true when the delay before the next attempt
  // changed (worth a log line).
  bool Failed() {
    const Duration before = m_delay;
    m_delay = m_delay == Duration::zero() ? m_first : std::min(m_delay * 2, m_cap);
    m_next = CurrentClock().Now() + m_delay;
    return m_delay != before;
  }
  void Succeeded() { m_delay = Duration::zero(); }
  Duration Delay() const { return m_delay; }
  // "N s", for the logs.
  std::string DelayText() const {
    return std::to_string(std::chrono::duration_cast<std::chrono::seconds>(m_delay).count()) + " s";
  }

 private:
  Duration m_first, m_cap;
  Duration m_delay = Duration::zero();
  MonoTime m_next{};
};

}  // namespace pellan::client

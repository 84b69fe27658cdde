// Telling a service manager (systemd) how the client is: "READY=1" once it
// has started, "STATUS=" with each new status message, and, when the
// manager watches it (WATCHDOG_USEC), "WATCHDOG=1" from the event loop at
// half that interval, so a loop that stops turning gets the process
// restarted. The messages are datagrams to the socket NOTIFY_SOCKET names
// (a path, or "@" and an abstract name); without it nothing is sent.
#pragma once

#include <chrono>
#include <string>

#include "platform/event_loop.h"

namespace pellan::client {

class ServiceNotifier {
 public:
  // From NOTIFY_SOCKET, WATCHDOG_USEC and WATCHDOG_PID of this process.
  ServiceNotifier();
  ~ServiceNotifier();
  ServiceNotifier(const ServiceNotifier&) = delete;
  ServiceNotifier& operator=(const ServiceNotifier&) = delete;

  bool Enabled() const { return m_fd >= 0; }
  // READY=1, and the watchdog starts when one is asked for.
  void Ready();
  // STATUS=text (line ends become blanks), when it differs from the last.
  void Status(const std::string& text);
  void Stopping() { Send("STOPPING=1"); }
  // The watchdog's interval as the manager asked it (zero: none).
  std::chrono::microseconds WatchdogInterval() const { return m_watchdog; }

 private:
  bool Send(const std::string& message);

  int m_fd = -1;
  std::string m_address;  // sun_path bytes; a leading NUL for an abstract name
  std::chrono::microseconds m_watchdog{0};
  std::string m_lastStatus;
  LoopTimer m_watchdogTimer;
};

}  // namespace pellan::client

#include "gui/desktop_host.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QApplication>
#include <QSystemTrayIcon>

#include <cstdlib>
#include <cstring>

#include "gui/main_form_view.h"
#include "gui/qt_front_end.h"
#include "platform/event_loop.h"
#include "platform/qt_event_loop.h"

namespace pellan::gui {

namespace {

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v != nullptr ? v : "";
}

// Connects to a local X server's socket (a path, or an abstract name when
// `abstract`).
bool XSocketAnswers(const std::string& path, bool abstract) {
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  const size_t offset = abstract ? 1 : 0;
  if (path.size() + offset >= sizeof addr.sun_path) {
    close(fd);
    return false;
  }
  std::memcpy(addr.sun_path + offset, path.data(), path.size());
  const socklen_t len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + offset + path.size() + (abstract ? 0 : 1));
  const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&addr), len) == 0;
  close(fd);
  return ok;
}

}  // namespace

bool DisplayAvailable() {
  if (!Env("QT_QPA_PLATFORM").empty() || !Env("WAYLAND_DISPLAY").empty()) return true;
  const std::string display = Env("DISPLAY");
  if (display.empty()) return false;
  // ":N", ":N.S" or "unix:N" is this machine's server N; "host:N" is left
  // to Qt; without a ":" it is no display name at all.
  std::string number;
  if (display[0] == ':') {
    number = display.substr(1);
  } else if (display.rfind("unix:", 0) == 0) {
    number = display.substr(5);
  } else {
    return display.find(':') != std::string::npos;
  }
  number = number.substr(0, number.find('.'));
  if (number.empty() || number.find_first_not_of("0123456789") != std::string::npos) return false;
  const std::string path = "/tmp/.X11-unix/X" + number;
  return XSocketAnswers(path, false) || XSocketAnswers(path, true);
}

QtDesktopHost::QtDesktopHost() = default;

QtDesktopHost::~QtDesktopHost() {
  SetFrontEnd(nullptr);
  m_view.reset();
  m_frontEnd.reset();
  if (m_loop && &CurrentLoop() == m_loop.get()) SetCurrentLoop(nullptr);
  m_loop.reset();
  m_app.reset();
}

void QtDesktopHost::Prepare(int& argc, char** argv) {
  m_args.assign(argv, argv + argc);
  for (auto& a : m_args) m_argv.push_back(a.data());
  m_argv.push_back(nullptr);
  m_argc = argc;
  m_app = std::make_unique<QApplication>(m_argc, m_argv.data());
  QApplication::setApplicationDisplayName("Pellan");
  // Closing the last window (a message box while the main one is hidden)
  // must not end the program's loops.
  QApplication::setQuitOnLastWindowClosed(false);
  m_loop = std::make_unique<QtEventLoop>();
  SetCurrentLoop(m_loop.get());
}

void QtDesktopHost::Attach(client::frmTLVFTP& form) {
  m_view = std::make_unique<MainFormView>(form, QSystemTrayIcon::isSystemTrayAvailable());
  const std::string trace = Env("PELLAN_WINDOW_TRACE");
  if (!trace.empty()) m_view->TraceInto(QString::fromStdString(trace));
  m_frontEnd = std::make_unique<QtFrontEnd>(form.Model(), m_view.get());
  SetFrontEnd(m_frontEnd.get());
}

}  // namespace pellan::gui

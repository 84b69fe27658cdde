// The sync client's desktop: a Qt application whose event loop is the
// process's loop, the window and tray icon over the main window's model,
// and Qt's message boxes and file dialogs as the platform's front end.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "client/startup.h"

class QApplication;

namespace pellan {
class QtEventLoop;
}

namespace pellan::gui {

class MainFormView;
class QtFrontEnd;

// Whether a window can be drawn: a platform named in QT_QPA_PLATFORM, a
// Wayland display, or an X display that answers (a local one is tried, so
// that a stale DISPLAY falls back to headless instead of aborting).
bool DisplayAvailable();

class QtDesktopHost final : public client::DesktopHost {
 public:
  QtDesktopHost();
  ~QtDesktopHost() override;
  QtDesktopHost(const QtDesktopHost&) = delete;
  QtDesktopHost& operator=(const QtDesktopHost&) = delete;

  bool Available() override { return DisplayAvailable(); }
  void Prepare(int& argc, char** argv) override;
  void Attach(client::frmTLVFTP& form) override;

  MainFormView* View() const { return m_view.get(); }

 private:
  // Qt keeps a reference to the argument count for the application's life.
  int m_argc = 0;
  std::vector<std::string> m_args;
  std::vector<char*> m_argv;
  std::unique_ptr<QApplication> m_app;
  std::unique_ptr<QtEventLoop> m_loop;
  std::unique_ptr<QtFrontEnd> m_frontEnd;
  std::unique_ptr<MainFormView> m_view;
};

}  // namespace pellan::gui

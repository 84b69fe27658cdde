// The platform's front-end hooks on Qt: message boxes and the file dialogs
// are modal Qt dialogs (their nested loop keeps the sockets and timers of
// the event loop going), and the main window's placement goes through the
// window's model, which the desktop window follows.
#pragma once

#include <QString>

#include <string>

#include "client/window_model.h"
#include "platform/front_end.h"

class QWidget;

namespace pellan::gui {

// A filter text as the engine's callers write it ("*.txt", "*.txt;*.xls",
// or "Text files|*.txt|All files|*.*") as a Qt name filter list; "*.*"
// becomes "*" so that names without a point are offered too.
QString QtNameFilters(const std::string& filter);

class QtFrontEnd : public FrontEnd {
 public:
  QtFrontEnd(client::WindowModel& model, QWidget* window) : m_model(model), m_window(window) {}

  int MessageBox(const std::string& text, const std::string& caption, int style) override;
  void ShowMainWindow() override { m_model.ShowAndRestore(); }
  void HideMainWindow() override { m_model.HideWindow(); }
  void RestoreMainWindow() override { m_model.ShowAndRestore(); }
  void SetMainWindowOnTop(bool onTop) override { m_model.SetOnTop(onTop); }
  bool ShowWindowOnTop(const std::string& title) override;
  std::string BrowseFolder(const std::string& title) override;
  std::string SaveFileDialog(const std::string& title, const std::string& defaultName,
                             const std::string& filter) override;
  // Several chosen files come back as one text: their full paths, one a line.
  std::string OpenFileDialog(const std::string& title, const std::string& filter, bool multiSelect) override;

 private:
  // The parent of a dialog: the window while it is shown.
  QWidget* DialogParent() const;

  client::WindowModel& m_model;
  QWidget* m_window;
};

}  // namespace pellan::gui

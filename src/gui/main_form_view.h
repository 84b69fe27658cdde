// The desktop window of the sync client and its tray icon: draws what the
// main window's model says (captions, the status lines, the login and close
// controls, shown or hidden, minimised, kept on top, the tray icon and its
// tip) and turns clicks into the form's click handlers. It holds no state of
// its own beyond what Qt needs; the client's logic never sees it.
#pragma once

#include <QHash>
#include <QLabel>
#include <QWidget>

#include <functional>
#include <memory>
#include <string>

#include "client/main_window.h"

class QSystemTrayIcon;

namespace pellan::gui {

// A label that reports a left click (press and release inside it).
class ClickLabel : public QLabel {
  Q_OBJECT
 public:
  explicit ClickLabel(QWidget* parent = nullptr) : QLabel(parent) {}
  std::function<void()> onClick;

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  bool m_pressed = false;
};

class MainFormView : public QWidget {
  Q_OBJECT
 public:
  // `trayAvailable`: whether the desktop has a notification area (without
  // one the client works the same, only without the icon).
  MainFormView(client::frmTLVFTP& form, bool trayAvailable);
  ~MainFormView() override;

  // Writes every change of the window's state as a line of `folder`/trace.txt
  // and a picture of the window as `folder`/shot-N.png at each new status
  // line (a diagnostic for runs without anyone watching the screen).
  void TraceInto(const QString& folder);

  ClickLabel* Control(const std::string& name) const;

  // The tray icon's clicks, as the notification area reports them.
  void TrayClicked(bool leftButton);

 protected:
  void closeEvent(QCloseEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void ModelChanged(const std::string& what);
  void SyncWindow();
  void SyncTray();
  void SyncCloseColour();
  void Trace(const QString& line);
  void Shot();

  client::frmTLVFTP& m_form;
  client::WindowModel& m_model;
  ClickLabel* m_imgLogo;
  ClickLabel* m_lblState;
  ClickLabel* m_lblCurState;
  ClickLabel* m_imgLogin;
  ClickLabel* m_lblLogin;
  ClickLabel* m_imgClose;
  ClickLabel* m_lblClose;
  QSystemTrayIcon* m_tray = nullptr;
  bool m_onTop = false;
  int m_frontRequests = 0;
  bool m_syncing = false;  // our own show/hide must not be read back as the user's
  QString m_traceFolder;
  QHash<QString, QString> m_lastTraced;
  int m_shots = 0;
};

}  // namespace pellan::gui

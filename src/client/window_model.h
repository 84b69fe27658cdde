// What the main window shows, independent of any toolkit: the texts, the
// enabled and visible flags of its controls, the colour of the close label,
// whether the window is shown, minimised or kept on top, and the tray icon.
// The client's logic changes only this model; a front end (the headless one
// today, a desktop window later) observes it and draws what it says.
//
// Controls are known by their names in the form: "lblState", "lblCurState",
// "lblLogin", "imgLogin", "lblClose", "imgClose", "imgLogo" (the visible
// ones), and the settings area that stays hidden for the whole run:
// "txtServerName", "txtPort", "txtUserName", "txtPassWord", "txtRemotePath",
// "txtLocalPath", their caption labels "lblServerName", "lblPort",
// "lblUserName", "lblPassWord", "lblRemotePath", "lblLocalPath", the folder
// list "lstFolders", the buttons "btnStart", "btnExit", "btnAddPath",
// "btnDeletePath" and the frames "Frame1" to "Frame5".
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace pellan::client {

// The close label's text colours: dark red while exit is allowed, the
// system's 3-D highlight colour while it is not.
enum class CloseColour { kExitAllowed, kExitBlocked };

struct Control {
  std::string text;
  bool enabled = true;
  bool visible = true;
};

class WindowModel {
 public:
  // What changed: a control's name, or "caption", "window" (shown,
  // minimised, on top), "tray", "focus", "lblClose.colour", "layout".
  using Observer = std::function<void(const std::string& what)>;

  WindowModel();

  // Observers are called after every change, in the order they were added.
  void Observe(Observer observer) { m_observers.push_back(std::move(observer)); }

  const Control& Get(const std::string& name) const { return m_controls.at(name); }
  const std::string& Text(const std::string& name) const { return Get(name).text; }
  bool Enabled(const std::string& name) const { return Get(name).enabled; }
  void SetText(const std::string& name, const std::string& text);
  void SetEnabled(const std::string& name, bool enabled);
  void SetVisible(const std::string& name, bool visible);

  // The settings area: every control of it except btnStart and btnExit
  // (fields, their captions, the folder list, the add and delete buttons,
  // the frames).
  static const std::vector<std::string>& SettingsInputs();

  const std::string& Caption() const { return m_caption; }
  void SetCaption(const std::string& caption);

  CloseColour CloseLabelColour() const { return m_closeColour; }
  void SetCloseLabelColour(CloseColour colour);

  bool WindowShown() const { return m_shown; }
  bool Minimised() const { return m_minimised; }
  bool OnTop() const { return m_onTop; }
  void HideWindow();
  // Shows the window in its normal size (also from the minimised state).
  void ShowAndRestore();
  void SetMinimised(bool minimised);  // the front end reports it
  void SetOnTop(bool onTop);
  // How many times the front end was asked to bring the window to the front.
  int FrontRequests() const { return m_frontRequests; }
  void BringToFront();

  bool TrayIcon() const { return m_trayIcon; }
  const std::string& TrayTip() const { return m_trayTip; }
  void AddTrayIcon();
  // The tip holds at most 63 characters: 64 with the NUL that ends it.
  void SetTrayTip(const std::string& text);
  void RemoveTrayIcon();

  const std::string& Focus() const { return m_focus; }
  void SetFocus(const std::string& name);

  // Asks the front end to arrange the visible controls again.
  void RefreshLayout() { Notify("layout"); }

 private:
  void Notify(const std::string& what);

  std::map<std::string, Control> m_controls;
  std::vector<Observer> m_observers;
  std::string m_caption;
  CloseColour m_closeColour = CloseColour::kExitAllowed;
  bool m_shown = false;
  bool m_minimised = false;
  bool m_onTop = false;
  int m_frontRequests = 0;
  bool m_trayIcon = false;
  std::string m_trayTip;
  std::string m_focus;
};

}  // namespace pellan::client

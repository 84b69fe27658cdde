#include "client/window_model.h"

#include "platform/code_page.h"

namespace pellan::client {

namespace {

const std::vector<std::string> kVisibleControls = {"imgLogo",  "lblState", "lblCurState", "lblLogin",
                                                   "imgLogin", "lblClose", "imgClose"};
const std::vector<std::string> kSettingsInputs = {
    "txtServerName", "txtPort",      "txtUserName",   "txtPassWord",   "txtRemotePath", "txtLocalPath",
    "lblServerName", "lblPort",      "lblUserName",   "lblPassWord",   "lblRemotePath", "lblLocalPath",
    "lstFolders",    "btnAddPath",   "btnDeletePath", "Frame1",        "Frame2",        "Frame3",
    "Frame4",        "Frame5"};

}  // namespace

WindowModel::WindowModel() {
  for (const auto& name : kVisibleControls) m_controls[name] = Control{};
  for (const auto& name : kSettingsInputs) m_controls[name] = Control{};
  m_controls["btnStart"] = Control{"开启", true, true};
  m_controls["btnExit"] = Control{};
  m_controls["lblClose"].text = "关    闭";
}

void WindowModel::Notify(const std::string& what) {
  // An observer may add another; index rather than iterate.
  for (size_t i = 0; i < m_observers.size(); ++i) m_observers[i](what);
}

void WindowModel::SetText(const std::string& name, const std::string& text) {
  m_controls.at(name).text = text;
  Notify(name);
}

void WindowModel::SetEnabled(const std::string& name, bool enabled) {
  Control& c = m_controls.at(name);
  if (c.enabled == enabled) return;
  c.enabled = enabled;
  Notify(name);
}

void WindowModel::SetVisible(const std::string& name, bool visible) {
  Control& c = m_controls.at(name);
  if (c.visible == visible) return;
  c.visible = visible;
  Notify(name);
}

const std::vector<std::string>& WindowModel::SettingsInputs() { return kSettingsInputs; }

void WindowModel::SetCaption(const std::string& caption) {
  m_caption = caption;
  Notify("caption");
}

void WindowModel::SetCloseLabelColour(CloseColour colour) {
  if (m_closeColour == colour) return;
  m_closeColour = colour;
  Notify("lblClose.colour");
}

void WindowModel::HideWindow() {
  m_shown = false;
  Notify("window");
}

void WindowModel::ShowAndRestore() {
  m_shown = true;
  m_minimised = false;
  Notify("window");
}

void WindowModel::SetMinimised(bool minimised) {
  m_minimised = minimised;
  Notify("window");
}

void WindowModel::SetOnTop(bool onTop) {
  m_onTop = onTop;
  Notify("window");
}

void WindowModel::BringToFront() {
  ++m_frontRequests;
  Notify("window");
}

void WindowModel::AddTrayIcon() {
  m_trayIcon = true;
  Notify("tray");
}

void WindowModel::SetTrayTip(const std::string& text) {
  // Whole characters only: a cut inside a UTF-8 sequence would leave a
  // broken one behind.
  std::string tip;
  size_t characters = 0;
  for (size_t i = 0; i < text.size() && characters < 63;) {
    size_t len = Utf8SequenceLength(std::string_view(text).substr(i));
    if (len == 0) len = 1;
    tip.append(text, i, len);
    i += len;
    ++characters;
  }
  m_trayTip = tip;
  Notify("tray");
}

void WindowModel::RemoveTrayIcon() {
  if (!m_trayIcon) return;
  m_trayIcon = false;
  Notify("tray");
}

void WindowModel::SetFocus(const std::string& name) {
  m_focus = name;
  Notify("focus");
}

}  // namespace pellan::client

// What the engine and the client ask of a user interface: message boxes, the
// main window's placement, and the standard file dialogs. The desktop front
// end implements these; without a display the headless one answers (message
// boxes become one line on stderr and never block, window requests do
// nothing, dialogs return "").
#pragma once

#include <string>

namespace pellan {

// Message box styles and answers, as the program's callers give them.
enum MessageBoxStyle : int {
  kMbOkOnly = 0,
  kMbCritical = 16,
  kMbExclamation = 48,
  kMbInformation = 64,
};
enum MessageBoxAnswer : int { kMbAnswerOk = 1 };

class FrontEnd {
 public:
  virtual ~FrontEnd() = default;

  // Shows a modal message box; returns the button pressed.
  virtual int MessageBox(const std::string& text, const std::string& caption, int style) = 0;

  // The main window.
  virtual void ShowMainWindow() = 0;
  virtual void HideMainWindow() = 0;
  virtual void RestoreMainWindow() = 0;
  // Keeps the main window above all others (or lets it go back).
  virtual void SetMainWindowOnTop(bool onTop) = 0;
  // Finds a top-level window of this program by its exact title and keeps it
  // on top; false when there is none.
  virtual bool ShowWindowOnTop(const std::string& title) = 0;

  // Dialogs; "" when cancelled or when there is no desktop.
  virtual std::string BrowseFolder(const std::string& title) = 0;
  virtual std::string SaveFileDialog(const std::string& title, const std::string& defaultName,
                                     const std::string& filter) = 0;
  virtual std::string OpenFileDialog(const std::string& title, const std::string& filter,
                                     bool multiSelect) = 0;
};

class HeadlessFrontEnd : public FrontEnd {
 public:
  int MessageBox(const std::string& text, const std::string& caption, int style) override;
  void ShowMainWindow() override {}
  void HideMainWindow() override {}
  void RestoreMainWindow() override {}
  void SetMainWindowOnTop(bool) override {}
  bool ShowWindowOnTop(const std::string&) override { return false; }
  std::string BrowseFolder(const std::string&) override { return std::string(); }
  std::string SaveFileDialog(const std::string&, const std::string&, const std::string&) override {
    return std::string();
  }
  std::string OpenFileDialog(const std::string&, const std::string&, bool) override { return std::string(); }
};

// The process's front end (the headless one unless a host installs another).
FrontEnd& CurrentFrontEnd();
void SetFrontEnd(FrontEnd* frontEnd);  // nullptr: back to headless

}  // namespace pellan

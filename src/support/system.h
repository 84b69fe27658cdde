// Small operating-system queries the engine needs: pauses, the user's
// message language, the byte length of a text, and keeping a window on top.
// Stateless; any instance serves.
#pragma once

#include <string>

namespace pellan {

class CSystem {
 public:
  // Blocks for `ms` milliseconds, rounded to a whole number (halves to even),
  // through the process clock and without running the event loop. Negative
  // or not-a-number pauses do nothing.
  void Delay(double ms) const;

  // The user's message language: 0 English, 1 Simplified Chinese,
  // 2 Traditional Chinese, 3 Japanese.
  int GetUserLangID() const;

  // The same choice made from a Windows language identifier (2052 and 4100
  // give 1, 1028 and 3076 give 2, 1041 gives 3, anything else 0), for hosts
  // that are told the language as such a number.
  static int LanguageOfLangId(int langId);

  // Length in bytes of `text` in the process code page (a Chinese character
  // counts 2 in GBK, 3 in UTF-8).
  int StrLen(const std::string& text) const;

  // Keeps the program's main window above all others, or lets it go back.
  void SetWindowOnTop(bool onTop) const;

  // Finds this program's top-level window titled exactly `title` and keeps it
  // on top; false when there is none.
  bool ShowWindowOnTop(const std::string& title) const;
};

}  // namespace pellan

// Queries about the running program and its user: the program folder, the
// user's language, and whether a debugger is attached.
#pragma once

#include <string>

namespace pellan {

// The folder that holds the running executable, without a trailing "/"
// ("/" itself for the root). A host may name another one (the client's
// --home option); an empty text restores the executable's folder.
std::string ProgramFolder();
void SetProgramFolder(const std::string& folder);

// The user's message language from the locale variables (LC_ALL, then
// LC_MESSAGES, then LANG; the first that is set and not empty):
// 1 Simplified Chinese (zh_CN, zh_SG), 2 Traditional Chinese (zh_TW, zh_HK),
// 3 Japanese (ja), 0 anything else. Only the strings are read; the locales
// need not be installed.
int UserLanguageFromLocale();
// The same rule applied to one locale name such as "zh_CN.UTF-8".
int LanguageOfLocaleName(const std::string& name);

// True while a debugger is attached to the process (TracerPid in
// /proc/self/status is not 0). Any failure answers false.
bool RunningUnderDebugger();

}  // namespace pellan

#include "platform/system_info.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>

namespace pellan {

namespace {

std::string g_programFolderOverride;

std::string ParentOf(const std::string& path) {
  const auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

}  // namespace

std::string ProgramFolder() {
  if (!g_programFolderOverride.empty()) return g_programFolderOverride;
  char buf[4096];
  const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return ".";
  return ParentOf(std::string(buf, static_cast<size_t>(n)));
}

void SetProgramFolder(const std::string& folder) {
  std::string f = folder;
  while (f.size() > 1 && f.back() == '/') f.pop_back();
  g_programFolderOverride = f;
}

int LanguageOfLocaleName(const std::string& name) {
  // Language and territory only: "zh_CN.UTF-8@x" -> "zh_CN".
  const std::string base = name.substr(0, name.find_first_of(".@"));
  if (base == "zh_CN" || base == "zh_SG") return 1;
  if (base == "zh_TW" || base == "zh_HK") return 2;
  if (base == "ja" || base.rfind("ja_", 0) == 0) return 3;
  return 0;
}

int UserLanguageFromLocale() {
  for (const char* var : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(var);
    if (value && *value) return LanguageOfLocaleName(value);
  }
  return 0;
}

bool RunningUnderDebugger() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("TracerPid:", 0) == 0) {
      return std::strtol(line.c_str() + 10, nullptr, 10) != 0;
    }
  }
  return false;
}

}  // namespace pellan

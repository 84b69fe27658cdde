#include "support/text.h"

#include <cctype>
#include <cstdlib>

namespace pellan {

std::string TrimBlanks(const std::string& s) {
  const auto first = s.find_first_not_of(' ');
  if (first == std::string::npos) return std::string();
  return s.substr(first, s.find_last_not_of(' ') - first + 1);
}

bool HasWildcard(const std::string& text) { return text.find_first_of("*?") != std::string::npos; }

std::string LastPathPart(const std::string& path) {
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string ParentPath(const std::string& path) {
  const auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return std::string();
  return slash == 0 ? std::string("/") : path.substr(0, slash);
}

bool MatchesPattern(const std::string& name, const std::string& pattern) {
  size_t n = 0, p = 0, starP = std::string::npos, starN = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == name[n])) {
      ++n;
      ++p;
    } else if (p < pattern.size() && pattern[p] == '*') {
      starP = p++;
      starN = n;
    } else if (starP != std::string::npos) {
      p = starP + 1;
      n = ++starN;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

bool SplitBracketedHost(const std::string& text, std::string* host, long* port) {
  const std::string t = TrimBlanks(text);
  const size_t close = t.find(']');
  if (t.empty() || t[0] != '[' || close == std::string::npos) return false;
  const std::string rest = t.substr(close + 1);
  long value = 0;
  if (!rest.empty()) {
    if (rest[0] != ':' || rest.size() < 2 || rest.size() > 6) return false;
    for (size_t i = 1; i < rest.size(); ++i) {
      if (!std::isdigit(static_cast<unsigned char>(rest[i]))) return false;
      value = value * 10 + (rest[i] - '0');
    }
    if (value < 1 || value > 65535) return false;
  }
  *host = t.substr(1, close - 1);
  *port = value;
  return true;
}

double ParseRate(const std::string& text) {
  size_t digits = 0;
  while (digits < text.size() && (std::isdigit(static_cast<unsigned char>(text[digits])) || text[digits] == '.')) {
    ++digits;
  }
  double unit = 1;
  const std::string suffix = text.substr(digits);
  if (suffix == "k" || suffix == "K") unit = 1024;
  if (suffix == "m" || suffix == "M") unit = 1024.0 * 1024;
  if (suffix == "g" || suffix == "G") unit = 1024.0 * 1024 * 1024;
  if (digits == 0 || (unit == 1 && !suffix.empty())) return -1;
  char* end = nullptr;
  const std::string number = text.substr(0, digits);
  const double value = std::strtod(number.c_str(), &end);
  if (end != number.c_str() + number.size() || !(value > 0)) return -1;
  return value * unit;
}

}  // namespace pellan

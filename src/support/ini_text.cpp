#include "support/ini_text.h"

namespace pellan::ini {

namespace {

constexpr std::string_view kBlanks = " \t\r";

std::string_view TrimBlanks(std::string_view s) {
  const auto first = s.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return std::string_view();
  return s.substr(first, s.find_last_not_of(kBlanks) - first + 1);
}

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x + 32);
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y + 32);
    if (x != y) return false;
  }
  return true;
}

struct Line {
  size_t begin;       // first byte
  size_t contentEnd;  // before the line end (LF, or CR LF)
  size_t end;         // after the line end
};

std::vector<Line> SplitLines(std::string_view text) {
  std::vector<Line> lines;
  size_t begin = 0;
  while (begin < text.size()) {
    const auto lf = text.find('\n', begin);
    if (lf == std::string_view::npos) {
      lines.push_back({begin, text.size(), text.size()});
      break;
    }
    const size_t contentEnd = (lf > begin && text[lf - 1] == '\r') ? lf - 1 : lf;
    lines.push_back({begin, contentEnd, lf + 1});
    begin = lf + 1;
  }
  return lines;
}

enum class Kind { kOther, kSection, kKey };

struct Parsed {
  Kind kind = Kind::kOther;
  std::string_view name;
  std::string_view value;
};

Parsed Parse(std::string_view text, const Line& line) {
  const std::string_view content = TrimBlanks(text.substr(line.begin, line.contentEnd - line.begin));
  Parsed p;
  if (content.empty() || content.front() == ';') return p;
  if (content.front() == '[') {
    std::string_view name = content.substr(1);
    const auto close = name.find(']');
    if (close != std::string_view::npos) name = name.substr(0, close);
    p.kind = Kind::kSection;
    p.name = TrimBlanks(name);
    return p;
  }
  const auto eq = content.find('=');
  if (eq == std::string_view::npos) return p;
  p.kind = Kind::kKey;
  p.name = TrimBlanks(content.substr(0, eq));
  p.value = TrimBlanks(content.substr(eq + 1));
  return p;
}

std::string_view Unquote(std::string_view v) {
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
    return v.substr(1, v.size() - 2);
  }
  return v;
}

// Index of the first line of the first section named `section`, or lines.size().
size_t FindSection(std::string_view text, const std::vector<Line>& lines, std::string_view section) {
  for (size_t i = 0; i < lines.size(); ++i) {
    const Parsed p = Parse(text, lines[i]);
    if (p.kind == Kind::kSection && SameName(p.name, section)) return i;
  }
  return lines.size();
}

}  // namespace

std::optional<std::string> FindValue(std::string_view text, std::string_view section, std::string_view key) {
  section = TrimBlanks(section);
  key = TrimBlanks(key);
  const auto lines = SplitLines(text);
  for (size_t i = FindSection(text, lines, section) + 1; i < lines.size(); ++i) {
    const Parsed p = Parse(text, lines[i]);
    if (p.kind == Kind::kSection) break;
    if (p.kind == Kind::kKey && SameName(p.name, key)) return std::string(Unquote(p.value));
  }
  return std::nullopt;
}

bool CanWrite(std::string_view section, std::string_view key, std::string_view value) {
  using namespace std::string_view_literals;
  constexpr auto kLineBreaks = "\r\n\0"sv;
  if (section.find_first_of(kLineBreaks) != std::string_view::npos || section.find(']') != std::string_view::npos) {
    return false;
  }
  if (key.find_first_of(kLineBreaks) != std::string_view::npos || key.find('=') != std::string_view::npos) return false;
  const std::string_view trimmedKey = TrimBlanks(key);
  if (!trimmedKey.empty() && (trimmedKey.front() == ';' || trimmedKey.front() == '[')) return false;
  return value.find_first_of(kLineBreaks) == std::string_view::npos;
}

std::string SetValue(std::string_view text, std::string_view section, std::string_view key,
                     std::string_view value) {
  section = TrimBlanks(section);
  key = TrimBlanks(key);
  const auto lines = SplitLines(text);
  const size_t header = FindSection(text, lines, section);
  std::string out;
  if (header == lines.size()) {
    out.assign(text);
    if (!out.empty() && out.back() != '\n') out += "\r\n";
    out.append("[").append(section).append("]\r\n");
    out.append(key).append("=").append(value).append("\r\n");
    return out;
  }
  size_t lastFilled = header;  // the new key goes after this line
  for (size_t i = header + 1; i < lines.size(); ++i) {
    const Parsed p = Parse(text, lines[i]);
    if (p.kind == Kind::kSection) break;
    if (p.kind == Kind::kKey && SameName(p.name, key)) {
      // Rewrite this line, keeping the key's own spelling and its line end.
      out.assign(text.substr(0, lines[i].begin));
      out.append(p.name).append("=").append(value);
      out.append(text.substr(lines[i].contentEnd));
      return out;
    }
    if (!TrimBlanks(text.substr(lines[i].begin, lines[i].contentEnd - lines[i].begin)).empty()) lastFilled = i;
  }
  const Line& after = lines[lastFilled];
  out.assign(text.substr(0, after.end));
  if (after.end == after.contentEnd) out += "\r\n";  // the file's last line had no line end
  out.append(key).append("=").append(value).append("\r\n");
  out.append(text.substr(after.end));
  return out;
}

bool ExistSection(std::string_view text, std::string_view section) {
  std::string header;
  header.append("[").append(section).append("]\r\n");
  return text.find(header) != std::string_view::npos;
}

std::vector<std::string> SectionNames(std::string_view text) {
  std::vector<std::string> names;
  size_t from = 0;
  while (true) {
    const auto open = text.find('[', from);
    if (open == std::string_view::npos) break;
    const auto close = text.find(']', open + 1);
    if (close == std::string_view::npos) break;
    if (text.substr(close + 1, 2) == "\r\n") names.emplace_back(text.substr(open + 1, close - open - 1));
    from = close + 1;
  }
  return names;
}

std::optional<std::string> DeleteSection(std::string_view text, std::string_view section) {
  if (section.empty() || text.empty()) return std::nullopt;
  std::string header;
  header.append("[").append(section).append("]");
  const auto at = text.find(header + "\r\n");
  if (at == std::string_view::npos) return std::nullopt;
  std::string before(text.substr(0, at));
  // The search starts at the header's own line end, so that an empty section
  // directly followed by the next one takes only itself away.
  const auto next = text.find("\r\n[", at + header.size());
  if (next != std::string_view::npos) return before + std::string(text.substr(next + 2));
  while (before.size() >= 2 && before.compare(before.size() - 2, 2, "\r\n") == 0) before.resize(before.size() - 2);
  return before;
}

}  // namespace pellan::ini

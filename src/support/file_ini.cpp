// CFile: INI files.
#include <cerrno>

#include "platform/code_page.h"
#include "support/file.h"
#include "support/ini_text.h"

namespace pellan {

namespace {

// Program text -> bytes of at most `maxBytes` in `cp`, never cutting a
// character in two.
std::string FitBytes(const std::string& text, size_t maxBytes, CodePage cp) {
  std::string out;
  std::string_view rest(text);
  while (!rest.empty()) {
    size_t n = Utf8SequenceLength(rest);
    if (n == 0) n = 1;  // a byte that did not convert counts as itself
    const std::string bytes = EncodeText(rest.substr(0, n), cp);
    if (out.size() + bytes.size() > maxBytes) break;
    out += bytes;
    rest.remove_prefix(n);
  }
  return out;
}

}  // namespace

std::string CFile::IniRead(const std::string& filePath, const std::string& section, const std::string& key,
                           int size) const {
  if (size <= 1 || filePath.empty()) return std::string();
  std::string bytes;
  const int err = ReadBytes(filePath, bytes);
  if (err != 0) {
    if (err != ENOENT) Fail("IniRead", err);
    return std::string();
  }
  const CodePage cp = ProcessCodePage();
  auto value = ini::FindValue(bytes, EncodeText(section, cp), EncodeText(key, cp));
  if (!value) return std::string();
  const auto nul = value->find('\0');
  if (nul != std::string::npos) value->resize(nul);
  return DecodeText(FitBytes(DecodeText(*value, cp), static_cast<size_t>(size) - 1, cp), cp);
}

bool CFile::IniWrite(const std::string& filePath, const std::string& section, const std::string& key,
                     const std::string& value) const {
  if (filePath.empty()) return true;
  // A line end inside a name or value would add lines of its own to the file.
  if (!ini::CanWrite(section, key, value)) {
    Fail("IniWrite", EINVAL);
    return true;
  }
  std::string bytes;
  int err = ReadBytes(filePath, bytes);
  if (err == ENOENT) {
    bytes.clear();
    err = 0;
  }
  if (err == 0) {
    const CodePage cp = ProcessCodePage();
    err = WriteBytes(filePath, ini::SetValue(bytes, EncodeText(section, cp), EncodeText(key, cp), EncodeText(value, cp)),
                     true, false);
  }
  if (err != 0) Fail("IniWrite", err);
  return true;
}

bool CFile::IniDeleteSection(const std::string& filePath, const std::string& section) const {
  const std::string text = ReadJoinedLines(filePath, "IniDeleteSection", true);
  const auto remaining = ini::DeleteSection(text, section);
  if (remaining) WriteFile(filePath, *remaining, true);
  return true;
}

std::vector<std::string> CFile::IniReadSection(const std::string& filePath) const {
  return ini::SectionNames(ReadJoinedLines(filePath, "IniReadSection", true));
}

bool CFile::IniExistSection(const std::string& filePath, const std::string& section) const {
  return ini::ExistSection(ReadJoinedLines(filePath, "IniExistSection", true), section);
}

}  // namespace pellan

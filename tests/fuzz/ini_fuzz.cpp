// The INI rules on any file text: lookups and section texts never fail, and
// after a key is written it reads back as written (trimmed, one pair of
// quotes removed), whatever the file held before.
//
// Input: section NUL key NUL value NUL file text (missing parts are empty).
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "support/ini_text.h"

namespace {

std::string_view Next(std::string_view& rest) {
  const auto nul = rest.find('\0');
  const std::string_view part = rest.substr(0, nul);
  rest = nul == std::string_view::npos ? std::string_view() : rest.substr(nul + 1);
  return part;
}

std::string_view Expected(std::string_view v) {
  const auto first = v.find_first_not_of(" \t\r");
  if (first == std::string_view::npos) return std::string_view();
  v = v.substr(first, v.find_last_not_of(" \t\r") - first + 1);
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) v = v.substr(1, v.size() - 2);
  return v;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view rest(reinterpret_cast<const char*>(data), size);
  const std::string_view section = Next(rest), key = Next(rest), value = Next(rest);
  const std::string_view text = rest;

  (void)pellan::ini::FindValue(text, section, key);
  (void)pellan::ini::SectionNames(text);
  (void)pellan::ini::ExistSection(text, section);
  if (const auto rest2 = pellan::ini::DeleteSection(text, section)) {
    if (rest2->size() > text.size()) std::abort();
  }

  if (pellan::ini::CanWrite(section, key, value)) {
    const std::string written = pellan::ini::SetValue(text, section, key, value);
    const auto read = pellan::ini::FindValue(written, section, key);
    if (!read || *read != Expected(value)) std::abort();
  }
  return 0;
}

// INI texts without the file around them, so the rules can be tested and
// fuzzed on their own. CFile wraps these with the file reads and writes.
//
// Lookups and updates follow the private-profile rules: lines end at LF
// (a CR before it belongs to the line end); "[name]" starts a section (blanks
// around the line and the name do not count, the name ends at the first
// "]"); "name=value" is a key (blanks around both do not count; a value
// enclosed in one pair of double or single quotes loses them); lines
// starting with ";" and lines without "=" are not keys. Section and key
// names are compared without ASCII letter case; the first matching section,
// and in it the first matching key, wins.
//
// The section texts (ExistSection, SectionNames, DeleteSection) are plain
// case-sensitive text searches on the file's lines joined by CR LF, as the
// engine has always made them.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pellan::ini {

// The value of `key` in `section`; nullopt when the section or key is missing.
std::optional<std::string> FindValue(std::string_view text, std::string_view section, std::string_view key);

// True when `key` = `value` can be written into `section` without changing
// the file's structure: no CR, LF or NUL anywhere, no "]" in the section, no
// "=" in the key, and a key that does not start (after blanks) with ";" (a
// comment) or "[" (a section).
bool CanWrite(std::string_view section, std::string_view key, std::string_view value);

// `text` with `key` = `value` in `section`: an existing key line is
// rewritten in place, a new key goes after the section's last non-blank
// line, a new section goes at the end. New lines end with CR LF; everything
// else is kept byte for byte. Only for what CanWrite accepts.
std::string SetValue(std::string_view text, std::string_view section, std::string_view key,
                     std::string_view value);

// True when "[" + section + "]" + CR LF occurs in `text`.
bool ExistSection(std::string_view text, std::string_view section);

// Every name between a "[" and the next "]" that is followed by CR LF.
std::vector<std::string> SectionNames(std::string_view text);

// `text` without the section "[" + section + "]" + CR LF: up to the next
// CR LF + "[", or for the last section to the end, and then also without the
// CR LF pairs that ended the text before it. nullopt when `section` or
// `text` is empty or the header is not found (nothing to change).
std::optional<std::string> DeleteSection(std::string_view text, std::string_view section);

}  // namespace pellan::ini

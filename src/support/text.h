// Small text helpers shared by every layer.
#pragma once

#include <string>

namespace pellan {

// `s` without leading and trailing blanks (spaces only).
std::string TrimBlanks(const std::string& s);

// Whether `text` holds a "*" or "?".
bool HasWildcard(const std::string& text);
// The last part of a "/" path ("" after a trailing "/").
std::string LastPathPart(const std::string& path);
// Everything before the last "/" ("/" for a top-level path, "" without "/").
std::string ParentPath(const std::string& path);
// `*` any run of characters, `?` one character; letter case counts.
bool MatchesPattern(const std::string& name, const std::string& pattern);

}  // namespace pellan

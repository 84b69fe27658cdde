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

// A server written as an IPv6 literal in brackets, "[::1]" or "[::1]:2121":
// the address inside, and the port after it (0 when none is given). False,
// with nothing set, for any other text.
bool SplitBracketedHost(const std::string& text, std::string* host, long* port);

// A transfer rate in bytes a second: a number (a fraction allowed) with an
// optional k, M or G (1024, 1024², 1024³ bytes): "500k", "20M", "1.5M".
// -1 for anything else or for a rate that is not above 0.
double ParseRate(const std::string& text);

}  // namespace pellan

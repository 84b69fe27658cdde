// Reading FTP replies: pure functions over the text received on the control
// connection since the last command. No socket inside, so they are tested
// with tables of inputs.
#pragma once

#include <cstddef>
#include <string>

namespace pellan {

// A reply longer than this (all its lines together) fails the operation
// instead of growing memory without end.
constexpr size_t kMaxReplyBytes = 64 * 1024;

// The code of the last complete reply in `buffer`: whole lines only (ended
// by CR LF, or a bare LF), NULs removed and trailing blanks trimmed. A
// "ddd-" line opens a multi-line reply that only a line starting with the
// same code and a blank (or that bare code) ends; outside one, a "ddd "
// line (or a bare "ddd") is a reply. 0 while no final line has arrived.
int GetResponseCode(const std::string& buffer);

// The last line of `reply` before its final CR LF that is longer than 3
// characters (cut at its first NUL, trimmed); "" when there is none. It is
// the error text of a refused command: the server's own line, code included.
std::string GetResponseInfo(const std::string& reply);

// The directory between the first two double quotes of a 257 reply, with
// backslashes turned into slashes ("" when the reply has no two quotes).
// Returns false only when the reply is shorter than 7 characters.
bool ParseDirectoryReply(const std::string& reply, std::string* directory);

}  // namespace pellan

// Code page conversion. Text inside the program is UTF-8; files, command
// lines and listings are bytes in a code page (UTF-8 by default, GBK
// selectable). Bytes that do not convert are kept as they are, never dropped
// or replaced, so a name read from a server or a disk can always be written
// back unchanged.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace pellan {

enum class CodePage { kUtf8, kGbk };

// "UTF-8"/"UTF8" and "GBK"/"CP936"/"GB2312" (any letter case); nullopt otherwise.
std::optional<CodePage> ParseCodePage(std::string_view name);
const char* CodePageName(CodePage cp);

// Bytes in `cp` -> program text.
std::string DecodeText(std::string_view bytes, CodePage cp);
// Program text -> bytes in `cp`.
std::string EncodeText(std::string_view text, CodePage cp);

// The process's code page for local files, logs and the path file.
CodePage ProcessCodePage();
void SetProcessCodePage(CodePage cp);

// Length of a complete, well-formed UTF-8 sequence at the start of `s`
// (1 for ASCII), or 0 when `s` does not start with one.
size_t Utf8SequenceLength(std::string_view s);

}  // namespace pellan

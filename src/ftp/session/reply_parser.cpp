#include "ftp/session/reply_parser.h"
#include "support/text.h"

#include <vector>

namespace pellan {

namespace {

std::vector<std::string> SplitCrLf(const std::string& s) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    const size_t pos = s.find("\r\n", start);
    if (pos == std::string::npos) {
      parts.push_back(s.substr(start));
      return parts;
    }
    parts.push_back(s.substr(start, pos - start));
    start = pos + 2;
  }
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

int GetResponseCode(const std::string& buffer) {
  if (buffer.size() < 3) return 0;
  int code = 0;
  int open = 0;  // the code of a multi-line reply whose final line is still to come
  size_t start = 0;
  // Only whole lines count: a final line is read once its line end has
  // arrived, so a reply that comes byte by byte is never taken half-read.
  for (size_t end; (end = buffer.find('\n', start)) != std::string::npos; start = end + 1) {
    std::string line = buffer.substr(start, end - start);
    std::erase(line, '\0');
    std::erase(line, '\r');
    // Only trailing blanks go: a code counts at the very start of a line, so
    // a body line such as " 530 ..." never ends a reply.
    const auto last = line.find_last_not_of(' ');
    line.resize(last == std::string::npos ? 0 : last + 1);
    if (line.size() < 3 || !IsDigit(line[0]) || !IsDigit(line[1]) || !IsDigit(line[2])) continue;
    if (line.size() > 3 && line[3] != ' ' && line[3] != '-') continue;
    const int lineCode = (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0');
    if (open != 0) {
      // Inside a multi-line reply only its own code followed by a blank (or
      // a bare code, its blank trimmed) ends it.
      if (lineCode == open && (line.size() == 3 || line[3] == ' ')) {
        code = lineCode;
        open = 0;
      }
      continue;
    }
    if (line.size() > 3 && line[3] == '-') {
      open = lineCode;
      continue;
    }
    code = lineCode;
  }
  return code;
}

std::string GetResponseInfo(const std::string& reply) {
  std::vector<std::string> parts = SplitCrLf(reply);
  parts.pop_back();  // what follows the final CR LF
  std::string info;
  for (std::string& part : parts) {
    const auto nul = part.find('\0');
    if (nul != std::string::npos) part.resize(nul);
    if (part.size() > 3) info = TrimBlanks(part);
  }
  return info;
}

bool ParseDirectoryReply(const std::string& reply, std::string* directory) {
  directory->clear();
  if (reply.size() < 7) return false;
  const auto first = reply.find('"');
  if (first != std::string::npos) {
    const auto second = reply.find('"', first + 1);
    if (second != std::string::npos) {
      *directory = reply.substr(first + 1, second - first - 1);
      for (char& c : *directory) {
        if (c == '\\') c = '/';
      }
    }
  }
  return true;
}

}  // namespace pellan

#include "tools/tolvarftp/command_line.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "ftp/session/ftp_session.h"
#include "support/text.h"

namespace pellan::tool {

const char* const kUsage =
    "Usage: tolvarftp --host ADDRESS [options] -c \"VERB ARGS\" [-c ...]\n"
    "\n"
    "Runs FTP commands in order in one session and prints one line per result.\n"
    "\n"
    "Options:\n"
    "  --host ADDRESS        the server (a dotted address or a host name)\n"
    "  --port N              its port (default 21; 990 with --tls implicit)\n"
    "  --user NAME           the user name (blank: anonymous)\n"
    "  --password-file FILE  read the password from the first line of FILE;\n"
    "                        otherwise from the variable TOLVARFTP_PASSWORD\n"
    "  --timeout S           seconds to wait for a reply, 30..6000 (default 30)\n"
    "  --keepalive S         seconds of silence before a keep-alive, 0 = off (default 60)\n"
    "  --lang en|zh-CN|zh-TW|ja   language of error texts (default: from the locale)\n"
    "  --codepage NAME       code page of names on the server: UTF-8 (default) or GBK\n"
    "  --verbose             show every command and reply on stderr, and log each\n"
    "                        step of a transfer in the engine log\n"
    "  --active              active mode data connections (PORT) instead of passive\n"
    "  --json                ls prints its entries as a JSON array\n"
    "  --overwrite           get and put replace an existing target (default: a\n"
    "                        download resumes a shorter local file)\n"
    "  --temp-name           put stores each file as _NAME.part and renames it to\n"
    "                        NAME once the server has all of it\n"
    "  --retries N           try a failed file N more times, 0..99 (default 0)\n"
    "  --max-size MB         refuse files larger than MB megabytes\n"
    "  --tls MODE            FTP over TLS: require (AUTH TLS; the login and every\n"
    "                        data connection encrypted), implicit (TLS from the\n"
    "                        first byte, port 990), or off (plain FTP, default)\n"
    "  --tls-ca FILE         trust the certificates in FILE instead of the system's\n"
    "  --tls-pin sha256:HEX  accept exactly the certificate with this SHA-256\n"
    "  --limit-rate RATE     move at most RATE bytes a second (k, M, G: 1024,\n"
    "                        1024², 1024³; e.g. 500k, 20M), either way\n"
    "  --allow TYPES         transfer only these file types (\"txt,xls\")\n"
    "  --forbid TYPES        never transfer these file types\n"
    "  --ascii               ASCII transfers (TYPE A) instead of binary\n"
    "  -c \"VERB ARGS\"        a command; arguments are split as a shell splits words,\n"
    "                        so quote names with blanks: -c \"rm 'my file.txt'\"\n"
    "  --help                this text\n"
    "\n"
    "Commands:\n"
    "  pwd                   print the working directory\n"
    "  cd DIR                change the working directory\n"
    "  mkdir [-p] DIR        create a folder (-p: with its parents)\n"
    "  rmdir DIR             remove an empty folder\n"
    "  rm FILE               delete a file\n"
    "  mv OLD NEW            rename or move\n"
    "  size FILE             print the size in bytes\n"
    "  ls [PATH]             list a folder, a file or a pattern such as dir/R*: one\n"
    "                        line per entry (permissions, size, yyyy-mm-dd hh:mm,\n"
    "                        name, and -> target for a link)\n"
    "  exists-dir DIR        print yes or no\n"
    "  get REMOTE LOCAL      download; either side may be a \"|\"-separated list\n"
    "                        (matched item by item), a folder \"dir/\" (the whole\n"
    "                        tree) or a pattern \"dir/*.txt\"\n"
    "  put LOCAL REMOTE      upload, the same forms\n"
    "\n"
    "get and put show a progress line on stderr when it is a terminal; each\n"
    "finished file gives one line on stderr: \"got REMOTE -> LOCAL, N bytes (i/n)\"\n"
    "or \"put LOCAL -> REMOTE, N bytes (i/n)\", i/n its place in its folder's queue.\n"
    "\n"
    "Exit status 0 when every command succeeds; otherwise the failing command's\n"
    "\"error NUMBER: TEXT\" goes to stderr, later commands are not run, and the\n"
    "status is 1 (2 for a bad command line).\n";

std::optional<std::vector<std::string>> SplitWords(const std::string& text, std::string* error) {
  std::vector<std::string> words;
  std::string word;
  bool inWord = false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == ' ' || c == '\t' || c == '\n') {
      if (inWord) words.push_back(word);
      word.clear();
      inWord = false;
    } else if (c == '\'') {
      const size_t end = text.find('\'', i + 1);
      if (end == std::string::npos) {
        *error = "unterminated ' in: " + text;
        return std::nullopt;
      }
      word += text.substr(i + 1, end - i - 1);
      inWord = true;
      i = end;
    } else if (c == '"') {
      size_t j = i + 1;
      for (; j < text.size() && text[j] != '"'; ++j) {
        if (text[j] == '\\' && j + 1 < text.size() && std::strchr("$`\"\\\n", text[j + 1])) {
          if (text[++j] == '\n') continue;  // backslash-newline joins the lines
        }
        word += text[j];
      }
      if (j >= text.size()) {
        *error = "unterminated \" in: " + text;
        return std::nullopt;
      }
      inWord = true;
      i = j;
    } else if (c == '\\' && i + 1 < text.size()) {
      if (text[++i] == '\n') continue;  // backslash-newline joins the lines
      word += text[i];
      inWord = true;
    } else {
      word += c;
      inWord = true;
    }
  }
  if (inWord) words.push_back(word);
  return words;
}

bool CheckCommand(const std::vector<std::string>& words, std::string* error) {
  static const struct {
    const char* verb;
    size_t minArguments, maxArguments;
    const char* usage;
  } kCommands[] = {
      {"pwd", 0, 0, "pwd"},
      {"cd", 1, 1, "cd DIR"},
      {"mkdir", 1, 1, "mkdir [-p] DIR"},
      {"rmdir", 1, 1, "rmdir DIR"},
      {"rm", 1, 1, "rm FILE"},
      {"mv", 2, 2, "mv OLD NEW"},
      {"size", 1, 1, "size FILE"},
      {"ls", 0, 1, "ls [PATH]"},
      {"exists-dir", 1, 1, "exists-dir DIR"},
      {"get", 2, 2, "get REMOTE LOCAL"},
      {"put", 2, 2, "put LOCAL REMOTE"},
  };
  if (words.empty()) {
    *error = "-c needs a command";
    return false;
  }
  for (const auto& c : kCommands) {
    if (words[0] != c.verb) continue;
    size_t arguments = words.size() - 1;
    if (words[0] == "mkdir" && arguments >= 1 && words[1] == "-p") --arguments;
    if (arguments >= c.minArguments && arguments <= c.maxArguments) return true;
    *error = std::string("usage: ") + c.usage;
    return false;
  }
  *error = "unknown command '" + words[0] + "' (see --help)";
  return false;
}

namespace {

bool ParseNumber(const char* text, long* out) {
  char* end = nullptr;
  const long v = std::strtol(text, &end, 10);
  if (end == text || *end != '\0') return false;
  *out = v;
  return true;
}

bool ParseDecimal(const char* text, double* out) {
  char* end = nullptr;
  const double v = std::strtod(text, &end);
  if (end == text || *end != '\0' || !std::isfinite(v)) return false;
  *out = v;
  return true;
}

// A list of file types: extensions separated by "," ";" "." or blanks, an
// optional "*." before each ("*.txt; *.xls").
bool ValidTypeList(const std::string& text) {
  for (char c : text) {
    if (c != ',' && c != ';' && c != '.' && c != '*' && c != ' ') return true;
  }
  return false;
}

// The first line of a password file. Only a regular file, and only its
// first few KiB: a device or a FIFO named by mistake must neither hang the
// program nor fill memory, and a folder is no empty password.
bool ReadPasswordFile(const char* path, std::string* password, std::string* error) {
  constexpr size_t kMaxPasswordFileBytes = 4096;
  const int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) {
    *error = std::string("cannot read the password file ") + path;
    return false;
  }
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    *error = std::string("the password file ") + path + " is not a regular file";
    return false;
  }
  std::string text(kMaxPasswordFileBytes, '\0');
  size_t got = 0;
  while (got < text.size()) {
    const ssize_t n = read(fd, text.data() + got, text.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  close(fd);
  text.resize(got);
  const auto eol = text.find('\n');
  if (eol == std::string::npos && got == kMaxPasswordFileBytes) {
    *error = std::string("the first line of the password file ") + path + " is longer than 4 KiB";
    return false;
  }
  if (eol != std::string::npos) text.resize(eol);
  if (!text.empty() && text.back() == '\r') text.pop_back();
  *password = text;
  return true;
}

}  // namespace

std::optional<Options> ParseOptions(int argc, const char* const* argv, std::string* error) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&](const char* name) -> const char* {
      if (i + 1 >= argc) {
        *error = std::string(name) + " needs a value";
        return nullptr;
      }
      return argv[++i];
    };
    if (a == "--help" || a == "-h") {
      o.help = true;
    } else if (a == "--verbose" || a == "-v") {
      o.verbose = true;
    } else if (a == "--active") {
      o.active = true;
    } else if (a == "--json") {
      o.json = true;
    } else if (a == "--overwrite") {
      o.overwrite = true;
    } else if (a == "--temp-name") {
      o.tempName = true;
    } else if (a == "--ascii") {
      o.ascii = true;
    } else if (a == "--retries") {
      const char* v = value("--retries");
      if (!v) return std::nullopt;
      if (!ParseNumber(v, &o.retries) || o.retries < 0 || o.retries > 99) {
        *error = std::string("--retries needs a number 0..99, not '") + v + "'";
        return std::nullopt;
      }
    } else if (a == "--max-size") {
      const char* v = value("--max-size");
      if (!v) return std::nullopt;
      if (!ParseDecimal(v, &o.maxSizeMb) || o.maxSizeMb <= 0) {
        *error = std::string("--max-size needs a number of megabytes above 0, not '") + v + "'";
        return std::nullopt;
      }
    } else if (a == "--tls") {
      const char* v = value("--tls");
      if (!v) return std::nullopt;
      if ((o.tls = FtpSession::TlsModeNamed(v)) < 0) {
        *error = std::string("--tls takes require, implicit or off, not '") + v + "'";
        return std::nullopt;
      }
    } else if (a == "--tls-ca" || a == "--tls-pin") {
      const char* v = value(a.c_str());
      if (!v) return std::nullopt;
      (a == "--tls-ca" ? o.tlsCa : o.tlsPin) = v;
    } else if (a == "--limit-rate") {
      const char* v = value("--limit-rate");
      if (!v) return std::nullopt;
      if ((o.rateLimit = ParseRate(v)) <= 0) {
        *error = std::string("--limit-rate needs a rate such as 500k or 20M (bytes a second), not '") + v + "'";
        return std::nullopt;
      }
    } else if (a == "--allow" || a == "--forbid") {
      const char* v = value(a.c_str());
      if (!v) return std::nullopt;
      if (!ValidTypeList(v)) {
        *error = a + " needs file types such as \"txt,xls\"";
        return std::nullopt;
      }
      (a == "--allow" ? o.allowTypes : o.forbidTypes) = v;
    } else if (a == "--host") {
      const char* v = value("--host");
      if (!v) return std::nullopt;
      o.host = v;
    } else if (a == "--user") {
      const char* v = value("--user");
      if (!v) return std::nullopt;
      o.user = v;
    } else if (a == "--password-file") {
      const char* v = value("--password-file");
      if (!v) return std::nullopt;
      o.passwordFile = v;
      if (!ReadPasswordFile(v, &o.password, error)) return std::nullopt;
    } else if (a == "--codepage") {
      const char* v = value("--codepage");
      if (!v) return std::nullopt;
      o.codePage = v;
    } else if (a == "--port" || a == "--timeout" || a == "--keepalive") {
      const char* v = value(a.c_str());
      long n = 0;
      if (!v) return std::nullopt;
      if (!ParseNumber(v, &n)) {
        *error = a + " needs a number, not '" + v + "'";
        return std::nullopt;
      }
      if (a == "--port") {
        if (n < 1 || n > 65535) {
          *error = "--port must be 1..65535";
          return std::nullopt;
        }
        o.port = n;
      } else if (a == "--timeout") {
        o.timeout = n;
      } else {
        o.keepalive = n;
      }
    } else if (a == "--lang") {
      const char* v = value("--lang");
      if (!v) return std::nullopt;
      const std::string l = v;
      if (l == "en") o.language = 0;
      else if (l == "zh-CN") o.language = 1;
      else if (l == "zh-TW") o.language = 2;
      else if (l == "ja") o.language = 3;
      else {
        *error = "--lang takes en, zh-CN, zh-TW or ja";
        return std::nullopt;
      }
    } else if (a == "-c") {
      const char* v = value("-c");
      if (!v) return std::nullopt;
      auto words = SplitWords(v, error);
      if (!words || !CheckCommand(*words, error)) return std::nullopt;
      o.commands.push_back(*words);
    } else {
      *error = "unknown option '" + a + "' (see --help)";
      return std::nullopt;
    }
  }
  if (!o.help && o.host.empty()) {
    *error = "--host is required (see --help)";
    return std::nullopt;
  }
  return o;
}

}  // namespace pellan::tool

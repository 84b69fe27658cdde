// The tolvarftp command line: words split as a POSIX shell splits them (the
// table is checked against /bin/sh itself where the shell can take the text
// as it is), and the options with their refusals.
#include <cstdio>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tools/tolvarftp/command_line.h"

namespace pellan::tool {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using Words = std::vector<std::string>;

// What /bin/sh makes of `text` as the words of a command.
Words ShellWords(const std::string& text) {
  const std::string script = "set -- " + text + "\n[ $# -eq 0 ] || printf '%s\\0' \"$@\"";
  std::string quoted = "'";
  for (char c : script) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  quoted += "'";
  FILE* p = popen(("/bin/sh -c " + quoted).c_str(), "r");
  if (!p) return {"<popen failed>"};
  std::string out;
  char buf[256];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  pclose(p);
  Words words;
  size_t start = 0, nul;
  while ((nul = out.find('\0', start)) != std::string::npos) {
    words.push_back(out.substr(start, nul - start));
    start = nul + 1;
  }
  return words;
}

TEST(SplitWords, SplitsAsTheShellDoes) {
  const struct {
    const char* text;
    Words words;
  } rows[] = {
      {"pwd", {"pwd"}},
      {"  rm   'my file.txt'  ", {"rm", "my file.txt"}},
      {"mv a\\ b \"c d\"", {"mv", "a b", "c d"}},
      {"x \"a\\\"b\\\\c\\$d\\e\\`\"", {"x", "a\"b\\c$d\\e`"}},
      {"x '' \"\"", {"x", "", ""}},
      {"x a''b \"c\"'d'e", {"x", "ab", "cde"}},
      {"x 'it'\\''s' \"it's\"", {"x", "it's", "it's"}},
      {"x 'a\\b' \\'q", {"x", "a\\b", "'q"}},
      {"x a\\\nb \"c\\\nd\" 'e\\\nf'", {"x", "ab", "cd", "e\\\nf"}},  // backslash-newline joins lines
      {"x \\\n y", {"x", "y"}},
      {"x\ta", {"x", "a"}},
      {"", {}},
  };
  for (const auto& r : rows) {
    std::string error;
    const auto words = SplitWords(r.text, &error);
    ASSERT_TRUE(words.has_value()) << r.text << ": " << error;
    EXPECT_EQ(*words, r.words) << r.text;
    EXPECT_EQ(ShellWords(r.text), r.words) << "the table disagrees with /bin/sh on: " << r.text;
  }
  // A newline between words separates them (the shell would end the command
  // there instead).
  std::string error;
  EXPECT_THAT(*SplitWords("rm a\nb", &error), ElementsAre("rm", "a", "b"));
}

TEST(SplitWords, UnterminatedQuotesAreRefused) {
  for (const char* text : {"rm 'a", "rm \"a", "rm \"a\\\"", "rm 'a'\"b"}) {
    std::string error;
    EXPECT_FALSE(SplitWords(text, &error).has_value()) << text;
    EXPECT_THAT(error, HasSubstr("unterminated")) << text;
  }
}

std::optional<Options> Parse(std::vector<const char*> args, std::string* error) {
  args.insert(args.begin(), "tolvarftp");
  return ParseOptions(static_cast<int>(args.size()), args.data(), error);
}

TEST(ParseOptions, TakesEveryOptionAndKeepsCommandsInOrder) {
  std::string error;
  const auto o = Parse({"--host", "127.0.0.1", "--port", "2121", "--user", "u", "--password-file", "/p", "--timeout",
                        "90", "--keepalive", "0", "--lang", "zh-TW", "--codepage", "GBK", "--verbose", "-c", "pwd",
                        "-c", "rm 'my file.txt'", "-c", "mkdir -p a/b", "-c", "mkdir ./-p", "-c", "mv a 'b c'",
                        "-c", "cd ..", "-c", "rmdir x", "-c", "size f"},
                       &error);
  ASSERT_TRUE(o.has_value()) << error;
  EXPECT_EQ(o->host, "127.0.0.1");
  EXPECT_EQ(o->port, 2121);
  EXPECT_EQ(o->user, "u");
  EXPECT_EQ(o->passwordFile, "/p");
  EXPECT_EQ(o->timeout, 90);
  EXPECT_EQ(o->keepalive, 0);
  EXPECT_EQ(o->language, 2);
  EXPECT_EQ(o->codePage, "GBK");
  EXPECT_TRUE(o->verbose);
  EXPECT_THAT(o->commands, ElementsAre(Words{"pwd"}, Words{"rm", "my file.txt"}, Words{"mkdir", "-p", "a/b"},
                                       Words{"mkdir", "./-p"}, Words{"mv", "a", "b c"}, Words{"cd", ".."},
                                       Words{"rmdir", "x"}, Words{"size", "f"}));

  const auto help = Parse({"--help"}, &error);  // no host needed for help
  ASSERT_TRUE(help.has_value()) << error;
  EXPECT_TRUE(help->help);
}

TEST(ParseOptions, BadCommandLinesAreRefusedWithAReason) {
  const struct {
    std::vector<const char*> args;
    const char* reason;
  } rows[] = {
      {{"-c", "pwd"}, "--host is required"},
      {{"--host"}, "--host needs a value"},
      {{"--host", "h", "--port", "0"}, "--port must be 1..65535"},
      {{"--host", "h", "--port", "65536"}, "--port must be 1..65535"},
      {{"--host", "h", "--port", "21x"}, "--port needs a number"},
      {{"--host", "h", "--timeout", ""}, "--timeout needs a number"},
      {{"--host", "h", "--lang", "de"}, "--lang takes"},
      {{"--host", "h", "-c", "  "}, "-c needs a command"},
      {{"--host", "h", "-c", "rm 'a"}, "unterminated"},
      // Commands are checked before anything connects.
      {{"--host", "h", "-c", "fetch a.txt"}, "unknown command 'fetch'"},
      {{"--host", "h", "-c", "PWD"}, "unknown command 'PWD'"},
      {{"--host", "h", "-c", "pwd /"}, "usage: pwd"},
      {{"--host", "h", "-c", "mkdir -p"}, "usage: mkdir [-p] DIR"},
      {{"--host", "h", "-c", "mkdir a b"}, "usage: mkdir [-p] DIR"},
      {{"--host", "h", "-c", "mv a"}, "usage: mv OLD NEW"},
      {{"--host", "h", "-c", "rm 'a' b"}, "usage: rm FILE"},
      {{"--host", "h", "-c", "size"}, "usage: size FILE"},
      {{"--host", "h", "--bogus"}, "unknown option '--bogus'"},
      {{"--host", "h", "pwd"}, "unknown option 'pwd'"},
  };
  for (const auto& r : rows) {
    std::string error;
    EXPECT_FALSE(Parse(r.args, &error).has_value()) << r.reason;
    EXPECT_THAT(error, HasSubstr(r.reason));
  }
}

}  // namespace
}  // namespace pellan::tool

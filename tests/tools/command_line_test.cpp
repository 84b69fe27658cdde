// The tolvarftp command line: the options with their refusals.
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tools/tolvarftp/command_line.h"
#include "support/test_env.h"

namespace pellan::tool {
namespace {

using ::testing::HasSubstr;

std::optional<Options> Parse(std::vector<const char*> args, std::string* error) {
  args.insert(args.begin(), "tolvarftp");
  return ParseOptions(static_cast<int>(args.size()), args.data(), error);
}

// What the program's own tests never pass: the password file's first line
// only, --timeout, --keepalive, another language, a rate with a fraction.
TEST(ParseOptions, OptionsTheProgramsTestsDoNotPass) {
  std::string error;
  pellan::test::TempDir dir;
  ASSERT_TRUE(pellan::test::WriteWholeFile(dir.File("pw"), "secret\r\nnot this\n"));
  const std::string pw = dir.File("pw");
  const auto o = Parse({"--host", "h", "--password-file", pw.c_str(), "--timeout", "90", "--keepalive", "0",
                        "--lang", "zh-TW", "--limit-rate", "1.5M"},
                       &error);
  ASSERT_TRUE(o.has_value()) << error;
  EXPECT_EQ(o->password + " " + std::to_string(o->timeout) + " " + std::to_string(o->keepalive) + " " +
                std::to_string(o->language) + " " + std::to_string(o->rateLimit),
            "secret 90 0 2 1572864.000000");
}

TEST(ParseOptions, BadCommandLinesAreRefusedWithAReason) {
  const struct {
    std::vector<const char*> args;
    const char* reason;
  } rows[] = {
      {{"-c", "pwd"}, "--host is required"}, {{"--host"}, "--host needs a value"},
      // The rest after "--host h". Commands are checked before anything connects.
      {{"--port", "0"}, "--port must be 1..65535"}, {{"--port", "65536"}, "--port must be 1..65535"},
      {{"--port", "21x"}, "--port needs a number"},
      {{"--lang", "de"}, "--lang takes"}, {{"-c", "  "}, "-c needs a command"},
      {{"-c", "rm 'a"}, "unterminated"}, {{"-c", "fetch a.txt"}, "unknown command 'fetch'"},
      {{"-c", "pwd /"}, "usage: pwd"}, {{"-c", "mkdir -p"}, "usage: mkdir [-p] DIR"},
      {{"-c", "mv a"}, "usage: mv OLD NEW"}, {{"--bogus"}, "unknown option '--bogus'"},
      {{"--retries", "100"}, "--retries"}, {{"--max-size", "0"}, "--max-size"},
      {{"--max-size", "nan"}, "--max-size"}, {{"--allow", "*. ;"}, "--allow"},
      {{"--password-file", "/dev/zero"}, "not a regular file"}, {{"--limit-rate", "5x"}, "--limit-rate"},
  };
  for (const auto& r : rows) {
    std::vector<const char*> args = r.args;
    if (&r - rows > 1) args.insert(args.begin(), {"--host", "h"});
    std::string error;
    EXPECT_FALSE(Parse(args, &error).has_value()) << r.reason;
    EXPECT_THAT(error, HasSubstr(r.reason));
  }
}

}  // namespace
}  // namespace pellan::tool

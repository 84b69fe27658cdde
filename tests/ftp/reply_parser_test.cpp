#include <string>

#include <gtest/gtest.h>

#include "ftp/session/reply_parser.h"

namespace pellan {
namespace {

TEST(ReplyParser, CodeOfTheLastCompleteReply) {
  using namespace std::string_literals;
  const struct {
    std::string buffer;
    int code;
  } rows[] = {
      {"", 0}, {"22", 0}, {"220 ready\r\n", 220}, {"abc reply\r\n", 0}, {"2200 four digits\r\n", 0},
      {"220 ready", 0},                                    // the line has not ended yet
      {"220 ready\n", 220},                               // a bare LF ends a line too
      {"220-Welcome\r\n220-to the\r\n", 0},                // multi-line, final line still to come
      {"220-Welcome\r\n220-to the\r\n220 server\r\n", 220},
      {"220-Welcome\r\n220 \r\n", 220},                    // "220 " trims to a bare code: still final
      {"257 \"/\" is cwd\r\n200 Type set\r\n", 200},       // two replies in one chunk: the last counts
      {"2\0" "30 Login\0 ok\r\n"s, 230},                  // NULs are not there
      {"   331 Password\r\n", 0},                         // a code counts at the start of a line only
      {"220-Hello\r\n 530 is text\r\n530 so is this\r\n", 0},  // only "220 " ends this reply
      {"220-Hello\r\n 530 is text\r\n220-more\r\n220 ready\r\n", 220},
      {"150 Opening\r\n226-Options: -l\r\n", 150},        // a later reply not finished yet
      {"150 Opening\r\n226-Options: -l\r\n226 3 matches total\r\n", 226},
  };
  for (const auto& r : rows) EXPECT_EQ(GetResponseCode(r.buffer), r.code) << r.buffer;
}

}  // namespace
}  // namespace pellan

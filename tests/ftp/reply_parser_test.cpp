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

TEST(ReplyParser, InfoIsTheServersLastLineBeforeTheFinalCrLf) {
  EXPECT_EQ(GetResponseInfo("530 Login incorrect.\r\n"), "530 Login incorrect.");
  EXPECT_EQ(GetResponseInfo("550-No\r\n550 Such file\r\n"), "550 Such file");
  EXPECT_EQ(GetResponseInfo("550 Gone\r\nabc"), "550 Gone");  // text after the last CR LF is not a line yet
  EXPECT_EQ(GetResponseInfo("550 Gone\r\nok\r\n"), "550 Gone");  // lines of 3 characters or fewer do not count
  EXPECT_EQ(GetResponseInfo(std::string("550 Cut\0here\r\n", 14)), "550 Cut");
  EXPECT_EQ(GetResponseInfo("550 no line end"), "");
  EXPECT_EQ(GetResponseInfo(""), "");
}

TEST(ReplyParser, DirectoryBetweenTheFirstTwoQuotes) {
  // Each reply: whether it was taken, and the directory. "no quotes" is long
  // enough but names none; "" is shorter than 7.
  std::string got, dir;
  for (const char* reply : {"257 \"/home/ftp\" is the current directory\r\n", "257 \"C:\\data\\in\"\r\n",
                            "257 no quotes here\r\n", "257 \"unterminated\r\n", "257 \"\""}) {
    got += std::to_string(ParseDirectoryReply(reply, &dir)) + dir + "|";
  }
  EXPECT_EQ(got, "1/home/ftp|1C:/data/in|1|1|0|");
}

}  // namespace
}  // namespace pellan

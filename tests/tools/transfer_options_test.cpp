// tolvarftp's get/put options and the text of its progress and finished
// lines.
#include <gtest/gtest.h>

#include <vector>

#include "tools/tolvarftp/command_line.h"
#include "tools/tolvarftp/transfer_report.h"

namespace pellan::tool {
namespace {

std::optional<Options> Parse(std::vector<const char*> args, std::string* error) {
  args.insert(args.begin(), "tolvarftp");
  return ParseOptions(static_cast<int>(args.size()), args.data(), error);
}

TEST(TransferOptionsTest, TakesEveryTransferOption) {
  std::string error;
  const auto o = Parse({"--host", "127.0.0.1", "--overwrite", "--retries", "3", "--max-size", "1.5", "--allow",
                        "*.txt; *.xls", "--forbid", "tmp", "--ascii", "--active"},
                       &error);
  ASSERT_TRUE(o) << error;
  EXPECT_TRUE(o->overwrite);
  EXPECT_EQ(o->retries, 3);
  EXPECT_DOUBLE_EQ(o->maxSizeMb, 1.5);
  EXPECT_EQ(o->allowTypes, "*.txt; *.xls");
  EXPECT_EQ(o->forbidTypes, "tmp");
  EXPECT_TRUE(o->ascii);
  EXPECT_TRUE(o->active);
}

TEST(TransferOptionsTest, DefaultsTransferBinaryWithoutLimitsOrRetries) {
  std::string error;
  const auto o = Parse({"--host", "127.0.0.1"}, &error);
  ASSERT_TRUE(o) << error;
  EXPECT_FALSE(o->overwrite);
  EXPECT_EQ(o->retries, 0);
  EXPECT_EQ(o->maxSizeMb, 0);
  EXPECT_TRUE(o->allowTypes.empty());
  EXPECT_TRUE(o->forbidTypes.empty());
  EXPECT_FALSE(o->ascii);
}

TEST(TransferOptionsTest, RefusesBadValuesSayingWhich) {
  const std::vector<std::pair<std::vector<const char*>, std::string>> cases = {
      {{"--retries", "-1"}, "--retries"},   {{"--retries", "100"}, "--retries"},
      {{"--retries", "2x"}, "--retries"},   {{"--retries"}, "--retries needs a value"},
      {{"--max-size", "0"}, "--max-size"},  {{"--max-size", "-3"}, "--max-size"},
      {{"--max-size", "ten"}, "--max-size"}, {{"--max-size", "nan"}, "--max-size"},
      {{"--allow", ""}, "--allow"},         {{"--allow", "*. ;"}, "--allow"},
      {{"--forbid", ","}, "--forbid"},      {{"--forbid"}, "--forbid needs a value"},
  };
  for (const auto& [args, expected] : cases) {
    std::vector<const char*> argv = {"--host", "127.0.0.1"};
    argv.insert(argv.end(), args.begin(), args.end());
    std::string error;
    EXPECT_FALSE(Parse(argv, &error)) << args[0];
    EXPECT_NE(error.find(expected), std::string::npos) << error;
  }
}

TEST(TransferReportTextTest, RatesAndDurationsReadAsPeopleWriteThem) {
  EXPECT_EQ(FormatRate(0), "0 B/s");
  EXPECT_EQ(FormatRate(1023), "1023 B/s");
  EXPECT_EQ(FormatRate(1024), "1.00 KB/s");
  EXPECT_EQ(FormatRate(1536 * 1024), "1.50 MB/s");
  EXPECT_EQ(FormatRate(150L * 1024 * 1024), "150 MB/s");
  EXPECT_EQ(FormatRate(3L * 1024 * 1024 * 1024), "3.00 GB/s");
  EXPECT_EQ(FormatDuration(7), "0:07");
  EXPECT_EQ(FormatDuration(754), "12:34");
  EXPECT_EQ(FormatDuration(3723), "1:02:03");
  EXPECT_EQ(FormatDuration(-5), "0:00");
}

TEST(TransferReportTextTest, ProgressLineShowsNameBarSpeedTimeLeftAndQueue) {
  TransferSnapshot s;
  s.source = "/in/data/report.xls";
  s.percent = 50;
  s.speed = 2 * 1024 * 1024;
  s.leftTime = 65;
  s.queueIndex = 2;
  s.queueTotal = 7;
  EXPECT_EQ(FormatProgressLine(s, 100), "report.xls [==========>         ]  50%  2.00 MB/s  1:05 left  2/7");

  // Before the first second there is no speed to show; a retry notice takes
  // its place when there is one.
  s.speed = 0;
  EXPECT_EQ(FormatProgressLine(s, 100), "report.xls [==========>         ]  50%  2/7");
  s.state = "retry in 9 s";
  EXPECT_EQ(FormatProgressLine(s, 100), "report.xls [==========>         ]  50%  retry in 9 s  2/7");
}

TEST(TransferReportTextTest, ProgressLineFitsTheWidthKeepingTheNameEnd) {
  TransferSnapshot s;
  s.source = "/in/a-very-long-file-name-that-will-not-fit-at-all.txt";
  s.percent = 100;
  s.queueIndex = 1;
  s.queueTotal = 1;
  const std::string line = FormatProgressLine(s, 50);
  EXPECT_LE(line.size(), 50u);
  EXPECT_EQ(line.substr(0, 3), "...");
  EXPECT_NE(line.find("all.txt [====================] 100%  1/1"), std::string::npos) << line;
}

TEST(TransferReportTextTest, FinishedLineNamesBothSidesTheSizeAndThePlace) {
  TransferSnapshot s;
  s.source = "/up/T1.txt";
  s.target = "/local/T1.txt";
  s.size = 5'000'000'000.0;
  s.transferred = 5'000'000'000.0;
  s.queueIndex = 3;
  s.queueTotal = 4;
  EXPECT_EQ(FormatFinishedLine(s, true), "got /up/T1.txt -> /local/T1.txt, 5000000000 bytes (3/4)");
  // An empty file, or one whose size the server did not tell.
  s.size = 0;
  s.transferred = 0;
  EXPECT_EQ(FormatFinishedLine(s, false), "put /up/T1.txt -> /local/T1.txt, 0 bytes (3/4)");
  s.transferred = 12;
  EXPECT_EQ(FormatFinishedLine(s, false), "put /up/T1.txt -> /local/T1.txt, 12 bytes (3/4)");
}

}  // namespace
}  // namespace pellan::tool

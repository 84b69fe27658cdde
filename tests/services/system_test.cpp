#include <cmath>

#include <gtest/gtest.h>

#include "platform/code_page.h"
#include "support/system.h"
#include "support/test_env.h"

namespace pellan {
namespace {

TEST(CSystem, DelayLanguageIdentifiersAndStrLen) {
  const std::pair<double, int64_t> rows[] = {
      {10.4, 10}, {10.6, 11}, {10.5, 10}, {11.5, 12},  // halves go to the even number
      {0, 0},     {-5, 0},    {NAN, 0},
  };
  for (const auto& [ms, slept] : rows) {
    test::ScopedLoop loop(true);
    CSystem().Delay(ms);
    EXPECT_EQ(loop.Clock()->Elapsed(), Milliseconds(slept)) << ms;
  }
  const int langs[][2] = {{2052, 1}, {4100, 1}, {1028, 2}, {3076, 2},
                          {1041, 3}, {1033, 0}, {2057, 0}, {0, 0}};
  for (const auto& r : langs) EXPECT_EQ(CSystem::LanguageOfLangId(r[0]), r[1]) << r[0];
  EXPECT_EQ(CSystem().StrLen("中文a"), 7);
  SetProcessCodePage(CodePage::kGbk);
  EXPECT_EQ(CSystem().StrLen("中文a"), 5);  // a Chinese character counts 2
  SetProcessCodePage(CodePage::kUtf8);
}

}  // namespace
}  // namespace pellan

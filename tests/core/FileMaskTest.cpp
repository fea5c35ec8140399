#include <gtest/gtest.h>

#include "TestUtil.h"
#include "core/FileMask.h"

namespace vez {
namespace {

TEST(FileMask, WholeNameCaseInsensitive) {
  int rows = 0;
  for (const std::string& line : test::SplitLines(test::ReadFile(test::DataPath("core/masks.txt")))) {
    const std::vector<std::string> c = test::SplitTabs(line);
    if (c.size() < 3) continue;
    EXPECT_EQ(c[2] == "1", MatchesMask(c[0], c[1])) << line;
    ++rows;
  }
  EXPECT_EQ(32, rows);
  // Non-ASCII letters fold too, and "?" takes one character, not one byte.
  const std::tuple<const char*, const char*, bool> cases[] = {
      {"GR\xC3\x96\xC3\x9F" "E.DB", "gr\xC3\xB6\xC3\x9F" "e.db", true},  {"\xC3\x84.db", "?.db", true},
      {"\xC3\x84.db", "??.db", false},    {"\xD0\x96.db", "\xD0\xB6.*", true},  {"\xE4.db", "?.db", true},
      {"\xC3\xA9.db", "[\xC3\xA0-\xC3\xBF].db", true},
  };
  for (const auto& [name, mask, match] : cases) EXPECT_EQ(match, MatchesMask(name, mask)) << name << " ~ " << mask;
}

TEST(FileMask, ManyStarsStayFast) {
  // Backtracking to the last star only: this finishes at once instead of exploring every split.
  const std::string name(2000, 'a');
  EXPECT_FALSE(MatchesMask(name, "*a*a*a*a*a*a*a*a*a*a*b"));
  EXPECT_TRUE(MatchesMask(name + "b", "*a*a*a*a*a*a*a*a*a*a*b"));
}

}  // namespace
}  // namespace vez

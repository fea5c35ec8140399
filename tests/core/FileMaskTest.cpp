#include <gtest/gtest.h>

#include "TestUtil.h"
#include "core/FileMask.h"

namespace vez {
namespace {

TEST(FileMask, WholeNameCaseInsensitive) {
  const auto rows = test::DataRows("core/masks.txt");
  for (const auto& c : rows) EXPECT_EQ(c.at(2) == "1", MatchesMask(c[0], c[1])) << c[0] << " ~ " << c[1];
  EXPECT_EQ(38u, rows.size());
  // Many stars: backtracking to the last star only, this finishes at once instead of exploring every split.
  const std::string name(2000, 'a');
  EXPECT_FALSE(MatchesMask(name, "*a*a*a*a*a*a*a*a*a*a*b"));
  EXPECT_TRUE(MatchesMask(name + "b", "*a*a*a*a*a*a*a*a*a*a*b"));
}

}  // namespace
}  // namespace vez

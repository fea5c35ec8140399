#include <gtest/gtest.h>

#include "core/FileMask.h"

namespace vez {
namespace {

TEST(FileMask, WholeNameCaseInsensitive) {
  const std::tuple<const char*, const char*, bool> cases[] = {
      {"emis.abs", "emis.abs", true},       {"EMIS.ABS", "emis.abs", true},     {"xemis.abs", "emis.abs", false},
      {"emis.abs", "emis.ab", false},       {"RREC0001.abs", "RREC????.abs", true},
      {"RREC001.abs", "RREC????.abs", false}, {"RREC00012.abs", "RREC????.abs", false},
      {"anything", "*", true},              {"", "*", true},                    {"", "?", false},
      {"a.b.c", "*.c", true},               {"abcabd", "*abd", true},           {"aXbXc", "a*b*c", true},
      {"ab", "a*b*c", false},               {"t3.dat", "t[0-9].dat", true},     {"tx.dat", "t[0-9].dat", false},
      {"T3.DAT", "t[!a-z].dat", true},      {"tb.dat", "t[!a-z].dat", false},   {"tB.dat", "t[abc].dat", true},
      {"[x", "[x", true},                   {"a]", "a]", true},                 {"x.run", "*.run", true},
      {"x.runx", "*.run", false},           {"t].dat", "t[abc].dat", false}, {"t].dat", "t[]a].dat", true},
      // Non-ASCII letters fold too, and "?" takes one character, not one byte.
      {"GR\xC3\x96\xC3\x9F" "E.DB", "gr\xC3\xB6\xC3\x9F" "e.db", true},  {"\xC3\x84.db", "?.db", true},
      {"\xC3\x84.db", "??.db", false},    {"\xD0\x96.db", "\xD0\xB6.*", true},  {"\xE4.db", "?.db", true},
      {"\xC3\xA9.db", "[\xC3\xA0-\xC3\xBF].db", true},
  };
  for (const auto& [name, mask, match] : cases) EXPECT_EQ(match, MatchesMask(name, mask)) << name << " ~ " << mask;
  // Both ends of a "[lo-hi]" range belong to it.
  for (const char* name : {"t0.dat", "t9.dat", "ta.dat", "TZ.dat"}) EXPECT_TRUE(MatchesMask(name, "t[0-9a-z].dat"));
  for (const char* name : {"t/.dat", "t:.dat", "t{.dat"}) EXPECT_FALSE(MatchesMask(name, "t[0-9a-z].dat")) << name;
}

TEST(FileMask, ManyStarsStayFast) {
  // Backtracking to the last star only: this finishes at once instead of exploring every split.
  const std::string name(2000, 'a');
  EXPECT_FALSE(MatchesMask(name, "*a*a*a*a*a*a*a*a*a*a*b"));
  EXPECT_TRUE(MatchesMask(name + "b", "*a*a*a*a*a*a*a*a*a*a*b"));
}

}  // namespace
}  // namespace vez

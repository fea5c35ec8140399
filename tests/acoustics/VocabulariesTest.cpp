#include "acoustics/Vocabularies.h"

#include <gtest/gtest.h>

#include "TestUtil.h"
#include "core/Exceptions.h"

namespace vez {
namespace {

// Each Nord2000 list replaces what the list held, in order, with its codes in the object slots.
TEST(VocabulariesTest, Nord2000CategoryLists) {
  const std::tuple<void (*)(StringList&), std::vector<std::int64_t>, const char*> cases[] = {
      {VCItems, {10, 11, 12, 20, 21, 22, 30, 31, 32, 33, 34, 40, 50}, "5 - Mopeds"},
      {RCItems, {11, 12, 21, 22, 31, 32, 33, 34, 41, 42, 51, 52, 61, 62, 63, 70, 80},
       "8 - Cement block pavement (interlocking)"},
      {DCItems, {10, 20, 30, 40, 50, 60, 61, 62}, "6b- Winter (tyres without studs)"},
  };
  for (const auto& [fill, codes, last] : cases) {
    StringList list{"old", "entries"};
    fill(list);
    ASSERT_EQ(list.Count(), static_cast<int>(codes.size()));
    for (int i = 0; i < list.Count(); ++i) EXPECT_EQ(list.Objects(i), codes[static_cast<std::size_t>(i)]) << i;
    EXPECT_EQ(list[list.Count() - 1], last);
  }
  EXPECT_EQ(VehTypesN2k().size(), 11u);
  EXPECT_EQ(VehTypesN2k().back(), "Total");
  EXPECT_EQ(GetMainVehNamesN2k2005(mvN2kMediumHeavy), "2 - Medium heavy vehicles");
  EXPECT_EQ(GetMainVehNamesN2k2005(TMainVehTypeN2k2005(4)), "");
  // Weather classes: A varies by row, B by column.
  const float a[5] = {-1, -0.4f, 0, 0.4f, 1}, b[5] = {-0.12f, -0.04f, 0, 0.04f, 0.12f};
  for (int i = 0; i < 25; ++i) EXPECT_EQ(a[i / 5] * 10 + b[i % 5], N2kWeatherA[i] * 10 + N2kWeatherB[i]) << i;
}

// Street cars have only four of the sources of regular trains, numbered in their own order.
TEST(VocabulariesTest, Schall03SourceNames) {
  const std::pair<int, const char*> streetCar[] = {{1, "rail roughness"}, {3, "aggregat noise 0m"},
                                                   {4, "aggregat noise 4m"}, {5, ""}, {0, ""}};
  for (const auto& [nr, name] : streetCar) EXPECT_EQ(SrcTypeSchall03_2006(nr, ttStreetCar), name) << nr;
  EXPECT_EQ(SrcTypeSchall03_2006(6, ttRegular), "aerodynamic 4m");
  EXPECT_EQ(SrcTypeSchall03_2006(11, ttRegular), "engine noise 0m");
  EXPECT_EQ(SrcTypeSchall03_2006(12, ttRegular), "");
}

TEST(VocabulariesTest, TextsCannotBeReplacedOnceRead) {
  (void)AtArray(atLeq);
  EXPECT_THROW_MSG(SetVocabularyTexts(DefaultVocabularyTexts()), Exception,
                   "The vocabulary texts are in use and can no longer be replaced");
}

}  // namespace
}  // namespace vez

#include "acoustics/Vocabularies.h"

#include <gtest/gtest.h>

#include "TestUtil.h"
#include "core/Exceptions.h"

namespace vez {
namespace {

// Each Nord2000 list replaces what the list held, in order, with its codes in the object slots.
TEST(VocabulariesTest, Nord2000CategoryLists) {
  struct Case {
    void (*fill)(StringList&);
    std::vector<std::int64_t> codes;
    const char* first;
    const char* last;
  };
  const Case cases[] = {
      {VCItems, {10, 11, 12, 20, 21, 22, 30, 31, 32, 33, 34, 40, 50}, "1 - Cars", "5 - Mopeds"},
      {RCItems, {11, 12, 21, 22, 31, 32, 33, 34, 41, 42, 51, 52, 61, 62, 63, 70, 80},
       "1a - Asph. concr., dense, smooth (<=12-16 mm)", "8 - Cement block pavement (interlocking)"},
      {DCItems, {10, 20, 30, 40, 50, 60, 61, 62}, "1 - Cruising (constant speed and gear)",
       "6b- Winter (tyres without studs)"},
  };
  for (const Case& c : cases) {
    StringList list{"old", "entries"};
    c.fill(list);
    ASSERT_EQ(list.Count(), static_cast<int>(c.codes.size()));
    for (int i = 0; i < list.Count(); ++i) EXPECT_EQ(list.Objects(i), c.codes[static_cast<std::size_t>(i)]) << i;
    EXPECT_EQ(list[0], c.first);
    EXPECT_EQ(list[list.Count() - 1], c.last);
  }
  StringList surfaces;
  RCItems(surfaces);
  EXPECT_EQ(surfaces[4], "3a - Chipped asphalt (BCS) (\"hot rolled asph.\")");
}

TEST(VocabulariesTest, VehicleClassTables) {
  const auto n2k = VehTypesN2k();
  ASSERT_EQ(n2k.size(), 11u);
  EXPECT_EQ(n2k[0], "1a - Passenger cars excluding other light vehicles (4 wheels, 2 axles)");
  EXPECT_EQ(n2k[2], "2a - City buses (6 wheels, 2 axles)");
  EXPECT_EQ(n2k[9], "5 - Mopeds");
  EXPECT_EQ(n2k[10], "Total");
  EXPECT_EQ(VehTypesTNM()[5], "Auxiliary Vehicle");
  EXPECT_EQ(VehTypesTNM().back(), "Total");
}

TEST(VocabulariesTest, NamedTexts) {
  EXPECT_EQ(StdLibTypeStr[sltTNM], "TNM");
  EXPECT_EQ(AtArray(atNATAircraft), "NAT-Aircraft-Noise");
  EXPECT_EQ(TTrainTypesFRA2005_Str(ttMagLev), "maglev train");
  EXPECT_EQ(GetMainVehNamesN2k2005(mvN2kMediumHeavy), "2 - Medium heavy vehicles");
  EXPECT_EQ(GetMainVehNamesN2k2005(TMainVehTypeN2k2005(0)), "");
  EXPECT_EQ(GetMainVehNamesN2k2005(TMainVehTypeN2k2005(4)), "");
}

TEST(VocabulariesTest, Schall03SourceNames) {
  const char* regular[] = {"",
                           "rail roughness",
                           "wheel roughness",
                           "tank wagon: rail roughness",
                           "tank wagon: wheel roughness",
                           "aerodynamic 5m",
                           "aerodynamic 4m",
                           "aerodynamic 0m",
                           "aggregat noise 4m",
                           "aggregat noise 0m",
                           "engine noise 4m",
                           "engine noise 0m",
                           ""};
  const char* streetCar[] = {"", "rail roughness", "wheel roughness", "aggregat noise 0m", "aggregat noise 4m", "",
                             "", "", "", "", "", "", ""};
  for (int nr = 0; nr <= 12; ++nr) {
    EXPECT_EQ(SrcTypeSchall03_2006(nr, ttRegular), regular[nr]) << nr;
    EXPECT_EQ(SrcTypeSchall03_2006(nr, ttStreetCar), streetCar[nr]) << nr;
  }
}

TEST(VocabulariesTest, Nord2000WeatherClasses) {
  const float a[5] = {-1, -0.4f, 0, 0.4f, 1};
  const float b[5] = {-0.12f, -0.04f, 0, 0.04f, 0.12f};
  for (int i = 0; i < 5; ++i) {
    for (int j = 0; j < 5; ++j) {
      EXPECT_EQ(N2kWeatherA[5 * i + j], a[i]);
      EXPECT_EQ(N2kWeatherB[5 * i + j], b[j]);
    }
  }
}

TEST(VocabulariesTest, TextsCannotBeReplacedOnceRead) {
  (void)AtArray(atLeq);
  EXPECT_THROW_MSG(SetVocabularyTexts(DefaultVocabularyTexts()), Exception,
                   "The vocabulary texts are in use and can no longer be replaced");
}

}  // namespace
}  // namespace vez

// A program that shows another language replaces the display texts before first use. This runs in a binary
// of its own, so that no other test has read the texts first.
#include <gtest/gtest.h>

#include "acoustics/Vocabularies.h"

namespace vez {
namespace {

TEST(VocabularyTextsTest, ReplacedBeforeFirstUse) {
  TVocabularyTexts german = DefaultVocabularyTexts();
  german.Total = "Summe";
  german.AtArray[atLeq] = "Mittelungspegel";
  german.VCItems[1] = "1a - Pkw";
  german.Aerodynamic = "aerodynamisch";
  SetVocabularyTexts(german);
  EXPECT_EQ(AtArray(atLeq), "Mittelungspegel");
  EXPECT_EQ(VehTypesRLS90().back(), "Summe");
  EXPECT_EQ(VehTypesN2k().front(), "1a - Pkw");
  EXPECT_EQ(VehTypesN2k().back(), "Summe");
  EXPECT_EQ(SrcTypeSchall03_2006(6, ttRegular), "aerodynamisch 4m");
  StringList list;
  VCItems(list);
  EXPECT_EQ(list[1], "1a - Pkw");
  EXPECT_EQ(list.Objects(1), 11);
  EXPECT_EQ(StdLibTypeStr[sltTNM], "TNM");  // names stored in libraries are not translated
}

}  // namespace
}  // namespace vez

// A program that shows another language replaces the display texts before first use. This runs in a binary
// of its own, so that no other test has read the texts first.
#include <gtest/gtest.h>

#include <string>
#include <vector>

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
  StringList list;
  VCItems(list);
  EXPECT_EQ((std::vector<std::string>{"Mittelungspegel", "Summe", "1a - Pkw", "Summe", "aerodynamisch 4m", "1a - Pkw"}),
            (std::vector<std::string>{AtArray(atLeq), VehTypesRLS90().back(), VehTypesN2k().front(),
                                      VehTypesN2k().back(), SrcTypeSchall03_2006(6, ttRegular), list[1]}));
  EXPECT_EQ(list.Objects(1), 11);
  EXPECT_EQ(StdLibTypeStr[sltTNM], "TNM");  // names stored in libraries are not translated
}

}  // namespace
}  // namespace vez

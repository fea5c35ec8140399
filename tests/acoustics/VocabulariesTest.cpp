#include "acoustics/Vocabularies.h"

#include <gtest/gtest.h>

#include "TestUtil.h"
#include "core/Exceptions.h"

namespace vez {
namespace {

// Every list, entry by entry, against tests/data/acoustics/vocabularies.txt; the Nord2000 lists replace what the
// list held and carry their codes in the object slots.
TEST(VocabulariesTest, EveryTextAsWritten) {
  std::vector<std::vector<std::string>> rows;  // list, index or code, text
  const auto add = [&](const std::string& name, const auto& texts) {
    int i = 0;
    for (const auto& text : texts) rows.push_back({name, std::to_string(i++), std::string(text)});
  };
  const auto byEnum = [](int n, const auto& get) {
    std::vector<std::string> texts;
    for (int i = 0; i < n; ++i) texts.push_back(get(i));
    return texts;
  };
  add("StdLibTypeStr", StdLibTypeStr);
  add("AtArray", byEnum(9, [](int i) { return AtArray(TAssessmentType(i)); }));
  const std::pair<const char*, std::span<const std::string> (*)()> vehicles[] = {
      {"VehTypesRLS90", VehTypesRLS90},     {"VehTypesRVS302", VehTypesRVS302},
      {"VehTypesLightHeavy", VehTypesLightHeavy}, {"VehTypesASJ2003", VehTypesASJ2003},
      {"VehTypesASJ2008", VehTypesASJ2008}, {"VehTypesHuRoad", VehTypesHuRoad},
      {"VehTypesTNM", VehTypesTNM},         {"VehTypesN2k", VehTypesN2k}};
  for (const auto& [name, list] : vehicles) add(name, list());
  add("PTstr", PTstr);
  add("FTStr", FTStr);
  add("FTStrLang", byEnum(2, [](int i) { return FTStrLang(TFullThrottle(i)); }));
  add("TrainTypesSchall03_2006_Str",
      byEnum(2, [](int i) { return TrainTypesSchall03_2006_Str(TTrainTypesSchall03_2006(i)); }));
  add("TTrainTypesFRA2005_Str", byEnum(7, [](int i) { return TTrainTypesFRA2005_Str(TTrainTypesFRA2005(i)); }));
  add("TVehicleTypesFRA2005_Str", byEnum(2, [](int i) { return TVehicleTypesFRA2005_Str(TVehicleTypesFRA2005(i)); }));
  using Fill = void (*)(StringList&);
  for (const auto& [name, fill] : {std::pair<const char*, Fill>{"VCItems", VCItems}, {"RCItems", RCItems},
                                   {"DCItems", DCItems}}) {
    StringList list{"old", "entries"};
    fill(list);
    for (int i = 0; i < list.Count(); ++i)
      rows.push_back({name, std::to_string(list.Objects(i)), list[i]});
  }
  for (const auto& [type, name] : {std::pair{ttRegular, "ttRegular"}, {ttStreetCar, "ttStreetCar"}})
    add(std::string("SrcTypeSchall03_2006 ") + name,
        byEnum(13, [t = type](int nr) { return SrcTypeSchall03_2006(nr, t); }));
  add("GetMainVehNamesN2k2005", byEnum(5, [](int k) { return GetMainVehNamesN2k2005(TMainVehTypeN2k2005(k)); }));
  EXPECT_EQ(test::DataRows("acoustics/vocabularies.txt"), rows);
  // Weather classes: A varies by row, B by column.
  const float a[5] = {-1, -0.4f, 0, 0.4f, 1}, b[5] = {-0.12f, -0.04f, 0, 0.04f, 0.12f};
  for (int i = 0; i < 25; ++i) EXPECT_EQ(std::pair(a[i / 5], b[i % 5]), std::pair(N2kWeatherA[i], N2kWeatherB[i])) << i;
}

TEST(VocabulariesTest, TextsCannotBeReplacedOnceRead) {
  (void)AtArray(atLeq);
  EXPECT_THROW_MSG(SetVocabularyTexts(DefaultVocabularyTexts()), Exception,
                   "The vocabulary texts are in use and can no longer be replaced");
}

}  // namespace
}  // namespace vez

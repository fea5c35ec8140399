#include "librarydb/ElementBands.h"

#include <gtest/gtest.h>

#include "librarydb/OVLibConst.h"

namespace vez {
namespace {

TEST(ElementBandsTest, FieldNames) {
  EXPECT_EQ(BandOfValuesField("Values0"), 0);
  EXPECT_EQ(BandOfValuesField("values17"), 17);
  EXPECT_EQ(BandOfValuesField("Values30"), 30);
  for (const char* other : {"Values31", "Values05", "Values", "Values1x", "Lower", "ValuesA"})
    EXPECT_EQ(BandOfValuesField(other), -1) << other;
}

// The fields a record needs so that it reads back as the band fields that were linked.
TEST(ElementBandsTest, LinkedBandFieldsGiveRangeKindAndCompleteness) {
  using Fields = std::vector<std::pair<std::string, std::string>>;
  const struct {
    std::vector<std::string> linked;
    Fields expected;
  } cases[] = {
      // Octave centres 125 .. 4000 Hz.
      {{"ElementName", "Values8", "Values11", "Values14", "Values17", "Values20", "Values23"},
       {{"Lower", "2"}, {"Upper", "7"}, {"Terz", "False"}, {"Komplett", "True"}}},
      // Third-octave bands 50 .. 200 Hz with 125 Hz missing; Values0 is no band.
      {{"Values0", "Values4", "Values5", "Values6", "Values7", "Values9", "Values10"},
       {{"Lower", "3"}, {"Upper", "9"}, {"Terz", "True"}, {"Komplett", "False"}}},
      // One octave centre alone is a third-octave band.
      {{"Values17"}, {{"Lower", "16"}, {"Upper", "16"}, {"Terz", "True"}, {"Komplett", "True"}}},
      // What the caller links keeps the caller's value; Lower and Upper go together.
      {{"Values1", "Values2", "Terz", "Upper"}, {{"Komplett", "True"}}},
      {{"ElementName", "Values0"}, {}},
  };
  for (const auto& c : cases) EXPECT_EQ(BandFieldsFor(ltAbsor, c.linked), c.expected) << c.linked.back();
  EXPECT_TRUE(BandFieldsFor(ltTime, std::vector<std::string>{"Values1", "Values2"}).empty());
}

}  // namespace
}  // namespace vez

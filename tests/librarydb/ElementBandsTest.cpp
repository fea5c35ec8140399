#include "librarydb/ElementBands.h"

#include <gtest/gtest.h>

#include <optional>
#include <tuple>
#include <vector>

#include "librarydb/OVLibConst.h"

namespace vez {
namespace {

TEST(ElementBandsTest, FieldNames) {
  for (const auto& [name, band] : {std::pair("Values0", 0), {"values17", 17}, {"Values30", 30}, {"Values31", -1},
                                   {"Values05", -1}, {"Values", -1}, {"Values1x", -1}, {"Lower", -1}, {"ValuesA", -1}})
    EXPECT_EQ(BandOfValuesField(name), band) << name;
}

// The kind, range and completeness that the present bands of a record give, and what the caller fixes.
TEST(ElementBandsTest, PresentBandsGiveKindRangeAndCompleteness) {
  using Range = std::optional<std::pair<std::int32_t, std::int32_t>>;
  const struct {
    std::vector<int> present;
    std::optional<bool> terz;
    Range range;
    TElementBandRange expected;
  } cases[] = {
      {{8, 11, 14, 17, 20, 23}, {}, {}, {false, 2, 7, true}},     // octave centres 125 .. 4000 Hz
      {{8, 14, 17}, {}, {}, {false, 2, 5, false}},                // 250 Hz missing
      {{4, 5, 6, 7, 9, 10}, {}, {}, {true, 3, 9, false}},         // 125 Hz third-octave missing
      {{17}, {}, {}, {true, 16, 16, true}},                       // one octave centre alone is a third octave
      {{2, 5, 8, 9}, {false}, {}, {false, 0, 2, true}},           // Terz False counts only the centres
      {{1, 2, 3}, {}, Range({0, 3}), {true, 0, 3, false}},        // the caller's range is kept
      {{29, 30}, {}, {}, {true, 28, 29, true}},
      {{}, {true}, Range({0, 29}), {true, 0, 29, false}},         // nothing present: not complete
      {{2, 5}, {false}, Range({0, 12}), {false, 0, 12, false}},   // a range beyond the grid is never complete
  };
  for (const auto& c : cases) {
    const TElementBandRange r = BandRangeOf(c.present, c.terz, c.range);
    EXPECT_EQ(std::tuple(r.Terz, r.Lower, r.Upper, r.Complete),
              std::tuple(c.expected.Terz, c.expected.Lower, c.expected.Upper, c.expected.Complete))
        << ::testing::PrintToString(c.present);
  }
}

TEST(ElementBandsTest, FieldLabelsNameTheBand) {
  EXPECT_EQ(std::tuple(FieldLabel(ltEmis, "Values2"), FieldLabel(ltAbsor, "values17"), FieldLabel(ltTrans, "Values0"),
                       FieldLabel(ltTime, "Values5"), FieldLabel(ltEmis, "ElementName")),
            std::tuple("Values2 (31.5 Hz)", "values17 (1000 Hz)", "Values0 (single value)", "Values5", "ElementName"));
  EXPECT_EQ(std::tuple(ThirdOctaveOf(false, 0), ThirdOctaveOf(false, 9), ThirdOctaveOf(false, 10),
                       ThirdOctaveOf(true, 29), ThirdOctaveOf(true, -1)),
            std::tuple(2, 29, 0, 30, 0));
}

}  // namespace
}  // namespace vez

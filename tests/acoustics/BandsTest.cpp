// The band grid and the weighting corrections against the tables in tests/data/acoustics/bands.txt.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <string_view>

#include "TestUtil.h"
#include "acoustics/Bands.h"
#include "acoustics/Fgang.h"
#include "core/Exceptions.h"

namespace vez {
namespace {

// Each band starts at its lowest frequency (the one below belongs to the band before) and takes the weighting of
// its row; the spectrum's own look-up ends each band at its highest frequency and wraps to band 1 above the top.
TEST(Bands, TablesAsWritten) {
  std::ifstream in(test::DataPath("acoustics/bands.txt"));
  int rows = 0;
  for (std::string line; std::getline(in, line);) {
    if (line.starts_with("#")) continue;
    std::istringstream row(line);
    std::string kind, label;
    int k = 0, centre = 0, lower = 0, upper = 0;
    row >> kind >> k >> centre;
    int32_t below = 0, at = 0;
    const bool third = kind == "third";  // third-octave rows have a label and the weighting corrections
    if (third) row >> label;
    row >> lower >> upper;
    const auto centreOf = third ? TerzFrequenz : OctaveCenterFreq;
    const auto bandNr = third ? TSpectrum::TerzBandNr : TSpectrum::OktBandNr;
    EXPECT_EQ(centre, third ? terzen[k] : oktaven[k]) << line;
    EXPECT_EQ(label, third ? FrequStr[k] : "") << line;
    EXPECT_EQ(centre, centreOf(static_cast<uint16_t>(lower), at)) << line;
    if (lower > 0) centreOf(static_cast<uint16_t>(lower - 1), below);
    EXPECT_EQ(std::pair(k, k - 1), std::pair(at, below)) << line;
    EXPECT_EQ(k * 100 + k % (third ? 30 : 10) + 1, bandNr(upper) * 100 + bandNr(upper + 1)) << line;
    for (const char filter : std::string_view(third ? "ABCD" : "")) {
      float correction = 0;
      row >> correction;
      EXPECT_EQ(correction, dBFilterDifferenz(filter, static_cast<uint16_t>(centre))) << filter << " " << centre;
      EXPECT_EQ(correction, dBFilterDifferenz(static_cast<char>(filter + 32), static_cast<uint16_t>(lower + 1)));
    }
    ASSERT_TRUE(row) << line;
    ++rows;
  }
  EXPECT_EQ(40, rows);
  // Every frequency: third-octave bands advance one at a time, and octave k holds bands 3k − 2 .. 3k.
  int32_t previous = 1;
  for (uint32_t f = 0; f <= 65535; ++f) {
    int32_t third = 0, octave = 0;
    TerzFrequenz(static_cast<uint16_t>(f), third);
    OctaveCenterFreq(static_cast<uint16_t>(f), octave);
    ASSERT_TRUE(third == previous || third == previous + 1) << f;
    ASSERT_EQ((third + 2) / 3, octave) << f;
    previous = third;
  }
}

// The weighting grid puts 35 Hz into the 31.5 Hz band and everything from 17960 Hz into the top band; " " and "_"
// weigh nothing, any other character is refused.
TEST(Bands, WeightingEdgesAndLetters) {
  EXPECT_EQ(std::pair(-39.4f, -11.2f), std::pair(dBFilterDifferenz('A', 35), dBFilterDifferenz('c', 65535)));
  for (const uint16_t f : {0, 35, 17960, 65535}) EXPECT_EQ(0.0f, dBFilterDifferenz(' ', f) + dBFilterDifferenz('_', f));
  for (int c = -128; c <= 127; ++c) {
    const char filter = static_cast<char>(c);
    const bool known = std::string_view(" _ABCDabcd").find(filter) != std::string_view::npos;
    if (!known) EXPECT_THROW_MSG(dBFilterDifferenz(filter, 25), Exception, "Wrong Filter");
  }
}

TEST(Bands, DayValuesMaximumTakesTheFirstOfEqualValues) {
  DArray<float, 0, 23> values;
  for (int h = 0; h <= 23; ++h) values[h] = static_cast<float>(-h);
  const float first = MaxValueTagArr(values);
  values[23] = 5.0f;
  EXPECT_EQ(std::pair(0.0f, 5.0f), std::pair(first, MaxValueTagArr(values)));
  for (float& v : values) v = -1.0f;  // -0 and +0 compare equal, so the sign shows which of them was taken
  values[3] = -0.0f;
  values[12] = 0.0f;
  EXPECT_TRUE(std::signbit(MaxValueTagArr(values)));
}

}  // namespace
}  // namespace vez

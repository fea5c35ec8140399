#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "acoustics/Bands.h"

namespace vez {
namespace {

// The exact base-10 centre of third-octave band k: 1000 * 10^((k - 17)/10) Hz.
double ExactCentre(int k) { return 1000.0 * std::pow(10.0, (k - 17) / 10.0); }

TEST(Bands, CentresAndLabels) {
  for (int k = 1; k <= 30; ++k) {
    std::string label(FrequStr[k]);
    // Nominal centres are within 3% of the exact ones; labels spell them in Hz or kHz.
    EXPECT_NEAR(1.0, terzen[k] / ExactCentre(k), 0.03) << label;
    const bool kilo = label.ends_with("kHz");
    ASSERT_TRUE(label.ends_with("Hz")) << label;
    label.resize(label.size() - (kilo ? 3 : 2));
    EXPECT_EQ(label.find_first_not_of("0123456789."), std::string::npos) << label;
    EXPECT_EQ(terzen[k], std::lround(std::stod(label) * (kilo ? 1000 : 1))) << label;
  }
  for (int k = 1; k <= 10; ++k) EXPECT_EQ(terzen[3 * k - 1], oktaven[k]) << k;
}

// Every frequency maps to a band around it: bands advance one at a time, octaves hold their three
// third-octaves, and from 23 Hz to 20 kHz a frequency lies within 2.5% of its band's exact edges.
TEST(Bands, EveryFrequencyFallsIntoTheBandAroundIt) {
  int32_t previous = 1;
  for (uint32_t f = 0; f <= 65535; ++f) {
    int32_t third = 0, octave = 0;
    const uint16_t centre = TerzFrequenz(static_cast<uint16_t>(f), third);
    ASSERT_EQ(terzen[third], centre);
    const uint16_t octaveCentre = OctaveCenterFreq(static_cast<uint16_t>(f), octave);
    ASSERT_EQ(oktaven[octave], octaveCentre);
    ASSERT_TRUE(third == previous || third == previous + 1) << f;
    previous = third;
    ASSERT_EQ((third + 2) / 3, octave) << f;
    if (f >= 23 && f <= 20000) {
      ASSERT_GE(f, ExactCentre(third) * std::pow(10.0, -0.05) * 0.975) << f;
      ASSERT_LE(f, ExactCentre(third) * std::pow(10.0, 0.05) * 1.025) << f;
    }
  }
  EXPECT_EQ(30, previous);
  // Band k starts at kLower[k - 1] (octaves follow their third-octaves, checked above).
  const uint16_t kLower[30] = {0,    29,   35,   45,   57,   72,   91,   113,   141,   181,
                               225,  282,  355,  450,  562,  708,  899,  1123,  1404,  1797,
                               2246, 2807, 3537, 4491, 5613, 7073, 8981, 11225, 14031, 17960};
  for (int k = 2; k <= 30; ++k) {
    int32_t below = 0, at = 0;
    TerzFrequenz(static_cast<uint16_t>(kLower[k - 1] - 1), below);
    TerzFrequenz(kLower[k - 1], at);
    EXPECT_EQ(k * 100 + k - 1, at * 100 + below) << kLower[k - 1];
  }
}

TEST(Bands, DayValuesMaximumTakesTheFirstOfEqualValues) {
  DArray<float, 0, 23> values;
  for (int h = 0; h <= 23; ++h) values[h] = static_cast<float>(-h);
  EXPECT_EQ(0.0f, MaxValueTagArr(values));
  values[23] = 5.0f;
  EXPECT_EQ(5.0f, MaxValueTagArr(values));
  // -0 and +0 compare equal, so the sign shows which of them was taken.
  for (float& v : values) v = -1.0f;
  values[3] = -0.0f;
  values[12] = 0.0f;
  EXPECT_TRUE(std::signbit(MaxValueTagArr(values)));
}

}  // namespace
}  // namespace vez

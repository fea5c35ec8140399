#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "acoustics/Bands.h"

namespace vez {
namespace {

// The exact base-10 centre of third-octave band k: 1000 * 10^((k - 17)/10) Hz.
double ExactCentre(int k) { return 1000.0 * std::pow(10.0, (k - 17) / 10.0); }

TEST(BandTablesTest, CentresFollowTheBaseTenSeries) {
  for (int k = 1; k <= 30; ++k) {
    SCOPED_TRACE(k);
    // Nominal centres are within 3% of the exact ones (31 for 31.6 and 12500 for 12589 included).
    EXPECT_NEAR(1.0, terzen[k] / ExactCentre(k), 0.03);
    if (k > 1) {
      EXPECT_GT(terzen[k], terzen[k - 1]);
    }
  }
  for (int k = 1; k <= 10; ++k) EXPECT_EQ(terzen[3 * k - 1], oktaven[k]) << k;
}

TEST(BandTablesTest, LabelsSpellTheCentres) {
  for (int k = 1; k <= 30; ++k) {
    std::string label(FrequStr[k]);
    SCOPED_TRACE(label);
    double factor = 1;
    if (label.size() > 3 && label.ends_with("kHz")) {
      factor = 1000;
      label.resize(label.size() - 3);
    } else {
      ASSERT_TRUE(label.ends_with("Hz"));
      label.resize(label.size() - 2);
    }
    EXPECT_EQ(label.find_first_not_of("0123456789."), std::string::npos);
    EXPECT_EQ(terzen[k], std::lround(std::stod(label) * factor));
  }
  EXPECT_EQ("1kHz", FrequStr[17]);
  EXPECT_EQ("1.25kHz", FrequStr[18]);
}

TEST(BandLookupTest, EdgeCases) {
  struct Case {
    uint16_t freq;
    int32_t octave, third;
  };
  const Case cases[] = {
      {0, 1, 1}, {35, 1, 3}, {1000, 6, 17}, {20000, 10, 30}, {20001, 10, 30}, {65535, 10, 30},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.freq);
    int32_t index = -1;
    EXPECT_EQ(oktaven[c.octave], OctaveCenterFreq(c.freq, index));
    EXPECT_EQ(c.octave, index);
    EXPECT_EQ(terzen[c.third], TerzFrequenz(c.freq, index));
    EXPECT_EQ(c.third, index);
  }
}

TEST(BandLookupTest, LowerLimitsOfTheThirdOctaveBands) {
  // The published whole-hertz limits: band k starts at kLower[k - 1]; the octave limits are every third one.
  const uint16_t kLower[30] = {0,    29,   35,   45,   57,   72,   91,   113,   141,   181,
                               225,  282,  355,  450,  562,  708,  899,  1123,  1404,  1797,
                               2246, 2807, 3537, 4491, 5613, 7073, 8981, 11225, 14031, 17960};
  for (int k = 2; k <= 30; ++k) {
    SCOPED_TRACE(kLower[k - 1]);
    int32_t index = 0;
    TerzFrequenz(kLower[k - 1], index);
    EXPECT_EQ(k, index);
    TerzFrequenz(static_cast<uint16_t>(kLower[k - 1] - 1), index);
    EXPECT_EQ(k - 1, index);
    if (k % 3 == 1) {
      OctaveCenterFreq(kLower[k - 1], index);
      EXPECT_EQ((k + 2) / 3, index);
      OctaveCenterFreq(static_cast<uint16_t>(kLower[k - 1] - 1), index);
      EXPECT_EQ((k - 1) / 3, index);
    }
  }
}

TEST(BandLookupTest, EveryFrequencyFallsIntoTheBandAroundIt) {
  int32_t previousThird = 1;
  for (uint32_t f = 0; f <= 65535; ++f) {
    const auto freq = static_cast<uint16_t>(f);
    int32_t third = 0, octave = 0;
    const uint16_t centre = TerzFrequenz(freq, third);
    const uint16_t octaveCentre = OctaveCenterFreq(freq, octave);
    ASSERT_TRUE(third >= 1 && third <= 30) << f;
    ASSERT_EQ(terzen[third], centre);
    ASSERT_EQ(oktaven[octave], octaveCentre);
    // Bands never go back, advance one at a time, and each octave holds its three third-octaves.
    ASSERT_TRUE(third == previousThird || third == previousThird + 1) << f;
    previousThird = third;
    ASSERT_EQ((third + 2) / 3, octave) << f;
    // From the lower edge of band 1 (22.4 Hz) to 20 kHz a frequency lies within 2.5% of its band's exact edges.
    if (f >= 23 && f <= 20000) {
      const double lower = ExactCentre(third) * std::pow(10.0, -0.05);
      const double upper = ExactCentre(third) * std::pow(10.0, 0.05);
      ASSERT_GE(f, lower * 0.975) << f;
      ASSERT_LE(f, upper * 1.025) << f;
    }
  }
  // Each centre is in its own band.
  for (int k = 1; k <= 30; ++k) {
    int32_t index = 0;
    TerzFrequenz(terzen[k], index);
    EXPECT_EQ(k, index);
  }
  for (int k = 1; k <= 10; ++k) {
    int32_t index = 0;
    OctaveCenterFreq(oktaven[k], index);
    EXPECT_EQ(k, index);
  }
}

TEST(DayValuesTest, MaximumTakesTheFirstOfEqualValues) {
  DArray<float, 0, 23> values;
  for (int h = 0; h <= 23; ++h) values[h] = static_cast<float>(-h);
  EXPECT_EQ(0.0f, MaxValueTagArr(values));
  values[23] = 5.0f;
  EXPECT_EQ(5.0f, MaxValueTagArr(values));
  // -0 and +0 compare equal, so the sign shows which of them was taken: always the first.
  for (float& v : values) v = -1.0f;
  values[3] = -0.0f;
  values[12] = 0.0f;
  EXPECT_TRUE(std::signbit(MaxValueTagArr(values)));
  values[3] = 0.0f;
  values[12] = -0.0f;
  EXPECT_FALSE(std::signbit(MaxValueTagArr(values)));
}

}  // namespace
}  // namespace vez

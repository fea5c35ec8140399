#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "numerics/Analysis.h"

namespace vez {
namespace {

TEST(LevelTest, EnergyOfLevelFloorsAndCap) {
  struct Case {
    double level, energy, relTol;
  };
  const Case cases[] = {
      {0, 1, 0},
      {10, 10, 1e-15},
      {-10, 0.1, 1e-15},
      {3, 1.9952623149688795, 1e-15},
      {-999, 1.2589254117941673e-100, 1e-14},  // still above the floor
      {-999.5, 0, 0},
      {-1e300, 0, 0},
      {220, 1e22, 1e-15},
      {220.1, 1e23, 0},  // the cap, not 10^22.01
      {1e300, 1e23, 0},
      {HUGE_VAL, 1e23, 0},
      {-HUGE_VAL, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.level);
    if (c.relTol == 0)
      EXPECT_EQ(c.energy, epeg(c.level));
    else
      EXPECT_NEAR(c.energy, epeg(c.level), c.relTol * c.energy);
  }
}

TEST(LevelTest, NotANumberStaysNotANumber) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_TRUE(std::isnan(epeg(nan)));
  EXPECT_TRUE(std::isnan(lpeg(nan)));
  EXPECT_TRUE(std::isnan(lpeg_(nan)));
}

TEST(LevelTest, EnergyIsWithinOneUlpOfTheExtendedPower) {
  // The rounding of 0.1*L in double alone would cost up to hundreds of ulps near 200 dB.
  for (double level = -999; level <= 220; level += 0.0173) {
    const double reference = static_cast<double>(std::pow(10.0L, 0.1L * level));
    ASSERT_LE(std::fabs(epeg(level) - reference), std::nextafter(reference, HUGE_VAL) - reference) << level;
  }
}

TEST(LevelTest, LevelOfEnergy) {
  struct Case {
    double energy;
    float level;
  };
  const Case cases[] = {
      {0, -1000.0f}, {-1, -1000.0f}, {-1e-300, -1000.0f}, {1, 0.0f},
      {10, 10.0f},   {2, 3.0103f},   {1e-100, -1000.0f},  {1e-300, -3000.0f},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.energy);
    EXPECT_FLOAT_EQ(c.level, lpeg(c.energy));
  }
  EXPECT_EQ(-1000.0, lpeg_(0));
  EXPECT_EQ(-1000.0, lpeg_(-5));
  EXPECT_EQ(0.0, lpeg_(1));
  EXPECT_DOUBLE_EQ(10 * std::log10(2.0), lpeg_(2));
  EXPECT_DOUBLE_EQ(-73.5, lpeg_(std::pow(10.0, -7.35)));
}

TEST(LevelTest, RoundTripAndEnergeticSums) {
  for (int tenths = -9990; tenths <= 2200; tenths += 7) {
    const double level = tenths / 10.0;
    SCOPED_TRACE(level);
    const double energy = epeg(level);
    EXPECT_NEAR(level, lpeg_(energy), 1e-11);
    // lpeg agrees with lpeg_ to float precision.
    EXPECT_FLOAT_EQ(static_cast<float>(lpeg_(energy)), lpeg(energy));
  }
  // Two equal levels add 3.01 dB, ten add 10 dB; a level 20 dB below barely counts.
  EXPECT_NEAR(63.0103, lpeg(epeg(60) + epeg(60)), 1e-4);
  double ten = 0;
  for (int i = 0; i < 10; ++i) ten += epeg(45);
  EXPECT_NEAR(55.0, lpeg(ten), 1e-5);
  EXPECT_NEAR(70.0432, lpeg(epeg(70) + epeg(50)), 1e-4);
  // Levels at the floor add nothing.
  EXPECT_FLOAT_EQ(50.0f, lpeg(epeg(50) + epeg(-1000) + epeg(lpeg(0))));
}

}  // namespace
}  // namespace vez

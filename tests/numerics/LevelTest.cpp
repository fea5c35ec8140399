#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "numerics/Analysis.h"

namespace vez {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

TEST(Level, FloorsAndCaps) {
  const struct {
    double level, energy, relTol;
  } energies[] = {
      {0, 1, 0},           {10, 10, 1e-15},    {-10, 0.1, 1e-15},   {-999, 1.2589254117941673e-100, 1e-14},
      {-999.5, 0, 0},      {-HUGE_VAL, 0, 0},  {220, 1e22, 1e-15},  {220.1, 1e23, 0},  // the cap, not 10^22.01
      {HUGE_VAL, 1e23, 0},
  };
  for (const auto& c : energies) EXPECT_NEAR(c.energy, epeg(c.level), c.relTol * c.energy) << c.level;
  const struct {
    double energy;
    float level;
  } levels[] = {{0, -1000.0f}, {-1, -1000.0f}, {-1e-300, -1000.0f}, {1, 0.0f}, {2, 3.0103f}, {1e-300, -3000.0f}};
  for (const auto& c : levels) {
    EXPECT_FLOAT_EQ(c.level, lpeg(c.energy)) << c.energy;
    EXPECT_NEAR(c.level, lpeg_(c.energy), 1e-4) << c.energy;
  }
  EXPECT_TRUE(std::isnan(epeg(kNaN)) && std::isnan(lpeg(kNaN)) && std::isnan(lpeg_(kNaN)));
}

TEST(Level, EnergyIsWithinOneUlpOfTheExtendedPower) {
  // The rounding of 0.1*L in double alone would cost up to hundreds of ulps near 200 dB.
  for (double level = -999; level <= 220; level += 0.0173) {
    const double reference = static_cast<double>(std::pow(10.0L, 0.1L * level));
    ASSERT_LE(std::fabs(epeg(level) - reference), std::nextafter(reference, HUGE_VAL) - reference) << level;
  }
}

TEST(Level, RoundTripAndEnergeticSums) {
  for (int tenths = -9990; tenths <= 2200; tenths += 7) {
    const double level = tenths / 10.0;
    EXPECT_NEAR(level, lpeg_(epeg(level)), 1e-11) << level;
    EXPECT_FLOAT_EQ(static_cast<float>(lpeg_(epeg(level))), lpeg(epeg(level))) << level;
  }
  // Two equal levels add 3.01 dB, ten add 10 dB, one 20 dB below adds 0.04 dB, the floor adds nothing.
  EXPECT_NEAR(63.0103, lpeg(epeg(60) + epeg(60)), 1e-4);
  EXPECT_NEAR(55.0, lpeg(10 * epeg(45)), 1e-5);
  EXPECT_NEAR(70.0432, lpeg(epeg(70) + epeg(50)), 1e-4);
  EXPECT_FLOAT_EQ(50.0f, lpeg(epeg(50) + epeg(-1000) + epeg(lpeg(0))));
}

}  // namespace
}  // namespace vez

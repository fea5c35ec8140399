#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "numerics/Analysis.h"

namespace vez {
namespace {

TEST(Level, FloorsAndCaps) {
  const std::pair<double, double> energies[] = {{-999, 1.2589254117941673e-100}, {-999.5, 0}, {-HUGE_VAL, 0},
                                                {220, 1e22}, {220.1, 1e23}, {HUGE_VAL, 1e23}};
  for (const auto& [level, energy] : energies) EXPECT_NEAR(energy, epeg(level), 1e-14 * energy) << level;
  const std::pair<double, float> levels[] = {{0, -1000.0f}, {-1e-300, -1000.0f}, {2, 3.0103f}, {1e-300, -3000.0f}};
  for (const auto& [energy, level] : levels) {
    EXPECT_FLOAT_EQ(level, lpeg(energy)) << energy;
    EXPECT_NEAR(level, lpeg_(energy), 1e-4) << energy;
  }
  const double nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_TRUE(std::isnan(epeg(nan)) && std::isnan(lpeg(nan)) && std::isnan(lpeg_(nan)));
}

// epeg within 1 ulp of the long double power (0.1*L rounded in double alone costs hundreds of ulps near
// 200 dB), and lpeg_/lpeg undo it.
TEST(Level, EnergyRoundTrip) {
  for (double level = -999; level <= 220; level += 0.0173) {
    const double reference = static_cast<double>(std::pow(10.0L, 0.1L * level));
    ASSERT_LE(std::fabs(epeg(level) - reference), std::nextafter(reference, HUGE_VAL) - reference) << level;
    ASSERT_NEAR(level, lpeg_(epeg(level)), 1e-11) << level;
    ASSERT_FLOAT_EQ(static_cast<float>(lpeg_(epeg(level))), lpeg(epeg(level))) << level;
  }
  EXPECT_NEAR(70.0432, lpeg(epeg(70) + epeg(50)), 1e-4);
}

}  // namespace
}  // namespace vez

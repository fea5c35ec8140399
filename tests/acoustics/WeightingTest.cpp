#include <gtest/gtest.h>

#include <cmath>

#include "TestUtil.h"
#include "acoustics/Bands.h"
#include "core/Exceptions.h"

namespace vez {
namespace {

// Weighting responses from the pole frequencies of the standards, normalised to 0 dB at 1 kHz.
// A and C after IEC 61672-1, B after IEC 60651.
constexpr double kF1 = 20.598997, kF2 = 107.65265, kF3 = 737.86223, kF4 = 12194.217, kF5 = 158.48932;

double Gain(char filter, double f) {
  const double f2 = f * f, poles = (f2 + kF1 * kF1) * (f2 + kF4 * kF4);
  switch (filter) {
    case 'A': return 20 * std::log10(kF4 * kF4 * f2 * f2 / (poles * std::sqrt((f2 + kF2 * kF2) * (f2 + kF3 * kF3))));
    case 'B': return 20 * std::log10(kF4 * kF4 * f2 * f / (poles * std::sqrt(f2 + kF5 * kF5)));
    default: return 20 * std::log10(kF4 * kF4 * f2 / poles);
  }
}

TEST(Weighting, AgreesWithTheStandardsAtTheExactBandCentres) {
  for (char filter : {'A', 'B', 'C'}) {
    for (int k = 1; k <= 30; ++k) {
      const double reference = Gain(filter, 1000.0 * std::pow(10.0, (k - 17) / 10.0)) - Gain(filter, 1000.0);
      EXPECT_NEAR(reference, dBFilterDifferenz(filter, terzen[k]), 0.06) << filter << " " << terzen[k] << " Hz";
    }
  }
  // D weighting is the suite's own table: its peak at 4 kHz and its zero at 1 kHz.
  EXPECT_EQ(11.0f, dBFilterDifferenz('D', 4000));
  EXPECT_EQ(0.0f, dBFilterDifferenz('D', 1000));
}

// Any frequency takes the weighting of its third-octave band, except 35 Hz, which the weighting grid puts
// into the 31.5 Hz band; letters are read without regard to case; " " and "_" weigh nothing.
TEST(Weighting, FrequenciesAndLetters) {
  const std::pair<std::uint16_t, int> cases[] = {{0, 1}, {28, 1}, {35, 2}, {36, 3}, {999, 17}, {17960, 30},
                                                 {65535, 30}};
  for (const auto& [frequency, band] : cases) {
    for (char filter : {'A', 'B', 'C', 'D'}) {
      EXPECT_EQ(dBFilterDifferenz(filter, terzen[band]), dBFilterDifferenz(filter, frequency)) << filter << frequency;
      EXPECT_EQ(dBFilterDifferenz(filter, frequency), dBFilterDifferenz(static_cast<char>(filter + 32), frequency));
    }
    EXPECT_EQ(0.0f, dBFilterDifferenz(' ', frequency) + dBFilterDifferenz('_', frequency));
  }
  EXPECT_EQ(-39.4f, dBFilterDifferenz('A', 35));
  for (int c = -128; c <= 127; ++c) {
    const char filter = static_cast<char>(c);
    if (filter == ' ' || filter == '_' || (filter >= 'A' && filter <= 'D') || (filter >= 'a' && filter <= 'd'))
      continue;
    EXPECT_THROW_MSG(dBFilterDifferenz(filter, 25), Exception, "Wrong Filter");
  }
}

}  // namespace
}  // namespace vez

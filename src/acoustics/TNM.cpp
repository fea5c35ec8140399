#include "acoustics/TNM.h"

#include <cmath>

#include "acoustics/Bands.h"
#include "numerics/Analysis.h"

namespace vez {

namespace {

constexpr long double kMilesPerKm = 0.6214L;
constexpr int kPolynomialTerms = 7;  // x^0 .. x^6

// x^0 .. x^6 of x = log10(f) for the 24 band centres f = terzen[4] .. terzen[27], in long double.
using BandPowers = std::array<std::array<long double, kPolynomialTerms>, kTNMBandCount>;

const BandPowers& TNMBandPowers() {
  static const BandPowers powers = [] {
    BandPowers p{};
    for (int k = 0; k < kTNMBandCount; ++k) {
      const long double x = std::log10(static_cast<long double>(terzen[k + 4]));
      long double xn = 1.0L;
      for (int j = 0; j < kPolynomialTerms; ++j) {
        p[static_cast<std::size_t>(k)][static_cast<std::size_t>(j)] = xn;
        xn *= x;
      }
    }
    return p;
  }();
  return powers;
}

}  // namespace

std::string TNMFieldName(TTNMCoefficient Coef, TFullThrottle FullThrottle, TPavementType Pavement) {
  std::string name(TNMCoefficientNames.at(Coef));
  name += "(FT";
  name += FTStr.at(FullThrottle);
  name += ",PT";
  name += PTstr.at(Pavement);
  name += ')';
  return name;
}

void TTNMEmisConsts::SetTNMConstants(TBaseVehType VehType, TPavementType NewPavement, bool KeepLevels) {
  Pavement = NewPavement;
  for (TFullThrottle t : {ftNo, ftYes}) {
    if (!KeepLevels) {
      for (int c = tcA; c <= tcC; ++c) {
        Coef(static_cast<TTNMCoefficient>(c), t) = TNMVehicleALevels[VehType][NewPavement][t][c - tcA];
      }
    }
    for (int c = tcD1; c <= tcJ2; ++c) {
      Coef(static_cast<TTNMCoefficient>(c), t) = TNMVehicleSpectra[VehType][NewPavement][t][c - tcD1];
    }
    for (int c = tcL; c <= tcQ; ++c) {
      Coef(static_cast<TTNMCoefficient>(c), t) = TNMSubsourceSplit[VehType][t][c - tcL];
    }
  }
}

void TTNMEmisConsts::CalcSumAndSpectrum(TFullThrottle t, float Speed, float& Sum, float* Spectrum) const {
  // Polynomial coefficients of the speed-independent (1) and speed-dependent (2) parts, widened.
  long double c1[kPolynomialTerms];
  long double c2[kPolynomialTerms];
  for (int j = 0; j < kPolynomialTerms; ++j) {
    c1[j] = Coef(static_cast<TTNMCoefficient>(tcD1 + 2 * j), t);
    c2[j] = Coef(static_cast<TTNMCoefficient>(tcD2 + 2 * j), t);
  }

  // The A-weighted level: speed term (in mph) plus the idle level, energetically.
  const long double speedTerm = std::pow(kMilesPerKm * Speed, 0.1L * Coef(tcA, t));
  const float levelA =
      lpeg(static_cast<double>(speedTerm * epeg(Coef(tcB, t)) + static_cast<long double>(epeg(Coef(tcC, t)))));

  const BandPowers& powers = TNMBandPowers();
  float sum = 0.0f;
  for (std::size_t k = 0; k < kTNMBandCount; ++k) {
    long double p1 = 0.0L;
    long double p2 = 0.0L;
    for (std::size_t j = 0; j < kPolynomialTerms; ++j) {
      p1 += c1[j] * powers[k][j];
      p2 += c2[j] * powers[k][j];
    }
    const float s1 = static_cast<float>(p1);
    const float s2 = static_cast<float>(kMilesPerKm * p2);
    const float level = static_cast<float>(static_cast<double>(s2) * Speed + s1 + levelA);
    Spectrum[k] = level;
    sum = static_cast<float>(sum + epeg(level));
  }
  Sum = lpeg(sum);
}

}  // namespace vez

#include "acoustics/TNM.h"

#include <cmath>
#include <cstring>

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

// The speed-independent and speed-dependent band shapes S1 and S2 of one set of spectral coefficients
// D1, D2, ..., J1, J2: the polynomials in x = log10(f) evaluated in long double and stored as float.
constexpr int kShapeCoefficients = 2 * kPolynomialTerms;
struct BandShape {
  std::array<float, kShapeCoefficients> coefficients{};
  TTNMSpectrum s1{}, s2{};
  bool valid = false;
};

void EvaluateShape(BandShape& shape) {
  const BandPowers& powers = TNMBandPowers();
  for (std::size_t k = 0; k < kTNMBandCount; ++k) {
    long double p1 = 0.0L;
    long double p2 = 0.0L;
    for (std::size_t j = 0; j < kPolynomialTerms; ++j) {
      p1 += static_cast<long double>(shape.coefficients[2 * j]) * powers[k][j];
      p2 += static_cast<long double>(shape.coefficients[2 * j + 1]) * powers[k][j];
    }
    shape.s1[k] = static_cast<float>(p1);
    shape.s2[k] = static_cast<float>(kMilesPerKm * p2);
  }
  shape.valid = true;
}

// The shapes depend on the coefficients only, while callers sweep speeds (and segments) with the same few
// coefficient sets. So the last eight sets seen are kept per thread, keyed by the coefficients' bits: an entry
// can never be stale, and no two threads share one.
const BandShape& TNMBandShape(const std::array<float, kShapeCoefficients>& coefficients) {
  struct Cache {
    std::array<BandShape, 8> entries;
    std::size_t next = 0;
  };
  thread_local Cache cache;
  for (const BandShape& e : cache.entries) {
    if (e.valid && std::memcmp(e.coefficients.data(), coefficients.data(), sizeof coefficients) == 0) return e;
  }
  BandShape& e = cache.entries[cache.next];
  cache.next = (cache.next + 1) % cache.entries.size();
  e.coefficients = coefficients;
  EvaluateShape(e);
  return e;
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
  std::array<float, kShapeCoefficients> shape;
  for (int j = 0; j < kShapeCoefficients; ++j) shape[static_cast<std::size_t>(j)] = Coef(TTNMCoefficient(tcD1 + j), t);
  const BandShape& bands = TNMBandShape(shape);

  // The A-weighted level: speed term (in mph) plus the idle level, energetically. The power is taken in double
  // precision: the long double power of the C library costs some fifty times as much (more than all the rest
  // of a spectrum), and the digits it adds lie twelve orders of magnitude below the float resolution of the
  // level this term ends in.
  const double speedTerm =
      std::pow(static_cast<double>(kMilesPerKm * Speed), 0.1 * static_cast<double>(Coef(tcA, t)));
  const float levelA =
      lpeg(static_cast<double>(static_cast<long double>(speedTerm) * epeg(Coef(tcB, t)) + epeg(Coef(tcC, t))));

  float sum = 0.0f;
  for (std::size_t k = 0; k < kTNMBandCount; ++k) {
    const float level = static_cast<float>(static_cast<double>(bands.s2[k]) * Speed + bands.s1[k] + levelA);
    Spectrum[k] = level;
    sum = static_cast<float>(sum + epeg(level));
  }
  Sum = lpeg(sum);
}

}  // namespace vez

// The TNM emission model against the published FHWA TNM constants and an evaluation of the published formula
// written here on its own: double precision, Horner polynomials, plain pow and log10.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "TestUtil.h"

#include "acoustics/TNM.h"

namespace vez {
namespace {

// The published constants of one vehicle type, pavement and throttle state, rounded to float as the model
// stores them (with coefficients near 20000 multiplied by up to 4^6, that rounding moves the upper bands by up
// to 0.02 dB, so the evaluation below starts from the same float constants).
// The 22 constants in the order of TTNMCoefficient: A, B, C, the 14 shape terms D1 ... J2, the split L ... Q.
using Published = std::array<double, kTNMCoefficientCount>;

Published Lookup(TBaseVehType v, TPavementType p, TFullThrottle t) {
  const std::vector<std::string> vehicles = {"Au", "MT", "HT", "Bus", "MC"}, pavements = {"Avg", "DGAC", "OGAC", "PCC"},
                                 throttles = {"No", "Yes"};
  const auto names = [](const std::string& list, const std::string& name) {
    return ("+" + list + "+").find("+" + name + "+") != std::string::npos;
  };
  std::ifstream in(test::DataPath("tnm/published.txt"));
  Published r{};
  int found = 0;
  for (std::string line; std::getline(in, line);) {
    std::istringstream row(line);
    std::string kind, vehicle, pavement, throttle;
    row >> kind >> vehicle;
    if (kind.starts_with("#") || vehicle != vehicles[v]) continue;
    if (kind == "level" && row >> pavement && pavement == pavements[p]) {
      double bCruise, cCruise, bFull, cFull;
      row >> r[tcA] >> bCruise >> cCruise >> bFull >> cFull;
      r[tcB] = t == ftYes ? bFull : bCruise;
      r[tcC] = t == ftYes ? cFull : cCruise;
    } else if (kind == "shape" && row >> pavement >> throttle && names(pavement, pavements[p]) &&
               names(throttle, throttles[t])) {
      for (int j = tcD1; j <= tcJ2; ++j) row >> r[j];
    } else if (kind == "split" && row >> throttle && throttle == throttles[t]) {
      for (int j = tcL; j <= tcQ; ++j) row >> r[j];
    } else {
      continue;
    }
    EXPECT_TRUE(row) << line;
    ++found;
  }
  EXPECT_EQ(found, 3) << "published rows for " << vehicles[v] << " " << pavements[p] << " " << throttles[t];
  for (int j = tcA; j <= tcJ2; ++j) r[j] = static_cast<float>(r[j]);
  return r;
}

// The published TNM formula, L(f) = EA + (D1 + E1 x + ... + J1 x^6) + 0.6214 v (D2 + E2 x + ... + J2 x^6) with
// x = lg f and EA = 10 lg((0.6214 v)^(A/10) 10^(B/10) + 10^(C/10)), v in km/h, written out here on its own in the
// model's precision: the two band shapes and EA rounded to float, each band level one float rounding of the sum,
// the energies of the bands accumulated in float.
std::vector<float> Formula(const Published& k, float kmh, float& sum) {
  using LD = long double;
  const auto energy = [](LD level) { return static_cast<double>(std::pow(10.0L, 0.1L * level)); };
  const auto level = [](LD e) { return static_cast<float>(10 * std::log10(e)); };
  const float ea = level(std::pow(0.6214L * kmh, 0.1L * k[tcA]) * energy(k[tcB]) + energy(k[tcC]));
  const double hz[24] = {50,   63,   80,   100,  125,  160,  200,  250,  315,  400,  500,  630,
                         800,  1000, 1250, 1600, 2000, 2500, 3150, 4000, 5000, 6300, 8000, 10000};
  std::vector<float> levels;
  float energies = 0;
  for (double f : hz) {
    const LD x = std::log10(static_cast<LD>(f));
    LD fixed = 0, perSpeed = 0;
    for (int j = 6; j >= 0; --j) {
      fixed = fixed * x + k[tcD1 + 2 * j];
      perSpeed = perSpeed * x + k[tcD2 + 2 * j];
    }
    const float s1 = static_cast<float>(fixed), s2 = static_cast<float>(0.6214L * perSpeed);
    levels.push_back(static_cast<float>(static_cast<LD>(s2) * kmh + s1 + ea));
    energies = static_cast<float>(energies + energy(levels.back()));
  }
  sum = level(energies);
  return levels;
}

TEST(TNMTest, CheckValueAutomobilesAveragePavementCruise100) {
  TTNMEmisConsts consts;
  consts.SetTNMConstants(vtAu, ptAvg, false);
  // Every spectral term zero (both throttle states): each band is the A-weighted level EA itself.
  for (int c = tcD1; c <= tcJ2; ++c) consts.Coef(TTNMCoefficient(c), ftNo) = consts.Coef(TTNMCoefficient(c), ftYes) = 0;
  TTNMSpectrum bands{};
  float sum = 0;
  consts.CalcSumAndSpectrum(ftNo, 100, sum, bands);
  // 10 lg(62.14^4.174087 * 10^0.1148546 + 10^5.0128315) = 76.017 dB.
  for (float level : bands) EXPECT_NEAR(level, 76.017, 0.001);
  EXPECT_NEAR(sum, 76.017 + 10 * std::log10(24.0), 0.001);
  // Full throttle takes its own A (here changed to 3): 10 lg(62.14^3 * 10^0.1148546 + 10^6.7).
  consts.Coef(tcA, ftYes) = 30;
  consts.CalcSumAndSpectrum(ftYes, 100, sum, bands);
  EXPECT_NEAR(bands[0], 10 * std::log10(std::pow(62.14, 3) * std::pow(10, 0.1148546) + std::pow(10, 6.7)), 0.001);
}

// Every vehicle, pavement and throttle state: the stored constants are the published ones, and the 24 band
// levels and their sum are those of the formula, to the last bit, at 0 (the idle level C), 30, 100 and 130 km/h.
TEST(TNMTest, ReferenceConstantsAndSpectraAgreeWithThePublishedFormula) {
  for (TBaseVehType v : {vtAu, vtMT, vtHT, vtBus, vtMC}) {
    for (TPavementType p : {ptAvg, ptDGAC, ptOGAC, ptPCC}) {
      TTNMEmisConsts consts;
      consts.SetTNMConstants(v, p, false);
      EXPECT_EQ(consts.Pavement, p);
      for (TFullThrottle t : {ftNo, ftYes}) {
        SCOPED_TRACE(testing::Message() << "vehicle " << int(v) << " pavement " << int(p) << " throttle " << int(t));
        const Published k = Lookup(v, p, t);
        for (int j = 0; j < kTNMCoefficientCount; ++j)
          EXPECT_EQ(consts.Coef(TTNMCoefficient(j), t), float(k[j])) << j;
        for (float kmh : {0.0f, 30.0f, 100.0f, 130.0f}) {
          float expectedSum = 0;
          const std::vector<float> expected = Formula(k, kmh, expectedSum);
          TTNMSpectrum bands{};
          float sum = 0;
          consts.CalcSumAndSpectrum(t, kmh, sum, bands);
          EXPECT_EQ(expected, std::vector<float>(bands.begin(), bands.end())) << kmh << " km/h";
          EXPECT_EQ(sum, expectedSum) << kmh << " km/h";
        }
      }
    }
  }
}

TEST(TNMTest, KeepLevelsKeepsABCAndResetsTheRestAndFieldNames) {
  TTNMEmisConsts consts;
  consts.Coefficients.fill(1.5f);
  consts.BaseVT = vtBus;
  consts.Nr = 7;
  consts.SetTNMConstants(vtMT, ptDGAC, true);
  for (TFullThrottle t : {ftNo, ftYes}) {
    for (int c = tcA; c <= tcC; ++c) EXPECT_EQ(consts.Coef(TTNMCoefficient(c), t), 1.5f);
    EXPECT_EQ(consts.Coef(tcD1, t), TNMVehicleSpectra[vtMT][ptDGAC][t][0]);
    EXPECT_EQ(consts.Coef(tcQ, t), TNMSubsourceSplit[vtMT][t][4]);
  }
  EXPECT_EQ(std::tuple(vtBus, 7, ptDGAC), std::tuple(consts.BaseVT, consts.Nr, consts.Pavement));
  EXPECT_EQ("D1(FTYes,PTOGAC) Q(FTYes,PTPCC)",
            TNMFieldName(tcD1, ftYes, ptOGAC) + " " + TNMFieldName(tcQ, ftYes, ptPCC));
}

}  // namespace
}  // namespace vez

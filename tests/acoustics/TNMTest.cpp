// The TNM emission model against the published FHWA TNM constants and an evaluation of the published formula
// written here on its own: double precision, Horner polynomials, plain pow and log10.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "acoustics/TNM.h"

namespace vez {
namespace {

struct LevelRow {
  TBaseVehType vehicle;
  TPavementType pavement;
  double a, bCruise, cCruise, bFull, cFull;
};
struct ShapeRow {
  TBaseVehType vehicle;
  unsigned pavements;  // bit p for TPavementType p
  unsigned throttles;  // bit t for TFullThrottle t
  double c[14];        // D1, D2, E1, E2, ..., J1, J2
};
struct SplitRow {
  TBaseVehType vehicle;
  TFullThrottle throttle;
  double c[5];  // L, M, N, P, Q
};

// clang-format off
// A, B, C per vehicle and pavement: {vehicle, pavement, A, B cruise, C cruise, B full, C full}.
constexpr LevelRow kLevels[] = {
    {vtAu, ptAvg, 41.74087, 1.148546, 50.128315, 1.148546, 67},
    {vtAu, ptDGAC, 41.74087, 0.494698, 50.128315, 0.494698, 67},
    {vtAu, ptOGAC, 41.74087, -1.065026, 50.128315, -1.065026, 67},
    {vtAu, ptPCC, 41.74087, 3.520004, 50.128315, 3.520004, 67},
    {vtMT, ptAvg, 33.918713, 20.591045, 68.002975, 20.591045, 74},
    {vtMT, ptDGAC, 33.918713, 19.903774, 68.002975, 19.903774, 74},
    {vtMT, ptOGAC, 33.918713, 19.345215, 68.002975, 19.345215, 74},
    {vtMT, ptPCC, 33.918713, 22.141611, 68.002975, 22.141611, 74},
    {vtHT, ptAvg, 35.87985, 21.019665, 74.298134, 21.019665, 80},
    {vtHT, ptDGAC, 35.87985, 20.358498, 74.298134, 20.358498, 80},
    {vtHT, ptOGAC, 35.87985, 19.107151, 74.298134, 19.107151, 80},
    {vtHT, ptPCC, 35.87985, 21.822819, 74.298134, 21.822819, 80},
    {vtBus, ptAvg, 23.47953, 38.006237, 68.002975, 38.00624, 74},
    {vtBus, ptDGAC, 23.47953, 37.318966, 68.002975, 37.318966, 74},
    {vtBus, ptOGAC, 23.47953, 36.760406, 68.002975, 36.760406, 74},
    {vtBus, ptPCC, 23.47953, 39.556805, 68.002975, 39.556805, 74},
    {vtMC, ptAvg, 41.02254, 10.013879, 56.086098, 10.013879, 67},
    {vtMC, ptDGAC, 41.02254, 10.013879, 56.086098, 10.013879, 67},
    {vtMC, ptOGAC, 41.02254, 10.013879, 56.086098, 10.013879, 67},
    {vtMC, ptPCC, 41.02254, 10.013879, 56.086098, 10.013879, 67},
};

// Spectral rows as published: one row may stand for several pavements (bit p) and throttle states (bit t).
constexpr ShapeRow kShapes[] = {
    {vtAu, 0x1, 0x3, {-7516.58, -9.7623, 16460.1, 11.65932, -14823.9, -1.233347, 7009.4746, -4.327918, -1835.1898, 2.579086, 252.41855, -0.573822, -14.268316, 0.045682}},
    {vtAu, 0x2, 0x3, {-7313.986, -19.69702, 16009.5, 34.3639, -14414.4, -22.462942, 6814.3174, 6.093141, -1783.724, -0.252834, 245.29956, -0.170266, -13.86487, 0.022131}},
    {vtAu, 0x4, 0x3, {-9549.988, -146.17348, 21064, 340.62268, -19060.8, -324.80295, 9032.991, 161.88658, -2363.8105, -44.454426, 324.07724, 6.378783, -18.21167, -0.373971}},
    {vtAu, 0x8, 0x3, {-2027.8376, -70.67456, 3728.329, 155.10957, -2768.0015, -138.78093, 1030.5414, 64.52577, -195.32455, -16.430317, 16.4189, 2.17435, -0.339616, -0.117021}},
    {vtMT, 0x1, 0x1, {-1238.3536, -68.21894, 2532.437, 151.7815, -2124.1658, -140.38841, 919.7843, 68.54546, -215.7454, -18.551233, 25.909788, 2.634001, -1.244253, -0.153272}},
    {vtMT, 0xf, 0x2, {-8997.975, 96.301704, 19015.4, -196.24174, -16587, 162.56952, 7627.8745, -70.39458, -1950.4124, 16.876825, 263.09348, -2.132793, -14.645109, 0.111404}},
    {vtMT, 0x2, 0x1, {-230.44002, -82.783195, 172.72504, 186.80144, 131.65582, -174.71825, -207.6648, 86.12481, 95.139145, -23.513441, -18.96669, 3.366475, 1.407549, -0.197472}},
    {vtMT, 0x4, 0x1, {-234.71135, -103.147896, 162.03613, 244.03365, 133.97095, -237.86769, -196.61368, 121.52797, 87.517296, -34.22236, -17.12562, 5.031804, 1.253128, -0.301914}},
    {vtMT, 0x8, 0x1, {-139.27718, -132.2071, 97.35794, 296.5748, 65.35012, -273.98145, -104.555275, 132.85439, 47.637333, -35.600555, -9.424641, 4.997542, 0.689877, -0.287335}},
    {vtHT, 0x1, 0x1, {1468.4407, -235.31912, -3852.3933, 537.9815, 3886.4307, -502.16006, -1986.8588, 244.71495, 549.00226, -65.686554, -78.239426, 9.217734, 4.509121, -0.529106}},
    {vtHT, 0x1, 0x2, {-6864.587, -94.379845, 14368.7, 226.70137, -12459.2, -220.01541, 5710.526, 110.51882, -1458.3405, -30.365892, 196.81114, 4.33716, -10.977676, -0.252197}},
    {vtHT, 0x2, 0x1, {-290.27704, -196.82892, 156.85489, 450.14468, 151.082, -420.25006, -168.0337, 204.80684, 60.77294, -54.968445, -9.681901, 7.711617, 0.570105, -0.442469}},
    {vtHT, 0xe, 0x2, {-6864.587, -94.379845, 14368.7, 226.70137, -12459.2, -220.01541, 5710.526, 110.51882, -1458.3405, -30.365892, 196.81114, 4.337165, -10.977676, -0.252197}},
    {vtHT, 0x4, 0x1, {-258.94135, -255.20595, 135.51422, 587.4899, 132.97371, -552.8242, -151.36653, 272.10266, 57.66924, -73.912735, -9.928293, 10.514055, 0.649271, -0.612569}},
    {vtHT, 0x8, 0x1, {87.37834, -224.13231, -497.41043, 509.70526, 579.58405, -473.3266, -298.569, 229.5809, 78.02158, -61.37404, -10.058424, 8.58403, 0.498685, -0.49149}},
    {vtBus, 0xf, 0x3, {4621.365, -123.140564, -11601.5, 284.79617, 11535.3, -267.62305, -5896.461, 130.8225, 1645.797, -35.13902, -238.92996, 4.927783, 14.139828, -0.2825557}},
    {vtMC, 0xf, 0x3, {7546.659, -8.870177, -17396, 7.899209, 16181.8, 2.526152, -7828.6323, -5.314462, 2085.4685, 2.344913, -290.81656, -0.435913, 16.614042, 0.03005}},
};

constexpr SplitRow kSplits[] = {
    {vtAu, ftNo, {0.373239, 0.976378, -13.195596, 39.4913, -2.583128}},
    {vtAu, ftYes, {0.373239, 0.976378, -13.195596, 39.4913, -2.583128}},
    {vtMT, ftNo, {0.566933, 0.93352, -25.497631, 80.23998, -0.234435}},
    {vtMT, ftYes, {0.579261, 0.871354, -177.2492, 558.9803, -0.026532}},
    {vtHT, ftNo, {0.85, -0.33, 163.021, -492.451, -58.005}},
    {vtHT, ftYes, {1.33, 0.08, -204.844, 592.568, -159.344}},
    {vtBus, ftNo, {0.563097, 0.928086, -31.517738, 99.09978, -0.263459}},
    {vtBus, ftYes, {0.579261, 0.871354, -177.2492, 558.9803, -0.026532}},
    {vtMC, ftNo, {0.391352, 0.978407, -19.278172, 60.404842, -0.614295}},
    {vtMC, ftYes, {0.391352, 0.978407, -19.278172, 60.404842, -0.614295}},
};
// clang-format on

// The model's constants are single-precision numbers: the published digits rounded to float. With
// coefficients near 20000 multiplied by up to 4^6, that rounding moves the upper bands by up to 0.02 dB, so the
// evaluation below starts from the same float constants.
struct Published {
  double a = 0, b = 0, c = 0;
  double shape[14] = {};
};

double Single(double published) { return static_cast<float>(published); }

Published Lookup(TBaseVehType v, TPavementType p, TFullThrottle t) {
  Published r;
  int found = 0;
  for (const LevelRow& row : kLevels) {
    if (row.vehicle != v || row.pavement != p) continue;
    r.a = Single(row.a);
    r.b = Single(t == ftYes ? row.bFull : row.bCruise);
    r.c = Single(t == ftYes ? row.cFull : row.cCruise);
    ++found;
  }
  for (const ShapeRow& row : kShapes) {
    if (row.vehicle != v || !(row.pavements >> p & 1u) || !(row.throttles >> t & 1u)) continue;
    for (int j = 0; j < 14; ++j) r.shape[j] = Single(row.c[j]);
    ++found;
  }
  EXPECT_EQ(found, 2) << "published rows for " << int(v) << "/" << int(p) << "/" << int(t);
  return r;
}

// The published TNM formula: L(f) = EA + (D1 + E1 x + ... + J1 x^6) + 0.6214 v (D2 + E2 x + ... + J2 x^6)
// with x = log10 f, EA = 10 lg((0.6214 v)^(A/10) 10^(B/10) + 10^(C/10)), v in km/h.
std::vector<double> Formula(const Published& k, double kmh, double& sum) {
  const double mph = 0.6214 * kmh;
  const double ea = 10 * std::log10(std::pow(mph, k.a / 10) * std::pow(10.0, k.b / 10) + std::pow(10.0, k.c / 10));
  const double hz[24] = {50,   63,   80,   100,  125,  160,  200,  250,  315,  400,  500,  630,
                         800,  1000, 1250, 1600, 2000, 2500, 3150, 4000, 5000, 6300, 8000, 10000};
  std::vector<double> levels;
  double energy = 0;
  for (double f : hz) {
    const double x = std::log10(f);
    double fixed = 0, perSpeed = 0;
    for (int j = 6; j >= 0; --j) {
      fixed = fixed * x + k.shape[2 * j];
      perSpeed = perSpeed * x + k.shape[2 * j + 1];
    }
    levels.push_back(ea + fixed + mph * perSpeed);
    energy += std::pow(10.0, levels.back() / 10);
  }
  sum = 10 * std::log10(energy);
  return levels;
}

TEST(TNMTest, CheckValueAutomobilesAveragePavementCruise100) {
  TTNMEmisConsts consts;
  consts.SetTNMConstants(vtAu, ptAvg, false);
  // Every spectral term zero: each band is the A-weighted level EA itself.
  for (int c = tcD1; c <= tcJ2; ++c) consts.Coef(TTNMCoefficient(c), ftNo) = 0;
  TTNMSpectrum bands{};
  float sum = 0;
  consts.CalcSumAndSpectrum(ftNo, 100, sum, bands);
  // 10 lg(62.14^4.174087 * 10^0.1148546 + 10^5.0128315) = 76.017 dB.
  for (float level : bands) EXPECT_NEAR(level, 76.017, 0.001);
  EXPECT_NEAR(sum, 76.017 + 10 * std::log10(24.0), 0.001);
}

// Every vehicle, pavement and throttle state: the stored constants are the published ones, and the 24 band
// levels and their sum agree with the formula at 0, 30, 100 and 130 km/h; at 0 km/h the level is the idle
// level C.
TEST(TNMTest, ReferenceConstantsAndSpectraAgreeWithThePublishedFormula) {
  for (TBaseVehType v : {vtAu, vtMT, vtHT, vtBus, vtMC}) {
    for (TPavementType p : {ptAvg, ptDGAC, ptOGAC, ptPCC}) {
      TTNMEmisConsts consts;
      consts.SetTNMConstants(v, p, false);
      EXPECT_EQ(consts.Pavement, p);
      for (TFullThrottle t : {ftNo, ftYes}) {
        SCOPED_TRACE(testing::Message() << "vehicle " << int(v) << " pavement " << int(p) << " throttle " << int(t));
        const Published k = Lookup(v, p, t);
        EXPECT_EQ(consts.Coef(tcA, t), float(k.a));
        EXPECT_EQ(consts.Coef(tcB, t), float(k.b));
        EXPECT_EQ(consts.Coef(tcC, t), float(k.c));
        for (int j = 0; j < 14; ++j) EXPECT_EQ(consts.Coef(TTNMCoefficient(tcD1 + j), t), float(k.shape[j])) << j;
        for (const SplitRow& row : kSplits) {
          if (row.vehicle != v || row.throttle != t) continue;
          for (int j = 0; j < 5; ++j) EXPECT_EQ(consts.Coef(TTNMCoefficient(tcL + j), t), float(row.c[j])) << j;
        }
        for (float kmh : {0.0f, 30.0f, 100.0f, 130.0f}) {
          double expectedSum = 0;
          const std::vector<double> expected = Formula(k, kmh, expectedSum);
          TTNMSpectrum bands{};
          float sum = 0;
          consts.CalcSumAndSpectrum(t, kmh, sum, bands);
          for (int i = 0; i < kTNMBandCount; ++i) EXPECT_NEAR(bands[i], expected[i], 0.01) << kmh << " km/h band " << i;
          EXPECT_NEAR(sum, expectedSum, 0.01) << kmh << " km/h";
          if (kmh == 0) {
            // Without the spectral terms every band is the A-weighted level, at standstill the idle level C.
            TTNMEmisConsts levelsOnly = consts;
            for (int c = tcD1; c <= tcJ2; ++c) levelsOnly.Coef(TTNMCoefficient(c), t) = 0;
            levelsOnly.CalcSumAndSpectrum(t, 0, sum, bands);
            EXPECT_NEAR(bands[0], k.c, 1e-4);
            EXPECT_NEAR(bands[23], k.c, 1e-4);
          }
        }
      }
    }
  }
}

TEST(TNMTest, KeepLevelsKeepsABCAndResetsTheRest) {
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
  EXPECT_EQ(consts.BaseVT, vtBus);
  EXPECT_EQ(consts.Nr, 7);
  EXPECT_EQ(consts.Pavement, ptDGAC);
}

TEST(TNMTest, FieldNames) {
  EXPECT_EQ(TNMFieldName(tcA, ftNo, ptAvg), "A(FTNo,PTAvg)");
  EXPECT_EQ(TNMFieldName(tcD1, ftYes, ptOGAC), "D1(FTYes,PTOGAC)");
  EXPECT_EQ(TNMFieldName(tcQ, ftYes, ptPCC), "Q(FTYes,PTPCC)");
}

}  // namespace
}  // namespace vez

// The TNM emission model over the sweep its callers run: 5 vehicle types x 4 pavements x speeds 10..130 km/h
// (cruise, 2420 spectra of 24 bands and their sum), through TTNMEmisConsts (SetTNMConstants once per vehicle
// and pavement, CalcSumAndSpectrum per speed) against a plain evaluation of the same formulas written
// straight from the published model (double precision, log10 per band, pow for every level).
//
// Both are timed in the same iteration on the thread's CPU clock, alternately, best of several rounds, and
// reported as spectra per second with the ratio class / plain (must stay at or below 1.2).
#include <benchmark/benchmark.h>
#include <time.h>

#include <algorithm>
#include <cmath>

#include "acoustics/Bands.h"
#include "acoustics/TNM.h"

namespace {

using namespace vez;

constexpr int kFirstSpeed = 10;
constexpr int kLastSpeed = 130;
constexpr int kSpectraPerSweep = 5 * 4 * (kLastSpeed - kFirstSpeed + 1);
constexpr int kSweepsPerRound = 20;
constexpr int kRounds = 7;

double ThreadSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + 1e-9 * static_cast<double>(ts.tv_nsec);
}

double ClassSweep() {
  double total = 0;
  TTNMSpectrum bands{};
  for (TBaseVehType v : {vtAu, vtMT, vtHT, vtBus, vtMC}) {
    for (TPavementType p : {ptAvg, ptDGAC, ptOGAC, ptPCC}) {
      TTNMEmisConsts consts;
      consts.SetTNMConstants(v, p, false);
      for (int kmh = kFirstSpeed; kmh <= kLastSpeed; ++kmh) {
        float sum = 0;
        consts.CalcSumAndSpectrum(ftNo, static_cast<float>(kmh), sum, bands);
        benchmark::DoNotOptimize(bands.data());
        total += sum;
      }
    }
  }
  return total;
}

double PlainSweep() {
  double total = 0;
  float bands[24];
  for (int v = 0; v < 5; ++v) {
    for (int p = 0; p < 4; ++p) {
      const float* level = TNMVehicleALevels[v][p][ftNo];
      const float* shape = TNMVehicleSpectra[v][p][ftNo];
      for (int kmh = kFirstSpeed; kmh <= kLastSpeed; ++kmh) {
        const double mph = 0.6214 * kmh;
        const double ea =
            10 * std::log10(std::pow(mph, level[0] / 10.0) * std::pow(10.0, level[1] / 10.0) +
                            std::pow(10.0, level[2] / 10.0));
        double energy = 0;
        for (int k = 0; k < 24; ++k) {
          const double x = std::log10(static_cast<double>(terzen[k + 4]));
          const double x2 = x * x, x3 = x2 * x, x4 = x3 * x, x5 = x4 * x, x6 = x5 * x;
          const double s1 = shape[0] + shape[2] * x + shape[4] * x2 + shape[6] * x3 + shape[8] * x4 +
                            shape[10] * x5 + shape[12] * x6;
          const double s2 = shape[1] + shape[3] * x + shape[5] * x2 + shape[7] * x3 + shape[9] * x4 +
                            shape[11] * x5 + shape[13] * x6;
          bands[k] = static_cast<float>(ea + s1 + mph * s2);
          energy += std::pow(10.0, bands[k] / 10.0);
        }
        benchmark::DoNotOptimize(bands);
        total += 10 * std::log10(energy);
      }
    }
  }
  return total;
}

template <typename Sweep>
double TimeRound(Sweep sweep) {
  const double start = ThreadSeconds();
  double sink = 0;
  for (int i = 0; i < kSweepsPerRound; ++i) sink += sweep();
  benchmark::DoNotOptimize(sink);
  return ThreadSeconds() - start;
}

void BM_TNMSweep(benchmark::State& state) {
  double classBest = 1e300, plainBest = 1e300;
  for (auto _ : state) {
    for (int r = 0; r < kRounds; ++r) {
      classBest = std::min(classBest, TimeRound(ClassSweep));
      plainBest = std::min(plainBest, TimeRound(PlainSweep));
    }
  }
  const double spectra = static_cast<double>(kSpectraPerSweep) * kSweepsPerRound;
  state.counters["class_spectra_per_s"] = spectra / classBest;
  state.counters["plain_spectra_per_s"] = spectra / plainBest;
  state.counters["ratio"] = classBest / plainBest;
}
BENCHMARK(BM_TNMSweep)->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace

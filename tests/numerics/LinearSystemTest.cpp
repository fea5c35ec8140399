#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>
#include <random>
#include <tuple>
#include <vector>

#include "numerics/Analysis.h"

namespace vez {
namespace {

using Vec = std::vector<double>;

// The residual of x in the (cyclic) symmetric tridiagonal system with diagonal a and off-diagonal b.
double MaxResidual(const Vec& a, const Vec& b, bool cyclic, const Vec& x, const Vec& r) {
  const std::size_t n = x.size();
  double worst = 0;
  for (std::size_t i = 0; i < n; ++i) {
    double row = a[i] * x[i];
    if (i + 1 < n || cyclic) row += b[i] * x[(i + 1) % n];
    if (i > 0 || cyclic) row += b[(i + n - 1) % n] * x[(i + n - 1) % n];
    worst = std::max(worst, std::fabs(row - r[i]));
  }
  return worst;
}

// Both solvers on random diagonally dominant systems with diagonals of either sign: the solution satisfies every
// equation. Exact-size vectors let the sanitizer build catch any access past element n (Tridis leaves b[n] alone).
TEST(LinearSystem, SolvesRandomSystems) {
  std::mt19937 rng(20240611);
  std::uniform_real_distribution<double> u(-1, 1);
  for (bool cyclic : {false, true}) {
    for (int n : {1, 2, 3, 4, 5, 8, 33, 300}) {
      if (cyclic && n < 3) continue;
      for (int trial = 0; trial < (n > 100 ? 2 : 20); ++trial) {
        Vec a(n), b(n), r(n);
        for (int i = 0; i < n; ++i) b[i] = u(rng), r[i] = 10 * u(rng);
        for (int i = 0; i < n; ++i) {
          const double margin = 0.5 + 3 * std::fabs(u(rng));
          a[i] = (u(rng) < 0 ? -1 : 1) * (std::fabs(b[i]) + std::fabs(b[(i + n - 1) % n]) + margin);
        }
        if (!cyclic) b.back() = 12345.0;
        const Vec a0 = a, b0 = b, r0 = r;
        int32_t err = -1;
        (cyclic ? Tripes : Tridis)(n, a.data(), b.data(), r.data(), 1e-12, err);
        ASSERT_EQ(kAnalysisOk, err) << n;
        ASSERT_LT(MaxResidual(a0, b0, cyclic, r, r0), 1e-10) << n << (cyclic ? " cyclic" : "");
        if (!cyclic) { EXPECT_EQ(12345.0, b.back()); }
      }
    }
  }
  auto v = std::make_unique<TVector>();  // the full-size vector runs from element 1
  (*v)[1] = 2, (*v)[kMaxVectorLength] = 3;
  EXPECT_EQ(std::pair(2.0, 3.0), std::pair(v->data()[0], v->data()[kMaxVectorLength - 1]));
}

// Pivots below Eps stop both solvers with error 2; regular systems here have the solution 1, 1, ...
TEST(LinearSystem, SmallPivotsAndTooSmallOrders) {
  EXPECT_EQ((std::array{0, 1, 2, 3, 11}),  // callers compare the codes as numbers
            (std::array{kAnalysisOk, kAnalysisTooFewPoints, kAnalysisSingular, kAnalysisOutOfRange, kAnalysisTension}));
  const std::tuple<bool, Vec, Vec, int32_t> cases[] = {
      {false, {1e-13, 1, 1}, {1, 1, 0}, kAnalysisSingular},
      {false, {1, 1, 4}, {1, 2, 0}, kAnalysisSingular},  // second pivot 1 - 1*1/1
      {false, {1e-12, 1, 1}, {0, 0, 0}, kAnalysisOk},    // a pivot equal to Eps is kept
      {false, {}, {}, kAnalysisTooFewPoints},                 {true, {1, 1, 4, 4}, {1, 1, 1, 1}, kAnalysisSingular},
      {true, {2, 2, 2, 2, 2}, {-1, -1, -1, -1, -1}, kAnalysisSingular},  // constant vector in the kernel
      {true, {4, 4, 4, 4, 4}, {1, 1, 1, 1, 1}, kAnalysisOk},  {true, {4, 4}, {1, 1}, kAnalysisTooFewPoints},
      {true, {1, 1e-9, 4, 4}, {0, 0, 1, 1}, kAnalysisOk},  // the second pivot equal to Eps is kept
      {true, {1e-9, 4, 4, 4}, {0, 1, 1, 0}, kAnalysisOk},  // and the first
  };
  for (auto [cyclic, a, b, expected] : cases) {
    const auto n = static_cast<int32_t>(a.size());
    Vec r(a.size());
    for (int32_t i = 0; i < n; ++i)  // the row sums
      r[i] = a[i] + (i + 1 < n || cyclic ? b[i] : 0) + (i > 0 ? b[i - 1] : cyclic ? b[n - 1] : 0);
    const Vec rhs = r;
    int32_t err = -1;
    (cyclic ? Tripes : Tridis)(n, a.data(), b.data(), r.data(), cyclic ? 1e-9 : 1e-12, err);
    EXPECT_EQ(expected, err) << n << (cyclic ? " cyclic" : "");
    for (double v : r) EXPECT_NEAR(expected == kAnalysisOk ? 1.0 : v, v, 1e-12);
    EXPECT_TRUE(expected != kAnalysisTooFewPoints || rhs == r);
  }
}

}  // namespace
}  // namespace vez

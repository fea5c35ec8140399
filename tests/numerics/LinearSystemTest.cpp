#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "numerics/Analysis.h"

namespace vez {
namespace {

using Matrix = std::vector<std::vector<double>>;

// Dense Gaussian elimination with partial pivoting, the independent reference.
std::vector<double> SolveDense(Matrix m, std::vector<double> r) {
  const std::size_t n = r.size();
  for (std::size_t k = 0; k < n; ++k) {
    std::size_t piv = k;
    for (std::size_t i = k + 1; i < n; ++i)
      if (std::fabs(m[i][k]) > std::fabs(m[piv][k])) piv = i;
    std::swap(m[k], m[piv]);
    std::swap(r[k], r[piv]);
    for (std::size_t i = k + 1; i < n; ++i) {
      const double f = m[i][k] / m[k][k];
      for (std::size_t j = k; j < n; ++j) m[i][j] -= f * m[k][j];
      r[i] -= f * r[k];
    }
  }
  std::vector<double> x(n);
  for (std::size_t k = n; k-- > 0;) {
    double s = r[k];
    for (std::size_t j = k + 1; j < n; ++j) s -= m[k][j] * x[j];
    x[k] = s / m[k][k];
  }
  return x;
}

// Random well-conditioned system: off-diagonals in [-1, 1], diagonals of either sign dominating them.
struct RandomSystem {
  std::vector<double> diag, off, rhs;
  RandomSystem(std::mt19937& rng, int n) : diag(n), off(n), rhs(n) {
    std::uniform_real_distribution<double> u(-1, 1);
    for (int i = 0; i < n; ++i) {
      off[i] = u(rng);
      rhs[i] = 10 * u(rng);
    }
    for (int i = 0; i < n; ++i) {
      const double margin = 0.5 + std::fabs(u(rng)) * 3;
      diag[i] = (u(rng) < 0 ? -1 : 1) * (std::fabs(off[i]) + std::fabs(off[(i + n - 1) % n]) + margin);
    }
  }
  Matrix Dense(bool cyclic) const {
    const int n = static_cast<int>(diag.size());
    Matrix m(n, std::vector<double>(n, 0.0));
    for (int i = 0; i < n; ++i) {
      m[i][i] = diag[i];
      if (i + 1 < n) m[i][i + 1] = m[i + 1][i] = off[i];
    }
    if (cyclic) {
      m[n - 1][0] += off[n - 1];
      m[0][n - 1] += off[n - 1];
    }
    return m;
  }
};

double MaxDiff(const std::vector<double>& a, const std::vector<double>& b) {
  double d = 0;
  for (std::size_t i = 0; i < a.size(); ++i) d = std::max(d, std::fabs(a[i] - b[i]));
  return d;
}

// Both solvers against dense elimination on random well-conditioned systems; exact-size vectors let the
// sanitizer build catch any access past element n (Tridis never touches b[n], checked by a sentinel).
TEST(LinearSystem, AgreesWithDenseEliminationOnRandomSystems) {
  std::mt19937 rng(20240611);
  for (bool cyclic : {false, true}) {
    for (int n : {1, 2, 3, 4, 5, 8, 33, 300}) {
      if (cyclic && n < 3) continue;
      for (int trial = 0; trial < (n > 100 ? 2 : 20); ++trial) {
        SCOPED_TRACE(testing::Message() << (cyclic ? "Tripes" : "Tridis") << " n=" << n << " trial " << trial);
        RandomSystem s(rng, n);
        const std::vector<double> expected = SolveDense(s.Dense(cyclic), s.rhs);
        std::vector<double> a = s.diag, b = s.off, r = s.rhs;
        if (!cyclic) b.back() = 12345.0;
        int32_t err = -1;
        if (cyclic)
          Tripes(n, a.data(), b.data(), r.data(), 1e-12, err);
        else
          Tridis(n, a.data(), b.data(), r.data(), 1e-12, err);
        ASSERT_EQ(kAnalysisOk, err);
        EXPECT_LT(MaxDiff(expected, r), 1e-10);
        if (!cyclic) {
          EXPECT_EQ(12345.0, b.back());
        }
      }
    }
  }
}

// Pivots below Eps stop both solvers with error 2; regular systems here have the solution 1, 1, ...
TEST(LinearSystem, SmallPivotsAndTooSmallOrders) {
  const struct {
    const char* name;
    bool cyclic;
    std::vector<double> a, b;
    int32_t err;
  } cases[] = {
      {"zero first diagonal", false, {0, 1, 1}, {1, 1, 0}, kAnalysisSingular},
      {"first pivot below Eps", false, {1e-13, 1, 1}, {1, 1, 0}, kAnalysisSingular},
      {"second pivot 1 - 1*1/1", false, {1, 1, 4}, {1, 2, 0}, kAnalysisSingular},
      {"pivot equal to Eps is kept", false, {1e-12, 1, 1}, {0, 0, 0}, kAnalysisOk},
      {"regular", false, {2, 2, 2}, {1, 1, 0}, kAnalysisOk},
      {"order zero", false, {}, {}, kAnalysisTooFewPoints},
      {"cyclic zero first diagonal", true, {0, 4, 4, 4}, {1, 1, 1, 1}, kAnalysisSingular},
      {"cyclic zero inner pivot", true, {1, 1, 4, 4}, {1, 1, 1, 1}, kAnalysisSingular},
      // The periodic second difference has the constant vector in its kernel: the corner pivot fails.
      {"cyclic singular corner", true, {2, 2, 2, 2, 2}, {-1, -1, -1, -1, -1}, kAnalysisSingular},
      {"cyclic regular", true, {4, 4, 4, 4, 4}, {1, 1, 1, 1, 1}, kAnalysisOk},
      {"cyclic order two", true, {4, 4}, {1, 1}, kAnalysisTooFewPoints},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto n = static_cast<int32_t>(c.a.size());
    std::vector<double> a = c.a, b = c.b, r(c.a.size());
    // Right sides for the solution 1, 1, ...: the row sums.
    for (int32_t i = 0; i < n; ++i) {
      r[i] = a[i] + (i + 1 < n || c.cyclic ? b[i] : 0) + (i > 0 ? b[i - 1] : c.cyclic ? b[n - 1] : 0);
    }
    const std::vector<double> rhs = r;
    int32_t err = -1;
    if (c.cyclic)
      Tripes(n, a.data(), b.data(), r.data(), 1e-9, err);
    else
      Tridis(n, a.data(), b.data(), r.data(), 1e-12, err);
    EXPECT_EQ(c.err, err);
    if (c.err == kAnalysisOk) {
      for (double v : r) EXPECT_NEAR(1.0, v, 1e-12);
    }
    if (c.err == kAnalysisTooFewPoints) {
      EXPECT_EQ(rhs, r);
    }
  }
}

}  // namespace
}  // namespace vez

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <tuple>
#include <vector>

#include "numerics/Analysis.h"
#include "numerics/internal/Tension.h"

namespace vez {
namespace {

using Vec = std::vector<double>;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// A periodic cubic spline; the 1-based vectors are stored from index 0.
struct CubicSpline {
  Vec x, y, a, b, c, d;
  int32_t err = -1;
  CubicSpline(Vec xs, Vec ys) : x(xs), y(ys), a(x.size()), b(x.size()), c(x.size()), d(x.size()) {
    Cubper(static_cast<int32_t>(x.size()), x.data(), y.data(), 1e-12, a.data(), b.data(), c.data(), d.data(), err);
  }
  // Derivative k (0..2) of piece i at offset s.
  double D(int k, std::size_t i, double s) const {
    return k == 0 ? a[i] + s * (b[i] + s * (c[i] + s * d[i])) : k == 1 ? b[i] + s * (2 * c[i] + 3 * s * d[i])
                                                                       : 2 * c[i] + 6 * s * d[i];
  }
  double At(double xv) const {
    std::size_t i = 0;
    while (i + 2 < x.size() && xv >= x[i + 1]) ++i;
    return D(0, i, xv - x[i]);
  }
};

// An exponential spline under tension, evaluated through EXPVAL.
struct ExpSpline {
  Vec x, y, alpha, w1, w2, w3, w4;
  int32_t err = -1;
  ExpSpline(Vec xs, Vec ys, Vec tension, double alphaMax = 1000)
      : x(xs), y(ys), alpha(tension), w1(x.size()), w2(x.size()), w3(x.size()), w4(x.size()) {
    EXPPER(static_cast<int32_t>(x.size()), x.data(), y.data(), alpha.data(), w1.data(), w2.data(), w3.data(),
           w4.data(), 1e-12, alphaMax, err);
  }
  // The value at xv; without `e` an error fails the test.
  double At(double xv, int32_t* e = nullptr) const {
    int32_t err = -1;
    const double v = EXPVAL(static_cast<int32_t>(x.size()), x.data(), alpha.data(), y.data(), w2.data(), w3.data(),
                            w4.data(), xv, e != nullptr ? *e : err);
    if (e == nullptr) { EXPECT_EQ(kAnalysisOk, err) << xv; }
    return v;
  }
};

// Random strictly increasing knots from 0 to period, and random values.
void RandomData(std::mt19937& rng, int n, double period, Vec& x, Vec& y) {
  std::uniform_real_distribution<double> step(0.2, 1.0), value(-5, 5);
  x.assign(n, 0.0);
  y.assign(n, 0.0);
  for (int i = 1; i < n; ++i) x[i] = x[i - 1] + step(rng);
  for (int i = 0; i < n; ++i) x[i] *= period / x[n - 1], y[i] = value(rng);
}

TEST(Spline, ErrorCodes) {
  const Vec rising{0, 1, 2, 3, 4}, ones(5, 1.0);
  const std::tuple<int, Vec, Vec, int32_t, int32_t> cases[] = {  // n, x, alpha, errors of Cubper and EXPPER
      {3, rising, ones, kAnalysisTooFewPoints, kAnalysisTooFewPoints},
      {5, {0, 1, 2, 2, 4}, ones, kAnalysisSingular, kAnalysisSingular},
      {5, {0, 2, 1, 3, 4}, ones, kAnalysisSingular, kAnalysisSingular},
      {5, {0, kNaN, 2, 3, 4}, ones, kAnalysisSingular, kAnalysisSingular},
      {5, rising, {1, 1, -0.1, 1, 1}, kAnalysisOk, kAnalysisTension},
      {5, rising, {1, 1, 1, 10.5, 1}, kAnalysisOk, kAnalysisTension},  // above AlphaMax
      {5, rising, {kNaN, 1, 1, 1, 1}, kAnalysisOk, kAnalysisTension},
      {5, rising, {10, 10, 10, 10, -1}, kAnalysisOk, kAnalysisOk},  // AlphaMax itself; Alpha[n] unread
  };
  for (const auto& [n, xs, alpha, cubic, exp] : cases) {
    Vec x = xs, y{0, 2, -1, 3, 7}, a(5, -5), b(5), cc(5), d(5);
    int32_t err = -1;
    Cubper(n, x.data(), y.data(), 1e-12, a.data(), b.data(), cc.data(), d.data(), err);
    EXPECT_EQ(cubic, err) << n << " " << x[1] << " " << x[2];
    EXPECT_TRUE(err == kAnalysisOk || (a == Vec(5, -5) && y[4] == 7)) << n;  // on an error nothing is written
    EXPPER(n, x.data(), y.data(), alpha.data(), a.data(), b.data(), cc.data(), d.data(), 1e-12, 10, err);
    EXPECT_EQ(exp, err) << n << " " << x[1] << " " << alpha[0];
  }
}

// Every knot is interpolated and value, slope and curvature are continuous at every knot, including the
// periodic wrap where the last piece meets the first; with zero tension EXPPER gives the same curve, its W1
// holding the second derivatives.
TEST(Spline, CubperIsSmoothAndEqualsExpperWithoutTension) {
  std::mt19937 rng(99);
  for (int n : {4, 5, 9, 30, 200}) {
    SCOPED_TRACE(n);
    Vec x, y;
    RandomData(rng, n, 3.0 + n, x, y);
    const CubicSpline s(x, y);
    ASSERT_EQ(kAnalysisOk, s.err);
    EXPECT_EQ(y[0], s.y[n - 1]);  // the curve is closed in the caller's data
    for (int i = 0; i + 1 < n; ++i) {
      const std::size_t k = static_cast<std::size_t>(i), next = i + 2 < n ? k + 1 : 0;
      const double h = x[k + 1] - x[k];
      EXPECT_EQ(s.y[k], s.D(0, k, 0));
      EXPECT_NEAR(s.y[k + 1], s.D(0, k, h), 1e-11);
      for (int der = 0; der <= 2; ++der) EXPECT_NEAR(s.D(der, next, 0), s.D(der, k, h), 1e-9) << i << " " << der;
    }
    const ExpSpline e(x, y, Vec(n, 0.0));
    ASSERT_EQ(kAnalysisOk, e.err);
    for (int k = 0; k <= 200; ++k) EXPECT_NEAR(s.At(x.back() * k / 200), e.At(x.back() * k / 200), 1e-10) << k;
    for (int i = 0; i < n; ++i) EXPECT_NEAR(2 * s.c[i], e.w1[i], 1e-9) << i;
  }
}

TEST(Spline, ExpperInterpolatesWithContinuousSlopeUnderMixedTensions) {
  std::mt19937 rng(17);
  std::uniform_real_distribution<double> tension(0, 30);
  for (int n : {4, 6, 12}) {
    Vec x, y, alpha(n);
    RandomData(rng, n, 6, x, y);
    for (double& a : alpha) a = tension(rng);
    alpha[0] = 45;    // the large-tension form,
    alpha[1] = 0;     // the cubic limit and
    alpha[2] = 0.49;  // the series next to each other
    const ExpSpline s(x, y, alpha, 50);
    ASSERT_EQ(kAnalysisOk, s.err);
    const double dx = 1e-7, h2 = 1e-4;
    for (int i = 0; i < n - 1; ++i) {
      SCOPED_TRACE(testing::Message() << n << " knot " << i + 1);
      EXPECT_NEAR(s.y[i], s.At(x[i]), 1e-12);
      // One-sided slopes meet; left of the first knot is the end of the last interval (periodic wrap).
      const double right = (s.At(x[i] + dx) - s.At(x[i])) / dx;
      const double left = i == 0 ? (s.At(x[n - 1]) - s.At(x[n - 1] - dx)) / dx : (s.At(x[i]) - s.At(x[i] - dx)) / dx;
      EXPECT_NEAR(left, right, 1e-4 * (1 + std::fabs(right)));
      const double second = (s.At(x[i]) - 2 * s.At(x[i] + h2) + s.At(x[i] + 2 * h2)) / (h2 * h2);
      EXPECT_NEAR(s.w1[i], second, 2e-2 * (1 + std::fabs(s.w1[i])));  // W1: the second derivatives
    }
  }
}

TEST(Spline, ExpvalIntervalSearchAndRange) {
  const ExpSpline s({0, 1, 2.5, 3, 4}, {0, 2, -1, 3, 7}, Vec(5, 2.0));
  ASSERT_EQ(kAnalysisOk, s.err);
  EXPECT_EQ(0, s.At(4.0));  // the last knot: t = 1 in the last interval, y[n] = y[1]
  int32_t err = -1;
  for (double outside : {std::nextafter(4.0, 5.0), -1e-12, kNaN})
    EXPECT_EQ(std::pair(0.0, kAnalysisOutOfRange), (std::pair{s.At(outside, &err), err})) << outside;
  const double xs[] = {1, 3}, alpha[] = {1, 1}, c1[] = {10, 0}, c2[] = {20, 0}, zero[] = {0, 0};
  EXPECT_DOUBLE_EQ(15, EXPVAL(2, xs, alpha, c1, c2, zero, zero, 2, err));
  EXPECT_EQ(std::pair(0.0, kAnalysisTooFewPoints), (std::pair{EXPVAL(1, xs, alpha, c1, c2, zero, zero, 1, err), err}));
}

// The series (small tensions) and exponential forms (large tensions) against the closed forms in long double,
// on both sides of the switching points; and the cubic limit at zero.
TEST(Spline, TensionAllFormsAgreeWithTheClosedForms) {
  for (long double a : {0.05L, 0.4999L, 0.5L, 5.0L, 39.99L, 40.01L, 400.0L}) {
    const long double sh = std::sinh(a), ch = std::cosh(a);
    long double P = 0, Q = 0;
    detail::TensionCoefficients(a, P, Q);
    EXPECT_NEAR(1.0, static_cast<double>(P / (a * a * sh / (sh - a))), 1e-12) << static_cast<double>(a);
    EXPECT_NEAR(1.0, static_cast<double>(Q / ((a * ch - sh) / (sh - a))), 1e-12) << static_cast<double>(a);
    for (long double v : {0.1L, 0.9L}) {
      const long double ref = (std::sinh(a * v) - v * sh) / (sh - a);
      EXPECT_NEAR(1.0, static_cast<double>(detail::TensionShape(a, v) / ref), 1e-12) << static_cast<double>(a);
    }
  }
  long double P = 0, Q = 0;
  detail::TensionCoefficients(0, P, Q);
  EXPECT_NEAR(62.0, static_cast<double>(P * 10 + Q), 1e-12);
  EXPECT_DOUBLE_EQ(0.125 - 0.5, static_cast<double>(detail::TensionShape(0, 0.5L)));
  detail::TensionCoefficients(20000, P, Q);  // huge tensions stay finite: P grows like a^2
  EXPECT_NEAR(1.0, static_cast<double>(P / 4e8L), 1e-12);
}

}  // namespace
}  // namespace vez

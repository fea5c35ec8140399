#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>
#include <random>
#include <vector>

#include "numerics/Analysis.h"
#include "numerics/internal/Tension.h"

namespace vez {
namespace {

using Vec = std::vector<double>;

// A periodic cubic spline; the 1-based vectors are stored from index 0.
struct CubicSpline {
  Vec x, y, a, b, c, d;
  int32_t err = -1;
  CubicSpline(Vec xs, Vec ys) : x(xs), y(ys), a(x.size()), b(x.size()), c(x.size()), d(x.size()) {
    Cubper(static_cast<int32_t>(x.size()), x.data(), y.data(), 1e-12, a.data(), b.data(), c.data(), d.data(), err);
  }
  // Value, slope and curvature of piece i at offset s.
  double Value(std::size_t i, double s) const { return a[i] + s * (b[i] + s * (c[i] + s * d[i])); }
  double Slope(std::size_t i, double s) const { return b[i] + s * (2 * c[i] + 3 * s * d[i]); }
  double Curvature(std::size_t i, double s) const { return 2 * c[i] + 6 * s * d[i]; }
  double At(double xv) const {
    std::size_t i = 0;
    while (i + 2 < x.size() && xv >= x[i + 1]) ++i;
    return Value(i, xv - x[i]);
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
  double At(double xv, int32_t& e) const {
    return EXPVAL(static_cast<int32_t>(x.size()), x.data(), alpha.data(), y.data(), w2.data(), w3.data(),
                  w4.data(), xv, e);
  }
  double At(double xv) const {
    int32_t e = -1;
    const double v = At(xv, e);
    EXPECT_EQ(kAnalysisOk, e) << xv;
    return v;
  }
};

// Random strictly increasing knots from 0 to period, and random values.
void RandomData(std::mt19937& rng, int n, double period, Vec& x, Vec& y) {
  std::uniform_real_distribution<double> step(0.2, 1.0), value(-5, 5);
  x.assign(n, 0.0);
  y.assign(n, 0.0);
  for (int i = 1; i < n; ++i) x[i] = x[i - 1] + step(rng);
  for (int i = 0; i < n; ++i) {
    x[i] *= period / x[n - 1];
    y[i] = value(rng);
  }
}

TEST(Spline, CubperTooFewPointsOrFallingKnotsWriteNothing) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const struct {
    int n;
    Vec x;
    int32_t err;
  } cases[] = {{0, {0, 1, 2, 3}, kAnalysisTooFewPoints}, {3, {0, 1, 2, 3}, kAnalysisTooFewPoints},
               {4, {0, 1, 1, 3}, kAnalysisSingular},     {4, {0, 2, 1, 3}, kAnalysisSingular},
               {4, {0, nan, 2, 3}, kAnalysisSingular}};
  for (const auto& c : cases) {
    Vec x = c.x, y{0, 1, 0, 7}, a(4, -5), b(4), d(4), cc(4);
    int32_t err = -1;
    Cubper(c.n, x.data(), y.data(), 1e-12, a.data(), b.data(), cc.data(), d.data(), err);
    EXPECT_EQ(c.err, err) << c.n << " " << c.x[1] << " " << c.x[2];
    EXPECT_EQ(Vec(4, -5), a);
    EXPECT_EQ(7, y[3]);
  }
}

// Every knot is interpolated and value, slope and curvature are continuous at every knot, including the
// periodic wrap where the last piece meets the first. Five points on a sine period, then random data.
TEST(Spline, CubperInterpolatesWithContinuousDerivativesAtEveryKnot) {
  std::mt19937 rng(99);
  std::vector<std::pair<Vec, Vec>> data;
  Vec sx, sy;
  for (int i = 0; i <= 4; ++i) {
    sx.push_back(i * std::numbers::pi / 2);
    sy.push_back(std::sin(sx.back()));
  }
  data.emplace_back(sx, sy);
  for (int n : {4, 5, 9, 30, 200}) {
    Vec x, y;
    RandomData(rng, n, 3.0 + n, x, y);
    data.emplace_back(x, y);
  }
  for (const auto& [x, y] : data) {
    const std::size_t n = x.size();
    SCOPED_TRACE(n);
    const CubicSpline s(x, y);
    ASSERT_EQ(kAnalysisOk, s.err);
    EXPECT_EQ(y[0], s.y[n - 1]);  // the curve is closed in the caller's data
    EXPECT_EQ(s.c[0], s.c[n - 1]);
    for (std::size_t i = 0; i + 1 < n; ++i) {
      SCOPED_TRACE(testing::Message() << "knot " << i + 2);
      const std::size_t next = i + 2 < n ? i + 1 : 0;  // the piece starting at x[i+1]
      const double h = x[i + 1] - x[i];
      EXPECT_EQ(s.y[i], s.Value(i, 0));
      EXPECT_NEAR(s.y[i + 1], s.Value(i, h), 1e-11);
      EXPECT_NEAR(s.Value(next, 0), s.Value(i, h), 1e-11);
      EXPECT_NEAR(s.Slope(next, 0), s.Slope(i, h), 1e-9);
      EXPECT_NEAR(s.Curvature(next, 0), s.Curvature(i, h), 1e-9);
    }
  }
}

TEST(Spline, ExpperZeroTensionIsTheCubicSpline) {
  std::mt19937 rng(5);
  for (int n : {4, 7, 25}) {
    SCOPED_TRACE(n);
    Vec x, y;
    RandomData(rng, n, 10, x, y);
    const CubicSpline cubic(x, y);
    const ExpSpline exps(x, y, Vec(n, 0.0));
    ASSERT_EQ(kAnalysisOk, exps.err);
    for (int k = 0; k <= 500; ++k) EXPECT_NEAR(cubic.At(k / 50.0), exps.At(k / 50.0), 1e-10) << k / 50.0;
    // W1 holds the second derivatives at the knots: twice the cubic's c.
    for (int i = 0; i < n; ++i) EXPECT_NEAR(2 * cubic.c[i], exps.w1[i], 1e-9) << i;
  }
}

TEST(Spline, ExpperInterpolatesWithContinuousSlopeUnderMixedTensions) {
  std::mt19937 rng(17);
  std::uniform_real_distribution<double> tension(0, 30);
  for (int n : {4, 6, 12}) {
    SCOPED_TRACE(n);
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
      SCOPED_TRACE(testing::Message() << "knot " << i + 1);
      EXPECT_NEAR(s.y[i], s.At(x[i]), 1e-12);
      // One-sided slopes meet; left of the first knot is the end of the last interval (periodic wrap).
      const double right = (s.At(x[i] + dx) - s.At(x[i])) / dx;
      const double left = i == 0 ? (s.At(x[n - 1]) - s.At(x[n - 1] - dx)) / dx : (s.At(x[i]) - s.At(x[i] - dx)) / dx;
      EXPECT_NEAR(left, right, 1e-4 * (1 + std::fabs(right)));
      // W1 is the second derivative at the knot.
      const double second = (s.At(x[i]) - 2 * s.At(x[i] + h2) + s.At(x[i] + 2 * h2)) / (h2 * h2);
      EXPECT_NEAR(s.w1[i], second, 2e-2 * (1 + std::fabs(s.w1[i])));
    }
  }
}

TEST(Spline, ExpperErrorCodes) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const Vec rising{0, 1, 2, 3, 4};
  const struct {
    const char* name;
    int n;
    Vec x, alpha;
    int32_t err;
  } cases[] = {
      {"three points", 3, rising, {1, 1, 1, 1, 1}, kAnalysisTooFewPoints},
      {"negative tension", 5, rising, {1, 1, -0.1, 1, 1}, kAnalysisTension},
      {"tension above AlphaMax", 5, rising, {1, 1, 1, 10.5, 1}, kAnalysisTension},
      {"tension NaN", 5, rising, {nan, 1, 1, 1, 1}, kAnalysisTension},
      {"AlphaMax itself; Alpha[n] unread", 5, rising, {10, 10, 10, 10, -1}, kAnalysisOk},
      {"coinciding knots", 5, {0, 1, 2, 2, 4}, {1, 1, 1, 1, 1}, kAnalysisSingular},
  };
  for (const auto& c : cases) {
    Vec x = c.x, y{0, 2, -1, 3, 0}, w1(5), w2(5), w3(5), w4(5);
    int32_t err = -1;
    EXPPER(c.n, x.data(), y.data(), c.alpha.data(), w1.data(), w2.data(), w3.data(), w4.data(), 1e-12, 10, err);
    EXPECT_EQ(c.err, err) << c.name;
  }
}

TEST(Spline, ExpvalIntervalSearchAndRange) {
  const ExpSpline s({0, 1, 2.5, 3, 4}, {0, 2, -1, 3, 7}, Vec(5, 2.0));
  ASSERT_EQ(kAnalysisOk, s.err);
  // The last knot falls into the last interval with t = 1: exactly C2 of that interval, y[n] = y[1].
  EXPECT_EQ(s.w2[3], s.At(4.0));
  EXPECT_EQ(0, s.At(4.0));
  int32_t err = -1;
  for (double outside : {std::nextafter(4.0, 5.0), -1e-12, std::numeric_limits<double>::quiet_NaN()}) {
    EXPECT_EQ(0, s.At(outside, err));
    EXPECT_EQ(kAnalysisOutOfRange, err) << outside;
  }
  // Two points make one interval; fewer are an error.
  const double xs[] = {1, 3}, alpha[] = {1, 1}, c1[] = {10, 0}, c2[] = {20, 0}, zero[] = {0, 0};
  EXPECT_DOUBLE_EQ(15, EXPVAL(2, xs, alpha, c1, c2, zero, zero, 2, err));
  EXPECT_EQ(kAnalysisOk, err);
  EXPECT_EQ(0, EXPVAL(1, xs, alpha, c1, c2, zero, zero, 1, err));
  EXPECT_EQ(kAnalysisTooFewPoints, err);
}

// The series (small tensions) and exponential forms (large tensions) against the closed forms in long double,
// on both sides of the switching points; and the cubic limit at zero.
TEST(Spline, TensionAllFormsAgreeWithTheClosedForms) {
  for (long double a : {0.05L, 0.3L, 0.4999L, 0.5L, 5.0L, 39.99L, 40.0L, 40.01L, 100.0L, 400.0L}) {
    SCOPED_TRACE(static_cast<double>(a));
    const long double sh = std::sinh(a), ch = std::cosh(a);
    long double P = 0, Q = 0;
    detail::TensionCoefficients(a, P, Q);
    EXPECT_NEAR(1.0, static_cast<double>(P / (a * a * sh / (sh - a))), 1e-12);
    EXPECT_NEAR(1.0, static_cast<double>(Q / ((a * ch - sh) / (sh - a))), 1e-12);
    for (long double v : {0.1L, 0.37L, 0.9L}) {
      const long double ref = (std::sinh(a * v) - v * sh) / (sh - a);
      EXPECT_NEAR(1.0, static_cast<double>(detail::TensionShape(a, v) / ref), 1e-12) << static_cast<double>(v);
    }
  }
  long double P = 0, Q = 0;
  detail::TensionCoefficients(0, P, Q);
  EXPECT_DOUBLE_EQ(6.0, static_cast<double>(P));
  EXPECT_DOUBLE_EQ(2.0, static_cast<double>(Q));
  EXPECT_DOUBLE_EQ(0.125 - 0.5, static_cast<double>(detail::TensionShape(0, 0.5L)));
  // Huge tensions stay finite: P grows like a^2.
  detail::TensionCoefficients(20000, P, Q);
  EXPECT_NEAR(1.0, static_cast<double>(P / 4e8L), 1e-12);
}

}  // namespace
}  // namespace vez

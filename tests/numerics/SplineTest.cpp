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

constexpr double kPi = std::numbers::pi;

// Coefficients of a periodic cubic spline, 0-based storage of the 1-based vectors.
struct CubicSpline {
  std::vector<double> x, y, a, b, c, d;
  int32_t err = -1;

  CubicSpline(std::vector<double> xs, std::vector<double> ys)
      : x(std::move(xs)), y(std::move(ys)), a(x.size()), b(x.size()), c(x.size()), d(x.size()) {
    Cubper(static_cast<int32_t>(x.size()), x.data(), y.data(), 1e-12, a.data(), b.data(), c.data(), d.data(), err);
  }
  // Value and first two derivatives of piece i (0-based) at offset s.
  double Value(std::size_t i, double s) const { return a[i] + s * (b[i] + s * (c[i] + s * d[i])); }
  double Slope(std::size_t i, double s) const { return b[i] + s * (2 * c[i] + 3 * s * d[i]); }
  double Curvature(std::size_t i, double s) const { return 2 * c[i] + 6 * s * d[i]; }
  double At(double xv) const {
    std::size_t i = 0;
    while (i + 2 < x.size() && xv >= x[i + 1]) ++i;
    return Value(i, xv - x[i]);
  }
};

// Random strictly increasing knots on [0, period] with the first at 0 and the last at period.
std::vector<double> RandomKnots(std::mt19937& rng, int n, double period) {
  std::uniform_real_distribution<double> u(0.2, 1.0);
  std::vector<double> x(n);
  double sum = 0;
  for (int i = 1; i < n; ++i) x[i] = sum += u(rng);
  for (double& v : x) v *= period / sum;
  x[n - 1] = period;
  return x;
}

// Interpolation of every knot and continuity of value, slope and curvature at every knot, the periodic wrap
// (end of the last piece against the start of the first) included.
void ExpectPeriodicC2(const CubicSpline& s, const std::vector<double>& yKnots) {
  const std::size_t n = s.x.size();
  const double scale = 1e-9 * (1 + std::fabs(s.c[0]) + std::fabs(s.b[0]));
  for (std::size_t i = 0; i + 1 < n; ++i) {
    SCOPED_TRACE(testing::Message() << "knot " << i + 1);
    const std::size_t next = (i + 2 < n) ? i + 1 : 0;  // the piece that starts at x[i+1]
    const double h = s.x[i + 1] - s.x[i];
    EXPECT_EQ(yKnots[i], s.Value(i, 0));
    EXPECT_NEAR(yKnots[i + 1], s.Value(i, h), 1e-12 * (1 + std::fabs(yKnots[i + 1])));
    EXPECT_NEAR(s.Value(next, 0), s.Value(i, h), 1e-12 * (1 + std::fabs(yKnots[i + 1])));
    EXPECT_NEAR(s.Slope(next, 0), s.Slope(i, h), scale);
    EXPECT_NEAR(s.Curvature(next, 0), s.Curvature(i, h), scale);
  }
}

TEST(CubperTest, TooFewPoints) {
  for (int n : {0, 1, 2, 3}) {
    std::vector<double> x{0, 1, 2}, y{0, 1, 0}, a(3, -5), b(3, -5), c(3, -5), d(3, -5);
    int32_t err = -1;
    Cubper(n, x.data(), y.data(), 1e-12, a.data(), b.data(), c.data(), d.data(), err);
    EXPECT_EQ(kErrTooFewPoints, err);
    EXPECT_EQ(std::vector<double>(3, -5), a);  // nothing written
    EXPECT_EQ(0, y[2]);
  }
}

TEST(CubperTest, SinePeriodOfFivePoints) {
  std::vector<double> x, y;
  for (int i = 0; i <= 4; ++i) {
    x.push_back(i * kPi / 2);
    y.push_back(std::sin(i * kPi / 2));
  }
  const CubicSpline s(x, y);
  ASSERT_EQ(kErrOk, s.err);
  ExpectPeriodicC2(s, s.y);
  // By symmetry the slope at 0 is that of a sine sampled four times: positive, curvature 0 at the zero.
  EXPECT_GT(s.b[0], 0);
  EXPECT_NEAR(0, s.c[0], 1e-12);
  EXPECT_EQ(s.c[0], s.c[4]);
}

TEST(CubperTest, RandomKnotsAreInterpolatedWithContinuousDerivatives) {
  std::mt19937 rng(99);
  std::uniform_real_distribution<double> u(-5, 5);
  for (int n : {4, 5, 6, 9, 30, 200}) {
    for (int trial = 0; trial < 5; ++trial) {
      SCOPED_TRACE(testing::Message() << "n=" << n << " trial " << trial);
      std::vector<double> x = RandomKnots(rng, n, 3.0 + trial), y(n);
      for (double& v : y) v = u(rng);
      const CubicSpline s(x, y);
      ASSERT_EQ(kErrOk, s.err);
      EXPECT_EQ(s.y[0], s.y[n - 1]);  // the curve is closed on the caller's data
      ExpectPeriodicC2(s, s.y);
    }
  }
}

TEST(CubperTest, ClosesTheCurveWithTheFirstValue) {
  std::vector<double> x{0, 1, 2, 3, 4}, y{1, 3, -2, 0, 99};
  const CubicSpline s(x, y);
  ASSERT_EQ(kErrOk, s.err);
  EXPECT_EQ(1, s.y[4]);
  EXPECT_NEAR(1, s.Value(3, 1.0), 1e-12);
}

TEST(CubperTest, ConvergesToASmoothPeriodicFunction) {
  // Error of a cubic spline falls with h^4: 40 knots on a period of sin + cos(2x) stay within 1e-4.
  const int n = 41;
  std::vector<double> x(n), y(n);
  auto g = [](double t) { return std::sin(t) + 0.5 * std::cos(2 * t); };
  for (int i = 0; i < n; ++i) {
    x[i] = 2 * kPi * i / (n - 1);
    y[i] = g(x[i]);
  }
  const CubicSpline s(x, y);
  ASSERT_EQ(kErrOk, s.err);
  for (int k = 0; k <= 1000; ++k) {
    const double t = 2 * kPi * k / 1000;
    EXPECT_NEAR(g(t), s.At(t), 1e-4) << t;
  }
}

// ---- Exponential spline ------------------------------------------------------------------------------------

struct ExpSpline {
  std::vector<double> x, y, alpha, w1, w2, w3, w4;
  int32_t err = -1;
  ExpSpline(std::vector<double> xs, std::vector<double> ys, std::vector<double> tension, double alphaMax = 1000)
      : x(std::move(xs)), y(std::move(ys)), alpha(std::move(tension)), w1(x.size()), w2(x.size()), w3(x.size()),
        w4(x.size()) {
    alpha.resize(x.size(), 0.0);
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
    EXPECT_EQ(kErrOk, e) << xv;
    return v;
  }
};

TEST(ExpperTest, ZeroTensionIsTheCubicSpline) {
  std::mt19937 rng(5);
  std::uniform_real_distribution<double> u(-3, 3);
  for (int n : {4, 7, 25}) {
    SCOPED_TRACE(n);
    std::vector<double> x = RandomKnots(rng, n, 10), y(n);
    for (double& v : y) v = u(rng);
    const CubicSpline cubic(x, y);
    const ExpSpline exps(x, y, std::vector<double>(n, 0.0));
    ASSERT_EQ(kErrOk, exps.err);
    for (int k = 0; k <= 500; ++k) {
      const double t = 10.0 * k / 500;
      EXPECT_NEAR(cubic.At(t), exps.At(t), 1e-10) << t;
    }
    // W1 holds the second derivatives at the knots: twice the cubic's c.
    for (int i = 0; i < n; ++i) EXPECT_NEAR(2 * cubic.c[i], exps.w1[i], 1e-9) << i;
  }
}

TEST(ExpperTest, InterpolatesWithContinuousSlopeUnderMixedTensions) {
  std::mt19937 rng(17);
  std::uniform_real_distribution<double> u(-3, 3), tension(0, 30);
  for (int n : {4, 6, 12}) {
    SCOPED_TRACE(n);
    std::vector<double> x = RandomKnots(rng, n, 6), y(n), alpha(n);
    for (double& v : y) v = u(rng);
    for (double& a : alpha) a = tension(rng);
    alpha[1] = 0;     // the cubic limit next to
    alpha[2] = 0.49;  // the series range and
    alpha[0] = 45;    // the large-tension range
    const ExpSpline s(x, y, alpha, 50);
    ASSERT_EQ(kErrOk, s.err);
    for (int i = 0; i < n; ++i) EXPECT_NEAR(s.y[i], s.At(x[i]), 1e-12) << i;
    // One-sided difference quotients meet at every knot; at the first knot the left side is the end of the
    // last interval (periodic wrap).
    const double dx = 1e-7;
    for (int i = 0; i < n - 1; ++i) {
      const double right = (s.At(x[i] + dx) - s.At(x[i])) / dx;
      const double left = i == 0 ? (s.At(x[n - 1]) - s.At(x[n - 1] - dx)) / dx : (s.At(x[i]) - s.At(x[i] - dx)) / dx;
      EXPECT_NEAR(left, right, 1e-4 * (1 + std::fabs(right))) << "knot " << i + 1;
    }
    // W1 is the second derivative at each knot, seen from the interval that starts there.
    const double h2 = 1e-4;
    for (int i = 0; i < n - 1; ++i) {
      const double second = (s.At(x[i]) - 2 * s.At(x[i] + h2) + s.At(x[i] + 2 * h2)) / (h2 * h2);
      EXPECT_NEAR(s.w1[i], second, 2e-2 * (1 + std::fabs(s.w1[i]))) << "knot " << i + 1;
    }
  }
}

TEST(ExpperTest, RisingTensionPullsTowardsStraightLines) {
  const std::vector<double> x{0, 1, 2, 3, 4}, y{0, 2, -1, 3, 0};
  double previous = std::numeric_limits<double>::infinity();
  for (double a : {0.0, 1.0, 5.0, 50.0, 500.0}) {
    SCOPED_TRACE(a);
    const ExpSpline s(x, y, std::vector<double>(5, a));
    ASSERT_EQ(kErrOk, s.err);
    double deviation = 0;
    for (int i = 0; i < 4; ++i)
      for (double t : {0.25, 0.5, 0.75})
        deviation = std::max(deviation, std::fabs(s.At(x[i] + t) - (y[i] + t * (y[i + 1] - y[i]))));
    EXPECT_LT(deviation, previous);
    previous = deviation;
  }
  EXPECT_LT(previous, 0.01);
}

TEST(ExpperTest, ErrorCodes) {
  const std::vector<double> x{0, 1, 2, 3, 4}, y{0, 2, -1, 3, 0};
  struct Case {
    const char* name;
    int n;
    std::vector<double> alpha;
    int32_t err;
  };
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const Case cases[] = {
      {"three points", 3, {1, 1, 1, 1, 1}, kErrTooFewPoints},
      {"negative tension", 5, {1, 1, -0.1, 1, 1}, kErrTension},
      {"tension above AlphaMax", 5, {1, 1, 1, 10.5, 1}, kErrTension},
      {"tension not a number", 5, {nan, 1, 1, 1, 1}, kErrTension},
      {"tension equal to AlphaMax", 5, {10, 10, 10, 10, 0}, kErrOk},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<double> xs = x, ys = y, w1(5), w2(5), w3(5), w4(5);
    int32_t err = -1;
    EXPPER(c.n, xs.data(), ys.data(), c.alpha.data(), w1.data(), w2.data(), w3.data(), w4.data(), 1e-12, 10, err);
    EXPECT_EQ(c.err, err);
  }
}

TEST(ExpvalTest, IntervalSearchAndRange) {
  std::vector<double> x{0, 1, 2.5, 3, 4}, y{0, 2, -1, 3, 7};
  const ExpSpline s(x, y, {2, 2, 2, 2, 2});
  ASSERT_EQ(kErrOk, s.err);
  // The last knot belongs to the last interval with t = 1: the value is C2 of that interval exactly.
  EXPECT_EQ(s.w2[3], s.At(4.0));
  EXPECT_EQ(0, s.At(4.0));  // y[n] became y[1]
  int32_t err = -1;
  struct Case {
    double xv;
    int32_t err;
  };
  const Case outside[] = {{std::nextafter(4.0, 5.0), kErrOutOfRange},
                          {-1e-12, kErrOutOfRange},
                          {std::numeric_limits<double>::quiet_NaN(), kErrOutOfRange},
                          {0.0, kErrOk}};
  for (const Case& c : outside) {
    const double v = s.At(c.xv, err);
    EXPECT_EQ(c.err, err) << c.xv;
    if (c.err != kErrOk) {
      EXPECT_EQ(0, v);
    }
  }
  // Every knot is found, also with a non-uniform grid.
  for (int i = 0; i < 5; ++i) EXPECT_NEAR(s.y[i], s.At(x[i]), 1e-12) << i;
  // Two points: one straight interval is the minimum.
  const double xs[] = {1, 3}, alpha[] = {1, 1}, c1[] = {10, 0}, c2[] = {20, 0}, zero[] = {0, 0};
  EXPECT_DOUBLE_EQ(15, EXPVAL(2, xs, alpha, c1, c2, zero, zero, 2, err));
  EXPECT_EQ(kErrOk, err);
  EXPECT_EQ(0, EXPVAL(1, xs, alpha, c1, c2, zero, zero, 1, err));
  EXPECT_EQ(kErrTooFewPoints, err);
}

// ---- Tension functions ---------------------------------------------------------------------------------------

// The closed forms, in long double, where they are still accurate.
void ClosedForm(long double a, long double& P, long double& Q) {
  const long double sh = std::sinh(a), ch = std::cosh(a);
  P = a * a * sh / (sh - a);
  Q = (a * ch - sh) / (sh - a);
}
long double ClosedShape(long double a, long double v) {
  return (std::sinh(a * v) - v * std::sinh(a)) / (std::sinh(a) - a);
}

TEST(TensionTest, SeriesAndExponentialFormsMatchTheClosedForms) {
  // Below 0.05 the closed forms themselves lose too much; above 400 sinh overflows double precision only.
  for (long double a : {0.05L, 0.1L, 0.3L, 0.4999L, 0.5L, 0.7L, 5.0L, 39.99L, 40.0L, 40.01L, 100.0L, 400.0L}) {
    SCOPED_TRACE(static_cast<double>(a));
    long double P = 0, Q = 0, refP = 0, refQ = 0;
    detail::TensionCoefficients(a, P, Q);
    ClosedForm(a, refP, refQ);
    EXPECT_NEAR(1.0, static_cast<double>(P / refP), 1e-12);
    EXPECT_NEAR(1.0, static_cast<double>(Q / refQ), 1e-12);
    for (long double v : {0.1L, 0.37L, 0.5L, 0.9L}) {
      const long double ref = ClosedShape(a, v);
      const double tolerance = 1e-12 * std::fabs(static_cast<double>(ref)) + 1e-300;
      EXPECT_NEAR(0.0, static_cast<double>(detail::TensionShape(a, v) - ref), tolerance) << static_cast<double>(v);
    }
  }
}

TEST(TensionTest, CubicLimitAndSymmetry) {
  long double P = 0, Q = 0;
  detail::TensionCoefficients(0, P, Q);
  EXPECT_DOUBLE_EQ(6.0, static_cast<double>(P));
  EXPECT_DOUBLE_EQ(2.0, static_cast<double>(Q));
  for (long double v : {0.0L, 0.25L, 0.5L, 1.0L})
    EXPECT_NEAR(static_cast<double>(v * v * v - v), static_cast<double>(detail::TensionShape(0, v)), 1e-18);
  long double Pn = 0, Qn = 0;
  detail::TensionCoefficients(-3, Pn, Qn);
  detail::TensionCoefficients(3, P, Q);
  EXPECT_EQ(P, Pn);
  EXPECT_EQ(Q, Qn);
  // Huge tensions stay finite: P grows like a^2, Q like a.
  detail::TensionCoefficients(20000, P, Q);
  EXPECT_NEAR(1.0, static_cast<double>(P / (20000.0L * 20000.0L)), 1e-12);
  EXPECT_NEAR(1.0, static_cast<double>(Q / 19999.0L), 1e-12);
  EXPECT_TRUE(std::isfinite(static_cast<double>(detail::TensionShape(20000, 0.5L))));
}

}  // namespace
}  // namespace vez

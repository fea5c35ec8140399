// Periodic interpolating splines: cubic, and exponential under tension.
#include <cmath>

#include "numerics/Analysis.h"
#include "numerics/internal/OneBased.h"
#include "numerics/internal/Tension.h"

namespace vez {

namespace detail {

namespace {

// (sinh a - a)/a^3, (a cosh a - sinh a)/a^3 and sinh(a)/a by their power series; a^2 <= 0.25 here, so
// twenty terms are far more than long double needs.
struct SmallTension {
  long double s3 = 0, t3 = 0, sinhc = 0;
  explicit SmallTension(long double a) {
    const long double a2 = a * a;
    long double power = 1;     // a^(2k-2)
    long double fact = 6;      // (2k+1)!
    sinhc = 1;
    for (int k = 1; k <= 20; ++k) {
      s3 += power / fact;
      t3 += 2 * k * power / fact;
      sinhc += power * a2 / fact;
      power *= a2;
      fact *= (2 * k + 2) * (2 * k + 3);
    }
  }
};

}  // namespace

void TensionCoefficients(long double a, long double& P, long double& Q) {
  a = std::fabs(a);
  if (a < kTensionSmall) {
    const SmallTension s(a);
    P = s.sinhc / s.s3;
    Q = s.t3 / s.s3;
  } else if (a > kTensionLarge) {
    const long double e2 = std::exp(-2 * a);
    const long double aOverSinh = 2 * a * std::exp(-a) / (1 - e2);
    const long double coth = (1 + e2) / (1 - e2);
    P = a * a / (1 - aOverSinh);
    Q = (a * coth - 1) / (1 - aOverSinh);
  } else {
    const long double sh = std::sinh(a);
    const long double ch = std::cosh(a);
    P = a * a * sh / (sh - a);
    Q = (a * ch - sh) / (sh - a);
  }
}

long double TensionShape(long double a, long double v) {
  a = std::fabs(a);
  if (a < kTensionSmall) {
    const SmallTension s(a);
    const long double a2 = a * a;
    long double power = 1;  // a^(2k-2)
    long double vPow = v;   // v^(2k+1), starting from v^3 below
    long double fact = 6;
    long double sum = 0;
    for (int k = 1; k <= 20; ++k) {
      vPow *= v * v;
      sum += power * (vPow - v) / fact;
      power *= a2;
      fact *= (2 * k + 2) * (2 * k + 3);
    }
    return sum / s.s3;
  }
  if (a > kTensionLarge) {
    // sinh(a v)/sinh(a) = e^(a(v-1)) (1 - e^(-2av)) / (1 - e^(-2a)).
    const long double ratio = std::exp(a * (v - 1)) * -std::expm1(-2 * a * v) / -std::expm1(-2 * a);
    const long double aOverSinh = 2 * a * std::exp(-a) / (1 - std::exp(-2 * a));
    return (ratio - v) / (1 - aOverSinh);
  }
  const long double sh = std::sinh(a);
  return (std::sinh(a * v) - v * sh) / (sh - a);
}

}  // namespace detail

using detail::OneBased;
using detail::OneBasedConst;

namespace {

// True when x[1..n] rises strictly (NaN fails). Coinciding knots would divide by a zero interval length.
bool StrictlyIncreasing(int32_t n, OneBasedConst x) {
  for (int32_t i = 1; i < n; ++i)
    if (!(x[i + 1] > x[i])) return false;
  return true;
}

}  // namespace

void Cubper(int32_t n, const double* x_, double* y_, double Eps, double* a_, double* b_, double* c_, double* d_,
            int32_t& Err) {
  Err = kAnalysisOk;
  if (n < 4) {
    Err = kAnalysisTooFewPoints;
    return;
  }
  OneBasedConst x(x_);
  OneBased y(y_), a(a_), b(b_), c(c_), d(d_);
  if (!StrictlyIncreasing(n, x)) {
    Err = kAnalysisSingular;
    return;
  }
  y[n] = y[1];
  auto h = [&](int32_t i) { return static_cast<long double>(x[i + 1]) - x[i]; };
  auto delta = [&](int32_t i) { return (static_cast<long double>(y[i + 1]) - y[i]) / h(i); };
  // Equations for c[i] (half the second derivative): diagonal in b, off-diagonal in d, right side in c.
  long double hPrev = h(n - 1), deltaPrev = delta(n - 1);
  for (int32_t i = 1; i <= n - 1; ++i) {
    const long double hi = h(i), di = delta(i);
    b[i] = static_cast<double>(2 * (hPrev + hi));
    d[i] = static_cast<double>(hi);
    c[i] = static_cast<double>(3 * (di - deltaPrev));
    hPrev = hi;
    deltaPrev = di;
  }
  Tripes(n - 1, b_, d_, c_, Eps, Err);
  if (Err != kAnalysisOk) return;
  c[n] = c[1];
  for (int32_t i = 1; i <= n - 1; ++i) {
    const long double hi = h(i);
    a[i] = y[i];
    b[i] = static_cast<double>(delta(i) - (2.0L * c[i] + c[i + 1]) * hi / 3);
    d[i] = static_cast<double>((static_cast<long double>(c[i + 1]) - c[i]) / (3 * hi));
  }
}

void EXPPER(int32_t n, const double* x_, double* y_, const double* Alpha_, double* W1_, double* W2_, double* W3_,
            double* W4_, double Eps, double AlphaMax, int32_t& Err) {
  Err = kAnalysisOk;
  if (n < 4) {
    Err = kAnalysisTooFewPoints;
    return;
  }
  OneBasedConst x(x_), Alpha(Alpha_);
  OneBased y(y_), W1(W1_), W2(W2_), W3(W3_), W4(W4_);
  if (!StrictlyIncreasing(n, x)) {
    Err = kAnalysisSingular;
    return;
  }
  y[n] = y[1];
  auto h = [&](int32_t i) { return static_cast<long double>(x[i + 1]) - x[i]; };
  // Equations for the second derivatives M at the knots: off-diagonal h/P in W2, diagonal in W3, right side
  // in W4. P of each interval waits in W1 until the moments replace it.
  long double cPrev = 0, deltaPrev = 0;
  for (int32_t i = 1; i <= n - 1; ++i) {
    const double alpha = Alpha[i];
    if (!(alpha >= 0 && alpha <= AlphaMax)) {
      Err = kAnalysisTension;
      return;
    }
    long double P = 0, Q = 0;
    detail::TensionCoefficients(alpha, P, Q);
    W1[i] = static_cast<double>(P);
    const long double hi = h(i);
    const long double di = (static_cast<long double>(y[i + 1]) - y[i]) / hi;
    const long double ci = Q * hi / P;
    W2[i] = static_cast<double>(hi / P);
    W3[i] = static_cast<double>(cPrev + ci);
    W4[i] = static_cast<double>(di - deltaPrev);
    cPrev = ci;
    deltaPrev = di;
  }
  // Periodic closure: interval n-1 precedes interval 1.
  W3[1] = static_cast<double>(W3[1] + cPrev);
  W4[1] = static_cast<double>(W4[1] - deltaPrev);
  Tripes(n - 1, W3_, W2_, W4_, Eps, Err);
  if (Err != kAnalysisOk) return;
  W4[n] = W4[1];
  // W4 holds the moments and receives coefficients: walk upwards, reading M[i+1] before W4[i] changes.
  long double mNext = W4[1];
  for (int32_t i = 1; i <= n - 1; ++i) {
    const long double mi = mNext;
    mNext = W4[i + 1];
    const long double P = W1[i];  // left there by the first pass; the solver does not touch W1
    const long double hi = h(i);
    const long double w = hi * hi / P;
    W1[i] = static_cast<double>(mi);
    W2[i] = y[i + 1];
    W3[i] = static_cast<double>(w * mi);
    W4[i] = static_cast<double>(w * mNext);
  }
  W1[n] = static_cast<double>(mNext);  // M[n] = M[1]; W4[n] keeps it as well
}

double EXPVAL(int32_t n, const double* x_, const double* Alpha_, const double* C1_, const double* C2_,
              const double* C3_, const double* C4_, double xv, int32_t& Err) {
  Err = kAnalysisOk;
  if (n < 2) {
    Err = kAnalysisTooFewPoints;
    return 0;
  }
  OneBasedConst x(x_), Alpha(Alpha_), C1(C1_), C2(C2_), C3(C3_), C4(C4_);
  if (!(xv >= x[1] && xv <= x[n])) {
    Err = kAnalysisOutOfRange;
    return 0;
  }
  // Bisection for x[i] <= xv < x[i+1]; xv = x[n] ends in interval n-1.
  int32_t lo = 1, hi = n;
  while (hi - lo > 1) {
    const int32_t mid = lo + (hi - lo) / 2;
    if (xv < x[mid])
      hi = mid;
    else
      lo = mid;
  }
  const int32_t i = lo;
  const long double h = static_cast<long double>(x[i + 1]) - x[i];
  const long double t = (xv - static_cast<long double>(x[i])) / h;
  const long double u = 1 - t;
  const long double alpha = Alpha[i];
  return static_cast<double>(C1[i] * u + C2[i] * t + C3[i] * detail::TensionShape(alpha, u) +
                             C4[i] * detail::TensionShape(alpha, t));
}

}  // namespace vez

// Scalar functions, error functions, levels and energies, and Brent's minimisation.
#include "numerics/Analysis.h"

#include <cmath>

#include "core/Exceptions.h"

namespace vez {

int32_t Sign(double x) {
  if (x > 0) return 1;
  if (x < 0) return -1;
  return 0;
}

int32_t Heavi(double x) { return x >= 0 ? 1 : 0; }

double Limit(double Lo, double x, double Hi) {
  if (x < Lo) return Lo;
  if (x > Hi) return Hi;
  return x;
}

double fmod(double a, double b) {
  if (b == 0) return 0;
  const long double q = std::trunc(static_cast<long double>(a) / b);
  // The quotient is kept as a 32-bit integer: the low 32 bits of its 64-bit value. Quotients that do not fit
  // 64 bits (or are not finite) give the "integer indefinite" 0x8000000000000000, whose low half is 0.
  int32_t k = 0;
  if (std::isfinite(q) && std::fabs(q) < 9223372036854775808.0L) {
    const auto wide = static_cast<int64_t>(q);
    k = static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(wide)));
  }
  return static_cast<double>(a - static_cast<long double>(k) * b);
}

double Sinc(double Num, double Den) {
  if (Den <= 1e-10) return 1;
  return Num / Den;
}

double erfcc(double x) {
  const long double z = std::fabs(static_cast<long double>(x));
  const long double t = 1.0L / (1.0L + 0.5L * z);
  const long double poly =
      -z * z - 1.26551223L +
      t * (1.00002368L +
           t * (0.37409196L +
                t * (0.09678418L +
                     t * (-0.18628806L +
                          t * (0.27886807L +
                               t * (-1.13520398L + t * (1.48851587L + t * (-0.82215223L + t * 0.17087277L))))))));
  const long double e = t * std::exp(poly);
  return static_cast<double>(x >= 0 ? e : 2.0L - e);
}

double erfz(double x) {
  const double t = static_cast<double>(1.0L / (1.0L + 0.3275911L * std::fabs(static_cast<long double>(x))));
  const long double lt = t;
  const long double poly =
      lt * (0.254829592L + lt * (-0.284496736L + lt * (1.421413741L + lt * (-1.453152027L + lt * 1.061405429L))));
  const long double e = 1.0L - poly * std::exp(-static_cast<long double>(x) * x);
  return static_cast<double>(x >= 0 ? e : -e);
}

double epeg(double L) {
  if (L < -999) return 0;
  if (L > 220) return 1e23;
  if (std::isnan(L)) return L;
  // 10^(L/10) = 2^z with z = 0.1*L*log2(10) formed in long double, so that the rounding of 0.1*L (up to
  // hundreds of ulps in double arithmetic) does not reach the result. With z = m + f, m integer and f in
  // [0, 1): 2^f is the double exp2 of f and 2^m an exact scaling. The result is within 1 ulp of the long
  // double power of ten (equal to it for about nine inputs in ten) and some twenty times faster than powl,
  // which matters in the energetic sums where epeg is the inner call.
  constexpr long double kLog2Of10 = 3.321928094887362347870319429489390175865L;
  const long double z = 0.1L * L * kLog2Of10;
  const long double m = std::floor(z);
  const double p = std::exp2(static_cast<double>(z - m));
  return std::ldexp(p, static_cast<int>(m));
}

float lpeg(double E) {
  if (E <= 0) return -1000.0f;
  // 10*log10(E) as 10*log10(2)*log2(E).
  constexpr long double kTenLog10Of2 = 3.0102999566398120L;
  return static_cast<float>(kTenLog10Of2 * std::log2(static_cast<long double>(E)));
}

double lpeg_(double E) {
  if (E <= 0) return -1000.0;
  return 10.0 * std::log10(E);
}

namespace {

// |a| with the sign of b (b = 0 counts as positive).
double SignOf(double a, double b) { return b >= 0 ? std::fabs(a) : -std::fabs(a); }

}  // namespace

double DBrent(double ax, double bx, double cx, const std::function<double(double)>& f,
              const std::function<double(double)>& df, double Tol, double& xmin) {
  constexpr double kZeps = 1e-15;
  double a = ax < cx ? ax : cx;
  double b = ax > cx ? ax : cx;
  double x = bx, w = bx, v = bx;
  double fx = f(x);
  double fw = fx, fv = fx;
  double dx = df(x);
  double dw = dx, dv = dx;
  double d = 0;  // the step just taken
  double e = 0;  // the step before it
  for (int32_t iter = 1; iter <= kDBrentMaxIterations; ++iter) {
    const double xm = 0.5 * (a + b);
    const double tol1 = Tol * std::fabs(x) + kZeps;
    const double tol2 = 2.0 * tol1;
    if (std::fabs(x - xm) <= tol2 - 0.5 * (b - a)) {
      xmin = x;
      return fx;
    }
    bool bisect = true;
    if (std::fabs(e) > tol1) {
      // Secant steps from the derivatives at the two other best points.
      double d1 = 2.0 * (b - a);
      double d2 = d1;
      if (dw != dx) d1 = (w - x) * dx / (dx - dw);
      if (dv != dx) d2 = (v - x) * dx / (dx - dv);
      const double u1 = x + d1;
      const double u2 = x + d2;
      const bool ok1 = (a - u1) * (u1 - b) > 0.0 && dx * d1 <= 0.0;
      const bool ok2 = (a - u2) * (u2 - b) > 0.0 && dx * d2 <= 0.0;
      const double olde = e;
      e = d;
      if (ok1 || ok2) {
        if (ok1 && ok2)
          d = std::fabs(d1) < std::fabs(d2) ? d1 : d2;
        else
          d = ok1 ? d1 : d2;
        if (std::fabs(d) <= std::fabs(0.5 * olde)) {
          bisect = false;
          const double u = x + d;
          if (u - a < tol2 || b - u < tol2) d = SignOf(tol1, xm - x);
        }
      }
    }
    if (bisect) {
      // Halve the side the derivative points down to.
      e = dx >= 0.0 ? a - x : b - x;
      d = 0.5 * e;
    }
    double u, fu;
    if (std::fabs(d) >= tol1) {
      u = x + d;
      fu = f(u);
    } else {
      u = x + SignOf(tol1, d);
      fu = f(u);
      // The minimal step goes uphill: x is the minimum to within the tolerance.
      if (fu > fx) {
        xmin = x;
        return fx;
      }
    }
    const double du = df(u);
    if (fu <= fx) {
      if (u >= x)
        a = x;
      else
        b = x;
      v = w, fv = fw, dv = dw;
      w = x, fw = fx, dw = dx;
      x = u, fx = fu, dx = du;
    } else {
      if (u < x)
        a = u;
      else
        b = u;
      if (fu < fw || w == x) {
        v = w, fv = fw, dv = dw;
        w = u, fw = fu, dw = du;
      } else if (fu < fv || v == x || v == w) {
        v = u, fv = fu, dv = du;
      }
    }
  }
  throw Exception("Too many iterations in routine dbrent");
}

}  // namespace vez

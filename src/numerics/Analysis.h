// Analysis: the suite's small numerical library.
//
// Scalar helpers (sign, step, clamping, a truncating remainder, a guarded quotient), two approximations of the
// error function, Brent's one-dimensional minimisation with derivatives, solvers for symmetric tridiagonal and
// cyclic symmetric tridiagonal systems, periodic interpolating splines (cubic, and exponential under tension)
// and the conversions between decibel levels and energies that every energetic sum of levels uses.
//
// All routines are stateless free functions; intermediate arithmetic runs in long double (epeg forms its
// exponent in long double and finishes in double, see there).
//
// Vectors. The routines work on 1-based vectors of doubles: element 1 is the first one. A vector is passed as
// a pointer to its first element (element i lives at p[i - 1]); a routine that fills a vector writes into the
// caller's storage. Any contiguous storage works: `TVector` (index 1..30000, pass `v.data()`), a std::vector
// or a plain array. The caller provides at least as many elements as each routine documents; nothing here
// reads or writes beyond that.
//
// Error codes. The solver and spline routines report through an `Err` reference, set to 0 first:
//   0 success, 1 too few points (n below the routine's minimum), 2 a pivot below Eps in absolute value
//   (numerically singular system), 3 an evaluation point outside [x[1], x[n]], 11 a tension outside
//   0..AlphaMax. Output vectors may be partly written when a routine stops with an error.
// `DBrent` raises vez::Exception instead.
#pragma once

#include <cstdint>
#include <functional>

#include "core/DArray.h"

namespace vez {

// The largest vector the suite's array type holds.
inline constexpr int32_t kMaxVectorLength = 30000;
// A 1-based vector of the suite's full size (240 kB: keep it on the heap or in static storage).
using TVector = DArray<double, 1, kMaxVectorLength>;

// Error codes of the solver and spline routines.
inline constexpr int32_t kAnalysisOk = 0;
inline constexpr int32_t kAnalysisTooFewPoints = 1;
inline constexpr int32_t kAnalysisSingular = 2;
inline constexpr int32_t kAnalysisOutOfRange = 3;
inline constexpr int32_t kAnalysisTension = 11;

// Iteration limit of DBrent.
inline constexpr int32_t kDBrentMaxIterations = 100;

// ---- Scalar functions ------------------------------------------------------------------------------------

// 1 for x > 0, -1 for x < 0, 0 otherwise (also for NaN).
int32_t Sign(double x);
// Heaviside step: 1 for x >= 0 (so Heavi(0) is 1), else 0.
int32_t Heavi(double x);
// Lo if x < Lo, otherwise Hi if x > Hi, otherwise x. The lower bound is tested first, so with Lo > Hi a value
// below Lo gives Lo.
double Limit(double Lo, double x, double Hi);
// Remainder a - k*b with k = a/b truncated towards zero and kept to its low 32 bits as a signed integer
// (the suite's historic behaviour: for |a/b| >= 2^31 the quotient wraps). 0 when b is 0. A quotient that is
// not finite or beyond 64 bits gives k = 0, so the result is a.
// Always call it qualified (vez::fmod) next to <cmath>.
double fmod(double a, double b);
// Num/Den, or 1 when Den <= 1e-10 (also for every negative Den). Callers pass sin(x) and x.
double Sinc(double Num, double Den);

// ---- Error functions -------------------------------------------------------------------------------------

// Complementary error function by a Chebyshev-fitted exponential; fractional error below 1.2e-7 everywhere.
double erfcc(double x);
// Error function by the five-coefficient rational approximation (absolute error below 1.5e-7).
double erfz(double x);

// ---- Minimisation ----------------------------------------------------------------------------------------

// Brent's one-dimensional minimisation using first derivatives. ax, bx, cx bracket a minimum (bx between the
// others, f(bx) below f(ax) and f(cx)); f is the function, df its derivative. Tol is the relative tolerance
// in x (1e-15 is added as absolute tolerance). Sets xmin to the abscissa found and returns f(xmin).
// Throws vez::Exception("Too many iterations in routine dbrent") after kDBrentMaxIterations iterations
// without convergence; exceptions of f and df pass through.
double DBrent(double ax, double bx, double cx, const std::function<double(double)>& f,
              const std::function<double(double)>& df, double Tol, double& xmin);

// ---- Linear systems --------------------------------------------------------------------------------------

// Solves the symmetric tridiagonal system of order n: diagonal a[1..n], off-diagonal b[1..n-1] (b[i] couples
// unknowns i and i+1), right side c[1..n]. The solution replaces c; a and b are overwritten with elimination
// factors (b[n] is neither needed nor touched). Err 2 when a pivot is below Eps in absolute value;
// Err 1 for n < 1.
void Tridis(int32_t n, double* a, double* b, double* c, double Eps, int32_t& Err);

// Solves the cyclic symmetric tridiagonal system of order n >= 3: diagonal a[1..n], off-diagonal b[1..n]
// (b[i] couples unknowns i and i+1, b[n] couples unknown n with unknown 1), right side r[1..n]. The solution
// replaces r; a and b are overwritten with elimination factors. Err 2 when a pivot is below Eps in absolute
// value; Err 1 for n < 3.
void Tripes(int32_t n, double* a, double* b, double* r, double Eps, int32_t& Err);

// ---- Periodic splines ------------------------------------------------------------------------------------

// Periodic interpolating cubic spline through (x[i], y[i]), i = 1..n, x strictly increasing. y[n] is set to
// y[1] in the caller's vector (the curve is closed). On [x[i], x[i+1]] the spline is
// a[i] + b[i]*s + c[i]*s^2 + d[i]*s^3 with s = x - x[i], for i = 1..n-1; c[n] = c[1]. The vectors a, b, c, d
// need n elements each (b and d double as work space). Err 1 for n < 4, Err 2 for a singular system and for
// knots that do not rise strictly (nothing is written then).
void Cubper(int32_t n, const double* x, double* y, double Eps, double* a, double* b, double* c, double* d,
            int32_t& Err);

// Periodic exponential spline under tension through (x[i], y[i]), i = 1..n, x strictly increasing; Alpha[i]
// (>= 0) is the tension of interval i, 0 giving the cubic spline and large tensions approaching straight
// lines. y[n] is set to y[1]. On success W1[1..n] holds the second derivatives at the knots and
// W2, W3, W4 [1..n-1] the coefficients for EXPVAL, to be called with C1 = y, C2 = W2, C3 = W3, C4 = W4.
// All of W1..W4 need n elements. Err 1 for n < 4, 11 for a tension outside 0..AlphaMax (NaN included), 2 for
// a singular system and for knots that do not rise strictly (nothing is written then).
void EXPPER(int32_t n, const double* x, double* y, const double* Alpha, double* W1, double* W2, double* W3,
            double* W4, double Eps, double AlphaMax, int32_t& Err);

// Value at xv of the exponential spline described by EXPPER's results: finds the interval i with
// x[i] <= xv < x[i+1] (xv = x[n] falls into interval n-1) and returns
// C1[i]*u + C2[i]*t + C3[i]*phi(u) + C4[i]*phi(t), t = (xv - x[i])/(x[i+1] - x[i]), u = 1 - t,
// phi(v) = (sinh(a*v) - v*sinh(a))/(sinh(a) - a), a = Alpha[i]. A tension of 0 uses the limit
// phi(v) = v^3 - v, so the spline is cubic there. Err 1 (result 0) for n < 2; Err 3 (result 0) for xv outside
// [x[1], x[n]] or NaN.
double EXPVAL(int32_t n, const double* x, const double* Alpha, const double* C1, const double* C2,
              const double* C3, const double* C4, double xv, int32_t& Err);

// ---- Levels and energies ---------------------------------------------------------------------------------

// Level in dB to energy 10^(L/10), within 1 ulp of the power computed in long double. Levels below -999 dB
// give 0; levels above 220 dB give the cap 1e23 (above epeg(220) = 1e22), so sums of energies stay finite.
// NaN passes through all three conversions.
double epeg(double L);
// Energy to level 10*log10(E), rounded to float; -1000 for E <= 0.
float lpeg(double E);
// Energy to level 10*log10(E) in double precision; -1000 for E <= 0.
double lpeg_(double E);

}  // namespace vez

// Symmetric tridiagonal and cyclic symmetric tridiagonal solvers (elimination without pivoting).
#include <cmath>

#include "numerics/Analysis.h"
#include "numerics/internal/OneBased.h"

namespace vez {

using detail::OneBased;

void Tridis(int32_t n, double* a_, double* b_, double* c_, double Eps, int32_t& Err) {
  Err = kAnalysisOk;
  if (n < 1) {
    Err = kAnalysisTooFewPoints;
    return;
  }
  OneBased a(a_), b(b_), c(c_);
  // Forward sweep: row i becomes x[i] + g[i]*x[i+1] = d[i]; g goes to b[i], d to a[i].
  long double gPrev = 0, dPrev = 0, bPrev = 0;
  for (int32_t i = 1; i <= n; ++i) {
    const long double p = a[i] - bPrev * gPrev;
    if (std::fabs(p) < Eps) {
      Err = kAnalysisSingular;
      return;
    }
    const long double di = (c[i] - bPrev * dPrev) / p;
    a[i] = static_cast<double>(di);
    dPrev = a[i];
    if (i < n) {
      bPrev = b[i];
      b[i] = static_cast<double>(bPrev / p);
      gPrev = b[i];
    }
  }
  c[n] = a[n];
  for (int32_t i = n - 1; i >= 1; --i) c[i] = static_cast<double>(a[i] - static_cast<long double>(b[i]) * c[i + 1]);
}

void Tripes(int32_t n, double* a_, double* b_, double* r_, double Eps, int32_t& Err) {
  Err = kAnalysisOk;
  if (n < 3) {
    Err = kAnalysisTooFewPoints;
    return;
  }
  OneBased a(a_), b(b_), r(r_);
  // Row k is reduced to x[k] + g[k]*x[k+1] + h[k]*x[n] = r[k], with g[k] stored in a[k+1] and h[k] in b[k+1].
  // The last row is carried along: s is its coefficient of the unknown eliminated next, d that of x[n],
  // q its right side.
  if (std::fabs(a[1]) < Eps) {
    Err = kAnalysisSingular;
    return;
  }
  long double d = a[n], q = r[n], s = b[n];
  const long double p1 = a[1];
  // Input values that the stored factors overwrite before they are used.
  long double aNext = a[2];  // a[k] for the coming k
  long double bPrev = b[1];  // b[k-1]
  long double bCur = b[2];   // b[k]
  long double g = b[1] / p1;
  long double h = b[n] / p1;
  a[2] = static_cast<double>(g);
  b[2] = static_cast<double>(h);
  r[1] = static_cast<double>(r[1] / p1);
  g = a[2];
  h = b[2];
  for (int32_t k = 2; k <= n - 1; ++k) {
    const long double p = aNext - bPrev * g;
    if (std::fabs(p) < Eps) {
      Err = kAnalysisSingular;
      return;
    }
    d -= s * h;
    q -= s * r[k - 1];
    s = -g * s;
    const long double gk = bCur / p;
    const long double rk = (r[k] - bPrev * r[k - 1]) / p;
    const long double hk = -bPrev * h / p;
    const long double nextA = a[k + 1];
    const long double nextB = k + 1 <= n - 1 ? b[k + 1] : 0.0L;
    a[k + 1] = static_cast<double>(gk);
    b[k + 1] = static_cast<double>(hk);
    r[k] = static_cast<double>(rk);
    aNext = nextA;
    bPrev = bCur;
    bCur = nextB;
    g = a[k + 1];
    h = b[k + 1];
  }
  // Corner: the last row's coefficient of x[n-1] is the carried s plus the input b[n-1] (now bPrev).
  const long double gh = g + h;
  const long double e = s + bPrev;
  d -= e * gh;
  q -= e * r[n - 1];
  if (std::fabs(d) < Eps) {
    Err = kAnalysisSingular;
    return;
  }
  r[n] = static_cast<double>(q / d);
  r[n - 1] = static_cast<double>(r[n - 1] - gh * r[n]);
  for (int32_t k = n - 2; k >= 1; --k)
    r[k] = static_cast<double>(r[k] - static_cast<long double>(a[k + 1]) * r[k + 1] -
                               static_cast<long double>(b[k + 1]) * r[n]);
}

}  // namespace vez

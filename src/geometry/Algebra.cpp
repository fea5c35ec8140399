#include "geometry/Algebra.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "core/Exceptions.h"

namespace vez {

namespace {

constexpr double kTwoPi = 2.0 * std::numbers::pi;
using LD = long double;

double AngleFromCos(double dot, double p) {
  if (!(p > 0) || !std::isfinite(p)) return 0;
  double c = dot / p;
  if (!std::isfinite(c)) return 0;
  if (std::fabs(c) > 1) c = c > 0 ? 1 : -1;
  return std::acos(c);
}

// The common core of the intersection family: P + u·D against Q + t·E. det and the numerators are formed in long
// double; u and t are their ratios.
struct Crossing {
  LD det = 0;
  LD wx = 0, wy = 0;  // P − Q
  LD dx = 0, dy = 0, ex = 0, ey = 0;

  Crossing(LD px, LD py, LD ddx, LD ddy, LD qx, LD qy, LD eex, LD eey)
      : wx(px - qx), wy(py - qy), dx(ddx), dy(ddy), ex(eex), ey(eey) {
    det = dx * ey - dy * ex;
  }
  // False when |det| is not above the threshold (NaN included).
  bool NotParallel(LD threshold) const { return std::fabs(det) > threshold; }
  LD U() const { return (wy * ex - wx * ey) / det; }
  LD T() const { return (wy * dx - wx * dy) / det; }
};

bool Finite(LD v) { return std::isfinite(static_cast<double>(v)); }

}  // namespace

// ---- value types ----

void vektor2::MxV(const TMatrix2x2& m, const vektor2& v) {
  const double nx = m[0][0] * v.x + m[0][1] * v.y;
  const double ny = m[1][0] * v.x + m[1][1] * v.y;
  x = nx;
  y = ny;
}
double vektor2::Norm() const { return std::sqrt(x * x + y * y); }
bool vektor2::Normiere() {
  const double n = Norm();
  if (!(n > 0)) return false;
  const double nx = x / n, ny = y / n;
  if (!std::isfinite(nx) || !std::isfinite(ny)) return false;
  x = nx;
  y = ny;
  return true;
}
double vektor2::angleX() const { return vez::angleX(TVektor2{x, y}); }
double vektor2::angleV(const vektor2& b) const { return AngleFromCos(Selfpktb(b), Norm() * b.Norm()); }

void vektor3::CrossProd(const vektor3& a, const vektor3& b) {
  const vektor3 r(a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x);
  *this = r;
}
void vektor3::MxV(const TMatrix3x3& m, const vektor3& v) {
  const vektor3 r(m[0][0] * v.x + m[0][1] * v.y + m[0][2] * v.z, m[1][0] * v.x + m[1][1] * v.y + m[1][2] * v.z,
                  m[2][0] * v.x + m[2][1] * v.y + m[2][2] * v.z);
  *this = r;
}
double vektor3::Norm() const { return std::sqrt(x * x + y * y + z * z); }
bool vektor3::Normiere() {
  const double n = Norm();
  if (!(n > 1e-20)) return false;
  divk(n);
  return true;
}
double vektor3::angleV(const vektor3& b) const { return AngleFromCos(Selfpktb(b), Norm() * b.Norm()); }
double SkalarProd3D(const vektor3& a, const vektor3& b) { return a.Selfpktb(b); }

// ---- array form ----

TVektor2 InitV2(const double* a) { return {a[0], a[1]}; }
TVektor3 InitV3(const double* a) { return {a[0], a[1], a[2]}; }
TVektor2 InitV2(double x, double y) { return {x, y}; }
TVektor3 InitV3(double x, double y, double z) { return {x, y, z}; }
TVektor2 AddV2(const TVektor2& a, const TVektor2& b) { return {a[0] + b[0], a[1] + b[1]}; }
TVektor3 AddV3(const TVektor3& a, const TVektor3& b) { return {a[0] + b[0], a[1] + b[1], a[2] + b[2]}; }
TVektor2 SubV2(const TVektor2& a, const TVektor2& b) { return {a[0] - b[0], a[1] - b[1]}; }
TVektor3 SubV3(const TVektor3& a, const TVektor3& b) { return {a[0] - b[0], a[1] - b[1], a[2] - b[2]}; }
TVektor4 SubV4(const TVektor4& a, const TVektor4& b) {
  return {a[0] - b[0], a[1] - b[1], a[2] - b[2], a[3] - b[3]};
}
TVektor2 addKxV2(const TVektor2& a, double k, const TVektor2& b) { return {a[0] + k * b[0], a[1] + k * b[1]}; }
TVektor3 addKxV3(const TVektor3& a, double k, const TVektor3& b) {
  return {a[0] + k * b[0], a[1] + k * b[1], a[2] + k * b[2]};
}
TVektor2 mulkV2(double k, const TVektor2& a) { return {k * a[0], k * a[1]}; }
TVektor3 mulkV3(double k, const TVektor3& a) { return {k * a[0], k * a[1], k * a[2]}; }
TVektor2 divkV2(double k, const TVektor2& a) { return {a[0] / k, a[1] / k}; }
TVektor3 divkV3(double k, const TVektor3& a) { return {a[0] / k, a[1] / k, a[2] / k}; }
double ApktB2(const TVektor2& a, const TVektor2& b) { return a[0] * b[0] + a[1] * b[1]; }
double ApktB(const TVektor3& a, const TVektor3& b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
double SkalarProd3D(const TVektor3& a, const TVektor3& b) { return ApktB(a, b); }
double Norm2(const TVektor2& a) { return std::sqrt(ApktB2(a, a)); }
double Norm3(const TVektor3& a) { return std::sqrt(ApktB(a, a)); }
bool Normalize2(TVektor2& a) {
  const double n = Norm2(a);
  if (!(n > 1e-10)) return false;
  const double k = 1 / n;
  a = mulkV2(k, a);
  return true;
}
bool Normalize3(TVektor3& a) {
  const double n = Norm3(a);
  if (!(n > 1e-10)) return false;
  const double k = 1 / n;
  a = mulkV3(k, a);
  return true;
}
double FastHypot(double x, double y) { return std::sqrt(x * x + y * y); }
double Distance2(const TVektor2& a, const TVektor2& b) { return FastHypot(b[0] - a[0], b[1] - a[1]); }
double Distance3(const TVektor3& a, const TVektor3& b) { return Norm3(SubV3(b, a)); }
TVektor2 MxV2(const TMatrix2x2& m, const TVektor2& v) {
  return {m[0][0] * v[0] + m[0][1] * v[1], m[1][0] * v[0] + m[1][1] * v[1]};
}
TVektor3 MxV(const TMatrix3x3& m, const TVektor3& v) {
  TVektor3 r{};
  for (int i = 0; i < 3; ++i) r[i] = m[i][0] * v[0] + m[i][1] * v[1] + m[i][2] * v[2];
  return r;
}
TVektor3 CrossProd(const TVektor3& a, const TVektor3& b) {
  return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}
TVektor2 GetNormal(const TVektor2& a) { return {a[1], -a[0]}; }
double angleX(const TVektor2& a) {
  double w = std::atan2(a[1], a[0]);
  while (w < 0) w += kTwoPi;
  while (w >= kTwoPi) w -= kTwoPi;
  return w;
}
double angleV2(const TVektor2& a, const TVektor2& b) { return AngleFromCos(ApktB2(a, b), Norm2(a) * Norm2(b)); }
double angleV3(const TVektor3& a, const TVektor3& b) { return AngleFromCos(ApktB(a, b), Norm3(a) * Norm3(b)); }
double OrientedAngleV2(const TVektor2& a, const TVektor2& b) {
  double d = std::atan2(b[1], b[0]) - std::atan2(a[1], a[0]);
  if (d < 0) d += kTwoPi;
  return d;
}
double CosAngleV3(const TVektor3& a, const TVektor3& b) {
  const double p = Norm3(a) * Norm3(b);
  if (!(p > 0)) return 0;
  const double c = ApktB(a, b) / p;
  return std::isfinite(c) ? c : 0;
}
double SinAngleV3(const TVektor3& a, const TVektor3& b) {
  const double p = Norm3(a) * Norm3(b);
  if (!(p > 0)) return 0;
  const double s = Norm3(CrossProd(a, b)) / p;
  return std::isfinite(s) ? s : 0;
}

// ---- 64-bit integers (unsigned arithmetic gives the wrap-around without undefined behaviour) ----

namespace {
int64_t W(uint64_t v) { return static_cast<int64_t>(v); }
uint64_t U(int64_t v) { return static_cast<uint64_t>(v); }
int64_t RoundSqrt(uint64_t sumSquares) {
  return static_cast<int64_t>(std::nearbyint(std::sqrt(static_cast<double>(W(sumSquares)))));
}
}  // namespace

TI64Vektor2 i64_InitV2(const int64_t* a) { return {a[0], a[1]}; }
TI64Vektor3 i64_InitV3(const int64_t* a) { return {a[0], a[1], a[2]}; }
int64_t i64_ApktB2(const TI64Vektor2& a, const TI64Vektor2& b) { return W(U(a[0]) * U(b[0]) + U(a[1]) * U(b[1])); }
int64_t i64_ApktB(const TI64Vektor3& a, const TI64Vektor3& b) {
  return W(U(a[0]) * U(b[0]) + U(a[1]) * U(b[1]) + U(a[2]) * U(b[2]));
}
int64_t i64_Norm2(const TI64Vektor2& a) { return RoundSqrt(U(i64_ApktB2(a, a))); }
int64_t i64_Norm3(const TI64Vektor3& a) { return RoundSqrt(U(i64_ApktB(a, a))); }
TI64Vektor3 i64_AddKxV3(const TI64Vektor3& a, const TI64Vektor3& b, int64_t k) {
  TI64Vektor3 r{};
  for (int i = 0; i < 3; ++i) r[i] = W(U(a[i]) + U(k) * U(b[i]));
  return r;
}
TI64Vektor3 i64_SubV3(const TI64Vektor3& a, const TI64Vektor3& b) {
  return {W(U(a[0]) - U(b[0])), W(U(a[1]) - U(b[1])), W(U(a[2]) - U(b[2]))};
}
TI64Vektor3 i64_MulkV3(int64_t k, const TI64Vektor3& a) {
  return {W(U(k) * U(a[0])), W(U(k) * U(a[1])), W(U(k) * U(a[2]))};
}
TI64Vektor3 i64_CrossProd(const TI64Vektor3& a, const TI64Vektor3& b) {
  return {W(U(a[1]) * U(b[2]) - U(a[2]) * U(b[1])), W(U(a[2]) * U(b[0]) - U(a[0]) * U(b[2])),
          W(U(a[0]) * U(b[1]) - U(a[1]) * U(b[0]))};
}

// ---- matrices ----

TMatrix2x2 M2x2dreh(double phi) {
  const double c = std::cos(phi), s = std::sin(phi);
  return {{{c, -s}, {s, c}}};
}
TMatrix2x2 M2x2mult(const TMatrix2x2& a, const TMatrix2x2& b) {
  TMatrix2x2 r{};
  for (int i = 0; i < 2; ++i)
    for (int j = 0; j < 2; ++j) r[i][j] = a[i][0] * b[0][j] + a[i][1] * b[1][j];
  return r;
}
TMatrix3x3 M3x3Unity() { return {{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}}; }
TMatrix3x3 M3x3Mult(const TMatrix3x3& a, const TMatrix3x3& b) {
  TMatrix3x3 r{};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) r[i][j] = a[i][0] * b[0][j] + a[i][1] * b[1][j] + a[i][2] * b[2][j];
  return r;
}
TMatrix3x3 M3x3Transponiere(const TMatrix3x3& a) {
  TMatrix3x3 r{};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) r[i][j] = a[j][i];
  return r;
}
TMatrix3x3 M3x3Dreh(const TVektor3& n, double phi) {
  const double c = std::cos(phi), s = std::sin(phi), k = 1 - c;
  const double x = n[0], y = n[1], z = n[2];
  return {{{x * x * k + c, x * y * k + z * s, x * z * k - y * s},
           {y * x * k - z * s, y * y * k + c, y * z * k + x * s},
           {z * x * k + y * s, z * y * k - x * s, z * z * k + c}}};
}
void M3x3GetGTheta(const TMatrix3x3& m, TVektor3& g, double& th) {
  double c = (m[0][0] + m[1][1] + m[2][2] - 1) * 0.5;
  c = std::clamp(c, -1.0, 1.0);
  th = std::acos(c);
  if (c != 1) {
    for (int i = 0; i < 3; ++i) {
      const double v = (m[i][i] - c) / (1 - c);
      g[i] = std::sqrt(v < 0 ? 0 : v);
    }
  }
  auto err = [&](double s) {
    return std::max({std::fabs(m[0][1] - m[1][0] - 2 * g[2] * s), std::fabs(m[2][0] - m[0][2] - 2 * g[1] * s),
                     std::fabs(m[1][2] - m[2][1] - 2 * g[0] * s)});
  };
  const double ePlus = err(std::sin(th)), eMinus = err(std::sin(-th));
  if (std::isfinite(ePlus) && std::isfinite(eMinus) && eMinus < ePlus) th = -th;
}

// ---- orientation ----

namespace {
int MpsCore(LD dx1, LD dx2, LD dy1, LD dy2) {
  const LD a = dx1 * dy2, b = dy1 * dx2;
  if (a > b) return 1;
  if (a < b) return -1;
  if (dx1 * dx2 < 0 || dy1 * dy2 < 0) return -2;
  if (dx1 * dx1 + dy1 * dy1 < dx2 * dx2 + dy2 * dy2) return 2;
  return 0;
}
}  // namespace

int mps(const vektor2& p0, const vektor2& p1, const vektor2& p2) {
  return MpsCore(static_cast<LD>(p1.x) - p0.x, static_cast<LD>(p2.x) - p0.x, static_cast<LD>(p1.y) - p0.y,
                 static_cast<LD>(p2.y) - p0.y);
}
int mps(const TVektor2& p0, const TVektor2& p1, const TVektor2& p2) {
  return mps(vektor2{p0[0], p0[1]}, vektor2{p1[0], p1[1]}, vektor2{p2[0], p2[1]});
}
int mps(double dx1, double dx2, double dy1, double dy2) { return MpsCore(dx1, dx2, dy1, dy2); }

bool leftof(const TVektor2& p0, const TVektor2& p1, const TVektor2& p2) {
  return ApktB2(SubV2(p1, p0), SubV2(p2, p0)) < 0;
}
double TriangleArea(const TVektor2& a, const TVektor2& b, const TVektor2& c) {
  return 0.5 * ((a[0] * b[1] - b[0] * a[1]) + (b[0] * c[1] - c[0] * b[1]) + (c[0] * a[1] - a[0] * c[1]));
}

// ---- intersections ----

bool schnittSS(double x1, double y1, double x2, double y2, double x3, double y3, double x4, double y4,
               TVektor2& s, double& t) {
  const Crossing k(x1, y1, static_cast<LD>(x2) - x1, static_cast<LD>(y2) - y1, x3, y3,
                   static_cast<LD>(x4) - x3, static_cast<LD>(y4) - y3);
  if (!k.NotParallel(1e-10L)) return false;
  const LD u = k.U();
  if (!(u >= 0 && u <= 1)) return false;
  const LD tt = k.T();
  if (!Finite(tt)) return false;
  t = static_cast<double>(tt);
  if (!(tt >= 0 && tt <= 1)) return false;
  s = {static_cast<double>(x1 + u * k.dx), static_cast<double>(y1 + u * k.dy)};
  return true;
}

bool schnittHGS(double x1, double y1, double dx1, double dy1, double x3, double y3, double dx2, double dy2,
                TVektor2& s, double& t) {
  const Crossing k(x1, y1, dx1, dy1, x3, y3, dx2, dy2);
  if (!k.NotParallel(1e-9L)) return false;
  const LD u = k.U();
  if (!(u >= 0) || !Finite(u)) return false;
  const LD tt = k.T();
  if (!Finite(tt)) return false;
  t = static_cast<double>(tt);
  if (!(tt >= 0 && tt <= 1)) return false;
  const double sx = static_cast<double>(x1 + u * k.dx), sy = static_cast<double>(y1 + u * k.dy);
  if (!std::isfinite(sx) || !std::isfinite(sy)) return false;
  s = {sx, sy};
  return true;
}

namespace {
// Shared by the 3-D-carrying forms: u accepted by uOk, t by tOk; writes S only on success.
template <class UOk, class TOk>
bool Schnitt3(double x1, double y1, double dx1, double dy1, double x3, double y3, double z3, double dx2,
              double dy2, double dz2, LD threshold, UOk uOk, TOk tOk, TVektor3& s) {
  const Crossing k(x1, y1, dx1, dy1, x3, y3, dx2, dy2);
  if (!k.NotParallel(threshold)) return false;
  const LD u = k.U();
  if (!Finite(u) || !uOk(u)) return false;
  const LD t = k.T();
  if (!Finite(t) || !tOk(t)) return false;
  const TVektor3 r{static_cast<double>(x1 + u * k.dx), static_cast<double>(y1 + u * k.dy),
                   static_cast<double>(z3 + t * dz2)};
  if (!std::isfinite(r[0]) || !std::isfinite(r[1]) || !std::isfinite(r[2])) return false;
  s = r;
  return true;
}
auto AnyParam = [](LD) { return true; };
auto Forward = [](LD u) { return u >= 0; };
auto Closed01 = [](LD t) { return t >= 0 && t <= 1; };
auto Open01 = [](LD t) { return t > 0 && t < 1; };
}  // namespace

bool schnittHGS(double x1, double y1, double dx1, double dy1, double x3, double y3, double z3, double dx2,
                double dy2, double dz2, TVektor3& s) {
  return Schnitt3(x1, y1, dx1, dy1, x3, y3, z3, dx2, dy2, dz2, 1e-9L, Forward, Closed01, s);
}
bool schnittGS(double x1, double y1, double dx1, double dy1, double x3, double y3, double dx2, double dy2,
               TVektor2& s) {
  TVektor3 r{};
  if (!Schnitt3(x1, y1, dx1, dy1, x3, y3, 0, dx2, dy2, 0, 1e-9L, AnyParam, Open01, r)) return false;
  s = {r[0], r[1]};
  return true;
}
bool schnittGS(double x1, double y1, double dx1, double dy1, double x3, double y3, double z3, double dx2,
               double dy2, double dz2, TVektor3& s) {
  return Schnitt3(x1, y1, dx1, dy1, x3, y3, z3, dx2, dy2, dz2, 1e-9L, AnyParam, Open01, s);
}
bool schnittGG(double x1, double y1, double dx1, double dy1, double x3, double y3, double z3, double dx2,
               double dy2, double dz2, TVektor3& s) {
  return Schnitt3(x1, y1, dx1, dy1, x3, y3, z3, dx2, dy2, dz2, 1e-20L, AnyParam, AnyParam, s);
}
bool schnittGG(double x1, double y1, double dx1, double dy1, double x3, double y3, double dx2, double dy2,
               double& x, double& y) {
  TVektor3 r{};
  if (!Schnitt3(x1, y1, dx1, dy1, x3, y3, 0, dx2, dy2, 0, 1e-20L, AnyParam, AnyParam, r)) return false;
  x = r[0];
  y = r[1];
  return true;
}
bool schnitt4(double x1, double y1, double dx1, double dy1, const TVektor4& a, const TVektor4& e, TVektor4& s) {
  const Crossing k(x1, y1, dx1, dy1, a[0], a[1], e[0], e[1]);
  if (!k.NotParallel(1e-9L)) return false;
  const LD u = k.U();
  if (!Finite(u) || !(u >= 0)) return false;
  const LD t = k.T();
  if (!Finite(t) || !(t >= 0 && t <= 1)) return false;
  const TVektor4 r{static_cast<double>(x1 + u * k.dx), static_cast<double>(y1 + u * k.dy),
                   static_cast<double>(a[2] + t * e[2]), static_cast<double>(a[3] + t * e[3])};
  for (double v : r)
    if (!std::isfinite(v)) return false;
  s = r;
  return true;
}
bool schnitt0(bool closed, bool exact, double x1, double y1, double dx1, double dy1, double y3, double x3,
              double dx2, double dy2) {
  const Crossing k(x1, y1, dx1, dy1, x3, y3, dx2, dy2);
  if (!k.NotParallel(1e-15L)) return false;
  const LD m = exact ? 0 : 1e-15L;
  const LD u = k.U();
  if (!Finite(u)) return false;
  if (closed ? !(m < u && u + m < 1) : !(u > m)) return false;
  const LD t = k.T();
  return Finite(t) && t > 0 && t < 1;
}
bool StreckenSchnittA(double x1, double y1, double x2, double y2, double x3, double y3, double x4, double y4,
                      bool& touch, bool& endFirst, bool& endSecond) {
  touch = endFirst = endSecond = false;
  const Crossing k(x1, y1, static_cast<LD>(x2) - x1, static_cast<LD>(y2) - y1, x3, y3,
                   static_cast<LD>(x4) - x3, static_cast<LD>(y4) - y3);
  if (k.NotParallel(1e-9L)) {
    const LD u = k.U(), t = k.T();
    if (!Finite(u) || !Finite(t) || u < 0 || u > 1 || t < 0 || t > 1) return false;
    endFirst = u < 1e-9L || u > 0.999999999L;
    endSecond = t < 1e-9L || t > 0.999999999L;
    return !endFirst && !endSecond;
  }
  const double m = FastHypot((x1 + x2) - (x3 + x4), (y1 + y2) - (y3 + y4));
  const double l1 = FastHypot(x2 - x1, y2 - y1), l2 = FastHypot(x4 - x3, y4 - y3);
  if (std::fabs(m - l1 - l2) < 1e-9) touch = true;
  return false;
}
bool StreckenSchnitt0(double x1, double y1, double x2, double y2, double x3, double y3, double x4, double y4) {
  const Crossing k(x1, y1, static_cast<LD>(x2) - x1, static_cast<LD>(y2) - y1, x3, y3,
                   static_cast<LD>(x4) - x3, static_cast<LD>(y4) - y3);
  if (!k.NotParallel(1e-9L)) return false;
  const LD u = k.U();
  if (!Finite(u) || !(u > 1e-9L && u < 0.999999999L)) return false;
  const LD t = k.T();
  return Finite(t) && t > 1e-9L && t < 0.999999999L;
}

// ---- perpendiculars ----

double LotAufStrecke2D(const TVektor2& p, const TVektor2& a, const TVektor2& b) {
  const TVektor2 d = SubV2(b, a), w = SubV2(p, a);
  const double l2 = ApktB2(d, d), s = ApktB2(w, d);
  if (l2 == 0 || s < 0 || s > l2) return -1;
  return std::fabs(d[1] * w[0] - d[0] * w[1]) / std::sqrt(l2);
}
double Lot2D(const vektor2& p, const vektor2& a, const vektor2& b) {
  return LotAufStrecke2D({p.x, p.y}, {a.x, a.y}, {b.x, b.y});
}
double LotAufGerade2D(const vektor2& p, const vektor2& a, const vektor2& b, vektor2& f) {
  vektor2 d, w;
  d.sub(b, a);
  d.Normiere();
  w.sub(p, a);
  f.addKxV(a, w.Selfpktb(d), d);
  vektor2 r;
  r.sub(p, f);
  return r.Norm();
}
double LotAufGerade2D(const TVektor2& p, const TVektor2& a, const TVektor2& b, TVektor2& f) {
  TVektor2 d = SubV2(b, a);
  if (Normalize2(d))
    f = addKxV2(a, ApktB2(SubV2(p, a), d), d);
  else
    f = a;
  return Distance2(f, p);
}
double LotAufGerade2D(double px, double py, double m, double c, double& fx, double& fy) {
  fx = ((py - c) * m + px) / (m * m + 1);
  fy = m * fx + c;
  const double r = std::sqrt((px - fx) * (px - fx) + (py - fy) * (py - fy));
  return py - fy < 0 ? -r : r;
}
double LotAufGerade3D(const TVektor3& p, const TVektor3& a, const TVektor3& b, TVektor3& f) {
  TVektor3 d = SubV3(b, a);
  if (!Normalize3(d)) {
    f = a;
    return Distance3(p, a);
  }
  const TVektor3 w = SubV3(a, p);
  const TVektor3 r = addKxV3(w, -ApktB(w, d), d);
  f = AddV3(p, r);
  return Norm3(r);
}
double LotAufGerade3D(const TVektor3& p, const TVektor3& a, const TVektor3& b) {
  TVektor3 f{};
  return LotAufGerade3D(p, a, b, f);
}
double Abstand_Punkt_Strecke(const TVektor3& p, const TVektor3& a, const TVektor3& d, TVektor3& f, double& t) {
  const double l2 = ApktB(d, d);
  t = l2 > 1e-10 ? ApktB(SubV3(p, a), d) / l2 : 0;
  if (t <= 0) {
    t = 0;
    f = a;
  } else if (t >= 1) {
    t = 1;
    f = AddV3(a, d);
  } else {
    f = addKxV3(a, t, d);
  }
  return Distance3(p, f);
}
void normline(const TVektor2& a, const TVektor2& b, const TVektor2& p, TVektor2& f, double& h) {
  const TVektor2 d = SubV2(b, a), w = SubV2(p, a);
  const double l2 = ApktB2(d, d);
  f = addKxV2(a, ApktB2(d, w) / l2, d);
  h = (d[0] * w[1] - d[1] * w[0]) / std::sqrt(l2);
}
void projection(const TVektor2& a, const TVektor2& b, const TVektor2& p, double& h, double& s, double& len) {
  TVektor2 f{};
  normline(a, b, p, f, h);
  len = Distance2(a, b);
  if (leftof(a, b, f))
    s = 0;
  else if (leftof(b, a, f))
    s = len;
  else
    s = Distance2(f, a);
}
bool RayPlaneIsn3D(const TVektor3& o, const TVektor3& dir, const TVektor3& n, double d, TVektor3& s) {
  const double len = Norm3(n);
  if (!(len > 0) || !std::isfinite(len)) return false;
  const TVektor3 nn = divkV3(len, n);
  const double den = ApktB(nn, dir);
  if (!(std::fabs(den) >= 1e-20)) return false;
  const double t = (-d - ApktB(nn, o)) / den;
  const TVektor3 r = addKxV3(o, t, dir);
  if (!std::isfinite(r[0]) || !std::isfinite(r[1]) || !std::isfinite(r[2])) return false;
  s = r;
  return true;
}
bool RayPlaneIsn3D(const vektor3& o, const vektor3& dir, vektor3 n, double d, vektor3& s) {
  n.Normiere();
  const double den = n.Selfpktb(dir);
  if (den == 0 || !std::isfinite(den)) return false;
  const double t = (-d - n.Selfpktb(o)) / den;
  s.addKxV(o, t, dir);
  return true;
}
bool RaySphereIsn2D(const TVektor2& o, const TVektor2& dir, const TVektor2& c, double r, double& t1, double& t2) {
  const TVektor2 w = SubV2(o, c);
  const double a = ApktB2(dir, dir), b = 2 * ApktB2(w, dir), cc = ApktB2(w, w) - r * r;
  const double disc = b * b - 4 * a * cc;
  if (!(disc >= 0)) {
    t1 = t2 = 0;
    return false;
  }
  const double root = std::sqrt(disc);
  t1 = (-b + root) / (2 * a);
  t2 = (-b - root) / (2 * a);
  return true;
}
double EbeneZrech(double x, double y, const TVektor3& p1, const TVektor3& p2, const TVektor3& p3) {
  const TVektor3 a = SubV3(p2, p1), b = SubV3(p3, p1);
  const double dx = x - p1[0], dy = y - p1[1];
  const double den = a[0] * b[1] - b[0] * a[1];
  const char* suffix = " Exception occured in module EbeneZRech";
  if (den == 0) throw EZeroDivide(std::string("Floating point division by zero") + suffix);
  const double z = p1[2] + (dx * (a[2] * b[1] - a[1] * b[2]) + dy * (a[0] * b[2] - a[2] * b[0])) / den;
  if (std::isnan(z)) throw EMathError(std::string("Invalid floating point operation") + suffix);
  if (!std::isfinite(z)) throw EOverflow(std::string("Floating point overflow") + suffix);
  return z;
}

// ---- angles and frames ----

double GetTheta(double dx, double dy, double& s) {
  s = std::fabs(dx) + std::fabs(dy);
  double t = (dx == 0 && dy == 0) ? 0 : dy / s;
  if (dx < 0)
    t = 2 - t;
  else if (dy < 0)
    t = 4 + t;
  return 90 * t;
}
double theta(const TVektor2& p1, const TVektor2& p2, double& s) { return GetTheta(p2[0] - p1[0], p2[1] - p1[1], s); }
void Arctheta(double th, double& c, double& s) {
  while (th >= 360) th -= 360;
  while (th < 0) th += 360;
  double q = th / 90, fc = 1, fs = 1;
  if (q > 1 && q <= 2) {
    fc = -1;
    q -= 2;
  } else if (q > 2 && q <= 3) {
    fc = -1;
    fs = -1;
    q -= 2;
  } else if (q > 3) {
    fs = -1;
    q -= 4;
  }
  s = fs * std::sqrt(q * q / (1 - 2 * std::fabs(q) + 2 * q * q));
  c = fc * std::sqrt(1 - s * s);
}
TVektor2 Mirror(const TVektor2& a, const TVektor2& b, const TVektor2& n) {
  return addKxV2(a, 2 * ApktB2(SubV2(b, a), n), n);
}

TTransForm::TTransForm(double x0, double y0, double dx, double dy) { Calc(std::atan2(dy, dx), x0, y0); }
void TTransForm::Calc(double phi, double x0, double y0) {
  Forward = M2x2dreh(-phi);
  Backward = M2x2dreh(phi);
  Origin = {x0, y0};
}
void TTransForm::make(const vektor2& p, vektor2& q) const {
  vektor2 d;
  d.init(p.x - Origin[0], p.y - Origin[1]);
  q.MxV(Forward, d);
}
void TTransForm::back(const vektor2& p, vektor2& q) const {
  vektor2 r;
  r.MxV(Backward, p);
  q.init(r.x + Origin[0], r.y + Origin[1]);
}
TVektor2 TTransForm::makeT(const TVektor2& p) const { return MxV2(Forward, SubV2(p, Origin)); }
TVektor2 TTransForm::backT(const TVektor2& p) const { return AddV2(MxV2(Backward, p), Origin); }

}  // namespace vez

// The orientation test and the intersection family against an exact rational reference on integer-valued input:
// small grids (many collinear, touching, parallel and zero-length cases), huge translations and wide extents.
#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <cmath>
#include <random>

#include "TestUtil.h"
#include "core/Exceptions.h"
#include "geometry/Algebra.h"

namespace vez {
namespace {

__extension__ typedef __int128 I;

// P + u·D against Q + t·E with u = nu/det and t = nt/det, all exact.
struct Ref {
  I det, nu, nt;
  Ref(I px, I py, I dx, I dy, I qx, I qy, I ex, I ey) {
    det = dx * ey - dy * ex;
    const I wx = px - qx, wy = py - qy;
    nu = wy * ex - wx * ey;
    nt = wy * dx - wx * dy;
    if (det < 0) det = -det, nu = -nu, nt = -nt;
  }
  // lo <(=) n/det <(=) hi for lo, hi in {0, 1}.
  bool In(I n, bool closed) const { return closed ? (n >= 0 && n <= det) : (n > 0 && n < det); }
};

int RefMps(I x0, I y0, I x1, I y1, I x2, I y2) {
  const I dx1 = x1 - x0, dy1 = y1 - y0, dx2 = x2 - x0, dy2 = y2 - y0;
  const I cross = dx1 * dy2 - dy1 * dx2;
  if (cross != 0) return cross > 0 ? 1 : -1;
  if ((dx1 != 0 && dx2 != 0 && (dx1 > 0) != (dx2 > 0)) || (dy1 != 0 && dy2 != 0 && (dy1 > 0) != (dy2 > 0)))
    return -2;
  return dx1 * dx1 + dy1 * dy1 < dx2 * dx2 + dy2 * dy2 ? 2 : 0;
}

struct Input {
  int64_t c[8];  // x1 y1 x2 y2 x3 y3 x4 y4 (end points) or x1 y1 dx1 dy1 x3 y3 dx2 dy2 (offsets)
};

// Small grid (degenerate cases are frequent), a huge translation of the small grid, and wide random extents.
std::vector<Input> Inputs() {
  std::mt19937_64 rng(13);
  std::vector<Input> out;
  for (int kind = 0; kind < 3; ++kind)
    for (int n = 0; n < 4000; ++n) {
      Input in{};
      const int64_t shift = kind == 1 ? (int64_t(1) << 50) + int64_t(rng() % 1000) : 0;
      for (int64_t& v : in.c)
        v = kind == 2 ? int64_t(rng() % (int64_t(1) << 29)) - (int64_t(1) << 28) : shift + int64_t(rng() % 7) - 3;
      out.push_back(in);
    }
  return out;
}

double D(int64_t v) { return static_cast<double>(v); }

TEST(IntersectTest, OrientationAndSegmentFamilyMatchExactValues) {
  for (const Input& in : Inputs()) {
    const auto& c = in.c;
    SCOPED_TRACE(testing::PrintToString(std::vector<int64_t>(std::begin(c), std::end(c))));
    const int ref = RefMps(c[0], c[1], c[2], c[3], c[4], c[5]);
    EXPECT_EQ(ref, mps(TVektor2{D(c[0]), D(c[1])}, {D(c[2]), D(c[3])}, {D(c[4]), D(c[5])}));
    EXPECT_EQ(ref, mps(vektor2{D(c[0]), D(c[1])}, vektor2{D(c[2]), D(c[3])}, vektor2{D(c[4]), D(c[5])}));
    EXPECT_EQ(ref, mps(D(c[2] - c[0]), D(c[4] - c[0]), D(c[3] - c[1]), D(c[5] - c[1])));
    const bool small = std::llabs(c[2] - c[0]) < 1000 && std::llabs(c[6] - c[4]) < 1000;
    // End-point form: D = P2 − P1, E = P4 − P3.
    const Ref r(c[0], c[1], I(c[2]) - c[0], I(c[3]) - c[1], c[4], c[5], I(c[6]) - c[4], I(c[7]) - c[5]);
    const bool ss = r.det != 0 && r.In(r.nu, true) && r.In(r.nt, true);
    const bool open = r.det != 0 && r.In(r.nu, false) && r.In(r.nt, false);
    TVektor2 s{-7, -7};
    double t = -7;
    ASSERT_EQ(ss, schnittSS(D(c[0]), D(c[1]), D(c[2]), D(c[3]), D(c[4]), D(c[5]), D(c[6]), D(c[7]), s, t));
    if (ss) {
      const double u = double(r.nu) / double(r.det);
      EXPECT_NEAR(s[0], D(c[0]) + u * D(c[2] - c[0]), 1e-6 * (1 + std::fabs(s[0])));
      EXPECT_NEAR(t, double(r.nt) / double(r.det), 1e-12);
    }
    EXPECT_EQ(open, StreckenSchnitt0(D(c[0]), D(c[1]), D(c[2]), D(c[3]), D(c[4]), D(c[5]), D(c[6]), D(c[7])));
    if (small) {  // u and t are then never closer than 1e-6 to 0 or 1 unless they are exactly there
      bool touch = true, e1 = true, e2 = true;
      EXPECT_EQ(open, StreckenSchnittA(D(c[0]), D(c[1]), D(c[2]), D(c[3]), D(c[4]), D(c[5]), D(c[6]), D(c[7]),
                                       touch, e1, e2));
      EXPECT_EQ(e1, ss && (r.nu == 0 || r.nu == r.det));
      EXPECT_EQ(e2, ss && (r.nt == 0 || r.nt == r.det));
      if (r.det == 0) {  // the length test on (P1 + P2) − (P3 + P4)
        const long double m = std::hypot((long double)(I(c[0]) + c[2] - c[4] - c[6]),
                                         (long double)(I(c[1]) + c[3] - c[5] - c[7]));
        const long double l1 = std::hypot((long double)(c[2] - c[0]), (long double)(c[3] - c[1]));
        const long double l2 = std::hypot((long double)(c[6] - c[4]), (long double)(c[7] - c[5]));
        EXPECT_EQ(touch, std::fabs(m - l1 - l2) < 1e-9L);
      } else {
        EXPECT_FALSE(touch);
      }
    }
    // Offset form with the same D and E, so the same parameters.
    const double d0 = D(c[2] - c[0]), d1 = D(c[3] - c[1]), e0 = D(c[6] - c[4]), e1 = D(c[7] - c[5]);
    const bool hgs = r.det != 0 && r.nu >= 0 && r.In(r.nt, true);
    ASSERT_EQ(hgs, schnittHGS(D(c[0]), D(c[1]), d0, d1, D(c[4]), D(c[5]), e0, e1, s, t));
    TVektor3 s3{};
    EXPECT_EQ(hgs, schnittHGS(D(c[0]), D(c[1]), d0, d1, D(c[4]), D(c[5]), 1, e0, e1, 2, s3));
    EXPECT_TRUE(!hgs || std::fabs(s3[2] - 1 - 2 * double(r.nt) / double(r.det)) <= 1e-9) << s3[2];
    const TVektor4 a4{D(c[4]), D(c[5]), 0, 10}, e4{e0, e1, 1, -10};
    TVektor4 s4{};
    EXPECT_EQ(hgs, schnitt4(D(c[0]), D(c[1]), d0, d1, a4, e4, s4));
    const bool gs = r.det != 0 && r.In(r.nt, false);
    EXPECT_EQ(gs, schnittGS(D(c[0]), D(c[1]), d0, d1, D(c[4]), D(c[5]), e0, e1, s));
    EXPECT_EQ(gs, schnittGS(D(c[0]), D(c[1]), d0, d1, D(c[4]), D(c[5]), 0, e0, e1, 0, s3));
    double gx = 0, gy = 0;
    EXPECT_EQ(r.det != 0, schnittGG(D(c[0]), D(c[1]), d0, d1, D(c[4]), D(c[5]), e0, e1, gx, gy));
    EXPECT_TRUE(!gs || std::hypot(gx - s3[0], gy - s3[1]) <= 1e-9) << gx << " " << gy;  // the point of schnittGS
    // schnitt0 takes Q as (y, x); exact margins reduce to the open/closed parameter ranges.
    EXPECT_EQ(open, schnitt0(true, true, D(c[0]), D(c[1]), d0, d1, D(c[5]), D(c[4]), e0, e1));
    EXPECT_EQ(r.det != 0 && r.nu > 0 && r.In(r.nt, false),
              schnitt0(false, true, D(c[0]), D(c[1]), d0, d1, D(c[5]), D(c[4]), e0, e1));
  }
}

TEST(IntersectTest, PerpendicularsAgainstSampledSegments) {
  std::mt19937_64 rng(5);
  std::uniform_int_distribution<int> v(-6, 6);
  for (int n = 0; n < 1000; ++n) {
    const TVektor2 p{D(v(rng)), D(v(rng))}, a{D(v(rng)), D(v(rng))}, b{D(v(rng)), D(v(rng))};
    const TVektor3 p3{p[0], p[1], 1}, a3{a[0], a[1], 1}, d3{b[0] - a[0], b[1] - a[1], 0};
    double seg = 1e300;  // the distance to the segment by sampling it
    for (int k = 0; k <= 2000; ++k) seg = std::min(seg, Distance3(p3, addKxV3(a3, k / 2000.0, d3)));
    const double s = ApktB2(SubV2(p, a), SubV2(b, a)), l2 = ApktB2(SubV2(b, a), SubV2(b, a));  // exact
    const double lot = LotAufStrecke2D(p, a, b);
    EXPECT_EQ(l2 == 0 || s < 0 || s > l2 ? -1 : lot, lot);
    EXPECT_NEAR(lot >= 0 ? seg : lot, lot, 1e-2);
    EXPECT_EQ(lot, Lot2D(vektor2{p[0], p[1]}, vektor2{a[0], a[1]}, vektor2{b[0], b[1]}));
    TVektor3 f{};
    double t = 0;
    EXPECT_NEAR(seg, Abstand_Punkt_Strecke(p3, a3, d3, f, t), 1e-2);
    EXPECT_NEAR(Distance3(p3, f), Distance3(p3, addKxV3(a3, t, d3)), 1e-12);
    if (l2 == 0) continue;
    TVektor2 foot{};
    double h = 0;
    normline(a, b, p, foot, h);  // signed like the orientation test
    EXPECT_EQ(mps(a, b, p) == 1 ? 1 : mps(a, b, p) == -1 ? -1 : 0, (h > 0) - (h < 0));
    EXPECT_EQ(leftof(a, b, p), s < 0);
    EXPECT_NEAR(std::fabs(h), LotAufGerade2D(p, a, b, foot), 1e-9);
    EXPECT_EQ(TriangleArea(p, a, b) * 2, (a[0] - p[0]) * (b[1] - p[1]) - (a[1] - p[1]) * (b[0] - p[0]));
  }
}

// Each operation on fractional input on both sides of its parallel threshold: the first operand runs from (0, 0)
// along (1, 0), the second from (0, −e/2) along (1, e), so det = e and the crossing lies at u = t = 1/2.
TEST(IntersectTest, ParallelThresholdsEndsMarginsAndWorkedValues) {
  using Op = std::function<bool(double)>;
  TVektor2 s{};
  TVektor3 s3{};
  TVektor4 s4{};
  double t = 0, x = 0, y = 0;
  bool f1 = false, f2 = false, f3 = false;
  const std::pair<double, Op> ops[] = {
      {1e-10, [&](double e) { return schnittSS(0, 0, 1, 0, 0, -e / 2, 1, e / 2, s, t); }},
      {1e-9, [&](double e) { return schnittHGS(0, 0, 1, 0, 0, -e / 2, 1, e, s, t); }},
      {1e-9, [&](double e) { return schnittHGS(0, 0, 1, 0, 0, -e / 2, 0, 1, e, 0, s3); }},
      {1e-9, [&](double e) { return schnittGS(0, 0, 1, 0, 0, -e / 2, 1, e, s); }},
      {1e-9, [&](double e) { return schnittGS(0, 0, 1, 0, 0, -e / 2, 0, 1, e, 0, s3); }},
      {1e-20, [&](double e) { return schnittGG(0, 0, 1, 0, 0, -e / 2, 1, e, x, y); }},
      {1e-20, [&](double e) { return schnittGG(0, 0, 1, 0, 0, -e / 2, 0, 1, e, 0, s3); }},
      {1e-9, [&](double e) { return schnitt4(0, 0, 1, 0, {0, -e / 2, 0, 0}, {1, e, 0, 0}, s4); }},
      {1e-15, [&](double e) { return schnitt0(true, false, 0, 0, 1, 0, -e / 2, 0, 1, e); }},
      {1e-9, [&](double e) { return StreckenSchnittA(0, 0, 1, 0, 0, -e / 2, 1, e / 2, f1, f2, f3); }},
      {1e-9, [&](double e) { return StreckenSchnitt0(0, 0, 1, 0, 0, -e / 2, 1, e / 2); }},
  };
  for (size_t i = 0; i < std::size(ops); ++i) {
    const auto& [threshold, op] = ops[i];
    for (const double e : {threshold * 1.5, -threshold * 1.5}) EXPECT_TRUE(op(e)) << i << " " << e;
    for (const double e : {threshold * 0.7, -threshold * 0.7}) EXPECT_FALSE(op(e)) << i << " " << e;
  }
  // A determinant equal to the threshold counts as parallel (a · b is 1e-10 in long double); twice it does not.
  const double a = 2195699552557.0, b = 0x1.b8786cp-75;
  EXPECT_FALSE(schnittSS(0, 0, a, 0, a / 2, -b / 2, a / 2, b / 2, s, t));
  EXPECT_TRUE(schnittSS(0, 0, a, 0, a / 2, -b, a / 2, b, s, t));

  // The end tolerance of the crossing tests, the margin of schnitt0, and the values worked by hand.
  // A vertical segment through x = u crosses (0, 0)–(1, 0) at u; swapped, at t = u.
  for (const double u : {0.4e-9, 1.6e-9, 1 - 1.6e-9, 1 - 0.4e-9}) {
    const bool inner = u > 1e-9 && u < 1 - 1e-9;
    bool touch = true, e1 = false, e2 = true;
    EXPECT_EQ(inner, StreckenSchnittA(0, 0, 1, 0, u, -1, u, 1, touch, e1, e2)) << u;
    EXPECT_EQ((std::array{false, !inner, false}), (std::array{touch, e1, e2})) << u;
    EXPECT_EQ(inner, StreckenSchnittA(u, -1, u, 1, 0, 0, 1, 0, touch, e1, e2)) << u;
    EXPECT_EQ((std::array{false, false, !inner}), (std::array{touch, e1, e2})) << u;
    EXPECT_EQ(inner, StreckenSchnitt0(0, 0, 1, 0, u, -1, u, 1)) << u;
    EXPECT_EQ(inner, StreckenSchnitt0(u, -1, u, 1, 0, 0, 1, 0)) << u;
  }
  // Exactly at the end tolerance (t = 0.999999999, u = 1/2) is an end: 1 − t has few enough bits to be exact.
  const double d = static_cast<double>(1 - 0.999999999L);
  EXPECT_FALSE(StreckenSchnitt0(-0.5, 0, 0.5, -2 * d, 0, -1, 0, 0));
  // And u = 1e-9 exactly (t = 1/2): c + r is the limit, and 1 + r rounds to 1. Inside for A, an end for 0.
  const double c = static_cast<double>(1e-9L), r = static_cast<double>(1e-9L - c);
  bool touch = true, e1 = true, e2 = true;
  EXPECT_EQ(std::pair(true, false), std::pair(StreckenSchnittA(-r, 0, 1, 0, c, -0.5, c, 0.5, touch, e1, e2), e1));
  EXPECT_FALSE(StreckenSchnitt0(-r, 0, 1, 0, c, -0.5, c, 0.5));
  // schnitt0 (Q passed as y, x): without `exact` the first operand's ends keep a margin of 1e-15.
  for (const double u : {0.5e-15, 2e-15, 1 - 2e-15, 1 - 4.5e-16}) {
    const bool inner = u > 1e-15 && u + 1e-15 < 1;
    for (const bool closed : {true, false}) {
      EXPECT_EQ(closed ? inner : u > 1e-15, schnitt0(closed, false, 0, 0, 1, 0, -1, u, 0, 2)) << u;
      EXPECT_TRUE(schnitt0(closed, true, 0, 0, 1, 0, -1, u, 0, 2)) << u;
    }
  }
  EXPECT_EQ(std::pair(true, false),  // open: beyond the first operand's end
            std::pair(schnitt0(false, true, 0, 0, 1, 0, -1, 5, 0, 2), schnitt0(true, true, 0, 0, 1, 0, -1, 5, 0, 2)));
  // t is written as soon as it is known (also when its range test fails), S only on success; u fails first.
  s = {7, 7};
  t = 9;
  EXPECT_EQ((std::array{0.0, -1.0, 7.0, 7.0}),
            (std::array{1.0 * schnittHGS(0, 0, 1, 0, 1, 1, 0, 1, s, t), t, s[0], s[1]}));
  EXPECT_FALSE(schnittHGS(0, 0, 1, 0, -1, -1, 0, 2, s, t));  // behind the start: u < 0
  EXPECT_EQ(std::pair(false, -1.0), (std::pair{schnittSS(0, 0, 2, 0, 3, -1, 3, 1, s, t), t}));  // u = 1.5
  EXPECT_EQ(std::pair(false, -0.5), (std::pair{schnittSS(0, 0, 2, 2, 0, 2, -2, 4, s, t), t}));
  EXPECT_EQ((std::array{1.0, 0.0, 1.0, 0.0}),
            (std::array{1.0 * schnittHGS(0, 0, 1, 0, 1, 0, 0, 1, s, t), t, s[0], s[1]}));
  EXPECT_FALSE(schnittHGS(0, 1.5e308, 1, 0.3e308, 1, 1e308, 0, 1e308, s, t));  // y beyond the doubles, x = 1
  // schnitt4 carries the two further components along the second operand: t = 0.25 here.
  EXPECT_EQ(std::pair(true, TVektor4{0.25, 0, 10.5, 95}),
            (std::pair{schnitt4(0, 0, 1, 0, {0.25, -1, 10, 100}, {0, 4, 2, -20}, s4), s4}));
  EXPECT_EQ(std::pair(true, TVektor3{2, 2, 7}),
            (std::pair{schnittGS(0, 0, 1, 1, 0, 4, 3, 4, -4, 8, s3), s3}));  // t = 0.5
  // The perpendicular foot at either end of the segment belongs to it.
  for (const TVektor2 p : {TVektor2{4, 1}, TVektor2{0, -1}, TVektor2{2, 1}}) {
    EXPECT_EQ(std::pair(1.0, 1.0), std::pair(LotAufStrecke2D(p, {0, 0}, {4, 0}), Lot2D({p[0], p[1]}, {0, 0}, {4, 0})))
        << p[0];
  }
  EXPECT_EQ(std::pair(-1.0, -1.0),
            std::pair(LotAufStrecke2D({4.5, 1}, {0, 0}, {4, 0}), LotAufStrecke2D({1, 1}, {2, 2}, {2, 2})));
  double fx = 0, fy = 0;
  EXPECT_EQ(-1, LotAufGerade2D(0, -1, 0, 0, fx, fy));
  EXPECT_EQ((std::array{std::sqrt(2.0), 1.0, 1.0}), (std::array{LotAufGerade2D(0, 2, 1, 0, fx, fy), fx, fy}));  // y = x
  TVektor3 foot{};
  EXPECT_EQ(std::pair(5.0, TVektor3{0, 0, 7}),
            (std::pair{LotAufGerade3D({3, 4, 7}, {0, 0, 1}, {0, 0, 9}, foot), foot}));
  EXPECT_EQ(5, LotAufGerade3D({3, 4, 7}, {0, 0, 7}, {0, 0, 7}, foot));  // A = B: the foot is A
  for (const double z : {0.0, 1e-7}) {  // |D|^2 = 1e-10 exactly counts as a point, just above as a segment
    Abstand_Punkt_Strecke({6e-6, 8e-6, z}, {0, 0, 0}, {6e-6, 8e-6, z}, foot, t);
    EXPECT_EQ(z > 0 ? 1 : 0, t) << z;
  }
  double t2 = 0;
  EXPECT_EQ((std::array{1.0, 6.0, 4.0}), (std::array{1.0 * RaySphereIsn2D({-5, 0}, {1, 0}, {0, 0}, 1, t, t2), t, t2}));
  EXPECT_EQ(std::pair(false, 0.0), (std::pair{RaySphereIsn2D({-5, 2}, {1, 0}, {0, 0}, 1, t, t2), t}));
  EXPECT_EQ((std::array{1.0, 5.0, 5.0}), (std::array{1.0 * RaySphereIsn2D({-5, 1}, {1, 0}, {0, 0}, 1, t, t2), t, t2}));
  EXPECT_EQ(
      std::pair(3.0, 11.0),  // z = 2x + 3y + 1 on the second
      std::pair(EbeneZrech(1, 1, {0, 0, 0}, {1, 0, 1}, {0, 1, 2}), EbeneZrech(2, 2, {1, 0, 3}, {0, 1, 4}, {0, 0, 1})));
  EXPECT_THROW_MSG(EbeneZrech(1, 1, {0, 0, 0}, {1, 0, 1}, {2, 0, 2}), EZeroDivide,
                   "Floating point division by zero Exception occured in module EbeneZRech");
  TVektor3 p{};
  EXPECT_EQ(std::pair(true, TVektor3{1, 2, 1}),
            (std::pair{RayPlaneIsn3D(TVektor3{1, 2, 5}, TVektor3{0, 0, -1}, TVektor3{0, 0, 3}, -1, p), p}));
  EXPECT_FALSE(RayPlaneIsn3D(TVektor3{1, 2, 5}, TVektor3{1, 0, 0}, TVektor3{0, 0, 3}, -1, p));
  for (const double e : {2e-20, 1e-20, 1e-15, 0.5e-20})  // the parallel threshold 1e-20 of n·D
    EXPECT_EQ(e >= 1e-20, RayPlaneIsn3D(TVektor3{0, 0, 0}, TVektor3{1, 0, e}, TVektor3{0, 0, 2}, -e, p)) << e;
  EXPECT_EQ((TVektor3{1, 0, 1e-15}), p);
  vektor3 q;
  EXPECT_EQ(std::pair(true, 1.0),
            (std::pair{RayPlaneIsn3D(vektor3(1, 2, 5), vektor3(0, 0, -2), vektor3(0, 0, 3), -1, q), q.z}));
  double h = 0, sl = 0, len = 0;
  for (const auto& [px, expected] : {std::pair{6.0, 4.0}, {-2.0, 0.0}, {1.5, 1.5}}) {
    projection({0, 0}, {4, 0}, {px, -1}, h, sl, len);
    EXPECT_EQ((TVektor3{-1, expected, 4}), (TVektor3{h, sl, len})) << px;
  }
}

}  // namespace
}  // namespace vez

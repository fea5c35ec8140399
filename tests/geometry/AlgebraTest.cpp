// Vector algebra, angles, rotations and frame transforms: the documented values and round-trip properties.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <numbers>
#include <random>

#include "geometry/Algebra.h"

namespace vez {
namespace {

constexpr double kPi = std::numbers::pi;

TEST(AlgebraTest, AnglesPseudoAnglesAndTheirInverse) {
  // The last: 2π − 1e-300 rounds to 2π and wraps.
  const std::pair<TVektor2, double> axes[] = {{{1, 0}, 0},          {{0, 1}, kPi / 2}, {{-1, 0}, kPi},
                                              {{0, -1}, 3 * kPi / 2}, {{0, 0}, 0},       {{1, -1e-300}, 0}};
  for (const auto& [a, angle] : axes) {
    EXPECT_DOUBLE_EQ(angle, angleX(a));
    EXPECT_DOUBLE_EQ(angle, (vektor2{a[0], a[1]}.angleX()));
  }
  std::mt19937_64 rng(1);
  std::uniform_real_distribution<double> u(-1e3, 1e3);
  for (int n = 0; n < 1000; ++n) {  // opposite vectors: the cosine may round below −1 but never gives NaN
    const double x = u(rng), y = u(rng), z = u(rng);
    EXPECT_NEAR(kPi, angleV2({x, y}, {-x, -y}), 1e-7);
    EXPECT_NEAR(kPi, (vektor2{x, y}.angleV(vektor2{-x, -y})), 1e-7);
    EXPECT_NEAR(kPi, angleV3({x, y, z}, {-x, -y, -z}), 1e-7);
    EXPECT_NEAR(0, (vektor3(x, y, z).angleV(vektor3(x, y, z))), 1e-7);
  }
  EXPECT_EQ(0, angleV2({1, 0}, {0, 0}));
  for (const TVektor2 a : {TVektor2{1, 0}, TVektor2{-1, 0}, TVektor2{0.3, -0.7}})  // equal directions: 0, not 2π
    EXPECT_EQ(0, OrientedAngleV2(a, mulkV2(2, a))) << a[0];
  const std::pair<double, double> values[] = {
      {3 * kPi / 2, OrientedAngleV2({0, 1}, {1, 0})}, {kPi / 2, OrientedAngleV2({1, 0}, {0, 1})},
      {0.6, CosAngleV3({3, 4, 0}, {1, 0, 0})},        {0.8, SinAngleV3({3, 4, 0}, {-1, 0, 0})},
      {0, SinAngleV3({0, 0, 0}, {1, 0, 0})},          {0, CosAngleV3({1e200, 0, 0}, {1e200, 0, 0})},
      {0, SinAngleV3({1e200, 0, 0}, {0, 1e200, 0})}};  // the last two: inf / inf
  for (const auto& [expected, value] : values) EXPECT_DOUBLE_EQ(expected, value);
  // The pseudo-angle and its inverse: dx, dy, the pseudo-angle and the sum |dx| + |dy|.
  const double cases[][4] = {{0, 0, 0, 0}, {1, 1, 45, 2}, {-1, 0, 180, 1}, {0, -1, 270, 1}, {1, -1, 315, 2},
                             {3, 4, 360.0 / 7, 7}};
  for (const auto& [dx, dy, th, sum] : cases) {
    double s = -1;
    EXPECT_DOUBLE_EQ(th, GetTheta(dx, dy, s));
    EXPECT_EQ(sum, s);
    EXPECT_DOUBLE_EQ(th, theta({5, 5}, {5 + dx, 5 + dy}, s));
  }
  const double inv[][3] = {{45, std::sqrt(0.5), std::sqrt(0.5)}, {180, -1, 0}, {-90, 0, -1}, {450, 0, 1}, {0, 1, 0}};
  for (const auto& [th, cosine, sine] : inv) {
    double c = 9, s = 9;
    Arctheta(th, c, s);
    EXPECT_NEAR(0, std::hypot(cosine - c, sine - s), 1e-15) << th;
  }
  double last = -1;
  for (int k = 0; k < 3600; ++k) {  // monotone and round trip over the whole circle
    const double phi = k * kPi / 1800;
    double s = 0, c = 0, sn = 0;
    const double th = GetTheta(3 * std::cos(phi), 3 * std::sin(phi), s);
    EXPECT_GT(th, last);
    last = th;
    Arctheta(th, c, sn);
    EXPECT_NEAR(std::cos(phi), c, 1e-12);
    EXPECT_NEAR(std::sin(phi), sn, 1e-12);
  }
}

TEST(AlgebraTest, NormalisersAndIntegerForm) {
  TVektor2 a{1e-11, 0};
  vektor2 v{1e-11, 0}, z{0, 0}, inf{HUGE_VAL, 1};  // inf / inf is no number
  vektor3 w(1e-21, 0, 0), w2(1e-19, 0, 0);
  EXPECT_EQ((std::array{false, true, false, false, true, false, false}),
            (std::array{Normalize2(a), v.Normiere(), z.Normiere(), w.Normiere(), w2.Normiere(), inf.Normiere(),
                        vektor3().Normiere()}));
  EXPECT_EQ(std::pair(1e-11, 1.0), std::pair(a[0], v.x));
  EXPECT_EQ((TVektor2{0, -1}), GetNormal({1, 0}));
  EXPECT_EQ((std::array{32.0, 32.0, 11.0, 5.0, 7.0, 5.0, 3.0}),  // worked by hand on distinct components
            (std::array{ApktB({1, 2, 3}, {4, 5, 6}), SkalarProd3D(TVektor3{1, 2, 3}, TVektor3{4, 5, 6}),
                        ApktB2({1, 2}, {3, 4}), Norm2({3, 4}), Norm3({2, 3, 6}), Distance2({3, 4}, {6, 8}),
                        Distance3({1, 1, 1}, {3, 2, 3})}));
  EXPECT_EQ((TVektor2{5, 6}), addKxV2({3, 4}, 2, {1, 1}));
  EXPECT_EQ((std::array<std::int64_t, 5>{5, 1, 2, 32, 11}),
            (std::array{i64_Norm2({3, 4}), i64_Norm2({1, 1}), i64_Norm3({1, 1, 2}), i64_ApktB({1, 2, 3}, {4, 5, 6}),
                        i64_ApktB2({1, 2}, {3, 4})}));
  const std::int64_t raw[] = {7, -8, 9};
  EXPECT_EQ(std::pair(i64_InitV3(raw), i64_InitV2(raw)), std::pair(TI64Vektor3{7, -8, 9}, TI64Vektor2{7, -8}));
  EXPECT_EQ(std::pair(TI64Vektor3{-3, -4, -5}, TVektor4{-1, 2, 0.5, 0}),
            std::pair(i64_SubV3({1, 2, 3}, {4, 6, 8}), SubV4({1, 4, 1, 2}, {2, 2, 0.5, 2})));
  EXPECT_EQ((TMatrix2x2{{{19, 22}, {43, 50}}}), M2x2mult({{{1, 2}, {3, 4}}}, {{{5, 6}, {7, 8}}}));
  EXPECT_EQ((TI64Vektor3{-3, 6, -3}), i64_CrossProd({1, 2, 3}, {4, 5, 6}));
  EXPECT_EQ((TI64Vektor3{9, 12, 15}), i64_AddKxV3({1, 2, 3}, {4, 5, 6}, 2));
  EXPECT_EQ(std::pair(std::int64_t{-2}, INT64_MIN),  // both wrap around
            std::pair(i64_MulkV3(2, {INT64_MAX, 0, 0})[0], i64_ApktB2({INT64_MAX, 1}, {1, 1})));
}

TEST(AlgebraTest, RotationsFramesValueFormsAndTheirInverse) {
  TVektor3 g{0.25, 0.5, 0.75};
  double th = 1;
  M3x3GetGTheta(M3x3Unity(), g, th);  // no rotation: the axis is left alone
  EXPECT_EQ((std::pair{TVektor3{0.25, 0.5, 0.75}, 0.0}), std::make_pair(g, th));
  EXPECT_FALSE(std::signbit(th));  // a tie of the two signs keeps the positive angle
  const double r = 1 / std::sqrt(2.0);  // about (r, r, 0) the half turn's cosine rounds below −1
  for (const TVektor3 axis : {TVektor3{0, 0, 1}, TVektor3{r, r, 0}, TVektor3{0.6, 0, 0.8}}) {
    M3x3GetGTheta(M3x3Dreh(axis, kPi), g, th);
    EXPECT_NEAR(kPi, th, 1e-7) << axis[0];
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(axis[i], g[i], 1e-7) << axis[0];
  }
  EXPECT_NEAR(-1, MxV(M3x3Dreh({0, 0, 1}, kPi / 2), {1, 0, 0})[1], 1e-15);
  EXPECT_NEAR(0, std::hypot(MxV2(M2x2dreh(kPi / 2), {1, 0})[0], MxV2(M2x2dreh(kPi / 2), {1, 0})[1] - 1), 1e-15);
  std::mt19937_64 rng(7);
  std::uniform_real_distribution<double> u(-1, 1);
  auto near = [](const auto& want, const auto& got, double tol) {
    for (size_t i = 0; i < want.size(); ++i) EXPECT_NEAR(want[i], got[i], tol) << i;
  };
  for (int n = 0; n < 500; ++n) {  // the value forms (vektor2, vektor3) give the array forms' results, also in place
    const TVektor3 a{10 * u(rng), 10 * u(rng), 10 * u(rng)}, pb{10 * u(rng), 10 * u(rng), 10 * u(rng)};
    const TMatrix3x3 rot = M3x3Dreh({0.6, 0, 0.8}, 10 * u(rng));
    vektor3 va(a[0], a[1], a[2]), vm(a[0], a[1], a[2]);
    va.CrossProd(va, vektor3(pb[0], pb[1], pb[2]));  // the result may be an argument
    vm.MxV(rot, vm);
    vektor2 v2{pb[0], pb[1]};
    v2.MxV(M2x2dreh(a[0]), v2);
    EXPECT_EQ(CrossProd(a, pb), (TVektor3{va.x, va.y, va.z}));
    EXPECT_EQ(InitV2(a.data()), (TVektor2{a[0], a[1]}));
    EXPECT_EQ(std::pair(a, InitV2(divkV3(3, a).data())), std::pair(InitV3(a.data()), divkV2(3, InitV2(a.data()))));
    EXPECT_LT(Distance3(a, divkV3(3, mulkV3(3, AddV3(SubV3(a, pb), pb)))), 1e-12);
    EXPECT_EQ(MxV(rot, a), (TVektor3{vm.x, vm.y, vm.z}));
    EXPECT_EQ(MxV2(M2x2dreh(a[0]), {pb[0], pb[1]}), (TVektor2{v2.x, v2.y}));
    const TMatrix3x3 mt = M3x3Mult(rot, M3x3Transponiere(rot));
    for (int i = 0; i < 9; ++i) EXPECT_NEAR(M3x3Unity()[i / 3][i % 3], mt[i / 3][i % 3], 1e-12);
    TVektor3 axis{std::fabs(u(rng)), std::fabs(u(rng)), std::fabs(u(rng))};
    Normalize3(axis);
    if (n == 0) axis = {0, 0, 1};
    const double phi = (u(rng) < 0 ? -1 : 1) * (0.3 + 2.5 * std::fabs(u(rng)));
    const TVektor3 p{100 * u(rng), 100 * u(rng), 100 * u(rng)};
    near(p, MxV(M3x3Dreh(axis, -phi), MxV(M3x3Dreh(axis, phi), p)), 1e-10);
    M3x3GetGTheta(M3x3Dreh(axis, phi), g, th);
    EXPECT_NEAR(phi, th, 1e-6);
    near(axis, g, 1e-6);
    const TTransForm tf(phi, 1e3 * u(rng), 1e3 * u(rng));
    const TVektor2 q{1e3 * u(rng), 1e3 * u(rng)};
    near(q, tf.backT(tf.makeT(q)), 1e-9);
    vektor2 m, b;
    tf.make(vektor2{q[0], q[1]}, m);
    tf.back(m, b);
    near(q, TVektor2{b.x, b.y}, 1e-9);
    near(TVektor2{1, 0}, tf.makeT(AddV2(tf.Origin, {std::cos(phi), std::sin(phi)})), 1e-12);
  }
  near(TVektor2{1, 0}, TTransForm(10, 0, 0, 1).makeT({10, 1}), 1e-15);
  EXPECT_EQ((TVektor2{1, -1}), Mirror({1, 1}, {0, 0}, {0, 1}));
}

}  // namespace
}  // namespace vez

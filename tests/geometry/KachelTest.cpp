// Tile names, tile file names and grid snapping, including the negative side of the origin.
#include <gtest/gtest.h>

#include <array>
#include <tuple>

#include "core/Exceptions.h"
#include "geometry/Usekacheln.h"

namespace vez {
namespace {

TEST(KachelTest, Names) {
  const std::tuple<double, double, float, float, const char*> cases[] = {{1789, 6790, 1000, 1000, "_X1Y6"},   {1789, 6790, 500, 500, "_X1,5Y6,5"},
                     {40, 1000, 1000, 1000, "_XY1"},      {500, 0, 100, 100, "_X,5Y"},
                     {-1789, -6790, 1000, 1000, "_X-1Y-6"}, {-1789, 250, 500, 500, "_X-1,5Y"},
                     {-500, -50, 100, 1000, "_X-,5Y"},    {1250, 1249, 100, 100, "_X1,2Y1,2"}};
  for (const auto& [x, y, dx, dy, name] : cases) EXPECT_EQ(name, KachelKoordToStr(x, y, dx, dy)) << x << " " << y;
  EXPECT_EQ("dgm_X1Y6.tasc", KachelFilename("dgm.asc", 1789, 6790, 1000, 1000));
  EXPECT_EQ("dgm_X1Y6.t", KachelFilename("dgm", 1789, 6790, 1000, 1000));
  EXPECT_EQ("a.b/dgm_X1Y6.t", KachelFilename("a.b/dgm", 1789, 6790, 1000, 1000));
  EXPECT_THROW(KachelKoordToStr(1, 1, 49, 1000), EZeroDivide);
  EXPECT_THROW(KachelKoordToStr(1e300, 1, 1000, 1000), EMathError);
}

TEST(KachelTest, Parsing) {
  const std::tuple<const char*, bool, double, double> cases[] = {{"dgm_X1,5Y6.tasc", true, 1500, 6000}, {"_X1Y6", true, 1000, 6000},
                     {"_X-1,5Y-6", true, -1500, -6000},    {"_X-,5Y", true, -500, 0},
                     {"_XabcY2", true, 0, 2000},           {"dgm_X1.tasc", false, 0, 0},
                     {"dgmX1Y6", false, 0, 0},             {"p_X2Y3_X9Y9", true, 2000, 0},
                     {"d.v2_X1Y6.tasc", true, 1000, 6000}};
  for (const auto& [name, ok, ex, ey] : cases) {
    double x = -1, y = -1;
    EXPECT_EQ(ok, KachelStrToKoord(name, x, y)) << name;
    EXPECT_EQ(ok ? std::pair(ex, ey) : std::pair(-1.0, -1.0), std::pair(x, y)) << name;
  }
  double a = 7, b = 7, c = 7, d = 7;
  EXPECT_FALSE(KachelMinMax("nothing", 1000, 1000, a, b, c, d));
  EXPECT_EQ(7, a);
  EXPECT_TRUE(KachelMinMax("_X-1Y2", 1000, 500, a, b, c, d));
  EXPECT_EQ((std::array{-1000.0, 2000.0, 0.0, 2500.0}), (std::array{a, b, c, d}));
  const std::pair<const char*, int32_t> rect[] = {{"_X1Y1", 2}, {"_X0Y0", 1}, {"_X3Y1", 1}, {"_X4Y1", 0}, {"_X-1Y1", 0}, {"_X-,5Y1", 1}, {"_X1Y3", 1},
                    {"x", -1}};
  for (const auto& [name, result] : rect) EXPECT_EQ(result, KachelIsInRect(name, 1000, 1000, 500, 500, 3000, 3000)) << name;
}

TEST(KachelTest, Snapping) {
  const std::tuple<std::array<double, 4>, float, float, std::array<double, 4>> cases[] = {
      {{100, 100, 2000, 2000}, 1000, 1000, {0, 0, 3000, 3000}},
      {{-1500, -200, -100, 1999}, 1000, 500, {-1000, 0, 1000, 2000}},
      {{-2500, 0, -2000, 0}, 1000, 1000, {-2000, 0, -1000, 1000}}};
  for (auto [v, dx, dy, snapped] : cases) {
    SetKachelGrenze(v[0], v[1], v[2], v[3], dx, dy);
    EXPECT_EQ(snapped, v);
  }
  const std::tuple<std::array<double, 4>, double, double, int32_t, int32_t> dims[] = {
      {{100, 100, 2000, 2000}, 0, 0, 2, 2}, {{0, 0, 0, 1}, 0, 0, 1, 1},
      {{-1500, -2500, 1500, -2400}, -1000, -2000, 3, 1}, {{10, 20, 2001, 999}, 0, 0, 3, 1}};
  for (const auto& [r, ex0, ey0, enx, eny] : dims) {
    double x0 = 0, y0 = 0;
    int32_t nx = 0, ny = 0;
    GetKachelDim(r[0], r[1], r[2], r[3], 1000, 1000, x0, y0, nx, ny);
    EXPECT_EQ(std::tuple(ex0, ey0, enx, eny), std::tuple(x0, y0, nx, ny)) << r[0];
  }
}

}  // namespace
}  // namespace vez

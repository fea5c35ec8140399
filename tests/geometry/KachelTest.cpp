// Tile names, tile file names and grid snapping, including the negative side of the origin.
#include <gtest/gtest.h>

#include "core/Exceptions.h"
#include "geometry/Usekacheln.h"

namespace vez {
namespace {

TEST(KachelTest, Names) {
  struct {
    double x, y;
    float dx, dy;
    const char* name;
  } const cases[] = {{1789, 6790, 1000, 1000, "_X1Y6"},   {1789, 6790, 500, 500, "_X1,5Y6,5"},
                     {40, 1000, 1000, 1000, "_XY1"},      {500, 0, 100, 100, "_X,5Y"},
                     {-1789, -6790, 1000, 1000, "_X-1Y-6"}, {-1789, 250, 500, 500, "_X-1,5Y"},
                     {-500, -50, 100, 1000, "_X-,5Y"},    {1250, 1249, 100, 100, "_X1,2Y1,2"}};
  for (const auto& c : cases) {
    EXPECT_EQ(c.name, KachelKoordToStr(c.x, c.y, c.dx, c.dy)) << c.x << " " << c.y;
  }
  EXPECT_EQ("dgm_X1Y6.tasc", KachelFilename("dgm.asc", 1789, 6790, 1000, 1000));
  EXPECT_EQ("dgm_X1Y6.t", KachelFilename("dgm", 1789, 6790, 1000, 1000));
  EXPECT_EQ("a.b/dgm_X1Y6.t", KachelFilename("a.b/dgm", 1789, 6790, 1000, 1000));
  EXPECT_THROW(KachelKoordToStr(1, 1, 49, 1000), EZeroDivide);
  EXPECT_THROW(KachelKoordToStr(1e300, 1, 1000, 1000), EMathError);
}

TEST(KachelTest, Parsing) {
  struct {
    const char* name;
    bool ok;
    double x, y;
  } const cases[] = {{"dgm_X1,5Y6.tasc", true, 1500, 6000}, {"_X1Y6", true, 1000, 6000},
                     {"_X-1,5Y-6", true, -1500, -6000},    {"_X-,5Y", true, -500, 0},
                     {"_XabcY2", true, 0, 2000},           {"dgm_X1.tasc", false, 0, 0},
                     {"dgmX1Y6", false, 0, 0},             {"p_X2Y3_X9Y9", true, 2000, 0},
                     {"d.v2_X1Y6.tasc", true, 1000, 6000}};
  for (const auto& c : cases) {
    double x = -1, y = -1;
    EXPECT_EQ(c.ok, KachelStrToKoord(c.name, x, y)) << c.name;
    EXPECT_EQ(c.ok ? c.x : -1, x) << c.name;
    EXPECT_EQ(c.ok ? c.y : -1, y) << c.name;
  }
  double a = 7, b = 7, c = 7, d = 7;
  EXPECT_FALSE(KachelMinMax("nothing", 1000, 1000, a, b, c, d));
  EXPECT_EQ(7, a);
  EXPECT_TRUE(KachelMinMax("_X-1Y2", 1000, 500, a, b, c, d));
  EXPECT_EQ(-1000, a);
  EXPECT_EQ(2500, d);
  struct {
    const char* name;
    int32_t result;
  } const rect[] = {{"_X1Y1", 2}, {"_X0Y0", 1}, {"_X3Y1", 1}, {"_X4Y1", 0}, {"_X-1Y1", 0}, {"_X-,5Y1", 1}, {"_X1Y3", 1},
                    {"x", -1}};
  for (const auto& r : rect) EXPECT_EQ(r.result, KachelIsInRect(r.name, 1000, 1000, 500, 500, 3000, 3000)) << r.name;
}

TEST(KachelTest, Snapping) {
  struct {
    double v[4];
    float dx, dy;
    double snapped[4];
  } const cases[] = {{{100, 100, 2000, 2000}, 1000, 1000, {0, 0, 3000, 3000}},
                     {{-1500, -200, -100, 1999}, 1000, 500, {-1000, 0, 1000, 2000}},
                     {{-2500, 0, -2000, 0}, 1000, 1000, {-2000, 0, -1000, 1000}}};
  for (const auto& c : cases) {
    double v[4] = {c.v[0], c.v[1], c.v[2], c.v[3]};
    SetKachelGrenze(v[0], v[1], v[2], v[3], c.dx, c.dy);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(c.snapped[i], v[i]) << i;
  }
  struct {
    double r[4];
    double x0, y0;
    int32_t nx, ny;
  } const dims[] = {{{100, 100, 2000, 2000}, 0, 0, 2, 2}, {{0, 0, 0, 1}, 0, 0, 1, 1},
                    {{-1500, -2500, 1500, -2400}, -1000, -2000, 3, 1}, {{10, 20, 2001, 999}, 0, 0, 3, 1}};
  for (const auto& d : dims) {
    double x0 = 0, y0 = 0;
    int32_t nx = 0, ny = 0;
    GetKachelDim(d.r[0], d.r[1], d.r[2], d.r[3], 1000, 1000, x0, y0, nx, ny);
    EXPECT_EQ(d.x0, x0);
    EXPECT_EQ(d.y0, y0);
    EXPECT_EQ(d.nx, nx);
    EXPECT_EQ(d.ny, ny);
  }
}

}  // namespace
}  // namespace vez

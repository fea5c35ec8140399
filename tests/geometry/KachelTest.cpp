// Tile names, tile file names and grid snapping, including the negative side of the origin.
#include <gtest/gtest.h>

#include <array>

#include "TestUtil.h"
#include "core/Exceptions.h"
#include "geometry/Usekacheln.h"

namespace vez {
namespace {

// The rows of tests/data/geometry/tiles.txt.
TEST(KachelTest, TablesAsWritten) {
  const auto rows = test::DataRows("geometry/tiles.txt");
  for (const auto& c : rows) {
    SCOPED_TRACE(testing::PrintToString(c));
    std::vector<double> v;  // the numbers of the row, text cells as 0
    for (const std::string& cell : c) v.push_back(std::strtod(cell.c_str(), nullptr));
    const auto f = [&](std::size_t i) { return static_cast<float>(v[i]); };
    double x = -1, y = -1;
    std::int32_t nx = 0, ny = 0;
    if (c[0] == "name") {
      EXPECT_EQ(c[5], KachelKoordToStr(v[1], v[2], f(3), f(4)));
    } else if (c[0] == "file") {
      EXPECT_EQ(c[6], KachelFilename(c[1], v[2], v[3], f(4), f(5)));
    } else if (c[0] == "parse") {
      EXPECT_EQ(c[2] == "1", KachelStrToKoord(c[1], x, y));
      EXPECT_EQ(std::pair(v[3], v[4]), std::pair(x, y));
    } else if (c[0] == "inrect") {
      EXPECT_EQ(std::stoi(c[2]), KachelIsInRect(c[1], 1000, 1000, 500, 500, 3000, 3000));
    } else if (c[0] == "snap") {
      SetKachelGrenze(v[1], v[2], v[3], v[4], f(5), f(6));
      EXPECT_EQ((std::array{v[7], v[8], v[9], v[10]}), (std::array{v[1], v[2], v[3], v[4]}));  // snapped in place
    } else if (c[0] == "dim") {
      GetKachelDim(v[1], v[2], v[3], v[4], 1000, 1000, x, y, nx, ny);
      EXPECT_EQ((std::array{v[5], v[6], v[7], v[8]}), (std::array{x, y, double(nx), double(ny)}));
    } else {
      ADD_FAILURE() << "unknown row";
    }
  }
  EXPECT_EQ(38u, rows.size());
  EXPECT_THROW(KachelKoordToStr(1, 1, 49, 1000), EZeroDivide);
  EXPECT_THROW(KachelKoordToStr(1e300, 1, 1000, 1000), EMathError);
  // Hundreds of metres name a tile within the 64-bit range, -2^63 included and 2^63 not.
  EXPECT_THROW(KachelKoordToStr(0x1p63 * 100, 1, 1000, 1000), EMathError);
  EXPECT_EQ("_X-922337203685477580Y", KachelKoordToStr(-0x1p63 * 100, 1, 1000, 1000));
  double a = 7, b = 7, c = 7, d = 7;
  EXPECT_EQ(std::pair(false, 7.0), (std::pair{KachelMinMax("nothing", 1000, 1000, a, b, c, d), a}));
  EXPECT_EQ(std::pair(true, std::array{-1000.0, 2000.0, 0.0, 2500.0}),
            (std::pair{KachelMinMax("_X-1Y2", 1000, 500, a, b, c, d), std::array{a, b, c, d}}));
}

}  // namespace
}  // namespace vez

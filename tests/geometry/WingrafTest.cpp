// The world/pixel mapping (without a surface) and drawing through it onto the SVG canvas.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <numbers>
#include <random>

#include "core/Exceptions.h"
#include "geometry/SvgCanvas.h"
#include "geometry/wingraf.h"
#include "TestUtil.h"

namespace vez {
namespace {

// Records the calls a TUserPixel makes on its surface.
class RecordingCanvas : public TCanvasPort {
public:
  void MoveTo(int32_t x, int32_t y) override { Log += "M" + P({x, y}); }
  void LineTo(int32_t x, int32_t y) override { Log += "L" + P({x, y}); }
  void Ellipse(int32_t x1, int32_t y1, int32_t x2, int32_t y2) override { Log += "E" + P({x1, y1, x2, y2}); }
  void Arc(int32_t x1, int32_t y1, int32_t x2, int32_t y2, int32_t x3, int32_t y3, int32_t x4, int32_t y4) override {
    Log += "A" + P({x1, y1, x2, y2, x3, y3, x4, y4});
  }
  void Polygon(const std::vector<TPoint>& points) override { Log += "P" + std::to_string(points.size()); }
  TColor GetPenColor() const override { return Pen; }
  void SetPenColor(TColor c) override { Pen = c; }
  static std::string P(std::initializer_list<int32_t> v) {
    std::string out;
    for (const int32_t* p = v.begin(); p != v.end(); p += 2)
      out += "(" + std::to_string(p[0]) + "," + std::to_string(p[1]) + ")";
    return out;
  }
  std::string Log;
  TColor Pen = 0;
};

std::pair<int32_t, int32_t> Pix(const TUserPixel& up, double x, double y) {
  int32_t px = -1, py = -1;
  up.GetXYPixelNT(x, y, px, py);
  return {px, py};
}

TEST(WingrafTest, MappingWithoutSurfaceStraightAndTurned) {
  TUserPixel up(nullptr, 100, 50);
  up.ULine(0, 0, 1, 1);  // nothing to draw on
  const std::pair<TUPoint, std::pair<int32_t, int32_t>> unit[] = {
      {{0.5, 0.5}, {50, 25}}, {{0, 1}, {0, 0}}, {{1, 0}, {100, 50}}, {{1e300, 0.5}, {0, 0}}};  // last: too far
  for (const auto& [w, p] : unit) EXPECT_EQ(p, Pix(up, w.x, w.y)) << w.x;
  up.SetViewPort(0, 0, 100, 100);
  up.SetWorld(0, 10, 10, 0, 0);
  double wx = 0, wy = 0;
  up.GetXYWorld(0, 0, wx, wy);
  EXPECT_EQ(std::tuple(0.0, 10.0, std::pair(100, 100)), std::tuple(wx, wy, Pix(up, 10, 0)));
  int32_t dx = 0, dy = 0, px = 0, py = 0, fx = -1, fy = -1, mx = 0;
  up.GetDeltaXYPixel(2.5, dx, dy);
  up.GetDeltaXYPixel(1e300, fx, fy);    // too far for a pixel count: none
  up.GetDeltaXYPixel(214748364.7, mx, mx);  // the largest pixel count there is
  up.GetXYPixelWin95(4000, 5, px, py);  // pixel x = 40000 is cut to 32000
  EXPECT_EQ((std::array{25, 25, 32000, 50, 0, 0, INT32_MAX, 0}),
            (std::array{dx, dy, px, py, fx, fy, mx, static_cast<int32_t>(up.GetLineColor())}));
  up.SetWorld(0, 100, 100, 0, 0);  // one world unit per pixel: 2.5 and 3.5 round half to even
  EXPECT_EQ(std::pair(std::pair(2, 2), std::pair(4, 4)), std::pair(Pix(up, 2.5, 97.5), Pix(up, 3.5, 96.5)));
  const TUserPixel tiny(nullptr, 5, 5, 5, 2);
  EXPECT_EQ(std::make_pair(6, 6), std::make_pair(tiny.VX2, tiny.VY2));
  // A window turned by 30 degrees: every pixel comes back from the world.
  std::mt19937_64 rng(11);
  TUserPixel turned(nullptr, 10, 20, 810, 620);
  turned.SetWorld(3000, 9000, 7000, 6000, 30);
  EXPECT_EQ(std::make_pair(410, 320), Pix(turned, 5000, 7500));  // world centre on the pixel centre
  for (int n = 0; n < 500; ++n) {
    const int32_t qx = int32_t(rng() % 800) + 10, qy = int32_t(rng() % 600) + 20;
    turned.GetXYWorld(qx, qy, wx, wy);
    EXPECT_EQ(std::make_pair(qx, qy), Pix(turned, wx, wy));
  }
  double x0 = 0, y0 = 0, x1 = 0, y1 = 0;  // the screen's x axis runs 30 degrees from the world's
  turned.GetXYWorld(410, 320, x0, y0);
  turned.GetXYWorld(510, 320, x1, y1);
  EXPECT_NEAR(30, std::atan2(y1 - y0, x1 - x0) * 180 / std::numbers::pi, 1e-9);
}

TEST(WingrafTest, DrawingGoesThroughTheConversionOntoTheCanvas) {
  RecordingCanvas canvas;
  TUserPixel up(&canvas, 100, 100);
  up.SetWorld(0, 10, 10, 0, 0);
  up.ULine(1, 9, 2, 8);
  up.Ucircle(5, 5, 3);
  up.USquare(5, 5, 2);
  up.UArc(0, 10, 10, 0, 10, 5, 0, 5);
  up.UPolygon(std::vector<TUPoint>(1500, UPoint(1, 1)));
  up.SetLineColor(0x0000FF);
  EXPECT_EQ("M(10,10)L(20,20)E(47,47)(53,53)M(48,48)L(52,48)L(52,52)L(48,52)L(48,48)"
            "A(0,0)(100,100)(100,50)(0,50)P1001",
            canvas.Log);
  EXPECT_EQ(0x0000FFu, canvas.Pen);
  // Drawing onto the SVG canvas writes its elements.
  TSvgCanvas svg(200, 100);
  svg.LineTo(1, 2);  // in the first pen
  svg.TextOut(3, 4, "a<b&c>");
  TUserPixel drawer(&svg, 200, 100);
  drawer.SetWorld(0, 1, 2, 0, 0);
  drawer.SetLineColor(0x0000FF);
  drawer.ULine(0, 0, 2, 1);
  svg.SetBrushColor(0x00FF00);
  drawer.UPolygon({{0, 0}, {1, 0}, {1, 1}});
  drawer.UArc(0, 1, 2, 0, 2, 0.5, 0, 0.5);
  drawer.UArc(0.5, 1, 1.5, 0, 2, 0.5, 2, 0.5);  // start and end in one direction: the whole ellipse
  const std::string text = svg.Text();
  for (const auto& element : test::DataRows("geometry/svg-elements.txt"))
    EXPECT_NE(std::string::npos, text.find(element.at(0))) << element[0];
  EXPECT_EQ(0u, text.find("<svg "));
  const std::string file = ::testing::TempDir() + "wingraf-test.svg";
  svg.SaveToFile(file);
  EXPECT_EQ(text, test::ReadFile(file));
  for (const std::string& bad : {file + "/in-a-file", std::string("/dev/full")})  // not made; full when it is written
    EXPECT_THROW(svg.SaveToFile(bad), EInOutError) << bad;
}

}  // namespace
}  // namespace vez

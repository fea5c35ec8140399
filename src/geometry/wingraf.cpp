#include "geometry/wingraf.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace vez {

namespace {
// Half-to-even rounding into a 32-bit pixel; false when the value does not fit.
bool ToInt(double v, int32_t& out) {
  const double r = std::nearbyint(v);
  if (!(r >= -2147483648.0 && r <= 2147483647.0)) return false;
  out = static_cast<int32_t>(r);
  return true;
}
}  // namespace

TUserPixel::TUserPixel(TCanvasPort* canvas, int32_t width, int32_t height) : Canvas(canvas) {
  SetViewPort(0, 0, std::max(width, 1), std::max(height, 1));
}

TUserPixel::TUserPixel(TCanvasPort* canvas, int32_t x1, int32_t y1, int32_t x2, int32_t y2) : Canvas(canvas) {
  if (static_cast<int64_t>(x2) - x1 < 1) x2 = x1 + 1;
  if (static_cast<int64_t>(y2) - y1 < 1) y2 = y1 + 1;
  SetViewPort(x1, y1, x2, y2);
}

void TUserPixel::SetViewPort(int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
  VX1 = x1, VY1 = y1, VX2 = x2, VY2 = y2;
  Aspect = std::fabs(static_cast<double>(VX1 - VX2) / static_cast<double>(VY1 - VY2));
  Find_Matrix();
}

void TUserPixel::SetWorld(double left, double top, double right, double bottom, double angleDeg) {
  WX1 = left, WY1 = bottom, WX2 = right, WY2 = top;
  Angle = angleDeg * std::numbers::pi / 180;
  Find_Matrix();
}

void TUserPixel::Find_Matrix() {
  const double wcx = (WX1 + WX2) / 2, wcy = (WY1 + WY2) / 2;
  const double pcx = (static_cast<double>(VX1) + VX2) / 2, pcy = (static_cast<double>(VY1) + VY2) / 2;
  const double sx = (WX2 - WX1) / (static_cast<double>(VX2) - VX1);
  const double sy = (WY2 - WY1) / (static_cast<double>(VY1) - VY2);
  const double c = std::cos(Angle), s = std::sin(Angle);
  A = c * sx, C = -s * sy, E = wcx - pcx * A - pcy * C;
  B = s * sx, D = c * sy, F = wcy - pcx * B - pcy * D;
  if (sx != 0 && sy != 0 && std::isfinite(sx) && std::isfinite(sy)) {
    G = c / sx, I = s / sx, K = pcx - wcx * G - wcy * I;
    H = -s / sy, J = c / sy, L = pcy - wcx * H - wcy * J;
  }
}

void TUserPixel::GetXYWorld(int32_t px, int32_t py, double& wx, double& wy) const {
  wx = A * px + C * py + E;
  wy = B * px + D * py + F;
}

void TUserPixel::GetXYPixelNT(double wx, double wy, int32_t& px, int32_t& py) const {
  if (!ToInt(G * wx + I * wy + K, px) || !ToInt(H * wx + J * wy + L, py)) px = py = 0;
}

void TUserPixel::GetXYPixelWin95(double wx, double wy, int32_t& px, int32_t& py) const {
  GetXYPixelNT(wx, wy, px, py);
  px = std::clamp(px, -32000, 32000);
  py = std::clamp(py, -32000, 32000);
}

void TUserPixel::GetDeltaXYPixel(double d, int32_t& dx, int32_t& dy) const {
  if (!ToInt(std::fabs(d * (static_cast<double>(VX2) - VX1) / (WX2 - WX1)), dx)) dx = 0;
  if (!ToInt(std::fabs(d * (static_cast<double>(VY1) - VY2) / (WY2 - WY1)), dy)) dy = 0;
}

void TUserPixel::UMoveTo(double x, double y) {
  if (!Canvas) return;
  int32_t px = 0, py = 0;
  ToPixel(x, y, px, py);
  Canvas->MoveTo(px, py);
}

void TUserPixel::ULineTo(double x, double y) {
  if (!Canvas) return;
  int32_t px = 0, py = 0;
  ToPixel(x, y, px, py);
  Canvas->LineTo(px, py);
}

void TUserPixel::ULine(double x1, double y1, double x2, double y2) {
  UMoveTo(x1, y1);
  ULineTo(x2, y2);
}

void TUserPixel::Ucircle(double x, double y, int32_t r) {
  if (!Canvas) return;
  int32_t px = 0, py = 0;
  ToPixel(x, y, px, py);
  Canvas->Ellipse(px - r, py - r, px + r, py + r);
}

void TUserPixel::USquare(double x, double y, int32_t h) {
  if (!Canvas) return;
  int32_t px = 0, py = 0;
  ToPixel(x, y, px, py);
  Canvas->MoveTo(px - h, py - h);
  Canvas->LineTo(px + h, py - h);
  Canvas->LineTo(px + h, py + h);
  Canvas->LineTo(px - h, py + h);
  Canvas->LineTo(px - h, py - h);
}

void TUserPixel::UArc(double x1, double y1, double x2, double y2, double x3, double y3, double x4, double y4) {
  if (!Canvas) return;
  int32_t p[8] = {};
  ToPixel(x1, y1, p[0], p[1]);
  ToPixel(x2, y2, p[2], p[3]);
  ToPixel(x3, y3, p[4], p[5]);
  ToPixel(x4, y4, p[6], p[7]);
  Canvas->Arc(p[0], p[1], p[2], p[3], p[4], p[5], p[6], p[7]);
}

void TUserPixel::UPolygon(const std::vector<TUPoint>& points) {
  if (!Canvas) return;
  std::vector<TPoint> pix(std::min<size_t>(points.size(), 1001));
  for (size_t i = 0; i < pix.size(); ++i) ToPixel(points[i].x, points[i].y, pix[i].x, pix[i].y);
  Canvas->Polygon(pix);
}

TColor TUserPixel::GetLineColor() const { return Canvas ? Canvas->GetPenColor() : 0; }

void TUserPixel::SetLineColor(TColor color) {
  if (Canvas) Canvas->SetPenColor(color);
}

std::unique_ptr<TUserPixel>& GUPix() {
  static std::unique_ptr<TUserPixel> instance;
  return instance;
}

}  // namespace vez

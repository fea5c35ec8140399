// World-to-pixel mapping for drawing: a window of world coordinates (y up, optionally rotated about its centre)
// mapped onto a viewport of device pixels (y down), and simple figures given in world coordinates drawn onto a
// canvas port.
//
// The mapping is pure arithmetic and works without a canvas; drawing calls do nothing on a TUserPixel without one
// (GetLineColor answers 0). Pixel values are rounded half to even. SetWorld takes its angle in degrees; the
// stored Angle is in radians.
//
// This library's choice for the conversion in use: there is no 16-bit-coordinate platform to detect, so the
// constructors select GetXYPixelNT; a caller that needs pixel values clamped to ±32000 sets
// ToPixelProc = &TUserPixel::GetXYPixelWin95.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "geometry/Canvas.h"

namespace vez {

struct TUPoint {
  double x = 0, y = 0;
};
inline TUPoint UPoint(double x, double y) { return {x, y}; }

class TUserPixel {
public:
  using TToPixelProc = void (TUserPixel::*)(double wx, double wy, int32_t& px, int32_t& py) const;

  // Viewport (0, 0)–(max(width, 1), max(height, 1)), world (0, 0)–(1, 1). The canvas is not owned (may be null).
  TUserPixel(TCanvasPort* canvas, int32_t width, int32_t height);
  // Viewport (x1, y1)–(x2, y2), widened to at least one pixel each way.
  TUserPixel(TCanvasPort* canvas, int32_t x1, int32_t y1, int32_t x2, int32_t y2);
  virtual ~TUserPixel() = default;

  // Stores the viewport as given (an empty one is the caller's error).
  void SetViewPort(int32_t x1, int32_t y1, int32_t x2, int32_t y2);
  // World window; angle in degrees (counter-clockwise rotation of the window about its centre).
  void SetWorld(double left, double top, double right, double bottom, double angleDeg);
  // Recomputes both coefficient sets.
  void Find_Matrix();

  void GetXYWorld(int32_t px, int32_t py, double& wx, double& wy) const;
  // (0, 0) when a value does not fit a 32-bit pixel coordinate.
  void GetXYPixelNT(double wx, double wy, int32_t& px, int32_t& py) const;
  // As GetXYPixelNT, each value clamped to [−32000, 32000].
  void GetXYPixelWin95(double wx, double wy, int32_t& px, int32_t& py) const;
  // The conversion in use.
  void ToPixel(double wx, double wy, int32_t& px, int32_t& py) const { (this->*ToPixelProc)(wx, wy, px, py); }
  // Pixel lengths of the world distance d along x and y (the rotation is not taken into account).
  void GetDeltaXYPixel(double d, int32_t& dx, int32_t& dy) const;

  void UMoveTo(double x, double y);
  void ULineTo(double x, double y);
  void ULine(double x1, double y1, double x2, double y2);
  // Circle of radius r pixels around the world point.
  void Ucircle(double x, double y, int32_t r);
  // Square outline of half-width h pixels around the world point.
  void USquare(double x, double y, int32_t h);
  void UArc(double x1, double y1, double x2, double y2, double x3, double y3, double x4, double y4);
  // Filled polygon through at most the first 1001 points.
  void UPolygon(const std::vector<TUPoint>& points);
  TColor GetLineColor() const;
  void SetLineColor(TColor color);

  // Pixel to world: wx = A·px + C·py + E, wy = B·px + D·py + F.
  double A = 0, B = 0, C = 0, D = 0, E = 0, F = 0;
  // World to pixel: px = G·wx + I·wy + K, py = H·wx + J·wy + L.
  double G = 0, H = 0, I = 0, J = 0, K = 0, L = 0;
  TToPixelProc ToPixelProc = &TUserPixel::GetXYPixelNT;
  int32_t VX1 = 0, VY1 = 0, VX2 = 1, VY2 = 1;
  double WX1 = 0, WY1 = 0, WX2 = 1, WY2 = 1;  // WY1 bottom, WY2 top
  double Angle = 0;                           // radians
  double Aspect = 1;
  TCanvasPort* Canvas = nullptr;
};

// The shared instance (empty at start); it is destroyed at program end.
std::unique_ptr<TUserPixel>& GUPix();

}  // namespace vez

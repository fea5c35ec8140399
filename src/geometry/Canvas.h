// The drawing surface that TUserPixel draws on: a small canvas port with integer device coordinates (pixels,
// y pointing down), a pen colour and the few figures the world-to-pixel drawing needs.
//
// Colours are 0x00BBGGRR (red in the low byte), the order the suite's colour values are stored in.
#pragma once

#include <cstdint>
#include <vector>

namespace vez {

using TColor = uint32_t;

struct TPoint {
  int32_t x = 0, y = 0;
};

class TCanvasPort {
public:
  virtual ~TCanvasPort() = default;
  virtual void MoveTo(int32_t x, int32_t y) = 0;
  // A line from the pen position to (x, y); the pen moves there.
  virtual void LineTo(int32_t x, int32_t y) = 0;
  // The ellipse inscribed in the box (x1, y1)–(x2, y2).
  virtual void Ellipse(int32_t x1, int32_t y1, int32_t x2, int32_t y2) = 0;
  // The counter-clockwise arc of the ellipse in the box (x1, y1)–(x2, y2) from the ray towards (x3, y3) to the
  // ray towards (x4, y4); the whole ellipse when both rays point the same way.
  virtual void Arc(int32_t x1, int32_t y1, int32_t x2, int32_t y2, int32_t x3, int32_t y3, int32_t x4,
                   int32_t y4) = 0;
  // A filled polygon through the points.
  virtual void Polygon(const std::vector<TPoint>& points) = 0;
  virtual TColor GetPenColor() const = 0;
  virtual void SetPenColor(TColor color) = 0;
};

}  // namespace vez

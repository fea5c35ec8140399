// A canvas that records the figures drawn on it as an SVG document (one element per figure), so that a drawing
// made through TUserPixel can be looked at in a browser.
#pragma once

#include <string>

#include "geometry/Canvas.h"

namespace vez {

class TSvgCanvas : public TCanvasPort {
public:
  TSvgCanvas(int32_t width, int32_t height) : width_(width), height_(height) {}

  void MoveTo(int32_t x, int32_t y) override;
  void LineTo(int32_t x, int32_t y) override;
  void Ellipse(int32_t x1, int32_t y1, int32_t x2, int32_t y2) override;
  void Arc(int32_t x1, int32_t y1, int32_t x2, int32_t y2, int32_t x3, int32_t y3, int32_t x4,
           int32_t y4) override;
  void Polygon(const std::vector<TPoint>& points) override;
  TColor GetPenColor() const override { return pen_; }
  void SetPenColor(TColor color) override { pen_ = color; }
  // Fill of polygons; none (transparent) by default.
  void SetBrushColor(TColor color) { brush_ = color, hasBrush_ = true; }
  void ClearBrush() { hasBrush_ = false; }
  // Opacity 0..1 of later fills.
  void SetFillOpacity(double opacity) { opacity_ = opacity; }

  // Text with its left end of the base line at (x, y), in the pen colour; XML characters are escaped.
  void TextOut(int32_t x, int32_t y, const std::string& text, int fontSize = 13, bool bold = false);

  // The complete document.
  std::string Text() const;
  // Writes the document; throws vez::EInOutError when the file cannot be written.
  void SaveToFile(const std::string& path) const;

private:
  std::string Stroke() const;
  std::string Fill() const;

  int32_t width_, height_;
  int32_t penX_ = 0, penY_ = 0;
  TColor pen_ = 0, brush_ = 0xFFFFFF;
  bool hasBrush_ = false;
  double opacity_ = 1;
  std::string body_;
};

}  // namespace vez

#include "geometry/SvgCanvas.h"

#include <fmt/format.h>

#include <cmath>
#include <fstream>
#include <numbers>

#include "core/Exceptions.h"

namespace vez {

namespace {
std::string Hex(TColor c) { return fmt::format("#{:02x}{:02x}{:02x}", c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF); }
}  // namespace

std::string TSvgCanvas::Stroke() const { return fmt::format("stroke=\"{}\"", Hex(pen_)); }
std::string TSvgCanvas::Fill() const {
  if (!hasBrush_) return "fill=\"none\"";
  return fmt::format("fill=\"{}\" fill-opacity=\"{}\"", Hex(brush_), opacity_);
}

void TSvgCanvas::MoveTo(int32_t x, int32_t y) { penX_ = x, penY_ = y; }

void TSvgCanvas::LineTo(int32_t x, int32_t y) {
  body_ += fmt::format("<line x1=\"{}\" y1=\"{}\" x2=\"{}\" y2=\"{}\" {}/>\n", penX_, penY_, x, y, Stroke());
  penX_ = x, penY_ = y;
}

void TSvgCanvas::Ellipse(int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
  body_ += fmt::format("<ellipse cx=\"{}\" cy=\"{}\" rx=\"{}\" ry=\"{}\" {} {}/>\n", (x1 + x2) / 2.0,
                       (y1 + y2) / 2.0, std::abs(x2 - x1) / 2.0, std::abs(y2 - y1) / 2.0, Stroke(), Fill());
}

void TSvgCanvas::Arc(int32_t x1, int32_t y1, int32_t x2, int32_t y2, int32_t x3, int32_t y3, int32_t x4,
                     int32_t y4) {
  const double cx = (x1 + x2) / 2.0, cy = (y1 + y2) / 2.0;
  const double rx = std::abs(x2 - x1) / 2.0, ry = std::abs(y2 - y1) / 2.0;
  if (rx == 0 || ry == 0) return;
  // Angles as seen on the screen (y up), where the arc runs counter-clockwise.
  const double a0 = std::atan2(-(y3 - cy) / ry, (x3 - cx) / rx);
  double a1 = std::atan2(-(y4 - cy) / ry, (x4 - cx) / rx);
  if (a1 <= a0) a1 += 2 * std::numbers::pi;
  if (a1 - a0 >= 2 * std::numbers::pi) {  // both rays point the same way: the whole ellipse
    body_ += fmt::format("<ellipse cx=\"{}\" cy=\"{}\" rx=\"{}\" ry=\"{}\" {} fill=\"none\"/>\n", cx, cy, rx, ry,
                         Stroke());
    return;
  }
  const double sx = cx + rx * std::cos(a0), sy = cy - ry * std::sin(a0);
  const double ex = cx + rx * std::cos(a1), ey = cy - ry * std::sin(a1);
  body_ += fmt::format("<path d=\"M {:.2f} {:.2f} A {} {} 0 {} 0 {:.2f} {:.2f}\" {} fill=\"none\"/>\n", sx, sy, rx,
                       ry, a1 - a0 > std::numbers::pi ? 1 : 0, ex, ey, Stroke());
}

void TSvgCanvas::Polygon(const std::vector<TPoint>& points) {
  std::string pts;
  for (const TPoint& p : points) pts += fmt::format("{}{},{}", pts.empty() ? "" : " ", p.x, p.y);
  body_ += fmt::format("<polygon points=\"{}\" {} {}/>\n", pts, Stroke(), Fill());
}

void TSvgCanvas::TextOut(int32_t x, int32_t y, const std::string& text, int fontSize, bool bold) {
  std::string escaped;
  for (char c : text) {
    switch (c) {
      case '&': escaped += "&amp;"; break;
      case '<': escaped += "&lt;"; break;
      case '>': escaped += "&gt;"; break;
      default: escaped += c;
    }
  }
  body_ += fmt::format("<text x=\"{}\" y=\"{}\" font-family=\"sans-serif\" font-size=\"{}\"{} fill=\"{}\">{}</text>\n",
                       x, y, fontSize, bold ? " font-weight=\"bold\"" : "", Hex(pen_), escaped);
}

std::string TSvgCanvas::Text() const {
  return fmt::format(
      "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"{0}\" height=\"{1}\" viewBox=\"0 0 {0} {1}\">\n"
      "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n{2}</svg>\n",
      width_, height_, body_);
}

void TSvgCanvas::SaveToFile(const std::string& path) const {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (out) out << Text();
  out.close();
  if (!out) throw EInOutError("Cannot write file " + path);
}

}  // namespace vez

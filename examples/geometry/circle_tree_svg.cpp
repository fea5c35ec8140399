// Draws a circle tree over a few hundred random segments, the strip of one Schnitt query and the knots it
// returns into an SVG file, through TUserPixel and the SVG canvas.
//
//   circle_tree_svg [output.svg [segments [seed]]]
#include <cmath>
#include <cstdio>
#include <exception>
#include <numbers>
#include <random>
#include <set>
#include <string>

#include "geometry/SortBaum.h"
#include "geometry/SvgCanvas.h"
#include "geometry/wingraf.h"

namespace {

class Segment : public vez::TCTCustomDataItem {
public:
  Segment(double x1, double y1, double x2, double y2) : x1_(x1), y1_(y1), x2_(x2), y2_(y2) {}
  vez::TSegType SegType() const override { return vez::stLine; }
  double X1() const override { return x1_; }
  double X2() const override { return x2_; }
  double Y1() const override { return y1_; }
  double Y2() const override { return y2_; }

private:
  double x1_, y1_, x2_, y2_;
};

void DrawKnot(vez::TUserPixel& up, const vez::TCTKnot& k) {
  int32_t rx = 0, ry = 0;
  up.GetDeltaXYPixel(k.R, rx, ry);
  up.Ucircle(k.X, k.Y, rx);
}

// One row of legend entries below the drawing: a sample of each colour and what it stands for.
void DrawLegend(vez::TSvgCanvas& svg, int y) {
  int x = 20;
  const auto label = [&](const std::string& text) {
    svg.SetPenColor(0x000000);
    svg.TextOut(x + 26, y + 5, text, 13);
    x += 26 + static_cast<int>(text.size()) * 7 + 24;
  };
  const auto circle = [&](vez::TColor colour, const std::string& text) {
    svg.SetPenColor(colour);
    svg.Ellipse(x, y - 9, x + 18, y + 9);
    label(text);
  };
  const auto line = [&](vez::TColor colour, const std::string& text) {
    svg.SetPenColor(colour);
    svg.MoveTo(x, y);
    svg.LineTo(x + 18, y);
    label(text);
  };
  circle(0xD0D0D0, "knot with segments");
  line(0x000000, "segment");
  svg.SetBrushColor(0xFF9933);
  svg.SetFillOpacity(0.35);
  svg.SetPenColor(0xCC6600);
  svg.Polygon({{x, y - 6}, {x + 18, y - 6}, {x + 18, y + 6}, {x, y + 6}});
  svg.ClearBrush();
  label("query strip");
  circle(0x2020E0, "knot returned");
  line(0x0000FF, "segment returned");
}

int Usage(FILE* out, int code) {
  std::fputs(
      "Usage: circle_tree_svg [output.svg [segments [seed]]]\n"
      "Draws the knots of a circle tree that hold segments (grey) over random segments (default 300, seed 1) in\n"
      "a 1000 x 1000 square, the strip of one strip query (blue) and the knots and segments it returns (red)\n"
      "into an SVG file (default circle_tree.svg).\n",
      out);
  return code;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string first = argc > 1 ? argv[1] : "";
  if (first == "-h" || first == "--help") return Usage(stdout, 0);
  if (argc > 4) return Usage(stderr, 2);
  const std::string path = argc > 1 ? first : "circle_tree.svg";
  int count = 300;
  unsigned seed = 1;
  try {
    if (argc > 2) count = std::stoi(argv[2]);
    if (argc > 3) seed = static_cast<unsigned>(std::stoul(argv[3]));
  } catch (const std::exception&) {
    return Usage(stderr, 2);
  }
  if (count < 1 || count > 100000) return Usage(stderr, 2);

  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> pos(0, 1000), len(5, 60), dir(0, 2 * std::numbers::pi);
  auto list = std::make_unique<vez::TCTDataList>();
  for (int i = 0; i < count; ++i) {
    const double x = pos(rng), y = pos(rng), l = len(rng), a = dir(rng);
    list->Add(new Segment(x, y, x + l * std::cos(a), y + l * std::sin(a)));
  }
  const double halfWidth = 8;  // the tree's margin is the half width of the strip
  vez::TCircleTree tree(std::move(list), halfWidth);

  // The strip: from (100, 250) along 25 degrees, abscissae 0 to 800.
  const double x0 = 100, y0 = 250, phi = 25 * std::numbers::pi / 180, a = 0, b = 800;
  vez::TCTDataList hits;
  tree.Schnitt(x0, y0, std::cos(phi), std::sin(phi), a, b, hits);

  // The drawing fills 900 x 900 pixels between a title band and a legend band.
  constexpr int kTop = 64, kSize = 900, kLegend = 56;
  vez::TSvgCanvas svg(kSize, kTop + kSize + kLegend);
  vez::TUserPixel up(&svg, 0, kTop, kSize, kTop + kSize);
  up.SetWorld(-100, 1100, 1100, -100, 0);

  auto leaves = tree.CreateLeafList();  // the knots that hold segments
  up.SetLineColor(0xD0D0D0);
  for (const vez::TCTKnot* k : *leaves) DrawKnot(up, *k);
  const double c = std::cos(phi), s = std::sin(phi);
  svg.SetBrushColor(0xFF9933);
  svg.SetFillOpacity(0.35);
  up.SetLineColor(0xCC6600);
  up.UPolygon({vez::UPoint(x0 + a * c + halfWidth * s, y0 + a * s - halfWidth * c),
               vez::UPoint(x0 + b * c + halfWidth * s, y0 + b * s - halfWidth * c),
               vez::UPoint(x0 + b * c - halfWidth * s, y0 + b * s + halfWidth * c),
               vez::UPoint(x0 + a * c - halfWidth * s, y0 + a * s + halfWidth * c)});
  svg.ClearBrush();

  std::set<const vez::TCTCustomDataItem*> hit(hits.begin(), hits.end());
  int knots = 0;
  for (const vez::TCTKnot* k : *leaves) {
    if (!hit.count(k->Daten.First())) continue;
    ++knots;
    up.SetLineColor(0x2020E0);
    DrawKnot(up, *k);
  }
  for (const vez::TCTKnot* k : *leaves)
    for (const vez::TCTCustomDataItem* it : k->Daten) {
      up.SetLineColor(hit.count(it) ? 0x0000FF : 0x000000);
      up.ULine(it->X1(), it->Y1(), it->X2(), it->Y2());
    }

  svg.SetPenColor(0x000000);
  svg.TextOut(20, 28, "Circle tree over " + std::to_string(count) + " random segments (seed " + std::to_string(seed) +
                          ") and one strip query", 17, true);
  svg.TextOut(20, 50, "The strip runs from (100, 250) at 25 degrees for 800 units, half width 8; the query returned " +
                          std::to_string(knots) + " of " + std::to_string(leaves->Count()) + " knots with data.", 13);
  DrawLegend(svg, kTop + kSize + 30);
  try {
    svg.SaveToFile(path);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  std::printf("%s: %d segments, %d knots with data, the strip returned %d knots with %d segments\n", path.c_str(),
              count, leaves->Count(), knots, hits.Count());
  return 0;
}

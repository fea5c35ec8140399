#include "geometry/Usekacheln.h"

#include <cctype>
#include <cmath>
#include <cstdlib>

#include "core/Exceptions.h"
#include "core/FormatSettings.h"

namespace vez {

namespace {

// Hundreds of metres rounded half to even; a value without a 64-bit integer form cannot name a tile.
int64_t Hundreds(double v) {
  int64_t r = 0;
  if (!TryRoundToInt64(v / 100, r)) throw EMathError("Invalid floating point operation");
  return r;
}

std::string CoordText(double v, float size) {
  const int64_t a = Hundreds(v);
  const int64_t b = Hundreds(static_cast<double>(size));
  if (b == 0) throw EZeroDivide("Division by zero");
  const int64_t c = (a / b) * b;
  const std::string t = std::to_string(c);
  const std::string head = t.substr(0, t.size() - 1);
  return t.back() == '0' ? head : head + ',' + t.back();
}

// The value of a coordinate text in metres; 0 when it is not a number.
double TextValue(std::string t) {
  if (const auto comma = t.find(','); comma != std::string::npos) t[comma] = '.';
  size_t i = 0, digits = 0;
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
  for (; i < t.size() && std::isdigit(static_cast<unsigned char>(t[i])); ++i) ++digits;
  if (i < t.size() && t[i] == '.')
    for (++i; i < t.size() && std::isdigit(static_cast<unsigned char>(t[i])); ++i) ++digits;
  if (digits == 0) return 0;
  if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
    size_t j = i + 1, expDigits = 0;
    if (j < t.size() && (t[j] == '+' || t[j] == '-')) ++j;
    for (; j < t.size() && std::isdigit(static_cast<unsigned char>(t[j])); ++j) ++expDigits;
    if (expDigits == 0) return 0;
    i = j;
  }
  if (i != t.size()) return 0;
  const double v = std::strtod(t.c_str(), nullptr);
  return std::isfinite(v) ? v * 1000 : 0;
}

// Position of the extension's dot in a file name (after the last path separator), or npos.
size_t ExtensionDot(const std::string& name) {
  const size_t dot = name.rfind('.');
  const size_t sep = name.find_last_of("/\\");
  if (dot == std::string::npos || (sep != std::string::npos && dot < sep)) return std::string::npos;
  return dot;
}

double Down(double v, double s) { return std::trunc(v / s) * s; }
double Up(double v, double s) { return (std::trunc(v / s) + 1) * s; }

int32_t TileCount(double from, double to, double s) {
  double n = std::max(1.0, std::ceil((to - from) / s));
  while (from + n * s < to) ++n;
  while (n > 1 && from + (n - 1) * s >= to) --n;
  return static_cast<int32_t>(n);
}

}  // namespace

std::string KachelKoordToStr(double x, double y, float dx, float dy) {
  return "_X" + CoordText(x, dx) + "Y" + CoordText(y, dy);
}

bool KachelStrToKoord(const std::string& name, double& x, double& y) {
  std::string n = name;
  if (const size_t dot = ExtensionDot(n); dot != std::string::npos) n.erase(dot);
  const size_t p = n.find("_X");
  if (p == std::string::npos) return false;
  const size_t q = n.find('Y', p + 2);
  if (q == std::string::npos) return false;
  x = TextValue(n.substr(p + 2, q - p - 2));
  y = TextValue(n.substr(q + 1));
  return true;
}

std::string KachelFilename(const std::string& base, double x, double y, float dx, float dy) {
  const size_t dot = ExtensionDot(base);
  const std::string stem = dot == std::string::npos ? base : base.substr(0, dot);
  const std::string ext = dot == std::string::npos ? "" : base.substr(dot + 1);
  return stem + KachelKoordToStr(x, y, dx, dy) + ".t" + ext;
}

bool KachelMinMax(const std::string& name, float dx, float dy, double& xmin, double& ymin, double& xmax,
                  double& ymax) {
  double x = 0, y = 0;
  if (!KachelStrToKoord(name, x, y)) return false;
  xmin = x, ymin = y, xmax = x + dx, ymax = y + dy;
  return true;
}

int32_t KachelIsInRect(const std::string& name, float dx, float dy, double x1, double y1, double x2, double y2) {
  double xmin = 0, ymin = 0, xmax = 0, ymax = 0;
  if (!KachelMinMax(name, dx, dy, xmin, ymin, xmax, ymax)) return -1;
  if (xmin >= x1 && xmax <= x2 && ymin >= y1 && ymax <= y2) return 2;
  if (xmax < x1 || ymax < y1 || xmin > x2 || ymin > y2) return 0;
  return 1;
}

void SetKachelGrenze(double& xmin, double& ymin, double& xmax, double& ymax, float dx, float dy) {
  xmin = Down(xmin, dx);
  ymin = Down(ymin, dy);
  xmax = Up(xmax, dx);
  ymax = Up(ymax, dy);
}

void GetKachelDim(double x1, double y1, double x2, double y2, float dx, float dy, double& x0, double& y0,
                  int32_t& nx, int32_t& ny) {
  x0 = Down(x1, dx);
  y0 = Down(y1, dy);
  nx = TileCount(x0, x2, dx);
  ny = TileCount(y0, y2, dy);
}

}  // namespace vez

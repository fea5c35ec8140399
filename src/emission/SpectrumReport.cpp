#include "emission/SpectrumReport.h"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <sstream>

#include "acoustics/Bands.h"
#include "output/JsonWriter.h"

namespace vez {

std::vector<TBandValue> TNMBands(const TTNMSpectrum& Spectrum) {
  std::vector<TBandValue> bands;
  bands.reserve(Spectrum.size());
  for (int k = 0; k < kTNMBandCount; ++k) bands.push_back({terzen[k + 4], Spectrum[static_cast<std::size_t>(k)]});
  return bands;
}

std::string_view TNMPavementName(TPavementType Pavement) {
  switch (Pavement) {
    case ptAvg: return "average pavement";
    case ptDGAC: return "dense-graded asphaltic concrete (DGAC)";
    case ptOGAC: return "open-graded asphaltic concrete (OGAC)";
    case ptPCC: return "Portland cement concrete (PCC)";
  }
  return "unknown pavement";
}

std::string_view TNMThrottleName(TFullThrottle FullThrottle) {
  return FullThrottle == ftYes ? "full throttle" : "cruise";
}

std::string SpectrumJson(float Sum, std::span<const TBandValue> Bands) {
  std::ostringstream out;
  JsonWriter json(out);
  json.BeginObject().Member("sum", Sum).Key("bands").BeginArray();
  for (const TBandValue& b : Bands) json.BeginObject().Member("hz", b.Hz).Member("db", b.Value).EndObject();
  json.EndArray().EndObject();
  out << '\n';
  return out.str();
}

std::string SpectrumText(std::string_view Heading, std::string_view Unit, float Sum,
                         std::span<const TBandValue> Bands) {
  std::string out(Heading);
  out += '\n';
  out += fmt::format("{:>6}  {:>9}\n", "Hz", Unit);
  for (const TBandValue& b : Bands) out += fmt::format("{:>6}  {:>9.2f}\n", b.Hz, b.Value);
  out += fmt::format("{:>6}  {:>9.2f}\n", "Sum", Sum);
  return out;
}

std::string XmlEscape(std::string_view Text) {
  std::string out;
  out.reserve(Text.size());
  for (char c : Text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&apos;"; break;
      default:
        // Control characters other than tab and line feed are not allowed in XML 1.0.
        if (static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n') {
          out += ' ';
        } else {
          out += c;
        }
    }
  }
  return out;
}

namespace {

// Chart geometry in SVG user units.
constexpr double kWidth = 860, kHeight = 500;
constexpr double kLeft = 80, kRight = 30, kTop = 70, kBottom = 70;

// A step of 1, 2 or 5 times a power of ten giving about `count` intervals over `range`.
double NiceStep(double range, int count) {
  const double raw = range / count;
  const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
  const double n = raw / magnitude;
  return (n <= 1 ? 1 : n <= 2 ? 2 : n <= 5 ? 5 : 10) * magnitude;
}

std::string HzLabel(double hz) {
  if (hz >= 1000) return fmt::format("{:g}k", hz / 1000);
  return fmt::format("{:g}", hz);
}

}  // namespace

std::string SpectrumBarChartSvg(std::span<const TBandValue> Bands, const TChartOptions& Options) {
  // Value range over the finite values.
  double lo = std::numeric_limits<double>::infinity();
  double hi = -lo;
  for (const TBandValue& b : Bands) {
    if (!std::isfinite(b.Value)) continue;
    lo = std::min(lo, static_cast<double>(b.Value));
    hi = std::max(hi, static_cast<double>(b.Value));
  }
  if (!std::isfinite(lo)) lo = hi = 0;
  if (hi - lo < 1e-6) {
    lo -= 1;
    hi += 1;
  }
  const double step = NiceStep(hi - lo, 6);
  double yMin = std::floor(lo / step) * step;
  if (lo - yMin < 0.25 * step) yMin -= step;  // the lowest bar stays visible
  if (Options.ZeroBased && lo >= 0) yMin = 0;
  double yMax = std::ceil(hi / step) * step;
  if (yMax - hi < 0.05 * step) yMax += step;

  // Frequency axis: log10(Hz); each bar spans 80 % of the distance to its neighbours.
  std::vector<double> x;
  for (const TBandValue& b : Bands) x.push_back(std::log10(std::max<double>(b.Hz, 1)));
  std::vector<double> half(x.size(), std::log10(2.0) / 6);
  for (std::size_t i = 0; i < x.size() && x.size() > 1; ++i) {
    const double left = i > 0 ? x[i] - x[i - 1] : x[i + 1] - x[i];
    const double right = i + 1 < x.size() ? x[i + 1] - x[i] : left;
    half[i] = 0.4 * std::min(std::abs(left), std::abs(right));
  }
  double xMin = x.empty() ? 1 : x.front() - 1.25 * half.front();
  double xMax = x.empty() ? 4 : x.back() + 1.25 * half.back();
  if (xMax - xMin < 1e-9) xMax = xMin + 1;

  const double plotW = kWidth - kLeft - kRight;
  const double plotH = kHeight - kTop - kBottom;
  const auto X = [&](double lg) { return kLeft + (lg - xMin) / (xMax - xMin) * plotW; };
  const auto Y = [&](double v) { return kTop + (yMax - v) / (yMax - yMin) * plotH; };

  std::string svg;
  svg += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  svg += fmt::format(
      "<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\" width=\"{0}\" height=\"{1}\" "
      "viewBox=\"0 0 {0} {1}\" font-family=\"sans-serif\" font-size=\"12\">\n",
      kWidth, kHeight);
  const std::string title = XmlEscape(Options.Title);
  // The document title (shown by browsers as the tab name) holds both lines.
  svg += "<title>" + title + (Options.Subtitle.empty() ? "" : ", " + XmlEscape(Options.Subtitle)) + "</title>\n";
  svg += fmt::format("<rect x=\"0\" y=\"0\" width=\"{}\" height=\"{}\" fill=\"white\"/>\n", kWidth, kHeight);
  // A long first line gets a smaller font so that it stays inside the picture.
  const int titleSize = Options.Title.size() > 80 ? 13 : 16;
  svg += fmt::format(
      "<text x=\"{}\" y=\"28\" text-anchor=\"middle\" font-size=\"{}\" font-weight=\"bold\">{}</text>\n",
      kWidth / 2, titleSize, title);
  if (!Options.Subtitle.empty()) {
    svg += fmt::format("<text x=\"{}\" y=\"50\" text-anchor=\"middle\" font-size=\"13\">{}</text>\n", kWidth / 2,
                       XmlEscape(Options.Subtitle));
  }

  // Horizontal grid lines with value labels.
  svg += "<g class=\"grid\" stroke=\"#d0d0d0\" stroke-width=\"1\">\n";
  std::string yLabels;
  for (double v = yMin; v <= yMax + step * 1e-6; v += step) {
    const double y = Y(v);
    svg += fmt::format("<line x1=\"{:.1f}\" y1=\"{:.1f}\" x2=\"{:.1f}\" y2=\"{:.1f}\"/>\n", kLeft, y, kLeft + plotW, y);
    yLabels += fmt::format("<text x=\"{:.1f}\" y=\"{:.1f}\" text-anchor=\"end\">{:g}</text>\n", kLeft - 6, y + 4,
                           std::abs(v) < step * 1e-9 ? 0.0 : v);
  }
  // Vertical grid lines at 1, 2 and 5 times the powers of ten inside the axis.
  std::string xLabels;
  for (double decade = std::pow(10.0, std::floor(xMin)); std::log10(decade) <= xMax; decade *= 10) {
    for (double m : {1.0, 2.0, 5.0}) {
      const double hz = decade * m;
      const double lg = std::log10(hz);
      if (lg < xMin || lg > xMax) continue;
      const double xp = X(lg);
      svg += fmt::format("<line x1=\"{:.1f}\" y1=\"{:.1f}\" x2=\"{:.1f}\" y2=\"{:.1f}\"/>\n", xp, kTop, xp,
                         kTop + plotH);
      xLabels += fmt::format("<text x=\"{:.1f}\" y=\"{:.1f}\" text-anchor=\"middle\">{}</text>\n", xp,
                             kTop + plotH + 18, HzLabel(hz));
    }
  }
  svg += "</g>\n";

  // The bars.
  svg += "<g class=\"bars\" fill=\"#3b78b0\" stroke=\"#1f4e79\" stroke-width=\"0.5\">\n";
  for (std::size_t i = 0; i < Bands.size(); ++i) {
    const double v = Bands[i].Value;
    const double top = std::isfinite(v) ? std::clamp(Y(v), kTop, kTop + plotH) : kTop + plotH;
    const double left = X(x[i] - half[i]);
    const double width = X(x[i] + half[i]) - left;
    svg += fmt::format(
        "<rect class=\"bar\" x=\"{:.2f}\" y=\"{:.2f}\" width=\"{:.2f}\" height=\"{:.2f}\"><title>{} Hz: {:.2f}</title></rect>\n",
        left, top, width, kTop + plotH - top, Bands[i].Hz, v);
  }
  svg += "</g>\n";

  // Axes and their labels.
  svg += fmt::format(
      "<path d=\"M {0:.1f} {1:.1f} V {2:.1f} H {3:.1f}\" fill=\"none\" stroke=\"black\" stroke-width=\"1\"/>\n", kLeft,
      kTop, kTop + plotH, kLeft + plotW);
  svg += yLabels + xLabels;
  svg += fmt::format("<text x=\"{:.1f}\" y=\"{:.1f}\" text-anchor=\"middle\">Frequency (Hz)</text>\n",
                     kLeft + plotW / 2, kHeight - 20);
  svg += fmt::format("<text x=\"20\" y=\"{0:.1f}\" text-anchor=\"middle\" transform=\"rotate(-90 20 {0:.1f})\">{1}</text>\n",
                     kTop + plotH / 2, XmlEscape(Options.YLabel));
  svg += "</svg>\n";
  return svg;
}

}  // namespace vez

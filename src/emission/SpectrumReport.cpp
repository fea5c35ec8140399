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
constexpr int kMaxTicks = 8;

// The value axis: from Min to Max in Step, at most kMaxTicks ticks, Decimals for the tick labels.
struct ValueAxis {
  double Min = 0, Max = 1, Step = 1;
  int Decimals = 0;
};

ValueAxis ChooseValueAxis(double lo, double hi, bool zeroBased) {
  if (zeroBased && lo >= 0) lo = 0;
  if (hi - lo < 1e-9) {
    const double pad = std::max(1.0, std::abs(hi) * 0.1);
    hi += pad;
    lo = zeroBased && lo >= 0 ? lo : lo - pad;
  }
  ValueAxis axis;
  // The smallest round step (1, 2, 2.5 or 5 times a power of ten) that needs at most kMaxTicks ticks.
  const double power = std::pow(10.0, std::floor(std::log10((hi - lo) / (kMaxTicks - 1))));
  for (double scale = power;; scale *= 10) {
    for (double m : {1.0, 2.0, 2.5, 5.0}) {
      const double step = m * scale;
      double min = std::floor(lo / step + 1e-9) * step;
      // The lowest bar keeps some height unless the axis starts at 0 on purpose.
      if (lo - min < 0.2 * step && !(zeroBased && lo == 0)) min -= step;
      const double max = std::ceil(hi / step - 1e-9) * step;
      if (std::lround((max - min) / step) + 1 <= kMaxTicks) {
        axis.Min = min;
        axis.Max = max;
        axis.Step = step;
        // Enough decimals for the step: 2.5 needs one more than 2 or 5.
        const int exponent = static_cast<int>(std::floor(std::log10(step) + 1e-9));
        axis.Decimals = std::max(0, -exponent + (m == 2.5 ? 1 : 0));
        return axis;
      }
    }
  }
}

// Whether band i of n gets a label: every band of a short spectrum, else the octave centres.
bool LabelledBand(std::uint16_t hz, std::size_t count) {
  if (count <= 12) return true;
  std::int32_t index = 0;
  TerzFrequenz(hz, index);
  return index % 3 == 2;
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
  const ValueAxis axis = ChooseValueAxis(lo, hi, Options.ZeroBased);

  const double plotW = kWidth - kLeft - kRight;
  const double plotH = kHeight - kTop - kBottom;
  const double slot = plotW / static_cast<double>(std::max<std::size_t>(Bands.size(), 1));
  const auto Centre = [&](std::size_t i) { return kLeft + (static_cast<double>(i) + 0.5) * slot; };
  const auto Y = [&](double v) { return kTop + (axis.Max - v) / (axis.Max - axis.Min) * plotH; };

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
      "<text class=\"title\" x=\"{}\" y=\"28\" text-anchor=\"middle\" font-size=\"{}\" "
      "font-weight=\"bold\">{}</text>\n",
      kWidth / 2, titleSize, title);
  if (!Options.Subtitle.empty()) {
    svg += fmt::format("<text x=\"{}\" y=\"50\" text-anchor=\"middle\" font-size=\"13\">{}</text>\n", kWidth / 2,
                       XmlEscape(Options.Subtitle));
  }

  // Horizontal grid lines with the value labels.
  svg += "<g class=\"grid\" stroke=\"#d0d0d0\" stroke-width=\"1\">\n";
  std::string labels;
  const long ticks = std::lround((axis.Max - axis.Min) / axis.Step);
  for (long k = 0; k <= ticks; ++k) {
    const double v = axis.Min + static_cast<double>(k) * axis.Step;
    const double y = Y(v);
    svg += fmt::format("<line x1=\"{:.1f}\" y1=\"{:.1f}\" x2=\"{:.1f}\" y2=\"{:.1f}\"/>\n", kLeft, y, kLeft + plotW, y);
    labels += fmt::format("<text class=\"ytick\" x=\"{:.1f}\" y=\"{:.1f}\" text-anchor=\"end\">{:.{}f}</text>\n",
                          kLeft - 6, y + 4, std::abs(v) < axis.Step * 1e-9 ? 0.0 : v, axis.Decimals);
  }
  svg += "</g>\n";

  // The bars, each 70 % of its slot, and the labels of the band centres with a tick mark. A band without a
  // value is a gap: a dashed outline over the plot's height with the words "no value", never a bar.
  svg += "<g class=\"bars\" fill=\"#3b78b0\" stroke=\"#1f4e79\" stroke-width=\"0.5\">\n";
  std::string marks, gaps;
  for (std::size_t i = 0; i < Bands.size(); ++i) {
    const double v = Bands[i].Value;
    if (std::isfinite(v)) {
      const double top = std::clamp(Y(v), kTop, kTop + plotH);
      svg += fmt::format(
          "<rect class=\"bar\" x=\"{:.2f}\" y=\"{:.2f}\" width=\"{:.2f}\" height=\"{:.2f}\"><title>{} Hz: {:.2f}"
          "</title></rect>\n",
          Centre(i) - 0.35 * slot, top, 0.7 * slot, kTop + plotH - top, BandCentreText(Bands[i].Hz), v);
    } else {
      gaps += fmt::format(
          "<rect class=\"gap\" x=\"{:.2f}\" y=\"{:.1f}\" width=\"{:.2f}\" height=\"{:.1f}\"><title>{} Hz: no value"
          "</title></rect>\n<text class=\"novalue\" fill=\"#b04040\" stroke=\"none\" x=\"{:.2f}\" y=\"{:.1f}\" text-anchor=\"middle\" "
          "transform=\"rotate(-90 {:.2f} {:.1f})\">no value</text>\n",
          Centre(i) - 0.35 * slot, kTop, 0.7 * slot, plotH, BandCentreText(Bands[i].Hz), Centre(i) + 4,
          kTop + plotH / 2, Centre(i) + 4, kTop + plotH / 2);
    }
    if (!LabelledBand(Bands[i].Hz, Bands.size())) continue;
    marks += fmt::format("M {0:.2f} {1:.1f} V {2:.1f} ", Centre(i), kTop + plotH, kTop + plotH + 5);
    labels += fmt::format("<text class=\"xtick\" x=\"{:.2f}\" y=\"{:.1f}\" text-anchor=\"middle\">{}</text>\n",
                          Centre(i), kTop + plotH + 19, BandCentreText(Bands[i].Hz));
  }
  svg += "</g>\n";
  if (!gaps.empty())
    svg += "<g class=\"gaps\" fill=\"none\" stroke=\"#b04040\" stroke-width=\"1\" stroke-dasharray=\"4 3\" "
           "font-size=\"11\">\n" + gaps + "</g>\n";

  // Axes, tick marks and titles.
  svg += fmt::format(
      "<path d=\"M {0:.1f} {1:.1f} V {2:.1f} H {3:.1f} {4}\" fill=\"none\" stroke=\"black\" stroke-width=\"1\"/>\n",
      kLeft, kTop, kTop + plotH, kLeft + plotW, marks);
  svg += labels;
  svg += fmt::format("<text class=\"xlabel\" x=\"{:.1f}\" y=\"{:.1f}\" text-anchor=\"middle\">{}</text>\n",
                     kLeft + plotW / 2, kHeight - 22, XmlEscape(Options.XLabel));
  svg += fmt::format(
      "<text class=\"ylabel\" x=\"22\" y=\"{0:.1f}\" text-anchor=\"middle\" transform=\"rotate(-90 22 {0:.1f})\">"
      "{1}</text>\n",
      kTop + plotH / 2, XmlEscape(Options.YLabel));
  svg += "</svg>\n";
  return svg;
}

}  // namespace vez

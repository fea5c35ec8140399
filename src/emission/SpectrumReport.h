// Reports of a computed spectrum for people and programs: a text table, a JSON object and an SVG bar chart.
// The CLI and any other front end use these, so the formats live once.
//
// Levels are printed as the shortest text that reads back as the same float (JSON) or with two decimals
// (text, chart). The chart is a self-contained SVG 1.1 document: one bar per band, the bands side by side in
// their order (octave and third-octave bands are equally spaced on a logarithmic frequency axis), labels at the
// band centres (every band up to 12 bands, else every third band: the octave centres of a third-octave
// spectrum), a value axis from the data in round steps (1, 2, 2.5 or 5 times a power of ten, at most 8 ticks),
// axis titles with their units and a title; every text is XML-escaped. We write the SVG ourselves (a few
// elements) rather than depend on a drawing layer. Tick labels carry the classes "xtick" and "ytick", bars
// "bar", so that programs (and our tests) can read the axes back.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "acoustics/Bands.h"
#include "acoustics/TNM.h"

namespace vez {

// One band of a spectrum: its centre frequency and its value.
struct TBandValue {
  std::uint16_t Hz = 0;
  float Value = 0.0f;
};

// The 24 TNM bands 50 Hz .. 10 kHz with their levels.
std::vector<TBandValue> TNMBands(const TTNMSpectrum& Spectrum);

// The display name of a TNM pavement ("average pavement", "dense-graded asphaltic concrete (DGAC)", ...).
std::string_view TNMPavementName(TPavementType Pavement);
// "cruise" or "full throttle".
std::string_view TNMThrottleName(TFullThrottle FullThrottle);

// {"sum": <dB>, "bands": [{"hz": 50, "db": <dB>}, ...]} and a line feed; a value that is not finite is null.
std::string SpectrumJson(float Sum, std::span<const TBandValue> Bands);

// Heading line, a column head, one line per band ("  1000     72.35"), and a last line with the sum; Unit
// names the value column ("dB(A)").
std::string SpectrumText(std::string_view Heading, std::string_view Unit, float Sum,
                         std::span<const TBandValue> Bands);

struct TChartOptions {
  std::string Title;                       // first title line: what is shown, with the element's name
  std::string Subtitle;                    // second title line, may be empty
  std::string XLabel = "Frequency in Hz";  // frequency axis title with its unit
  std::string YLabel;                      // value axis title with its unit, e.g. "Level in dB(A)"
  bool ZeroBased = false;                  // the value axis starts at 0 when every value is at least 0
};

// The bar chart as an SVG document; its <title> is Title and Subtitle joined by ", ". Every band with a value
// gets one <rect class="bar"> (with a <title> tooltip "<Hz> Hz: <value>"); a band whose value is not finite
// (no value) gets a dashed <rect class="gap"> over the plot's height and the text "no value", and the value
// axis is chosen from the other bands.
std::string SpectrumBarChartSvg(std::span<const TBandValue> Bands, const TChartOptions& Options);

// Text with &, <, >, " and ' replaced by their XML entities.
std::string XmlEscape(std::string_view Text);

}  // namespace vez

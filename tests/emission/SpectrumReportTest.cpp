#include "emission/SpectrumReport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

#include "TestUtil.h"
#include "acoustics/Bands.h"
#include "emission/SvgCheck.h"

namespace vez {
namespace {

TEST(SpectrumReportTest, JsonAndTextForms) {
  // Floats print as the shortest text that reads back as the same float; NaN as null.
  const TBandValue bands[] = {{50, 41.5f}, {100, 0.1f}, {125, std::numeric_limits<float>::quiet_NaN()}};
  EXPECT_EQ(SpectrumJson(1.0f / 3, bands),
            "{\"sum\": 0.33333334, \"bands\": [{\"hz\": 50, \"db\": 41.5}, {\"hz\": 100, \"db\": 0.1}, "
            "{\"hz\": 125, \"db\": null}]}\n");
  const TBandValue text[] = {{50, 41.5f}, {10000, 62.126f}};
  EXPECT_EQ(SpectrumText("Buses", "dB(A)", 63.0f, text),
            "Buses\n"
            "    Hz      dB(A)\n"
            "    50      41.50\n"
            " 10000      62.13\n"
            "   Sum      63.00\n");
}

// The axes of the spectra of tests/data/emission/axes.txt read back from the SVG: a label under the centre of
// every labelled band, value ticks in one round step (1, 2, 2.5 or 5 times a power of ten), at most 8 of them,
// spanning every value.
TEST(SpectrumReportTest, AxesFollowTheBandsAndTheData) {
  const auto rows = test::DataRows("emission/axes.txt");
  for (const auto& c : rows) {
    const int first = std::stoi(c[0]), last = std::stoi(c[1]), every = std::stoi(c[2]);
    const double low = std::stod(c[3]), high = std::stod(c[4]);
    std::vector<TBandValue> bands;
    const int count = (last - first) / every + 1;
    for (int n = first, i = 0; n <= last; n += every, ++i)
      bands.push_back({terzen[n], static_cast<float>(low + (high - low) * i / std::max(count - 1, 1))});
    TChartOptions options;
    options.YLabel = "Level in dB";
    options.ZeroBased = c[5] == "1";
    const test::SvgSummary svg = test::ParseSvg(SpectrumBarChartSvg(bands, options));
    ASSERT_TRUE(svg.wellFormed) << svg.error;
    ASSERT_EQ(svg.bars.size(), bands.size());

    std::vector<std::string> xLabels;
    for (const test::SvgLabel& label : svg.Labels("xtick")) {
      xLabels.push_back(label.text);
      const std::string& hz = label.text;
      const auto bar = std::find_if(svg.bars.begin(), svg.bars.end(),
                                    [&](const test::SvgBar& b) { return b.title.rfind(hz + " Hz:", 0) == 0; });
      ASSERT_NE(bar, svg.bars.end()) << label.text;
      EXPECT_NEAR(label.x, bar->x + bar->width / 2, 0.02) << label.text;
    }
    EXPECT_EQ(xLabels, std::vector<std::string>(c.begin() + 7, c.end()));

    const std::vector<test::SvgLabel> ticks = svg.Labels("ytick");
    ASSERT_TRUE(ticks.size() >= 2 && ticks.size() <= 8) << ticks.size();
    EXPECT_EQ(ticks.front().text, c[6]);
    const double step = std::stod(ticks[1].text) - std::stod(ticks[0].text);
    const double mantissa = step / std::pow(10.0, std::floor(std::log10(step)));
    const auto round = [&](double m) { return std::abs(mantissa - m) < 1e-9; };
    EXPECT_TRUE(std::ranges::any_of(std::array{1.0, 2.0, 2.5, 5.0}, round)) << step;
    for (std::size_t i = 1; i < ticks.size(); ++i)
      EXPECT_NEAR(std::stod(ticks[i].text) - std::stod(ticks[i - 1].text), step, 1e-9);
    EXPECT_LE(std::stod(ticks.front().text), std::min(low, high));
    EXPECT_GE(std::stod(ticks.back().text), std::max(low, high));
  }
  EXPECT_EQ(4u, rows.size());
}

TEST(SpectrumReportTest, TextsAreEscapedAndABandWithoutValueIsAGap) {
  TTNMSpectrum levels{};
  for (int k = 0; k < kTNMBandCount; ++k) levels[k] = 40.0f + float(k);
  levels[5] = std::numeric_limits<float>::infinity();
  TChartOptions options;
  options.Title = "Trucks <heavy> & \"loud\"";
  options.Subtitle = "it's 80 km/h\x01";
  options.YLabel = "Level in dB(A)";
  const test::SvgSummary svg = test::ParseSvg(SpectrumBarChartSvg(TNMBands(levels), options));
  ASSERT_TRUE(svg.wellFormed) << svg.error;
  EXPECT_EQ(svg.root, "svg");
  EXPECT_EQ(std::pair(svg.bars.size(), svg.Labels("novalue").size()), std::pair(std::size_t{23}, std::size_t{1}));
  for (const char* text : {"Trucks <heavy> & \"loud\"", "it's 80 km/h ", "Level in dB(A)", "Frequency in Hz"})
    EXPECT_NE(std::find(svg.texts.begin(), svg.texts.end(), text), svg.texts.end()) << text;
}

}  // namespace
}  // namespace vez

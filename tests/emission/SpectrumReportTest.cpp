#include "emission/SpectrumReport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "emission/SvgCheck.h"

namespace vez {
namespace {

TEST(SpectrumReportTest, JsonForm) {
  const TBandValue bands[] = {{50, 41.5f}, {63, -3.25f}};
  EXPECT_EQ(SpectrumJson(76.125f, bands),
            "{\"sum\": 76.125, \"bands\": [{\"hz\": 50, \"db\": 41.5}, {\"hz\": 63, \"db\": -3.25}]}\n");
  // Floats print as the shortest text that reads back as the same float.
  const TBandValue odd[] = {{100, 0.1f}, {125, std::numeric_limits<float>::quiet_NaN()}};
  EXPECT_EQ(SpectrumJson(1.0f / 3, odd),
            "{\"sum\": 0.33333334, \"bands\": [{\"hz\": 100, \"db\": 0.1}, {\"hz\": 125, \"db\": null}]}\n");
}

TEST(SpectrumReportTest, TextForm) {
  const TBandValue bands[] = {{50, 41.5f}, {10000, 62.126f}};
  EXPECT_EQ(SpectrumText("Buses", "dB(A)", 63.0f, bands),
            "Buses\n"
            "    Hz      dB(A)\n"
            "    50      41.50\n"
            " 10000      62.13\n"
            "   Sum      63.00\n");
}

TEST(SpectrumReportTest, ChartIsWellFormedWithOneBarPerBand) {
  TTNMSpectrum levels{};
  for (int k = 0; k < kTNMBandCount; ++k) levels[k] = 40.0f + float(k);
  levels[5] = std::numeric_limits<float>::infinity();  // drawn with zero height, not dropped
  TChartOptions options;
  options.Title = "Trucks <heavy> & \"loud\"";
  options.Subtitle = "it's 80 km/h";
  options.YLabel = "Level dB(A)";
  const test::SvgSummary svg = test::ParseSvg(SpectrumBarChartSvg(TNMBands(levels), options));
  ASSERT_TRUE(svg.wellFormed) << svg.error;
  EXPECT_EQ(svg.root, "svg");
  EXPECT_EQ(svg.bars, 24);
  const auto has = [&](const std::string& text) {
    return std::find(svg.texts.begin(), svg.texts.end(), text) != svg.texts.end();
  };
  EXPECT_TRUE(has("Trucks <heavy> & \"loud\""));
  EXPECT_TRUE(has("it's 80 km/h"));
  EXPECT_TRUE(has("Level dB(A)"));
  EXPECT_TRUE(has("Frequency (Hz)"));
  for (const char* tick : {"50", "100", "200", "500", "1k", "2k", "5k", "10k"}) EXPECT_TRUE(has(tick)) << tick;
  EXPECT_TRUE(has("50 Hz: 40.00"));
}

TEST(SpectrumReportTest, XmlEscape) {
  EXPECT_EQ(XmlEscape("a<b>&\"c'\x01"), "a&lt;b&gt;&amp;&quot;c&apos; ");
}

}  // namespace
}  // namespace vez

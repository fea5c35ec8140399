#include "emission/SpectrumReport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>

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

TEST(SpectrumReportTest, ChartIsWellFormedWithOneBarPerBand) {
  TTNMSpectrum levels{};
  for (int k = 0; k < kTNMBandCount; ++k) levels[k] = 40.0f + float(k);
  levels[5] = std::numeric_limits<float>::infinity();  // drawn with zero height, not dropped
  TChartOptions options;
  options.Title = "Trucks <heavy> & \"loud\"";
  options.Subtitle = "it's 80 km/h\x01";
  options.YLabel = "Level dB(A)";
  const test::SvgSummary svg = test::ParseSvg(SpectrumBarChartSvg(TNMBands(levels), options));
  ASSERT_TRUE(svg.wellFormed) << svg.error;
  EXPECT_EQ(svg.root, "svg");
  EXPECT_EQ(svg.bars, 24);
  for (const char* text : {"Trucks <heavy> & \"loud\"", "it's 80 km/h ", "Level dB(A)", "Frequency (Hz)", "50",
                           "500", "1k", "10k", "50 Hz: 40.00"})
    EXPECT_NE(std::find(svg.texts.begin(), svg.texts.end(), text), svg.texts.end()) << text;
}

}  // namespace
}  // namespace vez

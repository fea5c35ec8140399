#include "emission/SpectrumLibrary.h"

#include <gtest/gtest.h>

#include "TestUtil.h"
#include "core/Exceptions.h"
#include "emission/LibraryFixtures.h"

namespace vez {
namespace {

// (The not-found error is read end to end by the vezi spectrum tests.)
TEST(SpectrumLibraryTest, RecordsAndFailuresWithTheirContext) {
  test::TempDir dir;
  const std::string path = test::CreateLibrary(dir.Path().string(), ltEmis);
  const auto value = [](int n) { return n == 6 ? 1.5 : n == 4 ? -0.25 : 0.1 * n; };
  const auto third = test::AppendElement(path, {3, 5, true, true, 0.25, value});
  const auto unfinished = test::AppendElement(path, {0, 9, false, false, 1, nullptr});
  const auto inverted = test::AppendElement(path, {3, 2, true, true, 1, nullptr});
  const auto tooHigh = test::AppendElement(path, {0, 30, true, true, 1, nullptr});
  const auto octaves = test::AppendElement(path, {0, 9, false, true, 0, [](int n) { return n; }});
  float sum = 0;
  const TSpectrum plain = SpectrumFromLibrary(third, path, 0, sum);
  EXPECT_EQ(std::string("T") + "50-80", plain.Kind + std::to_string(plain.fu) + "-" + std::to_string(plain.fo));
  EXPECT_EQ(plain.Values, (std::vector<float>{-0.25f, 0.5f, 1.5f}));
  EXPECT_EQ(std::tuple(false, 0.0f, 0.0f), std::tuple(plain.CheckMinMax, plain.MinValue, plain.MaxValue));
  const TSpectrum clamped = SpectrumFromLibrary(third, path, 1, sum);  // mode 1 keeps the values within 0..0.999
  EXPECT_EQ(clamped.Values, (std::vector<float>{0, 0.5f, 0.999f}));
  EXPECT_EQ(std::tuple(true, 0.0f, 0.999f, 0.25f),
            std::tuple(clamped.CheckMinMax, clamped.MinValue, clamped.MaxValue, sum));
  const TSpectrum octave = SpectrumFromLibrary(octaves, path, 0, sum);  // the fields of bands 2, 5, ..., 29
  EXPECT_EQ(std::string("O") + "31-16000", octave.Kind + std::to_string(octave.fu) + "-" + std::to_string(octave.fo));
  EXPECT_EQ(octave.Values, (std::vector<float>{2, 5, 8, 11, 14, 17, 20, 23, 26, 29}));

  const auto context = [&](int nr) { return "\n\rCould not read spectrum #" + std::to_string(nr) + " from library "; };
  for (const auto& [nr, what] : {std::pair{unfinished, "Spectrum not completed"},
                                  {inverted, "Invalid band range 3..2"}, {tooHigh, "Invalid band range 0..30"}})
    EXPECT_THROW_MSG(SpectrumFromLibrary(nr, path, 0, sum), Exception, "Fatal Error: " + (what + context(nr)) + path);
  // An engine failure keeps its class.
  const std::string missing = dir.File("absor.abs");
  try {
    SpectrumFromLibrary(1, missing, 0, sum);
    ADD_FAILURE() << "no exception";
  } catch (const EDatabaseError& e) {
    const std::string message = e.what();
    EXPECT_TRUE(message.starts_with("Fatal Error: ") && message.ends_with(context(1) + missing)) << message;
  }
}

}  // namespace
}  // namespace vez

#include "emission/SpectrumLibrary.h"

#include <gtest/gtest.h>

#include "TestUtil.h"
#include "core/Exceptions.h"
#include "emission/LibraryFixtures.h"

namespace vez {
namespace {

class SpectrumLibraryTest : public testing::Test {
protected:
  void SetUp() override {
    path_ = test::CreateLibrary(dir_.Path().string(), ltEmis);
    octave_ = test::AppendElement(path_, {0, 9, false, true, 88.5, [](int n) { return n; }});
    third_ = test::AppendElement(path_, {3, 5, true, true, 0.25, [](int n) { return n == 6 ? 1.5 : 0.1 * n; }});
    unfinished_ = test::AppendElement(path_, {0, 9, false, false, 1, nullptr});
    inverted_ = test::AppendElement(path_, {5, 2, true, true, 1, nullptr});
  }
  std::string Context(int nr) const {
    return "\n\rCould not read spectrum #" + std::to_string(nr) + " from library " + path_;
  }

  test::TempDir dir_;
  std::string path_;
  std::int32_t octave_ = 0, third_ = 0, unfinished_ = 0, inverted_ = 0;
};

TEST_F(SpectrumLibraryTest, OctaveRecordReadsEveryThirdField) {
  float sum = -1;
  const TSpectrum s = SpectrumFromLibrary(octave_, path_, 0, sum);
  EXPECT_EQ(sum, 88.5f);
  EXPECT_EQ(s.Nr, octave_);
  EXPECT_EQ(s.Kind, 'O');
  EXPECT_EQ(s.Count, 10);
  EXPECT_EQ(s.fu, 31);
  EXPECT_EQ(s.fo, 16000);
  EXPECT_FALSE(s.CheckMinMax);
  EXPECT_EQ(s.Values, (std::vector<float>{2, 5, 8, 11, 14, 17, 20, 23, 26, 29}));
}

TEST_F(SpectrumLibraryTest, ThirdOctaveRecordClampedInMode1) {
  float sum = 0;
  const TSpectrum plain = SpectrumFromLibrary(third_, path_, 0, sum);
  EXPECT_EQ(plain.Kind, 'T');
  EXPECT_EQ(plain.fu, 50);
  EXPECT_EQ(plain.fo, 80);
  EXPECT_EQ(plain.Values, (std::vector<float>{0.4f, 0.5f, 1.5f}));
  const TSpectrum clamped = SpectrumFromLibrary(third_, path_, 1, sum);
  EXPECT_TRUE(clamped.CheckMinMax);
  EXPECT_EQ(clamped.MaxValue, 0.999f);
  EXPECT_EQ(clamped.Values, (std::vector<float>{0.4f, 0.5f, 0.999f}));
  EXPECT_EQ(sum, 0.25f);
}

TEST_F(SpectrumLibraryTest, FailuresCarryTheReadingContext) {
  float sum = 0;
  EXPECT_THROW_MSG(SpectrumFromLibrary(99, path_, 0, sum), Exception,
                   "Fatal Error: Element not found" + Context(99));
  EXPECT_THROW_MSG(SpectrumFromLibrary(unfinished_, path_, 0, sum), Exception,
                   "Fatal Error: Spectrum not completed" + Context(unfinished_));
  EXPECT_THROW_MSG(SpectrumFromLibrary(inverted_, path_, 0, sum), Exception,
                   "Fatal Error: Invalid band range 5..2" + Context(inverted_));
  // An engine failure keeps its class.
  const std::string missing = dir_.File("absor.abs");
  try {
    SpectrumFromLibrary(1, missing, 0, sum);
    ADD_FAILURE() << "no exception";
  } catch (const EDatabaseError& e) {
    const std::string message = e.what();
    EXPECT_EQ(message.rfind("Fatal Error: ", 0), 0u) << message;
    EXPECT_NE(message.find("\n\rCould not read spectrum #1 from library " + missing), std::string::npos) << message;
  }
}

}  // namespace
}  // namespace vez

#include "acoustics/Fgang.h"

#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <sstream>
#include <vector>

#include "TestUtil.h"
#include "core/Exceptions.h"

namespace vez {
namespace {

std::string Bytes(std::initializer_list<int> bytes) {
  std::string s;
  for (int b : bytes) s += static_cast<char>(b);
  return s;
}

std::string Written(const TSpectrum& s) {
  std::ostringstream out;
  s.WriteToStream(out);
  return out.str();
}

TEST(FgangTest, StreamFormByteForByte) {
  TSpectrum s('T', 3, 100, 160, 0, 1);
  s.Put(1, 0.5f);
  s.Put(2, 2.0f);   // clamped to 1
  s.Put(3, -1.0f);  // clamped to 0
  s.Text = "ab";
  s.Nr = 9;
  const std::string expected = Bytes({0x01,                                         // CheckMinMax
                                      0, 0, 0, 0, 0, 0, 0x80, 0x3F,                 // MinValue 0, MaxValue 1
                                      3, 0, 0, 0,                                   // three values
                                      0, 0, 0, 0x3F, 0, 0, 0x80, 0x3F, 0, 0, 0, 0,  // 0.5, 1, 0
                                      2, 0, 0, 0, 'a', 'b',                         // Text
                                      'T', 3, 100, 0, 160, 0});                     // Kind, Count, fu, fo
  EXPECT_EQ(Written(s), expected);

  TSpectrum back;
  std::istringstream in(expected);
  back.ReadFromStream(in);
  EXPECT_EQ(std::pair(expected, -1), std::pair(Written(back), back.Nr));  // the number is not persisted
  // A stream that ends early or counts negatively fails and leaves the object as it was.
  for (const std::string& bad : {expected.substr(0, expected.size() - 1), Bytes({0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF,
                                                                              0xFF, 0xFF, 0xFF})}) {
    std::istringstream badIn(bad);
    EXPECT_THROW_MSG(back.ReadFromStream(badIn), EInOutError, "Stream read error");
    EXPECT_EQ(back.Text, "ab");
  }
  std::ostringstream failing;
  failing.setstate(std::ios::badbit);
  EXPECT_THROW_MSG(s.WriteToStream(failing), EInOutError, "Stream write error");
  // Without values and text: both counts 0, nothing between them.
  const std::string none = Written(TSpectrum('S', 0, 1000, 1000, 0, 0));
  EXPECT_EQ(Bytes({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 'S', 0, 0xE8, 3, 0xE8, 3}), none);
  // A spectrum made empty: every member 0 but its kind.
  EXPECT_EQ(Bytes({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 'S', 0, 0, 0, 0, 0}), Written(TSpectrum()));
  std::istringstream noneIn(none);
  back.ReadFromStream(noneIn);
  EXPECT_EQ(std::tuple('S', 0, 1000, 1000, false, true),
            std::tuple(back.Kind, int(back.Count), int(back.fu), int(back.fo), back.CheckMinMax,
                       back.Values.empty() && back.Text.empty()));
}

// (The band look-up at every band edge is checked against the band table in BandsTest.)
TEST(FgangTest, BandFrequenciesAndCounts) {
  EXPECT_EQ((std::vector<int>{16000, 0, 20000, 0}), (std::vector<int>{TSpectrum::OktFreq(10), TSpectrum::OktFreq(11),
                                                                     TSpectrum::TerzFreq(30), TSpectrum::TerzFreq(0)}));
  const std::tuple<char, int, int, int> counts[] = {{'O', 63, 8000, 8}, {'T', 100, 200, 4}, {'T', 50, 10000, 24},
                                                    {'T', 0, 500, 28},  {'O', 0, 500, 10},  {'S', 100, 8000, 1},
                                                    {'O', 500, 1500, 3}, {'T', 1000, 1500, 3}};
  for (const auto& [kind, fu, fo, n] : counts) EXPECT_EQ(n, GetAnz(kind, fu, fo)) << kind << fu << "-" << fo;
}

TEST(FgangTest, ValuesByIndexAndFrequency) {
  TSpectrum t('T', 3, 100, 160, 0, 0);  // 0 is not below 0: no clamping
  for (int bad : {0, 4}) {
    EXPECT_THROW_MSG(t.Get(bad), Exception, "Index out of range");
    EXPECT_THROW_MSG(t.Put(bad, 1), Exception, "Index out of range");
  }
  t.Put(1, 7.0f);
  EXPECT_EQ(7.0f, t.Get(1));
  t.Values = {1, 2, 3};
  EXPECT_EQ(1 * 100 + 3 * 10 + 2, t.GetVal(50) * 100 + t.GetVal(10000) * 10 + t.GetVal(130));  // limited to fu..fo
  t.SetVal(10000, 9);  // outside: ignored
  t.SetVal(50, 9);
  t.SetVal(125, 5);
  t.AddVal(160, 0.5f);
  EXPECT_EQ(std::pair(t.Values, 160), std::pair(std::vector<float>{1, 5, 3.5f}, int(t.GetFreq(3))));

  TSpectrum o('O', 4, 500, 4000, 0, 0);
  o.Values = {1, 2, 4, 8, 16};  // one more than Count: not a band
  // Between 600 and 900 Hz no centre: the mean of GetVal(600) and GetVal(900).
  EXPECT_EQ((std::array{3.0f, 1.5f, 15.0f}),
            (std::array{o.GetMean(1000, 2000), o.GetMean(600, 900), float(o.GetSum())}));
  o.Values.resize(3);  // a band beyond the stored values reads 0
  EXPECT_EQ(std::pair(0.0f, 7.0f), std::pair(o.GetVal(4000), float(o.GetSum())));
  TSpectrum one('S', 1, 1000, 1000, 0, 0);
  one.Values = {4};
  EXPECT_EQ(4, one.GetVal(63));
  one.SetVal(1200, 9);  // a single value looks its band up among the third octaves: 1200 Hz is the next band
  one.AddVal(800, 9);
  one.AddVal(1100, 1);
  const float first = one.Values[0];
  one.SetVal(900, 2);
  EXPECT_EQ(std::pair(5.0f, 2.0f), std::pair(first, one.Values[0]));

  TSpectrumList list;
  for (int nr : {1, 5, 5, -1, 0}) list.Items(list.Add(std::make_unique<TSpectrum>())).Nr = nr;
  TSpectrum copy;
  list.Items(1).Text = "copied";
  copy.Assign(&list.Items(1));
  // The first in list order; numbers below 1 are never found; a copy has no number.
  EXPECT_EQ(std::tuple(&list.Items(1), &list.Items(0), nullptr, nullptr, -1, std::string("copied")),
            std::tuple(list.Find(5), list.Find(1), list.Find(-1), list.Find(0), copy.Nr, copy.Text));
  list.Items(1).Assign(&list.Items(1));  // onto itself: only the number goes
  list.Delete(4);
  list.Delete(0);
  EXPECT_THROW_MSG(list.Delete(3), EListError, "List index out of bounds (3)");
  EXPECT_EQ(std::tuple(3, -1, "copied"), std::tuple(list.Count(), list.Items(0).Nr, list.Items(0).Text));
}

TEST(FgangTest, ProtokText) {
  TSpectrum o('O', 3, 500, 2000, 0, 0);
  o.Values = {1, 0, 0.5f};
  // (The plain form is checked end to end by the vezi spectrum tests.)
  std::ostringstream log, single;
  o.Protok(log, true);
  TSpectrum('S', 0, 1000, 1000, 0, 0).Protok(single, false);
  EXPECT_EQ(log.str(),
            "fu =       500 fo =      2000 in Oktaven\n"
            "   500Hz \t   0.00000\n"
            "  1000Hz \t -60.00000\n"
            "  2000Hz \t  -3.01030\n");
  EXPECT_EQ(single.str(), "fu =      1000 fo =      1000 Einzelwert\n");
  std::ostringstream failing;
  failing.setstate(std::ios::badbit);
  EXPECT_THROW_MSG(o.Protok(failing, false), EInOutError, "I/O error 101");
}

}  // namespace
}  // namespace vez

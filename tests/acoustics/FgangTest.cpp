#include "acoustics/Fgang.h"

#include <gtest/gtest.h>

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

// A third-octave spectrum 100..160 Hz clamped to 0..1.
TSpectrum Clamped() {
  TSpectrum s('T', 3, 100, 160, 0, 1);
  s.Put(1, 0.5f);
  s.Put(2, 2.0f);   // clamped to 1
  s.Put(3, -1.0f);  // clamped to 0
  return s;
}

TEST(FgangTest, StreamFormByteForByte) {
  TSpectrum s = Clamped();
  s.Text = "ab";
  s.Nr = 9;
  std::ostringstream out;
  s.WriteToStream(out);
  const std::string expected = Bytes({0x01,                                   // CheckMinMax
                                      0, 0, 0, 0, 0, 0, 0x80, 0x3F,           // MinValue 0, MaxValue 1
                                      3, 0, 0, 0,                             // three values
                                      0, 0, 0, 0x3F, 0, 0, 0x80, 0x3F, 0, 0, 0, 0,  // 0.5, 1, 0
                                      2, 0, 0, 0, 'a', 'b',                   // Text
                                      'T', 3, 100, 0, 160, 0});               // Kind, Count, fu, fo
  EXPECT_EQ(out.str(), expected);

  TSpectrum back;
  std::istringstream in(expected);
  back.ReadFromStream(in);
  EXPECT_TRUE(back.CheckMinMax);
  EXPECT_EQ(back.MinValue, 0.0f);
  EXPECT_EQ(back.MaxValue, 1.0f);
  EXPECT_EQ(back.Values, (std::vector<float>{0.5f, 1.0f, 0.0f}));
  EXPECT_EQ(back.Text, "ab");
  EXPECT_EQ(back.Kind, 'T');
  EXPECT_EQ(back.Count, 3);
  EXPECT_EQ(back.fu, 100);
  EXPECT_EQ(back.fo, 160);
  EXPECT_EQ(back.Nr, -1);  // not persisted

  // Empty values and text: both counts are written, nothing follows them.
  std::ostringstream empty;
  TSpectrum('S', 0, 1000, 1000, 0, 0).WriteToStream(empty);
  EXPECT_EQ(empty.str(), Bytes({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 'S', 0, 0xE8, 0x03, 0xE8, 0x03}));

  // A stream that ends early or counts negatively fails and leaves the object as it was.
  for (const std::string& bad : {expected.substr(0, expected.size() - 1), Bytes({0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF})}) {
    std::istringstream badIn(bad);
    EXPECT_THROW_MSG(back.ReadFromStream(badIn), EInOutError, "Stream read error");
    EXPECT_EQ(back.Text, "ab");
  }
}

TEST(FgangTest, BandLookUpRangesAtEveryEdge) {
  struct Range {
    unsigned lo, hi, band;
  };
  const Range octave[] = {{0, 44, 1},       {45, 90, 2},       {91, 180, 3},      {181, 354, 4},
                          {355, 707, 5},    {708, 1403, 6},    {1404, 2806, 7},   {2807, 5612, 8},
                          {5613, 11313, 9}, {11314, 20000, 10}, {20001, 65535, 1}};
  const Range third[] = {{0, 28, 1},         {29, 35, 2},         {36, 44, 3},         {45, 56, 4},
                         {57, 71, 5},        {72, 90, 6},         {91, 112, 7},        {113, 140, 8},
                         {141, 180, 9},      {181, 224, 10},      {225, 281, 11},      {282, 354, 12},
                         {355, 449, 13},     {450, 561, 14},      {562, 707, 15},      {708, 898, 16},
                         {899, 1122, 17},    {1123, 1403, 18},    {1404, 1796, 19},    {1797, 2245, 20},
                         {2246, 2806, 21},   {2807, 3536, 22},    {3537, 4490, 23},    {4491, 5612, 24},
                         {5613, 7072, 25},   {7073, 8980, 26},    {8981, 11224, 27},   {11225, 14030, 28},
                         {14031, 17959, 29}, {17960, 65000, 30},  {65001, 65535, 1}};
  for (const Range& r : octave) {
    EXPECT_EQ(TSpectrum::OktBandNr(r.lo), r.band) << r.lo;
    EXPECT_EQ(TSpectrum::OktBandNr(r.hi), r.band) << r.hi;
  }
  for (const Range& r : third) {
    EXPECT_EQ(TSpectrum::TerzBandNr(r.lo), r.band) << r.lo;
    EXPECT_EQ(TSpectrum::TerzBandNr(r.hi), r.band) << r.hi;
  }
  EXPECT_EQ(TSpectrum::OktFreq(10), 16000);
  EXPECT_EQ(TSpectrum::OktFreq(11), 0);
  EXPECT_EQ(TSpectrum::TerzFreq(0), 0);
  EXPECT_EQ(TSpectrum::TerzFreq(30), 20000);
}

TEST(FgangTest, GetAnz) {
  EXPECT_EQ(GetAnz('O', 63, 8000), 8);
  EXPECT_EQ(GetAnz('T', 100, 200), 4);
  EXPECT_EQ(GetAnz('T', 50, 10000), 24);
  EXPECT_EQ(GetAnz('T', 0, 500), 28);
  EXPECT_EQ(GetAnz('O', 0, 500), 10);
  EXPECT_EQ(GetAnz('S', 100, 8000), 1);
  EXPECT_EQ(GetAnz('O', 1000, 1000), 1);
}

TEST(FgangTest, ClampingAndIndexedAccess) {
  TSpectrum s = Clamped();
  EXPECT_EQ(s.Get(1), 0.5f);
  EXPECT_EQ(s.Get(2), 1.0f);
  EXPECT_EQ(s.Get(3), 0.0f);
  EXPECT_EQ(s.Nr, -1);
  for (int bad : {0, 4}) {
    EXPECT_THROW_MSG(s.Get(bad), Exception, "Index out of range");
    EXPECT_THROW_MSG(s.Put(bad, 1), Exception, "Index out of range");
  }
  TSpectrum open('T', 3, 100, 160, 0, 0);  // 0 is not below 0: no clamping
  EXPECT_FALSE(open.CheckMinMax);
  open.Put(1, 7.0f);
  EXPECT_EQ(open.Get(1), 7.0f);
  open.Init(-2.0f);
  EXPECT_EQ(open.GetSum(), -6.0f);
}

TEST(FgangTest, ValuesByFrequency) {
  TSpectrum t('T', 3, 100, 160, 0, 0);
  t.Values = {1, 2, 3};
  EXPECT_EQ(t.GetVal(50), 1);      // limited to fu
  EXPECT_EQ(t.GetVal(10000), 3);   // limited to fo
  EXPECT_EQ(t.GetVal(130), 2);
  t.SetVal(10000, 9);  // outside: ignored
  t.SetVal(50, 9);
  EXPECT_EQ(t.Values, (std::vector<float>{1, 2, 3}));
  t.SetVal(125, 5);
  t.AddVal(160, 0.5f);
  EXPECT_EQ(t.Values, (std::vector<float>{1, 5, 3.5f}));
  for (int i = 1; i <= 3; ++i) EXPECT_EQ(t.GetFreq(i), std::vector<int>({100, 125, 160})[i - 1]);

  TSpectrum o('O', 4, 500, 4000, 0, 0);
  o.Values = {1, 2, 4, 8};
  EXPECT_EQ(o.GetMean(1000, 2000), 3);
  EXPECT_EQ(o.GetMean(600, 900), 1.5f);  // no centre there: mean of GetVal(600) = 1 and GetVal(900) = 2
  EXPECT_EQ(o.GetVal(3000), 8);
  o.SetVal(2000, 0);
  EXPECT_EQ(o.Values[2], 0);

  TSpectrum one('S', 1, 1000, 1000, 0, 0);
  one.Values = {4};
  EXPECT_EQ(one.GetVal(63), 4);
  EXPECT_EQ(one.GetFreq(1), 1000);
}

TEST(FgangTest, ProtokText) {
  TSpectrum o('O', 3, 500, 2000, 0, 0);
  o.Values = {1, 0, 0.5f};
  std::ostringstream plain, log;
  o.Protok(plain, false);
  o.Protok(log, true);
  EXPECT_EQ(plain.str(),
            "fu =       500 fo =      2000 in Oktaven\n"
            "   500Hz \t   1.00000\n"
            "  1000Hz \t   0.00000\n"
            "  2000Hz \t   0.50000\n");
  EXPECT_EQ(log.str(),
            "fu =       500 fo =      2000 in Oktaven\n"
            "   500Hz \t   0.00000\n"
            "  1000Hz \t -60.00000\n"
            "  2000Hz \t  -3.01030\n");
  std::ostringstream single;
  TSpectrum('S', 0, 1000, 1000, 0, 0).Protok(single, false);
  EXPECT_EQ(single.str(), "fu =      1000 fo =      1000 Einzelwert\n");

  std::ostringstream failing;
  failing.setstate(std::ios::badbit);
  EXPECT_THROW(o.Protok(failing, false), EInOutError);
}

TEST(FgangTest, AssignAndFind) {
  TSpectrum source = Clamped();
  source.Nr = 5;
  TSpectrum copy;
  copy.Assign(&source);
  EXPECT_EQ(copy.Values, source.Values);
  EXPECT_EQ(copy.Nr, -1);

  TSpectrumList list;
  for (int nr : {3, 5, 5, -1}) {
    list.Add(std::make_unique<TSpectrum>());
    list.Items(list.Count() - 1).Nr = nr;
  }
  EXPECT_EQ(list.Find(5), &list.Items(1));  // the first in list order
  EXPECT_EQ(list.Find(4), nullptr);
  EXPECT_EQ(list.Find(-1), nullptr);  // numbers below 1 are never found
}

}  // namespace
}  // namespace vez

#include "emission/TNMLibrary.h"

#include <gtest/gtest.h>

#include "TestUtil.h"
#include "core/Exceptions.h"
#include "emission/LibraryFixtures.h"

namespace vez {
namespace {

// Constants that differ per pavement and per coefficient, so a field read from the wrong place shows.
TTNMEmisConsts Marked(TPavementType p) {
  TTNMEmisConsts c;
  c.SetTNMConstants(vtHT, p, false);
  c.BaseVT = vtHT;
  for (std::size_t i = 0; i < c.Coefficients.size(); ++i) c.Coefficients[i] += 0.001f * float(i) + 0.1f * float(p);
  return c;
}

TEST(TNMLibraryTest, WrittenRecordReadsBack) {
  test::TempDir dir;
  const std::string path = test::CreateLibrary(dir.Path().string(), ltTNMVeh);
  std::int32_t key = 0;
  {
    TMyTable lib(path, false);
    TABSTable& t = lib.Table();
    t.Open();
    t.Append();
    t.FieldByName("ElementName").SetAsString("Heavy trucks, measured");
    for (TPavementType p : {ptAvg, ptDGAC, ptOGAC, ptPCC}) WriteToDataSet(Marked(p), t);
    t.Post();
    key = t.FieldByName("Eintrag").AsInteger();
  }

  TMyTable lib(path, true);
  for (TPavementType p : {ptAvg, ptDGAC, ptOGAC, ptPCC}) {
    TTNMEmisConsts read;
    ASSERT_TRUE(ReadFromDataBase(read, lib.Table(), key, p));
    const TTNMEmisConsts expected = Marked(p);
    EXPECT_EQ(read.Coefficients, expected.Coefficients) << int(p);
    EXPECT_EQ(read.Pavement, p);
    EXPECT_EQ(read.BaseVT, vtHT);
    EXPECT_EQ(read.Nr, key);
    EXPECT_EQ(read.ElementName, "Heavy trucks, measured");

    // A copy computes what the original computes.
    TTNMEmisConsts copy;
    copy.Assign(read);
    TTNMSpectrum a{}, b{};
    float sumA = 0, sumB = 0;
    read.CalcSumAndSpectrum(ftYes, 88, sumA, a);
    copy.CalcSumAndSpectrum(ftYes, 88, sumB, b);
    EXPECT_EQ(a, b);
    EXPECT_EQ(sumA, sumB);
  }

  TTNMEmisConsts untouched = Marked(ptAvg);
  EXPECT_FALSE(ReadFromDataBase(untouched, lib.Table(), key + 1, ptPCC));
  EXPECT_EQ(untouched.Coefficients, Marked(ptAvg).Coefficients);
  EXPECT_EQ(untouched.Pavement, ptAvg);
}

// A table that has the cruise fields of the average pavement only: reading stops at the first missing field
// with the engine's message, after the fields before it were read.
TEST(TNMLibraryTest, MissingFieldFailsWithTheEngineMessage) {
  test::TempDir dir;
  const std::string path = dir.File("TNMVeh.abs");
  TMyTable lib(path, false);
  TABSTable& t = lib.Table();
  t.FieldDefs().Add("Eintrag", ftAutoInc);
  t.FieldDefs().Add("ElementName", ftString, 40);
  t.FieldDefs().Add("BaseVT", ftInteger);
  for (int c = 0; c < kTNMCoefficientCount; ++c) t.FieldDefs().Add(TNMFieldName(TTNMCoefficient(c), ftNo, ptAvg), ftFloat);
  t.IndexDefs().Add("p", "Eintrag", ixPrimary);
  lib.CreateDBTable();
  t.Open();
  t.Append();
  t.FieldByName("BaseVT").SetAsInteger(vtMC);
  EXPECT_THROW_MSG(WriteToDataSet(Marked(ptAvg), t), EDatabaseError, "Field 'A(FTYes,PTAvg)' not found");
  EXPECT_FLOAT_EQ(float(t.FieldByName("Q(FTNo,PTAvg)").AsFloat()), Marked(ptAvg).Coef(tcQ, ftNo));
  t.Post();

  TTNMEmisConsts read;
  EXPECT_THROW_MSG(ReadFromDataSet(read, t, ptAvg), EDatabaseError, "Field 'A(FTYes,PTAvg)' not found");
  EXPECT_EQ(read.BaseVT, vtHT);  // written by the failed write before it stopped
  EXPECT_EQ(read.Coef(tcQ, ftNo), Marked(ptAvg).Coef(tcQ, ftNo));
  EXPECT_EQ(read.Coef(tcA, ftYes), 0.0f);
}

}  // namespace
}  // namespace vez

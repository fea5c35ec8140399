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
    lib.Table().Open();
    lib.Table().Append();
    lib.Table().FieldByName("ElementName").SetAsString("Heavy trucks, measured");
    for (TPavementType p : {ptAvg, ptDGAC, ptOGAC, ptPCC}) WriteToDataSet(Marked(p), lib.Table());
    lib.Table().Post();
    key = lib.Table().FieldByName("Eintrag").AsInteger();
  }
  TMyTable lib(path, true);
  for (TPavementType p : {ptAvg, ptDGAC, ptOGAC, ptPCC}) {
    TTNMEmisConsts read;
    ASSERT_TRUE(ReadFromDataBase(read, lib.Table(), key, p));
    EXPECT_EQ(std::tuple(Marked(p).Coefficients, p, vtHT, key, std::string("Heavy trucks, measured")),
              std::tuple(read.Coefficients, read.Pavement, read.BaseVT, read.Nr, read.ElementName)) << int(p);
  }
  TTNMEmisConsts untouched = Marked(ptAvg);
  EXPECT_FALSE(ReadFromDataBase(untouched, lib.Table(), key + 1, ptPCC));
  EXPECT_TRUE(untouched.Coefficients == Marked(ptAvg).Coefficients && untouched.Pavement == ptAvg);
}

// A table that has the cruise fields of the average pavement only: reading and writing stop at the first
// missing field with the engine's message, after the fields before it were done.
TEST(TNMLibraryTest, MissingFieldFailsWithTheEngineMessage) {
  test::TempDir dir;
  TMyTable lib(dir.File("TNMVeh.abs"), false);
  TABSTable& t = lib.Table();
  t.FieldDefs().Add("Eintrag", ftAutoInc);
  t.FieldDefs().Add("ElementName", ftString, 40);
  t.FieldDefs().Add("BaseVT", ftInteger);
  for (int c = 0; c < kTNMCoefficientCount; ++c)
    t.FieldDefs().Add(TNMFieldName(TTNMCoefficient(c), ftNo, ptAvg), ftFloat);
  t.IndexDefs().Add("p", "Eintrag", ixPrimary);
  lib.CreateDBTable();
  t.Open();
  t.Append();
  EXPECT_THROW_MSG(WriteToDataSet(Marked(ptAvg), t), EDatabaseError, "Field 'A(FTYes,PTAvg)' not found");
  t.Post();
  TTNMEmisConsts read;
  EXPECT_THROW_MSG(ReadFromDataSet(read, t, ptAvg), EDatabaseError, "Field 'A(FTYes,PTAvg)' not found");
  EXPECT_EQ(read.BaseVT, vtHT);  // written by the failed write before it stopped
  EXPECT_EQ(std::pair(Marked(ptAvg).Coef(tcQ, ftNo), 0.0f), std::pair(read.Coef(tcQ, ftNo), read.Coef(tcA, ftYes)));
}

// The model holds from standstill to 300 km/h; the message names the limits a caller must keep.
TEST(TNMLibraryTest, SpeedOutsideTheModelIsRefused) {
  EXPECT_NO_THROW((CheckTNMSpeed(0), CheckTNMSpeed(300)));
  const std::string refused = "The speed must be a number from 0 to 300 km/h, not ";
  EXPECT_THROW_MSG(CheckTNMSpeed(300.5), EParameterError, refused + "300.5");
  EXPECT_THROW_MSG(CheckTNMSpeed(-0.5), EParameterError, refused + "-0.5");
  EXPECT_THROW_MSG(ParseTNMSpeed("-INF"), EParameterError, refused + "-inf");
  EXPECT_EQ(ParseTNMSpeed(" 1e2 "), 100.0);
}

}  // namespace
}  // namespace vez

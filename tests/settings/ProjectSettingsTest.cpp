#include <sys/stat.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <random>

#include "SettingsTestUtil.h"
#include "TestUtil.h"
#include "core/Exceptions.h"
#include "core/FormatSettings.h"
#include "settings/IniConsts.h"

namespace vez {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;

std::vector<double> GeoValues(const TGeoDBSettings& g) {
  return {g.BldgHeight, g.RelHeightEFH, g.FloorHeight, g.RecFacDist, 1.0 * g.UsageArea};
}
// The hours of a set as 24 characters: 1 for an hour in it, '.' for one not.
std::string HoursText(const THours& h) {
  std::string s;
  for (const bool on : h) s += on ? '1' : '.';
  return s;
}

TEST(ProjectSettingsHourRange, SetBereichAndGetBereich) {
  for (const auto& c : test::DataRows("settings/hour-ranges.txt")) {
    SCOPED_TRACE(c[0] + " \"" + c[1] + "\"");
    THours h;
    for (std::size_t i = 0; i < 24; ++i) h[i] = c[0] == "parse" || c[1][i] == '1';
    EXPECT_TRUE(c[0] != "parse" || (c[2] == "1") == SetBereich(c[1], h));
    EXPECT_EQ(c[0] == "parse" ? c[3] : c[2], c[0] == "parse" ? HoursText(h) : GetBereich(h));
  }

  // Random hour sets survive the round trip, in as few ranges as there are runs (one over midnight at most).
  std::mt19937 rng(20240607);
  for (int n = 0; n < 5000; ++n) {
    THours h{};
    const unsigned bits = rng() & 0xFFFFFFu;
    for (std::size_t i = 0; i < 24; ++i) h[i] = (bits >> i) & 1u;
    const std::string text = GetBereich(h);
    THours back;
    ASSERT_TRUE(SetBereich(text, back)) << text;
    ASSERT_EQ(HoursText(h), HoursText(back)) << text;
    std::size_t runs = 0;  // the hours that start a run, around the clock
    for (std::size_t i = 0; i < 24; ++i) runs += h[i] && !h[(i + 23) % 24] ? 1 : 0;
    ASSERT_EQ(std::max<std::size_t>(runs, 1), std::count(text.begin(), text.end(), ';') + 1u) << text;
  }
}

class ProjectSettings : public ::testing::Test {
protected:
  std::string Folder() const { return dir_.Path().string() + "/"; }
  void WriteProject(const std::string& content) const { WriteFile(Folder() + "Project.tp", content); }
  TempDir dir_;
};

TEST_F(ProjectSettings, MissingFileAndValuesThatDoNotConvertReadAsDefaults) {
  const std::string folder = Folder() + "no such project/";
  TUsages usages;
  ReadUsages(folder, usages);
  TTimeSlices slices;
  ReadTimeSlices(folder, slices);
  std::string text = usages[0].Short + " " + usages[0].Descr + "|" + usages[24].Short + " " + usages[24].Descr + "|";
  for (const TTimeSlice& s : slices) text += s.Ident + " " + std::to_string(s.HourCount) + " ";
  EXPECT_EQ("GI Industrial area|Z7 Additional area|7-19 12 19-23 4 23-7 8 ", text);
  EXPECT_EQ("1111111................1", HoursText(slices[2].Hours));  // 23-7
  EXPECT_EQ(0, ReadStdEnabledState(folder).Count());
  TGraphicsSettings g{TUnitLengthScale::ulsFeet, TGridSeed::gsZeroZero};
  ReadGraphicsSettings(folder, g);  // centimetres, cells from half their size
  EXPECT_TRUE(g.UnitLengthScale == TUnitLengthScale::ulsCm && g.GridSeed == TGridSeed::gsHalfHalf);
  EXPECT_FALSE(std::filesystem::exists(folder));
  EXPECT_EQ("/p/Project.tp|/p/Project.tp|Project.tp",
            ProjectFileName("/p/") + "|" + ProjectFileName("/p") + "|" + ProjectFileName(""));

  // Values in a project file that do not convert fall back on their defaults.
  WriteProject("[graphics]\nUnitLengthScale=257\nGridSeed=x\n[GeoDB]\nbldgheight=12.25\nrelheightEFH=\n"
               "floorheight=3e0\nrecfacdist=abc\nroadhousenoAlignment=bad\nusageArea=nine\n"
               "[EnabledStandards]\n3=1\n4=0\n5=-2\n6=7\n+8=1\n9=1.5\n1 0=1\n11=\n$C=1\n-14=1\n");
  g.GridSeed = TGridSeed::gsZeroZero;
  ReadGraphicsSettings(Folder(), g);
  EXPECT_TRUE(g.UnitLengthScale == TUnitLengthScale::ulsFeet && g.GridSeed == TGridSeed::gsHalfHalf);
  TGeoDBSettings geo;
  geo.RoadHouseNoAlignment = THouseNoRoadAlign::hrRoadHouseNo;
  ReadGeoDBSettings(Folder(), geo);
  EXPECT_EQ((std::vector<double>{12.25, 6, 3, 0.01, 7}), GeoValues(geo));
  EXPECT_EQ(THouseNoRoadAlign::hrHouseNoRoad, geo.RoadHouseNoAlignment);  // an unreadable number reads as 0
  std::string items;
  for (const auto& item : ReadStdEnabledState(Folder())) items += Format("%d=%d ", item.StandardId, int(item.Enabled));
  EXPECT_EQ("3=1 4=0 5=0 6=1 8=1 -14=1 ", items);
}

// (What vezi settings shows of this file is checked end to end by vezi_settings_check.py.)
TEST_F(ProjectSettings, HandMadeProjectFile) {
  const std::string folder = std::string(VEZ_TEST_DATA_DIR) + "/settings";  // no trailing "/"
  DecimalSeparatorScope comma(',');
  TGeoDBSettings geo;
  ReadGeoDBSettings(folder, geo);
  EXPECT_EQ((std::vector<double>{7.5, 6, 2.8, 0.05, 3}), GeoValues(geo));  // "5,5" does not convert
  EXPECT_EQ(',', GlobalFormatSettings().DecimalSeparator);
  TNumberingSettings n;
  n.AlphaPattern = n.DigitPattern = "?";  // not stored: reading sets their fixed values
  ReadNumberingSettings(folder, n);
  EXPECT_EQ("R000 1234 0000 4321 0000 1234 AA 00;",
            n.RecFmtIdent + " " + n.RecSrtIdent + " " + n.SrcFmtIdent + " " + n.SrcSrtIdent + " " + n.PhotoFmtIdent +
                " " + n.PhotoSrtIdent + " " + n.AlphaPattern + " " + n.DigitPattern + n.ListSeparator);
  const auto list = ReadStdEnabledState(folder);
  ASSERT_EQ(3, list.Count());  // "x=1" skipped
  EXPECT_TRUE(!list.GetEnabled(7) && list.GetEnabled(12) && list.GetEnabled(99));  // the first of two decides
  EXPECT_THROW_MSG(list.Items(3), EListError, "List index out of bounds (3)");
}

// A project file that cannot be read (a folder, a pipe) fails the readers without a fallback and every writer;
// the GeoDB reader falls back on its defaults without waiting.
TEST_F(ProjectSettings, UnreadableFileFailsTheUnguardedReadersOnly) {
  for (bool pipe : {false, true}) {
    TempDir dir;
    const std::string folder = dir.Path().string(), file = folder + "/Project.tp";
    ASSERT_TRUE(pipe ? ::mkfifo(file.c_str(), 0600) == 0 : std::filesystem::create_directory(file));
    TGraphicsSettings g;
    EXPECT_THROW(ReadGraphicsSettings(folder, g), EInOutError);
    TUsages u;
    EXPECT_THROW(ReadUsages(folder, u), EInOutError);
    EXPECT_THROW(WriteUsages(folder, u), EInOutError);
    TTimeSlices t;
    EXPECT_THROW(WriteTimeSlices(folder, t), EInOutError);
    DecimalSeparatorScope comma(',');
    TGeoDBSettings geo{1, 2, 3, 4, THouseNoRoadAlign::hrRoadHouseNo, 5};
    ReadGeoDBSettings(folder, geo);
    EXPECT_EQ(6 * 100 + 7, geo.BldgHeight * 100 + geo.UsageArea);
    EXPECT_EQ(THouseNoRoadAlign::hrRoadHouseNo, geo.RoadHouseNoAlignment);  // unchanged
    EXPECT_EQ(',', GlobalFormatSettings().DecimalSeparator);
  }
}

TEST_F(ProjectSettings, UsagesAndTimeSlicesRoundTripAndKeepTheRestOfTheFile) {
  WriteProject("; project of the test\n[graphics]\nUnitLengthScale=1\n");
  TUsages usages;
  ReadUsages(Folder(), usages);
  usages[3].Short = "MI2";
  usages[24].Descr = "Hafen; Kai";
  usages[0].Id = "not written";
  WriteUsages(Folder(), usages);
  TTimeSlices slices;
  ReadTimeSlices(Folder(), slices);
  slices[0].Ident = "6-22";
  slices[0].HourCount = 99;  // only the idents are written
  slices[2].Ident = "22-6";
  WriteTimeSlices(Folder(), slices);

  const std::string content = ReadFile(Folder() + "Project.tp");
  EXPECT_TRUE(content.starts_with("; project of the test\n[graphics]\nUnitLengthScale=1\n\n[usages]\nGI.Short=GI\n"));
  EXPECT_TRUE(content.ends_with("\n[time slices DEN]\nDayIdent=6-22\nEveningIdent=19-23\nNightIdent=22-6\n"));
  TUsages back;
  ReadUsages(Folder(), back);
  for (int i = 0; i < kUsageCount; ++i) EXPECT_EQ(usages[i].Short + usages[i].Descr, back[i].Short + back[i].Descr);
  EXPECT_EQ("", back[0].Id);
  ReadTimeSlices(Folder(), slices);
  EXPECT_EQ(16 * 100 + 8, slices[0].HourCount * 100 + slices[2].HourCount);
}

}  // namespace
}  // namespace vez

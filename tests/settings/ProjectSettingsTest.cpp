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

THours HoursOf(std::initializer_list<int> hours) {
  THours h{};
  for (const int x : hours) h[static_cast<std::size_t>(x)] = true;
  return h;
}

THours HourRange(int from, int to) {  // from..to-1
  THours h{};
  for (int x = from; x < to; ++x) h[static_cast<std::size_t>(x)] = true;
  return h;
}

THours Or(THours a, const THours& b) {
  for (std::size_t i = 0; i < a.size(); ++i) a[i] = a[i] || b[i];
  return a;
}

std::string HoursText(const THours& h) {
  std::string s;
  for (const bool on : h) s += on ? '1' : '.';
  return s;
}

// ---- hour ranges ----

TEST(ProjectSettingsHourRange, SetBereich) {
  struct Case {
    const char* text;
    bool ok;
    THours hours;
  };
  const Case cases[] = {
      {"7-19", true, HourRange(7, 19)},
      {"0-0", true, THours{}},
      {"23-7", true, Or(HoursOf({23}), HourRange(0, 7))},
      {"7-19;19-23", true, HourRange(7, 23)},
      {"0-24", true, HourRange(0, 24)},
      {"24-0", true, THours{}},
      {"5-5", true, THours{}},
      {"22-24;0-6", true, Or(HoursOf({22, 23}), HourRange(0, 6))},
      {"7h-19h", true, HourRange(7, 19)},
      {" 0 7 - 1 9 ", true, HourRange(7, 19)},  // "0 7" reads as 07
      {"7-19-3", true, HourRange(7, 19)},        // b ends at the next "-"
      {"7-25", false, THours{}},
      {"-19", false, THours{}},
      {"h-19", false, THours{}},
      {"7-", false, THours{}},
      {"7", false, THours{}},
      {"", false, THours{}},
      {"7-19;", false, THours{}},
      {"7-19;x", false, THours{}},
      {"1-2;3-99999999999999999999", false, THours{}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    THours h;
    h.fill(true);
    EXPECT_EQ(c.ok, SetBereich(c.text, h));
    EXPECT_EQ(HoursText(c.hours), HoursText(h));
  }
}

TEST(ProjectSettingsHourRange, GetBereich) {
  struct Case {
    THours hours;
    const char* text;
  };
  const Case cases[] = {
      {HourRange(7, 19), "7-19"},
      {Or(HoursOf({23}), HourRange(0, 7)), "23-7"},
      {HourRange(0, 24), "0-24"},
      {Or(HourRange(7, 19), HourRange(20, 22)), "7-19;20-22"},
      {THours{}, "0-0"},
      {HoursOf({0}), "0-1"},
      {HoursOf({23}), "23-24"},
      {HoursOf({0, 23}), "23-1"},
      {Or(Or(HoursOf({0, 1}), HoursOf({5})), HourRange(20, 24)), "20-2;5-6"},
      {HoursOf({1, 3, 5}), "1-2;3-4;5-6"},
      {HourRange(0, 23), "0-23"},
      {HourRange(1, 24), "1-24"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.text, GetBereich(c.hours)) << HoursText(c.hours);
}

TEST(ProjectSettingsHourRange, RandomHourSetsSurviveTheRoundTrip) {
  std::mt19937 rng(20240607);
  for (int n = 0; n < 5000; ++n) {
    THours h{};
    const unsigned bits = rng() & 0xFFFFFFu;
    for (std::size_t i = 0; i < 24; ++i) h[i] = (bits >> i) & 1u;
    const std::string text = GetBereich(h);
    THours back;
    ASSERT_TRUE(SetBereich(text, back)) << text;
    ASSERT_EQ(HoursText(h), HoursText(back)) << text;
    // At most one range reaches over midnight, and only when both ends of the day are on.
    const std::size_t ranges = static_cast<std::size_t>(std::count(text.begin(), text.end(), ';')) + 1;
    std::size_t runs = 0;
    for (std::size_t i = 0; i < 24; ++i) runs += h[i] && (i == 0 || !h[i - 1]) ? 1 : 0;
    if (h[0] && h[23] && runs > 1) --runs;
    EXPECT_EQ(std::max<std::size_t>(runs, 1), ranges) << text;
  }
}

// ---- Project.tp ----

class ProjectSettings : public ::testing::Test {
protected:
  std::string Folder() const { return dir_.Path().string() + "/"; }
  void WriteProject(const std::string& content) const { WriteFile(Folder() + "Project.tp", content); }
  TempDir dir_;
};

TEST_F(ProjectSettings, MissingFileReadsAsDefaults) {
  const std::string folder = Folder() + "no such project/";
  TGraphicsSettings g;
  g.UnitLengthScale = TUnitLengthScale::ulsFeet;
  g.GridSeed = TGridSeed::gsZeroZero;
  ReadGraphicsSettings(folder, g);
  EXPECT_EQ(TUnitLengthScale::ulsCm, g.UnitLengthScale);
  EXPECT_EQ(TGridSeed::gsHalfHalf, g.GridSeed);

  TGeoDBSettings geo{1, 1, 1, 1, THouseNoRoadAlign::hrRoadHouseNo, 1};
  ReadGeoDBSettings(folder, geo);
  EXPECT_DOUBLE_EQ(6, geo.BldgHeight);
  EXPECT_DOUBLE_EQ(6, geo.RelHeightEFH);
  EXPECT_DOUBLE_EQ(2.4, geo.FloorHeight);
  EXPECT_DOUBLE_EQ(0.01, geo.RecFacDist);
  EXPECT_EQ(THouseNoRoadAlign::hrHouseNoRoad, geo.RoadHouseNoAlignment);
  EXPECT_EQ(7, geo.UsageArea);

  TNumberingSettings n{"a", "b", "c", "d", "e", "f", "g", "h", 'i', 'j'};
  ReadNumberingSettings(folder, n);
  EXPECT_EQ((std::vector<std::string>{"0000", "1234", "0000", "1234", "0000", "1234", "AA", "00"}),
            (std::vector<std::string>{n.RecFmtIdent, n.RecSrtIdent, n.SrcFmtIdent, n.SrcSrtIdent, n.PhotoFmtIdent,
                                      n.PhotoSrtIdent, n.AlphaPattern, n.DigitPattern}));
  EXPECT_EQ(';', n.ListSeparator);
  EXPECT_EQ('\0', n.ExtraFlag);

  TUsages usages;
  ReadUsages(folder, usages);
  for (int i = 0; i < kUsageCount; ++i) {
    EXPECT_EQ(UsageIds[i], usages[i].Short);
    EXPECT_EQ(UsageDescrs[i], usages[i].Descr);
  }
  EXPECT_EQ("Industrial area", usages[0].Descr);
  EXPECT_EQ("Campgrounds", usages[17].Descr);
  for (int i = 18; i < kUsageCount; ++i) {
    EXPECT_EQ("Z" + std::to_string(i - 17), usages[i].Short);
    EXPECT_EQ("Additional area", usages[i].Descr);
  }

  TTimeSlices slices;
  ReadTimeSlices(folder, slices);
  EXPECT_EQ("7-19", slices[0].Ident);
  EXPECT_EQ(12, slices[0].HourCount);
  EXPECT_EQ("19-23", slices[1].Ident);
  EXPECT_EQ(4, slices[1].HourCount);
  EXPECT_EQ("23-7", slices[2].Ident);
  EXPECT_EQ(8, slices[2].HourCount);
  EXPECT_EQ(HoursText(Or(HoursOf({23}), HourRange(0, 7))), HoursText(slices[2].Hours));

  EXPECT_EQ(0, ReadStdEnabledState(folder).Count());
  EXPECT_FALSE(std::filesystem::exists(folder));
}

TEST_F(ProjectSettings, HandMadeProjectFile) {
  const std::string folder = std::string(VEZ_TEST_DATA_DIR) + "/settings";  // no trailing "/"
  DecimalSeparatorScope comma(',');
  TGraphicsSettings g;
  ReadGraphicsSettings(folder, g);
  EXPECT_EQ(TUnitLengthScale::ulsFeet, g.UnitLengthScale);
  EXPECT_EQ(TGridSeed::gsZeroZero, g.GridSeed);

  TGeoDBSettings geo;
  ReadGeoDBSettings(folder, geo);
  EXPECT_EQ(',', GlobalFormatSettings().DecimalSeparator);
  EXPECT_DOUBLE_EQ(7.5, geo.BldgHeight);
  EXPECT_DOUBLE_EQ(6, geo.RelHeightEFH);  // "5,5" does not convert
  EXPECT_DOUBLE_EQ(2.8, geo.FloorHeight);
  EXPECT_DOUBLE_EQ(0.05, geo.RecFacDist);
  EXPECT_EQ(THouseNoRoadAlign::hrRoadHouseNo, geo.RoadHouseNoAlignment);
  EXPECT_EQ(3, geo.UsageArea);

  TNumberingSettings n;
  ReadNumberingSettings(folder, n);
  EXPECT_EQ("R000", n.RecFmtIdent);
  EXPECT_EQ("4321", n.SrcSrtIdent);
  EXPECT_EQ("1234", n.RecSrtIdent);

  TUsages usages;
  ReadUsages(folder, usages);
  EXPECT_EQ("GIn", usages[0].Short);
  EXPECT_EQ("Industriegebiet", usages[0].Descr);
  EXPECT_EQ("Z3", usages[20].Short);
  EXPECT_EQ("Sondergebiet Hafen", usages[20].Descr);

  TTimeSlices slices;
  ReadTimeSlices(folder, slices);
  EXPECT_EQ(16, slices[0].HourCount);
  EXPECT_EQ("bad", slices[1].Ident);
  EXPECT_EQ(0, slices[1].HourCount);
  EXPECT_EQ(HoursText(THours{}), HoursText(slices[1].Hours));
  EXPECT_EQ(8, slices[2].HourCount);

  const auto list = ReadStdEnabledState(folder);
  ASSERT_EQ(3, list.Count());  // "x=1" skipped
  EXPECT_EQ(12, list.Items(0).StandardId);
  EXPECT_TRUE(list.Items(0).Enabled);
  EXPECT_FALSE(list.GetEnabled(7));
  EXPECT_TRUE(list.GetEnabled(12));  // the first of two items decides
  EXPECT_TRUE(list.GetEnabled(99));  // not listed
  EXPECT_THROW_MSG(list.Items(3), EListError, "List index out of bounds (3)");
}

TEST_F(ProjectSettings, GraphicsAndGeoDBKeepTheLowByteAndFallBack) {
  WriteProject(
      "[graphics]\nUnitLengthScale=257\nGridSeed=x\n"
      "[GeoDB]\nbldgheight=12.25\nrelheightEFH=\nfloorheight=3e0\nrecfacdist=abc\nroadhousenoAlignment=bad\n"
      "usageArea=nine\n");
  TGraphicsSettings g;
  g.GridSeed = TGridSeed::gsZeroZero;
  ReadGraphicsSettings(Folder(), g);
  EXPECT_EQ(TUnitLengthScale::ulsFeet, g.UnitLengthScale);
  EXPECT_EQ(TGridSeed::gsHalfHalf, g.GridSeed);

  TGeoDBSettings geo;
  geo.RoadHouseNoAlignment = THouseNoRoadAlign::hrRoadHouseNo;
  ReadGeoDBSettings(Folder(), geo);
  EXPECT_DOUBLE_EQ(12.25, geo.BldgHeight);
  EXPECT_DOUBLE_EQ(6, geo.RelHeightEFH);
  EXPECT_DOUBLE_EQ(3, geo.FloorHeight);
  EXPECT_DOUBLE_EQ(0.01, geo.RecFacDist);
  EXPECT_EQ(THouseNoRoadAlign::hrHouseNoRoad, geo.RoadHouseNoAlignment);  // an unreadable number reads as 0
  EXPECT_EQ(7, geo.UsageArea);
}

TEST_F(ProjectSettings, UnreadableFileFailsTheUnguardedReadersOnly) {
  std::filesystem::create_directory(Folder() + "Project.tp");
  TGraphicsSettings g;
  EXPECT_THROW(ReadGraphicsSettings(Folder(), g), EInOutError);
  TNumberingSettings n;
  EXPECT_THROW(ReadNumberingSettings(Folder(), n), EInOutError);
  TUsages u;
  EXPECT_THROW(ReadUsages(Folder(), u), EInOutError);
  EXPECT_THROW(WriteUsages(Folder(), u), EInOutError);
  TTimeSlices t;
  EXPECT_THROW(WriteTimeSlices(Folder(), t), EInOutError);

  DecimalSeparatorScope comma(',');
  TGeoDBSettings geo{1, 2, 3, 4, THouseNoRoadAlign::hrRoadHouseNo, 5};
  ReadGeoDBSettings(Folder(), geo);
  EXPECT_DOUBLE_EQ(6, geo.BldgHeight);
  EXPECT_DOUBLE_EQ(0.01, geo.RecFacDist);
  EXPECT_EQ(THouseNoRoadAlign::hrRoadHouseNo, geo.RoadHouseNoAlignment);  // unchanged
  EXPECT_EQ(7, geo.UsageArea);
  EXPECT_EQ(',', GlobalFormatSettings().DecimalSeparator);
}

TEST_F(ProjectSettings, APipeAsProjectFileGivesTheDefaultsWithoutWaiting) {
  ASSERT_EQ(0, ::mkfifo((Folder() + "Project.tp").c_str(), 0600));
  TGeoDBSettings geo{1, 2, 3, 4, THouseNoRoadAlign::hrRoadHouseNo, 5};
  ReadGeoDBSettings(Folder(), geo);
  EXPECT_DOUBLE_EQ(6, geo.BldgHeight);
  EXPECT_EQ(7, geo.UsageArea);
  TUsages u;
  EXPECT_THROW(ReadUsages(Folder(), u), EInOutError);
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
  EXPECT_EQ(0u, content.find("; project of the test\n[graphics]\nUnitLengthScale=1\n\n[usages]\nGI.Short=GI\n"));
  EXPECT_NE(std::string::npos,
            content.find("\n[time slices DEN]\nDayIdent=6-22\nEveningIdent=19-23\nNightIdent=22-6\n"));
  EXPECT_EQ(std::string::npos, content.find("99"));

  TUsages back;
  ReadUsages(Folder(), back);
  for (int i = 0; i < kUsageCount; ++i) {
    EXPECT_EQ(usages[i].Short, back[i].Short) << i;
    EXPECT_EQ(usages[i].Descr, back[i].Descr) << i;
  }
  EXPECT_EQ("", back[0].Id);
  TTimeSlices slicesBack;
  ReadTimeSlices(Folder(), slicesBack);
  EXPECT_EQ(16, slicesBack[0].HourCount);
  EXPECT_EQ(8, slicesBack[2].HourCount);
  TGraphicsSettings g;
  ReadGraphicsSettings(Folder(), g);
  EXPECT_EQ(TUnitLengthScale::ulsFeet, g.UnitLengthScale);
}

TEST_F(ProjectSettings, EnabledStandardsSkipPairsThatAreNoNumbers) {
  WriteProject("[EnabledStandards]\n3=1\n4=0\n5=-2\n6=7\n+8=1\n9=1.5\n1 0=1\n11=\n$C=1\n-14=1\n");
  const auto list = ReadStdEnabledState(Folder());
  std::vector<std::pair<std::int32_t, bool>> items;
  for (const auto& item : list) items.emplace_back(item.StandardId, item.Enabled);
  const std::vector<std::pair<std::int32_t, bool>> expected = {
      {3, true}, {4, false}, {5, false}, {6, true}, {8, true}, {-14, true}};
  EXPECT_EQ(expected, items);
}

TEST(ProjectSettingsFileName, AppendsTheFileName) {
  EXPECT_EQ("/p/Project.tp", ProjectFileName("/p/"));
  EXPECT_EQ("/p/Project.tp", ProjectFileName("/p"));
  EXPECT_EQ("Project.tp", ProjectFileName(""));
}

}  // namespace
}  // namespace vez

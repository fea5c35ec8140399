// The library type registry: file names, their patterns and the train and vehicle key fields.
#include <gtest/gtest.h>

#include "librarydb/OVLibConst.h"

namespace vez {
namespace {

TEST(Registry, LibNameAndRegLibName) {
  struct Case {
    std::int32_t code;
    const char* name;
    const char* reg;
  };
  const Case cases[] = {
      {0, "emis.abs", "emis."},          {4, "Assess.abs", "Assess."},    {17, "Profiles.abs", "Profiles."},
      {18, "", ""},                      {19, "", ""},                    {20, "TS03.abs", "TS03."},
      {41, "RREC????.abs", "RREC????."}, {60, "RPG[SDIP]????.abs", "RPG[SDIP]????."},
      {72, "RMPA????.abs", "RMPA????."}, {73, "", ""},                    {79, "", ""},
      {80, "*.runx", "*.r"},             {84, "*.sdbx", "*.s"},           {85, "Addresses.abs", "Addresses."},
      {86, "", ""},                      {89, "", ""},                    {90, "TCRN.abs", "TCRN."},
      {103, "TSFRA2005.abs", "TSFRA2005."}, {104, "", ""},                {-1, "", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(LibName(c.code), c.name) << c.code;
    EXPECT_EQ(RegLibName(c.code), c.reg) << c.code;
  }
  int assigned = 0;
  for (std::int32_t code = 0; code < kLibTypeCount; ++code) assigned += LibName(code).empty() ? 0 : 1;
  EXPECT_EQ(assigned, 104 - 13);
}

TEST(Registry, GetLibType) {
  struct Case {
    const char* file;
    std::int32_t code;
  };
  const Case cases[] = {
      {"emis.abs", 0},          {"EMIS.ABS", 0},           {"emis.abs.bak", -1},     {"Atten.abs", 3},
      {"RREC12.abs", -1},       {"RRECabcd.abs", 41},      {"RREC0001.abs", 41},     {"RPGS0001.abs", 60},
      {"rpgp0001.abs", 60},     {"RPGX0001.abs", -1},      {"RPFD0001.abs", 61},     {"RFLG0001.tabs", 94},
      {"RREC0001.TABS", 41},    {"emis.tabs", -1},         {"x.runx", 80},           {"/some/dir/x.runx", 80},
      {"a.sdbx", 84},           {"/some/dir/emis.abs", -1}, {"", -1},                {"VehCatFRA2005.abs", 102},
      {"geoDBObjExt_.abs", 81}, {"Riwi3d.abs", 7},         {"Riwi.abs", 6},
  };
  for (const Case& c : cases) EXPECT_EQ(GetLibType(c.file), c.code) << c.file;
  // Every assigned name of a fixed file name maps back to its code.
  for (std::int32_t code = 0; code < kLibTypeCount; ++code) {
    const std::string name = LibName(code);
    if (!name.empty() && name.find_first_of("*?[") == std::string::npos) {
      EXPECT_EQ(GetLibType(name), code) << name;
    }
  }
}

TEST(Registry, KeyAndNameFields) {
  struct Case {
    std::int32_t code;
    const char* idx;
    const char* name;
  };
  const Case cases[] = {
      {20, "ZugArt", "Name"},     {23, "ZugArt", "Name"},           {28, "ZugArt", "Name"},
      {21, "TrainIdx", "TrainName"}, {22, "TrainNo", "Name"},       {25, "TrainType", "TrainName"},
      {33, "No", "Name"},         {91, "No", "Name"},               {90, "TrainType", "TrainName"},
      {92, "TrainNo", "Type"},    {101, "Eintrag", "ElementName"},  {103, "Eintrag", "ElementName"},
      {0, "TrainType", "Name"},   {24, "TrainType", "Name"},        {102, "TrainType", "Name"},
      {-5, "TrainType", "Name"},  {500, "TrainType", "Name"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IdxFieldName(c.code), c.idx) << c.code;
    EXPECT_EQ(NameFieldName(c.code), c.name) << c.code;
  }
}

// The constant names follow the codes: a name exactly for the assigned codes.
TEST(Registry, ConstantNames) {
  for (std::int32_t code = -2; code <= 105; ++code)
    EXPECT_EQ(!LibName(code).empty(), LibTypeConstantName(code) != nullptr) << code;
}

}  // namespace
}  // namespace vez

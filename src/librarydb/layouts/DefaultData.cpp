// The values a new record of each library type starts with, in the order they are assigned.
#include "librarydb/layouts/DefaultRows.h"

namespace vez::detail {
namespace {

using S = Setter;

constexpr DefaultRow kNowAsText = SetFrom("LastChangeDateTime", Source::NowAsText, S::Text);
constexpr DefaultRow kNowDateTime = SetFrom("LastChangeDateTime", Source::Now, S::DateTime);
constexpr DefaultRow kNowValue = SetFrom("LastChangeDateTime", Source::Now, S::Value);

// ---- acoustic elements; transmission and attenuation add their own rows ----

constexpr DefaultRow kEmis[] = {
    Set("KennChar1", Str(" ")),
    Set("KennChar2", Str("A")),
    Set("Terz", Bool(true)),
    Set("Lower", Int(0)),
    Set("Upper", Int(29)),
    Set("Values0", Int(-199)),
    Set("Komplett", Bool(false)),
    SetRun("Values", 1, 30, Int(-199)),
    SetRun("Gruppen", 1, 4, Int(0)),
    Set("RiwiArt", Int(0)),
    Set("OneForAll", Int(1)),
    kNowAsText,
};

constexpr DefaultRow kTrans[] = {
    Set("KennChar1", Str(" ")),
    Set("KennChar2", Str("A")),
    Set("Terz", Bool(true)),
    Set("Lower", Int(0)),
    Set("Upper", Int(29)),
    Set("Values0", Int(-199)),
    Set("Komplett", Bool(false)),
    SetRun("Values", 1, 30, Int(-199)),
    Set("C", Int(-199)),
    Set("Ctr", Int(-199)),
    Set("SingleValue", Bool(false)),
    SetRun("Gruppen", 1, 4, Int(0)),
    Set("RiwiArt", Int(0)),
    Set("OneForAll", Int(1)),
    kNowAsText,
};

// Attenuation elements carry costs as their first characteristic value.
constexpr DefaultRow kAtten[] = {
    Set("KennChar1", Str(" ")),
    Set("KennChar2", Str("A")),
    Set("Terz", Bool(true)),
    Set("Lower", Int(0)),
    Set("Upper", Int(29)),
    Set("Values0", Int(-199)),
    Set("Komplett", Bool(false)),
    SetRun("Values", 1, 30, Int(-199)),
    SetRun("Gruppen", 1, 4, Int(0)),
    Set("KennNames1", Str("Costs")),
    Set("RiwiArt", Int(0)),
    Set("OneForAll", Int(1)),
    kNowAsText,
};

// ---- time variation, directivity, wind ----

// Older time libraries have no "DisplayValue"; for them it is skipped.
constexpr DefaultRow kTime[] = {
    SetRun("Values", 1, 24, Int(100)),
    Set("Values0", Int(100)),
    Set("Einheit", Int(3)).Via(S::Integer),
    kNowDateTime,
    Set("DisplayValue", Str("0.00")).Via(S::Text).IfPresent(),
};

constexpr DefaultRow kRiwi[] = {
    Set("Values0", Int(-199)),
    SetInTurn(1, 36, {"Winkel", Int(400)}, {"Values", Int(-199)}),
    Set("Komplett", Bool(false)),
    kNowDateTime,
};

constexpr DefaultRow kRiwi3d[] = {
    SetRun("Winkelxy", 0, 35, Int(-199)),
    SetRun("Winkelyz", 0, 18, Int(-199)),
    SetZeroBlob("Values", 2736),
    Set("Komplett", Bool(false)),
    kNowDateTime,
};

constexpr DefaultRow kWind[] = {
    SetInTurn(1, 12, {"Percentage", Int(0)}, {"Speed", Int(0)}, {"C0", Int(0)}),
    Set("Percentage0", Int(100)),
    kNowDateTime,
};

// ---- pollutants ----

constexpr DefaultRow kStoffe[] = {
    Set("NOx", Bool(false)).Via(S::Boolean),
    Set("Sedimentation", Num(0.0)).Via(S::Float),
    Set("Deposition", Num(0.0)).Via(S::Float),
    Set("Kornfraktion", Int(0)).Via(S::Integer),
    Set("Limit_Mean", Num(0.0)).Via(S::Float),
    Set("Perc", Num(98.0)).Via(S::Float),
    Set("FromDayMean", Bool(false)).Via(S::Boolean),
    Set("Limit_Perc", Num(0.0)).Via(S::Float),
    Set("Limit_Scent", Num(0.0)).Via(S::Float),
    kNowAsText,
};

// ---- road traffic ----

constexpr DefaultRow kTraffic[] = {
    kNowValue,
    Set("DisplayValue", Str("0.00")).Via(S::Text),
    Set("UseAsIs", Bool(false)).Via(S::Boolean),
    Set("StdLibType", Int(0)).Via(S::Integer),
};

constexpr DefaultRow kN2kTraf[] = {
    kNowValue,
    Set("DisplayValue", Str("0.00")).Via(S::Text),
    Set("UseAsIs", Bool(false)).Via(S::Boolean),
};

// ---- trains ----

constexpr DefaultRow kTS03[] = {
    Set("SBA", Int(100)), Set("Vmax", Int(100)), Set("Lzug", Int(200)), Set("DFz", Int(0)), Set("DAo", Int(0)),
};

constexpr DefaultRow kTRMR2002[] = {Set("Vc", Int(100)), Set("TrainCategory", Str("1"))};

constexpr DefaultRow kTN2KRail[] = {
    Set("H1", Int(1)), Set("H2", Int(35)), Set("H3", Int(70)), Set("H4", Int(0)), Set("ftr", Int(0)),
};

constexpr DefaultRow kTTrapid[] = {
    Set("Vmax", Int(400)), Set("Lzug", Int(200)), Set("DFzme", Int(0)), Set("DFzae", Int(0)),
};

constexpr DefaultRow kTHURail[] = {
    Set("A[dB]", Int(57)),    Set("B[dB]", Int(0)),   Set("l[m]", Int(200)),     Set("lref[m]", Int(200)),
    Set("v[km/h]", Int(100)), Set("p[%]", Int(100)), Set("Kklow[dB]", Int(5)), Set("Kkhigh[dB]", Int(2)),
};

constexpr DefaultRow kTSVBUSch[] = {
    Set("SBA", Int(100)), Set("Vmax", Int(100)), Set("Lzug", Int(200)), Set("DFz", Int(0)),
};

constexpr DefaultRow kTIsraeliRail[] = {
    Set("Locomotive", Bool(false)).Via(S::Boolean),
    Set("Lpref", Int(0)),
    Set("Cv", Int(0)),
    Set("Vref", Int(60)),
    Set("CrUnwelded", Int(5)),
};

constexpr DefaultRow kTSSNCF[] = {Set("Vmax", Num(100.0)).Via(S::Float)};

constexpr DefaultRow kTSemibel[] = {
    Set("A", Num(3.0)).Via(S::Float), Set("B", Num(25.0)).Via(S::Float), Set("L", Num(18.0)).Via(S::Float),
};

constexpr DefaultRow kTCRN[] = {Set("Speed", Int(100)), Set("Correction", Num(14.8)), Set("EmissionType", Int(1))};

constexpr DefaultRow kTJapRail[] = {
    Set("PWLa_Ballast", Num(95.5)), Set("PWLa_Concrete", Num(100.5)), Set("PWLc", Int(82)),
    Set("GearRatio", Int(5)),       Set("FanType", Int(0)),           Set("PWLb_Concrete", Int(53)),
    Set("PWLb_Ballast", Int(48)),
};

// ---- meteorology ----

constexpr DefaultRow kMeteoStat[] = {
    Set("RawDataVersion", Int(2)),
    Set("AnemometerHeight", Int(10)),
    Set("TCType", Int(0)),
    Set("TCStep", Int(1)),
    Set("TCLower", Int(1)),
    Set("TCCount", Int(5)),
    Set("SectorCount", Int(36)),
    Set("FirstSector", Int(0)),
    Set("CalmenType", Int(0)),
    Set("Calmen", Int(0)),
    Set("SpeedCType", Int(1)),
    Set("SCLower", Int(1)),
    Set("SCStep", Int(1)),
    Set("SCCount", Int(5)),
    Set("PartitionWD", Int(36)),
    Set("FirstPartition", Int(0)),
    Set("UnitSpeed", Int(0)),
    Set("UnitTemperatur", Int(0)),
    Set("OrgTCType", Int(-1)),
    Set("Roughness", Int(0)),
    Set("TimeCorrection", Int(0)),
    Set("DSTOffset", Int(0)),
    Set("StoffName", Str("")),
    Set("StoffName2", Str("")),
    Set("WindRoseTitleDefault", Bool(true)),
    Set("WindHistogramTitleDefault", Bool(true)),
    Set("PollutantTitleDefault", Bool(true)),
};

constexpr DefaultRow kN2kWeather[] = {
    Set("AirPressure/mbar", Num(1013.25)).Via(S::Float),
    Set("z0/m", Num(0.025)).Via(S::Float),
    Set("sigmadtdz", Num(0.0)).Via(S::Float),
    Set("sigmau", Num(0.0)).Via(S::Float),
    Set("Cw2", Num(0.12)).Via(S::Float),
    Set("Ct2", Num(0.008)).Via(S::Float),
    kNowDateTime,
};

constexpr DefaultRow kN2kWind[] = {kNowDateTime};

// ---- courses of the air-pollution sources ----

constexpr DefaultRow kTgLuft[] = {
    Set("Description", Str("")).Via(S::Text),
    SetRun("Value", 1, 24, Int(0)),
    kNowDateTime,
};

constexpr DefaultRow kWgLuft[] = {SetRun("Value", 1, 7, Int(0)), kNowDateTime};

constexpr DefaultRow kJgLuft[] = {
    SetFrom("Jahr", Source::CurrentYear, S::Integer),
    SetFrom("Schaltjahr", Source::CurrentYearLeap, S::Boolean),
    Set("Einheit", Int(0)).Via(S::Integer),
    kNowDateTime,
};

struct TypeDefaults {
  std::int32_t code;
  std::span<const DefaultRow> rows;  // empty: the type starts with no defaults
};

constexpr TypeDefaults kDefaults[] = {
    {0, kEmis},       {1, kEmis},         {2, kTrans},     {3, kAtten},       {4, {}},           {5, kTime},
    {6, kRiwi},       {7, kRiwi3d},       {8, kWind},      {9, kStoffe},      {11, kTraffic},    {12, {}},
    {13, {}},         {14, {}},           {15, {}},        {16, kN2kTraf},    {20, kTS03},       {21, kTRMR2002},
    {22, kTN2KRail},  {23, kTTrapid},     {24, kTHURail},  {25, {}},          {26, {}},          {27, kMeteoStat},
    {28, kTSVBUSch},  {29, kN2kWeather},  {30, kTIsraeliRail}, {31, kN2kWind}, {32, kTSSNCF},   {33, kTSemibel},
    {90, kTCRN},      {91, kTJapRail},    {92, {}},        {96, {}},          {97, kTgLuft},     {98, kWgLuft},
    {99, kJgLuft},    {100, {}},          {101, {}},       {102, {}},         {103, {}},
};

}  // namespace

std::span<const DefaultRow> FindDefaultRows(std::int32_t libType, bool& found) {
  for (const TypeDefaults& entry : kDefaults) {
    if (entry.code == libType) {
      found = true;
      return entry.rows;
    }
  }
  found = false;
  return {};
}

}  // namespace vez::detail

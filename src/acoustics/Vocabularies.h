// The vocabularies of the calculation standards the suite supports: which road-traffic standard a traffic
// record belongs to, the vehicle classes of each standard, the Nord2000 vehicle, road-surface and
// driving-condition categories, the railway source types of Schall 03 (2006) and of the FRA high-speed rail
// guidance (2005), assessment level types, the Nord2000 weather classes and a few yes/no texts.
//
// Two kinds of tables live here:
// - plain tables whose strings are names stored in libraries or field names (StdLibTypeStr, PTstr, FTStr) and
//   numeric tables (N2kWeatherA/B): constexpr data, indexed 0-based in enumeration order;
// - display texts, which a program may translate. They form one table, TVocabularyTexts, whose English
//   defaults DefaultVocabularyTexts() gives. A program that shows another language passes its table to
//   SetVocabularyTexts before anything reads a display text; the first read fixes the table for the life of
//   the process, and a later replacement throws. We chose this over replacing at any time so that a
//   reference to a text stays valid for as long as the program runs. Reading is thread-safe; replacing is
//   meant for program start-up.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "core/StringList.h"

namespace vez {

// ---- enumerations (ordinals from 0 unless stated) ----

// Standard a traffic library record belongs to; stored as an integer in the field "StdLibType".
enum TStdLibType : std::uint8_t {
  sltRLS90,
  sltRVS302,
  sltLightHeavy,
  sltASJ_2003,
  sltN2k,
  slthuRoad,
  sltTNM,
  sltNord2000,
  sltASJ_2008,
};

enum TAssessmentType : std::uint8_t {
  atLeq,
  atLmaxRoad,
  atLmaxRail,
  atLmaxIndustry,
  atLmaxAircraft,
  atL10_18h_Motorways,
  atL10_18h_NoneMotorways,
  atNATAircraft,
  atAwakeningAircraft,
};

// TNM vehicle types: automobiles, medium trucks, heavy trucks, buses, motorcycles.
enum TBaseVehType : std::uint8_t { vtAu, vtMT, vtHT, vtBus, vtMC };
// TNM pavements: average, dense-graded asphaltic concrete, open-graded asphaltic concrete, Portland cement
// concrete.
enum TPavementType : std::uint8_t { ptAvg, ptDGAC, ptOGAC, ptPCC };
enum TFullThrottle : std::uint8_t { ftNo, ftYes };

enum TEmissionTypeCRN : std::uint8_t { etNotDefined, etNormal, etDieselfP, etEURORolling, etEUROFan };
enum TTrainTypesSchall03_2006 : std::uint8_t { ttRegular, ttStreetCar };
enum TVehicleTypesFRA2005 : std::uint8_t { vtEngine, vtCoach };
enum TTrainTypesFRA2005 : std::uint8_t {
  ttHSElectric,
  ttHSFossilFuel,
  ttHSEMU,
  ttVHSElectric,
  ttMagLev,
  ttConvFreight,
  ttConvPassenger,
};
enum TSubsourceTypesFRA2005 : std::uint8_t {
  sstPropulsion,
  sstWheelRail,
  sstGuidewayStructural,
  sstAeroTrainNose,
  sstAeroWheelRegion,
  sstAeroPantograph,
  sstAeroTBC,
  sstHorn,
};
// Directivity of a source: none, two-dimensional, three-dimensional.
enum TRiwiart : std::uint8_t { raNone, ra2D, ra3D };
enum TRiwiStatus : std::uint8_t { rsNoneAssigned, rsNotFreqDependent, rsFreqDependent };
// The three Nord2000 (2005) main vehicle categories, numbered 1 to 3 (the value names are ours).
enum TMainVehTypeN2k2005 : std::uint8_t { mvN2kLight = 1, mvN2kMediumHeavy = 2, mvN2kHeavy = 3 };

// ---- plain constant tables ----

inline constexpr std::array<std::string_view, 9> StdLibTypeStr{
    "RLS90; DIN18005; CRTN; StL85/96/97", "RVS 3.02/4.02", "Guide du Bruit; RTN96", "ASJ-RTN-2003",
    "Nord 2000 Road", "Hungarian Road", "TNM", "Nord 2000 Road (2006)", "ASJ-RTN-2008"};

// Words of the TNM vehicle library's field names, by TPavementType and TFullThrottle.
inline constexpr std::array<std::string_view, 4> PTstr{"Avg", "DGAC", "OGAC", "PCC"};
inline constexpr std::array<std::string_view, 2> FTStr{"No", "Yes"};

namespace detail {
constexpr std::array<float, 25> N2kWeatherTable(bool a) {
  constexpr float kA[5] = {-1.0f, -0.4f, 0.0f, 0.4f, 1.0f};
  constexpr float kB[5] = {-0.12f, -0.04f, 0.0f, 0.04f, 0.12f};
  std::array<float, 25> t{};
  for (int i = 0; i < 5; ++i)
    for (int j = 0; j < 5; ++j) t[static_cast<std::size_t>(5 * i + j)] = a ? kA[i] : kB[j];
  return t;
}
}  // namespace detail

// The A and B coefficients of the 25 Nord2000 weather classes; class k = 5*i + j (i, j = 0..4) has
// A = (-1, -0.4, 0, 0.4, 1)[i] and B = (-0.12, -0.04, 0, 0.04, 0.12)[j].
inline constexpr std::array<float, 25> N2kWeatherA = detail::N2kWeatherTable(true);
inline constexpr std::array<float, 25> N2kWeatherB = detail::N2kWeatherTable(false);

// Codes of the Nord2000 category lists, in list order: ten times the category number plus the letter's
// position (a = 1, b = 2, ...); a heading without letter has ten times its number.
inline constexpr std::array<std::int32_t, 13> VCItemCodes{10, 11, 12, 20, 21, 22, 30, 31, 32, 33, 34, 40, 50};
inline constexpr std::array<std::int32_t, 17> RCItemCodes{11, 12, 21, 22, 31, 32, 33, 34, 41,
                                                          42, 51, 52, 61, 62, 63, 70, 80};
inline constexpr std::array<std::int32_t, 8> DCItemCodes{10, 20, 30, 40, 50, 60, 61, 62};

// ---- translatable display texts ----

// Every display text of the vocabularies. The vehicle class lists hold the classes only; the texts shown
// (VehTypesRLS90() ...) end with Total, the column of all vehicles together. VehTypesN2k() is made from the
// ten subclass entries of VCItems (not the headings 1, 2, 3) and Total.
struct TVocabularyTexts {
  std::array<std::string, 9> AtArray;  // by TAssessmentType
  std::array<std::string, 2> VehTypesRLS90;
  std::array<std::string, 5> VehTypesRVS302;
  std::array<std::string, 2> VehTypesLightHeavy;
  std::array<std::string, 4> VehTypesASJ2003;
  std::array<std::string, 5> VehTypesASJ2008;
  std::array<std::string, 3> VehTypesHuRoad;
  std::array<std::string, 6> VehTypesTNM;
  std::string Total;
  std::array<std::string, 2> FTStrLang;  // by TFullThrottle
  std::array<std::string, 2> TrainTypesSchall03_2006_Str;
  std::array<std::string, 7> TTrainTypesFRA2005_Str;
  std::array<std::string, 2> TVehicleTypesFRA2005_Str;
  std::array<std::string, 13> VCItems;  // in the order of VCItemCodes
  std::array<std::string, 17> RCItems;  // in the order of RCItemCodes
  std::array<std::string, 8> DCItems;   // in the order of DCItemCodes
  // Schall 03 (2006) sub-source names before the height suffix.
  std::string RailRoughness, WheelRoughness, TankWagonRailRoughness, TankWagonWheelRoughness, Aerodynamic,
      AggregatNoise, EngineNoise;
  std::array<std::string, 3> MainVehNamesN2k2005;  // categories 1..3
  std::string Costs;
};

// The English texts.
TVocabularyTexts DefaultVocabularyTexts();
// Replaces the display texts; throws vez::Exception when a text has already been read.
void SetVocabularyTexts(TVocabularyTexts texts);
// The display texts in force (the first call fixes them).
const TVocabularyTexts& VocabularyTexts();

const std::string& AtArray(TAssessmentType Type);
const std::string& FTStrLang(TFullThrottle FullThrottle);
const std::string& TrainTypesSchall03_2006_Str(TTrainTypesSchall03_2006 Type);
const std::string& TTrainTypesFRA2005_Str(TTrainTypesFRA2005 Type);
const std::string& TVehicleTypesFRA2005_Str(TVehicleTypesFRA2005 Type);

// Vehicle class texts of each standard; the last entry is Total.
std::span<const std::string> VehTypesRLS90();
std::span<const std::string> VehTypesRVS302();
std::span<const std::string> VehTypesLightHeavy();
std::span<const std::string> VehTypesASJ2003();
std::span<const std::string> VehTypesASJ2008();
std::span<const std::string> VehTypesN2k();
std::span<const std::string> VehTypesHuRoad();
std::span<const std::string> VehTypesTNM();

// Clear List and fill it with the Nord2000 vehicle, road-surface or driving-condition categories, each text
// with its code in the entry's object slot.
void VCItems(StringList& List);
void RCItems(StringList& List);
void DCItems(StringList& List);

// The name of sub-source SourceNr (1..11) of a Schall 03 (2006) train; "" for a number the train type does
// not have.
std::string SrcTypeSchall03_2006(std::int32_t SourceNr, TTrainTypesSchall03_2006 TrainType);
// The name of a Nord2000 (2005) main vehicle category; "" for a value other than 1..3.
std::string GetMainVehNamesN2k2005(TMainVehTypeN2k2005 MainType);

}  // namespace vez

// TNM emission constants in the TNM vehicle library ("TNMVeh.abs"): reading a record into a TTNMEmisConsts
// and writing one back.
//
// A record holds the 22 coefficients for both full-throttle states and all four pavements, in fields named
// like "D1(FTYes,PTOGAC)" (TNMFieldName); a TTNMEmisConsts holds one pavement's 44. These operations belong
// to TTNMEmisConsts but need the table engine; they are free functions here so that the model in
// acoustics/TNM.h stays free of database code.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "acoustics/TNM.h"
#include "librarydb/Absmain.h"

namespace vez {

// Opens the table if it is closed, selects the primary index "p" and looks up key Nr. Found: Consts.Nr := Nr,
// then ReadFromDataSet; True. Not found: Consts unchanged; False. Engine failures pass to the caller.
bool ReadFromDataBase(TTNMEmisConsts& Consts, TABSTable& Table, std::int32_t Nr, TPavementType Pavement);

// Reads the current record: Pavement, "BaseVT", "ElementName" and the 44 coefficient fields of Pavement in
// storage order. A missing field raises the engine's EDatabaseError; what was read before it stays read.
void ReadFromDataSet(TTNMEmisConsts& Consts, TDataSet& Table, TPavementType Pavement);

// Writes "BaseVT" and the 44 coefficient fields of Consts.Pavement into the current record; the caller puts
// the table into edit or insert state and posts it. ElementName and the other pavements' fields are not
// touched. A missing field raises the engine's EDatabaseError; what was written before it stays written.
void WriteToDataSet(const TTNMEmisConsts& Consts, TDataSet& Table);

// One emission computation as the tools offer it (the vezi tool, the Python module and the browser share it).
//
// The parameters are checked here once for every front end, with one message each: the speed is a number from
// 0 to kTNMMaxSpeedKmh (no road vehicle of the model is faster), "The speed must be a number from 0 to 300 km/h,
// not 400"; a vehicle is named auto, mt, ht, bus or mc, a pavement avg, dgac, ogac or pcc ("The vehicle must be
// auto, mt, ht, bus or mc, not "truck""). Without Library the reference constants of Vehicle are used. With
// Library, record Record of that TNM vehicle library gives the constants of Pavement; Vehicle may then be absent
// and must match the record when given. Other failures throw vez::Exception with a message naming what is
// wrong: "no such file: '<path>'", "'<path>' has no record 7", "record 7 holds Buses, not Motorcycles".
inline constexpr double kTNMMaxSpeedKmh = 300;

// Throws unless Kmh is a number from 0 to kTNMMaxSpeedKmh.
void CheckTNMSpeed(double Kmh);
// The speed in a person's text ("80", "55.5", "1e2"; "." as decimal point), checked.
double ParseTNMSpeed(std::string_view Text);
// The vehicle and pavement names above, in any letter case.
TBaseVehType ParseTNMVehicle(std::string_view Name);
TPavementType ParseTNMPavement(std::string_view Name);

struct TTNMRequest {
  std::optional<TBaseVehType> Vehicle;
  TPavementType Pavement = ptAvg;
  TFullThrottle FullThrottle = ftNo;
  double SpeedKmh = 0;
  std::string Library;  // empty: the reference constants
  std::int32_t Record = 0;
};

struct TTNMResult {
  TTNMEmisConsts Consts;
  std::string Source;   // "Heavy trucks", or "City bus (record 1, Buses)"
  std::string Heading;  // Source, pavement, throttle and speed: "Heavy trucks, average pavement, cruise, 80 km/h"
  float Sum = 0;        // dB(A)
  TTNMSpectrum Bands{};
};

TTNMResult ComputeTNMEmission(const TTNMRequest& Request);

// The chart of a computed emission: the source in the title; pavement, throttle, speed and sum below it.
std::string TNMChartSvg(const TTNMRequest& Request, const TTNMResult& Result);

}  // namespace vez

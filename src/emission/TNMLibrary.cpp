#include "emission/TNMLibrary.h"

#include <fmt/format.h>

#include <cmath>
#include <limits>
#include <filesystem>

#include "acoustics/Vocabularies.h"
#include "core/Exceptions.h"
#include "core/FormatSettings.h"
#include "emission/SpectrumReport.h"
#include "librarydb/OVLibConst.h"
#include "output/ValueText.h"

namespace vez {

bool ReadFromDataBase(TTNMEmisConsts& Consts, TABSTable& Table, std::int32_t Nr, TPavementType Pavement) {
  if (!Table.Active()) Table.Open();
  Table.SetIndexName("p");
  if (!Table.FindKey({Variant(Nr)})) return false;
  Consts.Nr = Nr;
  ReadFromDataSet(Consts, Table, Pavement);
  return true;
}

void ReadFromDataSet(TTNMEmisConsts& Consts, TDataSet& Table, TPavementType Pavement) {
  Consts.Pavement = Pavement;
  Consts.BaseVT = static_cast<TBaseVehType>(Table.FieldByName("BaseVT").AsInteger());
  Consts.ElementName = Table.FieldByName("ElementName").AsString();
  for (TFullThrottle t : {ftNo, ftYes}) {
    for (int c = 0; c < kTNMCoefficientCount; ++c) {
      const auto coef = static_cast<TTNMCoefficient>(c);
      Consts.Coef(coef, t) = static_cast<float>(Table.FieldByName(TNMFieldName(coef, t, Pavement)).AsFloat());
    }
  }
}

void WriteToDataSet(const TTNMEmisConsts& Consts, TDataSet& Table) {
  Table.FieldByName("BaseVT").SetAsInteger(Consts.BaseVT);
  for (TFullThrottle t : {ftNo, ftYes}) {
    for (int c = 0; c < kTNMCoefficientCount; ++c) {
      const auto coef = static_cast<TTNMCoefficient>(c);
      Table.FieldByName(TNMFieldName(coef, t, Consts.Pavement)).SetAsFloat(Consts.Coef(coef, t));
    }
  }
}

void CheckTNMSpeed(double Kmh) {
  if (!(Kmh >= 0 && Kmh <= kTNMMaxSpeedKmh))
    throw EParameterError(fmt::format("The speed must be a number from 0 to {} km/h, not {}",
                                      NumberText(kTNMMaxSpeedKmh),
                                      std::isnan(Kmh) ? "NaN" : std::isinf(Kmh) ? (Kmh < 0 ? "-inf" : "inf") : NumberText(Kmh)));
}

double ParseTNMSpeed(std::string_view Text) {
  double kmh = 0;
  std::string t = Trim(Text);
  FormatSettings point;
  if (!TryStrToFloat(t, kmh, point)) {
    // NaN and the infinities are numbers of a kind, refused as the ones a program passes are.
    const bool minus = !t.empty() && t[0] == '-';
    if (!t.empty() && (t[0] == '-' || t[0] == '+')) t.erase(0, 1);
    if (SameText(t, "nan")) kmh = std::numeric_limits<double>::quiet_NaN();
    else if (SameText(t, "inf") || SameText(t, "infinity")) kmh = minus ? -HUGE_VAL : HUGE_VAL;
    else
      throw EParameterError(fmt::format("The speed must be a number from 0 to {} km/h, not \"{}\"",
                                        NumberText(kTNMMaxSpeedKmh), std::string(Text)));
  }
  CheckTNMSpeed(kmh);
  return kmh;
}

namespace {
template <typename T, std::size_t N>
T Choose(std::string_view what, std::string_view name, const std::pair<const char*, T> (&choices)[N]) {
  std::string known;
  for (std::size_t i = 0; i < N; ++i) {
    if (SameText(name, choices[i].first)) return choices[i].second;
    known += std::string(i == 0 ? "" : i + 1 == N ? " or " : ", ") + choices[i].first;
  }
  throw EParameterError(fmt::format("The {} must be {}, not \"{}\"", what, known, std::string(name)));
}
constexpr std::pair<const char*, TBaseVehType> kVehicles[] = {
    {"auto", vtAu}, {"mt", vtMT}, {"ht", vtHT}, {"bus", vtBus}, {"mc", vtMC}};
constexpr std::pair<const char*, TPavementType> kPavements[] = {
    {"avg", ptAvg}, {"dgac", ptDGAC}, {"ogac", ptOGAC}, {"pcc", ptPCC}};
}  // namespace

TBaseVehType ParseTNMVehicle(std::string_view Name) { return Choose("vehicle", Name, kVehicles); }
TPavementType ParseTNMPavement(std::string_view Name) { return Choose("pavement", Name, kPavements); }

std::string TNMChartSvg(const TTNMRequest& Request, const TTNMResult& Result) {
  TChartOptions chart;
  chart.Title = "TNM emission of " + Result.Source;
  chart.Subtitle = fmt::format("{}, {}, {} km/h: sum {:.1f} dB(A)", TNMPavementName(Request.Pavement),
                               TNMThrottleName(Request.FullThrottle), NumberText(Request.SpeedKmh), Result.Sum);
  chart.YLabel = "Level in dB(A)";
  return SpectrumBarChartSvg(TNMBands(Result.Bands), chart);
}

TTNMResult ComputeTNMEmission(const TTNMRequest& Request) {
  CheckTNMSpeed(Request.SpeedKmh);
  TTNMResult r;
  TTNMEmisConsts& consts = r.Consts;
  if (Request.Library.empty()) {
    if (!Request.Vehicle) throw Exception("give a vehicle type, or a TNM vehicle library with a record number");
    consts.BaseVT = *Request.Vehicle;
    consts.SetTNMConstants(*Request.Vehicle, Request.Pavement, false);
    r.Source = VehTypesTNM()[*Request.Vehicle];
  } else {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(Request.Library, ec))
      throw EInOutError("no such file: '" + Request.Library + "'");
    TMyTable lib(Request.Library, true);
    if (!ReadFromDataBase(consts, lib.Table(), Request.Record, Request.Pavement))
      throw Exception(fmt::format("'{}' has no record {}", Request.Library, Request.Record));
    lib.Table().Close();
    const int vt = consts.BaseVT;
    if (vt < vtAu || vt > vtMC)
      throw Exception(fmt::format("record {} has the unknown vehicle type {}", Request.Record, vt));
    if (Request.Vehicle && *Request.Vehicle != consts.BaseVT) {
      throw Exception(fmt::format("record {} holds {}, not {}", Request.Record, VehTypesTNM()[consts.BaseVT],
                                  VehTypesTNM()[*Request.Vehicle]));
    }
    r.Source = fmt::format("{} (record {}, {})", consts.ElementName, Request.Record, VehTypesTNM()[consts.BaseVT]);
  }
  consts.CalcSumAndSpectrum(Request.FullThrottle, static_cast<float>(Request.SpeedKmh), r.Sum, r.Bands);
  r.Heading = fmt::format("{}, {}, {}, {} km/h", r.Source, TNMPavementName(Request.Pavement),
                          TNMThrottleName(Request.FullThrottle), NumberText(Request.SpeedKmh));
  return r;
}

}  // namespace vez

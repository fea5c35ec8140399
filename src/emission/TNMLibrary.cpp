#include "emission/TNMLibrary.h"

#include <fmt/format.h>

#include <cmath>
#include <filesystem>

#include "acoustics/Vocabularies.h"
#include "core/Exceptions.h"
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
  if (!std::isfinite(Kmh)) throw Exception(fmt::format("the speed {} km/h is not a number", NumberText(Kmh)));
  if (Kmh < 0 || Kmh > kTNMMaxSpeedKmh)
    throw Exception(fmt::format("the speed {} km/h is not in range 0 to {}", NumberText(Kmh), kTNMMaxSpeedKmh));
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

#include "emission/TNMLibrary.h"

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

}  // namespace vez

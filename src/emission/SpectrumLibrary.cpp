#include "emission/SpectrumLibrary.h"

#include <fmt/format.h>

#include <atomic>
#include <filesystem>

#include "acoustics/Bands.h"
#include "core/Exceptions.h"
#include "core/FormatSettings.h"
#include "librarydb/OVLibConst.h"

namespace vez {

namespace {

// Throws a copy of `e` (same class) with its message extended by the reading context.
[[noreturn]] void Rethrow(const Exception& e, std::int32_t nr, const std::string& libName) {
  const std::string message = "Fatal Error: " + std::string(e.what()) + "\n\r" +
                              fmt::format("Could not read spectrum #{} from library {}", nr, libName);
  if (dynamic_cast<const EDatabaseError*>(&e)) throw EDatabaseError(message);
  if (dynamic_cast<const EConvertError*>(&e)) throw EConvertError(message);
  if (dynamic_cast<const EInOutError*>(&e)) throw EInOutError(message);
  if (dynamic_cast<const EListError*>(&e)) throw EListError(message);
  throw Exception(message);
}

void ReadRecord(TSpectrum& s, std::int32_t nr, const std::string& libName, float& sum) {
  TMyTable lib(libName, false);
  TABSTable& table = lib.Table();
  table.Open();
  table.SetIndexName("p");
  if (!table.FindKey({Variant(nr)})) throw Exception("Element not found");
  if (!table.FieldByName("Komplett").AsBoolean()) throw Exception("Spectrum not completed");

  s.Nr = nr;
  sum = static_cast<float>(table.FieldByName("Values0").AsFloat());
  const std::int32_t lower = table.FieldByName("Lower").AsInteger();
  const std::int32_t upper = table.FieldByName("Upper").AsInteger();
  const bool terz = table.FieldByName("Terz").AsBoolean();
  // Third-octave bands 1..30 or octave bands 1..10, 0-based in the record.
  const std::int32_t top = terz ? 29 : 9;
  if (lower < 0 || upper < lower || upper > top) {
    throw Exception(fmt::format("Invalid band range {}..{}", lower, upper));
  }

  s.Count = static_cast<std::uint8_t>(upper - lower + 1);
  s.Kind = terz ? 'T' : 'O';
  s.Values.assign(s.Count, 0.0f);
  const std::int32_t step = terz ? 1 : 3;
  std::int32_t n = terz ? lower + 1 : 3 * (lower + 1) - 1;  // running third-octave band
  s.fu = terzen[n];
  for (std::int32_t band = lower; band <= upper; ++band, n += step) {
    const float v = static_cast<float>(table.FieldByName("Values" + std::to_string(n)).AsFloat());
    s.SetVal(terzen[n], v);
    s.fo = terzen[n];
  }
}

}  // namespace

TSpectrum SpectrumFromLibrary(std::int32_t Nr, const std::string& LibName, std::uint8_t Mode, float& Sum) {
  Sum = 0.0f;
  TSpectrum s;
  if (Mode == 1) {
    s.CheckMinMax = true;
    s.MinValue = 0.0f;
    s.MaxValue = 0.999f;
  }
  try {
    ReadRecord(s, Nr, LibName, Sum);
  } catch (const Exception& e) {
    Rethrow(e, Nr, LibName);
  }
  return s;
}

std::optional<TElementRecord> FindElementRecord(std::int32_t Nr, const std::string& LibName) {
  // The engine's objects directly: a look-up must never remove a file, as closing a TMyTable may.
  static std::atomic<int> counter{0};
  TABSDatabase database;
  TABSTable table;
  database.SetDatabaseName("element_record_" + std::to_string(++counter));
  database.SetDatabaseFileName(LibName);
  database.SetReadOnly(true);
  table.SetDatabaseName(database.DatabaseName());
  table.SetTableName(ExtractFileName(LibName));
  table.SetReadOnly(true);
  table.Open();
  table.SetIndexName("p");
  if (!table.FindKey({Variant(Nr)})) return std::nullopt;
  TElementRecord r;
  if (TField* name = table.FindField("ElementName")) r.ElementName = name->AsString();
  if (TField* complete = table.FindField("Komplett")) r.Complete = complete->AsBoolean();
  return r;
}

TElementSpectrum ReadElementSpectrum(std::int32_t Nr, const std::string& LibName, bool Clamp) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(LibName, ec)) throw EInOutError("no such file: '" + LibName + "'");
  const std::optional<TElementRecord> record = FindElementRecord(Nr, LibName);
  if (!record) {
    throw Exception(fmt::format(
        "'{}' has no record {} (the numbers are those of the field Eintrag, which `vezi dump` shows)", LibName, Nr));
  }
  if (!record->Complete) {
    throw Exception(fmt::format("record {} (\"{}\") of '{}' is not marked complete: its field Komplett is False; "
                                "set it to True once the bands from Lower to Upper are filled",
                                Nr, record->ElementName, LibName));
  }
  TElementSpectrum out;
  out.ElementName = record->ElementName;
  out.Spectrum = SpectrumFromLibrary(Nr, LibName, Clamp ? 1 : 0, out.SingleValue);
  return out;
}

std::string SpectrumValueLabel(std::int32_t LibType, bool Logarithmic) {
  if (Logarithmic) return "10 lg(value) in dB";
  switch (LibType) {
    case ltAbsor: return "Absorption coefficient (0 to 1)";
    case ltTrans: return "Sound reduction in dB";
    case ltAtten: return "Attenuation in dB";
    default: return "Level in dB";
  }
}

}  // namespace vez

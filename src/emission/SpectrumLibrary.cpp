#include "emission/SpectrumLibrary.h"

#include <fmt/format.h>

#include "acoustics/Bands.h"
#include "core/Exceptions.h"
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

}  // namespace vez

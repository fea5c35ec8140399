#include "emission/SpectrumLibrary.h"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <filesystem>

#include "acoustics/Bands.h"
#include "core/Exceptions.h"
#include "core/FormatSettings.h"
#include "librarydb/ElementBands.h"
#include "librarydb/LibraryFile.h"
#include "librarydb/OVLibConst.h"
#include "librarydb/RecordRules.h"
#include "output/ValueText.h"

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

TElementBands ReadElementBands(std::int32_t Nr, const std::string& LibName, bool Clamp) {
  TLibraryFile lib(LibName, false);
  TABSTable& table = lib.Table();
  table.SetIndexName("p");
  if (!table.FindKey({Variant(Nr)})) {
    throw Exception(fmt::format(
        "'{}' has no record {} (the numbers are those of the field Eintrag, which `vezi dump` shows)", LibName, Nr));
  }
  TElementBands out;
  out.Nr = Nr;
  out.LibName = LibName;
  if (TField* name = table.FindField("ElementName")) out.ElementName = name->AsString();
  out.Complete = table.FieldByName("Komplett").AsBoolean();
  out.SingleValue = static_cast<float>(table.FieldByName("Values0").AsFloat());
  out.Terz = table.FieldByName("Terz").AsBoolean();
  const std::int32_t lower = table.FieldByName("Lower").AsInteger();
  const std::int32_t upper = table.FieldByName("Upper").AsInteger();
  if (lower < 0 || upper < lower || ThirdOctaveOf(out.Terz, upper) == 0)
    throw Exception(fmt::format("record {} of '{}' has the invalid band range {}..{}", Nr, LibName, lower, upper));
  for (std::int32_t k = lower; k <= upper; ++k) {
    const int n = ThirdOctaveOf(out.Terz, k);
    const TField& f = table.FieldByName("Values" + std::to_string(n));
    float v = std::numeric_limits<float>::quiet_NaN();
    if (!f.IsNull() && f.AsFloat() != kNoValue) {
      v = static_cast<float>(f.AsFloat());
      if (Clamp) v = std::clamp(v, 0.0f, 0.999f);
    }
    out.Bands.push_back({terzen[n], v});
  }
  return out;
}

std::string IncompleteMessage(const TElementBands& Bands) {
  std::string missing;
  for (const TBandValue& b : Bands.Bands) {
    if (std::isfinite(b.Value)) continue;
    std::int32_t n = 0;
    TerzFrequenz(b.Hz, n);
    missing += fmt::format("{}{} Hz (Values{})", missing.empty() ? "" : ", ", BandCentreText(b.Hz), n);
  }
  const std::string record =
      fmt::format("record {} (\"{}\") of '{}' is not complete", Bands.Nr, Bands.ElementName, Bands.LibName);
  if (!missing.empty()) return record + ": no value in the band" + (missing.find(',') != std::string::npos ? "s " : " ") + missing;
  if (!Bands.Complete) return record + ": its field Komplett is False";
  return {};
}

std::string ElementBandsText(const TElementBands& Bands, bool Logarithmic) {
  std::string out;
  if (Bands.Bands.empty()) return out;
  out += fmt::format("fu ={:>10} fo ={:>10} {}\n", Bands.Bands.front().Hz, Bands.Bands.back().Hz,
                     Bands.Terz ? "in Terzen" : "in Oktaven");
  for (const TBandValue& b : Bands.Bands) {
    double v = b.Value;
    if (!std::isfinite(v)) {
      out += fmt::format("{:>6}Hz \t  no value\n", b.Hz);
      continue;
    }
    if (Logarithmic) v = v > 1e-6 ? 10.0 * std::log10(v) : -60.0;
    out += fmt::format("{:>6}Hz \t{:>10.5f}\n", b.Hz, v);
  }
  return out;
}

std::string ElementBandsChartSvg(const TElementBands& Bands, bool Logarithmic) {
  std::vector<TBandValue> values = Bands.Bands;
  if (Logarithmic)
    for (TBandValue& b : values)
      if (std::isfinite(b.Value)) b.Value = b.Value > 1e-6f ? 10.0f * std::log10(b.Value) : -60.0f;
  const std::string file = ExtractFileName(Bands.LibName);
  const std::int32_t libType = GetLibType(file);
  TChartOptions chart;
  chart.Title = fmt::format("\"{}\" (record {} of {})", Bands.ElementName, Bands.Nr, file);
  if (!values.empty())
    chart.Subtitle = fmt::format("{} bands {} to {} Hz, {}{}", Bands.Terz ? "Third-octave" : "Octave",
                                 BandCentreText(values.front().Hz), BandCentreText(values.back().Hz),
                                 Bands.SingleValue == kNoValue ? std::string("no single value")
                                                               : "single value " + NumberText(FloatAsDecimal(Bands.SingleValue)),
                                 Bands.Complete ? "" : ", not complete");
  chart.YLabel = SpectrumValueLabel(libType, Logarithmic);
  chart.ZeroBased = !Logarithmic && libType == ltAbsor;
  return SpectrumBarChartSvg(values, chart);
}

TElementSpectrum ReadElementSpectrum(std::int32_t Nr, const std::string& LibName, bool Clamp) {
  const TElementBands bands = ReadElementBands(Nr, LibName, Clamp);
  if (const std::string why = IncompleteMessage(bands); !why.empty()) throw Exception(why);
  TElementSpectrum out;
  out.ElementName = bands.ElementName;
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

#include "librarydb/ElementBands.h"

#include <algorithm>

#include "core/FormatSettings.h"

namespace vez {

bool HasElementBands(std::int32_t LibType) { return LibType >= 0 && LibType <= 3; }

int BandOfValuesField(std::string_view FieldName) {
  constexpr std::string_view stem = "Values";
  if (FieldName.size() < stem.size() + 1 || FieldName.size() > stem.size() + 2 ||
      !SameText(FieldName.substr(0, stem.size()), stem))
    return -1;
  const std::string_view digits = FieldName.substr(stem.size());
  if (!std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) return -1;
  if (digits.size() == 2 && digits[0] == '0') return -1;  // "Values05" is no band field
  const int n = digits.size() == 1 ? digits[0] - '0' : (digits[0] - '0') * 10 + (digits[1] - '0');
  return n <= 30 ? n : -1;
}

std::optional<TElementBandRange> BandRangeOfFields(std::span<const std::string> FieldNames) {
  std::vector<int> bands;
  for (const std::string& name : FieldNames)
    if (const int n = BandOfValuesField(name); n > 0) bands.push_back(n);
  std::sort(bands.begin(), bands.end());
  bands.erase(std::unique(bands.begin(), bands.end()), bands.end());
  if (bands.empty()) return std::nullopt;

  const bool octave =
      bands.size() >= 2 && std::all_of(bands.begin(), bands.end(), [](int n) { return n % 3 == 2; });
  TElementBandRange r;
  r.Terz = !octave;
  const int step = octave ? 3 : 1;
  // Octave k has its centre in third-octave band 3k - 1; both kinds count from 0 in the record.
  r.Lower = octave ? (bands.front() + 1) / 3 - 1 : bands.front() - 1;
  r.Upper = octave ? (bands.back() + 1) / 3 - 1 : bands.back() - 1;
  r.Complete = (bands.back() - bands.front()) / step + 1 == static_cast<int>(bands.size());
  return r;
}

std::vector<std::pair<std::string, std::string>> BandFieldsFor(std::int32_t LibType,
                                                               std::span<const std::string> Linked) {
  std::vector<std::pair<std::string, std::string>> out;
  if (!HasElementBands(LibType)) return out;
  const std::optional<TElementBandRange> range = BandRangeOfFields(Linked);
  if (!range) return out;
  const auto linked = [&](std::string_view field) {
    return std::any_of(Linked.begin(), Linked.end(), [&](const std::string& name) { return SameText(name, field); });
  };
  if (!linked("Lower") && !linked("Upper")) {
    out.emplace_back("Lower", std::to_string(range->Lower));
    out.emplace_back("Upper", std::to_string(range->Upper));
  }
  if (!linked("Terz")) out.emplace_back("Terz", range->Terz ? "True" : "False");
  if (!linked("Komplett")) out.emplace_back("Komplett", range->Complete ? "True" : "False");
  return out;
}

}  // namespace vez

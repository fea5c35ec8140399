#include "librarydb/ElementBands.h"

#include <algorithm>
#include <tuple>
#include <vector>

#include "acoustics/Bands.h"
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

TElementBandRange BandRangeOf(std::span<const int> Present, std::optional<bool> Terz,
                              std::optional<std::pair<std::int32_t, std::int32_t>> Range) {
  const auto octaveCentre = [](int n) { return n % 3 == 2; };
  TElementBandRange r;
  r.Terz = Terz.value_or(!(Present.size() >= 2 && std::all_of(Present.begin(), Present.end(), octaveCentre)));
  std::vector<int> bands;  // the present bands of the kind, 0-based
  for (const int n : Present)
    if (r.Terz || octaveCentre(n)) bands.push_back(r.Terz ? n - 1 : (n + 1) / 3 - 1);
  if (Range) std::tie(r.Lower, r.Upper) = *Range;
  else if (!bands.empty()) std::tie(r.Lower, r.Upper) = std::pair(bands.front(), bands.back());
  if (bands.empty() || r.Lower > r.Upper) return r;
  std::int32_t k = r.Lower;
  for (auto it = std::lower_bound(bands.begin(), bands.end(), k); it != bands.end() && *it == k && k <= r.Upper; ++it)
    ++k;
  r.Complete = k > r.Upper && ThirdOctaveOf(r.Terz, r.Upper) > 0;
  return r;
}

int ThirdOctaveOf(bool Terz, std::int32_t k) {
  const std::int32_t n = Terz ? k + 1 : 3 * (k + 1) - 1;
  return k >= 0 && n <= 30 ? n : 0;
}

std::string FieldLabel(std::int32_t LibType, std::string_view FieldName) {
  const int n = HasElementBands(LibType) ? BandOfValuesField(FieldName) : -1;
  if (n < 0) return std::string(FieldName);
  return std::string(FieldName) + (n == 0 ? " (single value)" : " (" + BandCentreText(terzen[n]) + " Hz)");
}

}  // namespace vez

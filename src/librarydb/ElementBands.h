// The band fields of the element libraries (emission, absorption, transmission and attenuation elements):
// which "Values<n>" field holds which frequency band, and the band range a record's "Lower", "Upper", "Terz"
// and "Komplett" fields must show for a set of band fields.
//
// "Values" + n (n = 1..30) holds third-octave band n, terzen[n] (25 Hz .. 20 kHz). An octave record uses the
// fields of the octave centres, n = 3k - 1 for octave k (Values2 = 31.5 Hz, Values5 = 63 Hz, ...,
// Values29 = 16 kHz). "Values0" holds the single value. "Terz" tells third-octave (True) from octave (False)
// records; "Lower" and "Upper" are the 0-based numbers of the first and last band of that kind; "Komplett"
// marks a record whose bands are all there (a spectrum is read only from such a record).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>

namespace vez {

// Whether the library type has the band fields above (codes 0 to 3).
bool HasElementBands(std::int32_t LibType);

// The third-octave band (1..30) of a field name "Values<n>" (any letter case), 0 for "Values0", -1 for any
// other name.
int BandOfValuesField(std::string_view FieldName);

// The kind, range and completeness of a record's bands.
struct TElementBandRange {
  bool Terz = true;
  std::int32_t Lower = 0;  // 0-based band number of the kind
  std::int32_t Upper = 0;
  bool Complete = false;   // every band from Lower to Upper holds a value
};

// The bands of a record of which the third-octave bands Present (1..30, ascending, each once) hold a value.
// Two or more present bands that are all octave centres make an octave record, anything else a third-octave
// one; Lower and Upper are the first and last present band of the kind. What the caller fixes is kept: Terz
// (False counts only the octave centres) and Range (Lower, Upper). Without a present band the range is
// Range, or 0..0, and the record is not complete.
TElementBandRange BandRangeOf(std::span<const int> Present, std::optional<bool> Terz,
                              std::optional<std::pair<std::int32_t, std::int32_t>> Range);

// The third-octave band (1..30) of band k (0-based) of a record's kind; 0 outside the grid.
int ThirdOctaveOf(bool Terz, std::int32_t k);

// What a person reads for a field of a library type: "Values5 (63 Hz)" for the band fields of an element
// library, "Values0 (single value)"; the field's name for every other field.
std::string FieldLabel(std::int32_t LibType, std::string_view FieldName);

}  // namespace vez

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
#include <vector>

namespace vez {

// Whether the library type has the band fields above (codes 0 to 3).
bool HasElementBands(std::int32_t LibType);

// The third-octave band (1..30) of a field name "Values<n>" (any letter case), 0 for "Values0", -1 for any
// other name.
int BandOfValuesField(std::string_view FieldName);

// The band range that a set of band fields covers.
struct TElementBandRange {
  bool Terz = true;
  std::int32_t Lower = 0;  // 0-based band number of the kind
  std::int32_t Upper = 0;
  bool Complete = false;   // every band from Lower to Upper is in the set
};

// The range of the band fields among FieldNames (other names are ignored); nullopt when none is a band field.
// Two or more fields that are all octave centres, without a third-octave field between them, are an octave
// record; anything else is a third-octave record.
std::optional<TElementBandRange> BandRangeOfFields(std::span<const std::string> FieldNames);

// The fields and texts ("Lower" = "2", "Upper" = "7", "Terz" = "False", "Komplett" = "True") that make a
// record of an element library agree with the band fields among Linked. A field that is itself in Linked (the
// caller links or fixes it) is left out, and "Lower"/"Upper" are both left out when either is there. Empty for
// other library types and when no band field is linked.
std::vector<std::pair<std::string, std::string>> BandFieldsFor(std::int32_t LibType,
                                                               std::span<const std::string> Linked);

}  // namespace vez

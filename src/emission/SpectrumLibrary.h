// Reading a spectrum from an element library (emission, absorption, transmission, attenuation: the layouts
// with "Eintrag", "Values0" .. "Values30", "Lower", "Upper", "Terz" and "Komplett").
//
// This is the library constructor of TSpectrum. TSpectrum lives in the acoustic tools (acoustics/Fgang.h),
// which do not depend on the library database; so the constructor is this free function, which builds the
// spectrum through TSpectrum's own operations and returns it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "acoustics/Fgang.h"
#include "emission/SpectrumReport.h"

namespace vez {

// Reads record Nr (key "Eintrag") of the element library file LibName (full path). Mode 1 clamps every value
// to 0 .. 0.999; any other mode stores the values as they are. Sum is set to 0, then to the record's single
// value ("Values0") once that is read.
//
// The record's "Lower" and "Upper" are 0-based band numbers and "Terz" chooses third-octave bands (fields
// "Values" + n, n = Lower+1 .. Upper+1) or octave bands (n = 3*(Lower+1)-1, step 3). Failures: no such record
// ("Element not found"), a record whose "Komplett" is not set ("Spectrum not completed"), a band range the
// grid does not have ("Invalid band range Lower..Upper", our check) and every engine failure; each is thrown
// again with the message "Fatal Error: " + message + "\n\r" + "Could not read spectrum #Nr from library
// LibName", as the same exception class. The library is closed on every path.
TSpectrum SpectrumFromLibrary(std::int32_t Nr, const std::string& LibName, std::uint8_t Mode, float& Sum);

// The spectrum of record Nr as the tools show it, with the record's name. Before reading, a missing file, a
// missing record and a record that is not complete throw vez::Exception (EInOutError for the file) with a
// message naming what is missing (IncompleteMessage); then SpectrumFromLibrary reads it (Mode 1 with Clamp).
struct TElementSpectrum {
  std::string ElementName;
  TSpectrum Spectrum;
  float SingleValue = 0;  // "Values0"
};
TElementSpectrum ReadElementSpectrum(std::int32_t Nr, const std::string& LibName, bool Clamp);

// The bands of record Nr as the pictures show them, also of a record that is not complete: the bands from
// "Lower" to "Upper" of the record's kind, each with its value, or NaN where the band holds no value (-199 or
// an empty field). Clamp limits every value to 0 .. 0.999, as Mode 1 does. Throws as ReadElementSpectrum does
// for a missing file or record, and for a band range the grid does not have.
struct TElementBands {
  std::int32_t Nr = 0;
  std::string LibName;
  std::string ElementName;
  bool Terz = true;
  bool Complete = false;  // "Komplett"
  float SingleValue = 0;  // "Values0"
  std::vector<TBandValue> Bands;
};
TElementBands ReadElementBands(std::int32_t Nr, const std::string& LibName, bool Clamp);

// Why a record's spectrum cannot be read: "record 2 ("Fan") of 'emis.abs' is not complete: no value in the
// bands 125 Hz (Values8), 250 Hz (Values11)"; empty for a complete record.
std::string IncompleteMessage(const TElementBands& Bands);

// The protocol of the bands as TSpectrum::Protok writes it ("fu = ... fo = ... in Terzen", a line per band),
// with "no value" in the lines of bands without one.
std::string ElementBandsText(const TElementBands& Bands, bool Logarithmic);

// The chart of the bands: the element's name, record and file in the title, kind, range and single value
// below it, the value axis titled by the library type; bands without a value are gaps marked "no value".
std::string ElementBandsChartSvg(const TElementBands& Bands, bool Logarithmic);

// The title of a spectrum's value axis, with its unit, by library type: "Level in dB" (emission),
// "Absorption coefficient (0 to 1)", "Sound reduction in dB" (transmission), "Attenuation in dB"; with
// Logarithmic "10 lg(value) in dB".
std::string SpectrumValueLabel(std::int32_t LibType, bool Logarithmic);

}  // namespace vez

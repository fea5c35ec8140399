// Reading a spectrum from an element library (emission, absorption, transmission, attenuation: the layouts
// with "Eintrag", "Values0" .. "Values30", "Lower", "Upper", "Terz" and "Komplett").
//
// This is the library constructor of TSpectrum. TSpectrum lives in the acoustic tools (acoustics/Fgang.h),
// which do not depend on the library database; so the constructor is this free function, which builds the
// spectrum through TSpectrum's own operations and returns it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "acoustics/Fgang.h"

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

// What a front end shows of an element library record before it reads the spectrum: the record's name and
// whether it is marked complete. nullopt when the library has no record Nr; engine failures (no such file, not a
// library) throw.
struct TElementRecord {
  std::string ElementName;
  bool Complete = false;  // "Komplett"
};
std::optional<TElementRecord> FindElementRecord(std::int32_t Nr, const std::string& LibName);

// The spectrum of record Nr as the tools show it, with the record's name. Before reading, a missing file, a
// missing record and a record not marked complete throw vez::Exception (EInOutError for the file) with a
// message naming what is missing and what to do; then SpectrumFromLibrary reads it (Mode 1 with Clamp).
struct TElementSpectrum {
  std::string ElementName;
  TSpectrum Spectrum;
  float SingleValue = 0;  // "Values0"
};
TElementSpectrum ReadElementSpectrum(std::int32_t Nr, const std::string& LibName, bool Clamp);

// The title of a spectrum's value axis, with its unit, by library type: "Level in dB" (emission),
// "Absorption coefficient (0 to 1)", "Sound reduction in dB" (transmission), "Attenuation in dB"; with
// Logarithmic "10 lg(value) in dB".
std::string SpectrumValueLabel(std::int32_t LibType, bool Logarithmic);

}  // namespace vez

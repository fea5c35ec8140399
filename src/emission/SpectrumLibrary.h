// Reading a spectrum from an element library (emission, absorption, transmission, attenuation: the layouts
// with "Eintrag", "Values0" .. "Values30", "Lower", "Upper", "Terz" and "Komplett").
//
// This is the library constructor of TSpectrum. TSpectrum lives in the acoustic tools (acoustics/Fgang.h),
// which do not depend on the library database; so the constructor is this free function, which builds the
// spectrum through TSpectrum's own operations and returns it.
#pragma once

#include <cstdint>
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

}  // namespace vez

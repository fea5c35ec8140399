// The frequency grid of the suite: ten octave bands and thirty third-octave bands, the band of a frequency,
// and the corrections of the frequency weightings A, B, C and D per third-octave band.
//
// Frequencies are whole hertz (uint16_t); band indices are 1-based. Octave band k (1..10) holds the
// third-octave bands 3k-2, 3k-1 and 3k, and its centre is that of band 3k-1. The 31.5 Hz band is listed as
// 31 Hz. Weighting corrections are in dB: a weighted band level is the unweighted one plus the correction.
// Everything here is constant data or a pure function, safe to use from any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/DArray.h"

namespace vez {

// Octave centre frequencies 31 (for 31.5) .. 16000 Hz.
inline constexpr DArray<uint16_t, 1, 10> oktaven{31, 63, 125, 250, 500, 1000, 2000, 4000, 8000, 16000};

// Third-octave centre frequencies 25 .. 20000 Hz (31 for 31.5).
inline constexpr DArray<uint16_t, 1, 30> terzen{25,   31,   40,   50,   63,   80,   100,  125,  160,   200,
                                                250,  315,  400,  500,  630,  800,  1000, 1250, 1600,  2000,
                                                2500, 3150, 4000, 5000, 6300, 8000, 10000, 12500, 16000, 20000};

// Display labels of the third-octave bands, in the order of terzen.
inline constexpr DArray<std::string_view, 1, 30> FrequStr{
    "25Hz",   "31Hz",    "40Hz",   "50Hz",    "63Hz",  "80Hz",   "100Hz",   "125Hz",  "160Hz",   "200Hz",
    "250Hz",  "315Hz",   "400Hz",  "500Hz",   "630Hz", "800Hz",  "1kHz",    "1.25kHz", "1.6kHz", "2kHz",
    "2.5kHz", "3.15kHz", "4kHz",   "5kHz",    "6.3kHz", "8kHz",  "10kHz",   "12.5kHz", "16kHz",  "20kHz"};

// Sets Index to the octave band (1..10) of Freq and returns its centre oktaven[Index]. Frequencies from
// 11225 Hz upward belong to band 10.
uint16_t OctaveCenterFreq(uint16_t Freq, int32_t& Index);

// Sets Index to the third-octave band (1..30) of Freq and returns its centre terzen[Index]. The bands'
// lower limits are 0, 29, 35, 45, 57, 72, 91, 113, 141, 181, 225, 282, 355, 450, 562, 708, 899, 1123, 1404,
// 1797, 2246, 2807, 3537, 4491, 5613, 7073, 8981, 11225, 14031 and 17960 Hz. Frequencies above 20000 Hz
// belong to the top band 30, as the octave grid keeps everything above 11225 Hz in its top band.
uint16_t TerzFrequenz(uint16_t Freq, int32_t& Index);

// The correction in dB of weighting Filter ('A', 'B', 'C' or 'D', either case) for the third-octave band
// holding Freq; ' ' and '_' mean no weighting and give 0. The band follows TerzFrequenz except that 35 Hz
// belongs to the 31.5 Hz band. Any other Filter throws vez::Exception("Wrong Filter").
float dBFilterDifferenz(char Filter, uint16_t Freq);

// The text of a band centre as a person reads it: "31.5" for the band listed as 31 Hz, else the whole hertz.
std::string BandCentreText(uint16_t Hz);
// The centre of a band in hertz as a number: 31.5 for the band listed as 31 Hz.
inline double BandCentreHz(uint16_t Hz) { return Hz == 31 ? 31.5 : Hz; }

// The filter letter of a weighting a person names: "A", "B", "C" or "D" (either case) and "Z" (zero
// weighting: none, as dBFilterDifferenz's ' ', which is also taken, as is '_'). Anything else throws EParameterError
// "The weighting must be A, B, C, D or Z (none), not "E"", the one message every front end shows.
char ParseWeighting(std::string_view Name);

// The largest of a day's 24 hourly values; among equal maxima the first counts.
float MaxValueTagArr(const DArray<float, 0, 23>& Values);

}  // namespace vez

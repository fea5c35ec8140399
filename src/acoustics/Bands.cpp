// Band lookup and frequency weighting.
#include "acoustics/Bands.h"

#include <algorithm>
#include <array>

#include "core/Exceptions.h"

namespace vez {

namespace {

// Lower band limits in Hz; the band of a frequency is the number of limits at or below it.
constexpr std::array<uint16_t, 10> kOctaveLowerLimits{0, 45, 91, 181, 355, 708, 1404, 2807, 5613, 11225};
constexpr std::array<uint16_t, 30> kThirdOctaveLowerLimits{0,    29,   35,   45,   57,   72,   91,    113,
                                                           141,  181,  225,  282,  355,  450,  562,   708,
                                                           899,  1123, 1404, 1797, 2246, 2807, 3537,  4491,
                                                           5613, 7073, 8981, 11225, 14031, 17960};

template <std::size_t N>
int32_t BandOf(const std::array<uint16_t, N>& lowerLimits, uint16_t freq) {
  return static_cast<int32_t>(std::upper_bound(lowerLimits.begin(), lowerLimits.end(), freq) - lowerLimits.begin());
}

// Weighting corrections in dB per third-octave band, columns A, B, C, D.
struct WeightingRow {
  float a, b, c, d;
  constexpr bool operator==(const WeightingRow&) const = default;
};
constexpr DArray<WeightingRow, 1, 30> kWeighting{
    {-44.7f, -20.4f, -4.4f, -18.5f},  // 25 Hz
    {-39.4f, -17.1f, -3.0f, -16.5f},  // 31.5
    {-34.6f, -14.2f, -2.0f, -14.5f},  // 40
    {-30.2f, -11.6f, -1.3f, -12.5f},  // 50
    {-26.2f, -9.3f, -0.8f, -11.0f},   // 63
    {-22.5f, -7.4f, -0.5f, -9.0f},    // 80
    {-19.1f, -5.6f, -0.3f, -7.5f},    // 100
    {-16.1f, -4.2f, -0.2f, -6.0f},    // 125
    {-13.4f, -3.0f, -0.1f, -4.5f},    // 160
    {-10.9f, -2.0f, 0.0f, -3.0f},     // 200
    {-8.6f, -1.3f, 0.0f, -2.0f},      // 250
    {-6.6f, -0.8f, 0.0f, -1.0f},      // 315
    {-4.8f, -0.5f, 0.0f, -0.5f},      // 400
    {-3.2f, -0.3f, 0.0f, 0.0f},       // 500
    {-1.9f, -0.1f, 0.0f, 0.0f},       // 630
    {-0.8f, 0.0f, 0.0f, 0.0f},        // 800
    {0.0f, 0.0f, 0.0f, 0.0f},         // 1000
    {0.6f, 0.0f, 0.0f, 2.0f},         // 1250
    {1.0f, 0.0f, -0.1f, 5.5f},        // 1600
    {1.2f, -0.1f, -0.2f, 8.0f},       // 2000
    {1.3f, -0.2f, -0.3f, 10.0f},      // 2500
    {1.2f, -0.4f, -0.5f, 11.0f},      // 3150
    {1.0f, -0.7f, -0.8f, 11.0f},      // 4000
    {0.5f, -1.2f, -1.3f, 10.0f},      // 5000
    {-0.1f, -1.9f, -2.0f, 8.5f},      // 6300
    {-1.1f, -2.9f, -3.0f, 6.0f},      // 8000
    {-2.5f, -4.3f, -4.4f, 3.0f},      // 10000
    {-4.3f, -6.1f, -6.2f, 0.0f},      // 12500
    {-6.6f, -8.4f, -8.5f, -4.0f},     // 16000
    {-9.3f, -11.1f, -11.2f, -7.5f},   // 20000
};

}  // namespace

uint16_t OctaveCenterFreq(uint16_t Freq, int32_t& Index) {
  Index = BandOf(kOctaveLowerLimits, Freq);
  return oktaven[Index];
}

uint16_t TerzFrequenz(uint16_t Freq, int32_t& Index) {
  Index = BandOf(kThirdOctaveLowerLimits, Freq);
  return terzen[Index];
}

float dBFilterDifferenz(char Filter, uint16_t Freq) {
  const char f = (Filter >= 'a' && Filter <= 'z') ? static_cast<char>(Filter - 'a' + 'A') : Filter;
  if (f == ' ' || f == '_') return 0.0f;
  if (f < 'A' || f > 'D') throw Exception("Wrong Filter");
  // The weighting grid puts 35 Hz into the 31.5 Hz band.
  const int32_t band = Freq == 35 ? 2 : BandOf(kThirdOctaveLowerLimits, Freq);
  const WeightingRow& row = kWeighting[band];
  switch (f) {
    case 'A':
      return row.a;
    case 'B':
      return row.b;
    case 'C':
      return row.c;
    default:
      return row.d;
  }
}

float MaxValueTagArr(const DArray<float, 0, 23>& Values) {
  float result = Values[0];
  for (int32_t i = 1; i <= 23; ++i)
    if (Values[i] > result) result = Values[i];
  return result;
}

std::string BandCentreText(uint16_t Hz) { return Hz == 31 ? "31.5" : std::to_string(Hz); }

char ParseWeighting(std::string_view Name) {
  if (Name.size() == 1) {
    const char c = static_cast<char>(Name[0] >= 'a' && Name[0] <= 'z' ? Name[0] - 'a' + 'A' : Name[0]);
    if (c >= 'A' && c <= 'D') return c;
    if (c == 'Z' || c == ' ' || c == '_') return ' ';  // blank and underscore: the platform's own "none"
  }
  throw EParameterError("The weighting must be A, B, C, D or Z (none), not \"" + std::string(Name) + "\"");
}

}  // namespace vez

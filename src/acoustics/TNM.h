// The vehicle emission model of the US Traffic Noise Model (FHWA TNM): the constants of one vehicle type on
// one pavement, for cruise and for full throttle, and from them the A-weighted emission level and the
// third-octave emission spectrum 50 Hz .. 10 kHz of a vehicle passing at a given speed.
//
// Speeds are km/h (the model works in miles per hour; the factor 0.6214 converts); levels are dB(A).
// The constants come from the reference tables below (SetTNMConstants) or from a record of the TNM vehicle
// library; reading and writing such records needs the table engine and lives in emission/TNMLibrary.h, so
// that this header stays free of database code.
//
// Everything here is pure: a TTNMEmisConsts is a value, safe to use from one thread at a time (const calls from
// several threads are safe too); the tables are constant data.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "acoustics/Vocabularies.h"

namespace vez {

// The 22 TNM coefficients in storage order: level constants A, B, C; spectral shape D1 .. J2 (the "1"
// coefficients are speed-independent, the "2" ones are multiplied by speed); subsource split L .. Q (kept,
// copied and persisted, not used by the computation here).
// clang-format off
enum TTNMCoefficient : std::uint8_t {
  tcA, tcB, tcC,
  tcD1, tcD2, tcE1, tcE2, tcF1, tcF2, tcG1, tcG2, tcH1, tcH2, tcI1, tcI2, tcJ1, tcJ2,
  tcL, tcM, tcN, tcP, tcQ,
};
// clang-format on
inline constexpr int kTNMCoefficientCount = 22;

// The field-name stems of the coefficients, by TTNMCoefficient.
inline constexpr std::array<std::string_view, kTNMCoefficientCount> TNMCoefficientNames{
    "A", "B", "C", "D1", "D2", "E1", "E2", "F1", "F2", "G1", "G2",
    "H1", "H2", "I1", "I2", "J1", "J2", "L", "M", "N", "P", "Q"};

// The library field of coefficient Coef for a full-throttle state and pavement, e.g. "D1(FTYes,PTOGAC)".
std::string TNMFieldName(TTNMCoefficient Coef, TFullThrottle FullThrottle, TPavementType Pavement);

// Number of bands of a TNM spectrum: the third-octave bands 50 Hz (terzen[4]) .. 10000 Hz (terzen[27]).
inline constexpr int kTNMBandCount = 24;
using TTNMSpectrum = std::array<float, kTNMBandCount>;

// ---- reference tables (FHWA TNM), indexed [TBaseVehType][TPavementType][TFullThrottle][...] ----
// Single values, written with the digits that reproduce each stored value exactly.

// A, B, C.
// clang-format off
inline constexpr float TNMVehicleALevels[5][4][2][3] = {
    {  // vtAu
        {{41.74087f, 1.148546f, 50.128315f}, {41.74087f, 1.148546f, 67.0f}},  // ptAvg
        {{41.74087f, 0.494698f, 50.128315f}, {41.74087f, 0.494698f, 67.0f}},  // ptDGAC
        {{41.74087f, -1.065026f, 50.128315f}, {41.74087f, -1.065026f, 67.0f}},  // ptOGAC
        {{41.74087f, 3.520004f, 50.128315f}, {41.74087f, 3.520004f, 67.0f}},  // ptPCC
    },
    {  // vtMT
        {{33.918713f, 20.591045f, 68.002975f}, {33.918713f, 20.591045f, 74.0f}},  // ptAvg
        {{33.918713f, 19.903774f, 68.002975f}, {33.918713f, 19.903774f, 74.0f}},  // ptDGAC
        {{33.918713f, 19.345215f, 68.002975f}, {33.918713f, 19.345215f, 74.0f}},  // ptOGAC
        {{33.918713f, 22.141611f, 68.002975f}, {33.918713f, 22.141611f, 74.0f}},  // ptPCC
    },
    {  // vtHT
        {{35.87985f, 21.019665f, 74.298134f}, {35.87985f, 21.019665f, 80.0f}},  // ptAvg
        {{35.87985f, 20.358498f, 74.298134f}, {35.87985f, 20.358498f, 80.0f}},  // ptDGAC
        {{35.87985f, 19.107151f, 74.298134f}, {35.87985f, 19.107151f, 80.0f}},  // ptOGAC
        {{35.87985f, 21.822819f, 74.298134f}, {35.87985f, 21.822819f, 80.0f}},  // ptPCC
    },
    {  // vtBus
        {{23.47953f, 38.006237f, 68.002975f}, {23.47953f, 38.00624f, 74.0f}},  // ptAvg
        {{23.47953f, 37.318966f, 68.002975f}, {23.47953f, 37.318966f, 74.0f}},  // ptDGAC
        {{23.47953f, 36.760406f, 68.002975f}, {23.47953f, 36.760406f, 74.0f}},  // ptOGAC
        {{23.47953f, 39.556805f, 68.002975f}, {23.47953f, 39.556805f, 74.0f}},  // ptPCC
    },
    {  // vtMC
        {{41.02254f, 10.013879f, 56.086098f}, {41.02254f, 10.013879f, 67.0f}},  // ptAvg
        {{41.02254f, 10.013879f, 56.086098f}, {41.02254f, 10.013879f, 67.0f}},  // ptDGAC
        {{41.02254f, 10.013879f, 56.086098f}, {41.02254f, 10.013879f, 67.0f}},  // ptOGAC
        {{41.02254f, 10.013879f, 56.086098f}, {41.02254f, 10.013879f, 67.0f}},  // ptPCC
    },
};

// D1, D2, E1, E2, F1, F2, G1, G2, H1, H2, I1, I2, J1, J2.
inline constexpr float TNMVehicleSpectra[5][4][2][14] = {
    {  // vtAu
        {  // ptAvg
            {-7516.58f, -9.7623f, 16460.1f, 11.65932f, -14823.9f, -1.233347f, 7009.4746f, -4.327918f, -1835.1898f, 2.579086f, 252.41855f, -0.573822f, -14.268316f, 0.045682f},
            {-7516.58f, -9.7623f, 16460.1f, 11.65932f, -14823.9f, -1.233347f, 7009.4746f, -4.327918f, -1835.1898f, 2.579086f, 252.41855f, -0.573822f, -14.268316f, 0.045682f},
        },
        {  // ptDGAC
            {-7313.986f, -19.69702f, 16009.5f, 34.3639f, -14414.4f, -22.462942f, 6814.3174f, 6.093141f, -1783.724f, -0.252834f, 245.29956f, -0.170266f, -13.86487f, 0.022131f},
            {-7313.986f, -19.69702f, 16009.5f, 34.3639f, -14414.4f, -22.462942f, 6814.3174f, 6.093141f, -1783.724f, -0.252834f, 245.29956f, -0.170266f, -13.86487f, 0.022131f},
        },
        {  // ptOGAC
            {-9549.988f, -146.17348f, 21064.0f, 340.62268f, -19060.8f, -324.80295f, 9032.991f, 161.88658f, -2363.8105f, -44.454426f, 324.07724f, 6.378783f, -18.21167f, -0.373971f},
            {-9549.988f, -146.17348f, 21064.0f, 340.62268f, -19060.8f, -324.80295f, 9032.991f, 161.88658f, -2363.8105f, -44.454426f, 324.07724f, 6.378783f, -18.21167f, -0.373971f},
        },
        {  // ptPCC
            {-2027.8376f, -70.67456f, 3728.329f, 155.10957f, -2768.0015f, -138.78093f, 1030.5414f, 64.52577f, -195.32455f, -16.430317f, 16.4189f, 2.17435f, -0.339616f, -0.117021f},
            {-2027.8376f, -70.67456f, 3728.329f, 155.10957f, -2768.0015f, -138.78093f, 1030.5414f, 64.52577f, -195.32455f, -16.430317f, 16.4189f, 2.17435f, -0.339616f, -0.117021f},
        },
    },
    {  // vtMT
        {  // ptAvg
            {-1238.3536f, -68.21894f, 2532.437f, 151.7815f, -2124.1658f, -140.38841f, 919.7843f, 68.54546f, -215.7454f, -18.551233f, 25.909788f, 2.634001f, -1.244253f, -0.153272f},
            {-8997.975f, 96.301704f, 19015.4f, -196.24174f, -16587.0f, 162.56952f, 7627.8745f, -70.39458f, -1950.4124f, 16.876825f, 263.09348f, -2.132793f, -14.645109f, 0.111404f},
        },
        {  // ptDGAC
            {-230.44002f, -82.783195f, 172.72504f, 186.80144f, 131.65582f, -174.71825f, -207.6648f, 86.12481f, 95.139145f, -23.513441f, -18.96669f, 3.366475f, 1.407549f, -0.197472f},
            {-8997.975f, 96.301704f, 19015.4f, -196.24174f, -16587.0f, 162.56952f, 7627.8745f, -70.39458f, -1950.4124f, 16.876825f, 263.09348f, -2.132793f, -14.645109f, 0.111404f},
        },
        {  // ptOGAC
            {-234.71135f, -103.147896f, 162.03613f, 244.03365f, 133.97095f, -237.86769f, -196.61368f, 121.52797f, 87.517296f, -34.22236f, -17.12562f, 5.031804f, 1.253128f, -0.301914f},
            {-8997.975f, 96.301704f, 19015.4f, -196.24174f, -16587.0f, 162.56952f, 7627.8745f, -70.39458f, -1950.4124f, 16.876825f, 263.09348f, -2.132793f, -14.645109f, 0.111404f},
        },
        {  // ptPCC
            {-139.27718f, -132.2071f, 97.35794f, 296.5748f, 65.35012f, -273.98145f, -104.555275f, 132.85439f, 47.637333f, -35.600555f, -9.424641f, 4.997542f, 0.689877f, -0.287335f},
            {-8997.975f, 96.301704f, 19015.4f, -196.24174f, -16587.0f, 162.56952f, 7627.8745f, -70.39458f, -1950.4124f, 16.876825f, 263.09348f, -2.132793f, -14.645109f, 0.111404f},
        },
    },
    {  // vtHT
        {  // ptAvg
            {1468.4407f, -235.31912f, -3852.3933f, 537.9815f, 3886.4307f, -502.16006f, -1986.8588f, 244.71495f, 549.00226f, -65.686554f, -78.239426f, 9.217734f, 4.509121f, -0.529106f},
            {-6864.587f, -94.379845f, 14368.7f, 226.70137f, -12459.2f, -220.01541f, 5710.526f, 110.51882f, -1458.3405f, -30.365892f, 196.81114f, 4.33716f, -10.977676f, -0.252197f},
        },
        {  // ptDGAC
            {-290.27704f, -196.82892f, 156.85489f, 450.14468f, 151.082f, -420.25006f, -168.0337f, 204.80684f, 60.77294f, -54.968445f, -9.681901f, 7.711617f, 0.570105f, -0.442469f},
            {-6864.587f, -94.379845f, 14368.7f, 226.70137f, -12459.2f, -220.01541f, 5710.526f, 110.51882f, -1458.3405f, -30.365892f, 196.81114f, 4.337165f, -10.977676f, -0.252197f},
        },
        {  // ptOGAC
            {-258.94135f, -255.20595f, 135.51422f, 587.4899f, 132.97371f, -552.8242f, -151.36653f, 272.10266f, 57.66924f, -73.912735f, -9.928293f, 10.514055f, 0.649271f, -0.612569f},
            {-6864.587f, -94.379845f, 14368.7f, 226.70137f, -12459.2f, -220.01541f, 5710.526f, 110.51882f, -1458.3405f, -30.365892f, 196.81114f, 4.337165f, -10.977676f, -0.252197f},
        },
        {  // ptPCC
            {87.37834f, -224.13231f, -497.41043f, 509.70526f, 579.58405f, -473.3266f, -298.569f, 229.5809f, 78.02158f, -61.37404f, -10.058424f, 8.58403f, 0.498685f, -0.49149f},
            {-6864.587f, -94.379845f, 14368.7f, 226.70137f, -12459.2f, -220.01541f, 5710.526f, 110.51882f, -1458.3405f, -30.365892f, 196.81114f, 4.337165f, -10.977676f, -0.252197f},
        },
    },
    {  // vtBus
        {  // ptAvg
            {4621.365f, -123.140564f, -11601.5f, 284.79617f, 11535.3f, -267.62305f, -5896.461f, 130.8225f, 1645.797f, -35.13902f, -238.92996f, 4.927783f, 14.139828f, -0.2825557f},
            {4621.365f, -123.140564f, -11601.5f, 284.79617f, 11535.3f, -267.62305f, -5896.461f, 130.8225f, 1645.797f, -35.13902f, -238.92996f, 4.927783f, 14.139828f, -0.2825557f},
        },
        {  // ptDGAC
            {4621.365f, -123.140564f, -11601.5f, 284.79617f, 11535.3f, -267.62305f, -5896.461f, 130.8225f, 1645.797f, -35.13902f, -238.92996f, 4.927783f, 14.139828f, -0.2825557f},
            {4621.365f, -123.140564f, -11601.5f, 284.79617f, 11535.3f, -267.62305f, -5896.461f, 130.8225f, 1645.797f, -35.13902f, -238.92996f, 4.927783f, 14.139828f, -0.2825557f},
        },
        {  // ptOGAC
            {4621.365f, -123.140564f, -11601.5f, 284.79617f, 11535.3f, -267.62305f, -5896.461f, 130.8225f, 1645.797f, -35.13902f, -238.92996f, 4.927783f, 14.139828f, -0.2825557f},
            {4621.365f, -123.140564f, -11601.5f, 284.79617f, 11535.3f, -267.62305f, -5896.461f, 130.8225f, 1645.797f, -35.13902f, -238.92996f, 4.927783f, 14.139828f, -0.2825557f},
        },
        {  // ptPCC
            {4621.365f, -123.140564f, -11601.5f, 284.79617f, 11535.3f, -267.62305f, -5896.461f, 130.8225f, 1645.797f, -35.13902f, -238.92996f, 4.927783f, 14.139828f, -0.2825557f},
            {4621.365f, -123.140564f, -11601.5f, 284.79617f, 11535.3f, -267.62305f, -5896.461f, 130.8225f, 1645.797f, -35.13902f, -238.92996f, 4.927783f, 14.139828f, -0.2825557f},
        },
    },
    {  // vtMC
        {  // ptAvg
            {7546.659f, -8.870177f, -17396.0f, 7.899209f, 16181.8f, 2.526152f, -7828.6323f, -5.314462f, 2085.4685f, 2.344913f, -290.81656f, -0.435913f, 16.614042f, 0.03005f},
            {7546.659f, -8.870177f, -17396.0f, 7.899209f, 16181.8f, 2.526152f, -7828.6323f, -5.314462f, 2085.4685f, 2.344913f, -290.81656f, -0.435913f, 16.614042f, 0.03005f},
        },
        {  // ptDGAC
            {7546.659f, -8.870177f, -17396.0f, 7.899209f, 16181.8f, 2.526152f, -7828.6323f, -5.314462f, 2085.4685f, 2.344913f, -290.81656f, -0.435913f, 16.614042f, 0.03005f},
            {7546.659f, -8.870177f, -17396.0f, 7.899209f, 16181.8f, 2.526152f, -7828.6323f, -5.314462f, 2085.4685f, 2.344913f, -290.81656f, -0.435913f, 16.614042f, 0.03005f},
        },
        {  // ptOGAC
            {7546.659f, -8.870177f, -17396.0f, 7.899209f, 16181.8f, 2.526152f, -7828.6323f, -5.314462f, 2085.4685f, 2.344913f, -290.81656f, -0.435913f, 16.614042f, 0.03005f},
            {7546.659f, -8.870177f, -17396.0f, 7.899209f, 16181.8f, 2.526152f, -7828.6323f, -5.314462f, 2085.4685f, 2.344913f, -290.81656f, -0.435913f, 16.614042f, 0.03005f},
        },
        {  // ptPCC
            {7546.659f, -8.870177f, -17396.0f, 7.899209f, 16181.8f, 2.526152f, -7828.6323f, -5.314462f, 2085.4685f, 2.344913f, -290.81656f, -0.435913f, 16.614042f, 0.03005f},
            {7546.659f, -8.870177f, -17396.0f, 7.899209f, 16181.8f, 2.526152f, -7828.6323f, -5.314462f, 2085.4685f, 2.344913f, -290.81656f, -0.435913f, 16.614042f, 0.03005f},
        },
    },
};

// L, M, N, P, Q, indexed [TBaseVehType][TFullThrottle][...] (no pavement dimension).
inline constexpr float TNMSubsourceSplit[5][2][5] = {
    {{0.373239f, 0.976378f, -13.195596f, 39.4913f, -2.583128f}, {0.373239f, 0.976378f, -13.195596f, 39.4913f, -2.583128f}},  // vtAu
    {{0.566933f, 0.93352f, -25.497631f, 80.23998f, -0.234435f}, {0.579261f, 0.871354f, -177.2492f, 558.9803f, -0.026532f}},  // vtMT
    {{0.85f, -0.33f, 163.021f, -492.451f, -58.005f}, {1.33f, 0.08f, -204.844f, 592.568f, -159.344f}},  // vtHT
    {{0.563097f, 0.928086f, -31.517738f, 99.09978f, -0.263459f}, {0.579261f, 0.871354f, -177.2492f, 558.9803f, -0.026532f}},  // vtBus
    {{0.391352f, 0.978407f, -19.278172f, 60.404842f, -0.614295f}, {0.391352f, 0.978407f, -19.278172f, 60.404842f, -0.614295f}},  // vtMC
};
// clang-format on

// The emission constants of one vehicle type on one pavement.
class TTNMEmisConsts {
public:
  std::int32_t Nr = 0;        // key ("Eintrag") of the library record last read
  std::string ElementName;    // name of that record
  TPavementType Pavement = ptAvg;
  TBaseVehType BaseVT = vtAu;
  // [A(ftNo), A(ftYes), B(ftNo), B(ftYes), ...]: each coefficient followed by its full-throttle twin.
  std::array<float, 2 * kTNMCoefficientCount> Coefficients{};

  float& Coef(TTNMCoefficient c, TFullThrottle t) { return Coefficients[2u * c + t]; }
  float Coef(TTNMCoefficient c, TFullThrottle t) const { return Coefficients[2u * c + t]; }

  // Loads the reference constants of VehType on Pavement and sets Pavement. With KeepLevels the level
  // constants A, B, C stay as they are; the spectral and split constants are always reset. BaseVT, Nr and
  // ElementName do not change.
  void SetTNMConstants(TBaseVehType VehType, TPavementType Pavement, bool KeepLevels);

  // The emission at Speed km/h: Spectrum[0..23] receives the band levels 50 Hz .. 10 kHz in dB(A), Sum their
  // energetic total. Speed 0 gives the idle level C in place of the speed term. Never throws; a negative
  // speed has no meaning in the model and gives NaN levels.
  //
  // The band shapes (the polynomials D1 .. J2, evaluated in long double) do not depend on speed; the last
  // eight coefficient sets seen are kept in a per-thread cache keyed by the coefficient values, so a sweep over
  // speeds evaluates them once. The power of the speed term is taken in double precision (see TNM.cpp).
  void CalcSumAndSpectrum(TFullThrottle FullThrottle, float Speed, float& Sum, float* Spectrum) const;
  void CalcSumAndSpectrum(TFullThrottle FullThrottle, float Speed, float& Sum, TTNMSpectrum& Spectrum) const {
    CalcSumAndSpectrum(FullThrottle, Speed, Sum, Spectrum.data());
  }

  // Copies every field from Source.
  void Assign(const TTNMEmisConsts& Source) { *this = Source; }
};

}  // namespace vez

// Fgang (frequency response): the spectrum object of the suite. A TSpectrum is a short row of band values
// that is a single value ("S"), an octave spectrum ("O") or a third-octave spectrum ("T") over a contiguous
// range of the bands of acoustics/Bands.h, with optional clamping of every stored value, band look-up by
// frequency, a binary stream form and a plain-text protocol. TSpectrumList owns spectra and finds them by
// library number; GetAnz counts the bands between two frequencies.
//
// Frequencies are whole hertz; values are stored as given (levels in dB or linear quantities) and only
// Protok interprets them. Band look-up uses this class's own frequency ranges (OktBandNr, TerzBandNr), which
// differ from OctaveCenterFreq and TerzFrequenz at the edges.
//
// Reading a spectrum from an element library needs the table engine; it lives in emission/SpectrumLibrary.h
// (SpectrumFromLibrary), which builds a TSpectrum through the operations here. We keep it out of this class
// so that the acoustic tools do not depend on the library database.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

namespace vez {

class TSpectrum {
public:
  bool CheckMinMax = false;  // every stored value is clamped to MinValue .. MaxValue
  float MinValue = 0.0f;
  float MaxValue = 0.0f;
  std::vector<float> Values;  // the band values; as many as Count
  std::string Text;           // free text; copied and persisted, set by no constructor
  std::int32_t Nr = -1;       // library record ("Eintrag") read from; -1 when not read from a library
  char Kind = 'S';            // 'S' single value, 'O' octave bands, 'T' third-octave bands
  std::uint8_t Count = 0;     // number of bands
  std::uint16_t fu = 0;       // centre frequency of the first band (for 'S' the frequency of the value)
  std::uint16_t fo = 0;       // centre frequency of the last band

  // An empty single-value spectrum (Count 0), the state a stream read fills.
  TSpectrum() = default;
  // Count zeros; clamping is on when MinValue < MaxValue.
  TSpectrum(char Kind, std::uint8_t Count, std::uint16_t fu, std::uint16_t fo, float MinValue, float MaxValue);

  // Copies every field and the values; Nr becomes -1. A null Source changes nothing.
  void Assign(const TSpectrum* Source);

  // The binary form: CheckMinMax (1 byte), MinValue, MaxValue (IEEE single), N (int32) and N values, L
  // (int32) and L bytes of Text, Kind (1 byte), Count (1 byte), fu, fo (uint16); little-endian, no header.
  // Nr is not stored. Reading a stream that ends early or has a negative count throws
  // vez::EInOutError("Stream read error"); a failing write throws vez::EInOutError("Stream write error").
  void WriteToStream(std::ostream& Stream) const;
  void ReadFromStream(std::istream& Stream);

  // 1-based access; Put stores the clamped value. Other indices throw vez::Exception("Index out of range").
  float Get(std::int32_t Index) const;
  void Put(std::int32_t Index, float Value);

  // Band numbers of a frequency for spectra: octave 1..10, third octave 1..30 (frequencies above the top
  // band wrap to band 1).
  static std::uint8_t OktBandNr(std::uint16_t Freq);
  static std::uint8_t TerzBandNr(std::uint16_t Freq);
  // oktaven[Band] for 1..10, terzen[Band] for 1..30; 0 for any other band number.
  static std::uint16_t OktFreq(std::uint8_t Band);
  static std::uint16_t TerzFreq(std::uint8_t Band);
  // Centre frequency of band i (1-based); fu for 'S' and unknown kinds.
  std::uint16_t GetFreq(std::uint8_t i) const;

  // The value of the band holding Freq, after limiting Freq to fu .. fo; the first value for 'S'.
  float GetVal(std::uint16_t Freq) const;
  // Store, or add to, the value of the band holding Freq; frequencies outside the spectrum are ignored.
  void SetVal(std::uint16_t Freq, float Value);
  void AddVal(std::uint16_t Freq, float Value);

  // Arithmetic mean of the bands whose centre lies in f1..f2; with none there, the mean of GetVal(f1) and
  // GetVal(f2).
  float GetMean(std::uint16_t f1, std::uint16_t f2) const;
  // Plain sum of the values (0 without bands).
  float GetSum() const;
  // Every value := Value, without clamping.
  void Init(float Value);
  // Value clamped to MinValue .. MaxValue when CheckMinMax is set.
  float DoCheckMinMax(float Value) const;

  // The protocol: a head line "fu =... fo =..." with the kind, then one line per band with its frequency and
  // value; Logarithmic writes 10*log10(v) (-60 for v <= 1e-6). A failing write throws vez::EInOutError.
  void Protok(std::ostream& F, bool Logarithmic) const;

private:
  // 0-based index of the band holding Freq; -1 for a kind without bands.
  int BandIndex(std::uint16_t Freq, bool OctaveLookup) const;
};

// An owning list of spectra.
class TSpectrumList {
public:
  int Count() const { return static_cast<int>(items_.size()); }
  TSpectrum& Items(int Index) { return *items_.at(static_cast<std::size_t>(Index)); }
  const TSpectrum& Items(int Index) const { return *items_.at(static_cast<std::size_t>(Index)); }
  // Takes ownership; returns the index.
  int Add(std::unique_ptr<TSpectrum> Spectrum);
  void Delete(int Index);
  void Clear() { items_.clear(); }
  // The first spectrum whose Nr equals Nr; nullptr when Nr < 1 or none has it.
  TSpectrum* Find(std::int32_t Nr) const;

private:
  std::vector<std::unique_ptr<TSpectrum>> items_;
};

// Number of bands from fu to fo: 1 for 'S'; for fu = 0, 28 ('T') or 10 (other kinds); else
// Round(ln(fo/fu)*3/ln 2) + 1 for 'T' and Round(ln(fo/fu)/ln 2) + 1 for other kinds (rounding half to even).
std::uint16_t GetAnz(char Kind, std::uint16_t fu, std::uint16_t fo);

}  // namespace vez

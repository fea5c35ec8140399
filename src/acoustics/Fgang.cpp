#include "acoustics/Fgang.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <istream>
#include <ostream>

#include "acoustics/Bands.h"
#include "core/Exceptions.h"

namespace vez {

namespace {

// Upper limits (inclusive) of bands 1..n of the spectrum's own look-up; above the last limit, band 1.
constexpr std::uint16_t kOktUpper[10] = {44, 90, 180, 354, 707, 1403, 2806, 5612, 11313, 20000};
constexpr std::uint16_t kTerzUpper[30] = {28,   35,   44,   56,   71,   90,    112,   140,   180,   224,
                                          281,  354,  449,  561,  707,  898,   1122,  1403,  1796,  2245,
                                          2806, 3536, 4490, 5612, 7072, 8980,  11224, 14030, 17959, 65000};

template <std::size_t N>
std::uint8_t BandOf(const std::uint16_t (&upper)[N], std::uint16_t freq) {
  for (std::size_t i = 0; i < N; ++i) {
    if (freq <= upper[i]) return static_cast<std::uint8_t>(i + 1);
  }
  return 1;
}

// Little-endian byte order for the stream form, whatever the machine's order.
template <typename T>
void PutLE(std::ostream& out, T value) {
  unsigned char bytes[sizeof(T)];
  std::memcpy(bytes, &value, sizeof(T));
  if constexpr (std::endian::native == std::endian::big) std::reverse(bytes, bytes + sizeof(T));
  out.write(reinterpret_cast<const char*>(bytes), sizeof(T));
}

template <typename T>
T GetLE(std::istream& in) {
  unsigned char bytes[sizeof(T)];
  if (!in.read(reinterpret_cast<char*>(bytes), sizeof(T))) throw EInOutError("Stream read error");
  if constexpr (std::endian::native == std::endian::big) std::reverse(bytes, bytes + sizeof(T));
  T value;
  std::memcpy(&value, bytes, sizeof(T));
  return value;
}

void CheckWritten(const std::ostream& out) {
  if (!out) throw EInOutError("Stream write error");
}

}  // namespace

TSpectrum::TSpectrum(char kind, std::uint8_t count, std::uint16_t lower, std::uint16_t upper, float minValue,
                     float maxValue)
    : CheckMinMax(minValue < maxValue), MinValue(minValue), MaxValue(maxValue), Values(count, 0.0f),
      Kind(kind), Count(count), fu(lower), fo(upper) {}

void TSpectrum::Assign(const TSpectrum* Source) {
  if (Source == nullptr || Source == this) {
    if (Source == this) Nr = -1;
    return;
  }
  *this = *Source;
  Nr = -1;
}

void TSpectrum::WriteToStream(std::ostream& Stream) const {
  PutLE<std::uint8_t>(Stream, CheckMinMax ? 1 : 0);
  PutLE<float>(Stream, MinValue);
  PutLE<float>(Stream, MaxValue);
  PutLE<std::int32_t>(Stream, static_cast<std::int32_t>(Values.size()));
  for (float v : Values) PutLE<float>(Stream, v);
  PutLE<std::int32_t>(Stream, static_cast<std::int32_t>(Text.size()));
  Stream.write(Text.data(), static_cast<std::streamsize>(Text.size()));
  PutLE<std::uint8_t>(Stream, static_cast<std::uint8_t>(Kind));
  PutLE<std::uint8_t>(Stream, Count);
  PutLE<std::uint16_t>(Stream, fu);
  PutLE<std::uint16_t>(Stream, fo);
  CheckWritten(Stream);
}

void TSpectrum::ReadFromStream(std::istream& Stream) {
  const bool checkMinMax = GetLE<std::uint8_t>(Stream) != 0;
  const float minValue = GetLE<float>(Stream);
  const float maxValue = GetLE<float>(Stream);
  const std::int32_t n = GetLE<std::int32_t>(Stream);
  if (n < 0) throw EInOutError("Stream read error");
  // Values are read one by one, so a damaged count fails at the stream's end instead of allocating first.
  std::vector<float> values;
  for (std::int32_t i = 0; i < n; ++i) values.push_back(GetLE<float>(Stream));
  const std::int32_t length = GetLE<std::int32_t>(Stream);
  std::string text;
  if (length > 0) {
    constexpr std::int32_t kChunk = 4096;
    for (std::int32_t done = 0; done < length;) {
      const std::int32_t part = std::min(kChunk, length - done);
      const std::size_t at = text.size();
      text.resize(at + static_cast<std::size_t>(part));
      if (!Stream.read(text.data() + at, part)) throw EInOutError("Stream read error");
      done += part;
    }
  }
  const char kind = static_cast<char>(GetLE<std::uint8_t>(Stream));
  const std::uint8_t count = GetLE<std::uint8_t>(Stream);
  const std::uint16_t lower = GetLE<std::uint16_t>(Stream);
  const std::uint16_t upper = GetLE<std::uint16_t>(Stream);
  // Only a complete read changes the object.
  CheckMinMax = checkMinMax;
  MinValue = minValue;
  MaxValue = maxValue;
  Values = std::move(values);
  Text = std::move(text);
  Kind = kind;
  Count = count;
  fu = lower;
  fo = upper;
}

float TSpectrum::Get(std::int32_t Index) const {
  if (Index < 1 || Index > Count || static_cast<std::size_t>(Index) > Values.size()) {
    throw Exception("Index out of range");
  }
  return Values[static_cast<std::size_t>(Index - 1)];
}

void TSpectrum::Put(std::int32_t Index, float Value) {
  if (Index < 1 || Index > Count || static_cast<std::size_t>(Index) > Values.size()) {
    throw Exception("Index out of range");
  }
  Values[static_cast<std::size_t>(Index - 1)] = DoCheckMinMax(Value);
}

std::uint8_t TSpectrum::OktBandNr(std::uint16_t Freq) { return BandOf(kOktUpper, Freq); }
std::uint8_t TSpectrum::TerzBandNr(std::uint16_t Freq) { return BandOf(kTerzUpper, Freq); }

std::uint16_t TSpectrum::OktFreq(std::uint8_t Band) { return Band >= 1 && Band <= 10 ? oktaven[Band] : 0; }
std::uint16_t TSpectrum::TerzFreq(std::uint8_t Band) { return Band >= 1 && Band <= 30 ? terzen[Band] : 0; }

std::uint16_t TSpectrum::GetFreq(std::uint8_t i) const {
  switch (Kind) {
    case 'O': return OktFreq(static_cast<std::uint8_t>(OktBandNr(fu) + i - 1));
    case 'T': return TerzFreq(static_cast<std::uint8_t>(TerzBandNr(fu) + i - 1));
    default: return fu;
  }
}

int TSpectrum::BandIndex(std::uint16_t Freq, bool OctaveLookup) const {
  if (OctaveLookup) return OktBandNr(Freq) - OktBandNr(fu);
  return TerzBandNr(Freq) - TerzBandNr(fu);
}

float TSpectrum::GetVal(std::uint16_t Freq) const {
  if (Values.empty()) return 0.0f;
  if (Kind != 'O' && Kind != 'T') return Values[0];
  const std::uint16_t f = std::clamp(Freq, std::min(fu, fo), std::max(fu, fo));
  const int index = BandIndex(f, Kind == 'O');
  if (index < 0 || static_cast<std::size_t>(index) >= Values.size()) return 0.0f;
  return Values[static_cast<std::size_t>(index)];
}

void TSpectrum::SetVal(std::uint16_t Freq, float Value) {
  if (Kind != 'O' && Kind != 'T' && Kind != 'S') return;
  const int index = BandIndex(Freq, Kind == 'O');
  if (index < 0 || index >= Count || static_cast<std::size_t>(index) >= Values.size()) return;
  Values[static_cast<std::size_t>(index)] = DoCheckMinMax(Value);
}

void TSpectrum::AddVal(std::uint16_t Freq, float Value) {
  if (Kind != 'O' && Kind != 'T' && Kind != 'S') return;
  const int index = BandIndex(Freq, Kind == 'O');
  if (index < 0 || index >= Count || static_cast<std::size_t>(index) >= Values.size()) return;
  float& v = Values[static_cast<std::size_t>(index)];
  v = DoCheckMinMax(v + Value);
}

float TSpectrum::GetMean(std::uint16_t f1, std::uint16_t f2) const {
  double sum = 0.0;
  int n = 0;
  for (int i = 1; i <= Count && static_cast<std::size_t>(i) <= Values.size(); ++i) {
    const std::uint16_t f = GetFreq(static_cast<std::uint8_t>(i));
    if (f >= f1 && f <= f2) {
      sum += Values[static_cast<std::size_t>(i - 1)];
      ++n;
    }
  }
  if (n == 0) return static_cast<float>((static_cast<double>(GetVal(f1)) + GetVal(f2)) * 0.5);
  return static_cast<float>(sum / n);
}

float TSpectrum::GetSum() const {
  double sum = 0.0;
  for (int i = 0; i < Count && static_cast<std::size_t>(i) < Values.size(); ++i) sum += Values[static_cast<std::size_t>(i)];
  return static_cast<float>(sum);
}

void TSpectrum::Init(float Value) { std::fill(Values.begin(), Values.end(), Value); }

float TSpectrum::DoCheckMinMax(float Value) const {
  if (!CheckMinMax) return Value;
  float v = Value;
  if (v < MinValue) v = MinValue;
  if (v > MaxValue) v = MaxValue;
  return v;
}

void TSpectrum::Protok(std::ostream& F, bool Logarithmic) const {
  const auto checkLine = [&F] {
    if (!F) throw EInOutError("I/O error 101");
  };
  char line[96];
  std::snprintf(line, sizeof line, "fu =%10u fo =%10u", static_cast<unsigned>(fu), static_cast<unsigned>(fo));
  F << line;
  switch (Kind) {
    case 'O': F << " in Oktaven"; break;
    case 'S': F << " Einzelwert"; break;
    case 'T': F << " in Terzen"; break;
    default: break;
  }
  F << '\n';
  checkLine();
  for (int i = 1; i <= Count && static_cast<std::size_t>(i) <= Values.size(); ++i) {
    double v = Values[static_cast<std::size_t>(i - 1)];
    if (Logarithmic) v = v > 1e-6 ? 10.0 * std::log10(v) : -60.0;
    std::snprintf(line, sizeof line, "%6uHz \t%10.5f\n", static_cast<unsigned>(GetFreq(static_cast<std::uint8_t>(i))), v);
    F << line;
    checkLine();
  }
}

int TSpectrumList::Add(std::unique_ptr<TSpectrum> Spectrum) {
  items_.push_back(std::move(Spectrum));
  return Count() - 1;
}

void TSpectrumList::Delete(int Index) {
  if (Index < 0 || Index >= Count()) throw EListError("List index out of bounds (" + std::to_string(Index) + ")");
  items_.erase(items_.begin() + Index);
}

TSpectrum* TSpectrumList::Find(std::int32_t Nr) const {
  if (Nr < 1) return nullptr;
  for (const auto& s : items_) {
    if (s && s->Nr == Nr) return s.get();
  }
  return nullptr;
}

std::uint16_t GetAnz(char Kind, std::uint16_t fu, std::uint16_t fo) {
  if (Kind == 'S') return 1;
  if (fu == 0) return Kind == 'T' ? 28 : 10;
  if (fo == 0) return 0;
  constexpr double kLn2 = 0.69314718056;
  const double ratio = std::log(static_cast<double>(fo) / fu);
  const double bands = std::nearbyint(Kind == 'T' ? ratio * 3.0 / kLn2 : ratio / kLn2) + 1.0;  // half to even
  return bands < 0.0 ? 0 : static_cast<std::uint16_t>(bands);
}

}  // namespace vez

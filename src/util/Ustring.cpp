#include "util/Ustring.h"

#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <vector>

#include <fmt/format.h>

#include "core/Exceptions.h"
#include "core/FormatSettings.h"
#include "core/StringList.h"
#include "core/TextEncoding.h"

namespace vez {

// ---- padding ----

std::string PadCh(std::string_view S, char Ch, std::int32_t Len) {
  std::string s(S);
  if (Len > 0 && static_cast<std::size_t>(Len) > s.size()) s.append(static_cast<std::size_t>(Len) - s.size(), Ch);
  return s;
}

std::string Pad(std::string_view S, std::int32_t Len) { return PadCh(S, ' ', Len); }

std::string LeftPadCh(std::string_view S, char Ch, std::int32_t Len) {
  if (Len <= 0 || static_cast<std::size_t>(Len) <= S.size()) return std::string(S);
  std::string s(static_cast<std::size_t>(Len) - S.size(), Ch);
  s += S;
  return s;
}

std::string LeftPad(std::string_view S, std::int32_t Len) { return LeftPadCh(S, ' ', Len); }

// ---- numbers, levels and durations ----

std::string F2SShort(double X) {
  if (std::isnan(X)) return "NAN";
  if (std::isinf(X)) return X > 0 ? "INF" : "-INF";
  std::string s = fmt::format("{:15.5f}", X);
  while (!s.empty() && s.back() == '0') s.pop_back();
  if (!s.empty() && s.back() == '.') s.pop_back();
  s = Trim(s);
  if (s == "-0") s = "0";
  return s;
}

std::string PegelToStr(double Level, double Threshold, std::uint8_t Digits) {
  if (Level > Threshold) return FloatToStrF(Level, FloatFormat::Fixed, 7, Digits);
  return "-";
}

namespace {

std::string DurationText(std::int64_t d, std::int64_t h, std::int64_t m, std::int64_t s, std::int64_t ms) {
  if (d > 0) return Format("%.2d:%.2d:%.2d [d:h:m]", d, h, m);
  if (h > 0) return Format("%.2d:%.2d:%.2d [h:m:s]", h, m, s);
  return Format("%.2d:%.2d:%.3d [m:s:ms]", m, s, ms);
}

}  // namespace

std::string MsecToStr(std::int32_t Ms) {
  const std::int64_t ms = Ms % 1000;
  const std::int64_t total = Ms / 1000;
  const std::int64_t s = total % 60;
  const std::int64_t minutes = total / 60;
  const std::int64_t m = minutes % 60;
  const std::int64_t hours = minutes / 60;
  const std::int64_t h = hours % 24;
  const std::int64_t d = hours / 24;
  return DurationText(d, h, m, s, ms);
}

std::string DiffTimeStr(double T1, double T2, bool ShowMs) {
  const double span = std::fabs(T1 - T2);
  // Whole milliseconds; spans beyond what 64 bits hold (or NaN) are shown as their largest value.
  constexpr double kMsPerDay = 86400000.0;
  const double rounded = std::round(span * kMsPerDay);
  const std::int64_t total = (rounded >= 0 && rounded < 9.0e18) ? static_cast<std::int64_t>(rounded)
                                                                  : std::numeric_limits<std::int64_t>::max();
  const std::int64_t d = total / 86400000;
  const std::int64_t h = total / 3600000 % 24;
  const std::int64_t m = total / 60000 % 60;
  const std::int64_t s = total / 1000 % 60;
  const std::int64_t ms = total % 1000;
  if (d > 0) return DurationText(d, h, m, s, ms);
  if (h > 0 || !ShowMs) return Format("%.2d:%.2d:%.2d [h:m:s]", h, m, s);
  return DurationText(0, 0, m, s, ms);
}

// ---- scanners ----

namespace {

// The longest text a 16-bit position can walk through (the position after it is 65535).
constexpr std::size_t kMaxScanLength = 65534;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Steps 1-4 of every number scanner: skip to the next number character, collect the run of number characters.
// Returns false (Pos untouched) when no number starts there; on success `text` holds the run and `next` the
// position after it.
template <typename IsNumberChar>
bool CollectNumber(std::string_view S, std::uint16_t Pos, IsNumberChar isNumberChar, std::string& text,
                   std::size_t& next) {
  if (Pos == 0) return false;
  const std::string_view s = S.substr(0, std::min(S.size(), kMaxScanLength));
  std::size_t i = Pos - 1u;  // 0-based
  while (i < s.size() && !isNumberChar(s[i]) && s[i] != '\0' && static_cast<unsigned char>(s[i]) != 254) ++i;
  if (i >= s.size() || !isNumberChar(s[i])) return false;
  text.clear();
  while (i < s.size() && isNumberChar(s[i])) text += s[i++];
  next = i + 1;  // 1-based
  return true;
}

// A run of "-" and digits as a decimal integer.
bool ParseInt(const std::string& text, std::int32_t& value) {
  const char* first = text.data();
  const char* last = first + text.size();
  const auto [ptr, ec] = std::from_chars(first, last, value);
  return ec == std::errc() && ptr == last;
}

// A run of "-", digits and "." as a decimal number ("-.5" and "5." included).
bool ParseReal(std::string text, double& value) {
  if (!text.empty() && text.back() == '.') text += '0';
  const char* first = text.data();
  const char* last = first + text.size();
  const auto [ptr, ec] = std::from_chars(first, last, value, std::chars_format::fixed);
  return ec == std::errc() && ptr == last && std::isfinite(value);
}

double ScanReal(std::string_view S, std::uint16_t& Pos, double Min, double Max, std::uint8_t& Err, char decSep,
                bool commaToo) {
  Err = 0;
  const auto isNumberChar = [&](char c) {
    return IsDigit(c) || c == '-' || c == decSep || (commaToo && (c == ',' || c == '.'));
  };
  std::string text;
  std::size_t next = 0;
  double value = kStriRealInvalid;
  bool readable = CollectNumber(S, Pos, isNumberChar, text, next);
  if (readable) {
    for (char& c : text) {
      if (c == decSep || (commaToo && c == ',')) c = '.';
    }
    readable = ParseReal(text, value);
  }
  if (readable && Min <= value && value <= Max) {
    Pos = static_cast<std::uint16_t>(next);
    return value;
  }
  Err = 1;
  return 0.0;
}

}  // namespace

std::int32_t striint(std::string_view S, std::uint16_t& Pos, std::int32_t Min, std::int32_t Max, std::uint8_t& Err) {
  Err = 0;
  const auto isNumberChar = [](char c) { return IsDigit(c) || c == '-'; };
  std::string text;
  std::size_t next = 0;
  std::int32_t value = kStriIntInvalid;
  const bool readable = CollectNumber(S, Pos, isNumberChar, text, next) && ParseInt(text, value);
  if (readable && Min <= value && value <= Max) {
    Pos = static_cast<std::uint16_t>(next);
    return value;
  }
  Err = 1;
  return 0;
}

bool striBool(std::string_view S, std::uint16_t& Pos, std::uint8_t& Err) { return striint(S, Pos, 0, 1, Err) == 1; }

double strireal(std::string_view S, std::uint16_t& Pos, double Min, double Max, std::uint8_t& Err) {
  return ScanReal(S, Pos, Min, Max, Err, '.', true);
}

double StriFloat(std::string_view S, std::uint16_t& Pos, double Min, double Max, std::uint8_t& Err, char DecSep) {
  return ScanReal(S, Pos, Min, Max, Err, DecSep, false);
}

void stristri(std::string_view S, std::uint16_t& Pos, char Sep, std::string& Sub, std::uint8_t& Err) {
  Sub.clear();
  Err = 1;
  const std::string_view s = S.substr(0, std::min(S.size(), kMaxScanLength));
  if (Pos == 0 || Pos > s.size()) return;
  const std::size_t p = s.find(Sep, Pos - 1u);
  if (p == std::string_view::npos) return;
  Sub.assign(s.substr(Pos - 1u, p - (Pos - 1u)));
  Pos = static_cast<std::uint16_t>(p + 2);
  Err = 0;
}

// ---- fields ----

char SearchSeparator(std::string_view S) {
  for (const char sep : {'\t', ';', ' ', ','}) {
    if (S.find(sep) != std::string_view::npos) return sep;
  }
  return '\0';
}

bool GetNextSubStr(char Sep, std::string& S, std::string& Sub) {
  Sub.clear();
  if (S.empty()) return false;
  if (Sep == ' ') {
    S = Trim(S);
    if (S.empty()) return false;
  }
  if (S.front() == Sep) {
    S.erase(0, 1);
    return !S.empty();
  }
  S = Trim(S);
  const std::size_t p = S.find(Sep);
  if (p == std::string::npos) {
    Sub = S;
    S.clear();
  } else {
    Sub = Trim(std::string_view(S).substr(0, p));
    S.erase(0, p + 1);
  }
  return true;
}

bool GetTitleTexts(std::string_view S, char& Sep, StringList* List) {
  Sep = '\0';
  if (List == nullptr || S.empty()) return false;
  List->Clear();
  std::string s = Trim(S);
  Sep = SearchSeparator(s);
  if (Sep != '\0') {
    std::string sub;
    while (GetNextSubStr(Sep, s, sub)) List->Add(sub);
  }
  return !List->Empty();
}

bool StrToValue(std::string_view S, double& Value) {
  std::string s = Trim(S);
  const char decimal = GlobalFormatSettings().DecimalSeparator;
  const char other = decimal != '.' ? '.' : ',';
  const std::size_t p = s.find(other);
  if (p != std::string::npos) s[p] = decimal;
  try {
    Value = StrToFloat(s);
    return true;
  } catch (const EConvertError&) {
    Value = 0.0;
    return false;
  }
}

int CompareAlphaNum(std::string_view A, std::string_view B) {
  // The chunk starting at i: a run of digits or a run of non-digits, whichever the character at i begins.
  const auto chunk = [](std::string_view s, std::size_t& i) {
    const std::size_t start = i;
    if (i < s.size()) {
      const bool digits = IsDigit(s[i]);
      while (i < s.size() && IsDigit(s[i]) == digits) ++i;
    }
    return std::string(s.substr(start, i - start));
  };
  std::size_t i = 0, j = 0;
  for (;;) {
    std::string a = chunk(A, i);
    std::string b = chunk(B, j);
    if (!a.empty() && !b.empty() && IsDigit(a.front()) && IsDigit(b.front())) {
      if (a.size() < b.size()) a.insert(0, b.size() - a.size(), '0');
      if (b.size() < a.size()) b.insert(0, a.size() - b.size(), '0');
    }
    const int c = a.compare(b);
    if (c != 0) return c < 0 ? -1 : 1;
    if (a.empty()) return 0;
  }
}

// ---- platform ----

namespace {

constexpr int kOemCodePage = 850;
constexpr int kAnsiCodePage = 1252;
constexpr std::size_t kShortStringMax = 255;

std::string ConvertShort(std::string_view S, int from, int to) {
  return ConvertCodePage(S.substr(0, std::min(S.size(), kShortStringMax)), from, to);
}

}  // namespace

std::string ConvStrToANSI(std::string_view S) { return ConvertShort(S, kOemCodePage, kAnsiCodePage); }

std::string ConvStrToOEM(std::string_view S) { return ConvertShort(S, kAnsiCodePage, kOemCodePage); }

std::string GetMyComputerName() {
  constexpr std::size_t kMaxName = 15;
  char buffer[256] = {};
  if (gethostname(buffer, sizeof buffer - 1) != 0) return {};
  std::string name(buffer);
  const std::size_t dot = name.find('.');
  if (dot != std::string::npos) name.resize(dot);
  if (name.size() > kMaxName) name.resize(kMaxName);
  return name;
}

void SetTabOrder(TScreenControl& Parent) {
  std::vector<TScreenControl*> windowed;
  const int count = Parent.ChildCount();
  for (int i = 0; i < count; ++i) {
    TScreenControl& child = Parent.Child(i);
    if (!child.IsWindowed()) continue;
    SetTabOrder(child);
    windowed.push_back(&child);
  }
  std::stable_sort(windowed.begin(), windowed.end(), [](const TScreenControl* a, const TScreenControl* b) {
    if (a->Top() != b->Top()) return a->Top() < b->Top();
    return a->Left() < b->Left();
  });
  for (std::size_t i = 0; i < windowed.size(); ++i) windowed[i]->SetTabOrder(static_cast<std::int32_t>(i));
}

}  // namespace vez

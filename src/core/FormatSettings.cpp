#include "core/FormatSettings.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "core/Exceptions.h"

namespace vez {

FormatSettings& GlobalFormatSettings() {
  static FormatSettings settings;
  return settings;
}

DecimalSeparatorScope::DecimalSeparatorScope(char separator) : saved_(GlobalFormatSettings().DecimalSeparator) {
  GlobalFormatSettings().DecimalSeparator = separator;
}

DecimalSeparatorScope::~DecimalSeparatorScope() { GlobalFormatSettings().DecimalSeparator = saved_; }

// ---- numbers ----

namespace {

// A double as decimal digits: value = 0.d1d2d3... * 10^(Exponent + 1) with Digits[0] != '0' unless zero.
struct Decimal {
  bool Negative = false;
  std::string Digits;  // significant digits, no leading zeros; "0" for zero
  int Exponent = 0;    // decimal exponent of the first digit
};

// Digits and exponent of a text in scientific notation ("d.ddde+XX") of a non-negative number.
Decimal FromScientific(bool negative, std::string_view s) {
  Decimal d;
  d.Negative = negative;
  const auto e = s.find('e');
  for (std::size_t i = 0; i < e; ++i)
    if (s[i] != '.') d.Digits += s[i];
  d.Exponent = std::atoi(std::string(s.substr(e + 1)).c_str());
  return d;
}

// The double rounded to `precision` significant digits.
Decimal ToDecimal(double value, int precision) {
  const double a = std::fabs(value);
  if (a == 0.0) return Decimal{std::signbit(value), "0", 0};
  char buf[64];
  const int n = std::snprintf(buf, sizeof buf, "%.*e", precision - 1, a);
  return FromScientific(std::signbit(value), std::string_view(buf, static_cast<std::size_t>(n)));
}

// The fewest digits that read back as the same double.
Decimal ToDecimalShortest(double value) {
  const double a = std::fabs(value);
  if (a == 0.0) return Decimal{std::signbit(value), "0", 0};
  char buf[64];
  const auto res = std::to_chars(buf, buf + sizeof buf, a, std::chars_format::scientific);
  return FromScientific(std::signbit(value), std::string_view(buf, static_cast<std::size_t>(res.ptr - buf)));
}

void StripTrailingZeros(std::string& digits) {
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
}

std::string ExponentText(int exponent, int minDigits, bool forceSign) {
  std::string s = "E";
  if (exponent < 0) s += '-';
  else if (forceSign) s += '+';
  std::string n = std::to_string(std::abs(exponent));
  while (static_cast<int>(n.size()) < minDigits) n.insert(n.begin(), '0');
  return s + n;
}

std::string GeneralText(const Decimal& dec, int precision, char decSep) {
  std::string digits = dec.Digits;
  StripTrailingZeros(digits);
  std::string out = dec.Negative && digits != "0" ? "-" : "";
  if (digits == "0") return "0";
  const int e = dec.Exponent;
  if (e >= -5 && e < precision) {
    if (e < 0) {
      out += '0';
      out += decSep;
      out.append(static_cast<std::size_t>(-e - 1), '0');
      out += digits;
    } else {
      const int intLen = e + 1;
      if (static_cast<int>(digits.size()) <= intLen) {
        out += digits;
        out.append(static_cast<std::size_t>(intLen - static_cast<int>(digits.size())), '0');
      } else {
        out += digits.substr(0, static_cast<std::size_t>(intLen));
        out += decSep;
        out += digits.substr(static_cast<std::size_t>(intLen));
      }
    }
    return out;
  }
  out += digits[0];
  if (digits.size() > 1) {
    out += decSep;
    out += digits.substr(1);
  }
  return out + ExponentText(e, 0, false);
}

std::string SpecialText(double value) {
  if (std::isnan(value)) return "NAN";
  return value < 0 ? "-INF" : "INF";
}

// Rounds the decimal digits half away from zero to keep `decimals` digits after the point; returns the integer
// and fraction digit strings.
void RoundFixed(const Decimal& dec, int decimals, std::string& intPart, std::string& fracPart) {
  // Lay out the digits around the decimal point.
  std::string all;  // digits with the point after position `point`
  int point;
  if (dec.Digits == "0") {
    all = "0";
    point = 1;
  } else if (dec.Exponent >= 0) {
    all = dec.Digits;
    point = dec.Exponent + 1;
    if (static_cast<int>(all.size()) < point) all.append(static_cast<std::size_t>(point) - all.size(), '0');
  } else {
    all = std::string(static_cast<std::size_t>(-dec.Exponent), '0') + dec.Digits;
    point = 1;
  }
  const int keep = point + decimals;
  if (static_cast<int>(all.size()) < keep) all.append(static_cast<std::size_t>(keep) - all.size(), '0');
  if (static_cast<int>(all.size()) > keep) {
    const bool up = all[static_cast<std::size_t>(keep)] >= '5';
    all.resize(static_cast<std::size_t>(keep));
    if (up) {
      int i = keep - 1;
      for (; i >= 0; --i) {
        if (all[static_cast<std::size_t>(i)] == '9') {
          all[static_cast<std::size_t>(i)] = '0';
        } else {
          ++all[static_cast<std::size_t>(i)];
          break;
        }
      }
      if (i < 0) {
        all.insert(all.begin(), '1');
        ++point;
      }
    }
  }
  intPart = all.substr(0, static_cast<std::size_t>(point));
  fracPart = all.substr(static_cast<std::size_t>(point));
  const auto nz = intPart.find_first_not_of('0');
  intPart = nz == std::string::npos ? "0" : intPart.substr(nz);
}

}  // namespace

std::string FloatToStrShortest(double value) {
  if (!std::isfinite(value)) return SpecialText(value);
  const Decimal dec = ToDecimalShortest(value);
  const int precision = std::max(15, static_cast<int>(dec.Digits.size()));
  return GeneralText(dec, precision, GlobalFormatSettings().DecimalSeparator);
}

std::string FloatToStr(double value) { return FloatToStr(value, GlobalFormatSettings()); }

std::string FloatToStr(double value, const FormatSettings& settings) {
  return FloatToStrF(value, FloatFormat::General, 15, 0, settings);
}

std::string FloatToStrF(double value, FloatFormat format, int precision, int digits) {
  return FloatToStrF(value, format, precision, digits, GlobalFormatSettings());
}

std::string FloatToStrF(double value, FloatFormat format, int precision, int digits,
                        const FormatSettings& settings) {
  if (!std::isfinite(value)) return SpecialText(value);
  precision = std::clamp(precision, 1, 18);
  const Decimal dec = ToDecimal(value, precision);
  const char sep = settings.DecimalSeparator;
  if (format == FloatFormat::General) return GeneralText(dec, precision, sep);

  auto exponentForm = [&](int expDigits) {
    std::string out = dec.Negative && dec.Digits != "0" ? "-" : "";
    std::string d = dec.Digits;
    d.resize(static_cast<std::size_t>(precision), '0');
    out += d[0];
    if (precision > 1) {
      out += sep;
      out += d.substr(1);
    }
    return out + ExponentText(dec.Digits == "0" ? 0 : dec.Exponent, std::clamp(expDigits, 0, 4), true);
  };
  if (format == FloatFormat::Exponent) return exponentForm(digits);

  // Fixed and Number.
  if (dec.Digits != "0" && dec.Exponent + 1 > precision) return exponentForm(2);
  digits = std::clamp(digits, 0, 18);
  std::string intPart, fracPart;
  RoundFixed(dec, digits, intPart, fracPart);
  if (format == FloatFormat::Number && intPart.size() > 3) {
    std::string grouped;
    const std::size_t n = intPart.size();
    for (std::size_t i = 0; i < n; ++i) {
      if (i > 0 && (n - i) % 3 == 0) grouped += settings.ThousandSeparator;
      grouped += intPart[i];
    }
    intPart = grouped;
  }
  const bool allZero = intPart.find_first_not_of("0") == std::string::npos &&
                       fracPart.find_first_not_of('0') == std::string::npos;
  std::string out = dec.Negative && !allZero ? "-" : "";
  out += intPart;
  if (digits > 0) {
    out += sep;
    out += fracPart;
  }
  return out;
}

bool TryStrToFloat(std::string_view text, double& value) {
  return TryStrToFloat(text, value, GlobalFormatSettings());
}

bool TryStrToFloat(std::string_view text, double& value, const FormatSettings& settings) {
  std::size_t i = 0, n = text.size();
  while (i < n && text[i] == ' ') ++i;
  while (n > i && text[n - 1] == ' ') --n;
  std::string s;
  if (i < n && (text[i] == '+' || text[i] == '-')) s += text[i++];
  std::size_t mantDigits = 0;
  while (i < n && text[i] >= '0' && text[i] <= '9') { s += text[i++]; ++mantDigits; }
  if (i < n && text[i] == settings.DecimalSeparator) {
    s += '.';
    ++i;
    while (i < n && text[i] >= '0' && text[i] <= '9') { s += text[i++]; ++mantDigits; }
  }
  if (mantDigits == 0) return false;
  if (i < n && (text[i] == 'e' || text[i] == 'E')) {
    s += 'e';
    ++i;
    if (i < n && (text[i] == '+' || text[i] == '-')) s += text[i++];
    std::size_t expDigits = 0;
    while (i < n && text[i] >= '0' && text[i] <= '9') { s += text[i++]; ++expDigits; }
    if (expDigits == 0) return false;
  }
  if (i != n) return false;
  const char* begin = s.c_str();
  if (*begin == '+') ++begin;
  double v = 0;
  auto res = std::from_chars(begin, s.c_str() + s.size(), v);
  if (res.ec == std::errc::result_out_of_range) {
    // Underflow reads as zero; overflow is an error, as the platform reports it.
    if (std::strtod(begin, nullptr) == 0.0 || std::fabs(std::strtod(begin, nullptr)) < 1.0) {
      value = 0.0;
      return true;
    }
    return false;
  }
  if (res.ec != std::errc() || res.ptr != s.c_str() + s.size()) return false;
  value = v;
  return true;
}

double StrToFloat(std::string_view text) { return StrToFloat(text, GlobalFormatSettings()); }

double StrToFloat(std::string_view text, const FormatSettings& settings) {
  double v;
  if (!TryStrToFloat(text, v, settings))
    throw EConvertError(Format("'%s' is not a valid floating point value", std::string(text)));
  return v;
}

bool TryRoundToInt64(double value, std::int64_t& result) {
  const double r = std::nearbyint(value);  // default rounding mode: half to even
  if (!(r >= -0x1p63 && r < 0x1p63)) return false;  // both limits are exact doubles; NaN fails too
  result = static_cast<std::int64_t>(r);
  return true;
}

bool TryStrToInt64(std::string_view text, std::int64_t& value) {
  std::string t = Trim(text);
  if (t.empty()) return false;
  bool negative = false;
  std::size_t i = 0;
  if (t[0] == '-' || t[0] == '+') {
    negative = t[0] == '-';
    ++i;
  }
  int base = 10;
  if (i < t.size() && t[i] == '$') {
    base = 16;
    ++i;
  } else if (i + 1 < t.size() && t[i] == '0' && (t[i + 1] == 'x' || t[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i >= t.size()) return false;
  std::uint64_t magnitude = 0;
  auto res = std::from_chars(t.data() + i, t.data() + t.size(), magnitude, base);
  if (res.ec != std::errc() || res.ptr != t.data() + t.size()) return false;
  if (negative) {
    if (magnitude > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) + 1) return false;
    value = static_cast<std::int64_t>(0 - magnitude);
  } else {
    if (base == 10 && magnitude > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) return false;
    value = static_cast<std::int64_t>(magnitude);
  }
  return true;
}

bool TryStrToInt(std::string_view text, std::int32_t& value) {
  std::int64_t v;
  if (!TryStrToInt64(text, v)) return false;
  if (v < std::numeric_limits<std::int32_t>::min() || v > std::numeric_limits<std::int32_t>::max()) {
    // Hexadecimal up to 32 bits wraps, as the platform reads "$FFFFFFFF" as -1.
    if (v > 0 && v <= 0xFFFFFFFFLL && Trim(text).find_first_of("$xX") != std::string::npos) {
      value = static_cast<std::int32_t>(static_cast<std::uint32_t>(v));
      return true;
    }
    return false;
  }
  value = static_cast<std::int32_t>(v);
  return true;
}

std::int64_t StrToInt64(std::string_view text) {
  std::int64_t v;
  if (!TryStrToInt64(text, v)) throw EConvertError(Format("'%s' is not a valid integer value", std::string(text)));
  return v;
}

std::int32_t StrToInt(std::string_view text) {
  std::int32_t v;
  if (!TryStrToInt(text, v)) throw EConvertError(Format("'%s' is not a valid integer value", std::string(text)));
  return v;
}

std::string IntToStr(std::int64_t value) { return std::to_string(value); }

// ---- text ----

std::string Trim(std::string_view s) {
  std::size_t i = 0, n = s.size();
  while (i < n && static_cast<unsigned char>(s[i]) <= ' ') ++i;
  while (n > i && static_cast<unsigned char>(s[n - 1]) <= ' ') --n;
  return std::string(s.substr(i, n - i));
}

std::string TrimLeft(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size() && static_cast<unsigned char>(s[i]) <= ' ') ++i;
  return std::string(s.substr(i));
}

std::string TrimRight(std::string_view s) {
  std::size_t n = s.size();
  while (n > 0 && static_cast<unsigned char>(s[n - 1]) <= ' ') --n;
  return std::string(s.substr(0, n));
}

std::string UpperCase(std::string_view s) {
  std::string r(s);
  for (char& c : r)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return r;
}

std::string LowerCase(std::string_view s) {
  std::string r(s);
  for (char& c : r)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return r;
}

int CompareText(std::string_view a, std::string_view b) {
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if (x >= 'a' && x <= 'z') x = static_cast<unsigned char>(x - 32);
    if (y >= 'a' && y <= 'z') y = static_cast<unsigned char>(y - 32);
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

bool SameText(std::string_view a, std::string_view b) { return a.size() == b.size() && CompareText(a, b) == 0; }

namespace {
constexpr char kPathDelim = '/';
std::size_t LastDelimiter(std::string_view path) { return path.find_last_of(kPathDelim); }
}  // namespace

std::string IncludeTrailingPathDelimiter(std::string_view path) {
  std::string r(path);
  if (r.empty() || r.back() != kPathDelim) r += kPathDelim;
  return r;
}

std::string ExtractFileName(std::string_view path) {
  const auto p = LastDelimiter(path);
  return std::string(p == std::string_view::npos ? path : path.substr(p + 1));
}

std::string ExtractFilePath(std::string_view path) {
  const auto p = LastDelimiter(path);
  return p == std::string_view::npos ? std::string() : std::string(path.substr(0, p + 1));
}

std::string ExtractFileExt(std::string_view path) {
  const auto d = path.find_last_of(".");
  const auto p = LastDelimiter(path);
  if (d == std::string_view::npos || (p != std::string_view::npos && d < p)) return std::string();
  return std::string(path.substr(d));
}

std::string ChangeFileExt(std::string_view path, std::string_view ext) {
  const auto d = path.find_last_of(".");
  const auto p = LastDelimiter(path);
  std::string base(path);
  if (d != std::string_view::npos && (p == std::string_view::npos || d > p)) base = std::string(path.substr(0, d));
  return base + std::string(ext);
}

}  // namespace vez

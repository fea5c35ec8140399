#include "output/ValueText.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>

#include <fmt/compile.h>
#include <fmt/format.h>

#include "core/FormatSettings.h"
#include "core/TextEncoding.h"

namespace vez {

ValueStyle ValueStyleOf(TFieldType type) {
  switch (type) {
    case ftSmallint:
    case ftInteger:
    case ftWord:
    case ftAutoInc:
    case ftLargeint: return ValueStyle::Integer;
    case ftFloat:
    case ftCurrency:
    case ftBCD: return ValueStyle::Float;
    case ftBoolean: return ValueStyle::Boolean;
    case ftDate:
    case ftTime:
    case ftDateTime: return ValueStyle::DateTime;
    case ftBlob:
    case ftGraphic:
    case ftBytes:
    case ftVarBytes:
    case ftTypedBinary:
    case ftParadoxOle:
    case ftDBaseOle: return ValueStyle::Binary;
    default: return ValueStyle::Text;
  }
}

TFieldType ParadoxColumnType(std::int32_t paradoxType) {
  switch (paradoxType) {
    case 2: return ftDate;
    case 3: return ftSmallint;
    case 4: return ftInteger;
    case 5: return ftCurrency;
    case 6: return ftFloat;
    case 9: return ftBoolean;
    case 12: return ftMemo;
    case 13: return ftBlob;
    case 14: return ftFmtMemo;
    case 15: return ftParadoxOle;
    case 16: return ftGraphic;
    case 20: return ftTime;
    case 21: return ftDateTime;
    case 22: return ftAutoInc;
    case 23: return ftBCD;
    case 24: return ftBytes;
    default: return ftString;
  }
}

std::string EngineTypeLabel(std::int32_t code) {
  switch (code) {
    case aftString: return "text";
    case aftSmallInt: return "int16";
    case aftInteger: return "int32";
    case aftWord: return "uint16";
    case aftAutoInc: return "autoinc";
    case aftDouble: return "double";
    case aftBoolean: return "boolean";
    case aftDateTime: return "datetime";
    case aftBlob: return "blob";
    case aftGraphic: return "graphic";
    case aftMemo: return "memo";
    default: return "code " + std::to_string(code);
  }
}

std::string IndexOptionsText(TIndexOptions options) {
  std::string text;
  auto add = [&](const char* word) {
    if (!text.empty()) text += ',';
    text += word;
  };
  if (options & ixPrimary) add("primary");
  if (options & ixUnique) add("unique");
  if (options & ixDescending) add("descending");
  if (options & ixCaseInsensitive) add("case-insensitive");
  return text.empty() ? "none" : text;
}

std::string Base64(std::string_view bytes) {
  static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  auto byte = [&bytes](std::size_t i) { return static_cast<unsigned>(static_cast<unsigned char>(bytes[i])); };
  std::size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const unsigned v = (byte(i) << 16) | (byte(i + 1) << 8) | byte(i + 2);
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += kAlphabet[(v >> 6) & 63];
    out += kAlphabet[v & 63];
  }
  if (const std::size_t rest = bytes.size() - i; rest > 0) {
    unsigned v = byte(i) << 16;
    if (rest == 2) v |= byte(i + 1) << 8;
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += rest == 2 ? kAlphabet[(v >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

std::string CsvField(std::string_view text) {
  std::string out;
  AppendCsvField(out, text, ',');
  return out;
}

void AppendCsvField(std::string& out, std::string_view text, char separator) {
  const char special[] = {separator, '"', '\r', '\n'};
  if (text.find_first_of(std::string_view(special, sizeof special)) == std::string_view::npos) {
    out.append(text);
    return;
  }
  out += '"';
  for (char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
}

std::string Utf8OrLatin1(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (std::size_t i = 0; i < bytes.size();) {
    const std::size_t n = Utf8SequenceLength(bytes, i);
    if (n == 0) {
      const auto b = static_cast<unsigned char>(bytes[i]);
      out += static_cast<char>(0xC0 | (b >> 6));
      out += static_cast<char>(0x80 | (b & 0x3F));
      ++i;
    } else {
      out.append(bytes.substr(i, n));
      i += n;
    }
  }
  return out;
}

std::string JsonString(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 2);
  out += '"';
  for (std::size_t i = 0; i < text.size();) {
    const char c = text[i];
    const auto b = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else if (b < 0x20) {
      out += fmt::format("\\u{:04x}", b);
    } else if (b >= 0x80) {
      const std::size_t n = Utf8SequenceLength(text, i);
      if (n == 0) {
        out += fmt::format("\\u{:04x}", b);
        ++i;
      } else {
        out.append(text.substr(i, n));
        i += n;
      }
      continue;
    } else {
      out += c;
    }
    ++i;
  }
  out += '"';
  return out;
}

char* WriteNumber(char* out, double value) {
  // Most values of a library are decimals of a few places (levels like 53.17). When the value is the double
  // nearest to m / 10^k for a whole m below 10^15 and k below 5, that decimal with the fewest places is its
  // shortest text: any other decimal that reads back as the value lies closer than 10^-k to it (the doubles
  // there are less than 10^-k / 4 apart), so it has more places. With the value from 10^-4 to below 10^15, fmt writes that text without an exponent, as
  // here; everything else goes through fmt's shortest form.
  // An array whose index the checked builds bound (_GLIBCXX_ASSERTIONS).
  static constexpr std::array<double, 5> kScale{1, 10, 100, 1000, 10000};
  const double magnitude = std::fabs(value);
  if (magnitude >= 1e-4 && magnitude < 1e15) {
    for (int k = 0; k < std::ssize(kScale); ++k) {
      const double scaled = magnitude * kScale[k];
      if (scaled >= 1e15) break;
      const auto m = static_cast<std::uint64_t>(scaled + 0.5);
      if (static_cast<double>(m) / kScale[k] != magnitude) continue;
      char digits[16];
      char* end = std::to_chars(digits, digits + sizeof digits, m).ptr;
      const auto n = static_cast<int>(end - digits);
      if (value < 0) *out++ = '-';
      if (n <= k) {  // below 1: "0." and the zeros after the point first
        *out++ = '0';
        *out++ = '.';
        for (int z = n; z < k; ++z) *out++ = '0';
        return std::copy(digits, end, out);
      }
      out = std::copy(digits, end - k, out);
      if (k == 0) return out;
      *out++ = '.';
      return std::copy(end - k, end, out);
    }
  }
  return fmt::format_to(out, FMT_COMPILE("{}"), value);
}

std::string NumberText(double value) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value > 0 ? "Infinity" : "-Infinity";
  char text[kNumberChars];
  return std::string(text, WriteNumber(text, value));
}

double FloatAsDecimal(float value) {
  if (!std::isfinite(value)) return static_cast<double>(value);
  char text[32];
  const auto end = fmt::format_to_n(text, sizeof text - 1, "{}", value).out;
  double out = 0;
  std::from_chars(text, end, out);
  return out;
}

std::optional<std::string> PlainText(const Variant& v, ValueStyle style) {
  if (v.IsClear()) return std::nullopt;
  if (v.Type() == VarType::String && style != ValueStyle::Binary) return v.RawString();
  switch (style) {
    case ValueStyle::Integer: return std::to_string(v.AsInteger());
    case ValueStyle::Float: return NumberText(v.AsFloat());
    case ValueStyle::Boolean: return v.AsBoolean() ? "true" : "false";
    case ValueStyle::DateTime: return DateTimeToISO(v.AsDateTime());
    case ValueStyle::Binary: return Base64(v.Type() == VarType::String ? v.RawString() : v.AsString());
    case ValueStyle::Text: break;
  }
  return v.AsString();
}

std::string JsonValue(const Variant& v, ValueStyle style) {
  if (v.IsClear()) return "null";
  if (v.Type() == VarType::String && style != ValueStyle::Binary) return JsonString(v.RawString());
  switch (style) {
    case ValueStyle::Integer: return std::to_string(v.AsInteger());
    case ValueStyle::Float: {
      const double d = v.AsFloat();
      return std::isfinite(d) ? NumberText(d) : "null";
    }
    case ValueStyle::Boolean: return v.AsBoolean() ? "true" : "false";
    default: return JsonString(*PlainText(v, style));
  }
}

}  // namespace vez

// Number formats, date serials, string helpers and the choice of a sheet, which the .xls and .xlsx readers share.
#include <cmath>
#include <cstdio>

#include "core/CaseFold.h"
#include "core/Exceptions.h"
#include "core/FormatSettings.h"
#include "core/TextEncoding.h"
#include "import/sheet/SheetReader.h"

namespace vez::detail {

NumberKind ClassifyFormatCode(std::string_view code) {
  int dateLetters = 0, placeholders = 0;
  bool elapsed = false;
  std::string plain;  // the first section without quotes, escapes and brackets
  for (std::size_t i = 0; i < code.size(); ++i) {
    const char c = code[i];
    if (c == '"') {
      const auto end = code.find('"', i + 1);
      if (end == std::string_view::npos) break;
      i = end;
    } else if (c == '\\' || c == '_' || c == '*') {
      ++i;
    } else if (c == '[') {
      const auto end = code.find(']', i);
      if (end == std::string_view::npos) break;
      const std::string_view inner = code.substr(i + 1, end - i - 1);
      if (!inner.empty() && inner.find_first_not_of(inner[0]) == std::string_view::npos) {
        const char l = static_cast<char>(inner[0] | 0x20);
        elapsed = elapsed || l == 'h' || l == 'm' || l == 's';
      }
      i = end;
    } else if (c == ';') {
      break;
    } else {
      plain += c;
    }
  }
  if (SameText(plain, "General") || SameText(plain, "Standard") || plain == "@") return NumberKind::Number;
  for (char c : plain) {
    const char l = static_cast<char>(c | 0x20);
    if (l == 'y' || l == 'm' || l == 'd' || l == 'h' || l == 's') ++dateLetters;
    else if (c == '0' || c == '#' || c == '?') ++placeholders;
  }
  if (elapsed) return NumberKind::Elapsed;
  return dateLetters > placeholders ? NumberKind::Date : NumberKind::Number;
}

NumberKind BuiltinFormatKind(std::uint32_t id) {
  if (id == 46) return NumberKind::Elapsed;
  if ((id >= 14 && id <= 22) || (id >= 27 && id <= 36) || id == 45 || id == 47 || (id >= 50 && id <= 58))
    return NumberKind::Date;
  return NumberKind::Number;
}

std::string SerialDateText(double serial, bool date1904) {
  // Spreadsheet programs show no date before the epoch; a serial between 0 and 1 is a time of day in both systems.
  if (!(serial >= 0.0 && serial < 2958466.0)) return FloatToStrShortest(serial);
  double value = date1904 ? serial + 1462.0 : serial;
  if (!date1904 && serial < 61.0 && serial >= 1.0) value += 1.0;  // the 1900 system's phantom 29 February
  value = std::round(value * 86400.0) / 86400.0;  // whole seconds, so 0.5 s of rounding never shows as :59
  if (serial > 0.0 && serial < 1.0) return FormatDateTime("tt", value - std::floor(value));
  if (value == std::floor(value)) return FormatDateTime("ddddd", value);
  return FormatDateTime("ddddd tt", value);
}

namespace {

std::string ElapsedText(double days) {
  const double seconds = std::round(std::fabs(days) * 86400.0);
  if (!(seconds < 9e15)) return FloatToStrShortest(days);
  const auto total = static_cast<long long>(seconds);
  char buffer[48];
  std::snprintf(buffer, sizeof buffer, "%s%02lld:%02lld:%02lld", days < 0 && total > 0 ? "-" : "", total / 3600,
                total / 60 % 60, total % 60);
  return buffer;
}

}  // namespace

void SheetSink::Number(std::uint32_t row, std::uint32_t col, double value) { Cell(row, col, FloatToStrShortest(value)); }

std::string NumberText(double value, NumberKind kind, bool date1904) {
  switch (kind) {
    case NumberKind::Date: return SerialDateText(value, date1904);
    case NumberKind::Elapsed: return ElapsedText(value);
    case NumberKind::Number: break;
  }
  return FloatToStrShortest(value);
}

namespace {

// "Cover", "Spectra" (each name in quotes, as the messages show them; beyond kListedSheets names "...").
std::string QuotedNames(const std::vector<std::string>& names, const std::function<bool(std::size_t)>& take) {
  constexpr std::size_t kListedSheets = 50;
  std::string list;
  std::size_t listed = 0;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (!take(i)) continue;
    if (listed++ == kListedSheets) return list + ", ...";
    list += (list.empty() ? "\"" : ", \"") + names[i] + "\"";
  }
  return list;
}

}  // namespace

std::size_t FindSheet(const std::vector<std::string>& names, std::string_view wanted) {
  for (std::size_t i = 0; i < names.size(); ++i)
    if (names[i] == wanted) return i;
  for (std::size_t i = 0; i < names.size(); ++i)
    if (SameTextFolded(names[i], wanted)) return i;
  // A number from 1, when no sheet is called so: digits alone, at most nine of them.
  if (!wanted.empty() && wanted.size() <= 9 && wanted.find_first_not_of("0123456789") == std::string_view::npos) {
    const std::size_t number = std::stoul(std::string(wanted));
    if (number >= 1 && number <= names.size()) return number - 1;
  }
  const std::string list = QuotedNames(names, [](std::size_t) { return true; });
  throw Exception(Format("The workbook has no sheet \"%s\" (its sheets: %s)", std::string(wanted),
                         list.empty() ? std::string("none") : list));
}

void NameUnnamedSheets(std::vector<std::string>& names) {
  for (std::size_t i = 0; i < names.size(); ++i)
    if (names[i].empty()) names[i] = "Sheet" + std::to_string(i + 1);
}

void RefuseEmptySheet(const std::vector<std::string>& names, std::size_t index,
                      const std::function<bool(std::size_t)>& holdsData) {
  const std::string withData = QuotedNames(names, [&](std::size_t i) { return i != index && holdsData(i); });
  throw Exception(Format("The sheet \"%s\" is empty; %s", names[index],
                         withData.empty() ? std::string("no sheet of the workbook holds data")
                                          : "the sheets with data: " + withData));
}

void StringTable::Add(std::string_view text) {
  if (text_.size() + text.size() > 0xFFFFFFFFu) throw Exception("The shared strings exceed 4 GiB");
  text_.append(text);
  ends_.push_back(static_cast<std::uint32_t>(text_.size()));
}

std::size_t Utf16Units(std::string_view utf8) {
  std::size_t units = 0;
  for (char c : utf8) {
    const auto b = static_cast<unsigned char>(c);
    if ((b & 0xC0) != 0x80) units += b >= 0xF0 ? 2 : 1;
  }
  return units;
}

void AppendUtf16(std::string& out, const unsigned char* p, std::size_t units, char16_t* pending) {
  char16_t high = pending != nullptr ? *pending : 0;
  for (std::size_t i = 0; i < units; ++i) {
    const auto u = static_cast<char16_t>(p[2 * i] | p[2 * i + 1] << 8);
    if (high != 0) {
      if (u >= 0xDC00 && u <= 0xDFFF) {
        AppendUtf8(out, 0x10000 + ((static_cast<char32_t>(high) - 0xD800) << 10) + (u - 0xDC00));
        high = 0;
        continue;
      }
      AppendUtf8(out, 0xFFFD);
      high = 0;
    }
    if (u >= 0xD800 && u <= 0xDBFF) high = u;
    else if (u >= 0xDC00 && u <= 0xDFFF) AppendUtf8(out, 0xFFFD);
    else if (u < 0x80) out += static_cast<char>(u);
    else AppendUtf8(out, u);
  }
  if (pending != nullptr) *pending = high;
  else if (high != 0) AppendUtf8(out, 0xFFFD);
}

void AppendLatin1(std::string& out, const unsigned char* p, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    if (p[i] < 0x80) out += static_cast<char>(p[i]);
    else AppendUtf8(out, p[i]);
  }
}

}  // namespace vez::detail

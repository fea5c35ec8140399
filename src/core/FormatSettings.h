// Process-wide number and date formats, and the text conversions that use them.
//
// The suite formats and parses numbers and dates with one process-wide set of settings, as its platform did.
// GlobalFormatSettings() is that set; it is plain unsynchronised state (the settings readers switch the decimal
// separator to "." while they read and restore it), so changing it while other threads format is a race.
// DecimalSeparatorScope does the switch-and-restore on every path.
//
// Date-time values are days since 30 December 1899 with the time as fraction (see Variant.h).
//
// Format pictures for FormatDateTime: d dd ddd dddd ddddd (short date) m mm mmm mmmm yy yyyy h hh n nn s ss z zzz
// t (short time) tt (long time) c (short date + long time) am/pm a/p ampm, '/' the date separator, ':' the time
// separator, text in single or double quotes literally; "m" right after an hour field means minutes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include <fmt/printf.h>

namespace vez {

struct FormatSettings {
  char DecimalSeparator = '.';
  char ThousandSeparator = ',';
  char DateSeparator = '-';
  char TimeSeparator = ':';
  std::string ShortDateFormat = "yyyy-mm-dd";
  std::string LongDateFormat = "dddd, d mmmm yyyy";
  std::string ShortTimeFormat = "hh:nn";
  std::string LongTimeFormat = "hh:nn:ss";
  std::string TimeAMString = "AM";
  std::string TimePMString = "PM";
  // Two-digit years in parsed dates fall within this many years around the current year (0 = 1900s).
  int TwoDigitYearCenturyWindow = 50;
};

// The process-wide settings. Not thread-safe to modify.
FormatSettings& GlobalFormatSettings();

// Sets the process decimal separator for the life of the object and restores the previous one.
class DecimalSeparatorScope {
public:
  explicit DecimalSeparatorScope(char separator);
  ~DecimalSeparatorScope();
  DecimalSeparatorScope(const DecimalSeparatorScope&) = delete;
  DecimalSeparatorScope& operator=(const DecimalSeparatorScope&) = delete;

private:
  char saved_;
};

// printf-style formatting ("%s", "%d", "%.2d", "%5.1f") of a message text.
template <typename... Args>
std::string Format(std::string_view pattern, const Args&... args) {
  return fmt::sprintf(pattern, args...);
}

// ---- numbers ----

enum class FloatFormat { General, Exponent, Fixed, Number };

// General format with 15 significant digits as the platform printed doubles ("1.5", "1E20", "1E-6").
std::string FloatToStr(double value);
std::string FloatToStr(double value, const FormatSettings& settings);
// Shortest text that reads back to the same double, general form, process decimal separator.
std::string FloatToStrShortest(double value);
// Format = General/Exponent/Fixed/Number, Precision = significant digits (max 18), Digits = decimals (Fixed and
// Number) or minimum exponent digits (Exponent). Fixed falls back to Exponent when the integer part has more
// digits than Precision. NaN gives "NAN", infinities "INF" and "-INF".
std::string FloatToStrF(double value, FloatFormat format, int precision, int digits);
std::string FloatToStrF(double value, FloatFormat format, int precision, int digits, const FormatSettings& settings);

// Parses blanks, sign, digits, the decimal separator of the settings and an exponent; trailing blanks allowed.
// Throws EConvertError "'%s' is not a valid floating point value".
double StrToFloat(std::string_view text);
double StrToFloat(std::string_view text, const FormatSettings& settings);
bool TryStrToFloat(std::string_view text, double& value);
bool TryStrToFloat(std::string_view text, double& value, const FormatSettings& settings);

// Decimal or "$"-prefixed hexadecimal, with blanks around. Throws EConvertError "'%s' is not a valid integer value".
std::int64_t StrToInt64(std::string_view text);
std::int32_t StrToInt(std::string_view text);
bool TryStrToInt64(std::string_view text, std::int64_t& value);
bool TryStrToInt(std::string_view text, std::int32_t& value);
std::string IntToStr(std::int64_t value);
// The platform's Round: half to even, into the 64-bit range; false for NaN, infinities and values outside it.
bool TryRoundToInt64(double value, std::int64_t& result);

// ---- dates and times ----

constexpr double kMinDateTime = -693593.0;  // 1 January 0001
constexpr double kMaxDateTime = 2958465.99999999;  // 31 December 9999
// FormatDateTime writes the proleptic Gregorian date of any date-time within this many days of the epoch (about
// 2.7 billion years; years beyond four digits in full, years before 1 with a minus sign); the decoders below
// report the years 0..10000 only.
constexpr double kMaxCalendarDays = 1e12;

bool IsLeapYearGregorian(int year);
int DaysInMonthGregorian(int year, int month);
bool TryEncodeDate(int year, int month, int day, double& dateTime);
bool TryEncodeTime(int hour, int min, int sec, int msec, double& dateTime);
// Throw EConvertError on invalid arguments.
double EncodeDate(int year, int month, int day);
double EncodeTime(int hour, int min, int sec, int msec);
double EncodeDateTime(int year, int month, int day, int hour, int min, int sec, int msec);
void DecodeDate(double dateTime, int& year, int& month, int& day);
void DecodeTime(double dateTime, int& hour, int& min, int& sec, int& msec);
// Day of week 1 = Sunday .. 7 = Saturday.
int DayOfWeekOf(double dateTime);
// The current local date and time.
double Now();

std::string FormatDateTime(std::string_view picture, double dateTime);
std::string FormatDateTime(std::string_view picture, double dateTime, const FormatSettings& settings);
// Short date, plus the long time when the time of day is not midnight; only the time for day 0.
std::string DateTimeToStr(double dateTime);
std::string DateToStr(double dateTime);
std::string TimeToStr(double dateTime);

// Parse dates in the order of ShortDateFormat (day, month, year letters) with DateSeparator, and times as
// h[:n[:s[.zzz]]] with TimeSeparator and an optional AM/PM. ISO-8601 "yyyy-mm-dd[Thh:nn:ss[.zzz]]" is always
// accepted as well. Throw EConvertError "'%s' is not a valid date" / "... time" / "... date and time".
double StrToDate(std::string_view text);
double StrToTime(std::string_view text);
double StrToDateTime(std::string_view text);
double StrToDate(std::string_view text, const FormatSettings& settings);
double StrToTime(std::string_view text, const FormatSettings& settings);
double StrToDateTime(std::string_view text, const FormatSettings& settings);
bool TryStrToDateTime(std::string_view text, double& value, const FormatSettings& settings);

// ISO-8601 text of a date-time: "yyyy-mm-dd", "hh:nn:ss[.zzz]" or "yyyy-mm-ddThh:nn:ss[.zzz]" (no time zone).
std::string DateTimeToISO(double dateTime);
std::string DateToISO(double dateTime);
std::string TimeToISO(double dateTime);
bool TryISOToDateTime(std::string_view text, double& value);

// ---- plain text helpers of the platform ----

std::string Trim(std::string_view s);       // removes characters <= ' ' on both sides
std::string TrimLeft(std::string_view s);
std::string TrimRight(std::string_view s);
std::string UpperCase(std::string_view s);  // ASCII letters only
std::string LowerCase(std::string_view s);
bool SameText(std::string_view a, std::string_view b);  // ASCII case-insensitive equality
int CompareText(std::string_view a, std::string_view b);  // ASCII case-insensitive order, <0, 0, >0
std::string IncludeTrailingPathDelimiter(std::string_view path);
std::string ExtractFileName(std::string_view path);
std::string ExtractFilePath(std::string_view path);   // with trailing delimiter
std::string ExtractFileExt(std::string_view path);    // with the dot, "" when none
std::string ChangeFileExt(std::string_view path, std::string_view ext);

}  // namespace vez

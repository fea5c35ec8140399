// Date-time values (days since 30 December 1899, time of day as fraction): encoding, decoding, formatting and
// parsing with the process format settings.
#include <algorithm>
#include <cmath>
#include <ctime>

#include "core/Exceptions.h"
#include "core/FormatSettings.h"

namespace vez {

namespace {

constexpr std::int64_t kMsPerDay = 86400000;

// Days since 1970-01-01 of a proleptic Gregorian date (Howard Hinnant's algorithm).
std::int64_t DaysFromCivil(std::int64_t y, int m, int d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const std::int64_t yoe = y - era * 400;
  const std::int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

// The proleptic Gregorian date of a day count since 1970-01-01, of any sign and size.
void CivilFromDays(std::int64_t z, std::int64_t& y, int& m, int& d) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const std::int64_t doe = z - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = yoe + era * 400 + (m <= 2);
}

const std::int64_t kEpochOffset = DaysFromCivil(1899, 12, 30);  // days from 1970 to the date-time epoch

// Splits a date-time into whole days and milliseconds of the day. The day is the truncated value; the time is
// the absolute fraction, so -1.25 is 29 December 1899, 06:00. The value is first clamped to the years the
// integer decoders report (0..10000), or with `anyYear` to the calendar range of the formatter.
void Split(double dt, std::int64_t& day, std::int64_t& ms, bool anyYear = false) {
  if (!std::isfinite(dt)) dt = 0.0;
  dt = anyYear ? std::clamp(dt, -kMaxCalendarDays, kMaxCalendarDays)
               : std::clamp(dt, kMinDateTime - 1.0, kMaxDateTime + 1.0);
  day = static_cast<std::int64_t>(std::trunc(dt));
  ms = std::llround(std::fabs(dt - static_cast<double>(day)) * static_cast<double>(kMsPerDay));
  if (ms >= kMsPerDay) {
    ms -= kMsPerDay;
    day += dt < 0 ? -1 : 1;
  }
}

const char* const kShortMonthNames[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
const char* const kLongMonthNames[12] = {"January", "February", "March",     "April",   "May",      "June",
                                         "July",    "August",   "September", "October", "November", "December"};
const char* const kShortDayNames[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char* const kLongDayNames[7] = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};

}  // namespace

bool IsLeapYearGregorian(int year) { return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0); }

int DaysInMonthGregorian(int year, int month) {
  static const int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12) return 0;
  return month == 2 && IsLeapYearGregorian(year) ? 29 : days[month - 1];
}

bool TryEncodeDate(int year, int month, int day, double& dateTime) {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 || day > DaysInMonthGregorian(year, month))
    return false;
  dateTime = static_cast<double>(DaysFromCivil(year, month, day) - kEpochOffset);
  return true;
}

bool TryEncodeTime(int hour, int min, int sec, int msec, double& dateTime) {
  if (hour < 0 || hour > 23 || min < 0 || min > 59 || sec < 0 || sec > 59 || msec < 0 || msec > 999) return false;
  dateTime = static_cast<double>(((hour * 60 + min) * 60 + sec) * 1000 + msec) / static_cast<double>(kMsPerDay);
  return true;
}

double EncodeDate(int year, int month, int day) {
  double v;
  if (!TryEncodeDate(year, month, day, v)) throw EConvertError("Invalid argument to date encode");
  return v;
}

double EncodeTime(int hour, int min, int sec, int msec) {
  double v;
  if (!TryEncodeTime(hour, min, sec, msec, v)) throw EConvertError("Invalid argument to time encode");
  return v;
}

double EncodeDateTime(int year, int month, int day, int hour, int min, int sec, int msec) {
  const double d = EncodeDate(year, month, day);
  const double t = EncodeTime(hour, min, sec, msec);
  return d < 0 ? d - t : d + t;
}

void DecodeDate(double dateTime, int& year, int& month, int& day) {
  std::int64_t d, ms, y;
  Split(dateTime, d, ms);
  CivilFromDays(d + kEpochOffset, y, month, day);
  year = static_cast<int>(y);
}

void DecodeTime(double dateTime, int& hour, int& min, int& sec, int& msec) {
  std::int64_t d, ms;
  Split(dateTime, d, ms);
  msec = static_cast<int>(ms % 1000);
  sec = static_cast<int>(ms / 1000 % 60);
  min = static_cast<int>(ms / 60000 % 60);
  hour = static_cast<int>(ms / 3600000);
}

int DayOfWeekOf(double dateTime) {
  std::int64_t d, ms;
  Split(dateTime, d, ms);
  // Day 0 (30 December 1899) was a Saturday.
  return static_cast<int>(((d - 1) % 7 + 7) % 7) + 1;
}

double Now() {
  struct timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  std::tm tm{};
  const time_t t = ts.tv_sec;
  localtime_r(&t, &tm);
  return EncodeDateTime(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, std::min(tm.tm_sec, 59),
                        static_cast<int>(ts.tv_nsec / 1000000));
}

// ---- formatting ----

namespace {

// Zero-padded to `width` digits, a minus sign in front of them.
std::string Pad(std::int64_t value, int width) {
  std::string s = std::to_string(value < 0 ? -value : value);
  while (static_cast<int>(s.size()) < width) s.insert(s.begin(), '0');
  return value < 0 ? "-" + s : s;
}

bool StartsWithNoCase(std::string_view s, std::size_t i, std::string_view what) {
  return s.size() - i >= what.size() && SameText(s.substr(i, what.size()), what);
}

void FormatInto(std::string& out, std::string_view pic, double dt, const FormatSettings& fs, int depth) {
  std::int64_t dayNumber, ms, year;
  int month, day;
  Split(dt, dayNumber, ms, true);
  CivilFromDays(dayNumber + kEpochOffset, year, month, day);
  const int hour = static_cast<int>(ms / 3600000);
  const int minute = static_cast<int>(ms / 60000 % 60);
  const int second = static_cast<int>(ms / 1000 % 60);
  const int msec = static_cast<int>(ms % 1000);
  // Does an am/pm marker follow anywhere? Then hours are shown in 12-hour form.
  const bool twelveHour = [&] {
    for (std::size_t k = 0; k < pic.size(); ++k)
      if (StartsWithNoCase(pic, k, "am/pm") || StartsWithNoCase(pic, k, "a/p") || StartsWithNoCase(pic, k, "ampm"))
        return true;
    return false;
  }();
  bool lastWasHour = false;
  std::size_t i = 0;
  while (i < pic.size()) {
    const char c = pic[i];
    const char u = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
    auto run = [&](char letter) {
      std::size_t n = 0;
      while (i + n < pic.size() && (pic[i + n] == letter || pic[i + n] == letter + ('a' - 'A'))) ++n;
      return n;
    };
    bool isHour = false;
    if (c == '"' || c == '\'') {
      const auto end = pic.find(c, i + 1);
      const std::size_t stop = end == std::string_view::npos ? pic.size() : end;
      out.append(pic.substr(i + 1, stop - i - 1));
      i = std::min(stop + 1, pic.size());
      continue;
    }
    if (c == '/') { out += fs.DateSeparator; ++i; continue; }
    if (c == ':') { out += fs.TimeSeparator; ++i; continue; }
    if (StartsWithNoCase(pic, i, "am/pm")) {
      out += hour < 12 ? (pic[i] == 'a' ? "am" : "AM") : (pic[i] == 'a' ? "pm" : "PM");
      i += 5;
      continue;
    }
    if (StartsWithNoCase(pic, i, "a/p")) {
      out += hour < 12 ? (pic[i] == 'a' ? 'a' : 'A') : (pic[i] == 'a' ? 'p' : 'P');
      i += 3;
      continue;
    }
    if (StartsWithNoCase(pic, i, "ampm")) {
      out += hour < 12 ? fs.TimeAMString : fs.TimePMString;
      i += 4;
      continue;
    }
    switch (u) {
      case 'Y': {
        const std::size_t n = run('Y');
        out += n <= 2 ? Pad((year % 100 + 100) % 100, 2) : Pad(year, 4);
        i += n;
        break;
      }
      case 'M': {
        const std::size_t n = run('M');
        if (lastWasHour && n <= 2) {
          out += n == 1 ? std::to_string(minute) : Pad(minute, 2);
        } else if (n == 1) {
          out += std::to_string(month);
        } else if (n == 2) {
          out += Pad(month, 2);
        } else if (n == 3) {
          out += kShortMonthNames[month - 1];
        } else {
          out += kLongMonthNames[month - 1];
        }
        i += n;
        break;
      }
      case 'D': {
        const std::size_t n = run('D');
        const int dow = static_cast<int>(((dayNumber - 1) % 7 + 7) % 7);  // day 0 was a Saturday
        if (n == 1) out += std::to_string(day);
        else if (n == 2) out += Pad(day, 2);
        else if (n == 3) out += kShortDayNames[dow];
        else if (n == 4) out += kLongDayNames[dow];
        else if (depth < 2) FormatInto(out, n == 5 ? fs.ShortDateFormat : fs.LongDateFormat, dt, fs, depth + 1);
        i += n;
        break;
      }
      case 'H': {
        const std::size_t n = run('H');
        int h = hour;
        if (twelveHour) {
          h = hour % 12;
          if (h == 0) h = 12;
        }
        out += n == 1 ? std::to_string(h) : Pad(h, 2);
        i += n;
        isHour = true;
        break;
      }
      case 'N': {
        const std::size_t n = run('N');
        out += n == 1 ? std::to_string(minute) : Pad(minute, 2);
        i += n;
        break;
      }
      case 'S': {
        const std::size_t n = run('S');
        out += n == 1 ? std::to_string(second) : Pad(second, 2);
        i += n;
        break;
      }
      case 'Z': {
        const std::size_t n = run('Z');
        out += n < 3 ? std::to_string(msec) : Pad(msec, 3);
        i += n;
        break;
      }
      case 'T': {
        const std::size_t n = run('T');
        if (depth < 2) FormatInto(out, n == 1 ? fs.ShortTimeFormat : fs.LongTimeFormat, dt, fs, depth + 1);
        i += n;
        break;
      }
      case 'C': {
        const std::size_t n = run('C');
        if (depth < 2) {
          FormatInto(out, fs.ShortDateFormat, dt, fs, depth + 1);
          if (hour != 0 || minute != 0 || second != 0 || msec != 0) {
            out += ' ';
            FormatInto(out, fs.LongTimeFormat, dt, fs, depth + 1);
          }
        }
        i += n;
        break;
      }
      default:
        // Literal characters leave the hour context alone, so "hh:mm" and "h mm" show minutes.
        out += c;
        ++i;
        continue;
    }
    lastWasHour = isHour;
  }
}

}  // namespace

std::string FormatDateTime(std::string_view picture, double dateTime) {
  return FormatDateTime(picture, dateTime, GlobalFormatSettings());
}

std::string FormatDateTime(std::string_view picture, double dateTime, const FormatSettings& settings) {
  std::string out;
  FormatInto(out, picture.empty() ? std::string_view("c") : picture, dateTime, settings, 0);
  return out;
}

std::string DateTimeToStr(double dateTime) {
  const FormatSettings& fs = GlobalFormatSettings();
  std::int64_t d, ms;
  Split(dateTime, d, ms);
  if (d == 0 && ms != 0) return FormatDateTime(fs.LongTimeFormat, dateTime, fs);
  if (ms == 0) return FormatDateTime(fs.ShortDateFormat, dateTime, fs);
  return FormatDateTime(fs.ShortDateFormat, dateTime, fs) + " " + FormatDateTime(fs.LongTimeFormat, dateTime, fs);
}

std::string DateToStr(double dateTime) { return FormatDateTime(GlobalFormatSettings().ShortDateFormat, dateTime); }
std::string TimeToStr(double dateTime) { return FormatDateTime(GlobalFormatSettings().LongTimeFormat, dateTime); }

// ---- ISO-8601 ----

std::string DateToISO(double dateTime) { 
  int y, m, d;
  DecodeDate(dateTime, y, m, d);
  return Pad(y, 4) + "-" + Pad(m, 2) + "-" + Pad(d, 2);
}

std::string TimeToISO(double dateTime) {
  int h, n, s, z;
  DecodeTime(dateTime, h, n, s, z);
  std::string r = Pad(h, 2) + ":" + Pad(n, 2) + ":" + Pad(s, 2);
  if (z != 0) r += "." + Pad(z, 3);
  return r;
}

std::string DateTimeToISO(double dateTime) { return DateToISO(dateTime) + "T" + TimeToISO(dateTime); }

namespace {

// Reads an unsigned decimal of 1..maxDigits digits at i.
bool ReadNumber(std::string_view s, std::size_t& i, int maxDigits, int& value, int* digitsRead = nullptr) {
  int n = 0;
  value = 0;
  while (i < s.size() && n < maxDigits && s[i] >= '0' && s[i] <= '9') {
    value = value * 10 + (s[i] - '0');
    ++i;
    ++n;
  }
  if (digitsRead) *digitsRead = n;
  return n > 0;
}

bool ParseIsoTime(std::string_view s, std::size_t& i, double& t) {
  int h, n, sec = 0, ms = 0;
  if (!ReadNumber(s, i, 2, h) || i >= s.size() || s[i] != ':') return false;
  ++i;
  if (!ReadNumber(s, i, 2, n)) return false;
  if (i < s.size() && s[i] == ':') {
    ++i;
    if (!ReadNumber(s, i, 2, sec)) return false;
    if (i < s.size() && (s[i] == '.' || s[i] == ',')) {
      ++i;
      int digits;
      int frac;
      if (!ReadNumber(s, i, 3, frac, &digits)) return false;
      while (digits < 3) { frac *= 10; ++digits; }
      ms = frac;
      while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i;  // finer digits are dropped
    }
  }
  return TryEncodeTime(h, n, sec, ms, t);
}

}  // namespace

bool TryISOToDateTime(std::string_view text, double& value) {
  const std::string s = Trim(text);
  std::size_t i = 0;
  int y, m, d;
  double date = 0, time = 0;
  int digits;
  if (ReadNumber(s, i, 4, y, &digits) && digits == 4 && i < s.size() && s[i] == '-') {
    ++i;
    if (!ReadNumber(s, i, 2, m) || i >= s.size() || s[i] != '-') return false;
    ++i;
    if (!ReadNumber(s, i, 2, d) || !TryEncodeDate(y, m, d, date)) return false;
    if (i == s.size()) {
      value = date;
      return true;
    }
    if (s[i] != 'T' && s[i] != ' ') return false;
    ++i;
  } else {
    i = 0;
  }
  if (!ParseIsoTime(s, i, time) || i != s.size()) return false;
  value = date < 0 ? date - time : date + time;
  return true;
}

// ---- parsing with the format settings ----

namespace {

// The order of day, month and year in a short date format: e.g. "YMD".
std::string DateOrder(const std::string& fmt) {
  std::string order;
  for (char c : fmt) {
    const char u = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
    if ((u == 'D' || u == 'M' || u == 'Y') && order.find(u) == std::string::npos) order += u;
  }
  return order.size() == 3 ? order : "YMD";
}

int ExpandYear(int year, int digits, const FormatSettings& fs) {
  if (digits > 2) return year;
  int y, m, d;
  DecodeDate(Now(), y, m, d);
  if (fs.TwoDigitYearCenturyWindow <= 0) return 1900 + year;
  int threshold = y - fs.TwoDigitYearCenturyWindow;
  int century = threshold / 100 * 100;
  int result = century + year;
  if (result < threshold) result += 100;
  return result;
}

bool ParseDatePart(std::string_view s, std::size_t& i, double& date, const FormatSettings& fs) {
  const std::string order = DateOrder(fs.ShortDateFormat);
  int values[3] = {0, 0, 0};
  int digitCount[3] = {0, 0, 0};
  int count = 0;
  while (count < 3) {
    while (i < s.size() && s[i] == ' ') ++i;
    if (!ReadNumber(s, i, 4, values[count], &digitCount[count])) break;
    ++count;
    while (i < s.size() && s[i] == ' ' && count < 3) ++i;
    if (count < 3) {
      if (i < s.size() && s[i] == fs.DateSeparator) ++i;
      else break;
    }
  }
  if (count < 2) return false;
  int y = 0, m = 0, d = 0, yDigits = 4;
  int curY, curM, curD;
  DecodeDate(Now(), curY, curM, curD);
  if (count == 3) {
    for (int k = 0; k < 3; ++k) {
      if (order[static_cast<std::size_t>(k)] == 'Y') { y = values[k]; yDigits = digitCount[k]; }
      if (order[static_cast<std::size_t>(k)] == 'M') m = values[k];
      if (order[static_cast<std::size_t>(k)] == 'D') d = values[k];
    }
    y = ExpandYear(y, yDigits, fs);
  } else {
    // Two numbers: day and month in the order of the format, the current year.
    const std::string dm = [&] {
      std::string r;
      for (char c : order)
        if (c != 'Y') r += c;
      return r;
    }();
    m = dm[0] == 'M' ? values[0] : values[1];
    d = dm[0] == 'M' ? values[1] : values[0];
    y = curY;
  }
  return TryEncodeDate(y, m, d, date);
}

bool ParseTimePart(std::string_view s, std::size_t& i, double& time, const FormatSettings& fs) {
  while (i < s.size() && s[i] == ' ') ++i;
  int h = 0, n = 0, sec = 0, ms = 0;
  if (!ReadNumber(s, i, 2, h)) return false;
  if (i < s.size() && s[i] == fs.TimeSeparator) {
    ++i;
    if (!ReadNumber(s, i, 2, n)) return false;
    if (i < s.size() && s[i] == fs.TimeSeparator) {
      ++i;
      if (!ReadNumber(s, i, 2, sec)) return false;
      if (i < s.size() && (s[i] == fs.DecimalSeparator || s[i] == '.')) {
        ++i;
        int digits;
        if (!ReadNumber(s, i, 3, ms, &digits)) return false;
        while (digits < 3) { ms *= 10; ++digits; }
      }
    }
  }
  while (i < s.size() && s[i] == ' ') ++i;
  auto marker = [&](std::string_view word) {
    if (!word.empty() && StartsWithNoCase(s, i, word)) { i += word.size(); return true; }
    return false;
  };
  if (marker(fs.TimeAMString) || marker("AM") || marker("A")) {
    if (h < 1 || h > 12) return false;
    if (h == 12) h = 0;
  } else if (marker(fs.TimePMString) || marker("PM") || marker("P")) {
    if (h < 1 || h > 12) return false;
    if (h != 12) h += 12;
  }
  return TryEncodeTime(h, n, sec, ms, time);
}

}  // namespace

bool TryStrToDateTime(std::string_view text, double& value, const FormatSettings& settings) {
  if (TryISOToDateTime(text, value)) return true;
  const std::string s = Trim(text);
  std::size_t i = 0;
  double date = 0, time = 0;
  const std::size_t start = i;
  if (ParseDatePart(s, i, date, settings)) {
    while (i < s.size() && s[i] == ' ') ++i;
    if (i == s.size()) {
      value = date;
      return true;
    }
    if (!ParseTimePart(s, i, time, settings) || i != s.size()) return false;
    value = date < 0 ? date - time : date + time;
    return true;
  }
  i = start;
  if (!ParseTimePart(s, i, time, settings) || i != s.size()) return false;
  value = time;
  return true;
}

double StrToDateTime(std::string_view text) { return StrToDateTime(text, GlobalFormatSettings()); }

double StrToDateTime(std::string_view text, const FormatSettings& settings) {
  double v;
  if (!TryStrToDateTime(text, v, settings))
    throw EConvertError(Format("'%s' is not a valid date and time", std::string(text)));
  return v;
}

double StrToDate(std::string_view text) { return StrToDate(text, GlobalFormatSettings()); }

double StrToDate(std::string_view text, const FormatSettings& settings) {
  double v;
  const std::string s = Trim(text);
  std::size_t i = 0;
  if (TryISOToDateTime(s, v) && v == std::trunc(v)) return v;
  if (ParseDatePart(s, i, v, settings) && i == s.size()) return v;
  throw EConvertError(Format("'%s' is not a valid date", std::string(text)));
}

double StrToTime(std::string_view text) { return StrToTime(text, GlobalFormatSettings()); }

double StrToTime(std::string_view text, const FormatSettings& settings) {
  double v;
  const std::string s = Trim(text);
  std::size_t i = 0;
  if (ParseTimePart(s, i, v, settings) && i == s.size()) return v;
  throw EConvertError(Format("'%s' is not a valid time", std::string(text)));
}

}  // namespace vez

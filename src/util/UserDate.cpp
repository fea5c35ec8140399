#include "util/UserDate.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <ctime>

namespace vez {

constinit std::int32_t Threshold2000 = 1900;
constinit char SlashChar = '/';
constinit char ColonChar = ':';
constinit bool UpCaseTime = false;
constinit std::int32_t DefaultYear = 0;
constinit std::uint8_t DefaultMonth = 0;

namespace {

char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }
char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::string Cut(std::string_view s) { return std::string(s.substr(0, std::min(s.size(), kDateStringMax))); }

constexpr std::size_t kNone = std::string_view::npos;

// The first position of the letter in either case (the earlier one when both occur).
std::size_t FindEitherCase(std::string_view picture, char letter) {
  const std::size_t lo = picture.find(Lower(letter));
  const std::size_t up = picture.find(Upper(letter));
  return std::min(lo, up);
}

// The value of the field marked by `letter`, read from s; `def` when the picture has no such field or s is
// not exactly as long as the picture, -1 when the characters there do not form a number.
std::int32_t ExtractField(std::string_view picture, std::string_view s, char letter, std::int32_t def) {
  const std::size_t start = FindEitherCase(picture, letter);
  if (start == kNone || s.size() != picture.size()) return def;
  const char up = Upper(letter);
  std::string digits;
  for (std::size_t i = start; i < picture.size() && Upper(picture[i]) == up; ++i) {
    if (s[i] != ' ') digits += s[i];
  }
  std::int32_t value = 0;
  const char* first = digits.data();
  const char* last = first + digits.size();
  if (first != last && *first == '+') ++first;
  const auto [ptr, ec] = std::from_chars(first, last, value);
  if (digits.empty() || ec != std::errc() || ptr != last) return -1;
  return value;
}

// Writes the decimal digits of value into the run of `letter` (lower case preferred), right-aligned; a
// lower-case position without a digit gets '0', an upper-case one a blank.
void FillField(std::string& picture, char letter, std::int32_t value) {
  std::size_t start = picture.find(Lower(letter));
  if (start == kNone) start = picture.find(Upper(letter));
  if (start == kNone) return;
  const char up = Upper(letter);
  std::size_t end = start;  // one past the run
  while (end < picture.size() && Upper(picture[end]) == up) ++end;
  const std::string digits = std::to_string(value);
  std::size_t d = digits.size();
  for (std::size_t i = end; i > start; --i) {
    char& c = picture[i - 1];
    if (d > 0) {
      c = digits[--d];
    } else {
      c = (c == Lower(letter)) ? '0' : ' ';
    }
  }
}

// Replaces every occurrence of ch (compared upper-cased) by with.
void ReplaceChar(std::string& picture, char ch, char with) {
  const char up = Upper(ch);
  for (char& c : picture) {
    if (Upper(c) == up) c = with;
  }
}

bool LocalNow(std::tm& out) {
  const std::time_t now = std::time(nullptr);
  return localtime_r(&now, &out) != nullptr;
}

}  // namespace

// ---- calendar ----

bool IsLeapYear(std::int32_t Year) {
  return Year % 4 == 0 && Year % 4000 != 0 && (Year % 100 != 0 || Year % 400 == 0);
}

std::int32_t ExpandYear(std::int32_t Year) {
  if (Year >= 0 && Year < 100) {
    Year += 1900;
    if (Year < Threshold2000) Year += 100;
  }
  return Year;
}

namespace {

std::int32_t DaysInMonthOfFullYear(std::int32_t Month, std::int32_t Year) {
  switch (Month) {
    case 1: case 3: case 5: case 7: case 8: case 10: case 12:
      return 31;
    case 4: case 6: case 9: case 11:
      return 30;
    case 2:
      return IsLeapYear(Year) ? 29 : 28;
    default:
      return 0;
  }
}

bool ValidFullDate(std::int32_t Day, std::int32_t Month, std::int32_t Year) {
  if (Month < 1 || Month > 12 || Year < kMinYear || Year > kMaxYear) return false;
  return Day >= 1 && Day <= DaysInMonthOfFullYear(Month, Year);
}

}  // namespace

std::int32_t DaysInMonth(std::int32_t Month, std::int32_t Year) {
  return DaysInMonthOfFullYear(Month, ExpandYear(Year));
}

// ---- dates ----

bool ValidDate(std::int32_t Day, std::int32_t Month, std::int32_t Year) {
  return ValidFullDate(Day, Month, ExpandYear(Year));
}

Date DMYtoDate(std::int32_t Day, std::int32_t Month, std::int32_t Year) {
  Year = ExpandYear(Year);
  if (!ValidFullDate(Day, Month, Year)) return BadDate;
  // January and February 1900 lie before the March-based count below, which assumes a leap day in 1900.
  if (Year == 1900 && Month == 1) return static_cast<Date>(Day - 1);
  if (Year == 1900 && Month == 2) return static_cast<Date>(Day + 30);
  // Count from March so that the leap day is the last day of the counting year.
  if (Month >= 3) {
    Month -= 3;
  } else {
    Month += 9;
    --Year;
  }
  const std::int32_t n = (153 * Month + 2) / 5 + (1461 * (Year - 1900)) / 4 + Day + 58;
  return static_cast<Date>(n);
}

void DateToDMY(Date Julian, std::int32_t& Day, std::int32_t& Month, std::int32_t& Year) {
  if (Julian == BadDate) {
    Day = Month = Year = 0;
    return;
  }
  const std::int32_t n = Julian;
  if (n <= 58) {
    Year = 1900;
    if (n > 30) {
      Month = 2;
      Day = n - 30;
    } else {
      Month = 1;
      Day = n + 1;
    }
    return;
  }
  const std::int32_t t = 4 * (n - 58) - 1;
  std::int32_t y = t / 1461;
  const std::int32_t r = (t % 1461) / 4;
  const std::int32_t m = (5 * r + 2) / 153;
  Day = ((5 * r + 2) % 153 + 5) / 5;
  if (m >= 10) {
    Month = m - 9;
    ++y;
  } else {
    Month = m + 3;
  }
  Year = y + 1900;
}

Date IncDate(Date Julian, std::int32_t Days, std::int32_t Months, std::int32_t Years) {
  std::int32_t day, month, year;
  DateToDMY(Julian, day, month, year);
  std::int32_t excess = 0;
  if (day > 28) {
    excess = day - 28;
    day = 28;
  }
  // 64-bit sums: the caller's counts may be anything.
  std::int64_t y = static_cast<std::int64_t>(year) + Years + Months / 12;
  std::int64_t m = static_cast<std::int64_t>(month) + Months % 12;
  if (m < 1) {
    m += 12;
    --y;
  } else if (m > 12) {
    m -= 12;
    ++y;
  }
  // Years far outside the calendar are invalid; keep them from wrapping into the two-digit range by accident.
  if (y < -1000000 || y > 1000000) return BadDate;
  const Date n = DMYtoDate(day, static_cast<std::int32_t>(m), static_cast<std::int32_t>(y));
  if (n == BadDate) return BadDate;
  const std::int64_t result = static_cast<std::int64_t>(n) + Days + excess;
  if (result < 0 || result > kMaxDate) return BadDate;
  return static_cast<Date>(result);
}

void DateDiff(Date Date1, Date Date2, std::int32_t& Days, std::int32_t& Months, std::int32_t& Years) {
  std::int32_t d1, m1, y1, d2, m2, y2;
  DateToDMY(Date1, d1, m1, y1);
  DateToDMY(Date2, d2, m2, y2);
  if (d2 < d1) {
    --m2;
    if (m2 == 0) {
      m2 = 12;
      --y2;
    }
    const std::int32_t borrowed = DaysInMonthOfFullYear(m2, y2);
    d2 += borrowed;
    // 31 January to 1 March is one month (to the end of February) and one day, not one month less two days.
    d1 = std::min(d1, borrowed);
  }
  Days = d2 - d1;
  if (m2 < m1) {
    m2 += 12;
    --y2;
  }
  Months = m2 - m1;
  Years = y2 - y1;
}

DayType DayOfWeek(Date Julian) { return static_cast<DayType>((static_cast<std::int32_t>(Julian) + 1) % 7); }

bool DateStringToDMY(std::string_view Picture, std::string_view S, std::int32_t& Day, std::int32_t& Month,
                     std::int32_t& Year) {
  const std::string picture = Cut(Picture);
  const std::string s = Cut(S);
  std::tm now{};
  if (LocalNow(now)) {
    DefaultYear = now.tm_year + 1900;
    DefaultMonth = static_cast<std::uint8_t>(now.tm_mon + 1);
  }
  Month = ExtractField(picture, s, 'm', DefaultMonth);
  Day = ExtractField(picture, s, 'd', 1);
  Year = ExtractField(picture, s, 'y', DefaultYear);
  return ValidDate(Day, Month, Year);
}

Date DateStringToDate(std::string_view Picture, std::string_view S) {
  std::int32_t day, month, year;
  if (!DateStringToDMY(Picture, S, day, month, year)) return BadDate;
  return DMYtoDate(day, month, year);
}

DateString DMYtoDateString(std::string_view Picture, std::int32_t Day, std::int32_t Month, std::int32_t Year) {
  std::string s = Cut(Picture);
  Year = ExpandYear(Year);
  FillField(s, 'm', Month);
  FillField(s, 'd', Day);
  FillField(s, 'y', Year);
  ReplaceChar(s, '/', SlashChar);
  return s;
}

DateString DateToDateString(std::string_view Picture, Date Julian) {
  if (Julian == BadDate) {
    std::string s = Cut(Picture);
    ReplaceChar(s, 'm', ' ');
    ReplaceChar(s, 'd', ' ');
    ReplaceChar(s, 'y', ' ');
    ReplaceChar(s, '/', SlashChar);
    return s;
  }
  std::int32_t day, month, year;
  DateToDMY(Julian, day, month, year);
  return DMYtoDateString(Picture, day, month, year);
}

Date Today() {
  std::tm now{};
  if (!LocalNow(now)) return BadDate;
  return DMYtoDate(now.tm_mday, now.tm_mon + 1, now.tm_year + 1900);
}

DateString TodayString(std::string_view Picture) { return DateToDateString(Picture, Today()); }

// ---- times ----

void TimeToHMS(Time T, std::uint8_t& Hours, std::uint8_t& Minutes, std::uint8_t& Seconds) {
  if (T < 0 || T >= kSecondsPerDay) {
    Hours = Minutes = Seconds = 0;
    return;
  }
  Hours = static_cast<std::uint8_t>(T / 3600);
  Minutes = static_cast<std::uint8_t>(T % 3600 / 60);
  Seconds = static_cast<std::uint8_t>(T % 60);
}

Time HMStoTime(std::uint8_t Hours, std::uint8_t Minutes, std::uint8_t Seconds) {
  return ((Hours % 24) * 3600 + Minutes * 60 + Seconds) % kSecondsPerDay;
}

bool ValidTime(std::int32_t Hours, std::int32_t Minutes, std::int32_t Seconds) {
  return Hours >= 0 && Hours < 24 && Minutes >= 0 && Minutes <= 60 && Seconds >= 0 && Seconds <= 60;
}

Time TimeStringToTime(std::string_view Picture, std::string_view S) {
  const std::string picture = Cut(Picture);
  const std::string s = Cut(S);
  std::int32_t hours = ExtractField(picture, s, 'h', 0);
  const std::int32_t minutes = ExtractField(picture, s, 'm', 0);
  const std::int32_t seconds = ExtractField(picture, s, 's', 0);
  if (hours == -1 || minutes == -1 || seconds == -1) return BadTime;

  const std::size_t t = FindEitherCase(picture, 't');
  if (t != kNone) {
    const char c = t < s.size() ? Upper(s[t]) : '\0';
    if (c != 'A' && c != 'P' && c != ' ') return BadTime;
    if (hours < 1 || hours > 12) return BadTime;
    if (c == 'P') {
      if (hours < 12) hours += 12;
    } else if (hours == 12) {
      hours = 0;
    }
  }
  const std::size_t e = FindEitherCase(picture, 'e');
  if (e != kNone) {
    const char c = e < s.size() ? Upper(s[e]) : '\0';
    if (c != ' ' && c != 'M') return BadTime;
  }
  if (!ValidTime(hours, minutes, seconds)) return BadTime;
  return HMStoTime(static_cast<std::uint8_t>(hours), static_cast<std::uint8_t>(minutes),
                   static_cast<std::uint8_t>(seconds));
}

namespace {

// TimeToTimeString without cutting the picture first (TimeToAmPmString may pass one character more).
std::string FormatTime(std::string s, Time T) {
  std::uint8_t h, m, sec;
  TimeToHMS(T, h, m, sec);
  const std::size_t t = FindEitherCase(s, 't');
  const std::size_t e = FindEitherCase(s, 'e');
  const char mLetter = UpCaseTime ? 'M' : 'm';
  if (t != kNone) {
    char ap = h < 12 ? 'a' : 'p';
    s[t] = UpCaseTime ? Upper(ap) : ap;
    if (h == 0) {
      h = 12;
    } else if (h > 12) {
      h = static_cast<std::uint8_t>(h - 12);
    }
  }
  if (T == BadTime) {
    ReplaceChar(s, 'h', ' ');
    ReplaceChar(s, 'm', ' ');
    ReplaceChar(s, 's', ' ');
  } else {
    FillField(s, 'h', h);
    FillField(s, 'm', m);
    FillField(s, 's', sec);
  }
  ReplaceChar(s, ':', ColonChar);
  if (t != kNone && e != kNone) s[e] = mLetter;
  return s;
}

}  // namespace

DateString TimeToTimeString(std::string_view Picture, Time T) { return Cut(FormatTime(Cut(Picture), T)); }

DateString TimeToAmPmString(std::string_view Picture, Time T) {
  std::string picture = Cut(Picture);
  const std::size_t length = picture.size();
  if (FindEitherCase(picture, 't') == kNone) picture += 't';
  std::string s = FormatTime(picture, T);
  s.resize(length);
  return s;
}

Time CurrentTime() {
  std::tm now{};
  if (!LocalNow(now)) return BadTime;
  // A leap second (tm_sec 60) counts as the last second of its minute.
  return HMStoTime(static_cast<std::uint8_t>(now.tm_hour), static_cast<std::uint8_t>(now.tm_min),
                   static_cast<std::uint8_t>(std::min(now.tm_sec, 59)));
}

DateString CurrentTimeString(std::string_view Picture) { return TimeToTimeString(Picture, CurrentTime()); }

void TimeDiff(Time Time1, Time Time2, std::uint8_t& Hours, std::uint8_t& Minutes, std::uint8_t& Seconds) {
  const std::int64_t diff = std::llabs(static_cast<std::int64_t>(Time1) - Time2);
  TimeToHMS(diff < kSecondsPerDay ? static_cast<Time>(diff) : BadTime, Hours, Minutes, Seconds);
}

Time IncTime(Time T, std::uint8_t Hours, std::uint8_t Minutes, std::uint8_t Seconds) {
  const std::int64_t sum = static_cast<std::int64_t>(T) + HMStoTime(static_cast<std::uint8_t>(Hours % 24), Minutes,
                                                                     Seconds);
  return static_cast<Time>(sum % kSecondsPerDay);
}

}  // namespace vez

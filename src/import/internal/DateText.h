// Calendar arithmetic for date-times outside the years 1..9999 that the core routines cover.
#pragma once

#include <cstdint>
#include <string>

namespace vez::detail {

struct CivilDate {
  std::int64_t Year;
  int Month;
  int Day;
};

// Beyond this many days from 30 December 1899 (about 2.7 billion years) a date-time has no calendar text; the
// text routines below then give the number itself.
constexpr double kMaxCalendarDays = 1e12;

// The proleptic Gregorian date of a whole day count since 30 December 1899 (any sign, any year).
CivilDate CivilFromDays(std::int64_t days);

// The date part (days truncated toward zero) of a date-time as text in the process short date format; years
// beyond four digits are written in full, years before 1 with a minus sign.
std::string DateText(double dateTime);

// "YYYY-MM-DDTHH:MM:SS.mmm" of a date-time rounded to the millisecond (the time of a negative date-time is its
// absolute fraction, as the platform reads it).
std::string IsoMillis(double dateTime);

}  // namespace vez::detail

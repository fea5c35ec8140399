// Texts of Paradox date and time values that the reader and the dump write, made with core's calendar.
#pragma once

#include <string>

namespace vez::detail {

// The date part (days truncated toward zero) of a date-time as text in the process short date format, for dates
// outside the years the date-time values cover (years beyond four digits in full, years before 1 with a minus
// sign); beyond kMaxCalendarDays the number itself.
std::string DateText(double dateTime);

// "YYYY-MM-DDTHH:MM:SS.mmm" of a date-time rounded to the millisecond (the time of a negative date-time is its
// absolute fraction, as the platform reads it); beyond kMaxCalendarDays the number itself.
std::string IsoMillis(double dateTime);

}  // namespace vez::detail

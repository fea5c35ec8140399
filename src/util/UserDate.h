// Compact calendar dates and times of day.
//
// A Date is an unsigned 16-bit day number: day 0 is 1 January 1900, day 65378 is 31 December 2078, and
// BadDate (65535) marks an invalid date. A Time is a signed count of seconds since midnight, 0..86399, with
// BadTime (-1) as the invalid time. The calendar is the Gregorian one, except that a year divisible by 4000 is
// no leap year.
//
// Two-digit years: wherever a year 0..99 is given it becomes year + 1900, or year + 2000 when year + 1900 lies
// below Threshold2000. Negative years are left alone and so are invalid: the parsers report an unreadable year
// as -1, which must not turn into 1999.
//
// Dates and times are formatted and parsed through picture strings of at most 20 characters (DateString):
//   date pictures  d day, m month, y year          'dd/mm/yyyy', 'mm/dd/yy', 'DD.MM.YYYY'
//   time pictures  h hour, m minute, s second, t the am/pm letter, e the letter after it     'hh:mm:ss te'
// Each letter is repeated for the width of its field. A lower-case field is filled with leading zeros, an
// upper-case one with leading blanks; digits beyond the width on the left are dropped (2024 in 'yy' is '24').
// "/" in a date picture is written as SlashChar and ":" in a time picture as ColonChar. Parsing reads each field
// at the positions of its letters, ignoring blanks, and only when the text is exactly as long as the picture;
// otherwise the field keeps its default.
//
// Process-wide state: the six settings variables below. They are plain globals without locks, constant-
// initialised (no start-up order to get wrong); DateStringToDMY writes DefaultYear and DefaultMonth, so parsing
// dates on several threads at once races on them (all threads write the same current date). Everything else is
// stateless. The current date and time come from the system clock in local time.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vez {

using Date = std::uint16_t;  // days since 1 January 1900
using Time = std::int32_t;   // seconds since midnight
// A picture or formatted date/time text: at most kDateStringMax characters (longer input is cut).
using DateString = std::string;

constexpr Date BadDate = 0xFFFF;
constexpr Time BadTime = -1;
constexpr std::size_t kDateStringMax = 20;
constexpr std::int32_t kMinYear = 1900;
constexpr std::int32_t kMaxYear = 2078;
constexpr Date kMaxDate = 65378;  // 31 December 2078
constexpr Time kSecondsPerDay = 86400;

enum class DayType : std::uint8_t { Sunday, Monday, Tuesday, Wednesday, Thursday, Friday, Saturday };

// ---- process-wide settings ----

// Two-digit years give year + 2000 when year + 1900 is below this (initially 1900: all in the 1900s).
extern std::int32_t Threshold2000;
// Written for "/" of a date picture (initially '/').
extern char SlashChar;
// Written for ":" of a time picture (initially ':').
extern char ColonChar;
// am/pm letters in upper case (initially false).
extern bool UpCaseTime;
// The current year and month, written by every DateStringToDMY and used as its defaults (initially 0).
extern std::int32_t DefaultYear;
extern std::uint8_t DefaultMonth;

// ---- calendar ----

// Divisible by 4, not by 4000, and not by 100 unless by 400. The year is taken as given (not expanded).
bool IsLeapYear(std::int32_t Year);
// Days of the month (the year expanded when below 100); 0 for a month outside 1..12.
std::int32_t DaysInMonth(std::int32_t Month, std::int32_t Year);
// The year with the two-digit rule applied.
std::int32_t ExpandYear(std::int32_t Year);

// ---- dates ----

// 1900 <= year (expanded) <= 2078, 1 <= month <= 12, 1 <= day <= days of the month.
bool ValidDate(std::int32_t Day, std::int32_t Month, std::int32_t Year);
// The day number, or BadDate when the date is not valid.
Date DMYtoDate(std::int32_t Day, std::int32_t Month, std::int32_t Year);
// Splits a day number; all three are 0 for BadDate. Day numbers 65379..65534 give dates in 2079.
void DateToDMY(Date Julian, std::int32_t& Day, std::int32_t& Month, std::int32_t& Year);
// Adds years and months first, holding a day above 28 aside (31 January + 1 month = 28 February + 3 days),
// then the days. BadDate when the shifted month lies outside the valid years or the result outside 0..kMaxDate.
Date IncDate(Date Julian, std::int32_t Days, std::int32_t Months, std::int32_t Years);
// The span from Date1 to Date2 in days, months and years (for Date2 >= Date1). When the day of Date2 is below
// the day of Date1 a month is borrowed from the month before Date2's, and Date1's day counts as at most that
// month's length, so the days are never negative (31 January to 1 March 2001: 1 day, 1 month).
void DateDiff(Date Date1, Date Date2, std::int32_t& Days, std::int32_t& Months, std::int32_t& Years);
// 1 January 1900 is a Monday.
DayType DayOfWeek(Date Julian);

// Reads day, month and year from S by the picture; missing or unreadable fields take the defaults (day 1,
// DefaultMonth, DefaultYear, set from today's date first) or -1. The year is returned as read, not expanded.
// True when the values form a valid date.
bool DateStringToDMY(std::string_view Picture, std::string_view S, std::int32_t& Day, std::int32_t& Month,
                     std::int32_t& Year);
// DMYtoDate of what DateStringToDMY reads, or BadDate.
Date DateStringToDate(std::string_view Picture, std::string_view S);
// The picture with its d, m and y fields filled (the year expanded first).
DateString DMYtoDateString(std::string_view Picture, std::int32_t Day, std::int32_t Month, std::int32_t Year);
// As DMYtoDateString; for BadDate the field letters become blanks.
DateString DateToDateString(std::string_view Picture, Date Julian);
// Today's local date (BadDate outside 1900..2078).
Date Today();
DateString TodayString(std::string_view Picture);

// ---- times ----

// Splits a time; all 0 for BadTime and for any other value outside 0..86399.
void TimeToHMS(Time T, std::uint8_t& Hours, std::uint8_t& Minutes, std::uint8_t& Seconds);
// ((Hours mod 24) * 3600 + Minutes * 60 + Seconds) mod 86400.
Time HMStoTime(std::uint8_t Hours, std::uint8_t Minutes, std::uint8_t Seconds);
// 0 <= Hours < 24, 0 <= Minutes <= 60, 0 <= Seconds <= 60.
bool ValidTime(std::int32_t Hours, std::int32_t Minutes, std::int32_t Seconds);
// Reads h, m, s (defaults 0) and the am/pm letter at "t" by the picture; BadTime when anything is invalid.
Time TimeStringToTime(std::string_view Picture, std::string_view S);
// The picture with h, m, s filled; with a "t" the hours are in 12-hour form and "t"/"e" receive "am"/"pm".
DateString TimeToTimeString(std::string_view Picture, Time T);
// As TimeToTimeString in 12-hour form; a picture without "t" gets the hours in 12-hour form but no letter.
DateString TimeToAmPmString(std::string_view Picture, Time T);
// The current local time of day.
Time CurrentTime();
DateString CurrentTimeString(std::string_view Picture);
// TimeToHMS of |Time1 - Time2|.
void TimeDiff(Time Time1, Time Time2, std::uint8_t& Hours, std::uint8_t& Minutes, std::uint8_t& Seconds);
// (T + HMStoTime(Hours mod 24, Minutes, Seconds)) mod 86400, the remainder taking the sign of the sum.
Time IncTime(Time T, std::uint8_t Hours, std::uint8_t Minutes, std::uint8_t Seconds);

}  // namespace vez

#include <gtest/gtest.h>

#include <chrono>

#include "TestUtil.h"
#include "core/Exceptions.h"
#include "core/FormatSettings.h"

namespace vez {
namespace {

TEST(DateTime, EncodeAgreesWithChronoOverCenturiesAndBeforeDayZero) {
  using namespace std::chrono;
  const sys_days epoch = year{1899} / December / 30;
  for (int y = 1; y <= 9999; y += 7) {  // 400 and 1100 among them: a century that is a leap year and one that is not
    for (int m = 1; m <= 12; ++m) {
      const int days = DaysInMonthGregorian(y, m);
      ASSERT_EQ(static_cast<unsigned>((year{y} / month{static_cast<unsigned>(m)} / last).day()), unsigned(days));
      for (int d : {1, 15, days}) {
        const sys_days sd = year{y} / month{static_cast<unsigned>(m)} / day{static_cast<unsigned>(d)};
        const double dt = EncodeDate(y, m, d);
        ASSERT_EQ(static_cast<double>((sd - epoch).count()), dt) << y << '-' << m << '-' << d;
        int yy, mm, dd;
        DecodeDate(dt, yy, mm, dd);
        ASSERT_EQ(std::tuple(y, m, d), std::tuple(yy, mm, dd));
        ASSERT_EQ(static_cast<int>(weekday{sd}.c_encoding()) + 1, DayOfWeekOf(dt));
      }
    }
  }
  const double dt = -1.25;  // 29 December 1899, 06:00
  int y, m, d, h, n, s, z;
  DecodeDate(dt, y, m, d);
  DecodeTime(dt, h, n, s, z);
  EXPECT_EQ(std::tuple(1899, 12, 29, 6), std::tuple(y, m, d, h));
  // Before day 0 the time counts away from zero; day 0 itself is positive.
  EXPECT_EQ(std::pair(-1.25, 0.5),
            std::pair(EncodeDateTime(1899, 12, 29, 6, 0, 0, 0), EncodeDateTime(1899, 12, 30, 12, 0, 0, 0)));
  // A value a hair below midnight rounds to the next day, consistently for date and time.
  const double nearly = EncodeDate(2020, 2, 28) + 0.9999999999;
  DecodeDate(nearly, y, m, d);
  DecodeTime(nearly, h, n, s, z);
  EXPECT_EQ(std::pair(29, 0), std::pair(d, h + n + s + z));
  EXPECT_THROW(EncodeDate(2001, 2, 29), EConvertError);
  EXPECT_THROW(EncodeTime(24, 0, 0, 0), EConvertError);
}

TEST(DateTime, FormatPictures) {
  const double dt = EncodeDateTime(2024, 6, 5, 13, 7, 9, 45);
  for (const auto& c : test::DataRows("core/date-pictures.txt")) EXPECT_EQ(c.at(1), FormatDateTime(c[0], dt));
  EXPECT_EQ("5.6.24", FormatDateTime(std::string_view("d.m.yyyy").substr(0, 6), dt));  // read within the view
  EXPECT_EQ("am|PM",
            FormatDateTime("am/pm", EncodeTime(11, 59, 0, 0)) + "|" + FormatDateTime("AM/PM", EncodeTime(12, 0, 0, 0)));
  EXPECT_EQ("2024-06-05|2024-06-05 13:07:09|13:07:09|01:00",
            FormatDateTime("c", EncodeDate(2024, 6, 5)) + "|" + DateTimeToStr(dt) + "|" +
                DateTimeToStr(EncodeTime(13, 7, 9, 0)) + "|" + FormatDateTime("nn:ss", EncodeTime(0, 1, 0, 0)));
  FormatSettings german = GlobalFormatSettings();
  german.DateSeparator = '.';
  // The short date format as given; one that refers to itself nests two levels deep, no further.
  for (const auto& [format, picture, text] : {std::tuple{"dd/mm/yyyy", "ddddd", "05.06.2024"},
                                              {"d c", "c", "5 5  13:07:09 13:07:09"}, {"d ddddd", "ddddd", "5 5 "}}) {
    german.ShortDateFormat = format;
    EXPECT_EQ(text, FormatDateTime(picture, dt, german)) << format;
  }
  // Beyond the years 1..9999 the calendar goes on: years in full, before year 1 with a minus sign.
  EXPECT_EQ("10000-01-01 Sat", FormatDateTime("yyyy-mm-dd ddd", EncodeDate(9999, 12, 31) + 1));
  EXPECT_EQ("-0001-12-31 99", FormatDateTime("yyyy-mm-dd yy", EncodeDate(1, 1, 1) - 367));
}

TEST(DateTime, ParsesInTheOrderOfTheShortDateFormatAndTwoDigitYearsInTheCenturyWindow) {
  EXPECT_EQ((std::array{EncodeDate(2024, 6, 5), EncodeDateTime(2024, 6, 5, 13, 7, 9, 0),
                         EncodeDateTime(2024, 6, 5, 13, 7, 9, 250), EncodeTime(13, 7, 0, 0), EncodeTime(0, 30, 0, 0)}),
            (std::array{StrToDate("2024-06-05"), StrToDateTime("2024-06-05 13:07:09"),
                        StrToDateTime("2024-06-05T13:07:09.25"), StrToTime("1:07 PM"), StrToTime("12:30 am")}));
  FormatSettings german = GlobalFormatSettings();
  german.DateSeparator = '.';
  german.ShortDateFormat = "dd.mm.yyyy";
  german.DecimalSeparator = ',';
  EXPECT_EQ(std::pair(EncodeDateTime(2024, 6, 5, 8, 0, 0, 0), 0.5),  // the second on day 0
            std::pair(StrToDateTime("5.6.2024 08:00", german), StrToDateTime("30.12.1899 12:00", german)));
  EXPECT_THROW_MSG(StrToDate("31.02.2024", german), EConvertError, "'31.02.2024' is not a valid date");
  // A separator after the year is trailing text; a part has at most four digits.
  for (const char* text : {"5.6.2024.", "5.6.02024"}) EXPECT_THROW(StrToDate(text, german), EConvertError) << text;
  EXPECT_THROW_MSG(StrToDateTime("tomorrow"), EConvertError, "'tomorrow' is not a valid date and time");
  EXPECT_THROW_MSG(StrToTime("25:00"), EConvertError, "'25:00' is not a valid time");
  EXPECT_THROW(StrToTime("13:00 PM"), EConvertError);
  // A two-digit year stands for a year of the hundred that start TwoDigitYearCenturyWindow years before the
  // current one (0: the 1900s). (A run across new year's midnight could fail here.)
  int year, month, day;
  DecodeDate(Now(), year, month, day);
  german.ShortDateFormat = "dd/mm/yy";
  // The window, and the year whose last two digits are written.
  for (const auto& [window, expected] :
       {std::pair{50, year - 50}, {50, year + 49}, {10, year - 10}, {10, year + 89}, {0, 1900}, {0, 1999}}) {
    german.TwoDigitYearCenturyWindow = window;
    const std::string text = Format("01.06.%02d", expected % 100);
    EXPECT_EQ(EncodeDate(expected, 6, 1), StrToDate(text, german)) << text << " window " << window;
  }
  EXPECT_EQ(EncodeDate(1905, 6, 1), StrToDate("01.06.1905", german));  // four digits stand as they are
  german.ShortDateFormat = "mm/dd/yy";
  EXPECT_EQ(EncodeDate(year, 6, 1), StrToDate("6.1", german));  // month and day alone: this year
}

TEST(DateTime, IsoTextRoundTrips) {
  for (double dt : {0.0, 0.5, 45000.5, -700.75, EncodeDateTime(2078, 12, 31, 23, 59, 59, 999)}) {
    double back;
    ASSERT_TRUE(TryISOToDateTime(DateTimeToISO(dt), back)) << DateTimeToISO(dt);
    EXPECT_NEAR(dt, back, 1e-8);
  }
  EXPECT_EQ("1899-12-30T12:00:00 06:00:00.500", DateTimeToISO(0.5) + " " + TimeToISO(0.25 + 0.5 / 86400));
  double v;
  EXPECT_FALSE(TryISOToDateTime("2024-13-01", v) || TryISOToDateTime("2024-01-01X", v));
  // Digits finer than milliseconds are read and dropped; no seconds: 0.
  for (const auto& [text, time] :
       {std::pair{"2024-02-29T13:45:30.2509", "13:45:30.250"}, {"2024-02-29T13:45", "13:45:00"}})
    EXPECT_EQ(time, TryISOToDateTime(text, v) ? TimeToISO(v) : "unread") << text;
}

}  // namespace
}  // namespace vez

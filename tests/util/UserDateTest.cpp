#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <random>
#include <string>

#include "util/UserDate.h"

namespace vez {
namespace {

using namespace std::chrono;

// Restores the process-wide date settings a test changes.
class SettingsGuard {
public:
  SettingsGuard()
      : threshold_(Threshold2000), slash_(SlashChar), colon_(ColonChar), upCase_(UpCaseTime) {}
  ~SettingsGuard() {
    Threshold2000 = threshold_;
    SlashChar = slash_;
    ColonChar = colon_;
    UpCaseTime = upCase_;
  }
  SettingsGuard(const SettingsGuard&) = delete;
  SettingsGuard& operator=(const SettingsGuard&) = delete;

private:
  std::int32_t threshold_;
  char slash_;
  char colon_;
  bool upCase_;
};

constexpr sys_days kDay0 = year{1900} / January / 1;

year_month_day Civil(Date n) { return year_month_day{kDay0 + days{n}}; }

Date FromCivil(int y, unsigned m, unsigned d) {
  return static_cast<Date>((sys_days{year{y} / month{m} / day{d}} - kDay0).count());
}

TEST(UserDate, EveryDayNumberAgreesWithChrono) {
  for (std::int32_t n = 0; n <= kMaxDate; ++n) {
    const Date date = static_cast<Date>(n);
    const year_month_day ref = Civil(date);
    std::int32_t d, m, y;
    DateToDMY(date, d, m, y);
    ASSERT_EQ(static_cast<int>(ref.year()), y) << n;
    ASSERT_EQ(static_cast<unsigned>(ref.month()), static_cast<unsigned>(m)) << n;
    ASSERT_EQ(static_cast<unsigned>(ref.day()), static_cast<unsigned>(d)) << n;
    ASSERT_TRUE(ValidDate(d, m, y)) << n;
    ASSERT_EQ(date, DMYtoDate(d, m, y)) << n;
    ASSERT_EQ(weekday{sys_days{ref}}.c_encoding(), static_cast<unsigned>(DayOfWeek(date))) << n;
  }
}

TEST(UserDate, ValidDateAgreesWithChronoOverWholeRange) {
  // Days 0..32 of months 0..13 of every valid year and the years just outside.
  for (int y = 1899; y <= 2079; ++y) {
    for (int m = 0; m <= 13; ++m) {
      for (int d = 0; d <= 32; ++d) {
        const bool ok = y >= 1900 && y <= 2078 && m >= 1 && m <= 12 && d >= 1 &&
                        year_month_day{year{y} / month{static_cast<unsigned>(m)} / day{static_cast<unsigned>(d)}}.ok();
        ASSERT_EQ(ok, ValidDate(d, m, y)) << d << '.' << m << '.' << y;
        ASSERT_EQ(ok, DMYtoDate(d, m, y) != BadDate) << d << '.' << m << '.' << y;
      }
    }
  }
}

// Day numbers outside the range split into zeros, or past the last valid day into days of 2079.
TEST(UserDate, DayNumbersOutsideTheRange) {
  std::int32_t d = -5, m = -5, y = -5;
  DateToDMY(BadDate, d, m, y);
  EXPECT_EQ(0, d);
  EXPECT_EQ(0, m);
  EXPECT_EQ(0, y);
  DateToDMY(65379, d, m, y);
  EXPECT_EQ(20790101, y * 10000 + m * 100 + d);
}

TEST(UserDate, LeapYearsAndMonthLengths) {
  for (int y = 1900; y <= 2078; ++y) {
    ASSERT_EQ(year{y}.is_leap(), IsLeapYear(y)) << y;
    for (unsigned m = 1; m <= 12; ++m) {
      ASSERT_EQ(static_cast<unsigned>((year{y} / month{m} / last).day()),
                static_cast<unsigned>(DaysInMonth(static_cast<std::int32_t>(m), y)))
          << m << '/' << y;
    }
  }
  // Beyond the range of dates, every 4000th year is no leap year either.
  const std::pair<std::int32_t, bool> years[] = {{2400, true}, {4000, false}, {4004, true}, {8000, false}};
  for (const auto& [y, leap] : years) EXPECT_EQ(leap, IsLeapYear(y)) << y;
  for (std::int32_t m : {-1, 0, 13}) EXPECT_EQ(0, DaysInMonth(m, 2000)) << m;
}

TEST(UserDate, TwoDigitYears) {
  SettingsGuard guard;
  EXPECT_EQ(FromCivil(1924, 6, 5), DMYtoDate(5, 6, 24));
  EXPECT_EQ(28, DaysInMonth(2, 0));  // 1900
  EXPECT_FALSE(ValidDate(29, 2, 0));
  Threshold2000 = 1950;
  EXPECT_EQ(FromCivil(2024, 6, 5), DMYtoDate(5, 6, 24));
  EXPECT_EQ(FromCivil(1950, 6, 5), DMYtoDate(5, 6, 50));
  EXPECT_EQ(FromCivil(2049, 6, 5), DMYtoDate(5, 6, 49));
  EXPECT_EQ(29, DaysInMonth(2, 0));  // 2000
  EXPECT_TRUE(ValidDate(29, 2, 0));
  EXPECT_EQ(2000, ExpandYear(0));
  EXPECT_EQ(1999, ExpandYear(99));
  EXPECT_EQ(100, ExpandYear(100));  // three digits are taken as they stand (and are invalid)
  EXPECT_EQ(BadDate, DMYtoDate(1, 1, 100));
  EXPECT_EQ(-1, ExpandYear(-1));
  EXPECT_FALSE(ValidDate(1, 1, -1));
}

TEST(UserDate, IncDateCases) {
  struct Case {
    Date from;
    std::int32_t days, months, years;
    Date expected;
  };
  const Case cases[] = {
      {FromCivil(2001, 1, 31), 0, 1, 0, FromCivil(2001, 3, 3)},    // 28 February + 3 days
      {FromCivil(2001, 3, 31), 0, -1, 0, FromCivil(2001, 3, 3)},
      {FromCivil(2000, 1, 31), 0, 1, 0, FromCivil(2000, 3, 2)},    // leap year: 28 February + 3 = 2 March
      {FromCivil(2001, 1, 15), 0, 13, 0, FromCivil(2002, 2, 15)},
      {FromCivil(2001, 1, 15), 0, -13, 0, FromCivil(1999, 12, 15)},
      {FromCivil(2000, 2, 29), 0, 0, 1, FromCivil(2001, 3, 1)},     // 28 February 2001 + 1
      {FromCivil(2001, 5, 20), 1, 1, 1, FromCivil(2002, 6, 21)},
      {0, -1, 0, 0, BadDate},                                       // before the first day
      {kMaxDate, 1, 0, 0, BadDate},                                 // after the last day
      {FromCivil(2078, 12, 1), 0, 1, 0, BadDate},                   // month outside the range
      {FromCivil(1900, 1, 10), 0, -1, 0, BadDate},
      {BadDate, 1, 0, 0, BadDate},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.expected, IncDate(c.from, c.days, c.months, c.years))
        << c.from << " + " << c.days << "d " << c.months << "m " << c.years << "y";
  }
}

TEST(UserDate, IncDateMonthsAgreeWithChrono) {
  std::mt19937 rng(7);
  std::uniform_int_distribution<int> dayNumber(0, kMaxDate);
  std::uniform_int_distribution<int> monthShift(-400, 400);
  for (int i = 0; i < 20000; ++i) {
    const Date from = static_cast<Date>(dayNumber(rng));
    const int shift = monthShift(rng);
    year_month_day ymd = Civil(from);
    if (static_cast<unsigned>(ymd.day()) > 28) continue;  // days above 28 are held aside, checked above
    const year_month_day to = ymd + months{shift};
    const int y = static_cast<int>(to.year());
    const Date expected = (y < 1900 || y > 2078) ? BadDate : static_cast<Date>((sys_days{to} - kDay0).count());
    ASSERT_EQ(expected, IncDate(from, 0, shift, 0)) << from << " + " << shift << " months";
  }
}

TEST(UserDate, DateDiffCases) {
  struct Case {
    Date d1, d2;
    std::int32_t days, months, years;
  };
  const Case cases[] = {
      {FromCivil(2001, 1, 31), FromCivil(2001, 3, 1), 1, 1, 0},
      {FromCivil(2001, 1, 15), FromCivil(2001, 3, 10), 23, 1, 0},  // borrows February's 28 days
      {FromCivil(2000, 12, 20), FromCivil(2001, 1, 5), 16, 0, 0},
      {FromCivil(1999, 11, 30), FromCivil(2001, 2, 28), 29, 2, 1},
      {FromCivil(1900, 1, 1), FromCivil(2078, 12, 31), 30, 11, 178},
  };
  for (const Case& c : cases) {
    std::int32_t days = -1, months = -1, years = -1;
    DateDiff(c.d1, c.d2, days, months, years);
    EXPECT_EQ(c.days, days) << c.d1 << ".." << c.d2;
    EXPECT_EQ(c.months, months) << c.d1 << ".." << c.d2;
    EXPECT_EQ(c.years, years) << c.d1 << ".." << c.d2;
  }
}

TEST(UserDate, DateDiffIsUndoneByIncDate) {
  std::mt19937 rng(11);
  std::uniform_int_distribution<int> dayNumber(0, kMaxDate);
  for (int i = 0; i < 20000; ++i) {
    Date a = static_cast<Date>(dayNumber(rng));
    Date b = static_cast<Date>(dayNumber(rng));
    if (a > b) std::swap(a, b);
    std::int32_t days, months, years;
    DateDiff(a, b, days, months, years);
    ASSERT_GE(days, 0) << a << ".." << b;
    ASSERT_LT(days, 31) << a << ".." << b;
    ASSERT_GE(months, 0) << a << ".." << b;
    ASSERT_LT(months, 12) << a << ".." << b;
    ASSERT_GE(years, 0) << a << ".." << b;
    // Without a day above 28 the shift is exact.
    if (static_cast<unsigned>(Civil(a).day()) <= 28) {
      ASSERT_EQ(b, IncDate(a, days, months, years)) << a << ".." << b;
    }
  }
}

TEST(UserDate, FormatsDates) {
  SettingsGuard guard;
  struct Case {
    const char* picture;
    std::int32_t d, m, y;
    const char* expected;
  };
  const Case cases[] = {
      {"dd/mm/yy", 5, 6, 2024, "05/06/24"},
      {"DD/MM/YY", 5, 6, 2024, " 5/ 6/24"},
      {"dd/mm/yyyy", 5, 6, 2024, "05/06/2024"},
      {"mm/dd/yyyy", 25, 12, 1999, "12/25/1999"},
      {"d.m.yy", 25, 12, 1999, "5.2.99"},           // one-character fields keep the last digit
      {"dDD.mm.yyyyy", 5, 6, 2024, "0 5.06.02024"},  // case decides per position
      {"dd/mm/yy", 5, 6, 24, "05/06/24"},           // 24 expands to 1924
      {"Date: dd", 7, 1, 2000, "Date: 07"},
      {"(none)", 7, 1, 2000, "(none)"},
      {"dd/mm/yyyy and more text", 7, 1, 2000, "07/01/2000 and more "},  // cut to 20
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.expected, DMYtoDateString(c.picture, c.d, c.m, c.y)) << c.picture;
  }
  SlashChar = '.';
  EXPECT_EQ("05.06.2024", DMYtoDateString("dd/mm/yyyy", 5, 6, 2024));
  EXPECT_EQ("05.06.2024", DateToDateString("dd/mm/yyyy", DMYtoDate(5, 6, 2024)));
  EXPECT_EQ("  .  .    ", DateToDateString("dd/mm/yyyy", BadDate));
  EXPECT_EQ("  -  -    ", DateToDateString("DD-MM-YYYY", BadDate));
}

TEST(UserDate, ParsesDates) {
  SettingsGuard guard;
  struct Case {
    const char* picture;
    const char* text;
    bool ok;
    std::int32_t d, m, y;
  };
  const Case cases[] = {
      {"dd/mm/yyyy", "05/06/2024", true, 5, 6, 2024},
      {"dd/mm/yyyy", " 5/ 6/2024", true, 5, 6, 2024},  // blanks inside fields are skipped
      {"mm/dd/yy", "12/25/99", true, 25, 12, 99},        // the year stays as read
      {"DD.MM.YYYY", "31.02.2001", false, 31, 2, 2001},
      {"yyyy-mm-dd", "2003-02-01", true, 1, 2, 2003},
      {"dd/mm/yyyy", "ab/06/2024", false, -1, 6, 2024},
      {"dd/mm/yyyy", "05/06/    ", false, 5, 6, -1},    // an empty field is unreadable
      {"dd/mm/yyyy", "05/06/2079", false, 5, 6, 2079},
  };
  for (const Case& c : cases) {
    std::int32_t d = 0, m = 0, y = 0;
    EXPECT_EQ(c.ok, DateStringToDMY(c.picture, c.text, d, m, y)) << c.picture << " " << c.text;
    EXPECT_EQ(c.d, d) << c.text;
    EXPECT_EQ(c.m, m) << c.text;
    EXPECT_EQ(c.y, y) << c.text;
  }
  EXPECT_EQ(FromCivil(1999, 12, 25), DateStringToDate("mm/dd/yy", "12/25/99"));
  EXPECT_EQ(BadDate, DateStringToDate("DD.MM.YYYY", "31.02.2001"));
  Threshold2000 = 1950;
  EXPECT_EQ(FromCivil(2024, 6, 5), DateStringToDate("dd/mm/yy", "05/06/24"));
}

TEST(UserDate, ParsingFallsBackToTodaysMonthAndYear) {
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
  ASSERT_NE(nullptr, localtime_r(&now, &tm));
  std::int32_t d = 0, m = 0, y = 0;
  // The text is shorter than the picture: every field keeps its default.
  EXPECT_TRUE(DateStringToDMY("dd/mm/yyyy", "5/06/2024", d, m, y));
  EXPECT_EQ(1, d);
  EXPECT_EQ(DefaultMonth, m);
  EXPECT_EQ(DefaultYear, y);
  EXPECT_EQ(tm.tm_year + 1900, DefaultYear);  // (a test run across new year's midnight would fail here)
  EXPECT_EQ(tm.tm_mon + 1, DefaultMonth);
  // A picture without a year takes the current one.
  EXPECT_TRUE(DateStringToDMY("dd/mm", "05/06", d, m, y));
  EXPECT_EQ(DefaultYear, y);
  EXPECT_EQ(6, m);
}

TEST(UserDate, DateTextsRoundTrip) {
  const char* pictures[] = {"dd/mm/yyyy", "mm/dd/yyyy", "YYYY-MM-DD", "DD.MM.YYYY", "yyyymmdd"};
  for (const char* picture : pictures) {
    for (std::int32_t n = 0; n <= kMaxDate; n += 97) {
      const Date date = static_cast<Date>(n);
      const DateString text = DateToDateString(picture, date);
      ASSERT_EQ(date, DateStringToDate(picture, text)) << picture << " " << text;
    }
  }
}

// Arbitrary pictures and texts (longer than 20 characters too) give results of at most 20 characters, and a
// parsed time is BadTime or a second of the day.
TEST(UserDate, ArbitraryPicturesStayInBounds) {
  std::mt19937 rng(13);
  const std::string alphabet = "dmyhsteDMYHSTE/:. 0159x";
  std::uniform_int_distribution<int> length(0, 24);
  std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
  const auto random = [&] {
    std::string s(static_cast<std::size_t>(length(rng)), ' ');
    for (char& c : s) c = alphabet[pick(rng)];
    return s;
  };
  for (int i = 0; i < 5000; ++i) {
    const std::string picture = random();
    const std::string text = random();
    ASSERT_LE(DMYtoDateString(picture, 31, 12, 2078).size(), kDateStringMax);
    ASSERT_LE(DateToDateString(picture, BadDate).size(), kDateStringMax);
    ASSERT_LE(TimeToTimeString(picture, 86399).size(), kDateStringMax);
    ASSERT_EQ(std::min(picture.size(), kDateStringMax), TimeToAmPmString(picture, 3600).size());
    const Time t = TimeStringToTime(picture, text);
    ASSERT_TRUE(t == BadTime || (t >= 0 && t < kSecondsPerDay)) << picture << "|" << text;
    std::int32_t d, m, y;
    if (DateStringToDMY(picture, text, d, m, y)) {
      ASSERT_NE(BadDate, DMYtoDate(d, m, y)) << picture << "|" << text;
    }
  }
}

TEST(UserDate, TimeSplitsAndJoins) {
  for (Time t = 0; t < kSecondsPerDay; ++t) {
    std::uint8_t h, m, s;
    TimeToHMS(t, h, m, s);
    ASSERT_EQ(t / 3600, h);
    ASSERT_EQ(t % 3600 / 60, m);
    ASSERT_EQ(t % 60, s);
    ASSERT_EQ(t, HMStoTime(h, m, s));
  }
  for (const Time bad : {BadTime, kSecondsPerDay, -3600}) {
    std::uint8_t h = 9, m = 9, s = 9;
    TimeToHMS(bad, h, m, s);
    EXPECT_EQ(0, h + m + s) << bad;
  }
  EXPECT_EQ(3600, HMStoTime(25, 0, 0));
  EXPECT_EQ(0, HMStoTime(23, 60, 0));
  EXPECT_EQ(3660, HMStoTime(0, 60, 60));
}

TEST(UserDate, ValidTimeBounds) {
  EXPECT_TRUE(ValidTime(0, 0, 0) && ValidTime(23, 59, 59) && ValidTime(23, 60, 60));
  EXPECT_FALSE(ValidTime(24, 0, 0) || ValidTime(-1, 0, 0) || ValidTime(0, 61, 0) || ValidTime(0, 0, 61));
}

TEST(UserDate, ParsesTimes) {
  struct Case {
    const char* picture;
    const char* text;
    Time expected;
  };
  const Case cases[] = {
      {"hh:mm te", "12:30 am", 1800},
      {"hh:mm te", "00:30 am", BadTime},
      {"hh:mm te", "12:30 pm", 45000},
      {"hh:mm te", "01:05 PM", 13 * 3600 + 5 * 60},
      {"hh:mm te", "11:59 a ", 11 * 3600 + 59 * 60},  // blank after the letter
      {"hh:mm te", "12:30   ", 1800},                  // blank am/pm letter counts as am
      {"hh:mm te", "13:00 pm", BadTime},
      {"hh:mm te", "01:00 xm", BadTime},
      {"hh:mm te", "01:00 ax", BadTime},
      {"hh:mm:ss", "23:59:59", 86399},
      {"hh:mm:ss", "24:00:00", BadTime},
      {"hh:mm:ss", " 7: 5: 3", 7 * 3600 + 5 * 60 + 3},
      {"hh:mm:ss", "07:x5:03", BadTime},
      {"hh:mm", "07:60", 8 * 3600},                   // 60 minutes are accepted
      {"mm:ss", "10:30", 630},
      {"hh:mm", "7:05", 0},                           // all fields default to 0
  };
  for (const Case& c : cases) EXPECT_EQ(c.expected, TimeStringToTime(c.picture, c.text)) << c.picture << " " << c.text;
}

TEST(UserDate, FormatsTimes) {
  SettingsGuard guard;
  struct Case {
    const char* picture;
    Time t;
    const char* expected;
  };
  const Case cases[] = {
      {"hh:mm te", 13 * 3600 + 5 * 60, "01:05 pm"},
      {"hh:mm te", 0, "12:00 am"},
      {"hh:mm te", 12 * 3600, "12:00 pm"},
      {"hh:mm te", 11 * 3600 + 59 * 60, "11:59 am"},
      {"hh:mm:ss", 13 * 3600 + 5 * 60 + 9, "13:05:09"},
      {"HH:MM:SS", 3 * 3600 + 5 * 60 + 9, " 3: 5: 9"},
      {"hh:mm:ss", BadTime, "  :  :  "},
      {"hh:mm te", BadTime, "  :   am"},
      {"h", 23 * 3600, "3"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.expected, TimeToTimeString(c.picture, c.t)) << c.picture << " " << c.t;
  UpCaseTime = true;
  EXPECT_EQ("01:05 PM", TimeToTimeString("hh:mm te", 13 * 3600 + 5 * 60));
  ColonChar = '.';
  EXPECT_EQ("13.05", TimeToTimeString("hh:mm", 13 * 3600 + 5 * 60));
}

TEST(UserDate, AmPmStrings) {
  EXPECT_EQ("01:05", TimeToAmPmString("hh:mm", 13 * 3600 + 5 * 60));
  EXPECT_EQ("12:00:00", TimeToAmPmString("hh:mm:ss", 0));
  EXPECT_EQ("01:05 pm", TimeToAmPmString("hh:mm te", 13 * 3600 + 5 * 60));
  // A full 20-character picture still gets the 12-hour form.
  EXPECT_EQ("01:05:00............", TimeToAmPmString("hh:mm:ss............", 13 * 3600 + 5 * 60));
}

TEST(UserDate, TimeTextsRoundTrip) {
  for (Time t = 0; t < kSecondsPerDay; t += 7) {
    ASSERT_EQ(t, TimeStringToTime("hh:mm:ss te", TimeToTimeString("hh:mm:ss te", t))) << t;
    ASSERT_EQ(t, TimeStringToTime("HH:MM:SS", TimeToTimeString("HH:MM:SS", t))) << t;
  }
}

TEST(UserDate, TimeDiffAndIncTime) {
  for (const auto& [a, b] : {std::pair{3600, 7322}, std::pair{7322, 3600}}) {
    std::uint8_t h, m, s;
    TimeDiff(a, b, h, m, s);
    EXPECT_EQ(1 * 10000 + 2 * 100 + 2, h * 10000 + m * 100 + s) << a << " - " << b;
  }

  struct Case {
    Time t;
    std::uint8_t h, m, s;
    Time expected;
  };
  const Case cases[] = {
      {0, 1, 2, 3, 3723},
      {86000, 0, 10, 0, 200},                 // wraps past midnight
      {3600, 25, 0, 0, 7200},                 // hours taken mod 24
      {BadTime, 0, 0, 1, 0},
  };
  for (const Case& c : cases) EXPECT_EQ(c.expected, IncTime(c.t, c.h, c.m, c.s)) << c.t;
}

TEST(UserDate, TodayAndCurrentTimeFollowTheClock) {
  const auto dayOf = [] {
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    return FromCivil(tm.tm_year + 1900, static_cast<unsigned>(tm.tm_mon + 1), static_cast<unsigned>(tm.tm_mday));
  };
  const Date before = dayOf();
  const Date today = Today();
  const Date after = dayOf();
  EXPECT_TRUE(today == before || today == after);
  EXPECT_NE(BadDate, today);
  const DateString text = TodayString("dd/mm/yyyy");
  EXPECT_TRUE(text == DateToDateString("dd/mm/yyyy", before) || text == DateToDateString("dd/mm/yyyy", after))
      << text;
  const Time now = CurrentTime();
  EXPECT_GE(now, 0);
  EXPECT_LT(now, kSecondsPerDay);
  EXPECT_EQ(8u, CurrentTimeString("hh:mm:ss").size());
}

}  // namespace
}  // namespace vez

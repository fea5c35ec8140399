#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <ctime>
#include <random>
#include <string>

#include "TestUtil.h"
#include "util/UserDate.h"

namespace vez {
namespace {

using namespace std::chrono;

// Restores the process-wide date settings a test changes.
struct SettingsGuard {
  std::int32_t threshold = Threshold2000;
  char slash = SlashChar, colon = ColonChar;
  bool upCase = UpCaseTime;
  ~SettingsGuard() { Threshold2000 = threshold, SlashChar = slash, ColonChar = colon, UpCaseTime = upCase; }
};

constexpr sys_days kDay0 = year{1900} / January / 1;
year_month_day Civil(Date n) { return year_month_day{kDay0 + days{n}}; }
Date FromCivil(int y, unsigned m, unsigned d) {
  return static_cast<Date>((sys_days{year{y} / month{m} / day{d}} - kDay0).count());
}

// The calendar against std::chrono: every day number, every (day, month, year) around the valid range.
TEST(UserDate, CalendarAgreesWithChrono) {
  for (std::int32_t n = 0; n <= kMaxDate; ++n) {
    const year_month_day ref = Civil(static_cast<Date>(n));
    std::int32_t d, m, y;
    DateToDMY(static_cast<Date>(n), d, m, y);
    ASSERT_EQ(static_cast<int>(ref.year()) * 10000 + static_cast<int>(static_cast<unsigned>(ref.month())) * 100 +
                  static_cast<int>(static_cast<unsigned>(ref.day())),
              y * 10000 + m * 100 + d) << n;
    ASSERT_EQ(weekday{sys_days{ref}}.c_encoding(), static_cast<unsigned>(DayOfWeek(static_cast<Date>(n)))) << n;
  }
  for (int y = 1899; y <= 2079; ++y) {
    if (y >= 1900 && y <= 2078) { ASSERT_EQ(year{y}.is_leap(), IsLeapYear(y)) << y; }
    for (int m = 0; m <= 13; ++m) {
      for (int d = 0; d <= 32; ++d) {
        const year_month_day ymd{year{y} / month{static_cast<unsigned>(m)} / day{static_cast<unsigned>(d)}};
        const bool ok = y >= 1900 && y <= 2078 && m >= 1 && m <= 12 && d >= 1 && ymd.ok();
        ASSERT_EQ(ok, ValidDate(d, m, y)) << d << '.' << m << '.' << y;
        ASSERT_EQ(ok ? static_cast<Date>((sys_days{ymd} - kDay0).count()) : BadDate, DMYtoDate(d, m, y))
            << d << '.' << m << '.' << y;
      }
    }
  }
  for (const auto& [y, leap] : {std::pair{2200, false}, {2400, true}, {4000, false}, {8000, false}}) {
    EXPECT_EQ(leap, IsLeapYear(y)) << y;
  }
  std::int32_t d = -5, m = -5, y = -5;
  DateToDMY(BadDate, d, m, y);
  const std::int32_t bad = d + m + y;
  DateToDMY(65379, d, m, y);  // past the last valid day: 2079
  EXPECT_EQ(std::tuple(0, 0, 20790101), std::tuple(DaysInMonth(13, 2000), bad, y * 10000 + m * 100 + d));
}

// The rows of tests/data/util/dates.txt.
TEST(UserDate, TablesAsWritten) {
  const auto date = [](const std::string& s) {
    return s == "bad"    ? BadDate
           : s[0] == '#' ? static_cast<Date>(std::stoi(s.substr(1)))
                         : FromCivil(std::stoi(s), std::stoul(s.substr(5)), std::stoul(s.substr(8)));
  };
  const auto time = [](const std::string& s) { return s == "bad" ? BadTime : static_cast<Time>(std::stoi(s)); };
  const auto rows = test::DataRows("util/dates.txt");
  for (const auto& c : rows) {
    SCOPED_TRACE(testing::PrintToString(c));
    std::int32_t d = 0, m = 0, y = 0;
    if (c[0] == "format") {
      EXPECT_EQ(c[2], DMYtoDateString(c[1], std::stoi(c[3]), std::stoi(c[4]), std::stoi(c[5])));
    } else if (c[0] == "parse") {
      EXPECT_EQ(c[3] == "1", DateStringToDMY(c[1], c[2], d, m, y));
      EXPECT_EQ(std::stoi(c[4]), y * 10000 + m * 100 + d);
    } else if (c[0] == "time") {
      EXPECT_EQ(time(c[3]), TimeStringToTime(c[1], c[2]));
    } else if (c[0] == "timetext") {
      EXPECT_EQ(c[2], TimeToTimeString(c[1], time(c[3])));
    } else if (c[0] == "inc") {
      EXPECT_EQ(date(c[5]), IncDate(date(c[1]), std::stoi(c[2]), std::stoi(c[3]), std::stoi(c[4])));
    } else if (c[0] == "diff") {
      DateDiff(date(c[1]), date(c[2]), d, m, y);
      EXPECT_EQ(std::stoi(c[3]), y * 10000 + m * 100 + d);
    } else {
      ADD_FAILURE() << "unknown row";
    }
  }
  EXPECT_EQ(37u, rows.size());
}

TEST(UserDate, IncDateAndDateDiff) {
  // Month shifts agree with chrono, and IncDate undoes DateDiff, whenever no day above 28 is held aside.
  std::mt19937 rng(7);
  std::uniform_int_distribution<int> dayNumber(0, kMaxDate), monthShift(-400, 400);
  for (int i = 0; i < 20000; ++i) {
    const Date from = static_cast<Date>(dayNumber(rng));
    if (static_cast<unsigned>(Civil(from).day()) > 28) continue;
    const int shift = monthShift(rng);
    const year_month_day to = Civil(from) + months{shift};
    const int y = static_cast<int>(to.year());
    ASSERT_EQ(y < 1900 || y > 2078 ? BadDate : static_cast<Date>((sys_days{to} - kDay0).count()),
              IncDate(from, 0, shift, 0)) << from << " + " << shift;
    const Date later = static_cast<Date>(dayNumber(rng));
    if (later < from) continue;
    std::int32_t d, m, yy;
    DateDiff(from, later, d, m, yy);
    ASSERT_TRUE(d >= 0 && d < 31 && m >= 0 && m < 12) << from << ".." << later;
    ASSERT_EQ(later, IncDate(from, d, m, yy)) << from << ".." << later;
  }
}

TEST(UserDate, DateTexts) {
  SettingsGuard guard;
  // Fields the text does not give take today's month and year.
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
  ASSERT_NE(nullptr, localtime_r(&now, &tm));
  std::int32_t d = 0, m = 0, y = 0;
  EXPECT_TRUE(DateStringToDMY("dd/mm/yyyy", "5/06/2024", d, m, y));  // too short: nothing is read
  EXPECT_EQ((tm.tm_year + 1900) * 10000 + (tm.tm_mon + 1) * 100 + 1, y * 10000 + m * 100 + d);
  EXPECT_EQ(Today(), FromCivil(tm.tm_year + 1900, static_cast<unsigned>(tm.tm_mon + 1),
                               static_cast<unsigned>(tm.tm_mday)));  // (fails only across midnight)

  // Two-digit years: in the 1900s by default, below Threshold2000 in the 2000s.
  EXPECT_EQ(std::pair(FromCivil(1924, 6, 5), false), std::pair(DMYtoDate(5, 6, 24), ValidDate(29, 2, 0)));  // 1900
  Threshold2000 = 1950;
  EXPECT_EQ((std::array{FromCivil(2049, 6, 5), FromCivil(1950, 6, 5)}),
            (std::array{DMYtoDate(5, 6, 49), DMYtoDate(5, 6, 50)}));
  EXPECT_TRUE(ValidDate(29, 2, 0));  // 2000
  EXPECT_EQ(std::pair(100, -1), std::pair(ExpandYear(100), ExpandYear(-1)));  // an unreadable year stays invalid
  EXPECT_EQ(FromCivil(2024, 6, 5), DateStringToDate("dd/mm/yy", "05/06/24"));
  SlashChar = '.';
  EXPECT_EQ("05.06.2024|  .  .    ", DateToDateString("dd/mm/yyyy", FromCivil(2024, 6, 5)) + "|" +
                                          DateToDateString("dd/mm/yyyy", BadDate));
  for (const char* picture : {"dd/mm/yyyy", "mm/dd/yyyy", "YYYY-MM-DD", "yyyymmdd"}) {
    for (std::int32_t n = 0; n <= kMaxDate; n += 97) {
      const Date date = static_cast<Date>(n);
      ASSERT_EQ(date, DateStringToDate(picture, DateToDateString(picture, date))) << picture << " " << n;
    }
  }
}

TEST(UserDate, Times) {
  for (Time t = 0; t < kSecondsPerDay; ++t) {
    std::uint8_t h, m, s;
    TimeToHMS(t, h, m, s);
    ASSERT_EQ(t, h * 3600 + m * 60 + s);
    ASSERT_TRUE(h < 24 && m < 60 && s < 60) << t;
    ASSERT_EQ(t, HMStoTime(h, m, s));
    ASSERT_EQ(t, TimeStringToTime("hh:mm:ss te", TimeToTimeString("hh:mm:ss te", t))) << t;
  }
  std::uint8_t h = 9, m = 9, s = 9;
  TimeToHMS(kSecondsPerDay, h, m, s);
  EXPECT_EQ(0, h + m + s);
  EXPECT_EQ(std::pair(3600, true), std::pair(int(HMStoTime(25, 0, 0)), ValidTime(23, 60, 60)));
  EXPECT_FALSE(ValidTime(24, 0, 0) || ValidTime(0, 61, 0) || ValidTime(0, 0, 61));

  SettingsGuard guard;
  const std::string plain = TimeToAmPmString("hh:mm", 47100);
  UpCaseTime = true;
  ColonChar = '.';
  EXPECT_EQ("01:05|01.05 PM", plain + "|" + TimeToTimeString("hh:mm te", 47100));

  TimeDiff(3600, 7322, h, m, s);
  // IncTime wraps past midnight.
  EXPECT_EQ((std::array{10202, 200, 7200}),
            (std::array{h * 10000 + m * 100 + s, int(IncTime(86000, 0, 10, 0)), int(IncTime(3600, 25, 0, 0))}));
}

// Arbitrary pictures and texts give results of at most 20 characters and times within the day.
TEST(UserDate, ArbitraryPicturesStayInBounds) {
  std::mt19937 rng(13);
  const std::string alphabet = "dmyhsteDMYHSTE/:. 0159x";
  const auto random = [&] {
    std::string s(rng() % 25, ' ');
    for (char& c : s) c = alphabet[rng() % alphabet.size()];
    return s;
  };
  for (int i = 0; i < 5000; ++i) {
    const std::string picture = random(), text = random();
    ASSERT_LE(DMYtoDateString(picture, 31, 12, 2078).size(), kDateStringMax);
    ASSERT_LE(TimeToTimeString(picture, 86399).size(), kDateStringMax);
    const Time t = TimeStringToTime(picture, text);
    ASSERT_TRUE(t == BadTime || (t >= 0 && t < kSecondsPerDay)) << picture << "|" << text;
    std::int32_t d, m, y;
    ASSERT_TRUE(!DateStringToDMY(picture, text, d, m, y) || DMYtoDate(d, m, y) != BadDate) << picture << "|" << text;
  }
}

}  // namespace
}  // namespace vez

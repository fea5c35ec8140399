#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "TestUtil.h"
#include "core/FormatSettings.h"
#include "core/StringList.h"
#include "util/Ustring.h"

namespace vez {
namespace {

using namespace std::string_literals;
using Strings = std::vector<std::string>;

TEST(Ustring, NumberTexts) {
  EXPECT_EQ("ab  |007|abcdef", Pad("ab", 4) + "|" + LeftPadCh("7", '0', 3) + "|" + PadCh("abcdef", 'x', 3));
  DecimalSeparatorScope comma(',');  // F2SShort keeps "."; PegelToStr follows the process separator
  EXPECT_EQ("45,3|-|45", PegelToStr(45.26, 0, 1) + "|" + PegelToStr(0, 0, 1) + "|" + PegelToStr(45.26, 0, 0));
  const double t0 = EncodeDate(2024, 6, 5);
  // Both ways round; the first two: 1.5 s stored a little below.
  const std::tuple<double, bool, std::string> spans[] = {
      {EncodeTime(0, 0, 1, 500), true, "00:01:500 [m:s:ms]"}, {EncodeTime(0, 0, 1, 500), false, "00:00:01 [h:m:s]"},
      {EncodeTime(1, 2, 3, 400), true, "01:02:03 [h:m:s]"}, {1, true, "01:00:00 [d:h:m]"},
      {400 + EncodeTime(23, 59, 0, 0), false, "400:23:59 [d:h:m]"}};
  for (const auto& [span, ms, expected] : spans)
    EXPECT_EQ(std::pair(expected, expected), std::pair(DiffTimeStr(t0, t0 + span, ms), DiffTimeStr(t0 + span, t0, ms)));
}

// Scans with `scan` from `pos`; "value@pos-after" or "!@pos" on an error (then the value must be 0).
template <typename Scan>
std::string Scanned(const std::string& text, std::uint16_t pos, Scan scan) {
  std::uint8_t err = 99;
  const double value = scan(text, pos, err);
  if (err == 0) return F2SShort(value) + "@" + std::to_string(pos);
  EXPECT_EQ(0.0, value) << text;
  return (err == 1 ? "!@" : "?@") + std::to_string(pos);
}

// The scanners with their range or separator bound, in the form Scanned takes.
auto Int(std::int32_t lo, std::int32_t hi) {
  return [=](std::string_view s, std::uint16_t& p, std::uint8_t& e) { return striint(s, p, lo, hi, e); };
}
auto Float(double lo, double hi, char sep) {
  return [=](std::string_view s, std::uint16_t& p, std::uint8_t& e) {
    return sep == 0 ? strireal(s, p, lo, hi, e) : StriFloat(s, p, lo, hi, e, sep);
  };
}

TEST(Ustring, Scanners) {
  const auto integer = Int(-10, 100);
  const std::tuple<std::string, std::uint16_t, const char*> ints[] = {
      {"x= 12;", 1, "12@6"},   {"-7 8", 3, "8@5"},      {"x= 120;", 1, "!@1"},  // out of range
      {"1-2", 1, "!@1"},       {"a\xFE" "12", 1, "!@1"}, {"a\0" "12"s, 1, "!@1"},
      {"12", 0, "!@0"},        {"", 1, "!@1"},
  };
  for (const auto& [text, pos, expected] : ints) EXPECT_EQ(expected, Scanned(text, pos, integer)) << text;
  // Scanning stops at 65534 characters.
  EXPECT_EQ("12@65535", Scanned(std::string(65532, ' ') + "123", 1, integer));
  std::uint16_t pos = 1;
  std::uint8_t err = 0;
  // No number whatever the range.
  EXPECT_EQ(std::pair(0, 1), (std::pair{int(striint("abc", pos, -2147483647 - 1, 2147483647, err)), int(err)}));
  EXPECT_EQ("!@1", Scanned("99999999999", 1, Int(0, 2147483647)));
  EXPECT_EQ("1@7|!@1", Scanned("flag 1", 1, striBool) + "|" + Scanned("flag 2", 1, striBool));

  EXPECT_EQ("3.5@4|3@2|7@3", Scanned("3,5", 1, Float(0, 10, ',')) + "|" + Scanned("3.5", 1, Float(0, 10, ',')) +
                                 "|" + Scanned("7;", 1, Float(0, 10, ';')));

  // stristri field by field: the last field must be closed.
  std::string fields;
  pos = 1;
  for (std::string sub; fields.size() < 20 && (stristri(";x;y", pos, ';', sub, err), err == 0);)
    fields += "[" + sub + "]";
  EXPECT_EQ("[][x]@4", fields + "@" + std::to_string(pos));
}

// On random lines every scanner reads a value within range and moves forward, or reports Err 1 with Pos
// unchanged and returns 0.
TEST(Ustring, ScannersKeepTheirContractOnRandomText) {
  std::mt19937 rng(5);
  const std::string alphabet = "0123456789-.,; ax\xFE";
  for (int i = 0; i < 20000; ++i) {
    std::string s(rng() % 13, ' ');
    for (char& c : s) c = alphabet[rng() % alphabet.size()];
    const std::uint16_t start = static_cast<std::uint16_t>(rng() % (s.size() + 2));
    std::uint16_t pos = start;
    std::uint8_t err = 99;
    const auto check = [&](double value, double lo, double hi) {
      if (err == 0) {
        ASSERT_TRUE(pos > start && pos <= s.size() + 1 && lo <= value && value <= hi) << s;
      } else {
        ASSERT_TRUE(err == 1 && pos == start && value == 0.0) << s;
      }
      pos = start;
      err = 99;
    };
    check(striint(s, pos, -50, 500, err), -50, 500);
    check(strireal(s, pos, -0.5, 99.5, err), -0.5, 99.5);
    check(StriFloat(s, pos, -1, 10, err, ','), -1, 10);
    std::string sub;
    stristri(s, pos, ';', sub, err);
    check(0.0, 0, 0);
  }
}

// The rows of tests/data/util/texts.txt.
TEST(Ustring, TablesAsWritten) {
  DecimalSeparatorScope comma(',');  // F2SShort keeps "."
  const auto rows = test::DataRows("util/texts.txt");
  for (const auto& c : rows) {
    SCOPED_TRACE(testing::PrintToString(c));
    double value = 99;
    if (c[0] == "short") {
      EXPECT_EQ(c[2], F2SShort(std::stod(c[1])));
    } else if (c[0] == "msec") {
      EXPECT_EQ(c[2], MsecToStr(std::stoi(c[1])));
    } else if (c[0] == "real") {
      EXPECT_EQ(c[2], Scanned(c[1], 1, Float(-1, 10, 0)));
    } else if (c[0] == "value") {
      DecimalSeparatorScope scope(c[1][0]);
      EXPECT_EQ(c[3] == "1", StrToValue(c[2], value));
      EXPECT_DOUBLE_EQ(std::stod(c[4]), value);
    } else if (c[0] == "order") {
      EXPECT_EQ(std::pair(std::stoi(c[3]), -std::stoi(c[3])),
                std::pair(CompareAlphaNum(c[1], c[2]), CompareAlphaNum(c[2], c[1])));
    } else {
      ADD_FAILURE() << "unknown row";
    }
  }
  EXPECT_EQ(38u, rows.size());
}

Strings Fields(char sep, std::string s) {
  Strings out;
  for (std::string sub; GetNextSubStr(sep, s, sub);) out.push_back(sub);
  return out;
}

TEST(Ustring, FieldsAndSeparators) {
  for (const auto& [text, sep] : {std::pair{"a;b c", ';'}, {"a\tb;c", '\t'}, {"a b,c", ' '}, {"a,b", ','},
                                  {"ab", '\0'}}) {
    EXPECT_EQ(sep, SearchSeparator(text)) << text;
  }
  EXPECT_EQ((Strings{"a", "b"}), Fields(';', " a ; b "));
  EXPECT_EQ((Strings{"a", "b", "c"}), Fields(' ', "  a   b c  "));
  EXPECT_EQ((Strings{"", "a", "", "b"}), Fields('\t', "\ta\t\tb"));
  EXPECT_EQ((Strings{"a", ""}), Fields(';', "a;;;"));  // a trailing empty field is not returned

  StringList list;
  char sep = 'x';
  ASSERT_TRUE(GetTitleTexts(" Name\tX [m]\tY [m] ", sep, &list));
  EXPECT_EQ(std::pair('\t', Strings{"Name", "X [m]", "Y [m]"}), std::pair(sep, list.ToVector()));
  EXPECT_EQ(std::tuple(false, '\0', 0), (std::tuple{GetTitleTexts("single", sep, &list), sep, list.Count()}));
}

TEST(Ustring, NaturalOrder) {
  EXPECT_EQ(std::pair(1, -1), std::pair(CompareAlphaNum("\xE4", "a"), CompareAlphaNum("a", "\xE4")));
  std::mt19937 rng(3);
  const auto random = [&] {
    std::string s(rng() % 7, ' ');
    for (char& c : s) c = "0019ab"[rng() % 6];
    return s;
  };
  for (int i = 0; i < 20000; ++i) {
    const std::string a = random(), b = random(), c = random();
    const int ab = CompareAlphaNum(a, b);
    ASSERT_EQ(-ab, CompareAlphaNum(b, a)) << a << " vs " << b;
    ASSERT_TRUE(ab > 0 || CompareAlphaNum(b, c) > 0 || CompareAlphaNum(a, c) <= 0) << a << " " << b << " " << c;
    // Without leading zeros, equal means identical.
    ASSERT_TRUE(ab != 0 || a.find('0') != std::string::npos || b.find('0') != std::string::npos || a == b) << a;
  }
}

TEST(Ustring, OemAndAnsiCodePages) {
  const std::string oem = "Plain 1\x8E\x99\x9A\x84\x94\x81\xE1\x82\x8A\x87\x9C";
  const std::string ansi = "Plain 1\xC4\xD6\xDC\xE4\xF6\xFC\xDF\xE9\xE8\xE7\xA3";  // umlauts, accents, pound
  EXPECT_EQ(std::pair(ansi, oem), std::pair(ConvStrToANSI(oem), ConvStrToOEM(ansi)));
  EXPECT_EQ("??", ConvStrToANSI("\xC4") + ConvStrToOEM("\x80"));  // box drawing, euro sign
  // Byte for byte, and back again wherever the character exists in both.
  std::string all;
  for (int b = 1; b < 256; ++b) all += static_cast<char>(b);
  const std::string there = ConvStrToANSI(all), back = ConvStrToOEM(there);
  ASSERT_EQ(all.size(), back.size());
  for (std::size_t i = 0; i < all.size(); ++i) EXPECT_TRUE(there[i] == '?' || all[i] == back[i]) << i + 1;
  EXPECT_EQ(255u, ConvStrToANSI(std::string(300, 'a')).size());
}

TEST(Ustring, ComputerName) {
  const std::string name = GetMyComputerName();
  char host[256] = {};
  ASSERT_EQ(0, gethostname(host, sizeof host - 1));
  EXPECT_TRUE(!name.empty() && name.size() <= 15 && name.find('.') == std::string::npos) << name;
  EXPECT_EQ(0u, std::string(host).rfind(name, 0)) << name << " is not the start of " << host;
}

// A control of a test window; `log` collects "name=order" for every tab order set.
struct FakeControl : TScreenControl {
  FakeControl(std::string n, int t, int l, std::string* lg, bool w = true)
      : name(std::move(n)), top(t), left(l), windowed(w), log(lg) {}
  FakeControl& Add(const std::string& n, int t, int l, bool w = true) {
    return *children.emplace_back(std::make_unique<FakeControl>(n, t, l, log, w));
  }
  int ChildCount() const override { return static_cast<int>(children.size()); }
  TScreenControl& Child(int i) override { return *children.at(static_cast<std::size_t>(i)); }
  bool IsWindowed() const override { return windowed; }
  std::int32_t Top() const override { return top; }
  std::int32_t Left() const override { return left; }
  void SetTabOrder(std::int32_t order) override { *log += name + "=" + std::to_string(order) + " "; }
  std::string name;
  int top, left;
  bool windowed;
  std::string* log;
  std::vector<std::unique_ptr<FakeControl>> children;
};

TEST(Ustring, TabOrderFollowsReadingOrder) {
  std::string log;
  FakeControl form("form", 0, 0, &log);
  form.Add("c", 50, 10);
  form.Add("b", 10, 200);
  form.Add("L", 0, 0, false);
  form.Add("a", 10, 20);
  FakeControl& panel = form.Add("p", 100, 0);
  panel.Add("y", 30, 30);
  panel.Add("x", 30, 5);
  form.Add("d", 50, 10);  // same place as "c": keeps its later child order
  SetTabOrder(form);
  std::vector<std::string> orders;
  for (std::size_t start = 0, end; (end = log.find(' ', start)) != std::string::npos; start = end + 1)
    orders.push_back(log.substr(start, end - start));
  std::sort(orders.begin(), orders.end());
  EXPECT_EQ((Strings{"a=0", "b=1", "c=2", "d=3", "p=4", "x=0", "y=1"}), orders);
}

}  // namespace
}  // namespace vez

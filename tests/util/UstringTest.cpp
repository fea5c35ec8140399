#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "core/FormatSettings.h"
#include "core/StringList.h"
#include "util/Ustring.h"

namespace vez {
namespace {

using namespace std::string_literals;

TEST(Ustring, Padding) {
  EXPECT_EQ("ab  ", Pad("ab", 4));
  EXPECT_EQ("  ab", LeftPad("ab", 4));
  EXPECT_EQ("007", LeftPadCh("7", '0', 3));
  EXPECT_EQ("abcdef", PadCh("abcdef", 'x', 3));
  EXPECT_EQ("abcdef", LeftPadCh("abcdef", 'x', 6));
  EXPECT_EQ("ab", LeftPad("ab", -1));
}

TEST(Ustring, ShortFixedPoint) {
  struct Case {
    double x;
    const char* expected;
  };
  const Case cases[] = {
      {2.5, "2.5"},        {3, "3"},           {100, "100"},           {0.000001, "0"},
      {-2.5, "-2.5"},      {1.23456789, "1.23457"}, {0.1, "0.1"},       {1e10, "10000000000"},
      {-0.000001, "0"},    {0, "0"},           {123456789012.5, "123456789012.5"}, {-100.0000049, "-100"},
      {0.000005, "0.00001"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.expected, F2SShort(c.x)) << c.x;
  // Independent of the process decimal separator.
  DecimalSeparatorScope comma(',');
  EXPECT_EQ("2.5", F2SShort(2.5));
}

TEST(Ustring, LevelText) {
  EXPECT_EQ("45.3", PegelToStr(45.26, 0, 1));
  EXPECT_EQ("-", PegelToStr(0, 0, 1));
  EXPECT_EQ("45", PegelToStr(45.26, 0, 0));
  EXPECT_EQ("-9.5", PegelToStr(-9.46, -10, 1));
  DecimalSeparatorScope comma(',');
  EXPECT_EQ("45,3", PegelToStr(45.26, 0, 1));
}

TEST(Ustring, MillisecondTexts) {
  struct Case {
    std::int32_t ms;
    const char* expected;
  };
  const Case cases[] = {
      {0, "00:00:000 [m:s:ms]"},
      {1234, "00:01:234 [m:s:ms]"},
      {3599999, "59:59:999 [m:s:ms]"},
      {3600000, "01:00:00 [h:m:s]"},
      {3723000, "01:02:03 [h:m:s]"},
      {90000000, "01:01:00 [d:h:m]"},
      {2147483647, "24:20:31 [d:h:m]"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.expected, MsecToStr(c.ms)) << c.ms;
}

TEST(Ustring, DateTimeSpanTexts) {
  struct Case {
    double t1, t2;
    bool showMs;
    const char* expected;
  };
  const double t0 = EncodeDate(2024, 6, 5);
  const Case cases[] = {
      {t0, t0 + EncodeTime(0, 0, 1, 500), true, "00:01:500 [m:s:ms]"},
      {t0 + EncodeTime(0, 0, 1, 500), t0, true, "00:01:500 [m:s:ms]"},  // either order
      {t0, t0 + EncodeTime(0, 0, 1, 500), false, "00:00:01 [h:m:s]"},
      {t0, t0 + EncodeTime(0, 59, 59, 999), true, "59:59:999 [m:s:ms]"},
      {t0, t0 + EncodeTime(1, 2, 3, 400), true, "01:02:03 [h:m:s]"},
      {t0, t0 + 1 + EncodeTime(1, 2, 3, 0), true, "01:01:02 [d:h:m]"},
      {t0, t0 + 400 + EncodeTime(23, 59, 0, 0), false, "400:23:59 [d:h:m]"},
      {t0, t0, true, "00:00:000 [m:s:ms]"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.expected, DiffTimeStr(c.t1, c.t2, c.showMs)) << c.expected;
}

struct IntScan {
  std::string text;
  std::uint16_t pos;
  std::int32_t min, max;
  std::int32_t value;
  std::uint16_t posAfter;
  std::uint8_t err;
};

TEST(Ustring, IntegerScanner) {
  const IntScan cases[] = {
      {"x= 12;", 1, 0, 100, 12, 6, 0},
      {"x= 12;", 1, 0, 10, 0, 1, 1},          // out of range: position restored
      {"abc", 1, 0, 100, 0, 1, 1},
      {"abc", 1, -2147483647 - 1, 2147483647, 0, 1, 1},  // unreadable whatever the range
      {"-7 8", 1, -10, 10, -7, 3, 0},
      {"-7 8", 3, -10, 10, 8, 5, 0},
      {"1-2", 1, -10, 10, 0, 1, 1},           // "1-2" is no number
      {"a - b", 1, -10, 10, 0, 1, 1},
      {"99999999999", 1, 0, 2147483647, 0, 1, 1},
      {"2147483647", 1, 0, 2147483647, 2147483647, 11, 0},
      {"a\xFE" "12", 1, 0, 100, 0, 1, 1},     // character 254 ends the search
      {"a\0" "12"s, 1, 0, 100, 0, 1, 1},      // so does character 0
      {"12", 0, 0, 100, 0, 0, 1},             // positions start at 1
      {"12", 3, 0, 100, 0, 3, 1},
      {"", 1, 0, 100, 0, 1, 1},
      {"a12b", 2, 0, 100, 12, 4, 0},
  };
  for (const IntScan& c : cases) {
    std::uint16_t pos = c.pos;
    std::uint8_t err = 99;
    EXPECT_EQ(c.value, striint(c.text, pos, c.min, c.max, err)) << c.text;
    EXPECT_EQ(c.posAfter, pos) << c.text;
    EXPECT_EQ(c.err, err) << c.text;
  }
}

TEST(Ustring, ScanningALine) {
  const std::string line = "3 ; 12 ; -4 ; 1";
  std::uint16_t pos = 1;
  std::uint8_t err = 0;
  std::vector<std::int32_t> values;
  for (;;) {
    const std::int32_t v = striint(line, pos, -100, 100, err);
    if (err != 0) break;
    values.push_back(v);
  }
  EXPECT_EQ((std::vector<std::int32_t>{3, 12, -4, 1}), values);
  EXPECT_EQ(line.size() + 1, pos);

  pos = 1;
  EXPECT_TRUE(striBool("flag 1", pos, err));
  EXPECT_EQ(0, err);
  pos = 1;
  EXPECT_FALSE(striBool("flag 0", pos, err));
  EXPECT_EQ(0, err);
  EXPECT_EQ(7, pos);
  pos = 1;
  EXPECT_FALSE(striBool("flag 2", pos, err));
  EXPECT_EQ(1, err);
  EXPECT_EQ(1, pos);
}

// On random lines every scanner either reads a value within range and moves forward, or reports Err 1 with
// Pos unchanged and 0.
TEST(Ustring, ScannersKeepTheirContractOnRandomText) {
  std::mt19937 rng(5);
  const std::string alphabet = "0123456789-.,; ax\xFE";
  std::uniform_int_distribution<int> length(0, 12);
  std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
  for (int i = 0; i < 20000; ++i) {
    std::string s(static_cast<std::size_t>(length(rng)), ' ');
    for (char& c : s) c = alphabet[pick(rng)];
    const std::uint16_t start = static_cast<std::uint16_t>(rng() % (s.size() + 2));
    std::uint16_t pos = start;
    std::uint8_t err = 99;
    const auto check = [&](double value, double lo, double hi) {
      if (err == 0) {
        ASSERT_GT(pos, start) << s;
        ASSERT_LE(pos, s.size() + 1) << s;
        ASSERT_TRUE(lo <= value && value <= hi) << s;
      } else {
        ASSERT_EQ(1, err) << s;
        ASSERT_EQ(start, pos) << s;
        ASSERT_EQ(0.0, value) << s;
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

struct RealScan {
  std::string text;
  std::uint16_t pos;
  double min, max;
  double value;
  std::uint16_t posAfter;
  std::uint8_t err;
};

TEST(Ustring, RealScanner) {
  const RealScan cases[] = {
      {"3,5", 1, 0, 10, 3.5, 4, 0},
      {"7.", 1, 0, 10, 7, 3, 0},
      {"x -.5 y", 1, -1, 1, -0.5, 6, 0},
      {"2.5e3", 1, 0, 10, 2.5, 4, 0},   // "e" is no number character
      {"1.2.3", 1, 0, 10, 0, 1, 1},
      {"1,2.3", 1, 0, 10, 0, 1, 1},
      {"-", 1, -10, 10, 0, 1, 1},
      {"x", 1, -1e300, 1e300, 0, 1, 1},  // the invalid marker is never returned
      {"11", 1, 0, 10, 0, 1, 1},
      {"10", 1, 0, 10, 10, 3, 0},
      {"v=0.25;w=1", 3, 0, 1, 0.25, 7, 0},
  };
  for (const RealScan& c : cases) {
    std::uint16_t pos = c.pos;
    std::uint8_t err = 99;
    EXPECT_DOUBLE_EQ(c.value, strireal(c.text, pos, c.min, c.max, err)) << c.text;
    EXPECT_EQ(c.posAfter, pos) << c.text;
    EXPECT_EQ(c.err, err) << c.text;
  }
}

TEST(Ustring, FloatScannerWithSeparator) {
  struct Case {
    std::string text;
    char sep;
    double value;
    std::uint16_t posAfter;
    std::uint8_t err;
  };
  const Case cases[] = {
      {"3,5", ',', 3.5, 4, 0},
      {"3.5", ',', 3, 2, 0},   // "." is no number character here
      {"3.5", '.', 3.5, 4, 0},
      {"3,5", '.', 3, 2, 0},
      {"7;", ';', 7, 3, 0},    // a closing separator reads as "7.0"
      {"a b", '.', 0, 1, 1},
  };
  for (const Case& c : cases) {
    std::uint16_t pos = 1;
    std::uint8_t err = 99;
    EXPECT_DOUBLE_EQ(c.value, StriFloat(c.text, pos, 0, 10, err, c.sep)) << c.text << " " << c.sep;
    EXPECT_EQ(c.posAfter, pos) << c.text << " " << c.sep;
    EXPECT_EQ(c.err, err) << c.text << " " << c.sep;
  }
}

// Calls stristri from `pos` until it reports an error; each field as "text@pos-after", the error as "!@pos".
std::string StringFields(const std::string& s, std::uint16_t pos) {
  std::string out;
  for (;;) {
    std::string sub = "old";
    std::uint8_t err = 99;
    stristri(s, pos, ';', sub, err);
    if (err != 0) {
      EXPECT_EQ("", sub);
      return out + "!@" + std::to_string(pos);
    }
    out += sub + "@" + std::to_string(pos) + " ";
  }
}

TEST(Ustring, StringFields) {
  EXPECT_EQ("a@3 b@5 !@5", StringFields("a;b;c", 1));  // the last field is not closed
  EXPECT_EQ("@2 x@4 !@4", StringFields(";x;", 1));     // empty field; then beyond the end
  EXPECT_EQ("b@5 !@5", StringFields("a;b;c", 3));
  EXPECT_EQ("!@0", StringFields("a;", 0));
}

TEST(Ustring, SeparatorDetection) {
  struct Case {
    const char* text;
    char sep;
  };
  const Case cases[] = {{"a;b c", ';'}, {"a\tb;c", '\t'}, {"a b,c", ' '}, {"a,b", ','}, {"ab", '\0'}, {"", '\0'}};
  for (const Case& c : cases) EXPECT_EQ(c.sep, SearchSeparator(c.text)) << c.text;
}

std::vector<std::string> Fields(char sep, std::string s) {
  std::vector<std::string> out;
  std::string sub;
  while (GetNextSubStr(sep, s, sub)) out.push_back(sub);
  EXPECT_EQ("", sub);
  return out;
}

TEST(Ustring, NextSubString) {
  using V = std::vector<std::string>;
  EXPECT_EQ((V{"x", "", "y"}), Fields(';', "x;;y"));
  EXPECT_EQ((V{"a", "b"}), Fields(';', " a ; b "));
  EXPECT_EQ((V{"a", "b", "c"}), Fields(' ', "  a   b c  "));
  EXPECT_EQ((V{"a", "", "b"}), Fields('\t', "a\t\tb"));
  EXPECT_EQ((V{"", "a"}), Fields(';', ";a"));
  EXPECT_EQ((V{"a"}), Fields(';', "a;"));       // a trailing empty field is not returned
  EXPECT_EQ((V{"a"}), Fields(';', "a;;"));
  EXPECT_EQ((V{"a", ""}), Fields(';', "a;;;"));
  EXPECT_EQ((V{}), Fields(';', ""));
  EXPECT_EQ((V{}), Fields(' ', "   "));
  EXPECT_EQ((V{"a b"}), Fields(',', " a b "));

  std::string s = "one;two";
  std::string sub;
  ASSERT_TRUE(GetNextSubStr(';', s, sub));
  EXPECT_EQ("one", sub);
  EXPECT_EQ("two", s);
}

TEST(Ustring, TitleTexts) {
  StringList list;
  char sep = 'x';
  ASSERT_TRUE(GetTitleTexts("x;;y", sep, &list));
  EXPECT_EQ(';', sep);
  EXPECT_EQ((std::vector<std::string>{"x", "", "y"}), list.ToVector());

  ASSERT_TRUE(GetTitleTexts(" Name\tX [m]\tY [m] ", sep, &list));
  EXPECT_EQ('\t', sep);
  EXPECT_EQ((std::vector<std::string>{"Name", "X [m]", "Y [m]"}), list.ToVector());

  ASSERT_TRUE(GetTitleTexts("a b  c", sep, &list));
  EXPECT_EQ(' ', sep);
  EXPECT_EQ((std::vector<std::string>{"a", "b", "c"}), list.ToVector());

  EXPECT_FALSE(GetTitleTexts("single", sep, &list));  // no separator, no fields
  EXPECT_EQ('\0', sep);
  EXPECT_EQ(0, list.Count());
  EXPECT_FALSE(GetTitleTexts("", sep, &list));
  sep = ';';
  EXPECT_FALSE(GetTitleTexts("a;b", sep, nullptr));
  EXPECT_EQ('\0', sep);
}

TEST(Ustring, TextToValue) {
  struct Case {
    char platformSeparator;
    const char* text;
    bool ok;
    double value;
  };
  const Case cases[] = {
      {'.', " 1,5 ", true, 1.5}, {'.', "1.5", true, 1.5},   {'.', "-2", true, -2},
      {'.', "abc", false, 0},    {'.', "1,5,5", false, 0},  {'.', "", false, 0},
      {',', "1.5", true, 1.5},   {',', "1,5", true, 1.5},   {',', "1.5.5", false, 0},
      {'.', "2.5E3", true, 2500},
  };
  for (const Case& c : cases) {
    DecimalSeparatorScope scope(c.platformSeparator);
    double value = 99;
    EXPECT_EQ(c.ok, StrToValue(c.text, value)) << c.text;
    EXPECT_DOUBLE_EQ(c.value, value) << c.text;
  }
}

TEST(Ustring, NaturalOrder) {
  struct Case {
    const char* a;
    const char* b;
    int expected;
  };
  const Case cases[] = {
      {"file9", "file10", -1}, {"abc", "abc", 0},   {"a2", "a10", -1},   {"a02", "a2", 0},
      {"B", "a", -1},          {"", "", 0},         {"", "a", -1},       {"a", "", 1},
      {"a10b2", "a10b10", -1}, {"x1y", "x1", 1},    {"1a", "a", -1},     {"12345678901234567890", "2", 1},
      {"v1.10", "v1.9", 1},    {"a 1", "a1", 1},   {"\xE4", "a", 1},    // bytes compare unsigned
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.expected, CompareAlphaNum(c.a, c.b)) << c.a << " vs " << c.b;
    EXPECT_EQ(-c.expected, CompareAlphaNum(c.b, c.a)) << c.b << " vs " << c.a;
  }
  std::vector<std::string> names = {"img12.png", "img10.png", "IMG3.png", "img2.png", "img1.png", "img02.png"};
  std::stable_sort(names.begin(), names.end(),
                   [](const std::string& a, const std::string& b) { return CompareAlphaNum(a, b) < 0; });
  EXPECT_EQ((std::vector<std::string>{"IMG3.png", "img1.png", "img2.png", "img02.png", "img10.png", "img12.png"}),
            names);
}

TEST(Ustring, NaturalOrderIsAntisymmetric) {
  std::mt19937 rng(3);
  const std::string alphabet = "0019ab";
  std::uniform_int_distribution<int> length(0, 6);
  std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
  const auto random = [&] {
    std::string s(static_cast<std::size_t>(length(rng)), ' ');
    for (char& c : s) c = alphabet[pick(rng)];
    return s;
  };
  for (int i = 0; i < 20000; ++i) {
    const std::string a = random(), b = random();
    const int ab = CompareAlphaNum(a, b);
    ASSERT_EQ(-ab, CompareAlphaNum(b, a)) << a << " vs " << b;
    ASSERT_EQ(0, CompareAlphaNum(a, a)) << a;
    // Without leading zeros, equal means identical.
    if (ab == 0 && a.find('0') == std::string::npos && b.find('0') == std::string::npos) {
      ASSERT_EQ(a, b);
    }
  }
}

TEST(Ustring, OemAndAnsiCodePages) {
  struct Case {
    std::string oem;
    std::string ansi;
  };
  const Case cases[] = {
      {"Plain ASCII 123", "Plain ASCII 123"},
      {"\x8E\x99\x9A\x84\x94\x81\xE1", "\xC4\xD6\xDC\xE4\xF6\xFC\xDF"},  // umlauts and sharp s
      {"\x82\x8A\x87", "\xE9\xE8\xE7"},
      {"\x9C", "\xA3"},  // pound sign
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.ansi, ConvStrToANSI(c.oem)) << c.oem;
    EXPECT_EQ(c.oem, ConvStrToOEM(c.ansi)) << c.ansi;
  }
  EXPECT_EQ("?", ConvStrToANSI("\xC4"));  // box drawing has no ANSI character
  EXPECT_EQ("?", ConvStrToOEM("\x80"));   // nor the euro sign an OEM one

  // Byte for byte, and back again wherever the character exists in both.
  std::string all;
  for (int b = 1; b < 256; ++b) all += static_cast<char>(b);
  const std::string ansi = ConvStrToANSI(all);
  ASSERT_EQ(all.size(), ansi.size());
  const std::string back = ConvStrToOEM(ansi);
  ASSERT_EQ(all.size(), back.size());
  for (std::size_t i = 0; i < all.size(); ++i) {
    if (ansi[i] != '?') {
      EXPECT_EQ(all[i], back[i]) << i + 1;
    }
  }
  EXPECT_EQ(255u, ConvStrToANSI(std::string(300, 'a')).size());
}

TEST(Ustring, ComputerName) {
  const std::string name = GetMyComputerName();
  char host[256] = {};
  ASSERT_EQ(0, gethostname(host, sizeof host - 1));
  EXPECT_LE(name.size(), 15u);
  EXPECT_EQ(std::string::npos, name.find('.'));
  EXPECT_EQ(0, std::string(host).rfind(name, 0)) << name << " is not the start of " << host;
  EXPECT_FALSE(name.empty());
}

// A control of a test window.
class FakeControl : public TScreenControl {
public:
  FakeControl(std::string name, int top, int left, bool windowed = true)
      : name_(std::move(name)), top_(top), left_(left), windowed_(windowed) {}
  FakeControl& Add(std::string name, int top, int left, bool windowed = true) {
    children_.push_back(std::make_unique<FakeControl>(std::move(name), top, left, windowed));
    return *children_.back();
  }
  int ChildCount() const override { return static_cast<int>(children_.size()); }
  TScreenControl& Child(int index) override { return *children_.at(static_cast<std::size_t>(index)); }
  bool IsWindowed() const override { return windowed_; }
  std::int32_t Top() const override { return top_; }
  std::int32_t Left() const override { return left_; }
  void SetTabOrder(std::int32_t order) override {
    order_ = order;
    ++assignments_;
  }
  // The names of the children in tab order.
  std::string TabSequence() const {
    std::vector<const FakeControl*> windowed;
    for (const auto& c : children_) {
      if (c->windowed_) windowed.push_back(c.get());
    }
    std::sort(windowed.begin(), windowed.end(), [](auto* a, auto* b) { return a->order_ < b->order_; });
    std::string out;
    for (const FakeControl* c : windowed) out += c->name_;
    return out;
  }
  int order_ = -1;
  int assignments_ = 0;

private:
  std::string name_;
  int top_, left_;
  bool windowed_;
  std::vector<std::unique_ptr<FakeControl>> children_;
};

TEST(Ustring, TabOrderFollowsReadingOrder) {
  FakeControl form("form", 0, 0);
  form.Add("c", 50, 10);
  form.Add("b", 10, 200);
  FakeControl& label = form.Add("L", 0, 0, false);
  form.Add("a", 10, 20);
  FakeControl& panel = form.Add("p", 100, 0);
  panel.Add("y", 30, 30);
  panel.Add("x", 30, 5);
  panel.Add("z", 60, 0);
  form.Add("d", 50, 10);  // same place as "c": keeps its later child order

  SetTabOrder(form);
  EXPECT_EQ("abcdp", form.TabSequence());
  EXPECT_EQ("xyz", panel.TabSequence());
  EXPECT_EQ(-1, label.order_);
  EXPECT_EQ(0, label.assignments_);
  EXPECT_EQ(4, panel.order_);
  EXPECT_EQ(-1, form.order_);  // the parent's own tab order is its parent's business

  FakeControl empty("e", 0, 0);
  SetTabOrder(empty);
  EXPECT_EQ("", empty.TabSequence());
}

}  // namespace
}  // namespace vez

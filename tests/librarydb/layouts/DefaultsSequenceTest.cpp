// The assignments of the new-record defaults, recorded without a table: order, setter and value of each.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "ExpectedDefaults.h"
#include "core/FormatSettings.h"
#include "librarydb/Defaults.h"
#include "librarydb/Layouts.h"
#include "librarydb/layouts/DefaultRows.h"

namespace vez {
namespace {

using detail::Setter;
using test::ExpectedAssignment;
using test::ExpectedKind;
using test::ExpectedSetter;

const char* SetterName(Setter s) {
  switch (s) {
    case Setter::Value: return "Value";
    case Setter::Text: return "AsString";
    case Setter::Integer: return "AsInteger";
    case Setter::Boolean: return "AsBoolean";
    case Setter::Float: return "AsFloat";
    case Setter::DateTime: return "AsDateTime";
    case Setter::BlobZeros: return "BlobStream";
  }
  return "?";
}

const char* SetterName(ExpectedSetter s) {
  switch (s) {
    case ExpectedSetter::Value: return "Value";
    case ExpectedSetter::Text: return "AsString";
    case ExpectedSetter::Integer: return "AsInteger";
    case ExpectedSetter::Boolean: return "AsBoolean";
    case ExpectedSetter::Float: return "AsFloat";
    case ExpectedSetter::DateTime: return "AsDateTime";
    case ExpectedSetter::Blob: return "BlobStream";
  }
  return "?";
}

// Renders a value with its variant type so that 100 and 100.0 and "100" differ.
std::string Render(const Variant& v) { return std::string(VarTypeName(v.Type())) + ":" + v.AsString(); }

class Recorder : public detail::FieldSink {
public:
  explicit Recorder(std::set<std::string> missing = {}) : missing_(std::move(missing)) {}
  bool HasField(std::string_view name) override { return missing_.count(std::string(name)) == 0; }
  void Assign(std::string_view name, Setter setter, const Variant& value) override {
    lines.push_back(std::string(name) + " " + SetterName(setter) + " " + Render(value));
  }
  void WriteZeroBlob(std::string_view name, std::int32_t size) override {
    lines.push_back(std::string(name) + " BlobStream zeros:" + std::to_string(size));
  }
  std::vector<std::string> lines;

private:
  std::set<std::string> missing_;
};

std::string ExpectedLine(const ExpectedAssignment& a, double now) {
  std::string value;
  switch (a.kind) {
    case ExpectedKind::Integer: value = Render(Variant(static_cast<long long>(a.integer))); break;
    case ExpectedKind::Float: value = Render(Variant(a.number)); break;
    case ExpectedKind::Boolean: value = Render(Variant(a.boolean)); break;
    case ExpectedKind::Text: value = Render(Variant(a.text)); break;
    case ExpectedKind::Now: value = Render(Variant::FromDateTime(now)); break;
    case ExpectedKind::NowAsText: {
      const auto& fs = GlobalFormatSettings();
      value = Render(Variant(FormatDateTime(fs.ShortDateFormat + " " + fs.LongTimeFormat, now)));
      break;
    }
    case ExpectedKind::Year: {
      int y, m, d;
      DecodeDate(now, y, m, d);
      value = Render(Variant(y));
      break;
    }
    case ExpectedKind::LeapYear: {
      int y, m, d;
      DecodeDate(now, y, m, d);
      value = Render(Variant(IsLeapYearGregorian(y)));
      break;
    }
    case ExpectedKind::ZeroBytes: value = "zeros:" + std::to_string(a.integer); break;
  }
  return a.field + " " + SetterName(a.setter) + " " + value;
}

class DefaultsByCode : public ::testing::TestWithParam<std::int32_t> {};

TEST_P(DefaultsByCode, AssignmentsInOrderWithTheirSetters) {
  const std::int32_t code = GetParam();
  const double now = EncodeDateTime(2024, 2, 29, 13, 45, 30, 0);
  const auto& expected = test::ExpectedDefaults();
  bool found = false;
  const auto rows = detail::FindDefaultRows(code, found);
  const auto it = expected.find(code);
  EXPECT_EQ(it != expected.end(), found);
  EXPECT_EQ(found, HasNewRecordDefaults(code));
  if (it == expected.end()) return;
  Recorder recorder;
  detail::ApplyDefaults(rows, now, recorder);
  std::vector<std::string> want;
  for (const auto& a : it->second) want.push_back(ExpectedLine(a, now));
  EXPECT_EQ(want, recorder.lines);
}

// Every field the defaults name exists in the type's layout (else a new record of the type would fail).
TEST_P(DefaultsByCode, NamedFieldsExistInTheLayout) {
  const std::int32_t code = GetParam();
  const auto layout = LibraryLayout(code);
  bool found = false;
  const auto rows = detail::FindDefaultRows(code, found);
  if (!found) return;
  ASSERT_TRUE(layout.has_value()) << "defaults without a layout";
  std::set<std::string> names;
  for (const auto& f : layout->Fields) names.insert(UpperCase(f.Name));
  Recorder recorder;
  detail::ApplyDefaults(rows, 45000.0, recorder);
  for (const auto& line : recorder.lines) {
    const std::string field = line.substr(0, line.find(' '));
    EXPECT_EQ(1u, names.count(UpperCase(field))) << field;
  }
}

std::vector<std::int32_t> AllCodesAndSomeOutside() {
  std::vector<std::int32_t> codes = {-5, -1, 104, 200};
  for (std::int32_t c = 0; c <= 103; ++c) codes.push_back(c);
  return codes;
}

std::string CodeName(const ::testing::TestParamInfo<std::int32_t>& info) {
  return info.param < 0 ? "minus" + std::to_string(-info.param) : "code" + std::to_string(info.param);
}

INSTANTIATE_TEST_SUITE_P(AllCodes, DefaultsByCode, ::testing::ValuesIn(AllCodesAndSomeOutside()), CodeName);

TEST(DefaultsClock, YearAndLeapYearFollowTheClock) {
  struct Case {
    int year, month, day;
    bool leap;
  };
  const Case cases[] = {{2024, 2, 29, true}, {2100, 1, 1, false}, {2100, 12, 31, false},
                        {2000, 7, 1, true},  {2023, 12, 31, false}};
  bool found = false;
  const auto rows = detail::FindDefaultRows(99, found);
  ASSERT_TRUE(found);
  for (const Case& c : cases) {
    Recorder recorder;
    detail::ApplyDefaults(rows, EncodeDateTime(c.year, c.month, c.day, 23, 59, 59, 0), recorder);
    ASSERT_GE(recorder.lines.size(), 2u);
    EXPECT_EQ("Jahr AsInteger Int64:" + std::to_string(c.year), recorder.lines[0]);
    EXPECT_EQ(std::string("Schaltjahr AsBoolean Boolean:") + (c.leap ? "True" : "False"), recorder.lines[1]);
  }
}

TEST(DefaultsClock, NowAsTextFollowsProcessSettingsWithWholeSeconds) {
  FormatSettings& fs = GlobalFormatSettings();
  const FormatSettings saved = fs;
  fs.ShortDateFormat = "dd/mm/yyyy";
  fs.DateSeparator = '.';
  fs.LongTimeFormat = "hh:nn:ss";
  bool found = false;
  const auto rows = detail::FindDefaultRows(0, found);
  Recorder recorder;
  detail::ApplyDefaults(rows, EncodeDateTime(2025, 3, 7, 8, 9, 10, 987), recorder);
  fs = saved;
  ASSERT_FALSE(recorder.lines.empty());
  EXPECT_EQ("LastChangeDateTime AsString String:07.03.2025 08:09:10", recorder.lines.back());
}

TEST(DefaultsTolerance, TimeLibraryWithoutDisplayValueSkipsOnlyThatField) {
  bool found = false;
  const auto rows = detail::FindDefaultRows(5, found);
  Recorder with;
  Recorder without({"DisplayValue"});
  detail::ApplyDefaults(rows, 45000.0, with);
  detail::ApplyDefaults(rows, 45000.0, without);
  ASSERT_EQ(with.lines.size(), without.lines.size() + 1);
  EXPECT_EQ("DisplayValue AsString String:0.00", with.lines.back());
  EXPECT_TRUE(std::equal(without.lines.begin(), without.lines.end(), with.lines.begin()));
}

}  // namespace
}  // namespace vez

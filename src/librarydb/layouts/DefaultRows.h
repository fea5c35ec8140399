// The declarative form of the new-record defaults: per library type, the assignments in the order they are made.
//
// A row names one field, or a run of numbered fields, or a few runs taken in turn (for n = 1 to 36 in turn:
// "Winkel" + n := 400, "Values" + n := -199), together with the value and the field setter that assigns it.
// The value may be a constant or be taken from the clock at the time of the call.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "core/Variant.h"

namespace vez::detail {

// The field setter an assignment goes through.
enum class Setter : std::uint8_t {
  Value,     // the variant value
  Text,      // AsString
  Integer,   // AsInteger
  Boolean,   // AsBoolean
  Float,     // AsFloat
  DateTime,  // AsDateTime
  BlobZeros, // a BLOB stream in write mode receiving `size` zero bytes
};

// Where the assigned value comes from.
enum class Source : std::uint8_t {
  Constant,
  Now,              // the current date and time
  NowAsText,        // the current date and time as short date + long time text, whole seconds
  CurrentYear,      // the year of the current date
  CurrentYearLeap,  // whether the current year is a leap year
};

enum class ConstantKind : std::uint8_t { None, Integer, Float, Boolean, Text };

struct Constant {
  ConstantKind kind = ConstantKind::None;
  std::int64_t integer = 0;
  double number = 0.0;
  bool boolean = false;
  std::string_view text{};
};

constexpr Constant Int(std::int64_t v) { return Constant{ConstantKind::Integer, v, 0.0, false, {}}; }
constexpr Constant Num(double v) { return Constant{ConstantKind::Float, 0, v, false, {}}; }
constexpr Constant Bool(bool v) { return Constant{ConstantKind::Boolean, 0, 0.0, v, {}}; }
constexpr Constant Str(std::string_view v) { return Constant{ConstantKind::Text, 0, 0.0, false, v}; }

struct Assignment {
  std::string_view stem;
  Constant value{};
};

enum class DefaultShape : std::uint8_t { Single, Run, InTurn };

struct DefaultRow {
  DefaultShape shape = DefaultShape::Single;
  std::array<Assignment, 3> columns{};
  std::uint8_t columnCount = 1;
  std::int32_t first = 0;
  std::int32_t last = 0;
  Setter setter = Setter::Value;
  Source source = Source::Constant;
  std::int32_t size = 0;  // BlobZeros only
  bool tolerant = false;  // a missing field is skipped instead of failing

  constexpr DefaultRow Via(Setter s) const { DefaultRow r = *this; r.setter = s; return r; }
  constexpr DefaultRow IfPresent() const { DefaultRow r = *this; r.tolerant = true; return r; }
};

constexpr DefaultRow Set(std::string_view name, Constant value) {
  DefaultRow r;
  r.columns[0] = Assignment{name, value};
  return r;
}

constexpr DefaultRow SetRun(std::string_view stem, std::int32_t first, std::int32_t last, Constant value) {
  DefaultRow r = Set(stem, value);
  r.shape = DefaultShape::Run;
  r.first = first;
  r.last = last;
  return r;
}

constexpr DefaultRow SetInTurn(std::int32_t first, std::int32_t last, Assignment a, Assignment b,
                               Assignment c = {}) {
  DefaultRow r;
  r.shape = DefaultShape::InTurn;
  r.columns = {a, b, c};
  r.columnCount = c.stem.empty() ? 2 : 3;
  r.first = first;
  r.last = last;
  return r;
}

constexpr DefaultRow SetFrom(std::string_view name, Source source, Setter setter) {
  DefaultRow r = Set(name, Constant{});
  r.source = source;
  r.setter = setter;
  return r;
}

constexpr DefaultRow SetZeroBlob(std::string_view name, std::int32_t size) {
  DefaultRow r = Set(name, Constant{});
  r.setter = Setter::BlobZeros;
  r.size = size;
  return r;
}

// The value of one assignment, with `now` as the clock reading for the time-dependent sources.
Variant DefaultValue(const DefaultRow& row, const Assignment& column, double now);

// The name of column n of a run ("Values" + 12), built in place: it is needed for every assignment of a run.
class NumberedName {
public:
  NumberedName(std::string_view stem, std::int32_t n);
  NumberedName(const NumberedName&) = delete;
  NumberedName& operator=(const NumberedName&) = delete;
  operator std::string_view() const { return name_; }

private:
  char buffer_[64];
  std::string long_;
  std::string_view name_;
};

// Calls visit(row, column, name) for every field assignment of the rows, in the order they are made.
template <class Visit>
void ForEachDefault(std::span<const DefaultRow> rows, Visit&& visit) {
  for (const DefaultRow& row : rows) {
    switch (row.shape) {
      case DefaultShape::Single:
        visit(row, row.columns[0], row.columns[0].stem);
        break;
      case DefaultShape::Run:
        for (std::int32_t n = row.first; n <= row.last; ++n) {
          visit(row, row.columns[0], std::string_view(NumberedName(row.columns[0].stem, n)));
        }
        break;
      case DefaultShape::InTurn:
        for (std::int32_t n = row.first; n <= row.last; ++n) {
          for (std::uint8_t c = 0; c < row.columnCount; ++c) {
            visit(row, row.columns[c], std::string_view(NumberedName(row.columns[c].stem, n)));
          }
        }
        break;
    }
  }
}

// The defaults of a library type; `found` is False for a type without defaults (an empty list with `found`
// True is a type that is known to need none).
std::span<const DefaultRow> FindDefaultRows(std::int32_t libType, bool& found);

}  // namespace vez::detail

// The declarative form of the library layouts: one constant table of rows per library type.
//
// A row names its fields in the shortest form that states them: a single field, or a
// quoted stem with run bounds ("Values" + n, n = 1 to 30), or a few runs taken in turn ("Tagesgang" + n, then
// "Value" + n), or a grid of stem + i + "_" + f. One routine (ExpandRows) turns the rows into the flat field
// list; nothing else in the library spells out field names one by one. The tables are constant-initialised
// arrays of string_views, so there is no static-initialisation order to worry about.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "librarydb/Layouts.h"

namespace vez::detail {

enum class RowShape : std::uint8_t {
  Single,           // one field named by the stem
  Run,              // stem + n for n = first .. last
  InTurn,           // for n = first .. last: every column of the group + n, in the order of the group
  Grid,             // stem + i + "_" + f for i = first .. last (outer), f over the inner values
  TnmCoefficients,  // Letter(FTf,PTp) over pavement words (outer), full-throttle words, letters (inner)
};

// One column of a row: its name or stem and how the column is stored.
struct Column {
  std::string_view stem;
  ColumnKind kind = ColumnKind::Double;
  std::int32_t size = 0;
  bool required = false;
  bool compressed = false;  // algorithm 1 at level 4, as every advanced memo and picture column

  constexpr Column Req() const { Column c = *this; c.required = true; return c; }
  constexpr Column Packed() const { Column c = *this; c.compressed = true; return c; }
};

struct LayoutRow {
  RowShape shape = RowShape::Single;
  std::array<Column, 3> columns{};  // only InTurn uses more than the first
  std::uint8_t columnCount = 1;
  std::int32_t first = 0;
  std::int32_t last = 0;
  std::span<const std::int32_t> inner{};  // Grid only

  constexpr LayoutRow Req() const { LayoutRow r = *this; r.columns[0] = r.columns[0].Req(); return r; }
  constexpr LayoutRow Packed() const { LayoutRow r = *this; r.columns[0] = r.columns[0].Packed(); return r; }
};

constexpr LayoutRow Field(std::string_view name, ColumnKind kind, std::int32_t size = 0) {
  LayoutRow r;
  r.columns[0] = Column{name, kind, size};
  return r;
}

constexpr LayoutRow Run(std::string_view stem, std::int32_t first, std::int32_t last, ColumnKind kind,
                        std::int32_t size = 0) {
  LayoutRow r;
  r.shape = RowShape::Run;
  r.columns[0] = Column{stem, kind, size};
  r.first = first;
  r.last = last;
  return r;
}

constexpr LayoutRow InTurn(std::int32_t first, std::int32_t last, Column a, Column b) {
  LayoutRow r;
  r.shape = RowShape::InTurn;
  r.columns = {a, b, Column{}};
  r.columnCount = 2;
  r.first = first;
  r.last = last;
  return r;
}

constexpr LayoutRow Grid(std::string_view stem, std::int32_t first, std::int32_t last,
                         std::span<const std::int32_t> inner, ColumnKind kind) {
  LayoutRow r;
  r.shape = RowShape::Grid;
  r.columns[0] = Column{stem, kind};
  r.first = first;
  r.last = last;
  r.inner = inner;
  return r;
}

constexpr LayoutRow TnmCoefficients(ColumnKind kind) {
  LayoutRow r;
  r.shape = RowShape::TnmCoefficients;
  r.columns[0] = Column{"", kind};
  return r;
}

// One index row: name, ";"-separated fields, option bits. When `ifField` is set and the table defines a field
// of that name, `fieldsIf` replaces `fields`.
struct IndexRow {
  std::string_view name;
  std::string_view fields;
  std::uint8_t options = 0;
  std::string_view ifField{};
  std::string_view fieldsIf{};
};

// The description of one library type: family, field rows (in up to three consecutive parts, so that a layout
// that is another one with rows inserted can share the common parts) and index rows.
struct LayoutDescription {
  LayoutFamily family = LayoutFamily::Classic;
  std::array<std::span<const LayoutRow>, 3> parts{};
  std::span<const IndexRow> indexes{};
};

// The description of a library type with a field layout, or nullptr.
const LayoutDescription* FindLayoutDescription(std::int32_t libType);

// The index rows that SetIndexDefs gives a library type whose fields are defined elsewhere; `found` tells
// whether the type has such a definition at all (an empty list is a valid definition: "no index").
std::span<const IndexRow> FindIndexOnlyDescription(std::int32_t libType, bool& found);

// Expands rows into fields in the order the rows give them.
void ExpandRows(std::span<const LayoutRow> rows, LayoutFamily family, std::vector<FieldLayout>& out);

// Expands index rows; `hasField` answers whether the table defines a field (for conditional index fields).
template <typename HasField>
std::vector<IndexLayout> ExpandIndexes(std::span<const IndexRow> rows, HasField&& hasField) {
  std::vector<IndexLayout> out;
  out.reserve(rows.size());
  for (const IndexRow& row : rows) {
    const bool alternative = !row.ifField.empty() && hasField(row.ifField);
    out.push_back(IndexLayout{std::string(row.name), std::string(alternative ? row.fieldsIf : row.fields),
                              row.options});
  }
  return out;
}

// The word tables of the TNM vehicle coefficients, in the order their fields are laid out.
std::span<const std::string_view> TnmPavementWords();
std::span<const std::string_view> TnmFullThrottleWords();
std::span<const std::string_view> TnmCoefficientLetters();

}  // namespace vez::detail

// Expansion of the declarative layout rows into field and index lists.
#include <string>

#include "core/FormatSettings.h"
#include "librarydb/layouts/LayoutRows.h"

namespace vez {

std::int32_t EngineTypeCode(ColumnKind kind) {
  switch (kind) {
    case ColumnKind::Text: return 2;
    case ColumnKind::Int16: return 6;
    case ColumnKind::Int32: return 7;
    case ColumnKind::UInt16: return 10;
    case ColumnKind::AutoInc: return 12;
    case ColumnKind::Double: return 21;
    case ColumnKind::Boolean: return 23;
    case ColumnKind::DateTime: return 27;
    case ColumnKind::Blob: return 31;
    case ColumnKind::Graphic: return 32;
    case ColumnKind::Memo: return 33;
  }
  return 0;
}

const char* ColumnKindLabel(ColumnKind kind, LayoutFamily family) {
  if (family == LayoutFamily::Classic) {
    switch (kind) {
      case ColumnKind::Text: return "ftString";
      case ColumnKind::Int16: return "ftSmallint";
      case ColumnKind::Int32: return "ftInteger";
      case ColumnKind::UInt16: return "ftWord";
      case ColumnKind::AutoInc: return "ftAutoInc";
      case ColumnKind::Double: return "ftFloat";
      case ColumnKind::Boolean: return "ftBoolean";
      case ColumnKind::DateTime: return "ftDateTime";
      case ColumnKind::Blob: return "ftBlob";
      case ColumnKind::Graphic: return "ftGraphic";
      case ColumnKind::Memo: return "ftMemo";
    }
    return "?";
  }
  switch (kind) {
    case ColumnKind::Text: return "text";
    case ColumnKind::Int16: return "int16";
    case ColumnKind::Int32: return "int32";
    case ColumnKind::UInt16: return "uint16";
    case ColumnKind::AutoInc: return "autoinc";
    case ColumnKind::Double: return "double";
    case ColumnKind::Boolean: return "boolean";
    case ColumnKind::DateTime: return "datetime";
    case ColumnKind::Blob: return "blob";
    case ColumnKind::Graphic: return "graphic";
    case ColumnKind::Memo: return "memo";
  }
  return "?";
}

namespace detail {
namespace {

// Compressed advanced columns use algorithm 1 at level 4; classic columns are never compressed.
void AddColumn(const Column& column, std::string name, LayoutFamily family, std::vector<FieldLayout>& out) {
  FieldLayout field;
  field.Name = std::move(name);
  field.Kind = column.kind;
  field.Size = column.size;
  field.Required = column.required;
  if (column.compressed && family == LayoutFamily::Advanced) {
    field.CompressionAlgorithm = 1;
    field.CompressionLevel = 4;
  }
  out.push_back(std::move(field));
}

std::string Numbered(std::string_view stem, std::int32_t n) { return std::string(stem) + std::to_string(n); }

}  // namespace

void ExpandRows(std::span<const LayoutRow> rows, LayoutFamily family, std::vector<FieldLayout>& out) {
  for (const LayoutRow& row : rows) {
    const Column& column = row.columns[0];
    switch (row.shape) {
      case RowShape::Single:
        AddColumn(column, std::string(column.stem), family, out);
        break;
      case RowShape::Run:
        for (std::int32_t n = row.first; n <= row.last; ++n) AddColumn(column, Numbered(column.stem, n), family, out);
        break;
      case RowShape::InTurn:
        for (std::int32_t n = row.first; n <= row.last; ++n) {
          for (std::uint8_t c = 0; c < row.columnCount; ++c) {
            AddColumn(row.columns[c], Numbered(row.columns[c].stem, n), family, out);
          }
        }
        break;
      case RowShape::Grid:
        for (std::int32_t i = row.first; i <= row.last; ++i) {
          for (std::int32_t f : row.inner) AddColumn(column, Numbered(column.stem, i) + "_" + std::to_string(f), family, out);
        }
        break;
      case RowShape::TnmCoefficients:
        for (std::string_view pavement : TnmPavementWords()) {
          for (std::string_view throttle : TnmFullThrottleWords()) {
            for (std::string_view letter : TnmCoefficientLetters()) {
              std::string name(letter);
              name += "(FT";
              name += throttle;
              name += ",PT";
              name += pavement;
              name += ')';
              AddColumn(column, std::move(name), family, out);
            }
          }
        }
        break;
    }
  }
}

}  // namespace detail

std::optional<TableLayout> LibraryLayout(std::int32_t libType) {
  const detail::LayoutDescription* description = detail::FindLayoutDescription(libType);
  if (description == nullptr) return std::nullopt;
  TableLayout layout;
  layout.Family = description->family;
  for (const auto& part : description->parts) detail::ExpandRows(part, layout.Family, layout.Fields);
  // A conditional index field can only depend on the layout's own fields.
  layout.Indexes = detail::ExpandIndexes(description->indexes, [&](std::string_view name) {
    for (const FieldLayout& f : layout.Fields) {
      if (SameText(f.Name, name)) return true;
    }
    return false;
  });
  return layout;
}

std::optional<std::vector<IndexLayout>> LibraryIndexLayout(std::int32_t libType, bool hasStoffNr) {
  bool found = false;
  const auto rows = detail::FindIndexOnlyDescription(libType, found);
  if (!found) return std::nullopt;
  return detail::ExpandIndexes(rows, [&](std::string_view name) { return hasStoffNr && SameText(name, "StoffNr"); });
}

}  // namespace vez

// Assignment of the new-record defaults, independent of the table engine.
#include <string>

#include "core/FormatSettings.h"
#include "librarydb/Defaults.h"
#include "librarydb/layouts/DefaultRows.h"

namespace vez::detail {
namespace {

Variant ConstantValue(const Constant& c) {
  switch (c.kind) {
    case ConstantKind::Integer: return Variant(static_cast<long long>(c.integer));
    case ConstantKind::Float: return Variant(c.number);
    case ConstantKind::Boolean: return Variant(c.boolean);
    case ConstantKind::Text: return Variant(c.text);
    case ConstantKind::None: break;
  }
  return Variant();
}

// Short date and long time of the process settings; the long time carries whole seconds only.
std::string NowAsText(double now) {
  const FormatSettings& settings = GlobalFormatSettings();
  return FormatDateTime(settings.ShortDateFormat + " " + settings.LongTimeFormat, now);
}

Variant RowValue(const DefaultRow& row, const Assignment& column, double now) {
  switch (row.source) {
    case Source::Constant: return ConstantValue(column.value);
    case Source::Now: return Variant::FromDateTime(now);
    case Source::NowAsText: return Variant(NowAsText(now));
    case Source::CurrentYear:
    case Source::CurrentYearLeap: {
      int year = 0, month = 0, day = 0;
      DecodeDate(now, year, month, day);
      if (row.source == Source::CurrentYear) return Variant(year);
      return Variant(IsLeapYearGregorian(year));
    }
  }
  return Variant();
}

void AssignOne(const DefaultRow& row, const Assignment& column, std::string_view name, double now,
               FieldSink& sink) {
  if (row.tolerant && !sink.HasField(name)) return;
  if (row.setter == Setter::BlobZeros) {
    sink.WriteZeroBlob(name, row.size);
    return;
  }
  sink.Assign(name, row.setter, RowValue(row, column, now));
}

}  // namespace

void ApplyDefaults(std::span<const DefaultRow> rows, double now, FieldSink& sink) {
  for (const DefaultRow& row : rows) {
    switch (row.shape) {
      case DefaultShape::Single:
        AssignOne(row, row.columns[0], row.columns[0].stem, now, sink);
        break;
      case DefaultShape::Run:
        for (std::int32_t n = row.first; n <= row.last; ++n) {
          AssignOne(row, row.columns[0], std::string(row.columns[0].stem) + std::to_string(n), now, sink);
        }
        break;
      case DefaultShape::InTurn:
        for (std::int32_t n = row.first; n <= row.last; ++n) {
          for (std::uint8_t c = 0; c < row.columnCount; ++c) {
            AssignOne(row, row.columns[c], std::string(row.columns[c].stem) + std::to_string(n), now, sink);
          }
        }
        break;
    }
  }
}

}  // namespace vez::detail

namespace vez {

bool HasNewRecordDefaults(std::int32_t LibType) {
  bool found = false;
  detail::FindDefaultRows(LibType, found);
  return found;
}

}  // namespace vez

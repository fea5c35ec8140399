// Field access at the column: binding values into statements and decoding result rows (see Columns.h).
#include "librarydb/internal/Columns.h"

namespace vez::detail {

const char* SqlType(TFieldType type) {
  switch (type) {
    case ftSmallint:
    case ftInteger:
    case ftWord:
    case ftAutoInc:
    case ftLargeint:
    case ftBoolean: return "INTEGER";
    case ftFloat:
    case ftCurrency:
    case ftBCD: return "REAL";
    case ftString:
    case ftFixedChar:
    case ftWideString:
    case ftMemo:
    case ftDate:
    case ftTime:
    case ftDateTime: return "TEXT";
    default: return "BLOB";
  }
}

bool IsBlobColumn(TFieldType type) { return std::string_view(SqlType(type)) == "BLOB"; }

// One column fetch and plain value reads: the column_* calls each do the statement's checks again.
void AppendValue(sqlite3_stmt* stmt, int col, TFieldType type, std::vector<Variant>& out) {
  sqlite3_value* value = sqlite3_column_value(stmt, col);
  const int storage = sqlite3_value_type(value);
  if (storage == SQLITE_NULL) {
    out.push_back(Variant::Null());
    return;
  }
  switch (type) {
    case ftSmallint:
    case ftInteger:
    case ftWord:
    case ftAutoInc:
    case ftLargeint: out.emplace_back(static_cast<long long>(sqlite3_value_int64(value))); return;
    case ftBoolean: out.emplace_back(sqlite3_value_int64(value) != 0); return;
    case ftFloat:
    case ftCurrency:
    case ftBCD: out.emplace_back(sqlite3_value_double(value)); return;
    case ftDate:
    case ftTime:
    case ftDateTime: {
      if (storage == SQLITE_INTEGER || storage == SQLITE_FLOAT) {
        out.push_back(Variant::FromDateTime(sqlite3_value_double(value)));
        return;
      }
      const auto* text = reinterpret_cast<const char*>(sqlite3_value_text(value));
      const int n = sqlite3_value_bytes(value);
      std::string_view iso(text ? text : "", static_cast<std::size_t>(n));
      std::string normal(iso);
      if (normal.size() > 10 && normal[10] == ' ') normal[10] = 'T';
      double days = 0;
      if (TryISOToDateTime(normal, days)) out.push_back(Variant::FromDateTime(days));
      else out.emplace_back(std::string(iso));
      return;
    }
    default: break;
  }
  if (storage == SQLITE_BLOB) {
    const void* data = sqlite3_value_blob(value);
    const int n = sqlite3_value_bytes(value);
    out.emplace_back(std::string(static_cast<const char*>(data), static_cast<std::size_t>(n)));
    return;
  }
  const auto* text = reinterpret_cast<const char*>(sqlite3_value_text(value));
  const int n = sqlite3_value_bytes(value);
  out.emplace_back(std::string(text ? text : "", static_cast<std::size_t>(n)));
}

void DecodeRow(sqlite3_stmt* stmt, const std::vector<StoredColumn>& columns, std::vector<Variant>& out) {
  out.clear();
  out.reserve(columns.size());
  for (std::size_t col = 0; col < columns.size(); ++col) AppendValue(stmt, static_cast<int>(col + 1), columns[col].type, out);
}

std::string ColumnText(sqlite3_stmt* stmt, int col) {
  const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, col));
  return std::string(text ? text : "", static_cast<std::size_t>(sqlite3_column_bytes(stmt, col)));
}

}  // namespace vez::detail

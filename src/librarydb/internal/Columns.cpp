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

namespace {

// Makes `out` the text (or bytes) `data`: a variant that holds a text already keeps its room, so a row read into
// the values of the row before allocates nothing for texts that fit.
void SetText(Variant& out, const void* data, int bytes) {
  const std::string_view text(data ? static_cast<const char*>(data) : "", static_cast<std::size_t>(bytes));
  // The variant is the caller's own (not const): only its text's content is replaced, never its type.
  if (out.Type() == VarType::String) const_cast<std::string&>(out.RawString()).assign(text);
  else out = Variant(text);
}

}  // namespace

// One column fetch and plain value reads: the column_* calls each do the statement's checks again.
void ReadValue(sqlite3_stmt* stmt, int col, TFieldType type, Variant& out) {
  sqlite3_value* value = sqlite3_column_value(stmt, col);
  const int storage = sqlite3_value_type(value);
  if (storage == SQLITE_NULL) {
    out.SetNull();
    return;
  }
  switch (type) {
    case ftSmallint:
    case ftInteger:
    case ftWord:
    case ftAutoInc:
    case ftLargeint: out = Variant(static_cast<long long>(sqlite3_value_int64(value))); return;
    case ftBoolean: out = Variant(sqlite3_value_int64(value) != 0); return;
    case ftFloat:
    case ftCurrency:
    case ftBCD: out = Variant(sqlite3_value_double(value)); return;
    case ftDate:
    case ftTime:
    case ftDateTime: {
      if (storage == SQLITE_INTEGER || storage == SQLITE_FLOAT) {
        out = Variant::FromDateTime(sqlite3_value_double(value));
        return;
      }
      const auto* text = reinterpret_cast<const char*>(sqlite3_value_text(value));
      const int n = sqlite3_value_bytes(value);
      std::string_view iso(text ? text : "", static_cast<std::size_t>(n));
      std::string normal(iso);
      if (normal.size() > 10 && normal[10] == ' ') normal[10] = 'T';
      double days = 0;
      if (TryISOToDateTime(normal, days)) out = Variant::FromDateTime(days);
      else out = Variant(iso);
      return;
    }
    default: break;
  }
  if (storage == SQLITE_BLOB) {
    const void* data = sqlite3_value_blob(value);
    SetText(out, data, sqlite3_value_bytes(value));
    return;
  }
  const unsigned char* text = sqlite3_value_text(value);
  SetText(out, text, sqlite3_value_bytes(value));
}

void DecodeRow(sqlite3_stmt* stmt, const std::vector<StoredColumn>& columns, std::vector<Variant>& out) {
  out.resize(columns.size());
  for (std::size_t col = 0; col < columns.size(); ++col)
    ReadValue(stmt, static_cast<int>(col + 1), columns[col].type, out[col]);
}

std::string ColumnText(sqlite3_stmt* stmt, int col) {
  const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, col));
  return std::string(text ? text : "", static_cast<std::size_t>(sqlite3_column_bytes(stmt, col)));
}

}  // namespace vez::detail

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

// The value of a column that is not NULL (its storage class `storage`), as ReadView gives it: one column fetch
// and plain value reads, as the column_* calls each do the statement's checks again.
inline void ReadStored(sqlite3_value* value, int storage, TFieldType type, VariantView& out) {
  out.text = {};
  switch (type) {
    case ftSmallint:
    case ftInteger:
    case ftWord:
    case ftAutoInc:
    case ftLargeint:
      out.type = VarType::Integer;
      out.integer = sqlite3_value_int64(value);
      return;
    case ftBoolean:
      out.type = VarType::Boolean;
      out.integer = sqlite3_value_int64(value) != 0 ? 1 : 0;
      return;
    case ftFloat:
    case ftCurrency:
    case ftBCD:
      out.type = VarType::Double;
      out.number = sqlite3_value_double(value);
      return;
    case ftDate:
    case ftTime:
    case ftDateTime: {
      if (storage == SQLITE_INTEGER || storage == SQLITE_FLOAT) {
        out.type = VarType::DateTime;
        out.number = sqlite3_value_double(value);
        return;
      }
      const auto* text = reinterpret_cast<const char*>(sqlite3_value_text(value));
      const std::string_view iso(text ? text : "", static_cast<std::size_t>(sqlite3_value_bytes(value)));
      if (TryISOToDateTime(iso, out.number)) {
        out.type = VarType::DateTime;
      } else {
        out.type = VarType::String;
        out.text = iso;
      }
      return;
    }
    default: break;
  }
  out.type = VarType::String;
  const void* data = storage == SQLITE_BLOB ? sqlite3_value_blob(value) : sqlite3_value_text(value);
  const int bytes = sqlite3_value_bytes(value);
  out.text = std::string_view(data ? static_cast<const char*>(data) : "", static_cast<std::size_t>(bytes));
}

}  // namespace

void ReadView(sqlite3_stmt* stmt, int col, TFieldType type, VariantView& out) {
  sqlite3_value* value = sqlite3_column_value(stmt, col);
  const int storage = sqlite3_value_type(value);
  if (storage == SQLITE_NULL) {
    out.type = VarType::Null;
    out.text = {};
    return;
  }
  ReadStored(value, storage, type, out);
}

// Every value of a row is decoded here, so numbers, the bulk of a record, go straight into their variants (in
// place); dates and texts take ReadStored.
void DecodeRow(sqlite3_stmt* stmt, const std::vector<StoredColumn>& columns, std::vector<Variant>& out, int first) {
  const std::size_t n = columns.size();
  out.resize(n);
  Variant* v = out.data();
  const StoredColumn* column = columns.data();
  const StoredColumn* const end = column + n;  // kept out of the loop: the calls into SQLite hide no change to it
  for (int col = first; column != end; ++col, ++column, ++v) {
    sqlite3_value* value = sqlite3_column_value(stmt, col);
    // A number reads as 0 from NULL: only a zero asks for the storage class. Doubles, most of a library's
    // record, are asked for first.
    const TFieldType type = column->type;
    if (type == ftFloat) {
      const double d = sqlite3_value_double(value);
      if (d == 0 && sqlite3_value_type(value) == SQLITE_NULL) v->SetNull();
      else v->SetDouble(d);
      continue;
    }
    switch (type) {
      case ftSmallint:
      case ftInteger:
      case ftWord:
      case ftAutoInc:
      case ftLargeint:
      case ftBoolean: {
        const std::int64_t i = sqlite3_value_int64(value);
        if (i == 0 && sqlite3_value_type(value) == SQLITE_NULL) v->SetNull();
        else if (type == ftBoolean) v->SetBool(i != 0);
        else v->SetInteger(i);
        break;
      }
      case ftFloat:
      case ftCurrency:
      case ftBCD: {
        const double d = sqlite3_value_double(value);
        if (d == 0 && sqlite3_value_type(value) == SQLITE_NULL) v->SetNull();
        else v->SetDouble(d);
        break;
      }
      default: {
        const int storage = sqlite3_value_type(value);
        if (storage == SQLITE_NULL) {
          v->SetNull();
          break;
        }
        VariantView view;
        ReadStored(value, storage, type, view);
        v->Assign(view);
      }
    }
  }
}

std::string ColumnText(sqlite3_stmt* stmt, int col) {
  const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, col));
  return std::string(text ? text : "", static_cast<std::size_t>(sqlite3_column_bytes(stmt, col)));
}

}  // namespace vez::detail

// Field access at the column: how the value of a field goes into a statement and comes out of a result row.
//
// A value reaches these functions in the canonical form of its field (TDataSet::NormalizeForField), so binding
// is a switch on the value's type; reading turns a column into the value its field type gives (integers,
// Booleans, doubles, dates from their ISO-8601 text, texts and bytes), as a view into the row (ReadView) or into
// Variants in place (DecodeRow). The scan reads rows through ReadView; the cursor's pages and the key look-ups
// decode whole rows (DecodeRow).
#pragma once

#include <sqlite3.h>

#include <string>
#include <vector>

#include "core/FormatSettings.h"
#include "core/TextEncoding.h"
#include "core/Variant.h"
#include "librarydb/Absmain.h"

namespace vez::detail {

// A column of an open table: its field's name and type, and whether it holds BLOBs (decided once, at open).
struct StoredColumn {
  std::string name;
  TFieldType type = ftUnknown;
  bool blob = false;
};

// The SQLite column type a field type is stored with.
const char* SqlType(TFieldType type);
bool IsBlobColumn(TFieldType type);

inline void BindText(sqlite3_stmt* stmt, int index, const std::string& text) {
  sqlite3_bind_text(stmt, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

// Binds a value that has the canonical form of its field (see TDataSet::NormalizeForField); `blobColumn` says
// whether the field's column holds BLOBs. The value must stay alive until the statement has run.
inline void BindValue(sqlite3_stmt* stmt, int index, const Variant& v, TFieldType type, bool blobColumn) {
  switch (v.Type()) {
    case VarType::Empty:
    case VarType::Null: sqlite3_bind_null(stmt, index); return;
    case VarType::Boolean: sqlite3_bind_int64(stmt, index, v.RawBool() ? 1 : 0); return;
    case VarType::Integer: sqlite3_bind_int64(stmt, index, v.RawInteger()); return;
    case VarType::Double: sqlite3_bind_double(stmt, index, v.RawDouble()); return;
    case VarType::DateTime: {
      const double d = v.RawDateTime();
      BindText(stmt, index, type == ftDate ? DateToISO(d) : type == ftTime ? TimeToISO(d) : DateTimeToISO(d));
      return;
    }
    case VarType::String: {
      const std::string& s = v.RawString();
      // TEXT stays valid UTF-8 for every SQLite client: bytes that are no UTF-8 text are stored as a BLOB value.
      if (blobColumn || !IsValidUtf8(s)) {
        sqlite3_bind_blob(stmt, index, s.data(), static_cast<int>(s.size()), SQLITE_STATIC);
      } else {
        sqlite3_bind_text(stmt, index, s.data(), static_cast<int>(s.size()), SQLITE_STATIC);
      }
      return;
    }
  }
}

// The value of result column `col` in the form its field type gives it, as a view into the statement's row: its
// text is valid until the statement steps or is reset.
void ReadView(sqlite3_stmt* stmt, int col, TFieldType type, VariantView& out);

// The values of a result row's columns, from result column `first` on (the row key before them), into `out`, in
// place: a text read into a variant that holds a text keeps that text's room, so readers that decode record after
// record into the same values allocate nothing for texts that fit. Each value as ReadView gives it.
void DecodeRow(sqlite3_stmt* stmt, const std::vector<StoredColumn>& columns, std::vector<Variant>& out,
               int first = 1);

// The text of a result column ("" for NULL).
std::string ColumnText(sqlite3_stmt* stmt, int col);

}  // namespace vez::detail

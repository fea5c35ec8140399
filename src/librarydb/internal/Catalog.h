// What a library file records about its table: the table's stored name, its field and index definitions in the
// bookkeeping tables, and the SQL the definitions turn into (column types, CREATE INDEX, the name of the row key).
//
// Every table operation that starts from a name (open, read the definitions, create, rename, delete, scan) finds
// the table here first: by its name without regard to letter case, or as the one table of a file copied to a
// new name.
#pragma once

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "core/FormatSettings.h"
#include "librarydb/Absmain.h"
#include "librarydb/internal/Sqlite.h"

namespace vez::detail {

// The names of a ";"-separated field list, trimmed, empty ones left out.
std::vector<std::string> SplitFields(std::string_view fields);

// vez$keys, quoted.
const std::string& KeysTable();
// Whether the file has vez$keys (files of older versions lack it).
bool HasKeysTable(Connection& c);

// The user tables of a file (the engine's bookkeeping tables left out), in name order.
std::vector<std::string> UserTables(Connection& c);

// The stored name of a table: the table of that name, letter case ignored (non-ASCII letters too); else, with
// `onlyTable`, the one table of a file that holds a single table under another name (a library file the user
// copied or renamed: its table keeps the old name). "" when missing.
std::string StoredTableName(Connection& c, const std::string& name, bool onlyTable = true);

// Whether an index refuses duplicate keys: a unique index, and a primary one except in run tables.
bool IsUniqueIndex(const TIndexDef& def, const std::string& tableName);
// An index's term for a field: the quoted name, with NOCASE in a case-insensitive index.
std::string ColumnTerm(const std::string& field, TIndexOptions options);
// CREATE INDEX statement of an index definition whose fields have been checked.
std::string CreateIndexSql(const TIndexDef& def, const std::string& tableName, const std::vector<std::string>& fields);

// case), then "_rowid_", then "oid". A table with fields of all three names has no way to its rows.
template <class Fields>
std::string RowKeyName(const Fields& fields, const std::string& tableName) {
  for (const char* candidate : {"rowid", "_rowid_", "oid"}) {
    const bool taken = std::any_of(fields.begin(), fields.end(), [&](const auto& f) { return SameText(f.Name, candidate); });
    if (!taken) return candidate;
  }
  throw EDatabaseError(Format("Table '%s' cannot have fields named rowid, _rowid_ and oid at once", tableName));
}

// The definitions a table was created with, as its file records them.
struct StoredDefinitions {
  std::vector<TFieldDef> classic;
  std::vector<TABSAdvFieldDef> advanced;  // empty for a table made from classic definitions
  std::vector<TIndexDef> indexes;
};

// Reads them; a table without field definitions raises EDatabaseError (the file is not a library).
StoredDefinitions ReadStoredDefinitions(Connection& c, const std::string& table);

// Puts them into a table's definition lists, replacing what the lists held.
void TakeDefinitions(const StoredDefinitions& defs, TFieldDefs& fields, TABSAdvFieldDefs& advanced, TIndexDefs& indexes);

}  // namespace vez::detail

// What a library file records about its table (see Catalog.h).
#include "librarydb/internal/Catalog.h"

#include "core/CaseFold.h"
#include "core/FileMask.h"
#include "librarydb/internal/Columns.h"

namespace vez::detail {

std::vector<std::string> SplitFields(std::string_view fields) {
  std::vector<std::string> out;
  std::size_t start = 0;
  while (start <= fields.size()) {
    std::size_t end = fields.find(';', start);
    if (end == std::string_view::npos) end = fields.size();
    std::string name = Trim(fields.substr(start, end - start));
    if (!name.empty()) out.push_back(std::move(name));
    start = end + 1;
  }
  return out;
}

const std::string& KeysTable() {
  static const std::string quoted = QuoteIdent(kKeysTable);
  return quoted;
}

bool HasKeysTable(Connection& c) {
  sqlite3_stmt* stmt = c.Prepare("SELECT count(*) FROM sqlite_master WHERE type='table' AND name=?1");
  StatementScope scope(stmt);
  sqlite3_bind_text(stmt, 1, kKeysTable, -1, SQLITE_STATIC);
  c.Step(stmt, "Cannot read");
  return sqlite3_column_int(stmt, 0) > 0;
}


std::vector<std::string> UserTables(Connection& c) {
  sqlite3_stmt* stmt = c.Prepare("SELECT name FROM sqlite_master WHERE type='table' ORDER BY name");
  StatementScope scope(stmt);
  std::vector<std::string> names;
  while (c.Step(stmt, "Cannot read") == SQLITE_ROW) {
    std::string name = ColumnText(stmt, 0);
    if (!IsReservedTableName(name)) names.push_back(std::move(name));
  }
  return names;
}

std::string StoredTableName(Connection& c, const std::string& name, bool onlyTable) {
  {
    sqlite3_stmt* stmt = c.Prepare("SELECT name FROM sqlite_master WHERE type='table' AND name=?1 COLLATE NOCASE");
    StatementScope scope(stmt);
    BindText(stmt, 1, name);
    if (c.Step(stmt, "Cannot read") == SQLITE_ROW) return ColumnText(stmt, 0);
  }
  const std::vector<std::string> tables = UserTables(c);
  for (const std::string& table : tables) {
    if (SameTextFolded(table, name)) return table;
  }
  return onlyTable && tables.size() == 1 ? tables[0] : std::string();
}

bool IsUniqueIndex(const TIndexDef& def, const std::string& tableName) {
  if ((def.Options & ixUnique) != 0) return true;
  // Run tables keep several records under one primary key.
  return (def.Options & ixPrimary) != 0 && !MatchesMask(tableName, "*.runx");
}

std::string ColumnTerm(const std::string& field, TIndexOptions options) {
  return QuoteIdent(field) + ((options & ixCaseInsensitive) != 0 ? " COLLATE NOCASE" : "");
}

std::string CreateIndexSql(const TIndexDef& def, const std::string& tableName, const std::vector<std::string>& fields) {
  std::string sql = IsUniqueIndex(def, tableName) ? "CREATE UNIQUE INDEX " : "CREATE INDEX ";
  sql += QuoteIdent(tableName + "$" + def.Name) + " ON " + QuoteIdent(tableName) + "(";
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (i > 0) sql += ", ";
    sql += ColumnTerm(fields[i], def.Options);
  }
  return sql + ")";
}


void TakeDefinitions(const StoredDefinitions& defs, TFieldDefs& fields, TABSAdvFieldDefs& advanced, TIndexDefs& indexes) {
  fields.Clear();
  for (const TFieldDef& f : defs.classic) fields.Add(f.Name, f.DataType, f.Size, f.Required);
  advanced.Clear();
  for (const TABSAdvFieldDef& f : defs.advanced)
    advanced.Add(f.Name, f.DataType, f.Size, f.Required, f.CompressionAlgorithm, f.CompressionLevel);
  indexes.Clear();
  for (const TIndexDef& i : defs.indexes) indexes.Add(i.Name, i.Fields, i.Options);
}

StoredDefinitions ReadStoredDefinitions(Connection& c, const std::string& table) {
  StoredDefinitions defs;
  if (!c.HasBookkeeping()) {
    throw EDatabaseError(
        Format("Table '%s' in \"%s\" has no field definitions: the file is not a library", table, c.FileName()));
  }
  {
    sqlite3_stmt* stmt = c.Prepare(std::string("SELECT name, field_type, engine_type, size, required, compression,"
                                               " compression_level FROM ") +
                                   QuoteIdent(kFieldsTable) + " WHERE tbl=?1 ORDER BY pos");
    StatementScope scope(stmt);
    BindText(stmt, 1, table);
    bool advanced = false;
    while (c.Step(stmt, "Cannot read") == SQLITE_ROW) {
      TFieldDef f{ColumnText(stmt, 0), static_cast<TFieldType>(sqlite3_column_int(stmt, 1)),
                  sqlite3_column_int(stmt, 3), sqlite3_column_int(stmt, 4) != 0};
      const std::int32_t code = sqlite3_column_int(stmt, 2);
      if (code != 0) advanced = true;
      defs.advanced.push_back(TABSAdvFieldDef{f.Name, code, f.Size, f.Required, sqlite3_column_int(stmt, 5),
                                              sqlite3_column_int(stmt, 6)});
      defs.classic.push_back(std::move(f));
    }
    if (!advanced) defs.advanced.clear();
  }
  if (defs.classic.empty()) {
    throw EDatabaseError(
        Format("Table '%s' in \"%s\" has no field definitions: the file is not a library", table, c.FileName()));
  }
  sqlite3_stmt* stmt = c.Prepare(std::string("SELECT name, fields, options FROM ") +
                                 QuoteIdent(kIndexesTable) + " WHERE tbl=?1 ORDER BY pos");
  StatementScope scope(stmt);
  BindText(stmt, 1, table);
  while (c.Step(stmt, "Cannot read") == SQLITE_ROW) {
    defs.indexes.push_back(TIndexDef{ColumnText(stmt, 0), ColumnText(stmt, 1),
                                     static_cast<TIndexOptions>(sqlite3_column_int(stmt, 2))});
  }
  return defs;
}

}  // namespace vez::detail

// A library file in a temporary folder with a database object bound to it, for the engine tests.
#pragma once

#include <initializer_list>
#include <string>
#include <utility>

#include <sqlite3.h>

#include "TestUtil.h"
#include "librarydb/Absmain.h"

namespace vez::test {

// Runs an SQL query on a library file as a stock SQLite reader does and hands its rows to `row` while it
// returns true.
template <typename Row>
void ForEachRow(const std::string& file, const std::string& sql, Row&& row) {
  sqlite3* raw = nullptr;
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_open_v2(file.c_str(), &raw, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK &&
      sqlite3_prepare_v2(raw, sql.c_str(), -1, &stmt, nullptr) == SQLITE_OK)
    for (bool more = true; more && sqlite3_step(stmt) == SQLITE_ROW;) more = row(stmt);
  sqlite3_finalize(stmt);
  sqlite3_close(raw);
}

// The first column of the first row of an SQL query on a library file; empty when there is none.
inline std::string QueryText(const std::string& file, const std::string& sql) {
  std::string text;
  ForEachRow(file, sql, [&](sqlite3_stmt* stmt) {
    if (const unsigned char* value = sqlite3_column_text(stmt, 0)) text = reinterpret_cast<const char*>(value);
    return false;
  });
  return text;
}

// Runs SQL on a library file as another program does; SQLite's result code.
inline int ExecSql(const std::string& file, const std::string& sql) {
  sqlite3* raw = nullptr;
  sqlite3_open(file.c_str(), &raw);
  const int rc = sqlite3_exec(raw, sql.c_str(), nullptr, nullptr, nullptr);
  sqlite3_close(raw);
  return rc;
}

inline std::string UniqueAlias() {
  static int next = 0;
  return "engine-test-" + std::to_string(++next);
}

// One database object on dir/name; `create` makes the (table-less) file.
struct LibraryFile {
  explicit LibraryFile(const TempDir& dir, const std::string& name = "lib.abs", bool create = true)
      : FileName(dir.File(name)), TableName(name) {
    Database.SetDatabaseFileName(FileName);
    Database.SetDatabaseName(UniqueAlias());
    if (create) Database.CreateDatabase();
  }
  // A table object bound to this database.
  void Bind(TABSTable& table, const std::string& tableName = "") const {
    table.SetDatabaseName(Database.DatabaseName());
    table.SetTableName(tableName.empty() ? TableName : tableName);
  }
  std::string FileName;
  std::string TableName;
  TABSDatabase Database;
};

// An element table like the emission library's: auto-increment key, unique case-insensitive name, numbers,
// a flag, a date-time, a memo and a BLOB.
inline void DefineElementTable(TABSTable& table) {
  table.AdvFieldDefs().Clear();
  table.AdvFieldDefs().Add("Eintrag", aftAutoInc);
  table.AdvFieldDefs().Add("ElementName", aftString, 20);
  table.AdvFieldDefs().Add("Value", aftDouble);
  table.AdvFieldDefs().Add("Count", aftInteger);
  table.AdvFieldDefs().Add("Art", aftWord);
  table.AdvFieldDefs().Add("Flag", aftBoolean);
  table.AdvFieldDefs().Add("When", aftDateTime);
  table.AdvFieldDefs().Add("Kommentar", aftMemo, 0, false, 1, 4);
  table.AdvFieldDefs().Add("Data", aftBlob, 100);
  table.IndexDefs().Clear();
  table.IndexDefs().Add("p", "Eintrag", ixPrimary);
  table.IndexDefs().Add("EN", "ElementName", ixUnique | ixCaseInsensitive);
}

// Makes the element table in `lib`'s file and opens `table` on it.
inline void OpenNewElementTable(const LibraryFile& lib, TABSTable& table) {
  lib.Bind(table);
  DefineElementTable(table);
  table.CreateTable();
  table.Open();
}

// Appends and posts a record with the given field values.
inline void AppendRecord(TABSTable& table, std::initializer_list<std::pair<const char*, Variant>> values) {
  table.Append();
  for (const auto& [name, value] : values) table.FieldByName(name).SetValue(value);
  table.Post();
}

inline void AppendElement(TABSTable& table, const std::string& name, double value = 0) {
  AppendRecord(table, {{"ElementName", Variant(name)}, {"Value", Variant(value)}});
}

}  // namespace vez::test

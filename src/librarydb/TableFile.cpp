// The table object in its file: binding to a database by session and alias, and the table's definitions as the
// file records them (read, create, rename, delete). The open table's cursor is in TableCursor.cpp, its writes in
// TableWrites.cpp.
#include <algorithm>
#include <string>
#include <vector>

#include "core/CaseFold.h"
#include "core/FormatSettings.h"
#include "librarydb/Absmain.h"
#include "librarydb/internal/Catalog.h"
#include "librarydb/internal/Columns.h"
#include "librarydb/internal/OpenTable.h"
#include "librarydb/internal/Transactions.h"

namespace vez {

using detail::BindText;
using detail::ConnectionUse;
using detail::CreateIndexSql;
using detail::HasKeysTable;
using detail::QuoteIdent;
using detail::ReadStoredDefinitions;
using detail::TakeDefinitions;
using detail::RowKeyName;
using detail::SplitFields;
using detail::SqlType;
using detail::StatementScope;
using detail::StoredDefinitions;
using detail::StoredTableName;
using detail::UserTables;
using detail::WriteScope;

TABSTable::TABSTable() = default;

TABSTable::~TABSTable() { Close(); }

const std::string& TABSTable::TableNameInFile() const { return impl_ ? impl_->name : tableName_; }

void TABSTable::SetSessionName(std::string session) {
  Close();
  session_ = std::move(session);
}

void TABSTable::SetDatabaseName(std::string alias) {
  Close();
  alias_ = std::move(alias);
}

void TABSTable::SetTableName(std::string name) {
  if (name == tableName_) return;
  Close();
  tableName_ = std::move(name);
}

void TABSTable::SetReadOnly(bool readOnly) {
  if (readOnly && (State() == TDataSetState::dsEdit || State() == TDataSetState::dsInsert)) Cancel();
  readOnly_ = readOnly;
}

TABSDatabase& TABSTable::Database() const {
  if (database_ != nullptr) return *database_;
  TABSDatabase* db = TABSDatabase::FindDatabase(session_, alias_);
  if (db == nullptr) {
    throw EDatabaseError(Format("Table '%s': no database with the alias '%s' in session '%s'", tableName_, alias_,
                                session_));
  }
  return *db;
}

void TABSTable::ReadDefinitions() {
  TABSDatabase& db = Database();
  ConnectionUse c(db, &TABSDatabase::Acquire, &TABSDatabase::Release);
  const std::string stored = StoredTableName(*c, tableName_);
  if (stored.empty()) {
    throw EDatabaseError(Format("Table '%s' does not exist in \"%s\"", tableName_, c->FileName()));
  }
  StoredDefinitions defs = ReadStoredDefinitions(*c, stored);
  TakeDefinitions(defs, fieldDefs_, advFieldDefs_, indexDefs_);
}

void TABSTable::CreateTable() {
  if (Active()) throw EDatabaseError(Format("Table '%s' is open and cannot be created", tableName_));
  if (Trim(tableName_).empty()) throw EDatabaseError("Cannot create a table without a name");
  if (detail::IsReservedTableName(tableName_)) {
    throw EDatabaseError(Format("The table name '%s' is reserved", tableName_));
  }
  TABSDatabase& db = Database();
  if (db.ReadOnly()) {
    throw EDatabaseError(Format("Cannot create table '%s': the database is read-only", tableName_));
  }
  // The columns: the advanced definitions when there are any.
  std::vector<TABSAdvFieldDef> columns;
  if (advFieldDefs_.Count() > 0) {
    for (int i = 0; i < advFieldDefs_.Count(); ++i) columns.push_back(advFieldDefs_[i]);
  } else {
    for (int i = 0; i < fieldDefs_.Count(); ++i) {
      const TFieldDef& f = fieldDefs_[i];
      columns.push_back(TABSAdvFieldDef{f.Name, 0, f.Size, f.Required, 0, 0});
    }
  }
  if (columns.empty()) throw EDatabaseError(Format("Cannot create table '%s' without fields", tableName_));
  RowKeyName(columns, tableName_);
  auto typeOf = [&](std::size_t i) {
    return columns[i].DataType != 0 ? AdvancedFieldTypeToFieldType(columns[i].DataType)
                                    : fieldDefs_[static_cast<int>(i)].DataType;
  };
  auto columnOf = [&](const std::string& name) -> const TABSAdvFieldDef* {
    for (const TABSAdvFieldDef& c : columns) {
      if (SameText(c.Name, name)) return &c;
    }
    return nullptr;
  };
  std::vector<std::vector<std::string>> indexFields;
  for (int i = 0; i < indexDefs_.Count(); ++i) {
    std::vector<std::string> fields = SplitFields(indexDefs_[i].Fields);
    if (fields.empty()) throw EDatabaseError(Format("Index '%s' has no fields", indexDefs_[i].Name));
    for (std::string& field : fields) {
      const TABSAdvFieldDef* column = columnOf(field);
      if (column == nullptr) {
        throw EDatabaseError(Format("Index '%s' names the unknown field '%s'", indexDefs_[i].Name, field));
      }
      field = column->Name;
    }
    indexFields.push_back(std::move(fields));
  }

  ConnectionUse c(db, &TABSDatabase::Acquire, &TABSDatabase::Release);
  // A library file holds one table: a second one would stay unseen by every program that opens the file.
  const std::vector<std::string> tables = UserTables(*c);
  for (const std::string& table : tables) {
    if (SameTextFolded(table, tableName_)) {
      throw EDatabaseError(Format("Table '%s' exists already in \"%s\"", tableName_, c->FileName()));
    }
  }
  if (!tables.empty()) {
    throw EDatabaseError(Format("Cannot create table '%s' in \"%s\": the file holds the table '%s' already, and a "
                                "library file holds one table",
                                tableName_, c->FileName(), tables.front()));
  }
  WriteScope write(*c);
  c->EnsureBookkeeping();
  std::string sql = "CREATE TABLE " + QuoteIdent(tableName_) + " (";
  for (std::size_t i = 0; i < columns.size(); ++i) {
    if (i > 0) sql += ", ";
    sql += QuoteIdent(columns[i].Name) + " " + SqlType(typeOf(i));
    if (columns[i].Required) sql += " NOT NULL";
  }
  sql += ")";
  c->Exec(sql, "Cannot create the table in");
  for (int i = 0; i < indexDefs_.Count(); ++i) {
    c->Exec(CreateIndexSql(indexDefs_[i], tableName_, indexFields[static_cast<std::size_t>(i)]),
            "Cannot create an index in");
  }
  for (const char* meta : {detail::kFieldsTable, detail::kIndexesTable, detail::kCountersTable, detail::kKeysTable}) {
    sqlite3_stmt* stmt = c->Prepare(std::string("DELETE FROM ") + QuoteIdent(meta) + " WHERE tbl=?1");
    StatementScope scope(stmt);
    BindText(stmt, 1, tableName_);
    c->Step(stmt, "Cannot write to");
  }
  sqlite3_stmt* field = c->Prepare(std::string("INSERT INTO ") + QuoteIdent(detail::kFieldsTable) +
                                   " VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9)");
  for (std::size_t i = 0; i < columns.size(); ++i) {
    StatementScope scope(field);
    const TABSAdvFieldDef& col = columns[i];
    BindText(field, 1, tableName_);
    sqlite3_bind_int64(field, 2, static_cast<std::int64_t>(i));
    BindText(field, 3, col.Name);
    sqlite3_bind_int(field, 4, typeOf(i));
    sqlite3_bind_int(field, 5, col.DataType);
    sqlite3_bind_int(field, 6, col.Size);
    sqlite3_bind_int(field, 7, col.Required ? 1 : 0);
    sqlite3_bind_int(field, 8, col.CompressionAlgorithm);
    sqlite3_bind_int(field, 9, col.CompressionLevel);
    c->Step(field, "Cannot write to");
    if (typeOf(i) == ftAutoInc) c->SetCounter(tableName_, col.Name, 0);
  }
  sqlite3_stmt* index =
      c->Prepare(std::string("INSERT INTO ") + QuoteIdent(detail::kIndexesTable) + " VALUES(?1, ?2, ?3, ?4, ?5)");
  for (int i = 0; i < indexDefs_.Count(); ++i) {
    StatementScope scope(index);
    BindText(index, 1, tableName_);
    sqlite3_bind_int(index, 2, i);
    BindText(index, 3, indexDefs_[i].Name);
    BindText(index, 4, indexDefs_[i].Fields);
    sqlite3_bind_int(index, 5, indexDefs_[i].Options);
    c->Step(index, "Cannot write to");
  }
  write.Commit();
}

bool TABSTable::GetTableExists() {
  TABSDatabase& db = Database();
  if (!db.GetExists()) return false;
  ConnectionUse c(db, &TABSDatabase::Acquire, &TABSDatabase::Release);
  return !StoredTableName(*c, tableName_).empty();
}

void TABSTable::RenameTable(const std::string& newName) {
  if (Active()) throw EDatabaseError(Format("Table '%s' is open and cannot be renamed", tableName_));
  if (Trim(newName).empty() || detail::IsReservedTableName(newName)) {
    throw EDatabaseError(Format("Cannot rename table '%s' to '%s': invalid name", tableName_, newName));
  }
  TABSDatabase& db = Database();
  ConnectionUse c(db, &TABSDatabase::Acquire, &TABSDatabase::Release);
  const std::string stored = StoredTableName(*c, tableName_);
  if (stored.empty()) throw EDatabaseError(Format("Table '%s' does not exist in \"%s\"", tableName_, c->FileName()));
  const std::string target = StoredTableName(*c, newName, false);
  if (!target.empty() && !SameText(target, stored)) {
    throw EDatabaseError(Format("Cannot rename table '%s': table '%s' exists already", tableName_, newName));
  }
  if (stored != newName) {
    const StoredDefinitions defs = ReadStoredDefinitions(*c, stored);
    WriteScope write(*c);
    for (const TIndexDef& def : defs.indexes) {
      c->Exec("DROP INDEX IF EXISTS " + QuoteIdent(stored + "$" + def.Name), "Cannot rename the table in");
    }
    // SQLite refuses a new name that differs only in letter case: such a rename goes through a passing name.
    std::string from = stored;
    if (SameText(stored, newName)) {
      from = stored + "$renaming";
      c->Exec("ALTER TABLE " + QuoteIdent(stored) + " RENAME TO " + QuoteIdent(from), "Cannot rename the table in");
    }
    c->Exec("ALTER TABLE " + QuoteIdent(from) + " RENAME TO " + QuoteIdent(newName), "Cannot rename the table in");
    for (const TIndexDef& def : defs.indexes) {
      c->Exec(CreateIndexSql(def, newName, SplitFields(def.Fields)), "Cannot rename the table in");
    }
    std::vector<const char*> metas = {detail::kFieldsTable, detail::kIndexesTable, detail::kCountersTable};
    if (HasKeysTable(*c)) metas.push_back(detail::kKeysTable);
    for (const char* meta : metas) {
      sqlite3_stmt* stmt = c->Prepare(std::string("UPDATE ") + QuoteIdent(meta) + " SET tbl=?1 WHERE tbl=?2");
      StatementScope scope(stmt);
      BindText(stmt, 1, newName);
      BindText(stmt, 2, stored);
      c->Step(stmt, "Cannot write to");
    }
    write.Commit();
  }
  tableName_ = newName;
}

void TABSTable::DeleteTable() {
  if (Active()) throw EDatabaseError(Format("Table '%s' is open and cannot be deleted", tableName_));
  TABSDatabase& db = Database();
  ConnectionUse c(db, &TABSDatabase::Acquire, &TABSDatabase::Release);
  const std::string stored = StoredTableName(*c, tableName_);
  if (stored.empty()) throw EDatabaseError(Format("Table '%s' does not exist in \"%s\"", tableName_, c->FileName()));
  WriteScope write(*c);
  c->Exec("DROP TABLE " + QuoteIdent(stored), "Cannot delete the table in");
  if (c->HasBookkeeping()) {
    std::vector<const char*> metas = {detail::kFieldsTable, detail::kIndexesTable, detail::kCountersTable};
    if (HasKeysTable(*c)) metas.push_back(detail::kKeysTable);
    for (const char* meta : metas) {
      sqlite3_stmt* stmt = c->Prepare(std::string("DELETE FROM ") + QuoteIdent(meta) + " WHERE tbl=?1");
      StatementScope scope(stmt);
      BindText(stmt, 1, stored);
      c->Step(stmt, "Cannot write to");
    }
  }
  write.Commit();
}

}  // namespace vez

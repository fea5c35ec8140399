// The database and table objects of the engine, over SQLite.
#include <algorithm>
#include <filesystem>
#include <mutex>
#include <optional>
#include <system_error>

#include "core/CaseFold.h"
#include "core/TextEncoding.h"
#include "core/FileMask.h"
#include "core/FormatSettings.h"
#include "librarydb/Absmain.h"
#include "librarydb/internal/Sqlite.h"

namespace vez {

using detail::Connection;
using detail::QuoteIdent;
using detail::StatementScope;

namespace {

constexpr std::size_t kFetchBatch = 64;

// Every live database object, for tables to find theirs by session and alias. Guarded so that threads may
// each create and destroy their own database objects.
struct LiveDatabaseList {
  std::mutex mutex;
  std::vector<TABSDatabase*> databases;
};

LiveDatabaseList& LiveDatabases() {
  static LiveDatabaseList list;
  return list;
}

// Holds the connection of a database for the length of one call.
class ConnectionUse {
public:
  ConnectionUse(TABSDatabase& db, Connection& (TABSDatabase::*acquire)(), void (TABSDatabase::*release)())
      : db_(db), release_(release), connection_((db.*acquire)()) {}
  ~ConnectionUse() { (db_.*release_)(); }
  ConnectionUse(const ConnectionUse&) = delete;
  ConnectionUse& operator=(const ConnectionUse&) = delete;
  Connection& operator*() const { return connection_; }
  Connection* operator->() const { return &connection_; }

private:
  TABSDatabase& db_;
  void (TABSDatabase::*release_)();
  Connection& connection_;
};

// A write that is atomic on its own: its own transaction outside an explicit one, a savepoint inside.
class WriteScope {
public:
  explicit WriteScope(Connection& c) : c_(c), nested_(c.InTransaction()) {
    c_.CheckTransaction();
    c_.Exec(nested_ ? "SAVEPOINT vez_write" : "BEGIN IMMEDIATE", "Cannot write to");
  }
  ~WriteScope() {
    if (done_) return;
    sqlite3_exec(c_.Handle(), nested_ ? "ROLLBACK TO vez_write; RELEASE vez_write" : "ROLLBACK", nullptr, nullptr,
                 nullptr);
  }
  WriteScope(const WriteScope&) = delete;
  WriteScope& operator=(const WriteScope&) = delete;
  void Commit() {
    c_.Exec(nested_ ? "RELEASE vez_write" : "COMMIT", "Cannot write to");
    done_ = true;
  }

private:
  Connection& c_;
  bool nested_;
  bool done_ = false;
};

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

void BindText(sqlite3_stmt* stmt, int index, const std::string& text) {
  sqlite3_bind_text(stmt, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

// Binds a value that has the canonical form of its field (see TDataSet::NormalizeForField); `blobColumn` says
// whether the field's column holds BLOBs. The value must stay alive until the statement has run.
void BindValue(sqlite3_stmt* stmt, int index, const Variant& v, TFieldType type, bool blobColumn) {
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

bool IsBlobColumn(TFieldType type) { return std::string_view(SqlType(type)) == "BLOB"; }

// Appends the value of a result column to a record, in the form its field type gives it.
void AppendValue(sqlite3_stmt* stmt, int col, TFieldType type, std::vector<Variant>& out) {
  // One column fetch and plain value reads: the column_* calls each do the statement's checks again.
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

std::string ColumnText(sqlite3_stmt* stmt, int col) {
  const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, col));
  return std::string(text ? text : "", static_cast<std::size_t>(sqlite3_column_bytes(stmt, col)));
}

const std::string& KeysTable() {
  static const std::string quoted = QuoteIdent(detail::kKeysTable);
  return quoted;
}

bool HasKeysTable(Connection& c) {
  sqlite3_stmt* stmt = c.Prepare("SELECT count(*) FROM sqlite_master WHERE type='table' AND name=?1");
  StatementScope scope(stmt);
  sqlite3_bind_text(stmt, 1, detail::kKeysTable, -1, SQLITE_STATIC);
  c.Step(stmt, "Cannot read");
  return sqlite3_column_int(stmt, 0) > 0;
}

// The user tables of a file (the engine's bookkeeping tables left out), in name order.
std::vector<std::string> UserTables(Connection& c) {
  sqlite3_stmt* stmt = c.Prepare("SELECT name FROM sqlite_master WHERE type='table' ORDER BY name");
  StatementScope scope(stmt);
  std::vector<std::string> names;
  while (c.Step(stmt, "Cannot read") == SQLITE_ROW) {
    std::string name = ColumnText(stmt, 0);
    if (!detail::IsReservedTableName(name)) names.push_back(std::move(name));
  }
  return names;
}

}  // namespace

std::string ResolveFileName(const std::string& fileName) {
  namespace fs = std::filesystem;
  std::error_code ec;
  if (fileName.empty() || fs::exists(fileName, ec)) return fileName;
  const fs::path path(fileName);
  const std::string name = path.filename().string();
  const fs::path folder = path.has_parent_path() ? path.parent_path() : fs::path(".");
  std::vector<std::string> matches;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string candidate = it->path().filename().string();
    if (SameTextFolded(candidate, name)) matches.push_back(candidate);
  }
  if (matches.empty()) return fileName;
  std::sort(matches.begin(), matches.end());
  if (matches.size() > 1) {
    throw EDatabaseError(Format("\"%s\" and \"%s\" differ only in letter case: rename one of them",
                                (path.parent_path() / matches[0]).string(), (path.parent_path() / matches[1]).string()));
  }
  return (path.parent_path() / matches[0]).string();
}

// ---- database ----

TABSDatabase::TABSDatabase() {
  LiveDatabaseList& live = LiveDatabases();
  const std::lock_guard<std::mutex> lock(live.mutex);
  live.databases.push_back(this);
}

TABSDatabase::~TABSDatabase() {
  Close();
  LiveDatabaseList& live = LiveDatabases();
  const std::lock_guard<std::mutex> lock(live.mutex);
  live.databases.erase(std::remove(live.databases.begin(), live.databases.end(), this), live.databases.end());
}

TABSDatabase* TABSDatabase::FindDatabase(std::string_view session, std::string_view alias) {
  if (alias.empty()) return nullptr;
  LiveDatabaseList& live = LiveDatabases();
  const std::lock_guard<std::mutex> lock(live.mutex);
  for (TABSDatabase* db : live.databases) {
    if (SameText(db->alias_, alias) && SameText(db->session_, session)) return db;
  }
  return nullptr;
}

void TABSDatabase::SetDatabaseFileName(std::string fileName) {
  if (fileName == fileName_) return;
  Close();
  fileName_ = std::move(fileName);
}

// Binds the database to a new session and alias; another live database of that pair is an error.
void TABSDatabase::Rebind(std::string session, std::string alias) {
  TABSDatabase* other = FindDatabase(session, alias);
  if (other != nullptr && other != this) {
    throw EDatabaseError(Format("The database alias '%s' is in use by another database", alias));
  }
  Close();
  session_ = std::move(session);
  alias_ = std::move(alias);
}

void TABSDatabase::SetDatabaseName(std::string alias) {
  if (alias != alias_) Rebind(session_, std::move(alias));
}

void TABSDatabase::SetSessionName(std::string session) {
  if (session != session_) Rebind(std::move(session), alias_);
}

void TABSDatabase::SetReadOnly(bool readOnly) {
  if (readOnly == readOnly_) return;
  Close();
  readOnly_ = readOnly;
}

void TABSDatabase::SetKeepConnection(bool keep) {
  keepConnection_ = keep;
  if (!keep && connection_ && users_ == 0) connection_.reset();
}

void TABSDatabase::SetLockWaitSeconds(std::int32_t seconds) {
  lockWaitSeconds_ = std::max<std::int32_t>(0, seconds);
  if (connection_) connection_->SetLockWait(lockWaitSeconds_);
}

Connection& TABSDatabase::Acquire() {
  if (!connection_) {
    connection_ = std::make_unique<Connection>(ResolveFileName(fileName_), readOnly_, lockWaitSeconds_, false);
  }
  ++users_;
  return *connection_;
}

void TABSDatabase::Release() {
  if (users_ > 0) --users_;
  if (users_ == 0 && !keepConnection_ && connection_ && !connection_->InTransaction()) connection_.reset();
}

void TABSDatabase::AttachTable(TABSTable* table) { openTables_.push_back(table); }

void TABSDatabase::DetachTable(TABSTable* table) {
  openTables_.erase(std::remove(openTables_.begin(), openTables_.end(), table), openTables_.end());
}

void TABSDatabase::Open() {
  if (explicitOpen_) return;
  Acquire();
  explicitOpen_ = true;
}

void TABSDatabase::Close() {
  const std::vector<TABSTable*> tables = openTables_;
  for (TABSTable* table : tables) table->Close();
  openTables_.clear();
  connection_.reset();  // an unfinished transaction is rolled back
  users_ = 0;
  explicitOpen_ = false;
}

bool TABSDatabase::Connected() const { return connection_ != nullptr; }

bool TABSDatabase::GetExists() const {
  std::error_code ec;
  return !fileName_.empty() && std::filesystem::is_regular_file(ResolveFileName(fileName_), ec);
}

void TABSDatabase::CreateDatabase() {
  if (readOnly_) throw EDatabaseError(Format("Cannot create \"%s\": the database is read-only", fileName_));
  const std::string existing = ResolveFileName(fileName_);
  if (existing != fileName_) throw EDatabaseError(Format("Cannot create \"%s\": \"%s\" exists already", fileName_, existing));
  Connection created(fileName_, false, lockWaitSeconds_, true);
}

void TABSDatabase::DeleteDatabase() {
  Close();
  std::error_code ec;
  const std::string file = ResolveFileName(fileName_);
  if (!std::filesystem::remove(file, ec) || ec) {
    throw EDatabaseError(Format("Cannot delete \"%s\": %s", fileName_,
                                ec ? ec.message() : std::string("the file does not exist")));
  }
  std::filesystem::remove(file + "-journal", ec);
}

void TABSDatabase::RenameDatabase(const std::string& newFileName) {
  Close();
  namespace fs = std::filesystem;
  std::error_code ec;
  if (!GetExists()) throw EDatabaseError(Format("Cannot rename \"%s\": the file does not exist", fileName_));
  const std::string source = ResolveFileName(fileName_);
  const std::string target = ResolveFileName(newFileName);
  // A new name that differs only in letter case names the file itself: that rename goes ahead.
  if (fs::exists(target, ec) && !fs::equivalent(source, target, ec)) {
    throw EDatabaseError(Format("Cannot rename \"%s\" to \"%s\": the target exists", fileName_, newFileName));
  }
  if (source == newFileName) {
    fileName_ = newFileName;
    return;
  }
  fs::rename(source, newFileName, ec);
  if (ec) {
    // Another file system: copy, then remove the original.
    std::error_code copyError;
    fs::copy_file(source, newFileName, copyError);
    if (copyError) {
      throw EDatabaseError(
          Format("Cannot rename \"%s\" to \"%s\": %s", fileName_, newFileName, copyError.message()));
    }
    fs::remove(source, copyError);
  }
  fileName_ = newFileName;
}

void TABSDatabase::GetTablesList(StringList& list) {
  list.Clear();
  for (std::string& name : GetTablesList()) list.Add(std::move(name));
}

std::vector<std::string> TABSDatabase::GetTablesList() {
  // Listing needs no write access: without an open connection the file is opened for reading only.
  std::unique_ptr<Connection> reader;
  if (!connection_) reader = std::make_unique<Connection>(ResolveFileName(fileName_), true, lockWaitSeconds_, false);
  return UserTables(reader ? *reader : *connection_);
}

void TABSDatabase::StartTransaction() {
  Connection& c = Acquire();
  try {
    c.Begin();
  } catch (...) {
    Release();
    throw;
  }
}

void TABSDatabase::Commit() {
  if (!InTransaction()) throw EDatabaseError(Format("No transaction is running on \"%s\"", fileName_));
  try {
    connection_->Commit();
  } catch (...) {
    if (!connection_->InTransaction()) Release();  // the failed commit ended the transaction
    throw;
  }
  Release();
}

void TABSDatabase::Rollback() {
  if (!InTransaction()) throw EDatabaseError(Format("No transaction is running on \"%s\"", fileName_));
  connection_->Rollback();
  Release();
}

bool TABSDatabase::InTransaction() const { return connection_ && connection_->InTransaction(); }

// ---- table ----

struct TABSTable::Impl {
  struct Column {
    std::string name;
    TFieldType type = ftUnknown;
    bool blob = false;  // the column holds BLOBs
  };
  // An auto-increment column and the counter the running transaction holds for it (see LastAutoIncNumber).
  struct AutoInc {
    std::size_t column = 0;
    std::uint64_t transaction = 0;  // Connection::Transactions() when `counter` was taken
    Connection::CounterState* counter = nullptr;
    std::int64_t next = 0;  // the number a record being inserted moves the counter to (0: none)
    bool assigned = false;  // the record being inserted got its number from the counter
  };
  struct Index {
    std::string name;
    std::vector<std::size_t> columns;
    TIndexOptions options = 0;
    bool unique = false;
    std::string orderBy;  // ORDER BY clause of the index
  };

  Connection* conn = nullptr;
  std::string name;    // the table's name as stored in the file
  std::string quoted;  // QuoteIdent(name)
  std::vector<Column> columns;
  std::vector<Index> indexes;
  std::vector<AutoInc> autoInc;
  const Index* order = nullptr;
  std::string rowid = "rowid";  // the name that reaches SQLite's row key (see RowKeyName)
  std::string selectList;  // the row key and every column
  sqlite3_stmt* insert = nullptr;
  sqlite3_stmt* update = nullptr;
  sqlite3_stmt* fetch = nullptr;
  sqlite3_stmt* range = nullptr;
  std::map<std::pair<const Index*, std::size_t>, sqlite3_stmt*> find;
  std::vector<const Index*> folded;  // the unique case-insensitive indexes (see "folded keys" below)
  bool foldReady = false;            // their entries in vez$keys are complete, in transaction foldSerial
  std::uint64_t foldSerial = 0;
  std::vector<bool> foldEntries;     // per folded index: vez$keys holds entries of it
  // The running transaction's counter of the records the folded keys cover (see MoveKeysCovered).
  std::uint64_t coveredTransaction = 0;
  Connection::CounterState* covered = nullptr;
  // The folded key FindKey last found in no record, with the transaction and the connection's count of changes
  // at that moment: an insert of that key right after (find, else append) needs no second look-up while nothing
  // was written in between. Only inside a transaction, whose write lock keeps other connections out.
  struct AbsentKey {
    const Index* index = nullptr;
    std::string key;
    std::uint64_t transaction = 0;
    std::int64_t changes = -1;
  } absent;

  void Bind(sqlite3_stmt* stmt, int index, const Variant& value, std::size_t col) const {
    BindValue(stmt, index, value, columns[col].type, columns[col].blob);
  }

  const Index* FindIndex(std::string_view indexName) const {
    for (const Index& index : indexes) {
      if (SameText(index.name, indexName)) return &index;
    }
    return nullptr;
  }
};

namespace {

// The stored name of a table: the table of that name, letter case ignored (non-ASCII letters too); else, with
// `onlyTable`, the one table of a file that holds a single table under another name (a library file the user
// copied or renamed: its table keeps the old name). "" when missing.
std::string StoredTableName(Connection& c, const std::string& name, bool onlyTable = true) {
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

// CREATE INDEX statement of an index definition whose fields have been checked.
std::string CreateIndexSql(const TIndexDef& def, const std::string& tableName,
                           const std::vector<std::string>& fields) {
  std::string sql = IsUniqueIndex(def, tableName) ? "CREATE UNIQUE INDEX " : "CREATE INDEX ";
  sql += QuoteIdent(tableName + "$" + def.Name) + " ON " + QuoteIdent(tableName) + "(";
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (i > 0) sql += ", ";
    sql += ColumnTerm(fields[i], def.Options);
  }
  return sql + ")";
}

// The name by which SQL reaches a table's row key: "rowid", unless a field of the table bears that name (any
// case), then "_rowid_", then "oid". A table with fields of all three names has no way to its rows.
template <class Fields>
std::string RowKeyName(const Fields& fields, const std::string& tableName) {
  for (const char* candidate : {"rowid", "_rowid_", "oid"}) {
    const bool taken = std::any_of(fields.begin(), fields.end(), [&](const auto& f) { return SameText(f.Name, candidate); });
    if (!taken) return candidate;
  }
  throw EDatabaseError(Format("Table '%s' cannot have fields named rowid, _rowid_ and oid at once", tableName));
}

struct StoredDefinitions {
  std::vector<TFieldDef> classic;
  std::vector<TABSAdvFieldDef> advanced;  // empty for a table made from classic definitions
  std::vector<TIndexDef> indexes;
};

StoredDefinitions ReadStoredDefinitions(Connection& c, const std::string& table) {
  StoredDefinitions defs;
  if (!c.HasBookkeeping()) {
    throw EDatabaseError(
        Format("Table '%s' in \"%s\" has no field definitions: the file is not a library", table, c.FileName()));
  }
  {
    sqlite3_stmt* stmt = c.Prepare(std::string("SELECT name, field_type, engine_type, size, required, compression,"
                                               " compression_level FROM ") +
                                   QuoteIdent(detail::kFieldsTable) + " WHERE tbl=?1 ORDER BY pos");
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
                                 QuoteIdent(detail::kIndexesTable) + " WHERE tbl=?1 ORDER BY pos");
  StatementScope scope(stmt);
  BindText(stmt, 1, table);
  while (c.Step(stmt, "Cannot read") == SQLITE_ROW) {
    defs.indexes.push_back(TIndexDef{ColumnText(stmt, 0), ColumnText(stmt, 1),
                                     static_cast<TIndexOptions>(sqlite3_column_int(stmt, 2))});
  }
  return defs;
}

}  // namespace

TABSTable::TABSTable() = default;

TABSTable::~TABSTable() { Close(); }

const std::string& TABSTable::TableNameInFile() const { return impl_ ? impl_->name : tableName_; }

std::string TABSTable::DisplayName() const { return Format("Table '%s'", tableName_); }

bool TABSTable::IsReadOnly() const {
  return readOnly_ || (database_ != nullptr && database_->ReadOnly());
}

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
  fieldDefs_.Clear();
  for (const TFieldDef& f : defs.classic) fieldDefs_.Add(f.Name, f.DataType, f.Size, f.Required);
  advFieldDefs_.Clear();
  for (const TABSAdvFieldDef& f : defs.advanced) {
    advFieldDefs_.Add(f.Name, f.DataType, f.Size, f.Required, f.CompressionAlgorithm, f.CompressionLevel);
  }
  indexDefs_.Clear();
  for (const TIndexDef& i : defs.indexes) indexDefs_.Add(i.Name, i.Fields, i.Options);
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

// ---- the open table ----

std::vector<TDataSet::ColumnInfo> TABSTable::DoOpen() {
  TABSDatabase& db = Database();
  Connection& c = db.Acquire();
  std::vector<ColumnInfo> result;
  try {
    const std::string stored = StoredTableName(c, tableName_);
    if (stored.empty()) throw EDatabaseError(Format("Table '%s' does not exist in \"%s\"", tableName_, c.FileName()));
    StoredDefinitions defs = ReadStoredDefinitions(c, stored);
    auto impl = std::make_unique<Impl>();
    impl->conn = &c;
    impl->name = stored;
    impl->quoted = QuoteIdent(stored);
    impl->rowid = RowKeyName(defs.classic, stored);
    impl->selectList = impl->rowid;
    for (const TFieldDef& f : defs.classic) {
      impl->columns.push_back(Impl::Column{f.Name, f.DataType, IsBlobColumn(f.DataType)});
      impl->selectList += ", " + QuoteIdent(f.Name);
      if (f.DataType == ftAutoInc) impl->autoInc.push_back(Impl::AutoInc{impl->columns.size() - 1});
      result.push_back(ColumnInfo{f.Name, f.DataType, f.Size, f.Required});
    }
    for (const TIndexDef& def : defs.indexes) {
      Impl::Index index;
      index.name = def.Name;
      index.options = def.Options;
      index.unique = IsUniqueIndex(def, stored);
      for (const std::string& field : SplitFields(def.Fields)) {
        const auto it = std::find_if(defs.classic.begin(), defs.classic.end(),
                                     [&](const TFieldDef& f) { return SameText(f.Name, field); });
        if (it == defs.classic.end()) {
          throw EDatabaseError(Format("Index '%s' of table '%s' names the unknown field '%s'", def.Name, stored, field));
        }
        index.columns.push_back(static_cast<std::size_t>(it - defs.classic.begin()));
        index.orderBy += ColumnTerm(it->Name, def.Options) + ", ";
      }
      index.orderBy += impl->rowid;
      impl->indexes.push_back(std::move(index));
    }
    for (const Impl::Index& index : impl->indexes) {
      if (index.unique && (index.options & ixCaseInsensitive) != 0) impl->folded.push_back(&index);
    }
    if (!indexName_.empty()) {
      impl->order = impl->FindIndex(indexName_);
      if (impl->order == nullptr) {
        throw EDatabaseError(Format("Index '%s' not found in table '%s'", indexName_, stored));
      }
    }
    fieldDefs_.Clear();
    for (const TFieldDef& f : defs.classic) fieldDefs_.Add(f.Name, f.DataType, f.Size, f.Required);
    advFieldDefs_.Clear();
    for (const TABSAdvFieldDef& f : defs.advanced) {
      advFieldDefs_.Add(f.Name, f.DataType, f.Size, f.Required, f.CompressionAlgorithm, f.CompressionLevel);
    }
    indexDefs_.Clear();
    for (const TIndexDef& i : defs.indexes) indexDefs_.Add(i.Name, i.Fields, i.Options);
    impl_ = std::move(impl);
  } catch (...) {
    db.Release();
    throw;
  }
  database_ = &db;
  db.AttachTable(this);
  return result;
}

void TABSTable::DoClose() {
  impl_.reset();
  if (database_ != nullptr) {
    TABSDatabase* db = database_;
    database_ = nullptr;
    db->DetachTable(this);
    db->Release();
  }
}

std::vector<std::int64_t> TABSTable::DoLoadKeys() {
  Impl& t = *impl_;
  // Insertion order: any order of reading will do (SQLite may then read a small index instead of the whole
  // table), the keys are sorted here.
  const std::string sql = "SELECT " + t.rowid + " FROM " + t.quoted + (t.order != nullptr ? " ORDER BY " + t.order->orderBy : "");
  sqlite3_stmt* stmt = t.conn->Prepare(sql);
  StatementScope scope(stmt);
  std::vector<std::int64_t> keys;
  while (t.conn->Step(stmt, "Cannot read") == SQLITE_ROW) keys.push_back(sqlite3_column_int64(stmt, 0));
  if (t.order == nullptr) std::sort(keys.begin(), keys.end());
  return keys;
}

namespace {

// The values of a result row (the row key first, then every column) into `out`, which may keep the room of an
// earlier record.
void DecodeRow(sqlite3_stmt* stmt, const std::vector<TABSTable::Impl::Column>& columns, std::vector<Variant>& out) {
  out.clear();
  out.reserve(columns.size());
  for (std::size_t col = 0; col < columns.size(); ++col) AppendValue(stmt, static_cast<int>(col + 1), columns[col].type, out);
}

}  // namespace

void TABSTable::DoFetch(const std::int64_t* keys, std::size_t count, std::vector<Row>& rows) {
  Impl& t = *impl_;
  if (t.order == nullptr && count > 0) {
    // Insertion order: the keys ascend, so one range scan reads them; records other programs added in
    // between are not part of this cursor and are passed over.
    if (t.range == nullptr) {
      t.range = t.conn->Prepare("SELECT " + t.selectList + " FROM " + t.quoted +
                                " WHERE " + t.rowid + " BETWEEN ?1 AND ?2 ORDER BY " + t.rowid);
    }
    StatementScope scope(t.range);
    sqlite3_bind_int64(t.range, 1, keys[0]);
    sqlite3_bind_int64(t.range, 2, keys[count - 1]);
    std::size_t next = 0;
    while (next < count && t.conn->Step(t.range, "Cannot read") == SQLITE_ROW) {
      const std::int64_t key = sqlite3_column_int64(t.range, 0);
      while (next < count && keys[next] < key) ++next;  // deleted meanwhile: stays Key 0
      if (next == count || keys[next] != key) continue;
      Row& row = rows[next];
      row.Key = key;
      DecodeRow(t.range, t.columns, row.Values);
      ++next;
    }
    return;
  }
  if (t.fetch == nullptr) {
    std::string sql = "SELECT " + t.selectList + " FROM " + t.quoted + " WHERE " + t.rowid + " IN (";
    for (std::size_t i = 0; i < kFetchBatch; ++i) sql += (i > 0 ? ", ?" : "?") + std::to_string(i + 1);
    t.fetch = t.conn->Prepare(sql + ")");
  }
  for (std::size_t done = 0; done < count; done += kFetchBatch) {
    const std::size_t n = std::min(kFetchBatch, count - done);
    StatementScope scope(t.fetch);
    for (std::size_t i = 0; i < n; ++i) sqlite3_bind_int64(t.fetch, static_cast<int>(i + 1), keys[done + i]);
    while (t.conn->Step(t.fetch, "Cannot read") == SQLITE_ROW) {
      const std::int64_t key = sqlite3_column_int64(t.fetch, 0);
      const std::int64_t* hit = std::find(keys + done, keys + done + n, key);
      if (hit == keys + done + n) continue;
      Row& row = rows[static_cast<std::size_t>(hit - keys)];
      row.Key = key;
      DecodeRow(t.fetch, t.columns, row.Values);
    }
  }
}

std::int32_t TABSTable::DoRecordCount() {
  Impl& t = *impl_;
  sqlite3_stmt* stmt = t.conn->Prepare("SELECT count(*) FROM " + t.quoted);
  StatementScope scope(stmt);
  t.conn->Step(stmt, "Cannot read");
  return sqlite3_column_int(stmt, 0);
}

namespace {

// The unique index a record collides with, as a message; "" when none is found.
std::string DescribeKeyViolation(TABSTable::Impl& t, const std::string& tableName,
                                 const std::vector<Variant>& values, std::int64_t ownKey) {
  for (const TABSTable::Impl::Index& index : t.indexes) {
    if (!index.unique) continue;
    std::string sql = "SELECT 1 FROM " + t.quoted + " WHERE ";
    for (std::size_t i = 0; i < index.columns.size(); ++i) {
      sql += ColumnTerm(t.columns[index.columns[i]].name, index.options) + " IS ?" + std::to_string(i + 1) + " AND ";
    }
    sql += t.rowid + " IS NOT ?" + std::to_string(index.columns.size() + 1) + " LIMIT 1";
    sqlite3_stmt* stmt = t.conn->Prepare(sql);
    StatementScope scope(stmt);
    std::string keyText;
    for (std::size_t i = 0; i < index.columns.size(); ++i) {
      const std::size_t col = index.columns[i];
      t.Bind(stmt, static_cast<int>(i + 1), values[col], col);
      if (i > 0) keyText += ";";
      keyText += values[col].IsClear() ? std::string() : values[col].AsString();
    }
    if (ownKey != 0) sqlite3_bind_int64(stmt, static_cast<int>(index.columns.size() + 1), ownKey);
    if (t.conn->Step(stmt, "Cannot read") == SQLITE_ROW) {
      return Format("Key violation in table '%s': index '%s' already holds the key '%s'", tableName, index.name,
                    keyText);
    }
  }
  return {};
}

// Runs a prepared INSERT or UPDATE, turning constraint failures into messages about the table's own rules.
void StepWrite(TABSTable::Impl& t, sqlite3_stmt* stmt, const std::string& tableName,
               const std::vector<Variant>& values, std::int64_t ownKey) {
  const int rc = sqlite3_step(stmt);
  if (rc == SQLITE_DONE) return;
  std::string message;
  if ((rc & 0xff) == SQLITE_CONSTRAINT) {
    const std::string detail = sqlite3_errmsg(t.conn->Handle());
    sqlite3_reset(stmt);
    message = DescribeKeyViolation(t, tableName, values, ownKey);
    if (message.empty()) message = Format("Table '%s': %s", tableName, detail);
    throw EDatabaseError(message);
  }
  sqlite3_reset(stmt);
  t.conn->Fail(Format("Cannot write table '%s' to", tableName), rc);
}

// The last number an auto-increment field has given out: its counter, or the highest number in the table when
// another program inserted records without moving the counter. Inside a transaction the table is asked once and
// the table keeps the transaction's counter until the transaction ends (it holds the write lock, so nobody else
// can insert meanwhile).
std::int64_t LastAutoIncNumber(TABSTable::Impl& t, TABSTable::Impl::AutoInc& a) {
  Connection& c = *t.conn;
  const bool inTransaction = c.InTransaction();
  if (inTransaction && a.transaction == c.Transactions()) return a.counter->last;
  const std::string& field = t.columns[a.column].name;
  const bool known = c.CounterKnown(t.name, field);
  std::int64_t last = c.Counter(t.name, field);
  if (!known) {
    sqlite3_stmt* stmt = c.Prepare("SELECT max(" + QuoteIdent(field) + ") FROM " + t.quoted);
    StatementScope scope(stmt);
    if (c.Step(stmt, "Cannot read") == SQLITE_ROW && sqlite3_column_type(stmt, 0) != SQLITE_NULL) {
      const std::int64_t highest = sqlite3_column_int64(stmt, 0);
      if (highest > last) {
        last = highest;
        if (inTransaction) c.SetCounter(t.name, field, last);
      }
    }
  }
  if (inTransaction) {
    a.counter = &c.TransactionCounter(t.name, field);
    a.transaction = c.Transactions();
  }
  return last;
}

// Records the new last number of an auto-increment field.
void MoveCounter(TABSTable::Impl& t, TABSTable::Impl::AutoInc& a, std::int64_t last) {
  Connection& c = *t.conn;
  if (c.InTransaction() && a.transaction == c.Transactions()) {
    a.counter->last = last;
    a.counter->dirty = true;
  } else {
    c.SetCounter(t.name, t.columns[a.column].name, last);
  }
}

// ---- folded keys of unique case-insensitive indexes ----
//
// SQLite's NOCASE folds ASCII letters only, but a unique case-insensitive index must hold "Äther" and "äther" as
// one name, as field and file names fold (core/CaseFold). Two keys fold alike either because they differ in the
// case of ASCII letters alone (the NOCASE index refuses the second) or because a letter beyond ASCII that folding
// changes ("Ä", "Ω", "Д") is involved. The engine keeps, in the bookkeeping table vez$keys (tbl, idx, key, rid),
// the folded key of every record that has such a letter. A new key beyond ASCII is looked up there (when the index
// has entries at all), and a key with such a letter also in the index itself by its folded text, which finds the
// records whose letters beyond ASCII fold to themselves. Names whose letters beyond ASCII are all lower case
// ("Straße", "Mühle") so cost one folding and no lookup. Records another program added get their entries at the
// engine's next write to the table (the highest row key covered is the table's counter of the field "", which no
// field can be named); an entry whose record another program deleted or renamed is recognised as stale.

using Index = TABSTable::Impl::Index;

bool HasNonAscii(const std::string& text) {
  return std::any_of(text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0x80) != 0; });
}

// Whether folding changes a letter beyond ASCII ("Äther" yes, "äther" and "ÄTHER"'s ASCII letters no).
bool FoldsBeyondAscii(const std::string& text, const std::string& folded) {
  if (text.size() != folded.size()) return true;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i] >= 'A' && text[i] <= 'Z' ? static_cast<char>(text[i] + 32) : text[i];
    if (c != folded[i]) return true;
  }
  return false;
}

// The text of one key value, independent of the process format settings.
std::string KeyPart(const Variant& v) {
  switch (v.Type()) {
    case VarType::String: return FoldCase(v.RawString());
    case VarType::Double: return Format("%.17g", v.RawDouble());
    case VarType::DateTime: return DateTimeToISO(v.RawDateTime());
    case VarType::Boolean: return v.RawBool() ? "1" : "0";
    default: return v.AsString();
  }
}

// A record's key for an index, folded.
struct FoldedKeyOf {
  std::string key;      // "" when the NOCASE index alone decides (a field without value never collides)
  bool entry = false;   // a letter beyond ASCII folds: the record has an entry in vez$keys
  std::vector<Variant> folded;  // the key's values with their texts folded, for a look-up in the index
};

FoldedKeyOf FoldedKey(const Index& index, const std::vector<Variant>& values) {
  FoldedKeyOf out;
  bool wide = false;
  for (std::size_t col : index.columns) {
    const Variant& v = values[col];
    if (v.IsClear()) return out;
    wide = wide || (v.Type() == VarType::String && HasNonAscii(v.RawString()));
  }
  if (!wide) return out;
  for (std::size_t col : index.columns) {
    const Variant& v = values[col];
    std::string part = KeyPart(v);
    if (v.Type() == VarType::String) {
      out.entry = out.entry || FoldsBeyondAscii(v.RawString(), part);
      out.folded.emplace_back(part);
    } else {
      out.folded.push_back(v);
    }
    out.key += std::to_string(part.size()) + ":" + part;
  }
  return out;
}

// The values of the record with row key `rid`; False when it is gone.
bool ReadRecord(TABSTable::Impl& t, std::int64_t rid, std::vector<Variant>& values) {
  sqlite3_stmt* stmt = t.conn->Prepare("SELECT " + t.selectList + " FROM " + t.quoted + " WHERE " + t.rowid + "=?1");
  StatementScope scope(stmt);
  sqlite3_bind_int64(stmt, 1, rid);
  values.clear();
  if (t.conn->Step(stmt, "Cannot read") != SQLITE_ROW) return false;
  DecodeRow(stmt, t.columns, values);
  return true;
}

// The record that holds `key` in vez$keys, other than `self`: its row key, or 0. An entry whose record is gone or
// no longer folds to the key (changed by another program) does not count.
std::int64_t EntryOwner(TABSTable::Impl& t, const Index& index, const std::string& key, std::int64_t self) {
  sqlite3_stmt* stmt = t.conn->Prepare("SELECT rid FROM " + KeysTable() + " WHERE tbl=?1 AND idx=?2 AND key=?3");
  std::int64_t rid = 0;
  {
    StatementScope scope(stmt);
    BindText(stmt, 1, t.name);
    BindText(stmt, 2, index.name);
    BindText(stmt, 3, key);
    if (t.conn->Step(stmt, "Cannot read") == SQLITE_ROW) rid = sqlite3_column_int64(stmt, 0);
  }
  if (rid == 0 || rid == self) return 0;
  std::vector<Variant> values;
  return ReadRecord(t, rid, values) && FoldedKey(index, values).key == key ? rid : 0;
}

// The record other than `self` whose key equals the folded key in the index (NOCASE): its row key, or 0.
std::int64_t IndexOwner(TABSTable::Impl& t, const Index& index, const FoldedKeyOf& folded, std::int64_t self) {
  std::string sql = "SELECT " + t.rowid + " FROM " + t.quoted + " WHERE ";
  for (std::size_t i = 0; i < index.columns.size(); ++i) {
    sql += ColumnTerm(t.columns[index.columns[i]].name, index.options) + " = ?" + std::to_string(i + 1) + " AND ";
  }
  sqlite3_stmt* stmt = t.conn->Prepare(sql + t.rowid + " IS NOT ?" + std::to_string(index.columns.size() + 1) + " LIMIT 1");
  StatementScope scope(stmt);
  for (std::size_t i = 0; i < index.columns.size(); ++i) {
    t.Bind(stmt, static_cast<int>(i + 1), folded.folded[i], index.columns[i]);
  }
  sqlite3_bind_int64(stmt, static_cast<int>(index.columns.size() + 1), self);
  return t.conn->Step(stmt, "Cannot read") == SQLITE_ROW ? sqlite3_column_int64(stmt, 0) : 0;
}

// The record other than `self` whose key folds as `folded` does: its row key, or 0.
std::int64_t FoldedOwner(TABSTable::Impl& t, std::size_t i, const FoldedKeyOf& folded, std::int64_t self) {
  const Index& index = *t.folded[i];
  if (t.foldEntries[i]) {
    if (const std::int64_t rid = EntryOwner(t, index, folded.key, self)) return rid;
  }
  return folded.entry ? IndexOwner(t, index, folded, self) : 0;
}

// Whether FindKey found `key` of folded index `i` in no record, with nothing written since (see Impl::absent).
bool StillAbsent(TABSTable::Impl& t, std::size_t i, const std::string& key) {
  const Connection& c = *t.conn;
  return t.absent.index == t.folded[i] && c.InTransaction() && t.absent.transaction == c.Transactions() &&
         t.absent.changes == sqlite3_total_changes64(c.Handle()) && t.absent.key == key;
}

// Runs one statement of the kept keys with its table, index, key and row key bound as ?1..?4.
void RunKeyStatement(TABSTable::Impl& t, const std::string& sql, const Index& index, const std::string& key,
                     std::int64_t rid) {
  sqlite3_stmt* stmt = t.conn->Prepare(sql);
  StatementScope scope(stmt);
  BindText(stmt, 1, t.name);
  BindText(stmt, 2, index.name);
  BindText(stmt, 3, key);
  sqlite3_bind_int64(stmt, 4, rid);
  t.conn->Step(stmt, "Cannot write to");
}

void WriteKey(TABSTable::Impl& t, const Index& index, const std::string& key, std::int64_t rid) {
  RunKeyStatement(t, "INSERT OR REPLACE INTO " + KeysTable() + "(tbl, idx, key, rid) VALUES(?1, ?2, ?3, ?4)", index,
                  key, rid);
}

void DropKey(TABSTable::Impl& t, const Index& index, const std::string& key, std::int64_t rid) {
  RunKeyStatement(t, "DELETE FROM " + KeysTable() + " WHERE tbl=?1 AND idx=?2 AND key=?3 AND rid=?4", index, key, rid);
}

std::string KeyText(const Index& index, const std::vector<Variant>& values) {
  std::string text;
  for (std::size_t i = 0; i < index.columns.size(); ++i) {
    const Variant& v = values[index.columns[i]];
    text += (i > 0 ? ";" : "") + (v.IsClear() ? std::string() : v.AsString());
  }
  return text;
}

[[noreturn]] void FailFoldedKey(TABSTable::Impl& t, const Index& index, const std::vector<Variant>& values) {
  throw EDatabaseError(Format("Key violation in table '%s': index '%s' already holds the key '%s'", t.name,
                              index.name, KeyText(index, values)));
}

// Records that the folded keys cover the records up to row key `key` (the table's counter of the field "").
// Inside a transaction the table keeps the transaction's counter, as for the auto-increment fields.
void MoveKeysCovered(TABSTable::Impl& t, std::int64_t key) {
  Connection& c = *t.conn;
  if (!c.InTransaction()) {
    if (key > c.Counter(t.name, "")) c.SetCounter(t.name, "", key);
    return;
  }
  if (t.coveredTransaction != c.Transactions()) {
    t.covered = &c.TransactionCounter(t.name, "");
    t.coveredTransaction = c.Transactions();
  }
  if (key > t.covered->last) {
    t.covered->last = key;
    t.covered->dirty = true;
  }
}

// Gives the records that have no entries in vez$keys yet theirs (those after the highest row key covered) and
// learns which indexes have entries. Run before every write; inside a transaction, which holds the write lock, once.
void EnsureFoldedKeys(TABSTable::Impl& t) {
  Connection& c = *t.conn;
  if (t.folded.empty() || (t.foldReady && c.InTransaction() && t.foldSerial == c.Transactions())) return;
  std::unique_ptr<WriteScope> write;
  if (!c.InTransaction()) write = std::make_unique<WriteScope>(c);
  c.EnsureBookkeeping();
  t.foldEntries.assign(t.folded.size(), false);
  for (std::size_t i = 0; i < t.folded.size(); ++i) {
    sqlite3_stmt* stmt = c.Prepare("SELECT 1 FROM " + KeysTable() + " WHERE tbl=?1 AND idx=?2 LIMIT 1");
    StatementScope scope(stmt);
    BindText(stmt, 1, t.name);
    BindText(stmt, 2, t.folded[i]->name);
    t.foldEntries[i] = c.Step(stmt, "Cannot read") == SQLITE_ROW;
  }
  const std::int64_t covered = c.Counter(t.name, "");
  sqlite3_stmt* rows =
      c.Prepare("SELECT " + t.selectList + " FROM " + t.quoted + " WHERE " + t.rowid + " > ?1 ORDER BY " + t.rowid);
  std::int64_t last = covered;
  {
    StatementScope scope(rows);
    sqlite3_bind_int64(rows, 1, covered);
    std::vector<Variant> values;
    while (c.Step(rows, "Cannot read") == SQLITE_ROW) {
      values.clear();
      DecodeRow(rows, t.columns, values);
      last = sqlite3_column_int64(rows, 0);
      for (std::size_t i = 0; i < t.folded.size(); ++i) {
        const FoldedKeyOf key = FoldedKey(*t.folded[i], values);
        if (!key.entry || EntryOwner(t, *t.folded[i], key.key, last) != 0) continue;
        WriteKey(t, *t.folded[i], key.key, last);
        t.foldEntries[i] = true;
      }
    }
  }
  if (last > covered) c.SetCounter(t.name, "", last);
  if (write) write->Commit();
  t.foldReady = true;
  t.foldSerial = c.Transactions();
}

}  // namespace

std::int64_t TABSTable::DoInsert(std::vector<Variant>& values) {
  Impl& t = *impl_;
  Connection& c = *t.conn;
  c.CheckTransaction();
  if (t.insert == nullptr) {
    std::string sql = "INSERT INTO " + t.quoted + " (";
    std::string params;
    for (std::size_t i = 0; i < t.columns.size(); ++i) {
      sql += (i > 0 ? ", " : "") + QuoteIdent(t.columns[i].name);
      params += (i > 0 ? ", ?" : "?") + std::to_string(i + 1);
    }
    t.insert = c.Prepare(sql + ") VALUES(" + params + ")");
  }
  EnsureFoldedKeys(t);
  std::vector<std::pair<std::size_t, std::string>> entries;  // folded index, key
  for (std::size_t i = 0; i < t.folded.size(); ++i) {
    FoldedKeyOf key = FoldedKey(*t.folded[i], values);
    if (key.key.empty()) continue;
    if (!StillAbsent(t, i, key.key) && FoldedOwner(t, i, key, 0) != 0) FailFoldedKey(t, *t.folded[i], values);
    if (key.entry) entries.emplace_back(i, std::move(key.key));
  }
  std::optional<WriteScope> write;
  if ((!t.autoInc.empty() || !t.folded.empty()) && !c.InTransaction()) write.emplace(c);
  // Auto-increment numbers: the next one for an empty field; a given number is kept and moves the counter.
  for (Impl::AutoInc& a : t.autoInc) {
    a.next = 0;
    a.assigned = false;
  }
  try {
    for (Impl::AutoInc& a : t.autoInc) {
      const std::int64_t last = LastAutoIncNumber(t, a);
      Variant& value = values[a.column];
      if (value.IsClear()) {
        value = Variant(static_cast<long long>(last + 1));
        a.next = last + 1;
        a.assigned = true;
      } else if (value.AsInteger() > last) {
        a.next = value.AsInteger();
      }
    }
    {
      StatementScope scope(t.insert, false);
      for (std::size_t i = 0; i < t.columns.size(); ++i) t.Bind(t.insert, static_cast<int>(i + 1), values[i], i);
      StepWrite(t, t.insert, t.name, values, 0);
    }
    const std::int64_t key = sqlite3_last_insert_rowid(c.Handle());
    for (const auto& [i, folded] : entries) {
      WriteKey(t, *t.folded[i], folded, key);
      t.foldEntries[i] = true;
    }
    if (!t.folded.empty()) MoveKeysCovered(t, key);
    for (Impl::AutoInc& a : t.autoInc) {
      if (a.next != 0) MoveCounter(t, a, a.next);
    }
    if (write) write->Commit();
    return key;
  } catch (...) {
    // A failed insert gives no number out: the numbers it assigned are taken back.
    for (const Impl::AutoInc& a : t.autoInc) {
      if (a.assigned) values[a.column] = Variant::Null();
    }
    throw;
  }
}

void TABSTable::DoUpdate(std::int64_t key, std::vector<Variant>& values) {
  Impl& t = *impl_;
  Connection& c = *t.conn;
  c.CheckTransaction();
  if (t.update == nullptr) {
    std::string sql = "UPDATE " + t.quoted + " SET ";
    for (std::size_t i = 0; i < t.columns.size(); ++i) {
      sql += (i > 0 ? ", " : "") + QuoteIdent(t.columns[i].name) + "=?" + std::to_string(i + 1);
    }
    t.update = c.Prepare(sql + " WHERE " + t.rowid + "=?" + std::to_string(t.columns.size() + 1));
  }
  EnsureFoldedKeys(t);
  for (std::size_t i = 0; i < t.folded.size(); ++i) {
    const FoldedKeyOf folded = FoldedKey(*t.folded[i], values);
    if (!folded.key.empty() && FoldedOwner(t, i, folded, key) != 0) FailFoldedKey(t, *t.folded[i], values);
  }
  std::optional<WriteScope> write;
  if ((!t.autoInc.empty() || !t.folded.empty()) && !c.InTransaction()) write.emplace(c);
  for (Impl::AutoInc& a : t.autoInc) {
    a.next = 0;
    const Variant& value = values[a.column];
    if (!value.IsClear() && value.AsInteger() > c.Counter(t.name, t.columns[a.column].name)) a.next = value.AsInteger();
  }
  std::vector<Variant> before;
  if (!t.folded.empty()) ReadRecord(t, key, before);
  {
    StatementScope scope(t.update, false);
    for (std::size_t i = 0; i < t.columns.size(); ++i) t.Bind(t.update, static_cast<int>(i + 1), values[i], i);
    sqlite3_bind_int64(t.update, static_cast<int>(t.columns.size() + 1), key);
    StepWrite(t, t.update, t.name, values, key);
  }
  if (sqlite3_changes(c.Handle()) == 0) {
    throw EDatabaseError(Format("Table '%s': the record was deleted by another program", t.name));
  }
  for (std::size_t i = 0; i < t.folded.size(); ++i) {
    const FoldedKeyOf old = before.empty() ? FoldedKeyOf{} : FoldedKey(*t.folded[i], before);
    const FoldedKeyOf now = FoldedKey(*t.folded[i], values);
    if (old.entry == now.entry && old.key == now.key) continue;
    if (old.entry) DropKey(t, *t.folded[i], old.key, key);
    if (now.entry) {
      WriteKey(t, *t.folded[i], now.key, key);
      t.foldEntries[i] = true;
    }
  }
  for (Impl::AutoInc& a : t.autoInc) {
    if (a.next != 0) MoveCounter(t, a, a.next);
  }
  if (write) write->Commit();
}

void TABSTable::DoDelete(std::int64_t key) {
  Impl& t = *impl_;
  Connection& c = *t.conn;
  c.CheckTransaction();
  EnsureFoldedKeys(t);
  std::unique_ptr<WriteScope> write;
  std::vector<Variant> before;
  if (!t.folded.empty()) {
    if (!c.InTransaction()) write = std::make_unique<WriteScope>(c);
    if (ReadRecord(t, key, before)) {
      for (const Index* index : t.folded) {
        const FoldedKeyOf old = FoldedKey(*index, before);
        if (old.entry) DropKey(t, *index, old.key, key);
      }
    }
  }
  sqlite3_stmt* stmt = c.Prepare("DELETE FROM " + t.quoted + " WHERE " + t.rowid + "=?1");
  {
    StatementScope scope(stmt);
    sqlite3_bind_int64(stmt, 1, key);
    c.Step(stmt, Format("Cannot delete from table '%s' in", t.name));
  }
  if (write) write->Commit();
}

void TABSTable::SetIndexName(std::string_view indexName) {
  if (!Active()) {
    indexName_ = std::string(indexName);
    return;
  }
  CheckBrowseable();
  const Impl::Index* index = nullptr;
  if (!indexName.empty()) {
    index = impl_->FindIndex(indexName);
    if (index == nullptr) throw EDatabaseError(Format("Index '%s' not found in table '%s'", indexName, tableName_));
  }
  impl_->order = index;
  indexName_ = index != nullptr ? index->name : std::string();
  ResetCursor();
  First();
}

bool TABSTable::FindKey(const std::vector<Variant>& keys) {
  CheckBrowseable();
  Impl& t = *impl_;
  const Impl::Index* index = t.order;
  if (index == nullptr) {
    for (const Impl::Index& candidate : t.indexes) {
      if ((candidate.options & ixPrimary) != 0) index = &candidate;
    }
  }
  if (index == nullptr) throw EDatabaseError(Format("Table '%s' has no index to search", tableName_));
  if (keys.empty() || keys.size() > index->columns.size()) {
    throw EDatabaseError(Format("FindKey on index '%s' of table '%s': %d key values for %d fields", index->name,
                                tableName_, keys.size(), index->columns.size()));
  }
  sqlite3_stmt*& stmt = t.find[{index, keys.size()}];
  if (stmt == nullptr) {
    std::string sql = "SELECT " + t.selectList + " FROM " + t.quoted + " WHERE ";
    for (std::size_t i = 0; i < keys.size(); ++i) {
      if (i > 0) sql += " AND ";
      sql += ColumnTerm(t.columns[index->columns[i]].name, index->options) + " IS ?" + std::to_string(i + 1);
    }
    stmt = t.conn->Prepare(sql + " ORDER BY " + index->orderBy + " LIMIT 1");
  }
  StatementScope scope(stmt);
  std::vector<Variant> bound;  // bound text stays alive until the statement has run
  bound.reserve(keys.size());
  for (std::size_t i = 0; i < keys.size(); ++i) {
    const std::size_t col = index->columns[i];
    bound.push_back(NormalizeForField(Fields(static_cast<int>(col)), keys[i]));
    t.Bind(stmt, static_cast<int>(i + 1), bound.back(), col);
  }
  if (t.conn->Step(stmt, "Cannot read") != SQLITE_ROW) {
    // A key beyond ASCII is found by its folded form ("ÄTHER" finds "Äther").
    const auto at = std::find(t.folded.begin(), t.folded.end(), index);
    if (keys.size() != index->columns.size() || at == t.folded.end()) return false;
    std::vector<Variant> values(t.columns.size(), Variant::Null());
    for (std::size_t i = 0; i < keys.size(); ++i) values[index->columns[i]] = bound[i];
    FoldedKeyOf folded = FoldedKey(*index, values);
    if (folded.key.empty()) return false;
    Connection& c = *t.conn;
    // Inside a transaction whose entries are complete the table knows whether vez$keys holds any of this index.
    const bool known = t.foldReady && c.InTransaction() && t.foldSerial == c.Transactions();
    const bool entries = known ? t.foldEntries[static_cast<std::size_t>(at - t.folded.begin())] : HasKeysTable(c);
    std::int64_t rid = entries ? EntryOwner(t, *index, folded.key, 0) : 0;
    if (rid == 0 && folded.entry) rid = IndexOwner(t, *index, folded, 0);
    if (rid == 0 && c.InTransaction())
      t.absent = {index, std::move(folded.key), c.Transactions(), sqlite3_total_changes64(c.Handle())};
    Row row;
    if (rid == 0 || !ReadRecord(t, rid, row.Values)) return false;
    row.Key = rid;
    PositionOn(std::move(row));
    return true;
  }
  Row row;
  row.Key = sqlite3_column_int64(stmt, 0);
  DecodeRow(stmt, t.columns, row.Values);
  PositionOn(std::move(row));
  return true;
}

void TABSTable::ScanRecords(const std::vector<std::string>& fields,
                            const std::function<bool(const std::vector<Variant>&)>& each) {
  if (State() == TDataSetState::dsEdit || State() == TDataSetState::dsInsert) Post();
  TABSDatabase& db = Database();
  ConnectionUse c(db, &TABSDatabase::Acquire, &TABSDatabase::Release);
  const std::string stored = StoredTableName(*c, tableName_);
  if (stored.empty()) throw EDatabaseError(Format("Table '%s' does not exist in \"%s\"", tableName_, c->FileName()));
  const StoredDefinitions defs = ReadStoredDefinitions(*c, stored);
  std::string sql = "SELECT ";
  std::vector<TFieldType> types;
  for (const std::string& name : fields) {
    const auto it = std::find_if(defs.classic.begin(), defs.classic.end(),
                                 [&](const TFieldDef& f) { return SameTextFolded(f.Name, name); });
    if (it == defs.classic.end()) throw EDatabaseError(Format("Field '%s' not found", name));
    sql += (types.empty() ? "" : ", ") + QuoteIdent(it->Name);
    types.push_back(it->DataType);
  }
  const std::string rowid = RowKeyName(defs.classic, stored);
  if (fields.empty()) sql += rowid;
  sqlite3_stmt* stmt = c->Prepare(sql + " FROM " + QuoteIdent(stored) + " ORDER BY " + rowid);
  StatementScope scope(stmt);
  std::vector<Variant> values;
  values.reserve(fields.size());
  while (c->Step(stmt, "Cannot read") == SQLITE_ROW) {
    values.clear();
    for (std::size_t i = 0; i < fields.size(); ++i) AppendValue(stmt, static_cast<int>(i), types[i], values);
    if (!each(values)) return;
  }
}

}  // namespace vez

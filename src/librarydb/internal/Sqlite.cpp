#include "librarydb/internal/Sqlite.h"

#include <unistd.h>

#include <cerrno>

#include <filesystem>
#include <system_error>

#include "core/Exceptions.h"
#include "core/FormatSettings.h"
#include "librarydb/Absmain.h"

namespace vez::detail {

std::string QuoteIdent(std::string_view name) {
  std::string quoted;
  quoted.reserve(name.size() + 2);
  quoted += '"';
  for (char c : name) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  quoted += '"';
  return quoted;
}

bool IsReservedTableName(std::string_view name) {
  const std::string upper = UpperCase(name);
  return upper.rfind("SQLITE_", 0) == 0 || upper.rfind("VEZ$", 0) == 0;
}

namespace {

std::string Cause(int rc, sqlite3* db) {
  // A write that the file-size limit or the space of the disk stopped: SQLite calls it an I/O error unless the
  // write was partly done.
  if ((rc & 0xff) == SQLITE_IOERR && db) {
    const int error = sqlite3_system_errno(db);
    if (error == EFBIG || error == ENOSPC) return "the disk is full";
  }
  switch (rc & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED: return "the file is locked by another program";
    case SQLITE_NOTADB: return "the file is not a library database";
    case SQLITE_READONLY: return "the file is read-only";
    case SQLITE_CANTOPEN: return "the file cannot be opened";
    case SQLITE_FULL: return "the disk is full";
    case SQLITE_CORRUPT: return "the file is damaged";
    default: break;
  }
  return db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
}

// Whether the file may be written: the permission bits bind everybody here, the superuser too, so a file made
// read-only is left alone.
bool Writable(const std::string& fileName) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::perms p = fs::status(fileName, ec).permissions();
  if (ec) return false;
  if ((p & (fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write)) == fs::perms::none) return false;
  return ::access(fileName.c_str(), W_OK) == 0;
}

}  // namespace

Connection::Connection(std::string fileName, bool readOnly, int lockWaitSeconds, bool create)
    : fileName_(std::move(fileName)), readOnly_(readOnly && !create) {
  if (fileName_.empty()) throw EDatabaseError("The database has no file name");
  std::error_code ec;
  const bool exists = std::filesystem::exists(fileName_, ec);
  if (create && exists) {
    throw EDatabaseError(Format("Cannot create \"%s\": the file exists already", fileName_));
  }
  if (!create && !exists) {
    throw EDatabaseError(Format("Cannot open \"%s\": the file does not exist", fileName_));
  }
  if (!create && !std::filesystem::is_regular_file(fileName_, ec)) {
    throw EDatabaseError(Format("Cannot open \"%s\": it is not a file", fileName_));
  }
  if (!create && !readOnly_ && !Writable(fileName_)) {
    throw EDatabaseError(Format("Cannot open \"%s\" for writing: the file is read-only", fileName_));
  }
  // A write that was interrupted (a killed program) leaves a hot journal; SQLite rolls it back on the next
  // open that may write. A reader does that first when the file is writable, and says what is needed otherwise.
  if (!create && readOnly_ && std::filesystem::file_size(fileName_ + "-journal", ec) > 0 && !ec) {
    if (Writable(fileName_)) {
      sqlite3* recover = nullptr;
      if (sqlite3_open_v2(fileName_.c_str(), &recover, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK) {
        sqlite3_busy_timeout(recover, lockWaitSeconds > 0 ? lockWaitSeconds * 1000 : 0);
        sqlite3_exec(recover, "SELECT count(*) FROM sqlite_master", nullptr, nullptr, nullptr);
      }
      sqlite3_close_v2(recover);
    } else {
      throw EDatabaseError(Format("Cannot open \"%s\": an interrupted write must be rolled back first; open the file "
                                  "once with write access",
                                  fileName_));
    }
  }
  int flags = readOnly_ ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE;
  if (create) flags |= SQLITE_OPEN_CREATE;
  flags |= SQLITE_OPEN_NOMUTEX;
  sqlite3* raw = nullptr;
  const int rc = sqlite3_open_v2(fileName_.c_str(), &raw, flags, nullptr);
  db_.reset(raw);
  if (rc != SQLITE_OK) Fail("Cannot open", rc);
  sqlite3_extended_result_codes(raw, 1);
  sqlite3_busy_timeout(raw, lockWaitSeconds > 0 ? lockWaitSeconds * 1000 : 0);
  // Reading the schema tells a database from any other file.
  Exec("SELECT count(*) FROM sqlite_master", "Cannot open");
  if (!readOnly_) {
    // Library folders may lie on network shares: rollback journal (no WAL), every commit synced.
    Exec("PRAGMA journal_mode=DELETE", "Cannot open");
    Exec("PRAGMA synchronous=FULL", "Cannot open");
    // A page cache of 16 MB (SQLite's default is 2 MB) lets a large transaction (a conversion, an import) keep
    // its pages until the commit instead of spilling them to the file, with a journal sync each time.
    Exec("PRAGMA cache_size=-16384", "Cannot open");
  }
  if (create) EnsureBookkeeping();
}

Connection::~Connection() {
  if (inTransaction_) Rollback();
}

void Connection::Fail(std::string_view what, int rc) const {
  const std::string cause = Cause(rc, db_.get());
  if (TransactionLost()) {
    // SQLite rolled the whole transaction back: every change since Begin is gone, not only this one.
    if (lostCause_.empty()) lostCause_ = cause;
    throw ETransactionLost(Format("%s \"%s\": %s; the transaction was rolled back, nothing of it is stored", what,
                                  fileName_, cause));
  }
  throw EDatabaseError(Format("%s \"%s\": %s", what, fileName_, cause));
}

void Connection::FailLost() const {
  if (lostCause_.empty()) lostCause_ = "a write failed";
  throw ETransactionLost(Format("The transaction on \"%s\" was rolled back (%s): nothing of it is stored, and "
                                "nothing more is written until it is rolled back",
                                fileName_, lostCause_));
}

sqlite3_stmt* Connection::Prepare(const std::string& sql) {
  auto it = statements_.find(sql);
  if (it != statements_.end()) return it->second.get();
  sqlite3_stmt* stmt = nullptr;
  const int rc = sqlite3_prepare_v3(db_.get(), sql.c_str(), static_cast<int>(sql.size() + 1),
                                    SQLITE_PREPARE_PERSISTENT, &stmt, nullptr);
  if (rc != SQLITE_OK) {
    sqlite3_finalize(stmt);
    Fail("Cannot read", rc);
  }
  statements_.emplace(sql, std::unique_ptr<sqlite3_stmt, Finalize>(stmt));
  return stmt;
}

void Connection::Exec(const std::string& sql, std::string_view what) {
  char* message = nullptr;
  const int rc = sqlite3_exec(db_.get(), sql.c_str(), nullptr, nullptr, &message);
  sqlite3_free(message);
  if (rc != SQLITE_OK) Fail(what, rc);
}

int Connection::Step(sqlite3_stmt* stmt, std::string_view what) {
  const int rc = sqlite3_step(stmt);
  if (rc == SQLITE_ROW || rc == SQLITE_DONE) return rc;
  Fail(what, rc);
}

bool Connection::HasBookkeeping() {
  sqlite3_stmt* stmt = Prepare("SELECT count(*) FROM sqlite_master WHERE type='table' AND name=?1");
  StatementScope scope(stmt);
  sqlite3_bind_text(stmt, 1, kFieldsTable, -1, SQLITE_STATIC);
  Step(stmt, "Cannot read");
  return sqlite3_column_int(stmt, 0) > 0;
}

void Connection::EnsureBookkeeping() {
  {
    sqlite3_stmt* stmt = Prepare("SELECT count(*) FROM sqlite_master WHERE type='table' AND name IN (?1, ?2, ?3, ?4)");
    StatementScope scope(stmt);
    int n = 0;
    for (const char* name : {kFieldsTable, kIndexesTable, kCountersTable, kKeysTable})
      sqlite3_bind_text(stmt, ++n, name, -1, SQLITE_STATIC);
    Step(stmt, "Cannot read");
    if (sqlite3_column_int(stmt, 0) == 4) return;
  }
  if (readOnly_) Fail("Cannot write to", SQLITE_READONLY);
  CheckTransaction();
  // One savepoint around the three tables: one commit (and one round of syncs) instead of three, inside a
  // running transaction as outside one.
  Exec("SAVEPOINT vez_bookkeeping", "Cannot write to");
  try {
    Exec(std::string("CREATE TABLE IF NOT EXISTS ") + QuoteIdent(kFieldsTable) +
             "(tbl TEXT NOT NULL, pos INTEGER NOT NULL, name TEXT NOT NULL, field_type INTEGER NOT NULL,"
             " engine_type INTEGER NOT NULL, size INTEGER NOT NULL, required INTEGER NOT NULL,"
             " compression INTEGER NOT NULL, compression_level INTEGER NOT NULL, PRIMARY KEY(tbl, pos));"
             "CREATE TABLE IF NOT EXISTS " +
             QuoteIdent(kIndexesTable) +
             "(tbl TEXT NOT NULL, pos INTEGER NOT NULL, name TEXT NOT NULL, fields TEXT NOT NULL,"
             " options INTEGER NOT NULL, PRIMARY KEY(tbl, pos));"
             "CREATE TABLE IF NOT EXISTS " +
             QuoteIdent(kCountersTable) +
             "(tbl TEXT NOT NULL, field TEXT NOT NULL, last INTEGER NOT NULL, PRIMARY KEY(tbl, field));"
             "CREATE TABLE IF NOT EXISTS " +
             QuoteIdent(kKeysTable) +
             "(tbl TEXT NOT NULL, idx TEXT NOT NULL, key TEXT NOT NULL, rid INTEGER NOT NULL,"
             " PRIMARY KEY(tbl, idx, key)) WITHOUT ROWID;",
         "Cannot write to");
  } catch (...) {
    sqlite3_exec(db_.get(), "ROLLBACK TO vez_bookkeeping; RELEASE vez_bookkeeping", nullptr, nullptr, nullptr);
    throw;
  }
  Exec("RELEASE vez_bookkeeping", "Cannot write to");
}

void Connection::Begin() {
  if (inTransaction_) throw EDatabaseError(Format("A transaction is already running on \"%s\"", fileName_));
  if (readOnly_) Fail("Cannot write to", SQLITE_READONLY);
  if (reading_) EndReadTransaction();
  Exec("BEGIN IMMEDIATE", "Cannot start a transaction on");
  inTransaction_ = true;
  ++transactions_;
  lostCause_.clear();
}

void Connection::Commit() {
  if (!inTransaction_) throw EDatabaseError(Format("No transaction is running on \"%s\"", fileName_));
  try {
    CheckTransaction();
    for (auto& [key, state] : counters_) {
      if (state.dirty) WriteCounter(key.first, key.second, state.last);
    }
    const int rc = sqlite3_exec(db_.get(), "COMMIT", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) {
      const std::string cause = Cause(rc, db_.get());
      Rollback();
      throw ETransactionLost(
          Format("Cannot commit to \"%s\": %s; the transaction was rolled back, nothing of it is stored", fileName_,
                 cause));
    }
  } catch (...) {
    // A commit that fails leaves the file as it was before the transaction, and ends the transaction.
    Rollback();
    throw;
  }
  inTransaction_ = false;
  counters_.clear();
}

void Connection::Rollback() noexcept {
  if (!inTransaction_) return;
  if (sqlite3_get_autocommit(db_.get()) == 0) sqlite3_exec(db_.get(), "ROLLBACK", nullptr, nullptr, nullptr);
  inTransaction_ = false;
  counters_.clear();
}

void Connection::BeginRead() {
  if (readScopes_ == 0 && !inTransaction_) {
    // A deferred BEGIN takes no lock; the data_version that follows takes the shared lock, and with it the
    // state of the file every read of the run sees. BEGIN and COMMIT are prepared once: the cursor runs one
    // read transaction for each window of keys it loads.
    if (commitRead_ == nullptr) commitRead_ = Prepare("COMMIT");
    {
      sqlite3_stmt* begin = Prepare("BEGIN");
      StatementScope scope(begin);
      Step(begin, "Cannot read");
    }
    try {
      sqlite3_stmt* stmt = Prepare("PRAGMA data_version");
      StatementScope scope(stmt);
      Step(stmt, "Cannot read");
      readVersion_ = sqlite3_column_int64(stmt, 0);
    } catch (...) {
      sqlite3_exec(db_.get(), "ROLLBACK", nullptr, nullptr, nullptr);
      throw;
    }
    reading_ = true;
  }
  ++readScopes_;
}

bool Connection::EndRead() noexcept {
  if (readScopes_ == 0) return false;
  if (--readScopes_ == 0 && reading_) EndReadTransaction();
  return true;
}

void Connection::EndReadTransaction() noexcept {
  reading_ = false;
  // A transaction that only read has nothing to commit: its end releases the shared lock.
  if (sqlite3_get_autocommit(db_.get()) == 0) {
    const int rc = sqlite3_step(commitRead_);
    sqlite3_reset(commitRead_);
    if (rc != SQLITE_DONE) sqlite3_exec(db_.get(), "ROLLBACK", nullptr, nullptr, nullptr);
  }
}

std::int64_t Connection::DataVersion() {
  if (reading_) return readVersion_;
  sqlite3_stmt* stmt = Prepare("PRAGMA data_version");
  StatementScope scope(stmt);
  return Step(stmt, "Cannot read") == SQLITE_ROW ? sqlite3_column_int64(stmt, 0) : -1;
}

std::int64_t Connection::Counter(const std::string& table, const std::string& field) {
  if (inTransaction_) {
    auto it = counters_.find({table, field});
    if (it != counters_.end()) return it->second.last;
  }
  sqlite3_stmt* stmt = Prepare(std::string("SELECT last FROM ") + QuoteIdent(kCountersTable) +
                               " WHERE tbl=?1 AND field=?2");
  StatementScope scope(stmt);
  sqlite3_bind_text(stmt, 1, table.data(), static_cast<int>(table.size()), SQLITE_STATIC);
  sqlite3_bind_text(stmt, 2, field.data(), static_cast<int>(field.size()), SQLITE_STATIC);
  const std::int64_t last = Step(stmt, "Cannot read") == SQLITE_ROW ? sqlite3_column_int64(stmt, 0) : 0;
  if (inTransaction_) counters_[{table, field}] = CounterState{last, false};
  return last;
}

Connection::CounterState& Connection::TransactionCounter(const std::string& table, const std::string& field) {
  const auto it = counters_.find({table, field});
  if (it != counters_.end()) return it->second;
  const std::int64_t last = Counter(table, field);
  return counters_[{table, field}] = CounterState{last, false};
}

void Connection::SetCounter(const std::string& table, const std::string& field, std::int64_t last) {
  if (inTransaction_) {
    counters_[{table, field}] = CounterState{last, true};
    return;
  }
  WriteCounter(table, field, last);
}

void Connection::WriteCounter(const std::string& table, const std::string& field, std::int64_t last) {
  CheckTransaction();
  sqlite3_stmt* stmt = Prepare(std::string("INSERT INTO ") + QuoteIdent(kCountersTable) +
                               "(tbl, field, last) VALUES(?1, ?2, ?3) ON CONFLICT(tbl, field) DO UPDATE SET"
                               " last=excluded.last");
  StatementScope scope(stmt);
  sqlite3_bind_text(stmt, 1, table.data(), static_cast<int>(table.size()), SQLITE_STATIC);
  sqlite3_bind_text(stmt, 2, field.data(), static_cast<int>(field.size()), SQLITE_STATIC);
  sqlite3_bind_int64(stmt, 3, last);
  Step(stmt, "Cannot write to");
}

}  // namespace vez::detail

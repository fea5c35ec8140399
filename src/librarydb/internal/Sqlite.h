// The SQLite connection of a library file, shared by the tables of one database object.
//
// A connection owns its sqlite3 handle and a cache of prepared statements (finalized with the handle), knows
// whether an explicit transaction is running, and keeps the auto-increment counters of the tables while one
// runs (a transaction holds the write lock, so nobody else can move them; they are written at Commit).
//
// Outside an explicit transaction a run of reads may share one read transaction (BeginRead .. EndRead): SQLite
// then takes its shared lock, checks the file for changes and reads the schema cookie once for the run instead
// of once per statement, and every read sees the file as it was at BeginRead. A write ends that read
// transaction first and commits as it would outside it; the reads after it run one statement at a time.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

namespace vez::detail {

// The names of the engine's bookkeeping tables; never listed as tables of a library.
inline constexpr const char* kFieldsTable = "vez$fields";
inline constexpr const char* kIndexesTable = "vez$indexes";
inline constexpr const char* kCountersTable = "vez$autoinc";
inline constexpr const char* kKeysTable = "vez$keys";  // folded keys of unique case-insensitive indexes

// An SQL identifier in double quotes, inner quotes doubled.
std::string QuoteIdent(std::string_view name);
// Whether a table name belongs to SQLite or to the engine.
bool IsReservedTableName(std::string_view name);

// Resets a statement (and clears its bindings) at the end of a scope; never throws.
class StatementScope {
public:
  // A statement whose every parameter is bound before each step can keep its bindings (`clear` false).
  explicit StatementScope(sqlite3_stmt* stmt, bool clear = true) : stmt_(stmt), clear_(clear) {}
  ~StatementScope() {
    sqlite3_reset(stmt_);
    if (clear_) sqlite3_clear_bindings(stmt_);
  }
  StatementScope(const StatementScope&) = delete;
  StatementScope& operator=(const StatementScope&) = delete;

private:
  sqlite3_stmt* stmt_;
  bool clear_;
};

class Connection {
public:
  // Opens an existing file (create: makes it, and it must not exist). Raises EDatabaseError naming the file
  // for a missing, read-only (unless readOnly), locked or foreign file.
  Connection(std::string fileName, bool readOnly, int lockWaitSeconds, bool create);
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  sqlite3* Handle() const { return db_.get(); }
  const std::string& FileName() const { return fileName_; }
  bool ReadOnly() const { return readOnly_; }
  void SetLockWait(int seconds) { sqlite3_busy_timeout(db_.get(), seconds > 0 ? seconds * 1000 : 0); }

  // A cached prepared statement, reset and without bindings. Valid until the connection closes.
  sqlite3_stmt* Prepare(const std::string& sql);
  // Runs statements without results.
  void Exec(const std::string& sql, std::string_view what);
  // Steps a statement; SQLITE_ROW or SQLITE_DONE, anything else raises (with `what` in the message).
  int Step(sqlite3_stmt* stmt, std::string_view what);
  [[noreturn]] void Fail(std::string_view what, int rc) const;

  // Whether the bookkeeping tables exist; EnsureBookkeeping creates those that are missing (a file of an older
  // version lacks vez$keys).
  bool HasBookkeeping();
  void EnsureBookkeeping();

  // Explicit transactions. A failed Commit rolls the transaction back and ends it.
  void Begin();
  void Commit();
  void Rollback() noexcept;
  bool InTransaction() const { return inTransaction_; }
  // A number that tells the explicit transactions of this connection apart (counted up by Begin).
  std::uint64_t Transactions() const { return transactions_; }
  // Whether SQLite ended the running transaction on its own after a failed write (a full disk, an I/O error):
  // nothing of it will be stored, so every further write is refused until the caller rolls back.
  bool TransactionLost() const { return inTransaction_ && sqlite3_get_autocommit(db_.get()) != 0; }
  // Called before every write: ends a shared read transaction (the write takes its own locks and commits as
  // always), and raises ETransactionLost when TransactionLost.
  void CheckTransaction() {
    if (reading_) EndReadTransaction();
    if (TransactionLost()) FailLost();
  }

  // A run of reads in one read transaction (see above); calls nest, and inside an explicit transaction they
  // change nothing. BeginRead raises EDatabaseError when the file cannot be read (locked beyond the lock wait);
  // EndRead answers False when no BeginRead was left to end.
  void BeginRead();
  bool EndRead() noexcept;
  // SQLite's data_version of the file: a number that changes when another connection commits a change. Inside a
  // read transaction the one read when it began, else asked of SQLite.
  std::int64_t DataVersion();

  // The last number an auto-increment field has given out; SetCounter records a new one (at once outside a
  // transaction, at Commit inside one).
  std::int64_t Counter(const std::string& table, const std::string& field);
  // Whether the running transaction holds the counter already (read or set since it began).
  bool CounterKnown(const std::string& table, const std::string& field) const {
    return inTransaction_ && counters_.count({table, field}) > 0;
  }
  void SetCounter(const std::string& table, const std::string& field, std::int64_t last);

  // A counter held by the running transaction: set `last` and `dirty` to record a new number at Commit.
  struct CounterState {
    std::int64_t last = 0;
    bool dirty = false;
  };
  // The running transaction's counter of a field (read from the file the first time); the reference stays valid
  // until the transaction ends.
  CounterState& TransactionCounter(const std::string& table, const std::string& field);

private:
  struct CloseDb {
    void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
  };
  struct Finalize {
    void operator()(sqlite3_stmt* stmt) const { sqlite3_finalize(stmt); }
  };
  void WriteCounter(const std::string& table, const std::string& field, std::int64_t last);
  [[noreturn]] void FailLost() const;
  void EndReadTransaction() noexcept;

  std::string fileName_;
  bool readOnly_;
  std::unique_ptr<sqlite3, CloseDb> db_;  // declared first: closed after the statements are finalized
  std::map<std::string, std::unique_ptr<sqlite3_stmt, Finalize>> statements_;
  bool inTransaction_ = false;
  std::uint64_t transactions_ = 0;
  mutable std::string lostCause_;  // why the running transaction was lost, for the later messages
  std::map<std::pair<std::string, std::string>, CounterState> counters_;
  int readScopes_ = 0;          // BeginRead calls not yet ended
  bool reading_ = false;        // a read transaction of BeginRead is running
  std::int64_t readVersion_ = -1;  // the data_version it began with
  sqlite3_stmt* commitRead_ = nullptr;  // its end (a cached statement, prepared by the first BeginRead)
};

// A run of reads (Connection::BeginRead .. EndRead) for the length of a scope.
class ReadRun {
public:
  explicit ReadRun(Connection& c) : c_(c) { c_.BeginRead(); }
  ~ReadRun() { c_.EndRead(); }
  ReadRun(const ReadRun&) = delete;
  ReadRun& operator=(const ReadRun&) = delete;

private:
  Connection& c_;
};

}  // namespace vez::detail

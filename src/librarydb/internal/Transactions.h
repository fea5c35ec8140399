// Transactions: the explicit ones of a database object, the implicit one of a single write, and what a table
// keeps while one runs.
//
// A database's StartTransaction/Commit/Rollback hold its connection for the transaction's length. A write outside
// them is atomic on its own (WriteScope: its own transaction, or a savepoint inside an explicit one). A
// transaction holds the write lock, so a table may keep the auto-increment counters it read for the rest of
// it instead of asking the file for every record; a commit or rollback ends what it kept.
#pragma once

#include <sqlite3.h>

#include <cstdint>

#include "librarydb/Absmain.h"
#include "librarydb/internal/OpenTable.h"
#include "librarydb/internal/Sqlite.h"

namespace vez::detail {

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

// The last number an auto-increment field has given out: its counter, or the highest number in the table when
// another program inserted records without moving the counter. Inside a transaction the table is asked once and
// the table keeps the transaction's counter until the transaction ends (it holds the write lock, so nobody else
// can insert meanwhile).
std::int64_t LastAutoIncNumber(TABSTable::Impl& t, TABSTable::Impl::AutoInc& a);
// Records the new last number of an auto-increment field.
void MoveCounter(TABSTable::Impl& t, TABSTable::Impl::AutoInc& a, std::int64_t last);

}  // namespace vez::detail

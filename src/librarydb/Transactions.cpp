// Transactions of a database object, its runs of reads in one read transaction, and the auto-increment counters
// a table keeps while a transaction runs (see internal/Transactions.h).
#include "librarydb/internal/Transactions.h"

namespace vez {

using detail::Connection;

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

void TABSDatabase::StartReading() {
  Connection& c = Acquire();
  try {
    c.BeginRead();
  } catch (...) {
    Release();
    throw;
  }
}

void TABSDatabase::StopReading() noexcept {
  // A connection closed meanwhile ended the read transaction with it (a new one holds no run of reads).
  if (connection_ && connection_->EndRead()) Release();
}

namespace detail {

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

}  // namespace detail
}  // namespace vez

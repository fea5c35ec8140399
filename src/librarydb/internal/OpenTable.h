// The open table: what TABSTable holds between Open and Close (TABSTable::Impl). Its column layout, its
// indexes with their ORDER BY clauses, the statements it prepared on the connection, the auto-increment
// counters and the state of the kept folded keys that the running transaction lets it keep, and the windows
// and marks of a large table's cursor.
//
// The rooms of the table share it: the cursor (TableCursor.cpp) reads through it, the writes (TableWrites.cpp)
// store through it, the counters (Transactions.cpp) and the kept keys (KeptKeys.cpp) keep their state in it.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/FormatSettings.h"
#include "librarydb/Absmain.h"
#include "librarydb/internal/Columns.h"
#include "librarydb/internal/KeyWindows.h"
#include "librarydb/internal/Sqlite.h"
#include "librarydb/internal/StoredPages.h"

namespace vez {

struct TABSTable::Impl {
  using Column = detail::StoredColumn;
  using Row = TDataSet::Row;
  using Connection = detail::Connection;
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
    bool uniqueInFile = false;  // SQLite's index of it refuses duplicates (what the walks of its order rely on)
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
  std::vector<const Index*> folded;  // the unique case-insensitive indexes (see KeptKeys.h)
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

  // A large table's cursor (KeyWindows.h): the order keys of the window it was given last, the marks of each
  // order (nullptr: insertion order), the record count and whether the table is small, each kept while the file
  // is unchanged.
  std::vector<detail::OrderKey> window;
  std::map<const Index*, detail::OrderMarks> marks;
  detail::Freshness counted;
  std::int64_t count = 0;
  detail::Freshness sized;
  bool small = false;
  // In insertion order a window's keys and their records come from one range scan: the records of the window
  // given last, ahead[0..aheadRows), for the fetch of exactly those keys that follows (any other fetch, and any
  // write, drops them). The rows keep their room.
  std::vector<Row> ahead;
  std::size_t aheadRows = 0;
  // Windows in insertion order read from the file's pages (StoredPages.h): the table's reader, made for the
  // schema cookie `storedSchema` (null when the table or the file is not one it follows; tried again after a
  // change of the schema).
  std::unique_ptr<detail::StoredTable> stored;
  std::uint32_t storedSchema = 0;
  bool storedTried = false;
  std::uint64_t pageWindows = 0;  // windows read from the pages (for the tests: the fast way is taken)

  // FindKey's record found last, read in place, and its key values in their fields' forms (they stay alive
  // while the statement runs).
  Row found;
  std::vector<Variant> findKeys;

  void Bind(sqlite3_stmt* stmt, int index, const Variant& value, std::size_t col) const {
    detail::BindValue(stmt, index, value, columns[col].type, columns[col].blob);
  }

  const Index* FindIndex(std::string_view indexName) const {
    for (const Index& index : indexes) {
      if (SameText(index.name, indexName)) return &index;
    }
    return nullptr;
  }
};

namespace detail {

// The open table's state as the engine's tests look at it (the engine itself never uses this).
struct TableProbe {
  static const TABSTable::Impl* Of(const TABSTable& table) { return table.impl_.get(); }
};

}  // namespace detail

}  // namespace vez

// Windows of keys: how the cursor of a large table moves along an index without holding every key.
//
// A table whose row keys stay below kWholeKeys gives the cursor all its keys in the order of the current index
// at once, as it always has. A larger one gives a window of them: the first or last keys, the keys after or before
// a key the cursor holds (by key, on the index: each range of the order after a key is one index range), or the
// keys from a position. Positions are found with marks: every kMarkSpacing-th key of the order, made by one walk
// of the index alone and kept while nothing in the file changed (SQLite's data_version tells about other
// connections, the connection's count of changes and its transaction about its own writes); a position is then
// one mark and at most kMarkSpacing steps on the index away. The record count is kept the same way.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "librarydb/Absmain.h"

namespace vez::detail {

class Connection;

// Row keys up to which a table's cursor holds all keys (a vector of 64 KiB at most).
inline constexpr std::int64_t kWholeKeys = 8192;
// Keys between two marks.
inline constexpr std::int64_t kMarkSpacing = 128;

// A value as SQLite holds it in an index: bound back unchanged, so a range continues exactly where a key stands.
struct SqlValue {
  int type = SQLITE_NULL;
  std::int64_t integer = 0;
  double real = 0;
  std::string bytes;

  void Read(sqlite3_stmt* stmt, int col);
  void Bind(sqlite3_stmt* stmt, int index) const;
};

// A place in an order: the values of the order's fields and the row key.
struct OrderKey {
  std::vector<SqlValue> values;
  std::int64_t rowid = 0;
};

// What tells whether kept marks and counts still describe the file, as seen by one connection.
struct Freshness {
  std::int64_t dataVersion = -1;
  std::int64_t changes = -1;
  std::uint64_t transactions = 0;
  bool inTransaction = false;
  bool operator==(const Freshness&) const = default;
};
Freshness FreshnessOf(Connection& c);

// Every kMarkSpacing-th key of an order and the number of keys, with the freshness they were made at.
struct OrderMarks {
  Freshness made;
  std::int64_t total = 0;
  std::vector<OrderKey> keys;
};

// An order of a table: insertion order (no fields: the row key alone) or an index's fields.
struct KeyOrder {
  std::string table;               // quoted table name
  std::string rowid;               // the name of the row key
  std::vector<std::string> fields; // quoted field names, for reading the values
  std::vector<std::string> terms;  // the index's terms (with NOCASE in a case-insensitive one)
  bool unique = false;             // the index refuses two records with the same values
  bool caseInsensitive = false;    // its texts compare with NOCASE
};

// The records read with the keys of a walk: the table's select list (the row key and every column) and what
// takes each record, in the order of the keys, from the result column of its row key on.
struct WalkRecords {
  const std::string& selectList;
  std::function<void(sqlite3_stmt*, int)> take;
};

// Walks `order` forward (or backward) from just after (before) `from` (nullptr: from the first (last) key),
// passes `skip` keys and appends up to `want` keys to `out`, in the direction of travel; with `records`, reads
// the records of those keys in the same queries.
void WalkKeys(Connection& c, const KeyOrder& order, const OrderKey* from, bool forward, std::int64_t skip,
              std::int64_t want, std::vector<OrderKey>& out, const WalkRecords* records = nullptr);
// The order's key of the record with row key `rowid`; False when it is gone.
bool ReadOrderKey(Connection& c, const KeyOrder& order, std::int64_t rowid, OrderKey& out);
// Makes the marks of an order by one walk of its index (of the row keys in insertion order).
void MakeMarks(Connection& c, const KeyOrder& order, OrderMarks& marks);

}  // namespace vez::detail

// A table's records read straight from the pages of its library file, for the reads that pass over many records
// in the order they were added: the cursor's windows in insertion order and the conversion's check of a library.
//
// The library file is an SQLite database; its format (file header, table b-trees, records, overflow pages) is
// documented and stable. Reading the records here, rather than through a SELECT, skips SQLite's statement machine
// and decodes each value once, at a fraction of the cost. The pages are read through SQLite's own file handle and
// only while SQLite holds its shared lock on the file in a read transaction without writes of its own (no writer
// can change the file meanwhile, and no page of the file differs from what SQLite would read); the caller sees to
// that. Pages read are kept, a window of them, while the file's change counter stays the same.
//
// A value is given as the engine's column reading gives it from its field type (integers, Booleans, doubles, dates
// from their ISO-8601 text or a number, texts and bytes) when it is stored in the form the engine writes for that
// type. A value stored in any other form, a record that lacks a column, or a file this reader does not follow
// (another text encoding, a write-ahead log, a table without row ids, a damaged page) is reported as not
// understood, and the caller reads through SQL instead. Nothing read here is ever taken for more than it is.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/Variant.h"
#include "librarydb/Absmain.h"

namespace vez::detail {

// What a stored value becomes, from its field type.
enum class StoredKind { Integer, Boolean, Number, Date, Bytes };
StoredKind StoredKindOf(TFieldType type);

// The facts of the file header that the reading depends on, read through SQLite's handle of the main file.
struct StoredFile {
  sqlite3_file* handle = nullptr;
  std::uint32_t pageSize = 0;
  std::uint32_t usable = 0;        // the page size less the reserved bytes at the end of each page
  std::uint32_t pageCount = 0;
  std::uint32_t changeCounter = 0; // counted up by every transaction that changed the file
  std::uint32_t schemaCookie = 0;  // counted up by every change of a table's or an index's definition
};
// Reads the header of `db`'s main file; False when the file is not one this reader follows (not UTF-8, in
// write-ahead-log mode, an odd page size) or cannot be read.
bool ReadStoredFile(sqlite3* db, StoredFile& out);

// The columns of `table` in the order of its records (PRAGMA table_xinfo) and the one that is its row id (an
// INTEGER PRIMARY KEY, stored as NULL in the records; -1 for none). False for a table this reader does not follow:
// generated or hidden columns, a key of several columns (a table without row ids, or its key in an index), none.
bool ReadStoredColumns(sqlite3* db, const std::string& table, std::vector<std::string>& names, int& rowidColumn);

// The records of one table b-tree, walked in the order of their row ids.
class StoredTable {
public:
  // Each record: its row id, the values asked for (valid during the call) and whether each was stored in the form
  // of its kind. Answers False to stop the walk.
  using Each = std::function<bool(std::int64_t rowid, const std::vector<VariantView>& values, bool understood)>;

  // `root`: the b-tree's root page; `columns`: the record column of each value asked for, `kinds` what it becomes;
  // `rowidColumn`: the record column that is the row id (an INTEGER PRIMARY KEY, stored as NULL), -1 for none.
  StoredTable(std::uint32_t root, std::vector<int> columns, std::vector<StoredKind> kinds, int rowidColumn);
  ~StoredTable();
  StoredTable(const StoredTable&) = delete;
  StoredTable& operator=(const StoredTable&) = delete;

  // Walks the records whose row id is above `*after` (every record when `after` is null) until `each` stops it.
  // False when the pages are not as this reader follows them: what was handed out before may then be partial and
  // the caller reads through SQL instead. Pages kept from an earlier walk are used when `file` has the same change
  // counter, page size and page count as then. Exceptions of `each` pass through.
  bool Walk(const StoredFile& file, const std::int64_t* after, const Each& each);

private:
  class Reader;
  std::uint32_t root_;
  std::vector<int> columns_;
  std::vector<StoredKind> kinds_;
  int rowidColumn_;
  std::vector<std::uint8_t> window_;  // pages [first_, first_ + count_) as read from the file
  std::uint32_t first_ = 0, count_ = 0;
  StoredFile kept_;                   // the file the kept pages were read from
};

}  // namespace vez::detail

#include "convert/internal/StoredRecords.h"

#include <sqlite3.h>

#include <memory>

#include "core/FormatSettings.h"
#include "librarydb/internal/StoredPages.h"

namespace vez::detail {

namespace {

// Leaves the reading when the file is not as this reader follows it.
struct NotFollowed {};

void Check(bool ok) {
  if (!ok) throw NotFollowed{};
}

struct CloseDb {
  void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
struct Finalize {
  void operator()(sqlite3_stmt* st) const { sqlite3_finalize(st); }
};
using Statement = std::unique_ptr<sqlite3_stmt, Finalize>;

Statement Prepare(sqlite3* db, const std::string& sql) {
  sqlite3_stmt* st = nullptr;
  Check(sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) == SQLITE_OK);
  return Statement(st);
}

std::string Text(sqlite3_stmt* st, int col) {
  const auto* t = reinterpret_cast<const char*>(sqlite3_column_text(st, col));
  return t ? std::string(t, static_cast<std::size_t>(sqlite3_column_bytes(st, col))) : std::string();
}

}  // namespace

bool ReadStoredRecords(const std::string& file, const std::string& table, const std::vector<std::string>& fields,
                       const std::vector<TFieldType>& types,
                       const std::function<bool(const std::vector<VariantView>& values, bool understood)>& each) {
  sqlite3* raw = nullptr;
  const int opened = sqlite3_open_v2(file.c_str(), &raw, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr);
  std::unique_ptr<sqlite3, CloseDb> db(raw);
  if (opened != SQLITE_OK) return false;
  // The read transaction holds SQLite's shared lock on the file until the pages are read.
  if (sqlite3_exec(raw, "BEGIN", nullptr, nullptr, nullptr) != SQLITE_OK) return false;
  try {
    // The table of that name, or the only table of the file (as the engine finds it: a library file under a
    // passing name holds its table under the library's name).
    Statement find =
        Prepare(raw, "SELECT name, rootpage FROM sqlite_master WHERE type='table' AND name=?1 COLLATE NOCASE");
    sqlite3_bind_text(find.get(), 1, table.data(), static_cast<int>(table.size()), SQLITE_STATIC);
    if (sqlite3_step(find.get()) != SQLITE_ROW) {
      find = Prepare(raw, "SELECT name, rootpage, count(*) OVER () FROM sqlite_master WHERE type='table' AND "
                          "name NOT LIKE 'sqlite!_%' ESCAPE '!' AND name NOT LIKE 'vez$%'");
      Check(sqlite3_step(find.get()) == SQLITE_ROW && sqlite3_column_int(find.get(), 2) == 1);
    }
    const std::string stored = Text(find.get(), 0);
    const auto root = static_cast<std::uint32_t>(sqlite3_column_int64(find.get(), 1));
    find.reset();
    std::vector<std::string> names;
    int rowidColumn = -1;
    Check(ReadStoredColumns(raw, stored, names, rowidColumn));
    std::vector<int> columns;
    std::vector<StoredKind> kinds;
    for (std::size_t i = 0; i < fields.size(); ++i) {
      int column = -1;
      for (std::size_t c = 0; c < names.size() && column < 0; ++c)
        if (names[c] == fields[i]) column = static_cast<int>(c);
      for (std::size_t c = 0; c < names.size() && column < 0; ++c)
        if (SameText(names[c], fields[i])) column = static_cast<int>(c);
      Check(column >= 0);
      columns.push_back(column);
      kinds.push_back(StoredKindOf(types[i]));
    }
    StoredFile header;
    Check(ReadStoredFile(raw, header));
    StoredTable reader(root, std::move(columns), std::move(kinds), rowidColumn);
    Check(reader.Walk(header, nullptr, [&](std::int64_t, const std::vector<VariantView>& values, bool understood) {
      return each(values, understood);
    }));
  } catch (const NotFollowed&) {
    sqlite3_exec(raw, "ROLLBACK", nullptr, nullptr, nullptr);
    return false;
  } catch (...) {
    sqlite3_exec(raw, "ROLLBACK", nullptr, nullptr, nullptr);
    throw;
  }
  sqlite3_exec(raw, "ROLLBACK", nullptr, nullptr, nullptr);
  return true;
}

}  // namespace vez::detail

// The library type a library file records of itself, and the type of a library file from its name and that
// record (see LibraryFile.h).
#include <sqlite3.h>

#include <filesystem>
#include <memory>

#include "core/Exceptions.h"
#include "core/FormatSettings.h"
#include "librarydb/LibraryFile.h"
#include "librarydb/OVLibConst.h"

namespace vez {

namespace {

constexpr int kLockWaitMs = 5000;

struct CloseDb {
  void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
using Db = std::unique_ptr<sqlite3, CloseDb>;

// Opened for writing (SQLite opens a write-protected file read-only): a hot journal that a writer killed in a
// transaction left is rolled back, as every reader of the engine rolls it back; a read-only connection cannot read
// such a file at all, and its type would go unknown.
Db OpenFile(const std::string& path) {
  sqlite3* raw = nullptr;
  const int rc = sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READWRITE, nullptr);
  Db db(raw);
  if (rc != SQLITE_OK) throw EDatabaseError("Cannot open \"" + path + "\": " + (raw ? sqlite3_errmsg(raw) : "out of memory"));
  sqlite3_busy_timeout(raw, kLockWaitMs);
  return db;
}

// The first column of the first row of `sql` as text; "" when the query has no row or cannot run (a file
// without the table asked for).
std::string FirstText(sqlite3* db, const char* sql) {
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) != SQLITE_OK) return {};
  std::string text;
  if (sqlite3_step(stmt) == SQLITE_ROW && sqlite3_column_text(stmt, 0) != nullptr)
    text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
  sqlite3_finalize(stmt);
  return text;
}

std::string TypeText(std::int32_t type) {
  const char* name = LibTypeConstantName(type);
  return std::to_string(type) + (name ? std::string(" ") + name : std::string());
}

}  // namespace

std::int32_t RecordedLibType(const std::string& Path) {
  const Db db = OpenFile(Path);
  const std::string text = FirstText(db.get(), "SELECT value FROM \"vez$library\" WHERE key = 'type'");
  std::int32_t type = -1;
  if (text.empty() || !TryStrToInt(text, type) || LibTypeConstantName(type) == nullptr) return -1;
  return type;
}

void RecordLibType(const std::string& Path, std::int32_t LibType) {
  const char* name = LibTypeConstantName(LibType);
  if (name == nullptr) throw Exception("unknown library type " + std::to_string(LibType));
  const Db db = OpenFile(Path);
  const std::string sql =
      "BEGIN IMMEDIATE;"
      "CREATE TABLE IF NOT EXISTS \"vez$library\" (key TEXT PRIMARY KEY NOT NULL, value TEXT NOT NULL) WITHOUT ROWID;"
      "INSERT OR REPLACE INTO \"vez$library\" VALUES ('type', '" + std::to_string(LibType) + "'), ('type_name', '" +
      name + "');"
      "COMMIT;";
  if (sqlite3_exec(db.get(), sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) {
    const std::string why = sqlite3_errmsg(db.get());  // read before the rollback sets its own
    sqlite3_exec(db.get(), "ROLLBACK", nullptr, nullptr, nullptr);
    throw EDatabaseError("Cannot record the library type in \"" + Path + "\": " + why);
  }
}

std::int32_t LibTypeOfFile(const std::string& Path) {
  const std::string path = ResolveFileName(Path);
  const std::string file = ExtractFileName(path);
  const std::int32_t byName = GetLibType(file);
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) return byName;
  const std::int32_t recorded = RecordedLibType(path);
  if (recorded >= 0 && byName >= 0 && recorded != byName) {
    throw Exception("\"" + file + "\" records the library type " + TypeText(recorded) + ", but its name is that of " +
                    TypeText(byName) + "; give it a name of its own type, or one that names no type");
  }
  if (recorded >= 0) return recorded;
  if (byName >= 0) return byName;
  // A copy under a name of the user's: the table in it still bears the name of its type.
  const Db db = OpenFile(path);
  return GetLibType(FirstText(db.get(), "SELECT tbl FROM \"vez$fields\" LIMIT 1"));
}

}  // namespace vez

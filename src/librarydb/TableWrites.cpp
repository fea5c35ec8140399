// The open table's writes: insert, update and delete of one record, each atomic on its own outside a transaction,
// with the auto-increment numbers, the kept folded keys and key violations named by their index.
#include <algorithm>
#include <memory>
#include <optional>

#include "core/FormatSettings.h"
#include "librarydb/Absmain.h"
#include "librarydb/internal/Catalog.h"
#include "librarydb/internal/KeptKeys.h"
#include "librarydb/internal/OpenTable.h"
#include "librarydb/internal/Transactions.h"

namespace vez {

using detail::ColumnTerm;
using detail::Connection;
using detail::DropKey;
using detail::EnsureFoldedKeys;
using detail::FailFoldedKey;
using detail::FoldedKey;
using detail::FoldedKeyOf;
using detail::FoldedOwner;
using detail::Index;
using detail::LastAutoIncNumber;
using detail::MoveCounter;
using detail::MoveKeysCovered;
using detail::QuoteIdent;
using detail::ReadRecord;
using detail::StatementScope;
using detail::StillAbsent;
using detail::WriteKey;
using detail::WriteScope;

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

}  // namespace

std::int64_t TABSTable::DoInsert(std::vector<Variant>& values) {
  Impl& t = *impl_;
  Connection& c = *t.conn;
  c.CheckTransaction();
  t.aheadRows = 0;  // records read ahead may be the ones written
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
  t.aheadRows = 0;  // records read ahead may be the ones written
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
  t.aheadRows = 0;  // records read ahead may be the ones written
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

}  // namespace vez

// Kept keys: the folded keys of unique case-insensitive indexes in vez$keys (see internal/KeptKeys.h).
#include "librarydb/internal/KeptKeys.h"

#include <algorithm>
#include <memory>

#include "core/CaseFold.h"
#include "librarydb/internal/Catalog.h"
#include "librarydb/internal/Columns.h"
#include "librarydb/internal/Transactions.h"

namespace vez::detail {

namespace {

bool HasNonAscii(const std::string& text) {
  return std::any_of(text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0x80) != 0; });
}

// Whether folding changes a letter beyond ASCII ("Äther" yes, "äther" and "ÄTHER"'s ASCII letters no).
bool FoldsBeyondAscii(const std::string& text, const std::string& folded) {
  if (text.size() != folded.size()) return true;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i] >= 'A' && text[i] <= 'Z' ? static_cast<char>(text[i] + 32) : text[i];
    if (c != folded[i]) return true;
  }
  return false;
}

// The text of one key value, independent of the process format settings.
std::string KeyPart(const Variant& v) {
  switch (v.Type()) {
    case VarType::String: return FoldCase(v.RawString());
    case VarType::Double: return Format("%.17g", v.RawDouble());
    case VarType::DateTime: return DateTimeToISO(v.RawDateTime());
    case VarType::Boolean: return v.RawBool() ? "1" : "0";
    default: return v.AsString();
  }
}

}  // namespace

FoldedKeyOf FoldedKey(const Index& index, const std::vector<Variant>& values) {
  FoldedKeyOf out;
  bool wide = false;
  for (std::size_t col : index.columns) {
    const Variant& v = values[col];
    if (v.IsClear()) return out;
    wide = wide || (v.Type() == VarType::String && HasNonAscii(v.RawString()));
  }
  if (!wide) return out;
  for (std::size_t col : index.columns) {
    const Variant& v = values[col];
    std::string part = KeyPart(v);
    if (v.Type() == VarType::String) {
      out.entry = out.entry || FoldsBeyondAscii(v.RawString(), part);
      out.folded.emplace_back(part);
    } else {
      out.folded.push_back(v);
    }
    out.key += std::to_string(part.size()) + ":" + part;
  }
  return out;
}

// The values of the record with row key `rid`; False when it is gone.
bool ReadRecord(TABSTable::Impl& t, std::int64_t rid, std::vector<Variant>& values) {
  sqlite3_stmt* stmt = t.conn->Prepare("SELECT " + t.selectList + " FROM " + t.quoted + " WHERE " + t.rowid + "=?1");
  StatementScope scope(stmt);
  sqlite3_bind_int64(stmt, 1, rid);
  values.clear();
  if (t.conn->Step(stmt, "Cannot read") != SQLITE_ROW) return false;
  DecodeRow(stmt, t.columns, values);
  return true;
}

namespace {

// The record that holds `key` in vez$keys, other than `self`: its row key, or 0. An entry whose record is gone or
// no longer folds to the key (changed by another program) does not count.
std::int64_t EntryOwner(TABSTable::Impl& t, const Index& index, const std::string& key, std::int64_t self) {
  sqlite3_stmt* stmt = t.conn->Prepare("SELECT rid FROM " + KeysTable() + " WHERE tbl=?1 AND idx=?2 AND key=?3");
  std::int64_t rid = 0;
  {
    StatementScope scope(stmt);
    BindText(stmt, 1, t.name);
    BindText(stmt, 2, index.name);
    BindText(stmt, 3, key);
    if (t.conn->Step(stmt, "Cannot read") == SQLITE_ROW) rid = sqlite3_column_int64(stmt, 0);
  }
  if (rid == 0 || rid == self) return 0;
  std::vector<Variant> values;
  return ReadRecord(t, rid, values) && FoldedKey(index, values).key == key ? rid : 0;
}

// The record other than `self` whose key equals the folded key in the index (NOCASE): its row key, or 0.
std::int64_t IndexOwner(TABSTable::Impl& t, const Index& index, const FoldedKeyOf& folded, std::int64_t self) {
  std::string sql = "SELECT " + t.rowid + " FROM " + t.quoted + " WHERE ";
  for (std::size_t i = 0; i < index.columns.size(); ++i) {
    sql += ColumnTerm(t.columns[index.columns[i]].name, index.options) + " = ?" + std::to_string(i + 1) + " AND ";
  }
  sqlite3_stmt* stmt = t.conn->Prepare(sql + t.rowid + " IS NOT ?" + std::to_string(index.columns.size() + 1) + " LIMIT 1");
  StatementScope scope(stmt);
  for (std::size_t i = 0; i < index.columns.size(); ++i) {
    t.Bind(stmt, static_cast<int>(i + 1), folded.folded[i], index.columns[i]);
  }
  sqlite3_bind_int64(stmt, static_cast<int>(index.columns.size() + 1), self);
  return t.conn->Step(stmt, "Cannot read") == SQLITE_ROW ? sqlite3_column_int64(stmt, 0) : 0;
}

}  // namespace

// The record other than `self` whose key folds as `folded` does: its row key, or 0.
std::int64_t FoldedOwner(TABSTable::Impl& t, std::size_t i, const FoldedKeyOf& folded, std::int64_t self) {
  const Index& index = *t.folded[i];
  if (t.foldEntries[i]) {
    if (const std::int64_t rid = EntryOwner(t, index, folded.key, self)) return rid;
  }
  return folded.entry ? IndexOwner(t, index, folded, self) : 0;
}

// Whether FindKey found `key` of folded index `i` in no record, with nothing written since (see Impl::absent).
bool StillAbsent(TABSTable::Impl& t, std::size_t i, const std::string& key) {
  const Connection& c = *t.conn;
  return t.absent.index == t.folded[i] && c.InTransaction() && t.absent.transaction == c.Transactions() &&
         t.absent.changes == sqlite3_total_changes64(c.Handle()) && t.absent.key == key;
}

namespace {

// Runs one statement of the kept keys with its table, index, key and row key bound as ?1..?4.
void RunKeyStatement(TABSTable::Impl& t, const std::string& sql, const Index& index, const std::string& key,
                     std::int64_t rid) {
  sqlite3_stmt* stmt = t.conn->Prepare(sql);
  StatementScope scope(stmt);
  BindText(stmt, 1, t.name);
  BindText(stmt, 2, index.name);
  BindText(stmt, 3, key);
  sqlite3_bind_int64(stmt, 4, rid);
  t.conn->Step(stmt, "Cannot write to");
}

}  // namespace

void WriteKey(TABSTable::Impl& t, const Index& index, const std::string& key, std::int64_t rid) {
  RunKeyStatement(t, "INSERT OR REPLACE INTO " + KeysTable() + "(tbl, idx, key, rid) VALUES(?1, ?2, ?3, ?4)", index,
                  key, rid);
}

void DropKey(TABSTable::Impl& t, const Index& index, const std::string& key, std::int64_t rid) {
  RunKeyStatement(t, "DELETE FROM " + KeysTable() + " WHERE tbl=?1 AND idx=?2 AND key=?3 AND rid=?4", index, key, rid);
}

namespace {

std::string KeyText(const Index& index, const std::vector<Variant>& values) {
  std::string text;
  for (std::size_t i = 0; i < index.columns.size(); ++i) {
    const Variant& v = values[index.columns[i]];
    text += (i > 0 ? ";" : "") + (v.IsClear() ? std::string() : v.AsString());
  }
  return text;
}

}  // namespace

[[noreturn]] void FailFoldedKey(TABSTable::Impl& t, const Index& index, const std::vector<Variant>& values) {
  throw EDatabaseError(Format("Key violation in table '%s': index '%s' already holds the key '%s'", t.name,
                              index.name, KeyText(index, values)));
}

// Records that the folded keys cover the records up to row key `key` (the table's counter of the field "").
// Inside a transaction the table keeps the transaction's counter, as for the auto-increment fields.
void MoveKeysCovered(TABSTable::Impl& t, std::int64_t key) {
  Connection& c = *t.conn;
  if (!c.InTransaction()) {
    if (key > c.Counter(t.name, "")) c.SetCounter(t.name, "", key);
    return;
  }
  if (t.coveredTransaction != c.Transactions()) {
    t.covered = &c.TransactionCounter(t.name, "");
    t.coveredTransaction = c.Transactions();
  }
  if (key > t.covered->last) {
    t.covered->last = key;
    t.covered->dirty = true;
  }
}

// Gives the records that have no entries in vez$keys yet theirs (those after the highest row key covered) and
// learns which indexes have entries. Run before every write; inside a transaction, which holds the write lock, once.
void EnsureFoldedKeys(TABSTable::Impl& t) {
  Connection& c = *t.conn;
  if (t.folded.empty() || (t.foldReady && c.InTransaction() && t.foldSerial == c.Transactions())) return;
  std::unique_ptr<WriteScope> write;
  if (!c.InTransaction()) write = std::make_unique<WriteScope>(c);
  c.EnsureBookkeeping();
  t.foldEntries.assign(t.folded.size(), false);
  for (std::size_t i = 0; i < t.folded.size(); ++i) {
    sqlite3_stmt* stmt = c.Prepare("SELECT 1 FROM " + KeysTable() + " WHERE tbl=?1 AND idx=?2 LIMIT 1");
    StatementScope scope(stmt);
    BindText(stmt, 1, t.name);
    BindText(stmt, 2, t.folded[i]->name);
    t.foldEntries[i] = c.Step(stmt, "Cannot read") == SQLITE_ROW;
  }
  const std::int64_t covered = c.Counter(t.name, "");
  sqlite3_stmt* rows =
      c.Prepare("SELECT " + t.selectList + " FROM " + t.quoted + " WHERE " + t.rowid + " > ?1 ORDER BY " + t.rowid);
  std::int64_t last = covered;
  {
    StatementScope scope(rows);
    sqlite3_bind_int64(rows, 1, covered);
    std::vector<Variant> values;
    while (c.Step(rows, "Cannot read") == SQLITE_ROW) {
      DecodeRow(rows, t.columns, values);
      last = sqlite3_column_int64(rows, 0);
      for (std::size_t i = 0; i < t.folded.size(); ++i) {
        const FoldedKeyOf key = FoldedKey(*t.folded[i], values);
        if (!key.entry || EntryOwner(t, *t.folded[i], key.key, last) != 0) continue;
        WriteKey(t, *t.folded[i], key.key, last);
        t.foldEntries[i] = true;
      }
    }
  }
  if (last > covered) c.SetCounter(t.name, "", last);
  if (write) write->Commit();
  t.foldReady = true;
  t.foldSerial = c.Transactions();
}

std::int64_t FindFoldedKey(TABSTable::Impl& t, const Index& index, const std::vector<Variant>& keys) {
  const auto at = std::find(t.folded.begin(), t.folded.end(), &index);
  if (keys.size() != index.columns.size() || at == t.folded.end()) return 0;
  std::vector<Variant> values(t.columns.size(), Variant::Null());
  for (std::size_t i = 0; i < keys.size(); ++i) values[index.columns[i]] = keys[i];
  FoldedKeyOf folded = FoldedKey(index, values);
  if (folded.key.empty()) return 0;
  Connection& c = *t.conn;
  // Inside a transaction whose entries are complete the table knows whether vez$keys holds any of this index.
  const bool known = t.foldReady && c.InTransaction() && t.foldSerial == c.Transactions();
  const bool entries = known ? t.foldEntries[static_cast<std::size_t>(at - t.folded.begin())] : HasKeysTable(c);
  std::int64_t rid = entries ? EntryOwner(t, index, folded.key, 0) : 0;
  if (rid == 0 && folded.entry) rid = IndexOwner(t, index, folded, 0);
  if (rid == 0 && c.InTransaction())
    t.absent = {&index, std::move(folded.key), c.Transactions(), sqlite3_total_changes64(c.Handle())};
  return rid;
}

}  // namespace vez::detail

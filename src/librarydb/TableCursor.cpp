// The open table's cursor: opening a table (its columns, indexes and the order of the current index), the keys
// in that order, the records of a page of keys, the record count, FindKey and the scan of whole tables.
// TDataSet (Dataset.cpp) keeps the position and the read-ahead page; this file answers its questions.
#include <algorithm>
#include <memory>

#include "core/CaseFold.h"
#include "core/FormatSettings.h"
#include "librarydb/Absmain.h"
#include "librarydb/internal/Catalog.h"
#include "librarydb/internal/Columns.h"
#include "librarydb/internal/KeptKeys.h"
#include "librarydb/internal/OpenTable.h"
#include "librarydb/internal/Transactions.h"

namespace vez {

using detail::ColumnTerm;
using detail::Connection;
using detail::ConnectionUse;
using detail::DecodeRow;
using detail::IsBlobColumn;
using detail::IsUniqueIndex;
using detail::QuoteIdent;
using detail::ReadView;
using detail::ReadStoredDefinitions;
using detail::TakeDefinitions;
using detail::RowKeyName;
using detail::SplitFields;
using detail::StatementScope;
using detail::StoredDefinitions;
using detail::StoredTableName;

namespace {

constexpr std::size_t kFetchBatch = 64;  // row keys per IN list of a page fetch

}  // namespace

std::string TABSTable::DisplayName() const { return Format("Table '%s'", tableName_); }

bool TABSTable::IsReadOnly() const {
  return readOnly_ || (database_ != nullptr && database_->ReadOnly());
}


// ---- the open table ----

std::vector<TDataSet::ColumnInfo> TABSTable::DoOpen() {
  TABSDatabase& db = Database();
  Connection& c = db.Acquire();
  std::vector<ColumnInfo> result;
  try {
    const std::string stored = StoredTableName(c, tableName_);
    if (stored.empty()) throw EDatabaseError(Format("Table '%s' does not exist in \"%s\"", tableName_, c.FileName()));
    StoredDefinitions defs = ReadStoredDefinitions(c, stored);
    auto impl = std::make_unique<Impl>();
    impl->conn = &c;
    impl->name = stored;
    impl->quoted = QuoteIdent(stored);
    impl->rowid = RowKeyName(defs.classic, stored);
    impl->selectList = impl->rowid;
    for (const TFieldDef& f : defs.classic) {
      impl->columns.push_back(Impl::Column{f.Name, f.DataType, IsBlobColumn(f.DataType)});
      impl->selectList += ", " + QuoteIdent(f.Name);
      if (f.DataType == ftAutoInc) impl->autoInc.push_back(Impl::AutoInc{impl->columns.size() - 1});
      result.push_back(ColumnInfo{f.Name, f.DataType, f.Size, f.Required});
    }
    for (const TIndexDef& def : defs.indexes) {
      Impl::Index index;
      index.name = def.Name;
      index.options = def.Options;
      index.unique = IsUniqueIndex(def, stored);
      for (const std::string& field : SplitFields(def.Fields)) {
        const auto it = std::find_if(defs.classic.begin(), defs.classic.end(),
                                     [&](const TFieldDef& f) { return SameText(f.Name, field); });
        if (it == defs.classic.end()) {
          throw EDatabaseError(Format("Index '%s' of table '%s' names the unknown field '%s'", def.Name, stored, field));
        }
        index.columns.push_back(static_cast<std::size_t>(it - defs.classic.begin()));
        index.orderBy += ColumnTerm(it->Name, def.Options) + ", ";
      }
      index.orderBy += impl->rowid;
      impl->indexes.push_back(std::move(index));
    }
    for (const Impl::Index& index : impl->indexes) {
      if (index.unique && (index.options & ixCaseInsensitive) != 0) impl->folded.push_back(&index);
    }
    {
      sqlite3_stmt* stmt = c.Prepare("SELECT name FROM pragma_index_list(?1) WHERE \"unique\"");
      StatementScope scope(stmt);
      detail::BindText(stmt, 1, stored);
      while (c.Step(stmt, "Cannot read") == SQLITE_ROW) {
        const std::string name = detail::ColumnText(stmt, 0);
        for (Impl::Index& index : impl->indexes) {
          if (name == stored + "$" + index.name) index.uniqueInFile = true;
        }
      }
    }
    if (!indexName_.empty()) {
      impl->order = impl->FindIndex(indexName_);
      if (impl->order == nullptr) {
        throw EDatabaseError(Format("Index '%s' not found in table '%s'", indexName_, stored));
      }
    }
    TakeDefinitions(defs, fieldDefs_, advFieldDefs_, indexDefs_);
    impl_ = std::move(impl);
  } catch (...) {
    db.Release();
    throw;
  }
  database_ = &db;
  db.AttachTable(this);
  return result;
}

void TABSTable::DoClose() {
  impl_.reset();
  if (database_ != nullptr) {
    TABSDatabase* db = database_;
    database_ = nullptr;
    db->DetachTable(this);
    db->Release();
  }
}

namespace {

// Every key of the order at once (a small table).
std::vector<std::int64_t> AllKeys(TABSTable::Impl& t) {
  // Insertion order: any order of reading will do (SQLite may then read a small index instead of the whole
  // table), the keys are sorted here.
  const std::string sql = "SELECT " + t.rowid + " FROM " + t.quoted + (t.order != nullptr ? " ORDER BY " + t.order->orderBy : "");
  sqlite3_stmt* stmt = t.conn->Prepare(sql);
  StatementScope scope(stmt);
  std::vector<std::int64_t> keys;
  while (t.conn->Step(stmt, "Cannot read") == SQLITE_ROW) keys.push_back(sqlite3_column_int64(stmt, 0));
  if (t.order == nullptr) std::sort(keys.begin(), keys.end());
  return keys;
}

// Whether every key of the table is held at once: its row keys stay small (the highest is found on the index).
// The answer is kept while the file is unchanged.
bool SmallTable(TABSTable::Impl& t) {
  const detail::Freshness now = detail::FreshnessOf(*t.conn);
  if (!(t.sized == now)) {
    sqlite3_stmt* stmt = t.conn->Prepare("SELECT max(" + t.rowid + ") FROM " + t.quoted);
    StatementScope scope(stmt);
    t.conn->Step(stmt, "Cannot read");
    t.small = sqlite3_column_int64(stmt, 0) <= detail::kWholeKeys;
    t.sized = now;
  }
  return t.small;
}

detail::KeyOrder OrderOf(const TABSTable::Impl& t) {
  detail::KeyOrder order{t.quoted, t.rowid, {}, {}};
  if (t.order != nullptr) {
    order.unique = t.order->uniqueInFile;
    order.caseInsensitive = (t.order->options & ixCaseInsensitive) != 0;
    for (std::size_t col : t.order->columns) {
      order.fields.push_back(QuoteIdent(t.columns[col].name));
      order.terms.push_back(ColumnTerm(t.columns[col].name, t.order->options));
    }
  }
  return order;
}

// The reader of the table's records from its file's pages (StoredPages.h): its root page and, for each column
// of the select list, the column of the records; null when the table is not one it follows.
std::unique_ptr<detail::StoredTable> MakeStoredTable(TABSTable::Impl& t) {
  Connection& c = *t.conn;
  std::int64_t root = 0;
  {
    sqlite3_stmt* find = c.Prepare("SELECT rootpage FROM sqlite_master WHERE type = 'table' AND name = ?1");
    StatementScope scope(find);
    sqlite3_bind_text(find, 1, t.name.data(), static_cast<int>(t.name.size()), SQLITE_STATIC);
    if (c.Step(find, "Cannot read") != SQLITE_ROW) return nullptr;
    root = sqlite3_column_int64(find, 0);
  }
  if (root < 1 || root > 0xFFFFFFFF) return nullptr;
  std::vector<std::string> names;
  int rowidColumn = -1;
  if (!detail::ReadStoredColumns(c.Handle(), t.name, names, rowidColumn)) return nullptr;
  std::vector<int> columns;
  std::vector<detail::StoredKind> kinds;
  for (const TABSTable::Impl::Column& column : t.columns) {
    const auto at = std::find(names.begin(), names.end(), column.name);
    if (at == names.end()) return nullptr;
    columns.push_back(static_cast<int>(at - names.begin()));
    kinds.push_back(detail::StoredKindOf(column.type));
  }
  return std::make_unique<detail::StoredTable>(static_cast<std::uint32_t>(root), std::move(columns),
                                               std::move(kinds), rowidColumn);
}

// A window forward in insertion order read from the file's pages, as ReadWindow reads it after passing `skip`
// records; False when it cannot be (the caller then reads it through SQL). Only while SQLite holds its shared lock in a read transaction with
// nothing written (the run of reads the window is loaded in): then no writer changes the file meanwhile and every
// page of it is what SQLite would read.
bool ReadWindowFromPages(TABSTable::Impl& t, const std::int64_t* from, std::int64_t skip, std::int64_t want,
                         std::vector<detail::OrderKey>& keys) {
  sqlite3* db = t.conn->Handle();
  if (want <= 0 || sqlite3_txn_state(db, "main") != SQLITE_TXN_READ) return false;
  detail::StoredFile file;
  if (!detail::ReadStoredFile(db, file)) return false;
  if (!t.storedTried || t.storedSchema != file.schemaCookie) {
    t.stored = MakeStoredTable(t);
    t.storedTried = true;
    t.storedSchema = file.schemaCookie;
  }
  if (t.stored == nullptr) return false;
  std::size_t n = 0;
  bool understood = true;
  const bool followed = t.stored->Walk(
      file, from, [&](std::int64_t rowid, const std::vector<VariantView>& values, bool asStored) {
        if (skip > 0) {
          --skip;
          return true;
        }
        if (!asStored) {
          understood = false;
          return false;
        }
        if (t.ahead.size() <= n) t.ahead.resize(n + 1);
        TABSTable::Impl::Row& row = t.ahead[n++];
        row.Key = rowid;
        row.Values.resize(values.size());
        for (std::size_t i = 0; i < values.size(); ++i) row.Values[i].Assign(values[i]);
        return static_cast<std::int64_t>(n) < want;
      });
  // A file this reader does not follow is left to SQL until its schema changes; a record stored in another form
  // leaves only its window to SQL.
  if (!followed) t.stored.reset();
  if (!followed || !understood) return false;
  for (std::size_t i = 0; i < n; ++i) keys.push_back(detail::OrderKey{{}, t.ahead[i].Key});
  t.aheadRows = n;
  ++t.pageWindows;
  return true;
}

// Insertion order: the keys of a window and their records in one range scan, from just after (before) the row
// key `from` (nullptr: from the first (last) record), up to `want` of them in the direction of travel. The
// records go to t.ahead, for the fetch that follows; the keys are appended to `keys`.
void ReadWindow(TABSTable::Impl& t, const std::int64_t* from, bool forward, std::int64_t want,
                std::vector<detail::OrderKey>& keys) {
  if (forward && ReadWindowFromPages(t, from, 0, want, keys)) return;
  std::string sql = "SELECT " + t.selectList + " FROM " + t.quoted;
  if (from != nullptr) sql += " WHERE " + t.rowid + (forward ? " > ?1" : " < ?1");
  sql += " ORDER BY " + t.rowid + (forward ? "" : " DESC") + (from != nullptr ? " LIMIT ?2" : " LIMIT ?1");
  sqlite3_stmt* stmt = t.conn->Prepare(sql);
  StatementScope scope(stmt);
  if (from != nullptr) sqlite3_bind_int64(stmt, 1, *from);
  sqlite3_bind_int64(stmt, from != nullptr ? 2 : 1, want);
  std::size_t n = 0;
  while (t.conn->Step(stmt, "Cannot read") == SQLITE_ROW) {
    if (t.ahead.size() <= n) t.ahead.resize(n + 1);
    TABSTable::Impl::Row& row = t.ahead[n++];
    row.Key = sqlite3_column_int64(stmt, 0);
    DecodeRow(stmt, t.columns, row.Values);
    keys.push_back(detail::OrderKey{{}, row.Key});
  }
  t.aheadRows = n;
}

// The marks of the current order, made anew when the file changed since.
const detail::OrderMarks& MarksOf(TABSTable::Impl& t, const detail::KeyOrder& order) {
  detail::OrderMarks& marks = t.marks[t.order];
  if (marks.keys.empty() || !(marks.made == detail::FreshnessOf(*t.conn))) detail::MakeMarks(*t.conn, order, marks);
  return marks;
}

}  // namespace

void TABSTable::DoLoadKeys(KeysWanted wanted, std::int64_t at, std::size_t count, KeyWindow& window) {
  Impl& t = *impl_;
  Connection& c = *t.conn;
  window = KeyWindow{};
  t.aheadRows = 0;
  // The queries of a window share one read transaction: SQLite locks the file and checks it for changes once.
  const detail::ReadRun reads(c);
  const bool startOver = wanted == KeysWanted::First || wanted == KeysWanted::Last || wanted == KeysWanted::Around;
  if (startOver && SmallTable(t)) {
    window.Keys = AllKeys(t);
    window.Whole = true;
    window.Start = 0;
    t.window.clear();
    return;
  }
  const detail::KeyOrder order = OrderOf(t);
  const auto want = static_cast<std::int64_t>(count);
  std::vector<detail::OrderKey> keys;
  // The records of the keys walked go to t.ahead, for the fetch that follows.
  const detail::WalkRecords records{t.selectList, [&t](sqlite3_stmt* stmt, int first) {
                                      if (t.ahead.size() <= t.aheadRows) t.ahead.resize(t.aheadRows + 1);
                                      Row& row = t.ahead[t.aheadRows++];
                                      row.Key = sqlite3_column_int64(stmt, first);
                                      DecodeRow(stmt, t.columns, row.Values, first + 1);
                                    }};
  // A walk from an end or from a key, with the records: in insertion order one range scan (ReadWindow).
  const auto walk = [&](const detail::OrderKey* from, bool forward) {
    if (t.order == nullptr) ReadWindow(t, from != nullptr ? &from->rowid : nullptr, forward, want, keys);
    else detail::WalkKeys(c, order, from, forward, 0, want, keys, &records);
  };
  // Keys walked backward come in descending order; the window (and the records read with them) ascends.
  const auto ascend = [&] {
    std::reverse(keys.begin(), keys.end());
    std::reverse(t.ahead.begin(), t.ahead.begin() + static_cast<std::ptrdiff_t>(t.aheadRows));
  };
  switch (wanted) {
    case KeysWanted::First:
      walk(nullptr, true);
      window.Start = 0;
      window.AtStart = true;
      window.AtEnd = static_cast<std::int64_t>(keys.size()) < want;
      break;
    case KeysWanted::Last:
      walk(nullptr, false);
      ascend();
      window.AtEnd = true;
      window.AtStart = static_cast<std::int64_t>(keys.size()) < want;
      if (window.AtStart) window.Start = 0;
      else if (t.counted == detail::FreshnessOf(c)) window.Start = t.count - static_cast<std::int64_t>(keys.size());
      break;
    case KeysWanted::After:
    case KeysWanted::Before: {
      const bool forward = wanted == KeysWanted::After;
      // The key the window turns at is one the table gave, or, in insertion order, its own row key.
      detail::OrderKey from{{}, at};
      if (t.order != nullptr) {
        const auto it = std::find_if(t.window.begin(), t.window.end(), [&](const detail::OrderKey& k) { return k.rowid == at; });
        if (it != t.window.end()) from = *it;
        else if (!detail::ReadOrderKey(c, order, at, from)) return;
      }
      walk(&from, forward);
      if (keys.empty()) return;  // the cursor keeps its window
      if (!forward) ascend();
      (forward ? window.AtEnd : window.AtStart) = static_cast<std::int64_t>(keys.size()) < want;
      break;
    }
    case KeysWanted::From: {
      const detail::OrderMarks& marks = MarksOf(t, order);
      if (marks.total == 0) break;
      const std::int64_t position = std::clamp<std::int64_t>(at, 0, marks.total - 1);
      // The walk starts after the mark before the position (at the first key for the first positions), so that
      // it reads the record of every key it gives.
      const auto mark = static_cast<std::size_t>(position / detail::kMarkSpacing);
      const std::int64_t beyond = position % detail::kMarkSpacing;
      // In insertion order the walk reads the file's pages where it can.
      const auto jump = [&](const detail::OrderKey* from, std::int64_t skip) {
        if (t.order == nullptr && ReadWindowFromPages(t, from != nullptr ? &from->rowid : nullptr, skip, want, keys))
          return;
        detail::WalkKeys(c, order, from, true, skip, want, keys, &records);
      };
      if (beyond > 0) jump(&marks.keys[mark], beyond - 1);
      else if (mark > 0) jump(&marks.keys[mark - 1], detail::kMarkSpacing - 1);
      else jump(nullptr, 0);
      window.Start = position;
      window.AtStart = position == 0;
      window.AtEnd = position + static_cast<std::int64_t>(keys.size()) >= marks.total;
      break;
    }
    case KeysWanted::Around: {
      detail::OrderKey key;
      if (!detail::ReadOrderKey(c, order, at, key)) {
        DoLoadKeys(KeysWanted::First, 0, count, window);
        return;
      }
      detail::WalkKeys(c, order, &key, false, 0, want / 2, keys);
      window.AtStart = static_cast<std::int64_t>(keys.size()) < want / 2;
      if (window.AtStart) window.Start = 0;
      std::reverse(keys.begin(), keys.end());
      keys.push_back(key);
      const std::size_t before = keys.size();
      detail::WalkKeys(c, order, &key, true, 0, want / 2, keys);
      window.AtEnd = static_cast<std::int64_t>(keys.size() - before) < want / 2;
      break;
    }
  }
  window.Keys.reserve(keys.size());
  for (const detail::OrderKey& key : keys) window.Keys.push_back(key.rowid);
  t.window = std::move(keys);
}

void TABSTable::DoFetch(const std::int64_t* keys, std::size_t count, std::vector<Row>& rows) {
  Impl& t = *impl_;
  if (t.aheadRows > 0) {
    // The records read with the window's keys, when the keys asked for are a run of them.
    const std::size_t ahead = t.aheadRows;
    t.aheadRows = 0;
    const auto first = count == 0 ? t.ahead.begin() + static_cast<std::ptrdiff_t>(ahead)
                                  : std::find_if(t.ahead.begin(), t.ahead.begin() + static_cast<std::ptrdiff_t>(ahead),
                                                 [&](const Row& row) { return row.Key == keys[0]; });
    const auto held = static_cast<std::size_t>(t.ahead.begin() + static_cast<std::ptrdiff_t>(ahead) - first);
    if (count > 0 && count <= held &&
        std::equal(keys, keys + count, first, [](std::int64_t key, const Row& row) { return key == row.Key; })) {
      for (std::size_t i = 0; i < count; ++i) {
        rows[i].Key = first[static_cast<std::ptrdiff_t>(i)].Key;
        rows[i].Values.swap(first[static_cast<std::ptrdiff_t>(i)].Values);
      }
      return;
    }
  }
  // Keys that ascend close together (in insertion order always; in an index order that follows the row keys,
  // as a primary index on the record number does) are read by one range scan instead of one look-up each;
  // records other programs added in between are not part of this cursor and are passed over.
  const auto denseAscending = [&] {
    if (count == 0 || keys[count - 1] - keys[0] > static_cast<std::int64_t>(2 * count)) return false;
    for (std::size_t i = 1; i < count; ++i)
      if (keys[i] <= keys[i - 1]) return false;
    return true;
  };
  if (count > 0 && (t.order == nullptr || denseAscending())) {
    if (t.range == nullptr) {
      t.range = t.conn->Prepare("SELECT " + t.selectList + " FROM " + t.quoted +
                                " WHERE " + t.rowid + " BETWEEN ?1 AND ?2 ORDER BY " + t.rowid);
    }
    StatementScope scope(t.range);
    sqlite3_bind_int64(t.range, 1, keys[0]);
    sqlite3_bind_int64(t.range, 2, keys[count - 1]);
    std::size_t next = 0;
    while (next < count && t.conn->Step(t.range, "Cannot read") == SQLITE_ROW) {
      const std::int64_t key = sqlite3_column_int64(t.range, 0);
      while (next < count && keys[next] < key) ++next;  // deleted meanwhile: stays Key 0
      if (next == count || keys[next] != key) continue;
      Row& row = rows[next];
      row.Key = key;
      DecodeRow(t.range, t.columns, row.Values);
      ++next;
    }
    return;
  }
  if (t.fetch == nullptr) {
    std::string sql = "SELECT " + t.selectList + " FROM " + t.quoted + " WHERE " + t.rowid + " IN (";
    for (std::size_t i = 0; i < kFetchBatch; ++i) sql += (i > 0 ? ", ?" : "?") + std::to_string(i + 1);
    t.fetch = t.conn->Prepare(sql + ")");
  }
  for (std::size_t done = 0; done < count; done += kFetchBatch) {
    const std::size_t n = std::min(kFetchBatch, count - done);
    StatementScope scope(t.fetch);
    for (std::size_t i = 0; i < n; ++i) sqlite3_bind_int64(t.fetch, static_cast<int>(i + 1), keys[done + i]);
    while (t.conn->Step(t.fetch, "Cannot read") == SQLITE_ROW) {
      const std::int64_t key = sqlite3_column_int64(t.fetch, 0);
      const std::int64_t* hit = std::find(keys + done, keys + done + n, key);
      if (hit == keys + done + n) continue;
      Row& row = rows[static_cast<std::size_t>(hit - keys)];
      row.Key = key;
      DecodeRow(t.fetch, t.columns, row.Values);
    }
  }
}

std::int32_t TABSTable::DoRecordCount() {
  Impl& t = *impl_;
  // Counting walks every page of the smallest index: the count is kept while the file is unchanged.
  const detail::Freshness now = detail::FreshnessOf(*t.conn);
  if (!(t.counted == now)) {
    sqlite3_stmt* stmt = t.conn->Prepare("SELECT count(*) FROM " + t.quoted);
    StatementScope scope(stmt);
    t.conn->Step(stmt, "Cannot read");
    t.count = sqlite3_column_int64(stmt, 0);
    t.counted = now;
  }
  return static_cast<std::int32_t>(t.count);
}

void TABSTable::SetIndexName(std::string_view indexName) {
  if (!Active()) {
    indexName_ = std::string(indexName);
    return;
  }
  CheckBrowseable();
  const Impl::Index* index = nullptr;
  if (!indexName.empty()) {
    index = impl_->FindIndex(indexName);
    if (index == nullptr) throw EDatabaseError(Format("Index '%s' not found in table '%s'", indexName, tableName_));
  }
  impl_->order = index;
  indexName_ = index != nullptr ? index->name : std::string();
  ResetCursor();
  First();
}

bool TABSTable::FindKey(const std::vector<Variant>& keys) {
  CheckBrowseable();
  Impl& t = *impl_;
  const Impl::Index* index = t.order;
  if (index == nullptr) {
    for (const Impl::Index& candidate : t.indexes) {
      if ((candidate.options & ixPrimary) != 0) index = &candidate;
    }
  }
  if (index == nullptr) throw EDatabaseError(Format("Table '%s' has no index to search", tableName_));
  if (keys.empty() || keys.size() > index->columns.size()) {
    throw EDatabaseError(Format("FindKey on index '%s' of table '%s': %d key values for %d fields", index->name,
                                tableName_, keys.size(), index->columns.size()));
  }
  sqlite3_stmt*& stmt = t.find[{index, keys.size()}];
  if (stmt == nullptr) {
    std::string sql = "SELECT " + t.selectList + " FROM " + t.quoted + " WHERE ";
    for (std::size_t i = 0; i < keys.size(); ++i) {
      if (i > 0) sql += " AND ";
      sql += ColumnTerm(t.columns[index->columns[i]].name, index->options) + " IS ?" + std::to_string(i + 1);
    }
    stmt = t.conn->Prepare(sql + " ORDER BY " + index->orderBy + " LIMIT 1");
  }
  StatementScope scope(stmt);
  std::vector<Variant>& bound = t.findKeys;  // bound text stays alive (and in place) until the statement has run
  bound.clear();
  bound.reserve(keys.size());
  for (std::size_t i = 0; i < keys.size(); ++i) {
    const std::size_t col = index->columns[i];
    bound.push_back(NormalizeForField(Fields(static_cast<int>(col)), keys[i]));
    t.Bind(stmt, static_cast<int>(i + 1), bound.back(), col);
  }
  if (t.conn->Step(stmt, "Cannot read") != SQLITE_ROW) {
    // A key beyond ASCII is found by its folded form ("ÄTHER" finds "Äther").
    const std::int64_t rid = detail::FindFoldedKey(t, *index, bound);
    if (rid == 0 || !detail::ReadRecord(t, rid, t.found.Values)) return false;
    t.found.Key = rid;
    PositionOn(t.found);
    return true;
  }
  // Read into the room of the record found before, which PositionOn hands back.
  t.found.Key = sqlite3_column_int64(stmt, 0);
  DecodeRow(stmt, t.columns, t.found.Values);
  PositionOn(t.found);
  return true;
}

void TABSTable::ScanRecords(const std::vector<std::string>& fields,
                            const std::function<bool(const std::vector<VariantView>&)>& each) {
  if (State() == TDataSetState::dsEdit || State() == TDataSetState::dsInsert) Post();
  TABSDatabase& db = Database();
  ConnectionUse c(db, &TABSDatabase::Acquire, &TABSDatabase::Release);
  const std::string stored = StoredTableName(*c, tableName_);
  if (stored.empty()) throw EDatabaseError(Format("Table '%s' does not exist in \"%s\"", tableName_, c->FileName()));
  const StoredDefinitions defs = ReadStoredDefinitions(*c, stored);
  std::string sql = "SELECT ";
  std::vector<TFieldType> types;
  for (const std::string& name : fields) {
    const auto it = std::find_if(defs.classic.begin(), defs.classic.end(),
                                 [&](const TFieldDef& f) { return SameTextFolded(f.Name, name); });
    if (it == defs.classic.end()) throw EDatabaseError(Format("Field '%s' not found", name));
    sql += (types.empty() ? "" : ", ") + QuoteIdent(it->Name);
    types.push_back(it->DataType);
  }
  const std::string rowid = RowKeyName(defs.classic, stored);
  if (fields.empty()) sql += rowid;
  sqlite3_stmt* stmt = c->Prepare(sql + " FROM " + QuoteIdent(stored) + " ORDER BY " + rowid);
  StatementScope scope(stmt);
  // Each record's values are views into the statement's row: texts are not copied.
  std::vector<VariantView> values(fields.size());
  while (c->Step(stmt, "Cannot read") == SQLITE_ROW) {
    for (std::size_t i = 0; i < fields.size(); ++i) ReadView(stmt, static_cast<int>(i), types[i], values[i]);
    if (!each(values)) return;
  }
}

}  // namespace vez

// Windows of keys: walking an order by key, reading a key, making the marks (see internal/KeyWindows.h).
#include "librarydb/internal/KeyWindows.h"

#include <algorithm>

#include "librarydb/internal/Sqlite.h"

namespace vez::detail {

void SqlValue::Read(sqlite3_stmt* stmt, int col) {
  type = sqlite3_column_type(stmt, col);
  switch (type) {
    case SQLITE_INTEGER: integer = sqlite3_column_int64(stmt, col); break;
    case SQLITE_FLOAT: real = sqlite3_column_double(stmt, col); break;
    case SQLITE_TEXT:
    case SQLITE_BLOB: {
      const void* data = type == SQLITE_TEXT ? static_cast<const void*>(sqlite3_column_text(stmt, col))
                                             : sqlite3_column_blob(stmt, col);
      bytes.assign(data ? static_cast<const char*>(data) : "", static_cast<std::size_t>(sqlite3_column_bytes(stmt, col)));
      break;
    }
    default: break;
  }
}

void SqlValue::Bind(sqlite3_stmt* stmt, int index) const {
  switch (type) {
    case SQLITE_INTEGER: sqlite3_bind_int64(stmt, index, integer); return;
    case SQLITE_FLOAT: sqlite3_bind_double(stmt, index, real); return;
    case SQLITE_TEXT: sqlite3_bind_text(stmt, index, bytes.data(), static_cast<int>(bytes.size()), SQLITE_STATIC); return;
    case SQLITE_BLOB: sqlite3_bind_blob(stmt, index, bytes.data(), static_cast<int>(bytes.size()), SQLITE_STATIC); return;
    default: sqlite3_bind_null(stmt, index); return;
  }
}

Freshness FreshnessOf(Connection& c) {
  Freshness f;
  f.dataVersion = c.DataVersion();
  f.changes = sqlite3_total_changes64(c.Handle());
  f.transactions = c.Transactions();
  f.inTransaction = c.InTransaction();
  return f;
}

namespace {

std::string SelectList(const KeyOrder& order) {
  std::string list;
  for (const std::string& field : order.fields) list += field + ", ";
  return list + order.rowid;
}

std::string OrderBy(const KeyOrder& order, bool forward) {
  std::string by;
  for (const std::string& term : order.terms) by += term + (forward ? ", " : " DESC, ");
  return by + order.rowid + (forward ? "" : " DESC");
}

void ReadKey(sqlite3_stmt* stmt, std::size_t fields, OrderKey& key) {
  key.values.resize(fields);
  for (std::size_t i = 0; i < fields; ++i) key.values[i].Read(stmt, static_cast<int>(i));
  key.rowid = sqlite3_column_int64(stmt, static_cast<int>(fields));
}

// One range of an order after or before a key: the key's first `prefix` values equal, then either the row key
// beyond the key's (`bound` = -1), the fields up to `bound` beyond the key's values (`bound` >= 0, `condition`
// holds it) or a condition without a value (`bound` = -2).
struct KeyRange {
  std::size_t prefix = 0;
  int bound = -1;
  std::string condition;
};

// The ranges after (before) a key, nearest first. The order's fields sort NULL first, and a comparison with
// NULL is never true, so a NULL value takes a condition of its own. Forward from a key without NULL the keys
// beyond its values are one range of the index (a comparison of the fields as a row); in a unique index no
// other record has the key's values, so nothing lies between the key and them.
std::vector<KeyRange> RangesFrom(const KeyOrder& order, const OrderKey& from, bool forward) {
  std::vector<KeyRange> ranges;
  const std::size_t k = order.terms.size();
  const bool anyNull =
      std::any_of(from.values.begin(), from.values.end(), [](const SqlValue& v) { return v.type == SQLITE_NULL; });
  if (k == 0 || anyNull || !order.unique) ranges.push_back(KeyRange{k, -1, {}});
  if (k > 0 && forward && !anyNull) {
    if (k == 1) {
      ranges.push_back(KeyRange{0, 0, order.terms[0] + " > ?1"});
    } else {
      // The index's collation goes with the values: SQLite uses the index for the row only when its columns
      // stand bare.
      std::string fields, values;
      for (std::size_t j = 0; j < k; ++j) {
        fields += (j > 0 ? ", " : "") + order.fields[j];
        values += (j > 0 ? ", ?" : "?") + std::to_string(j + 1) + (order.caseInsensitive ? " COLLATE NOCASE" : "");
      }
      ranges.push_back(KeyRange{0, static_cast<int>(k) - 1, "(" + fields + ") > (" + values + ")"});
    }
    return ranges;
  }
  for (std::size_t j = k; j-- > 0;) {
    const bool null = from.values[j].type == SQLITE_NULL;
    const std::string& term = order.terms[j];
    if (forward) {
      if (null) ranges.push_back(KeyRange{j, -2, term + " IS NOT NULL"});
      else ranges.push_back(KeyRange{j, static_cast<int>(j), term + " > ?" + std::to_string(j + 1)});
    } else if (!null) {
      ranges.push_back(KeyRange{j, static_cast<int>(j), term + " < ?" + std::to_string(j + 1)});
      ranges.push_back(KeyRange{j, -2, term + " IS NULL"});
    }
  }
  return ranges;
}

}  // namespace

void WalkKeys(Connection& c, const KeyOrder& order, const OrderKey* from, bool forward, std::int64_t skip,
              std::int64_t want, std::vector<OrderKey>& out, const WalkRecords* records) {
  const std::string head =
      "SELECT " + SelectList(order) + (records != nullptr ? ", " + records->selectList : "") + " FROM " + order.table;
  const std::string tail = " ORDER BY " + OrderBy(order, forward) + " LIMIT ?";
  const std::size_t fields = order.fields.size();
  // The last range passes the keys to skip in SQLite (OFFSET), which then reads no record for them; an earlier
  // range steps over them, counting how many it held.
  const auto run = [&](sqlite3_stmt* stmt, int limitIndex, bool last) {
    StatementScope scope(stmt);
    if (from != nullptr) {
      for (int i = 1; i < limitIndex; ++i) {
        // ?1..?n bind the key's values in order; the parameter after the last value is the row key.
        if (static_cast<std::size_t>(i) <= fields) from->values[static_cast<std::size_t>(i - 1)].Bind(stmt, i);
        else sqlite3_bind_int64(stmt, i, from->rowid);
      }
    }
    sqlite3_bind_int64(stmt, limitIndex, last ? want : skip + want);
    sqlite3_bind_int64(stmt, limitIndex + 1, last ? skip : 0);
    if (last) skip = 0;
    while (want > 0 && c.Step(stmt, "Cannot read") == SQLITE_ROW) {
      if (skip > 0) {
        --skip;
        continue;
      }
      out.emplace_back();
      ReadKey(stmt, fields, out.back());
      if (records != nullptr) records->take(stmt, static_cast<int>(fields) + 1);
      --want;
    }
  };
  const auto limits = [](int limit) { return std::to_string(limit) + " OFFSET ?" + std::to_string(limit + 1); };
  if (want <= 0) return;
  if (from == nullptr) {
    run(c.Prepare(head + tail + limits(1)), 1, true);
    return;
  }
  const std::vector<KeyRange> ranges = RangesFrom(order, *from, forward);
  for (std::size_t r = 0; r < ranges.size(); ++r) {
    if (want <= 0) return;
    const KeyRange& range = ranges[r];
    std::string where;
    for (std::size_t i = 0; i < range.prefix; ++i) where += order.terms[i] + " IS ?" + std::to_string(i + 1) + " AND ";
    int params = static_cast<int>(range.prefix);
    if (range.bound == -1) {
      where += order.rowid + (forward ? " > ?" : " < ?") + std::to_string(fields + 1);
      params = static_cast<int>(fields) + 1;
    } else {
      where += range.condition;
      if (range.bound >= 0) params = range.bound + 1;
    }
    // The row key's parameter is always ?(fields + 1), so a range without it binds only the values before it.
    const int limit = range.bound == -1 ? static_cast<int>(fields) + 2 : params + 1;
    run(c.Prepare(head + " WHERE " + where + tail + limits(limit)), limit, r + 1 == ranges.size());
  }
}

bool ReadOrderKey(Connection& c, const KeyOrder& order, std::int64_t rowid, OrderKey& out) {
  sqlite3_stmt* stmt =
      c.Prepare("SELECT " + SelectList(order) + " FROM " + order.table + " WHERE " + order.rowid + " = ?1");
  StatementScope scope(stmt);
  sqlite3_bind_int64(stmt, 1, rowid);
  if (c.Step(stmt, "Cannot read") != SQLITE_ROW) return false;
  ReadKey(stmt, order.fields.size(), out);
  return true;
}

void MakeMarks(Connection& c, const KeyOrder& order, OrderMarks& marks) {
  marks.made = FreshnessOf(c);
  marks.keys.clear();
  marks.total = 0;
  if (order.fields.empty()) {
    // Insertion order: SQLite reads the row keys from its smallest index rather than from the records; sorted here.
    sqlite3_stmt* stmt = c.Prepare("SELECT " + order.rowid + " FROM " + order.table);
    StatementScope scope(stmt);
    std::vector<std::int64_t> rowids;
    while (c.Step(stmt, "Cannot read") == SQLITE_ROW) rowids.push_back(sqlite3_column_int64(stmt, 0));
    std::sort(rowids.begin(), rowids.end());
    marks.total = static_cast<std::int64_t>(rowids.size());
    for (std::size_t i = 0; i < rowids.size(); i += static_cast<std::size_t>(kMarkSpacing))
      marks.keys.push_back(OrderKey{{}, rowids[i]});
    return;
  }
  sqlite3_stmt* stmt = c.Prepare("SELECT " + SelectList(order) + " FROM " + order.table + " ORDER BY " + OrderBy(order, true));
  StatementScope scope(stmt);
  while (c.Step(stmt, "Cannot read") == SQLITE_ROW) {
    if (marks.total % kMarkSpacing == 0) {
      marks.keys.emplace_back();
      ReadKey(stmt, order.fields.size(), marks.keys.back());
    }
    ++marks.total;
  }
}

}  // namespace vez::detail

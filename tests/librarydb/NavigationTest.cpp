// The cursor of a table past the size at which it holds windows of keys instead of all of them: every way of
// moving agrees, in every order, with the order SQLite itself gives (a plain query), with gaps in the row keys,
// duplicate keys and fields without value in a two-field index, records deleted while paging, and runs of reads
// in one read transaction.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <bit>
#include <fstream>
#include <iterator>
#include <random>

#include "EngineTestUtil.h"
#include "core/FormatSettings.h"
#include "librarydb/internal/Columns.h"
#include "librarydb/internal/OpenTable.h"

namespace vez {
namespace {

using test::LibraryFile;
using test::TempDir;

constexpr int kRecords = 9300;  // row keys beyond the 8192 up to which a cursor holds every key

class NavigationTest : public ::testing::TestWithParam<const char*> {
protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir;
    LibraryFile lib(*dir_);
    TABSTable t;
    lib.Bind(t);
    test::DefineElementTable(t);
    t.IndexDefs().Add("AC", "Art;Count", ixCaseInsensitive);  // NULLs and equal keys; collated columns
    t.CreateTable();
    t.Open();
    lib.Database.StartTransaction();
    for (int i = 0; i < kRecords; ++i) {
      t.Append();
      t.FieldByName("ElementName").SetAsString(Format("%c%05d", "aBcD"[i % 4], (i * 7919) % kRecords));
      if (i % 5 != 0) t.FieldByName("Art").SetAsInteger(i % 7);
      if (i % 11 != 0) t.FieldByName("Count").SetAsInteger(i % 3);
      t.Post();
    }
    lib.Database.Commit();
    // Gaps in the row keys, made by another program.
    test::ExecSql(lib.FileName, "DELETE FROM \"lib.abs\" WHERE rowid % 97 = 0");
  }
  static void TearDownTestSuite() { delete dir_; }

  void SetUp() override {
    lib_ = std::make_unique<LibraryFile>(*dir_, "lib.abs", false);
    lib_->Bind(table);
    table.SetIndexName(GetParam());
    table.Open();
    const std::string by = std::string(GetParam()) == "EN" ? "ElementName COLLATE NOCASE, "
                           : std::string(GetParam()) == "AC" ? "Art, Count, "
                           : std::string(GetParam()) == "p" ? "Eintrag, " : "";
    test::ForEachRow(lib_->FileName, "SELECT rowid FROM \"lib.abs\" ORDER BY " + by + "rowid", [&](sqlite3_stmt* stmt) {
      order.push_back(sqlite3_column_int64(stmt, 0));
      return true;
    });
  }
  std::int64_t At(std::int64_t position) const { return order[static_cast<std::size_t>(position)]; }
  std::int64_t Count() const { return static_cast<std::int64_t>(order.size()); }
  // The queries that read records alone, not with the keys of a window.
  int RecordReads() const {
    int n = 0;
    for (sqlite3_stmt* s : {detail::TableProbe::Of(table)->range, detail::TableProbe::Of(table)->fetch})
      n += s != nullptr ? sqlite3_stmt_status(s, SQLITE_STMTSTATUS_RUN, 0) : 0;
    return n;
  }
  // The runs of every statement the table's connection keeps prepared: the queries of its windows among them.
  int QueryRuns() const {
    sqlite3* db = detail::TableProbe::Of(table)->conn->Handle();
    int n = 0;
    for (sqlite3_stmt* s = sqlite3_next_stmt(db, nullptr); s != nullptr; s = sqlite3_next_stmt(db, s))
      n += sqlite3_stmt_status(s, SQLITE_STMTSTATUS_RUN, 0);
    return n;
  }

  static TempDir* dir_;
  std::unique_ptr<LibraryFile> lib_;
  TABSTable table;
  std::vector<std::int64_t> order;  // the row keys in the order SQLite gives
};
TempDir* NavigationTest::dir_ = nullptr;

TEST_P(NavigationTest, WalksAndMovesAgreeWithThePlainOrder) {
  // Both walks, each with the queries it ran and the windows it read.
  for (const bool forward : {true, false}) {
    std::vector<std::int64_t> seen;
    const int runs = QueryRuns();
    int windows = 0;
    std::int64_t front = -1;
    for (forward ? table.First() : table.Last(); !(forward ? table.Eof() : table.Bof());
         forward ? table.Next() : table.Prior()) {
      seen.push_back(table.GetBookmark());
      const auto& window = detail::TableProbe::Of(table)->window;
      if (!window.empty() && window.front().rowid != front) ++windows, front = window.front().rowid;
    }
    EXPECT_EQ(seen, forward ? order : std::vector<std::int64_t>(order.rbegin(), order.rend()));
    // Each window costs its read transaction (data_version, BEGIN, COMMIT) and its queries: none forward in
    // insertion order (the pages give it), one range of a unique index or of the row keys, two where keys repeat.
    const int queries = *GetParam() == 0 ? (forward ? 0 : 1) : std::string(GetParam()) == "AC" ? 2 : 1;
    EXPECT_LE(QueryRuns() - runs, (3 + queries) * windows + 4) << windows << " windows";
  }
  EXPECT_EQ(RecordReads(), 0);  // both walks read each record with the keys of its window, backward too

  // MoveBy both ways against a model of the position and its ends, from the first and from the last record.
  std::mt19937 random(GetParam()[0]);
  for (const bool fromLast : {false, true}) {
    fromLast ? table.Last() : table.First();
    std::int64_t pos = fromLast ? Count() - 1 : 0;
    bool bof = !fromLast, eof = fromLast;
    for (int step = 0; step < 60; ++step) {
      const int scale = step % 3 == 0 ? 20 : step % 3 == 1 ? 400 : 12000;
      const auto d = static_cast<std::int32_t>(static_cast<int>(random() % (2 * scale + 1)) - scale);
      std::int64_t moved = 0;
      if (d != 0 && !(d > 0 ? eof : bof)) {
        const std::int64_t want = pos + d, now = std::clamp<std::int64_t>(want, 0, Count() - 1);
        moved = now - pos;
        pos = now;
        (d > 0 ? eof : bof) = want != now;
        (d > 0 ? bof : eof) = false;
      }
      ASSERT_EQ(table.MoveBy(d), moved) << "step " << step << " by " << d;
      ASSERT_EQ(table.GetBookmark(), At(pos));
      ASSERT_EQ(std::pair(table.Bof(), table.Eof()), std::pair(bof, eof)) << "step " << step;
    }
  }
}

TEST_P(NavigationTest, BookmarksAndFoundKeysGoOnInOrder) {
  for (const std::int64_t position : {std::int64_t{0}, std::int64_t{4321}, Count() - 1}) {
    ASSERT_TRUE(table.GotoBookmark(At(position)));
    if (position + 1 < Count()) {
      table.Next();
      EXPECT_EQ(table.GetBookmark(), At(position + 1));
      EXPECT_EQ(table.MoveBy(-2), position > 0 ? -2 : -1);
      EXPECT_EQ(table.GetBookmark(), At(std::max<std::int64_t>(position - 1, 0)));
    }
    ASSERT_TRUE(table.GotoBookmark(At(position)));
    const std::int64_t far = std::min<std::int64_t>(Count() - 1, position + 3000);
    const int reads = RecordReads();
    EXPECT_EQ(table.MoveBy(3000), far - position);
    EXPECT_EQ(table.GetBookmark(), At(far));
    EXPECT_TRUE(far == position || RecordReads() == reads);  // a jump reads the records with the keys it lands among
  }
  // The first record read again by its bookmark once the cursor passed it (its own values, not those its window
  // read ahead), its name found on the name index in any letter case: the cursor goes on from it both ways.
  table.First();
  table.Next();
  ASSERT_TRUE(table.GotoBookmark(At(0)));
  const std::string name = table.FieldByName("ElementName").AsString();
  table.SetIndexName("EN");
  ASSERT_TRUE(table.FindKey({Variant(UpperCase(name))}));
  EXPECT_EQ(table.GetBookmark(), At(0));
  table.Next();
  table.Prior();
  EXPECT_EQ(table.GetBookmark(), At(0));
}

TEST_P(NavigationTest, DeletesWhilePagingAreSkippedAndCounted) {
  // Another program deletes records ahead of the cursor; the cursor deletes every tenth record it passes.
  LibraryFile other(*dir_, "lib.abs", false);
  TABSTable theirs;
  other.Bind(theirs);
  theirs.Open();
  std::vector<std::int64_t> expected, seen;
  std::vector<std::int64_t> gone = {At(600), At(601), At(3000), At(Count() - 1)};
  table.First();
  for (const bool kept : {false, true}) {  // first rolled back, the file as it was: nothing of it may be seen
    other.Database.StartTransaction();
    for (const std::int64_t key : gone) {
      ASSERT_TRUE(theirs.GotoBookmark(key));
      theirs.Delete();
    }
    kept ? other.Database.Commit() : other.Database.Rollback();
  }
  for (int n = 0; !table.Eof(); ++n) {
    seen.push_back(table.GetBookmark());
    if (n % 10 == 9) table.Delete();
    else table.Next();
  }
  for (const std::int64_t key : order)
    if (std::find(gone.begin(), gone.end(), key) == gone.end()) expected.push_back(key);
  EXPECT_EQ(seen, expected);
  EXPECT_EQ(table.RecordCount(), static_cast<std::int32_t>(expected.size() - expected.size() / 10));
  table.Last();
  EXPECT_EQ(table.MoveBy(-100000), -static_cast<std::int32_t>(expected.size() - expected.size() / 10 - 1));

  // Going back over records another program deleted, more than the cursor's window of keys holds before it: the
  // cursor goes on with the keys before them.
  std::vector<std::int64_t> left;
  for (std::size_t n = 0; n < seen.size(); ++n)
    if (n % 10 != 9) left.push_back(seen[n]);
  const std::size_t at = left.size() / 2;
  ASSERT_TRUE(table.GotoBookmark(left[at]));
  table.Next();  // the window of keys around it is read now
  other.Database.StartTransaction();
  for (std::size_t n = at - 300; n < at; ++n) {
    ASSERT_TRUE(theirs.GotoBookmark(left[n]));
    theirs.Delete();
  }
  other.Database.Commit();
  table.Prior();
  EXPECT_EQ(table.GetBookmark(), left[at]);
  table.Prior();
  EXPECT_EQ(table.GetBookmark(), left[at - 301]);
}

// Reads that share one read transaction: a write among them is stored at once, as outside such a run, and a
// change another program makes afterwards is seen by the next run, in the count and in the positions.
TEST_P(NavigationTest, RunsOfReadsLetWritesThroughAndSeeLaterChanges) {
  const auto far = static_cast<std::int32_t>(Count() / 2);  // the tests before deleted records of the file
  {
    const TABSReadScope reading(lib_->Database);
    EXPECT_EQ(table.MoveBy(far), far);
    EXPECT_EQ(table.RecordCount(), Count());
    table.Delete();
    // Another program's connection counts the records.
    EXPECT_EQ(test::QueryText(lib_->FileName, "SELECT count(*) FROM \"lib.abs\""), std::to_string(Count() - 1));
    EXPECT_TRUE(table.RecordCount() == Count() - 1 && table.GetBookmark() == At(far + 1));
  }
  ASSERT_EQ(test::ExecSql(lib_->FileName, "DELETE FROM \"lib.abs\" WHERE rowid = " + std::to_string(At(10))), SQLITE_OK);
  const TABSReadScope reading(lib_->Database);
  EXPECT_EQ(table.RecordCount(), Count() - 2);
  table.First();
  EXPECT_EQ(table.MoveBy(far), far);
  EXPECT_EQ(table.GetBookmark(), At(far + 2));
}

// A long run of appends through one cursor (a conversion's) keeps only the last keys it added; from the last one
// the cursor still walks back over all of them and jumps to any of them, as a plain walk of the table says. A run
// of just the keys appends keep holds them all: the walk back reads no window of keys.
TEST(Navigation, ALongRunOfAppendsWalksBackOverEveryRecord) {
  constexpr int kKept = static_cast<int>(2 * detail::kWholeKeys);  // the keys appends keep; 20000 pass them
  for (const auto& [appended, walk] : {std::pair{20000, true}, std::pair{20000, false}, std::pair{kKept, true}}) {
    SCOPED_TRACE(std::to_string(appended) + (walk ? " walk back" : " jump back"));
    TempDir dir;
    LibraryFile lib(dir);
    TABSTable t;
    test::OpenNewElementTable(lib, t);
    std::vector<std::int64_t> keys;
    lib.Database.StartTransaction();
    for (int i = 0; i < appended; ++i) {
      test::AppendRecord(t, {{"ElementName", Variant(Format("n%05d", i))}});
      keys.push_back(t.GetBookmark());
    }
    lib.Database.Commit();
    if (walk) {
      std::vector<std::int64_t> back;
      for (; !t.Bof(); t.Prior()) back.push_back(t.GetBookmark());
      EXPECT_EQ(back, std::vector<std::int64_t>(keys.rbegin(), keys.rend()));
      EXPECT_EQ(detail::TableProbe::Of(t)->window.empty(), appended == kKept);  // all kept: no window read again
      continue;
    }
    EXPECT_EQ(t.MoveBy(-(appended - 1 - 12345)), -(appended - 1 - 12345));
    EXPECT_EQ(t.GetBookmark(), keys[12345]);
    EXPECT_EQ(t.MoveBy(-appended), -12345);
    EXPECT_EQ(std::tuple(t.GetBookmark(), t.Bof(), t.RecordCount()), std::tuple(keys.front(), true, appended));
  }
}

// A scan in insertion order reads the records of a large table from its file's pages while nothing else can change
// the file: every value, of every field type, comes out as SQL gives it, also a long memo over overflow pages,
// values stored in another form than the engine writes (those windows go through SQL), and a change another
// program makes in the middle of the scan to records the cursor has read the pages of.
TEST(Navigation, AScanGivesEveryValueAsSqlGivesIt) {
  TempDir dir;
  LibraryFile lib(dir);
  TABSTable t;
  test::OpenNewElementTable(lib, t);
  lib.Database.StartTransaction();
  for (int i = 0; i < kRecords; ++i) {
    t.Append();
    t.FieldByName("ElementName").SetAsString(Format("n%05d \xC3\xA4", i));
    if (i % 13 != 0) t.FieldByName("Value").SetAsFloat(i % 2 == 0 ? i * 0.25 : -1e300 / (i + 1));
    if (i % 17 != 0) t.FieldByName("Count").SetAsInteger(i % 3 == 0 ? -i * 100000 : i);
    t.FieldByName("Art").SetAsInteger(i % 65536);
    if (i % 7 != 0) t.FieldByName("Flag").SetAsBoolean(i % 2 == 0);
    if (i % 5 != 0) t.FieldByName("When").SetAsDateTime(40000 + i + (i % 4) * 0.25);
    // Long memos over overflow pages; that of record 3 keeps the least of its bytes on its page.
    if (i % 9 != 0)
      t.FieldByName("Kommentar").SetAsString(std::string(i % 500 == 1 ? 9000 + i : i == 2 ? 4200 : i % 40, 'a' + i % 26));
    if (i % 3 == 0)  // the first record's a long one: its type takes two bytes of the record's header
      t.FieldByName("Data").SetAsString(std::string("\0\1\2", 3) + std::to_string(i) + std::string(i == 0 ? 60 : 0, 'x'));
    t.Post();
  }
  lib.Database.Commit();
  const auto raw = [&](const std::string& sql) { return test::ExecSql(lib.FileName, sql); };  // another program's write
  // A stored NaN, which SQLite never writes but a damaged or foreign file may hold, reads as NULL as SQL reads it:
  // a number's 8 bytes overwritten in the file (the writes below tell the open connection that the file changed).
  ASSERT_EQ(raw("UPDATE \"lib.abs\" SET Value = 1234.5678125 WHERE rowid = 4"), SQLITE_OK);
  const auto bigEndian = [](std::uint64_t bits) {
    std::string bytes(8, '\0');
    for (int i = 0; i < 8; ++i) bytes[i] = static_cast<char>(bits >> (56 - 8 * i));
    return bytes;
  };
  const std::size_t number = test::ReadFile(lib.FileName).find(bigEndian(std::bit_cast<std::uint64_t>(1234.5678125)));
  ASSERT_NE(number, std::string::npos);
  std::fstream(lib.FileName, std::ios::in | std::ios::out | std::ios::binary)
      .seekp(static_cast<std::streamoff>(number)) << bigEndian(0x7FF8'0000'0000'0000);  // a quiet NaN, written at once
  // Values in another form: text in a number field, a fraction in an integer field and in a yes/no field, a
  // number in a date field (a text there until the rebuilt table below declares it a number's), a number and no
  // bytes in a bytes field; integers of 6 and 8 bytes in the record.
  ASSERT_EQ(raw("UPDATE \"lib.abs\" SET Value = 'abc' WHERE rowid = 100; UPDATE \"lib.abs\" SET Count = 2.5 "
                "WHERE rowid = 5000; UPDATE \"lib.abs\" SET Count = 1 << (rowid - 254) WHERE rowid IN (300, 316); "
                "UPDATE \"lib.abs\" SET \"When\" = 41000.5 WHERE rowid = 7000; UPDATE \"lib.abs\" SET Flag = 2.5 WHERE rowid = 2000; "
                "UPDATE \"lib.abs\" SET Data = 5 WHERE rowid = 6000; UPDATE \"lib.abs\" SET Data = X'' WHERE rowid = 2; "
                "UPDATE \"lib.abs\" SET rowid = 9223372036854775807 WHERE rowid = 9300"),  // 9 bytes of row key in a cell
            SQLITE_OK);
  std::vector<detail::StoredColumn> columns;
  std::string list = "rowid";
  for (int i = 0; i < t.FieldCount(); ++i) {
    columns.push_back(detail::StoredColumn{t.Fields(i).FieldName(), t.Fields(i).DataType(), false});
    list += ", \"" + t.Fields(i).FieldName() + "\"";
  }
  // The records from `after` on as SQL gives them, decoded as the engine decodes a result row.
  const auto expected = [&](std::int64_t after) {
    std::vector<std::pair<std::int64_t, std::vector<Variant>>> rows;
    const std::string sql = "SELECT " + list + " FROM \"lib.abs\" WHERE rowid > " + std::to_string(after);
    test::ForEachRow(lib.FileName, sql + " ORDER BY rowid", [&](sqlite3_stmt* stmt) {
      rows.emplace_back(sqlite3_column_int64(stmt, 0), std::vector<Variant>{});
      detail::DecodeRow(stmt, columns, rows.back().second, 1);
      return true;
    });
    return rows;
  };
  // The first `count` records the cursor shows from where it stands against `rows`; all of them: then it is at the end.
  const auto compare = [&](const std::vector<std::pair<std::int64_t, std::vector<Variant>>>& rows,
                           std::size_t count = SIZE_MAX) {
    std::size_t r = 0;
    for (; r < count && !t.Eof(); ++r, t.Next()) {
      ASSERT_LT(r, rows.size());
      ASSERT_EQ(t.GetBookmark(), rows[r].first);
      for (int i = 0; i < t.FieldCount(); ++i) {
        const Variant value = t.Fields(i).Value();
        const Variant& want = rows[r].second[static_cast<std::size_t>(i)];
        ASSERT_TRUE(value.Type() == (want.IsClear() ? VarType::Null : want.Type()) && Variant::Compare(value, want) == 0)
            << "record " << rows[r].first << ", field " << t.Fields(i).FieldName() << ": " << value.AsString()
            << " where SQL gives " << want.AsString();
      }
    }
    EXPECT_EQ(std::pair(r, t.Eof()), std::pair(std::min(count, rows.size()), count >= rows.size())) << "shown, at end";
  };
  // A scan of every field (ScanRecords, views into SQL's rows) gives each record's values as SQL gives them.
  std::vector<std::string> names;
  for (const detail::StoredColumn& c : columns) names.push_back(c.name);
  const auto all = expected(0);
  std::size_t scanned = 0, differ = 0;
  Variant value;
  t.ScanRecords(names, [&](const std::vector<VariantView>& values) {
    for (std::size_t i = 0; i < values.size(); ++i) {
      value.Assign(values[i]);
      const Variant& want = all[scanned].second[i];
      differ += value.Type() != (want.IsClear() ? VarType::Null : want.Type()) || Variant::Compare(value, want) != 0;
    }
    return ++scanned < all.size();
  });
  EXPECT_EQ(std::pair(scanned, differ), std::pair(all.size(), std::size_t{0}));
  const auto pageWindows = [&] { return detail::TableProbe::Of(t)->pageWindows; };
  const auto bytesRead = [] {  // all this process has read, as Linux counts it
    std::ifstream io("/proc/self/io");
    std::uint64_t n = 0;
    for (std::string name; io >> name >> n && name != "rchar:";) {}
    return n;
  };
  const std::uint64_t readBefore = bytesRead();
  t.First();
  compare(all, 3000);
  // A third of the pages, each read about once (the window of pages stays from walk to walk): below the whole file.
  EXPECT_TRUE(readBefore > 0 && bytesRead() - readBefore < std::filesystem::file_size(lib.FileName));
  EXPECT_GT(pageWindows(), 10U);  // the records came from the pages, not only from SQL
  // Another program changes records the cursor has read the pages of but not yet shown, and deletes one.
  const std::int64_t at = t.GetBookmark();
  ASSERT_EQ(raw("UPDATE \"lib.abs\" SET Value = 777, Kommentar = 'changed' WHERE rowid = " + std::to_string(at + 200) +
                "; DELETE FROM \"lib.abs\" WHERE rowid = " + std::to_string(at + 209)),
            SQLITE_OK);
  compare(expected(at - 1));
  // Another program rebuilds the table under its name (a new b-tree, the record number now its row id), keeps the
  // old one under another name, changes the numbers of the new one and gives a record amid them a memo over one
  // overflow page, the file's last, and the next one NULLs and a memo filling it to the most a page keeps of a
  // record (page size less 35, the last cell on its page): the open cursor reads the new table, from its pages too.
  std::string definition = test::QueryText(lib.FileName, "SELECT sql FROM sqlite_master WHERE name = 'lib.abs'");
  const std::size_t pageSize = std::stoul(test::QueryText(lib.FileName, "PRAGMA page_size"));
  std::string filled;  // 402: a record whose part on its page is that most again, the rest on an overflow page
  for (const std::size_t more : {std::size_t{0}, pageSize - 4}) {
    filled += "UPDATE \"lib.abs\" SET ";  // the header: its size, the type of each value, 2 the memo's
    for (const detail::StoredColumn& c : columns) filled += c.name == "Eintrag" ? "" : "\"" + c.name + "\" = NULL, ";
    filled += "Kommentar = printf('%" + std::to_string(pageSize - 35 - 2 - columns.size() + more) +
              "d', 1) WHERE rowid = " + (more == 0 ? "401; " : "402; ");
  }
  const std::size_t key = definition.find("\"Eintrag\" INTEGER");
  ASSERT_NE(key, std::string::npos) << definition;
  definition.insert(key + 17, " PRIMARY KEY");
  definition.replace(definition.find("\"When\" TEXT"), 11, "\"When\" DATETIME");  // numbers stay numbers
  ASSERT_EQ(raw("BEGIN; ALTER TABLE \"lib.abs\" RENAME TO old; " + definition + "; INSERT INTO \"lib.abs\" SELECT * "
                "FROM old; UPDATE \"lib.abs\" SET Value = Value + 1, Kommentar = iif(rowid = 400, printf('%4200d', 1), "
                "Kommentar); " + filled + "COMMIT"),
            SQLITE_OK);
  const std::uint64_t beforeRebuilt = pageWindows();
  t.First();
  compare(expected(0));
  // The pages gave the records up to the file's last pages, where the new table ends: no walk was refused.
  EXPECT_TRUE(pageWindows() > beforeRebuilt + 10 && detail::TableProbe::Of(t)->stored != nullptr);
  // In a transaction a scan reads the cursor's own changes, which are not in the file yet; its windows hold the
  // keys the pages gave outside it.
  const auto walk = [&] {  // to the record 700, the window there, and that of a jump 2000 on, and back
    std::vector<std::int64_t> keys;
    for (t.First(); t.GetBookmark() < 700;) t.Next();
    for (const std::int32_t by : {2000, -2000}) {
      for (const detail::OrderKey& key : detail::TableProbe::Of(t)->window) keys.push_back(key.rowid);
      t.MoveBy(by);
    }
    return keys;
  };
  const std::vector<std::int64_t> fromPages = walk();
  lib.Database.StartTransaction();
  const std::uint64_t before = pageWindows();
  EXPECT_EQ(walk(), fromPages);
  const std::int64_t edited = t.GetBookmark();
  t.Edit();
  t.FieldByName("Value").SetAsFloat(-5);
  t.Post();
  double seen = 0;
  for (t.First(); !t.Eof(); t.Next())
    if (t.GetBookmark() == edited) seen = t.FieldByName("Value").AsFloat();
  EXPECT_EQ(pageWindows(), before);  // a transaction reads through SQL
  lib.Database.Rollback();
  EXPECT_EQ(seen, -5);
  t.Close();
  // Copies of the file with bytes of its table's pages overwritten are read to the end or refused, never beyond
  // what the file holds (the sanitizer build checks every read).
  std::string bytes;
  {
    std::ifstream in(lib.FileName, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), {});
  }
  std::mt19937 random(2026);
  for (int copy = 0; copy < 30; ++copy) {
    std::string damaged = bytes;
    for (int i = 0; i < 3; ++i)
      damaged[4096 + random() % (damaged.size() - 4096)] = static_cast<char>(random() % 256);
    const std::string name = "damaged" + std::to_string(copy) + ".abs";
    std::ofstream(dir.File(name), std::ios::binary) << damaged;
    LibraryFile other(dir, name, false);
    TABSTable d;
    other.Bind(d, "lib.abs");
    try {
      d.Open();
      std::size_t texts = 0;
      for (d.First(); !d.Eof(); d.Next()) texts += d.FieldByName("Kommentar").AsString().size();
      EXPECT_GT(texts, 0U);
    } catch (const Exception&) {
    }
  }
  // A record that claims more bytes than its page holds (the first of the first leaf, which ends the page), one
  // whose header ends inside the two bytes of its last value's type, a leaf that claims more cells than a page
  // can hold (each of them its first record, over the records after it), a record amid others that claims a
  // byte more than its values fill and one whose header claims more bytes than the record are refused as SQL
  // refuses them.
  const auto byte = [&](std::size_t i) { return static_cast<std::size_t>(static_cast<unsigned char>(bytes[i])); };
  const auto big = [&](std::size_t i, int n) {
    std::size_t v = 0;
    for (int k = 0; k < n; ++k) v = v << 8 | byte(i + static_cast<std::size_t>(k));
    return v;
  };
  const auto start = [&](std::size_t page) { return (page - 1) * pageSize; };
  std::size_t leaf =
      std::stoul(test::QueryText(lib.FileName, "SELECT rootpage FROM sqlite_master WHERE name = 'lib.abs'"));
  while (byte(start(leaf)) == 0x05) leaf = big(start(leaf) + big(start(leaf) + 12, 2), 4);  // the first child
  const std::size_t cell = start(leaf) + big(start(leaf) + 8, 2);  // its size, row id 1 and header size
  ASSERT_LT(byte(cell), 0x70U);
  ASSERT_GE(byte(cell + byte(cell + 2)), 0x80U);
  const std::size_t fifth = start(leaf) + big(start(leaf) + 16, 2);
  ASSERT_LT(byte(fifth), 0x7FU);
  std::vector<std::string> refused(5, bytes);
  refused[0][cell] = static_cast<char>(byte(cell) + 16);
  refused[3][fifth] = static_cast<char>(byte(fifth) + 1);
  refused[1][cell + 2] = static_cast<char>(byte(cell + 2) - 1);
  refused[4][cell + 2] = static_cast<char>(byte(cell) + 1);
  ASSERT_GE(cell - start(leaf), 8 + 2 * 700U);
  refused[2].replace(start(leaf) + 3, 2, "\x02\xBC");  // 700 cells
  for (std::size_t i = 0; i < 700; ++i) refused[2].replace(start(leaf) + 8 + 2 * i, 2, bytes, start(leaf) + 8, 2);
  for (const std::string& damaged : refused) {
    std::ofstream(dir.File("refused.abs"), std::ios::binary | std::ios::trunc) << damaged;
    LibraryFile other(dir, "refused.abs", false);
    TABSTable d;
    other.Bind(d, "lib.abs");
    EXPECT_THROW(
        {
          d.Open();
          for (d.First(); !d.Eof(); d.Next()) d.FieldByName("Kommentar").AsString();
        },
        Exception)
        << &damaged - refused.data();
  }
  // Rebuilt three times more with a column the library does not define, which another program fills: the pages
  // still give the records; with the number declared descending, which SQLite makes no alias of the row id: the
  // records hold the numbers (past the deleted record one more than the row id), read through SQL; and with a
  // column SQLite computes (the number an alias again), which the page reader does not follow: through SQL too.
  definition.insert(definition.rfind(')'), ", Extra");
  for (const int step : {0, 1, 2}) {
    const bool throughSql = step > 0;
    if (step == 1) definition.insert(key + 29, " DESC");
    if (step == 2) definition.erase(key + 29, 5);
    if (step == 2) definition.insert(definition.rfind(')'), ", Twice AS (Value * 2)");
    ASSERT_EQ(raw("BEGIN; DROP TABLE old; ALTER TABLE \"lib.abs\" RENAME TO old; " + definition +
                  "; INSERT INTO \"lib.abs\" SELECT *" + (throughSql ? "" : ", -rowid") + " FROM old; COMMIT"),
              SQLITE_OK);
    t.Open();
    const std::uint64_t windows = pageWindows();
    t.First();
    compare(expected(0));
    EXPECT_EQ(pageWindows() > windows + 10, !throughSql) << step;
    t.Close();
  }
}

INSTANTIATE_TEST_SUITE_P(Orders, NavigationTest, ::testing::Values("", "p", "EN", "AC"),
                         [](const auto& info) { return std::string(*info.param ? info.param : "insertion"); });

}  // namespace
}  // namespace vez

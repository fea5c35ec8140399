// The table engine against raw SQLite on an emission-library-like table of 100 000 records: an auto-increment
// key, a unique case-insensitive name, 31 doubles, 4 integers, 2 booleans and a memo.
//
// Each benchmark times the engine and its raw SQLite reference in the same iteration and reports both per
// record and their ratio (engine / raw), of the wall time ("ratio") and of the thread's CPU time ("cpu_ratio",
// the figure that holds on a busy machine). The raw connection is opened as the engine opens its own (no
// SQLite mutex, the same page cache), so the ratio is the engine's own cost:
//   AppendPost  Append+Post in one transaction vs. one reused prepared INSERT in one transaction
//   Scan        First..Eof reading every field vs. one sqlite3_step loop over the same columns
//   FindKey     look-ups on the primary and on the name index, each outside any transaction, vs. prepared
//               look-ups each in its own implicit transaction
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <ctime>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "BenchFolder.h"
#include "RawRows.h"
#include "core/FormatSettings.h"
#include "librarydb/Absmain.h"

namespace {

using namespace vez;
using Clock = std::chrono::steady_clock;

constexpr int kRecords = 100000;
constexpr int kDoubles = 31;
constexpr int kIntegers = 4;
constexpr int kBooleans = 2;

using bench::BenchFolder;
using bench::ReadRawRows;

std::string ElementName(int i) { return Format("Element %06d", i); }

// CPU time of this thread: on a shared machine the wall time also measures the other programs.
double CpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// Wall and CPU time, summed over runs.
struct Timing {
  double wall = 0, cpu = 0;
  Timing& operator+=(const Timing& o) {
    wall += o.wall;
    cpu += o.cpu;
    return *this;
  }
};

class Stopwatch {
public:
  Timing Elapsed() const {
    return {std::chrono::duration<double>(Clock::now() - wall_).count(), CpuSeconds() - cpu_};
  }

private:
  Clock::time_point wall_ = Clock::now();
  double cpu_ = CpuSeconds();
};

// Creates the library file with its empty table through the engine.
void CreateLibrary(const std::string& file, const std::string& alias) {
  TABSDatabase db;
  db.SetDatabaseFileName(file);
  db.SetDatabaseName(alias);
  db.CreateDatabase();
  TABSTable t;
  t.SetDatabaseName(alias);
  t.SetTableName("emis.abs");
  t.AdvFieldDefs().Add("Eintrag", aftAutoInc);
  t.AdvFieldDefs().Add("ElementName", aftString, 80);
  for (int i = 1; i <= kDoubles; ++i) t.AdvFieldDefs().Add("Values" + std::to_string(i), aftDouble);
  for (int i = 1; i <= kIntegers; ++i) t.AdvFieldDefs().Add("Gruppen" + std::to_string(i), aftInteger);
  for (int i = 1; i <= kBooleans; ++i) t.AdvFieldDefs().Add("Flag" + std::to_string(i), aftBoolean);
  t.AdvFieldDefs().Add("Kommentar", aftMemo, 0, false, 1, 4);
  t.IndexDefs().Add("p", "Eintrag", ixPrimary);
  t.IndexDefs().Add("EN", "ElementName", ixUnique | ixCaseInsensitive);
  t.CreateTable();
}

// A raw connection with the engine's settings: no SQLite mutex (a connection is used by one thread at a time),
// its journal, durability and page cache.
struct RawDb {
  explicit RawDb(const std::string& file) {
    sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
    sqlite3_exec(db, "PRAGMA journal_mode=DELETE; PRAGMA synchronous=FULL; PRAGMA cache_size=-16384", nullptr,
                 nullptr, nullptr);
  }
  ~RawDb() { sqlite3_close_v2(db); }
  sqlite3* db = nullptr;
};

std::string ColumnList() {
  std::string cols = "\"Eintrag\", \"ElementName\"";
  for (int i = 1; i <= kDoubles; ++i) cols += ", \"Values" + std::to_string(i) + "\"";
  for (int i = 1; i <= kIntegers; ++i) cols += ", \"Gruppen" + std::to_string(i) + "\"";
  for (int i = 1; i <= kBooleans; ++i) cols += ", \"Flag" + std::to_string(i) + "\"";
  return cols + ", \"Kommentar\"";
}
constexpr int kColumns = 2 + kDoubles + kIntegers + kBooleans + 1;

const std::string& Memo() {
  static const std::string memo = "A short comment on the element.";
  return memo;
}

Timing RawInsert(const std::string& file) {
  RawDb raw(file);
  std::string params = "?";
  for (int i = 1; i < kColumns; ++i) params += ", ?";
  const std::string sql = "INSERT INTO \"emis.abs\" (" + ColumnList() + ") VALUES (" + params + ")";
  const Stopwatch watch;
  sqlite3_exec(raw.db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
  sqlite3_stmt* stmt = nullptr;
  sqlite3_prepare_v2(raw.db, sql.c_str(), -1, &stmt, nullptr);
  for (int r = 0; r < kRecords; ++r) {
    int c = 1;
    sqlite3_bind_int64(stmt, c++, r + 1);
    const std::string name = ElementName(r);
    sqlite3_bind_text(stmt, c++, name.data(), static_cast<int>(name.size()), SQLITE_STATIC);
    for (int i = 0; i < kDoubles; ++i) sqlite3_bind_double(stmt, c++, r * 0.5 + i);
    for (int i = 0; i < kIntegers; ++i) sqlite3_bind_int64(stmt, c++, r + i);
    for (int i = 0; i < kBooleans; ++i) sqlite3_bind_int64(stmt, c++, (r + i) % 2);
    sqlite3_bind_text(stmt, c++, Memo().data(), static_cast<int>(Memo().size()), SQLITE_STATIC);
    sqlite3_step(stmt);
    sqlite3_reset(stmt);
  }
  sqlite3_finalize(stmt);
  sqlite3_exec(raw.db, "COMMIT", nullptr, nullptr, nullptr);
  return watch.Elapsed();
}

Timing EngineInsert(const std::string& file, const std::string& alias) {
  TABSDatabase db;
  db.SetDatabaseFileName(file);
  db.SetDatabaseName(alias);
  TABSTable t;
  t.SetDatabaseName(alias);
  t.SetTableName("emis.abs");
  t.Open();
  std::vector<TField*> doubles, integers, booleans;
  for (int i = 1; i <= kDoubles; ++i) doubles.push_back(&t.FieldByName("Values" + std::to_string(i)));
  for (int i = 1; i <= kIntegers; ++i) integers.push_back(&t.FieldByName("Gruppen" + std::to_string(i)));
  for (int i = 1; i <= kBooleans; ++i) booleans.push_back(&t.FieldByName("Flag" + std::to_string(i)));
  TField& name = t.FieldByName("ElementName");
  TField& memo = t.FieldByName("Kommentar");
  const Stopwatch watch;
  db.StartTransaction();
  for (int r = 0; r < kRecords; ++r) {
    t.Append();
    name.SetAsString(ElementName(r));
    for (int i = 0; i < kDoubles; ++i) doubles[i]->SetAsFloat(r * 0.5 + i);
    for (int i = 0; i < kIntegers; ++i) integers[i]->SetAsInteger(r + i);
    for (int i = 0; i < kBooleans; ++i) booleans[i]->SetAsBoolean((r + i) % 2 != 0);
    memo.SetAsString(Memo());
    t.Post();
  }
  db.Commit();
  return watch.Elapsed();
}

void ReportRatio(benchmark::State& state, const Timing& engine, const Timing& raw, int operations) {
  state.counters["engine_us_per_op"] = engine.wall * 1e6 / operations;
  state.counters["raw_us_per_op"] = raw.wall * 1e6 / operations;
  state.counters["ratio"] = engine.wall / raw.wall;
  state.counters["cpu_ratio"] = engine.cpu / raw.cpu;
}

void BM_AppendPost(benchmark::State& state) {
  Timing engine, raw;
  int round = 0;
  for (auto _ : state) {
    BenchFolder folder;
    const std::string rawFile = folder.File("raw.abs"), engineFile = folder.File("engine.abs");
    CreateLibrary(rawFile, "bench-raw-" + std::to_string(round));
    CreateLibrary(engineFile, "bench-engine-" + std::to_string(round));
    raw += RawInsert(rawFile);
    engine += EngineInsert(engineFile, "bench-engine-" + std::to_string(round));
    ++round;
  }
  ReportRatio(state, engine, raw, kRecords * round);
}
BENCHMARK(BM_AppendPost)->Iterations(2)->Unit(benchmark::kMillisecond);

// A filled library shared by the reading benchmarks.
class FilledLibrary {
public:
  FilledLibrary() {
    CreateLibrary(folder_.File("emis.abs"), "bench-filled");
    EngineInsert(folder_.File("emis.abs"), "bench-filled");
  }
  std::string File() const { return folder_.File("emis.abs"); }

private:
  BenchFolder folder_;
};

FilledLibrary& Filled() {
  static FilledLibrary library;
  return library;
}

[[gnu::noinline]] Timing RawScan(const std::string& file, double& sink) {
  RawDb raw(file);
  const Stopwatch watch;
  sqlite3_stmt* stmt = nullptr;
  sqlite3_prepare_v2(raw.db, ("SELECT " + ColumnList() + " FROM \"emis.abs\"").c_str(), -1, &stmt, nullptr);
  while (sqlite3_step(stmt) == SQLITE_ROW) {
    int c = 0;
    sink += static_cast<double>(sqlite3_column_int64(stmt, c++));
    sink += static_cast<double>(std::string(reinterpret_cast<const char*>(sqlite3_column_text(stmt, c)),
                                            static_cast<std::size_t>(sqlite3_column_bytes(stmt, c))).size());
    ++c;
    for (int i = 0; i < kDoubles; ++i) sink += sqlite3_column_double(stmt, c++);
    for (int i = 0; i < kIntegers; ++i) sink += static_cast<double>(sqlite3_column_int64(stmt, c++));
    for (int i = 0; i < kBooleans; ++i) sink += sqlite3_column_int64(stmt, c++) != 0 ? 1 : 0;
    sink += static_cast<double>(std::string(reinterpret_cast<const char*>(sqlite3_column_text(stmt, c)),
                                            static_cast<std::size_t>(sqlite3_column_bytes(stmt, c))).size());
  }
  sqlite3_finalize(stmt);
  return watch.Elapsed();
}

Timing EngineScan(const std::string& file, double& sink) {
  TABSDatabase db;
  db.SetDatabaseFileName(file);
  db.SetDatabaseName("bench-scan");
  TABSTable t;
  t.SetDatabaseName("bench-scan");
  t.SetTableName("emis.abs");
  const Stopwatch watch;
  t.Open();
  const int count = t.FieldCount();
  for (t.First(); !t.Eof(); t.Next()) {
    sink += t.Fields(0).AsInteger();
    sink += static_cast<double>(t.Fields(1).AsString().size());
    int c = 2;
    for (int i = 0; i < kDoubles; ++i) sink += t.Fields(c++).AsFloat();
    for (int i = 0; i < kIntegers; ++i) sink += t.Fields(c++).AsInteger();
    for (int i = 0; i < kBooleans; ++i) sink += t.Fields(c++).AsBoolean() ? 1 : 0;
    sink += static_cast<double>(t.Fields(count - 1).AsString().size());
  }
  t.Close();
  return watch.Elapsed();
}

void BM_Scan(benchmark::State& state) {
  const std::string file = Filled().File();
  Timing engine, raw;
  double sink = 0;
  int rounds = 0;
  for (auto _ : state) {
    raw += RawScan(file, sink);
    engine += EngineScan(file, sink);
    ++rounds;
  }
  benchmark::DoNotOptimize(sink);
  ReportRatio(state, engine, raw, kRecords * rounds);
}
BENCHMARK(BM_Scan)->Iterations(3)->Unit(benchmark::kMillisecond);

std::vector<int> LookupOrder() {
  std::vector<int> order(kRecords);
  std::iota(order.begin(), order.end(), 0);
  std::shuffle(order.begin(), order.end(), std::mt19937(12345));
  return order;
}

Timing RawLookups(const std::string& file, bool byName, double& sink) {
  RawDb raw(file);
  const std::vector<int> order = LookupOrder();
  const std::string where = byName ? "\"ElementName\" = ?1 COLLATE NOCASE" : "\"Eintrag\" = ?1";
  sqlite3_stmt* stmt = nullptr;
  sqlite3_prepare_v2(raw.db, ("SELECT " + ColumnList() + " FROM \"emis.abs\" WHERE " + where).c_str(), -1, &stmt,
                     nullptr);
  const Stopwatch watch;
  for (int r : order) {
    if (byName) {
      const std::string name = ElementName(r);
      sqlite3_bind_text(stmt, 1, name.data(), static_cast<int>(name.size()), SQLITE_TRANSIENT);
    } else {
      sqlite3_bind_int64(stmt, 1, r + 1);
    }
    if (sqlite3_step(stmt) == SQLITE_ROW) sink += sqlite3_column_double(stmt, 2);
    sqlite3_reset(stmt);
  }
  sqlite3_finalize(stmt);
  return watch.Elapsed();
}

Timing EngineLookups(const std::string& file, bool byName, double& sink) {
  TABSDatabase db;
  db.SetDatabaseFileName(file);
  db.SetDatabaseName("bench-find");
  TABSTable t;
  t.SetDatabaseName("bench-find");
  t.SetTableName("emis.abs");
  t.SetIndexName(byName ? "EN" : "p");
  t.Open();
  const std::vector<int> order = LookupOrder();
  TField& value = t.Fields(2);
  const Stopwatch watch;
  for (int r : order) {
    const bool found = byName ? t.FindKey({Variant(ElementName(r))}) : t.FindKey({Variant(r + 1)});
    if (found) sink += value.AsFloat();
  }
  return watch.Elapsed();
}

void BM_FindKey(benchmark::State& state) {
  const bool byName = state.range(0) != 0;
  const std::string file = Filled().File();
  Timing engine, raw;
  double sink = 0;
  int rounds = 0;
  for (auto _ : state) {
    raw += RawLookups(file, byName, sink);
    engine += EngineLookups(file, byName, sink);
    ++rounds;
  }
  benchmark::DoNotOptimize(sink);
  state.SetLabel(byName ? "name index" : "primary index");
  ReportRatio(state, engine, raw, kRecords * rounds);
}
BENCHMARK(BM_FindKey)->Arg(0)->Arg(1)->Iterations(2)->Unit(benchmark::kMillisecond);


// ---- a page of 50 records at the first, middle and last position of 1 000 000 ----
//
// Page   the engine on an open table in the order of the primary index (First, MoveBy to the offset, every field
//        of 50 records read) against a raw keyset query of the same rows on an open connection (the key of the
//        first row known, WHERE "Eintrag" >= key ORDER BY "Eintrag" LIMIT 50). Paired rounds; the medians and
//        the median ratio with the lowest and highest ratio of a round. The first page of the open table, which
//        makes the marks of the index, is reported on its own (first_page_ms).

namespace page {

constexpr int kLarge = 1000000;
constexpr int kPage = 50;
constexpr int kRounds = 31;

// The 1 000 000-record library, made once: the table by the engine, the records by raw inserts without journal.
const std::string& LargeFile() {
  static BenchFolder folder;
  static const std::string file = [] {
    const std::string f = folder.File("emis.abs");
    CreateLibrary(f, "bench-large");
    RawDb raw(f);
    sqlite3_exec(raw.db, "PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF; BEGIN", nullptr, nullptr, nullptr);
    std::string params = "?";
    for (int i = 1; i < kColumns; ++i) params += ", ?";
    sqlite3_stmt* stmt = nullptr;
    sqlite3_prepare_v2(raw.db, ("INSERT INTO \"emis.abs\" (" + ColumnList() + ") VALUES (" + params + ")").c_str(), -1,
                       &stmt, nullptr);
    for (int r = 0; r < kLarge; ++r) {
      int c = 1;
      sqlite3_bind_int64(stmt, c++, r + 1);
      const std::string name = Format("Element %07d", r);
      sqlite3_bind_text(stmt, c++, name.data(), static_cast<int>(name.size()), SQLITE_TRANSIENT);
      for (int i = 0; i < kDoubles; ++i) sqlite3_bind_double(stmt, c++, r * 0.5 + i);
      for (int i = 0; i < kIntegers; ++i) sqlite3_bind_int64(stmt, c++, r + i);
      for (int i = 0; i < kBooleans; ++i) sqlite3_bind_int64(stmt, c++, (r + i) % 2);
      sqlite3_bind_text(stmt, c++, Memo().data(), static_cast<int>(Memo().size()), SQLITE_STATIC);
      sqlite3_step(stmt);
      sqlite3_reset(stmt);
    }
    sqlite3_finalize(stmt);
    sqlite3_exec(raw.db, "COMMIT; PRAGMA journal_mode=DELETE", nullptr, nullptr, nullptr);
    return f;
  }();
  return file;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

void BM_Page(benchmark::State& state) {
  const int offset = state.range(0) == 0 ? 0 : state.range(0) == 1 ? kLarge / 2 : kLarge - kPage;
  const std::string& file = LargeFile();
  TABSDatabase db;
  db.SetDatabaseFileName(file);
  db.SetDatabaseName("bench-page");
  db.SetReadOnly(true);
  TABSTable t;
  t.SetDatabaseName("bench-page");
  t.SetTableName("emis.abs");
  t.SetIndexName("p");
  t.Open();
  RawDb raw(file);
  sqlite3_stmt* keyset = nullptr;
  sqlite3_prepare_v2(raw.db, ("SELECT " + ColumnList() + " FROM \"emis.abs\" WHERE \"Eintrag\" >= ?1 ORDER BY \"Eintrag\" LIMIT " +
                              std::to_string(kPage)).c_str(), -1, &keyset, nullptr);
  double sink = 0;
  const auto enginePage = [&] {
    const auto start = Clock::now();
    t.First();
    t.MoveBy(offset);
    for (int n = 0; n < kPage && !t.Eof(); ++n, t.Next())
      for (int i = 0; i < t.FieldCount(); ++i) sink += t.Fields(i).Value().IsNull() ? 0 : 1;
    return std::chrono::duration<double>(Clock::now() - start).count();
  };
  const auto rawPage = [&] {
    const auto start = Clock::now();
    sqlite3_bind_int64(keyset, 1, offset + 1);
    sink += static_cast<double>(ReadRawRows(keyset));
    return std::chrono::duration<double>(Clock::now() - start).count();
  };
  const double first = enginePage();
  std::vector<double> engine, reference, ratio;
  for (auto _ : state) {
    for (int r = 0; r < kRounds; ++r) {
      reference.push_back(rawPage());
      engine.push_back(enginePage());
      ratio.push_back(engine.back() / reference.back());
    }
  }
  sqlite3_finalize(keyset);
  benchmark::DoNotOptimize(sink);
  if (sink != static_cast<double>(kPage) * kColumns * (1 + 2 * static_cast<double>(engine.size())))
    state.SkipWithError("a page was not read whole");
  state.SetLabel(state.range(0) == 0 ? "first" : state.range(0) == 1 ? "middle" : "last");
  state.counters["first_page_ms"] = first * 1e3;
  state.counters["engine_ms"] = Median(engine) * 1e3;
  state.counters["raw_ms"] = Median(reference) * 1e3;
  state.counters["ratio"] = Median(ratio);
  state.counters["ratio_low"] = *std::min_element(ratio.begin(), ratio.end());
  state.counters["ratio_high"] = *std::max_element(ratio.begin(), ratio.end());
}
BENCHMARK(BM_Page)->Arg(0)->Arg(1)->Arg(2)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace page

}  // namespace

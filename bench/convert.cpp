// Converting a 100 000-record emission library from Paradox against its parts done by hand, in the same run.
//
// The Paradox table has the emission library's own field names (an auto-increment number, an 80-character name,
// the 31 spectrum values, 4 group numbers, 2 flags, 2 small integers and a short memo), so every value finds its
// column. The reference is the sum of
//   - our reader loading the file into its workbook (what the conversion reads with), and
//   - one raw prepared INSERT, reused, in one transaction, writing the same rows into the same library table
//     (every column of the layout bound, the new-record defaults included),
// and the ratio conversion / reference is reported as the counter "ratio" (wall time) and "cpu_ratio" (CPU time
// of the thread, the figure that holds on a busy machine). The conversion measured against the reference is the
// one without verification; the conversion with verification (every library read back and compared with its
// table, the default) is reported against it as "verify_ratio" and "verify_cpu_ratio". Each time is the best of
// a few runs in the same iteration.
//
// BM_ConvertPeakMemory converts tables of 100 000 and 1 000 000 records in a child process and reports the
// child's peak resident memory ("peak_rss_mb"): records stream into the library, so it must not grow with the
// table (the 1 000 000-record table is about 400 MB of Paradox data).
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <malloc.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "convert/ConvertParadox.h"
#include "BenchFolder.h"
#include "core/FormatSettings.h"
#include "import/SMParadox.h"
#include "librarydb/Absmain.h"
#include "librarydb/Layouts.h"
#include "librarydb/OVLibConst.h"
#include "pxwriter/EmissionTable.h"

namespace {

using namespace vez;
using Clock = std::chrono::steady_clock;

constexpr int kRecords = 100000;

using bench::BenchFolder;

void WriteParadox(const std::string& path, int records = kRecords) {
  pxw::EmissionLibraryTable(records).Write(path);
}

double Seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

// CPU time of this thread: on a shared machine the wall time also measures the other programs.
double CpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// The library table made empty through the engine, then filled by one raw prepared INSERT of every column.
double RawInsert(const std::string& dir, const TDBParadox& reader, double& cpu) {
  const std::string file = dir + "raw/emis.abs";
  std::filesystem::create_directories(dir + "raw");
  {
    TMyTable lib(file, false, false);
    SetFieldIndexDefs(lib.Table(), ltEmis, true);
    lib.CreateDBTable();
  }
  const auto layout = LibraryLayout(ltEmis);
  const auto& fields = reader.Fields();
  // Column i of the layout takes Paradox field source[i], or the constant of a default when -1.
  std::vector<int> source;
  std::string sql = "INSERT INTO \"emis.abs\" (", values;
  for (const auto& col : layout->Fields) {
    int s = -1;
    for (std::size_t j = 0; j < fields.size(); ++j)
      if (SameText(fields[j].Name, col.Name)) s = static_cast<int>(j);
    source.push_back(s);
    if (!values.empty()) sql += ",", values += ",";
    sql += "\"" + col.Name + "\"";
    values += "?";
  }
  sql += ") VALUES (" + values + ")";

  const auto start = Clock::now();
  const double cpuStart = CpuSeconds();
  sqlite3* db = nullptr;
  sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
  sqlite3_exec(db, "PRAGMA journal_mode=DELETE; PRAGMA synchronous=FULL; BEGIN", nullptr, nullptr, nullptr);
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr);
  const TSpreadSheet& sheet = reader.Sheets()[0];
  const std::string now = DateTimeToISO(Now());
  for (int r = 0; r < reader.RecordsRead(); ++r) {
    for (std::size_t c = 0; c < source.size(); ++c) {
      const int col = static_cast<int>(c) + 1;
      if (source[c] < 0) {
        // The values the new-record defaults give: -199 dB bands, zero numbers, the time of the change.
        if (layout->Fields[c].Kind == ColumnKind::DateTime) sqlite3_bind_text(st, col, now.c_str(), -1, SQLITE_STATIC);
        else if (layout->Fields[c].Kind == ColumnKind::Text) sqlite3_bind_null(st, col);
        else sqlite3_bind_int(st, col, 0);
        continue;
      }
      const Variant v = sheet.Cells.GetValue(source[c], r);
      switch (v.Type()) {
        case VarType::Integer: sqlite3_bind_int64(st, col, v.RawInteger()); break;
        case VarType::Double: sqlite3_bind_double(st, col, v.RawDouble()); break;
        case VarType::Boolean: sqlite3_bind_int(st, col, v.RawBool() ? 1 : 0); break;
        case VarType::String: sqlite3_bind_text(st, col, v.RawString().data(), static_cast<int>(v.RawString().size()), SQLITE_TRANSIENT); break;
        default: sqlite3_bind_null(st, col); break;
      }
    }
    sqlite3_step(st);
    sqlite3_reset(st);
  }
  sqlite3_finalize(st);
  sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
  sqlite3_close_v2(db);
  cpu = CpuSeconds() - cpuStart;
  return Seconds(start, Clock::now());
}

// Wall and CPU time of one run of `work`.
struct Timing {
  double wall = 0, cpu = 0;
};
template <class Work>
Timing Time(Work work) {
  const auto t0 = Clock::now();
  const double c0 = CpuSeconds();
  work();
  return {Seconds(t0, Clock::now()), CpuSeconds() - c0};
}
Timing Best(const Timing& a, const Timing& b) { return {std::min(a.wall, b.wall), std::min(a.cpu, b.cpu)}; }

void BM_ConvertEmission(benchmark::State& state) {
  BenchFolder folder;
  WriteParadox(folder.Dir() + "emis.db");
  // Each figure is the best of three runs (of two for the reference), the conversion with and without
  // verification taking turns: on a shared machine the fastest run is the one least disturbed.
  constexpr Timing kNone{1e30, 1e30};
  for (auto _ : state) {
    TConvertOptions unverified;
    unverified.Verify = false;
    Timing convert = kNone, verified = kNone, load = kNone, insert = kNone;
    for (int round = 0; round < 3; ++round) {
      TConvertedTable report;
      std::filesystem::remove(folder.Dir() + "emis.abs");
      convert = Best(convert, Time([&] {
        ParadoxToABS(nullptr, nullptr, folder.Dir(), folder.Dir(), "emis.db", "emis.abs", &report, unverified);
      }));
      if (report.RecordsWritten != kRecords) state.SkipWithError("conversion lost records");
      std::filesystem::remove(folder.Dir() + "emis.abs");
      verified = Best(verified, Time([&] {
        ParadoxToABS(nullptr, nullptr, folder.Dir(), folder.Dir(), "emis.db", "emis.abs", &report, TConvertOptions{});
      }));
      if (!report.Complete) state.SkipWithError("the verified conversion is not complete");
    }
    for (int round = 0; round < 2; ++round) {
      std::filesystem::remove_all(folder.Dir() + "raw");
      TDBParadox reader;
      load = Best(load, Time([&] {
        reader.StepLoading = false;
        reader.LoadFromFile(folder.Dir() + "emis.db");
      }));
      Timing raw;
      raw.wall = RawInsert(folder.Dir(), reader, raw.cpu);
      insert = Best(insert, raw);
    }

    state.SetIterationTime(convert.wall);
    state.counters["convert_s"] = convert.wall;
    state.counters["reader_load_s"] = load.wall;
    state.counters["raw_insert_s"] = insert.wall;
    state.counters["ratio"] = convert.wall / (load.wall + insert.wall);
    state.counters["cpu_ratio"] = convert.cpu / (load.cpu + insert.cpu);
    state.counters["verified_s"] = verified.wall;
    state.counters["verify_ratio"] = verified.wall / convert.wall;
    state.counters["verify_cpu_ratio"] = verified.cpu / convert.cpu;
  }
}
BENCHMARK(BM_ConvertEmission)->UseManualTime()->Iterations(2)->Unit(benchmark::kMillisecond);

// Runs `work` in a child process; gives the child's peak resident memory in MB (-1 when it failed).
template <class Work>
double ChildPeakRssMB(Work work) {
  malloc_trim(0);  // what the parent freed leaves its resident set before the child inherits it
  const pid_t pid = fork();
  if (pid == 0) {
    _exit(work() ? 0 : 1);
  }
  int status = 0;
  struct rusage usage {};
  if (pid < 0 || wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
    return -1;
  return static_cast<double>(usage.ru_maxrss) / 1024.0;  // ru_maxrss is in KB
}

void BM_ConvertPeakMemory(benchmark::State& state) {
  const int records = static_cast<int>(state.range(0));
  BenchFolder folder;
  // The table is written by a child of its own, so the writer's memory stays out of the conversion's figures.
  if (ChildPeakRssMB([&] {
        WriteParadox(folder.Dir() + "emis.db", records);
        return true;
      }) < 0) {
    state.SkipWithError("cannot write the table");
    return;
  }
  for (auto _ : state) {
    std::filesystem::remove(folder.Dir() + "emis.abs");
    const auto t0 = Clock::now();
    const double peak = ChildPeakRssMB([&] {
      TConvertedTable report;
      ParadoxToABS(nullptr, nullptr, folder.Dir(), folder.Dir(), "emis.db", "emis.abs", &report);
      return report.RecordsWritten == records;
    });
    if (peak < 0) state.SkipWithError("conversion lost records");
    state.SetIterationTime(Seconds(t0, Clock::now()));
    state.counters["peak_rss_mb"] = peak;
    state.counters["records"] = records;
  }
}
BENCHMARK(BM_ConvertPeakMemory)->Arg(100000)->Arg(1000000)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

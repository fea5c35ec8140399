// vezi serve against the library calls it serves, measured in the same run.
//
//   BM_RecordsPage  a page of 50 records of a 1 000 000-record emission-like library (40 columns) at its first,
//                   middle and last position, in the order of the primary index: GET /api/records over HTTP (a
//                   keep-alive client, the JSON body received whole) against a raw keyset query of the same rows
//                   on an open connection (WHERE "Eintrag" >= key ORDER BY "Eintrag" LIMIT 50, every column
//                   read). 1001 paired rounds, a few seconds, so that a median holds while other programs load
//                   the machine: the medians, the median ratio and the lowest and highest ratio of a round; the
//                   first request, which opens the library and makes the marks of its index, on its own
//                   (first_ms). Target: ratio <= 5.
//   BM_Conversion   a 100 000-record Paradox emission table converted while a client follows the conversion
//                   window's events (POST /api/convert, the event stream read to its end) against
//                   ConvertParadoxFiles called as `vezi convert` calls it, each on its own copy of the folder.
//                   Target: ratio <= 1.05.
#include <benchmark/benchmark.h>
#include <httplib.h>
#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "BenchFolder.h"
#include "RawRows.h"
#include "convert/ConvertParadox.h"
#include "core/FormatSettings.h"
#include "librarydb/Absmain.h"
#include "pxwriter/EmissionTable.h"
#include "web/WebServer.h"

namespace {

using namespace vez;
using Clock = std::chrono::steady_clock;
using bench::BenchFolder;
using bench::ReadRawRows;
namespace fs = std::filesystem;

double Seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

// A server on a free port of the folder, running on a thread of its own.
class Served {
public:
  explicit Served(const std::string& folder) {
    TServeOptions options;
    options.Folder = folder;
    options.Port = 0;
    server_ = std::make_unique<TWebServer>(options);
    thread_ = std::thread([this] { server_->Run(); });
    client = std::make_unique<httplib::Client>("127.0.0.1", server_->Port());
    client->set_keep_alive(true);
    client->set_read_timeout(600);
    client->set_default_headers({{"X-Vezi-Token", server_->Token()}});
  }
  ~Served() {
    server_->Stop();
    thread_.join();
    server_->WaitForJobs();
  }
  std::unique_ptr<httplib::Client> client;

private:
  std::unique_ptr<TWebServer> server_;
  std::thread thread_;
};

constexpr int kLibraryRecords = 1000000;
constexpr int kPage = 50;

// emis.abs with 1 000 000 records: the table made by the engine, the records written by one raw INSERT.
void MakeLibrary(const std::string& file) {
  {
    TABSDatabase db;
    db.SetDatabaseFileName(file);
    db.SetDatabaseName("bench-web");
    db.CreateDatabase();
    TABSTable t;
    t.SetDatabaseName("bench-web");
    t.SetTableName("emis.abs");
    t.AdvFieldDefs().Add("Eintrag", aftAutoInc);
    t.AdvFieldDefs().Add("ElementName", aftString, 80);
    for (int i = 1; i <= 31; ++i) t.AdvFieldDefs().Add("Values" + std::to_string(i), aftDouble);
    for (int i = 1; i <= 4; ++i) t.AdvFieldDefs().Add("Gruppen" + std::to_string(i), aftInteger);
    for (int i = 1; i <= 2; ++i) t.AdvFieldDefs().Add("Flag" + std::to_string(i), aftBoolean);
    t.AdvFieldDefs().Add("Kommentar", aftMemo);
    t.IndexDefs().Add("p", "Eintrag", ixPrimary);
    t.IndexDefs().Add("EN", "ElementName", ixUnique | ixCaseInsensitive);
    t.CreateTable();
  }
  std::string sql = "INSERT INTO \"emis.abs\" VALUES (?1, ?2";
  for (int c = 3; c <= 40; ++c) sql += ", ?" + std::to_string(c);
  sql += ")";
  sqlite3* db = nullptr;
  sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
  // Setting the data up is not measured: no journal, no sync, a large page cache.
  sqlite3_exec(db, "PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF; PRAGMA cache_size=-262144; BEGIN", nullptr,
               nullptr, nullptr);
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr);
  std::mt19937 random(7);
  for (int r = 1; r <= kLibraryRecords; ++r) {
    const std::string name = Format("Element %07d", r);
    sqlite3_bind_int(st, 1, r);
    sqlite3_bind_text(st, 2, name.c_str(), -1, SQLITE_TRANSIENT);
    for (int c = 3; c <= 33; ++c) sqlite3_bind_double(st, c, 40.0 + static_cast<double>(random() % 4000) / 100.0);
    for (int c = 34; c <= 37; ++c) sqlite3_bind_int(st, c, static_cast<int>(random() % 100));
    for (int c = 38; c <= 39; ++c) sqlite3_bind_int(st, c, r % 2);
    sqlite3_bind_text(st, 40, "A short comment on the element.", -1, SQLITE_STATIC);
    sqlite3_step(st);
    sqlite3_reset(st);
  }
  sqlite3_finalize(st);
  sqlite3_exec(db, "COMMIT; PRAGMA journal_mode=DELETE", nullptr, nullptr, nullptr);
  sqlite3_close_v2(db);
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

const std::string& PageFolder() {
  static BenchFolder folder;
  static const bool made = [] {
    const auto t0 = Clock::now();
    MakeLibrary(folder.File("emis.abs"));
    std::fprintf(stderr, "library of %d records made in %.1f s\n", kLibraryRecords, Seconds(t0, Clock::now()));
    return true;
  }();
  static const std::string dir = made ? folder.Dir() : std::string();
  return dir;
}

void BM_RecordsPage(benchmark::State& state) {
  const int offset = state.range(0) == 0 ? 0 : state.range(0) == 1 ? kLibraryRecords / 2 : kLibraryRecords - kPage;
  const std::string& dir = PageFolder();
  Served served(dir);
  sqlite3* raw = nullptr;
  sqlite3_open_v2((dir + "emis.abs").c_str(), &raw, SQLITE_OPEN_READONLY, nullptr);
  sqlite3_stmt* keyset = nullptr;
  sqlite3_prepare_v2(raw, "SELECT * FROM \"emis.abs\" WHERE \"Eintrag\" >= ?1 ORDER BY \"Eintrag\" LIMIT 50", -1,
                     &keyset, nullptr);
  std::size_t values = 0;
  const auto rawPage = [&] {
    const auto t0 = Clock::now();
    sqlite3_bind_int64(keyset, 1, offset + 1);
    values += ReadRawRows(keyset);
    return Seconds(t0, Clock::now());
  };
  const std::string path = "/api/records?path=emis.abs&limit=50&offset=" + std::to_string(offset);
  bool whole = true;
  const auto webPage = [&] {
    const auto t0 = Clock::now();
    const auto r = served.client->Get(path);
    const double seconds = Seconds(t0, Clock::now());
    whole = whole && r && r->status == 200 &&
            r->body.find("\"Eintrag\":" + std::to_string(offset + 1) + ",") != std::string::npos &&
            r->body.find("\"Eintrag\":" + std::to_string(offset + kPage) + ",") != std::string::npos;
    return seconds;
  };
  const double first = webPage();
  std::vector<double> web, reference, ratio;
  for (auto _ : state) {
    for (int round = 0; round < 1001; ++round) {
      reference.push_back(rawPage());
      web.push_back(webPage());
      ratio.push_back(web.back() / reference.back());
    }
    state.SetIterationTime(Median(web));
  }
  sqlite3_finalize(keyset);
  sqlite3_close_v2(raw);
  if (!whole || values != reference.size() * kPage * 40) state.SkipWithError("the page was not served whole");
  state.SetLabel(state.range(0) == 0 ? "first" : state.range(0) == 1 ? "middle" : "last");
  state.counters["first_ms"] = first * 1000;
  state.counters["web_ms"] = Median(web) * 1000;
  state.counters["raw_ms"] = Median(reference) * 1000;
  state.counters["ratio"] = Median(ratio);
  state.counters["ratio_low"] = *std::min_element(ratio.begin(), ratio.end());
  state.counters["ratio_high"] = *std::max_element(ratio.begin(), ratio.end());
}
BENCHMARK(BM_RecordsPage)->Arg(0)->Arg(1)->Arg(2)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

constexpr int kParadoxRecords = 100000;

void WriteParadox(const std::string& path) { pxw::EmissionLibraryTable(kParadoxRecords).Write(path); }

void BM_Conversion(benchmark::State& state) {
  BenchFolder folder;
  fs::create_directories(folder.Dir() + "source");
  WriteParadox(folder.Dir() + "source/emis.db");
  Served served(folder.Dir());
  int run = 0;
  double cliSum = 0, webSum = 0;
  for (auto _ : state) {
    const std::string cli = "cli" + std::to_string(run), web = "web" + std::to_string(run++);
    fs::copy(folder.Dir() + "source", folder.Dir() + cli);
    fs::copy(folder.Dir() + "source", folder.Dir() + web);

    auto t0 = Clock::now();
    TConversionView quiet;  // `vezi convert` off a terminal shows nothing
    TConversionSummary summary;
    ConvertParadoxFiles(folder.Dir() + cli, false, false, &quiet, &summary);
    const double direct = Seconds(t0, Clock::now());

    t0 = Clock::now();
    const auto started = served.client->Post("/api/convert", "{\"path\":\"" + web + "\"}", "application/json");
    std::string events;
    if (started && started->status == 202) {
      const std::string job = started->body.substr(started->body.find(':') + 1, started->body.find('}') - started->body.find(':') - 1);
      served.client->Get("/api/convert/events?job=" + job, [&](const char* data, std::size_t n) {
        events.append(data, n);
        return events.find("event: end\n") == std::string::npos;
      });
    }
    const double watched = Seconds(t0, Clock::now());
    if (events.find("\"records_written\":" + std::to_string(kParadoxRecords)) == std::string::npos ||
        summary.Tables.empty() || summary.Tables[0].RecordsWritten != kParadoxRecords)
      state.SkipWithError("a conversion lost records");
    state.SetIterationTime(watched);
    cliSum += direct;
    webSum += watched;
  }
  state.counters["cli_s"] = cliSum / static_cast<double>(state.iterations());
  state.counters["web_s"] = webSum / static_cast<double>(state.iterations());
  state.counters["ratio"] = webSum / cliSum;
}
BENCHMARK(BM_Conversion)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace

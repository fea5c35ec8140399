// Importing a 100 000-line x 30-column .xlsx into a new emission library, against its parts done by hand, in
// the same run:
//   - BM_ImportXlsx: ImportIntoLibrary (auto link, name check, new-record defaults, conversion, one
//     transaction) against the reference = our .xlsx reader alone (cells into memory as it gives them: a number
//     cell as its double, others as text) + one raw prepared
//     INSERT, reused, in one transaction, of the same rows into the same library table (every column of the
//     layout bound, the defaults included). Counter "ratio" = import / reference (the median of five paired
//     rounds; "ratio_min" and "ratio_max" their spread). "peak_import_MiB" is the process's peak resident memory
//     during the import alone (the peak is reset before it); "grid_peak_MiB" that of loading the file into the
//     import's grid alone, above the memory before it, beside "cells_text_MiB", the cells' own size (a text's bytes, 8 a number),
//     and "grid_text_MiB", what the grid's text counts against the loader's text limit.
//   - BM_ImportCsv/N: the same for an N-line x 31-column comma-separated file (N = 25 000, 100 000, 200 000
//     and 400 000; names quoted, some holding the separator), the reference reading it with our text reader. The import streams
//     its rows into the library, so its memory must not grow with the lines: "before_import_MiB" is the
//     process's resident memory before it, "sqlite_peak_MiB" SQLite's own heap at its peak during it (its page
//     cache grows with the library, "library_MiB", up to the engine's cache size of 16 MiB, and stays there),
//     and "peak_import_MiB" must be the same at 100 000, 200 000 and 400 000 lines, where the cache is full.
//   - BM_ImportXls: the same for a 65 000-line x 30-column .xls written by xlwt (tools/write-bench-xls.py,
//     Debian python3-xlwt; skipped without it), the reference reading it with our .xls reader.
//   - BM_XlsReaderAgainstXlsx: our .xls reader on that file against our .xlsx reader on the same cells in an
//     .xlsx; counter "ratio" = .xls / .xlsx.
//   - BM_ReaderCellsPerSecond: cells per second of our reader against xlsx2csv (Debian xlsx2csv, a Python
//     reader) converting the same file to CSV, both by CPU time (xlsx2csv's as the child process's); counter "speedup" = ours / xlsx2csv. Skipped without xlsx2csv.
// Times are thread CPU times (the engine's SQLite work runs on the same thread). The workbook is generated here (column A the element name as inline text, B .. AD numbers), never committed.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <zip.h>

#include <malloc.h>
#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <filesystem>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "BenchFolder.h"
#include "core/FormatSettings.h"
#include "import/mapping/LibraryImport.h"
#include "import/NameAlreadyExists.h"
#include "import/XLS_ASCII_Import.h"
#include "import/sheet/SheetReader.h"
#include "librarydb/Layouts.h"
#include "librarydb/OVLibConst.h"

namespace {

using namespace vez;
// Thread CPU time, as the other benchmarks measure: on a shared machine wall time mostly measures the others.
struct Clock {
  using time_point = double;
  static double now() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
  }
};

constexpr int kLines = 100000;  // data lines, below one header line
constexpr int kXlsLines = 65000;  // the .xls format holds 65 536 rows
constexpr int kCols = 30;

double Seconds(double a, double b) { return b - a; }

// With `shared`, the texts lie in the workbook's shared-string table, each distinct, as spreadsheet programs
// write them; else inline in their cells.
void WriteXlsx(const std::string& path, int lines = kLines, bool shared = false) {
  std::string sheet = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><worksheet "
                      "xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><sheetData>";
  std::string strings;
  int stringCount = 0;
  auto cellText = [&](int c, int r, const std::string& t) {
    const std::string ref = GridColumnName(c) + std::to_string(r);
    if (!shared) {
      sheet += "<c r=\"" + ref + "\" t=\"inlineStr\"><is><t>" + t + "</t></is></c>";
      return;
    }
    sheet += "<c r=\"" + ref + "\" t=\"s\"><v>" + std::to_string(stringCount++) + "</v></c>";
    strings += "<si><t>" + t + "</t></si>";
  };
  sheet += "<row r=\"1\">";
  cellText(1, 1, "ElementName");
  for (int c = 2; c <= kCols; ++c) cellText(c, 1, "Values" + std::to_string(c - 1));
  sheet += "</row>";
  std::uint32_t seed = 7;
  for (int r = 2; r <= lines + 1; ++r) {
    sheet += "<row r=\"" + std::to_string(r) + "\">";
    cellText(1, r, Format("Quelle %06d Stra\xc3\x9f" "e", r));
    for (int c = 2; c <= kCols; ++c) {
      seed = seed * 1664525u + 1013904223u;
      sheet += "<c r=\"" + GridColumnName(c) + std::to_string(r) + "\"><v>" +
               FloatToStrShortest(40.0 + (seed % 400000) / 10000.0) + "</v></c>";
    }
    sheet += "</row>";
  }
  sheet += "</sheetData></worksheet>";
  strings = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><sst xmlns=\"http://schemas.openxmlformats.org/"
            "spreadsheetml/2006/main\" count=\"" + std::to_string(stringCount) + "\" uniqueCount=\"" +
            std::to_string(stringCount) + "\">" + strings + "</sst>";
  const std::string rels =
      "<?xml version=\"1.0\"?><Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
      "<Relationship Id=\"rId1\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/"
      "officeDocument\" Target=\"xl/workbook.xml\"/></Relationships>";
  const std::string workbook =
      "<?xml version=\"1.0\"?><workbook xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
      "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\"><sheets><sheet name=\"S\" "
      "sheetId=\"1\" r:id=\"rId1\"/></sheets></workbook>";
  const std::string wbRels =
      "<?xml version=\"1.0\"?><Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
      "<Relationship Id=\"rId1\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/"
      "worksheet\" Target=\"worksheets/sheet1.xml\"/>" +
      std::string(shared ? "<Relationship Id=\"rId2\" Type=\"http://schemas.openxmlformats.org/officeDocument/"
                           "2006/relationships/sharedStrings\" Target=\"sharedStrings.xml\"/>" : "") +
      "</Relationships>";
  const std::string types =
      "<?xml version=\"1.0\"?><Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
      "<Default Extension=\"rels\" ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
      "<Default Extension=\"xml\" ContentType=\"application/xml\"/><Override PartName=\"/xl/workbook.xml\" "
      "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml\"/><Override "
      "PartName=\"/xl/worksheets/sheet1.xml\" "
      "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml\"/></Types>";
  int err = 0;
  zip_t* z = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &err);
  const std::pair<const char*, const std::string*> parts[] = {{"[Content_Types].xml", &types},
                                                              {"_rels/.rels", &rels},
                                                              {"xl/workbook.xml", &workbook},
                                                              {"xl/_rels/workbook.xml.rels", &wbRels},
                                                              {"xl/worksheets/sheet1.xml", &sheet},
                                                              {"xl/sharedStrings.xml", &strings}};
  for (const auto& [name, text] : parts)
    if (shared || text != &strings) zip_file_add(z, name, zip_source_buffer(z, text->data(), text->size(), 0), ZIP_FL_OVERWRITE);
  zip_close(z);
}

constexpr int kCsvCols = 31;

// Column A the element name in double quotes (every seventh holding the separator), B .. AE numbers.
void WriteCsv(const std::string& path, int lines) {
  std::ofstream out(path, std::ios::binary);
  out << "ElementName";
  for (int c = 2; c <= kCsvCols; ++c) out << ",Values" << (c - 1);
  out << "\r\n";
  std::uint32_t seed = 7;
  for (int r = 2; r <= lines + 1; ++r) {
    out << (r % 7 == 0 ? Format("\"Quelle %06d, Strasse\"", r) : Format("\"Quelle %06d\"", r));
    for (int c = 2; c <= kCsvCols; ++c) {
      seed = seed * 1664525u + 1013904223u;
      out << ',' << FloatToStrShortest(40.0 + (seed % 400000) / 10000.0);
    }
    out << "\r\n";
  }
}

struct NoQuestions : TImportDialogs {
  void ShowMessage(const std::string&) override {}
  std::string InputBox(const std::string&, const std::string&, const std::string& d) override { return d; }
  void ShowNameExists(TFormNameExists& f) override { f.CancelClick(); }
};

// The reference's cells as the reader gives them: a number cell as its double (bound as it is), any other as text.
struct StoredCell {
  std::string text;
  double number = 0;
  bool isNumber = false;
  bool operator==(const StoredCell&) const = default;
};
struct CellStore : detail::SheetSink {
  std::vector<std::vector<StoredCell>> rows;
  StoredCell& At(std::uint32_t row, std::uint32_t col) {
    if (rows.size() <= row) rows.resize(row + 1);
    auto& r = rows[row];
    if (r.size() <= col) r.resize(col + 1);
    return r[col];
  }
  void Cell(std::uint32_t row, std::uint32_t col, std::string text) override { At(row, col).text = std::move(text); }
  void Number(std::uint32_t row, std::uint32_t col, double value) override {
    StoredCell& cell = At(row, col);
    cell.number = value;
    cell.isNumber = true;
  }
};

// The library table made empty through the engine, then filled by one raw prepared INSERT of every column.
double RawInsert(const std::string& file, const CellStore& cells) {
  {
    TMyTable lib(file, false, false);
    SetFieldIndexDefs(lib.Table(), ltEmis, true);
    lib.CreateDBTable();
  }
  const auto layout = LibraryLayout(ltEmis);
  const auto& header = cells.rows[0];
  std::vector<int> source;
  std::string sql = "INSERT INTO \"emis.abs\" (", values;
  for (const auto& col : layout->Fields) {
    int s = -1;
    for (std::size_t j = 0; j < header.size(); ++j)
      if (SameText(header[j].text, col.Name)) s = static_cast<int>(j);
    source.push_back(s);
    if (col.Kind == ColumnKind::AutoInc) continue;
    if (!values.empty()) sql += ",", values += ",";
    sql += "\"" + col.Name + "\"";
    values += "?";
  }
  sql += ") VALUES (" + values + ")";
  const auto start = Clock::now();
  sqlite3* db = nullptr;
  sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
  sqlite3_exec(db, "PRAGMA journal_mode=DELETE; PRAGMA synchronous=FULL; BEGIN", nullptr, nullptr, nullptr);
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr);
  const std::string now = DateTimeToISO(Now());
  for (std::size_t r = 1; r < cells.rows.size(); ++r) {
    int col = 0;
    for (std::size_t c = 0; c < source.size(); ++c) {
      const auto kind = layout->Fields[c].Kind;
      if (kind == ColumnKind::AutoInc) continue;
      ++col;
      if (source[c] < 0) {
        if (kind == ColumnKind::DateTime) sqlite3_bind_text(st, col, now.c_str(), -1, SQLITE_STATIC);
        else if (kind == ColumnKind::Text) sqlite3_bind_null(st, col);
        else sqlite3_bind_int(st, col, -199);
        continue;
      }
      const StoredCell& v = cells.rows[r][static_cast<std::size_t>(source[c])];
      if (kind == ColumnKind::Text)
        sqlite3_bind_text(st, col, v.text.data(), static_cast<int>(v.text.size()), SQLITE_STATIC);
      else sqlite3_bind_double(st, col, v.isNumber ? v.number : StrToFloat(v.text));
    }
    sqlite3_step(st);
    sqlite3_reset(st);
  }
  sqlite3_finalize(st);
  sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
  sqlite3_close_v2(db);
  return Seconds(start, Clock::now());
}

// Peak resident memory (VmHWM) in MiB; ResetPeak starts a new peak from the current size.
double PeakMiB() {
  std::ifstream in("/proc/self/status");
  for (std::string line; std::getline(in, line);)
    if (line.rfind("VmHWM:", 0) == 0) return std::stod(line.substr(6)) / 1024.0;
  return 0;
}
void ResetPeak() { std::ofstream("/proc/self/clear_refs") << "5"; }
// Resident memory now (VmRSS) in MiB.
double CurrentMiB() {
  std::ifstream in("/proc/self/status");
  for (std::string line; std::getline(in, line);)
    if (line.rfind("VmRSS:", 0) == 0) return std::stod(line.substr(6)) / 1024.0;
  return 0;
}


std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The .xls of tools/write-bench-xls.py; false when python3-xlwt is missing.
bool WriteXls(const std::string& path, int lines = kXlsLines) {
  const std::string script = std::string(VEZ_SOURCE_DIR) + "/tools/write-bench-xls.py";
  return std::system(("/usr/bin/python3 '" + script + "' '" + path + "' " + std::to_string(lines)).c_str()) == 0;
}

// The grid the import reads a workbook into, alone: its peak above the memory before it (malloc's arenas
// given back), what its text counts against the loader's limit, and the cells' own size (a text's bytes, 8 a
// number), as counters.
void GridPeak(benchmark::State& state, const std::string& file, const std::function<void(CellStore&)>& read) {
  malloc_trim(0);
  const double before = CurrentMiB();
  ResetPeak();
  {
    TXLSASCIIImport grid;
    TStringGrid view;
    grid.DoImport(view, file);
    state.counters["grid_peak_MiB"] = PeakMiB() - before;
    state.counters["grid_text_MiB"] = static_cast<double>(grid.TextBytes()) / (1 << 20);
  }
  CellStore cells;
  read(cells);
  double bytes = 0;
  for (const auto& row : cells.rows)
    for (const auto& cell : row) bytes += static_cast<double>(sizeof cell.number + (cell.isNumber ? 0 : cell.text.size()));
  state.counters["cells_text_MiB"] = bytes / (1 << 20);
  state.counters["overhead_MiB"] = state.counters["grid_peak_MiB"] - state.counters["cells_text_MiB"];
}

// ImportIntoLibrary of `file` against reading it with `read` + one raw prepared INSERT of the rows.
void ImportAgainstReference(benchmark::State& state, const std::string& file, int lines, int columns,
                            const std::function<void(CellStore&)>& read) {
  bench::BenchFolder folder;
  NoQuestions dialogs;
  for (auto _ : state) {
    // Five rounds, the parts taking turns: single runs of either part vary by a third on a shared machine, in
    // spells of several seconds. Each part's time is its best; "ratio" is the median of the rounds' own ratios
    // (each import against the reference measured right after it), "ratio_of_best" the best against the best.
    double import = 1e300, reading = 1e300, insert = 1e300, peak = 0, before = 0, sqlitePeak = 0, libraryFile = 0;
    std::vector<double> rounds;
    for (int run = 0; run < 5; ++run) {
      std::filesystem::remove_all(folder.Dir() + "lib");
      std::filesystem::remove_all(folder.Dir() + "raw");
      std::filesystem::create_directories(folder.Dir() + "raw");
      TLibraryImportOptions o;
      o.FileName = file;
      o.LibraryFile = folder.Dir() + "lib/emis.abs";
      o.AutoLink = true;
      // The reference holds the whole sheet in memory: each part starts with the memory freed before it given
      // back, so the second does not find the first's heap warm.
      malloc_trim(0);
      before = std::max(before, CurrentMiB());
      ResetPeak();
      sqlite3_memory_highwater(1);
      auto t0 = Clock::now();
      const TLibraryImportResult r = ImportIntoLibrary(o, dialogs);
      const double thisImport = Seconds(t0, Clock::now());
      import = std::min(import, thisImport);
      peak = std::max(peak, PeakMiB());
      sqlitePeak = std::max(sqlitePeak, static_cast<double>(sqlite3_memory_highwater(0)) / (1 << 20));
      libraryFile = std::max(libraryFile, static_cast<double>(std::filesystem::file_size(o.LibraryFile)) / (1 << 20));
      // One link per column; the band fields' derived texts (fixed, in double quotes) come on top.
      const auto columnLinks = std::count_if(r.Links.begin(), r.Links.end(), [](const std::string& link) {
        return link.find('"') == std::string::npos;
      });
      if (r.Added != lines || columnLinks != columns) state.SkipWithError("the import lost lines or links");

      malloc_trim(0);
      t0 = Clock::now();
      CellStore cells;
      read(cells);
      const double thisReading = Seconds(t0, Clock::now());
      const double thisInsert = RawInsert(folder.Dir() + "raw/emis.abs", cells);
      reading = std::min(reading, thisReading);
      insert = std::min(insert, thisInsert);
      rounds.push_back(thisImport / (thisReading + thisInsert));
    }
    GridPeak(state, file, read);
    state.SetIterationTime(import);
    state.counters["import_s"] = import;
    state.counters["reader_s"] = reading;
    state.counters["raw_insert_s"] = insert;
    std::sort(rounds.begin(), rounds.end());
    state.counters["ratio"] = rounds[2];
    state.counters["ratio_min"] = rounds.front();
    state.counters["ratio_max"] = rounds.back();
    state.counters["ratio_of_best"] = import / (reading + insert);
    state.counters["peak_import_MiB"] = peak;
    state.counters["before_import_MiB"] = before;
    state.counters["sqlite_peak_MiB"] = sqlitePeak;
    state.counters["library_MiB"] = libraryFile;
  }
}

void BM_ImportXlsx(benchmark::State& state) {
  bench::BenchFolder folder;
  const std::string xlsx = folder.File("big.xlsx");
  WriteXlsx(xlsx);
  ImportAgainstReference(state, xlsx, kLines, kCols, [&](CellStore& cells) { detail::ReadXlsxSheet0(xlsx, cells); });
}
BENCHMARK(BM_ImportXlsx)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_ImportCsv(benchmark::State& state) {
  bench::BenchFolder folder;
  const std::string csv = folder.File("big.csv");
  const int lines = static_cast<int>(state.range(0));
  WriteCsv(csv, lines);
  ImportAgainstReference(state, csv, lines, kCsvCols, [&](CellStore& cells) {
    detail::ReadTextFile(csv, 1252, ',', cells);
  });
}
BENCHMARK(BM_ImportCsv)->Arg(25000)->Arg(100000)->Arg(200000)->Arg(400000)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_ImportXls(benchmark::State& state) {
  bench::BenchFolder folder;
  const std::string xls = folder.File("big.xls");
  if (!WriteXls(xls)) {
    state.SkipWithError("tools/write-bench-xls.py cannot run (Debian python3-xlwt)");
    for (auto _ : state) {
    }
    return;
  }
  ImportAgainstReference(state, xls, kXlsLines, kCols, [&](CellStore& cells) { detail::ReadXlsSheet0(ReadAll(xls), cells); });
}
BENCHMARK(BM_ImportXls)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_XlsReaderAgainstXlsx(benchmark::State& state) {
  bench::BenchFolder folder;
  const std::string xls = folder.File("big.xls"), xlsx = folder.File("big.xlsx");
  WriteXlsx(xlsx, kXlsLines);
  if (!WriteXls(xls)) {
    state.SkipWithError("tools/write-bench-xls.py cannot run (Debian python3-xlwt)");
    for (auto _ : state) {
    }
    return;
  }
  for (auto _ : state) {
    malloc_trim(0);
    auto t0 = Clock::now();
    CellStore a;
    detail::ReadXlsSheet0(ReadAll(xls), a);
    const double ours = Seconds(t0, Clock::now());
    malloc_trim(0);
    t0 = Clock::now();
    CellStore b;
    detail::ReadXlsxSheet0(xlsx, b);
    const double reference = Seconds(t0, Clock::now());
    if (a.rows != b.rows) state.SkipWithError("the two files read differently");
    state.SetIterationTime(ours);
    state.counters["xls_s"] = ours;
    state.counters["xlsx_s"] = reference;
    state.counters["ratio"] = ours / reference;
  }
}
BENCHMARK(BM_XlsReaderAgainstXlsx)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

// BM_GridPeak/F/N: the grid's peak for an .xlsx with inline texts (F = 0), an .xls (F = 1, its texts in the
// shared-string table) or an .xlsx with the texts in the shared-string table (F = 2) of N lines x 30 columns, against the
// cells' own size (each cell 8 bytes, the room of a number or of the place of a text, and its text's bytes):
// "overhead_MiB" (peak - cells) must stay about the same from a quarter of the lines to all.
void BM_GridPeak(benchmark::State& state) {
  bench::BenchFolder folder;
  const bool xls = state.range(0) == 1;
  const int lines = static_cast<int>(state.range(1));
  const std::string file = folder.File(xls ? "grid.xls" : "grid.xlsx");
  if (xls ? !WriteXls(file, lines) : (WriteXlsx(file, lines, state.range(0) == 2), false)) {
    state.SkipWithError("tools/write-bench-xls.py cannot run (Debian python3-xlwt)");
    for (auto _ : state) {
    }
    return;
  }
  for (auto _ : state)
    GridPeak(state, file, [&](CellStore& cells) {
      if (xls)
        detail::ReadXlsSheet0(ReadAll(file), cells);
      else
        detail::ReadXlsxSheet0(file, cells);
    });
}
BENCHMARK(BM_GridPeak)->Args({0, kXlsLines / 4})->Args({0, kXlsLines})->Args({1, kXlsLines / 4})->Args({1, kXlsLines})
    ->Args({2, kXlsLines / 4})->Args({2, kXlsLines})
    ->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_ReaderCellsPerSecond(benchmark::State& state) {
  bench::BenchFolder folder;
  const std::string xlsx = folder.File("big.xlsx");
  WriteXlsx(xlsx);
  const double cellCount = static_cast<double>(kLines + 1) * kCols;
  for (auto _ : state) {
    auto t0 = Clock::now();
    CellStore cells;
    detail::ReadXlsxSheet0(xlsx, cells);
    const double ours = Seconds(t0, Clock::now());
    // xlsx2csv runs in a child process: its user + system time from the children's times.
    const int rc = std::system(("xlsx2csv '" + xlsx + "' '" + folder.File("out.csv") + "' 2>/dev/null").c_str());
    rusage children{};
    getrusage(RUSAGE_CHILDREN, &children);
    const double theirs = static_cast<double>(children.ru_utime.tv_sec + children.ru_stime.tv_sec) +
                          static_cast<double>(children.ru_utime.tv_usec + children.ru_stime.tv_usec) * 1e-6;
    state.SetIterationTime(ours);
    state.counters["ours_cells_per_s"] = cellCount / ours;
    if (rc != 0) {
      state.SkipWithError("xlsx2csv is not available (Debian package xlsx2csv)");
      continue;
    }
    state.counters["xlsx2csv_cells_per_s"] = cellCount / theirs;
    state.counters["speedup"] = theirs / ours;
  }
}
BENCHMARK(BM_ReaderCellsPerSecond)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

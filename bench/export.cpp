// Exporting an emission library of 100 000 records, every one of its 125 fields filled (texts, memo, doubles,
// whole numbers, Booleans, the date of change, a small graphic), to .xlsx, against its parts done by hand in the
// same run:
//   - BM_ExportXlsx/0: ExportLibrary (read-only open, the engine's cursor, typed cells, the checks of each value,
//     a passing file synchronised and renamed) against the reference = the same cursor scan reading every field
//     + libxlsxwriter in constant-memory mode writing the same cells straight from the values (no export code).
//     The numbers are levels with two decimals as a typed or imported library holds them (the doubles nearest
//     to "40.07"), which a workbook cell keeps exactly. The two take turns for kRounds rounds; counter "ratio"
//     = the median of the rounds' own ratios (export / reference measured next to it), "ratio_min" and
//     "ratio_max" their spread; times are thread CPU times (the zip's compression runs on the same thread),
//     "ratio_wall" the median of the wall-time ratios.
//   - BM_ExportXlsx/1: the same with the numbers computed doubles (thirds), two in three of them with 17
//     significant digits as results of calculations have: the worst case, each such number written in full into
//     the sheet's XML as it passes to libxlsxwriter's temporary file (libxlsxwriter keeps 16 digits).
//   - BM_ExportMemory: the growth of the process's resident memory (peak during the export minus the size before
//     it) exporting 25 000 and 100 000 records of the library of computed doubles; flat in the record count means
//     the two are about equal. The engine's cursor keeps one 8-byte key per record, so 75 000 records more cost
//     0.6 MiB.
// The libraries are generated here, never committed.
#include <benchmark/benchmark.h>
#include <xlsxwriter.h>

#include <malloc.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "BenchFolder.h"
#include "core/FormatSettings.h"
#include "librarydb/Absmain.h"
#include "librarydb/Layouts.h"
#include "librarydb/LibraryFile.h"
#include "librarydb/OVLibConst.h"
#include "output/LibraryExport.h"
#include "output/ValueText.h"

namespace {

using namespace vez;

constexpr int kRecords = 100000;
constexpr int kSmall = 25000;
constexpr int kRounds = 5;

double CpuNow() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}
double WallNow() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// The library emis.abs in `folder` with `records` records, every field but the record number filled by its kind;
// the numbers levels with two decimals, or with `computed` doubles of 17 significant digits.
std::string FillLibrary(const std::string& folder, int records, bool computed) {
  std::filesystem::create_directories(folder);
  const std::string path = CreateLibraryFile(ltEmis, folder, false);
  TLibraryFile lib(path, true);
  TABSTable& t = lib.Table();
  TABSTransaction transaction(lib.Database());
  const std::string graphic = "\x89PNG\r\n\x1a\n" + std::string(40, '\x5a');
  for (int r = 0; r < records; ++r) {
    t.Append();
    for (int i = 0; i < t.FieldCount(); ++i) {
      TField& f = t.Fields(i);
      switch (f.ValueKind()) {
        case TField::Kind::Text:
          if (f.FieldName() == "ElementName") f.SetAsString(Format("Quelle %06d Stra\xc3\x9f" "e", r));
          else if (f.DataType() == ftMemo) f.SetAsString("Gemessen 2026 an der Quelle, Mittelwert aus 3 L\xc3\xa4ufen");
          else f.SetAsString(Format("K%d", (r + i) % 997));
          break;
        case TField::Kind::Integer:
          if (f.DataType() != ftAutoInc) f.SetAsLargeInt((r + i) % 90);
          break;
        case TField::Kind::Float: {
          const int k = (r * 31 + i * 17) % 4000;
          f.SetAsFloat(computed ? 40.0 + (k + 1) / 3.0 : (4000 + k) / 100.0);
          break;
        }
        case TField::Kind::Boolean: f.SetAsBoolean((r + i) % 2 != 0); break;
        case TField::Kind::Date:
        case TField::Kind::Time:
        case TField::Kind::DateTime: f.SetAsDateTime(45000.0 + r * 60 / 86400.0); break;
        case TField::Kind::Bytes: f.SetValue(Variant(graphic)); break;
        case TField::Kind::Other: break;
      }
    }
    t.Post();
  }
  transaction.Commit();
  return path;
}

// The reference: the engine's cursor over every field and libxlsxwriter writing the values as they come.
void WriteByHand(const std::string& library, const std::string& out, const std::string& tmpdir) {
  TLibraryFile lib(library, false);
  TABSTable& t = lib.Table();
  lxw_workbook_options options{};
  options.constant_memory = LXW_TRUE;
  std::string dir = tmpdir;
  options.tmpdir = dir.data();
  lxw_workbook* workbook = workbook_new_opt(out.c_str(), &options);
  lxw_worksheet* sheet = workbook_add_worksheet(workbook, "emis.abs");
  lxw_format* date = workbook_add_format(workbook);
  format_set_num_format(date, "yyyy-mm-dd hh:mm:ss");
  const auto fields = static_cast<lxw_col_t>(t.FieldCount());
  for (lxw_col_t c = 0; c < fields; ++c) worksheet_write_string(sheet, 0, c, t.Fields(c).FieldName().c_str(), nullptr);
  lxw_row_t row = 1;
  for (t.First(); !t.Eof(); t.Next(), ++row) {
    for (lxw_col_t c = 0; c < fields; ++c) {
      const TField& f = t.Fields(c);
      const Variant v = f.Value();
      switch (v.Type()) {
        case VarType::Boolean: worksheet_write_boolean(sheet, row, c, v.RawBool() ? 1 : 0, nullptr); break;
        case VarType::Integer:
          worksheet_write_number(sheet, row, c, static_cast<double>(v.RawInteger()), nullptr);
          break;
        case VarType::Double: worksheet_write_number(sheet, row, c, v.RawDouble(), nullptr); break;
        case VarType::DateTime: worksheet_write_number(sheet, row, c, v.RawDateTime(), date); break;
        case VarType::String:
          if (f.ValueKind() == TField::Kind::Bytes)
            worksheet_write_string(sheet, row, c, Base64(v.RawString()).c_str(), nullptr);
          else
            worksheet_write_string(sheet, row, c, v.RawString().c_str(), nullptr);
          break;
        default: break;
      }
    }
  }
  workbook_close(workbook);
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// Resident memory now (VmRSS) and its peak (VmHWM) in MiB; ResetPeak starts a new peak from the current size.
double StatusMiB(const char* key) {
  std::ifstream in("/proc/self/status");
  for (std::string line; std::getline(in, line);)
    if (line.rfind(key, 0) == 0) return std::stod(line.substr(std::string(key).size())) / 1024.0;
  return 0;
}
void ResetPeak() { std::ofstream("/proc/self/clear_refs") << "5"; }

void BM_ExportXlsx(benchmark::State& state) {
  bench::BenchFolder folder;
  const std::string library = FillLibrary(folder.Dir() + "lib", kRecords, state.range(0) != 0);
  TExportOptions overwrite;
  overwrite.Overwrite = true;
  for (auto _ : state) {
    std::vector<double> cpu, wall, exportTimes, referenceTimes;
    for (int round = 0; round < kRounds; ++round) {
      double exportCpu = 0, exportWall = 0, referenceCpu = 0, referenceWall = 0;
      auto timeExport = [&] {
        malloc_trim(0);
        const double c0 = CpuNow(), w0 = WallNow();
        if (ExportLibrary(library, folder.File("export.xlsx"), overwrite).Records != kRecords)
          state.SkipWithError("the export lost records");
        exportCpu = CpuNow() - c0, exportWall = WallNow() - w0;
      };
      auto timeReference = [&] {
        malloc_trim(0);
        const double c0 = CpuNow(), w0 = WallNow();
        WriteByHand(library, folder.File("reference.xlsx"), folder.Dir());
        referenceCpu = CpuNow() - c0, referenceWall = WallNow() - w0;
      };
      // Each part goes first in every other round, so neither always finds the other's cache warm.
      if (round % 2 == 0) timeExport(), timeReference();
      else timeReference(), timeExport();
      cpu.push_back(exportCpu / referenceCpu);
      wall.push_back(exportWall / referenceWall);
      exportTimes.push_back(exportCpu);
      referenceTimes.push_back(referenceCpu);
    }
    state.SetIterationTime(Median(exportTimes));
    state.counters["export_s"] = Median(exportTimes);
    state.counters["reference_s"] = Median(referenceTimes);
    state.counters["ratio"] = Median(cpu);
    state.counters["ratio_min"] = *std::min_element(cpu.begin(), cpu.end());
    state.counters["ratio_max"] = *std::max_element(cpu.begin(), cpu.end());
    state.counters["ratio_wall"] = Median(wall);
  }
}
BENCHMARK(BM_ExportXlsx)->Arg(0)->Arg(1)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_ExportMemory(benchmark::State& state) {
  bench::BenchFolder folder;
  const std::string small = FillLibrary(folder.Dir() + "small", kSmall, true);
  const std::string large = FillLibrary(folder.Dir() + "large", kRecords, true);
  TExportOptions overwrite;
  overwrite.Overwrite = true;
  for (auto _ : state) {
    double growth[2] = {1e300, 1e300};
    for (int size = 0; size < 2; ++size) {
      // The smaller of two runs: the first may grow a heap that the second finds ready.
      for (int run = 0; run < 2; ++run) {
        malloc_trim(0);
        const double before = StatusMiB("VmRSS:");
        ResetPeak();
        ExportLibrary(size == 0 ? small : large, folder.File("memory.xlsx"), overwrite);
        growth[size] = std::min(growth[size], StatusMiB("VmHWM:") - before);
      }
    }
    state.counters["growth_25k_MiB"] = growth[0];
    state.counters["growth_100k_MiB"] = growth[1];
    state.counters["growth_difference_MiB"] = growth[1] - growth[0];
  }
}
BENCHMARK(BM_ExportMemory)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

// A folder of 16 project folders, each with an emission library of 50 000 records in Paradox form, converted
// with two jobs against one job, in the same run.
//
// Counters: "wall_ratio" (two jobs / one job, wall time: at most 0.60 on two free cores), the wall and CPU
// seconds of each run ("cpu_s_1", "cpu_s_2": this process and its jobs, so that a machine with more cores sees
// how the work scales), "job_peak_rss_mb" (the largest peak resident memory of one job's process) and
// "load_before" (the one-minute load average when the runs began: the wall ratio needs free cores). Both runs
// verify every library against its table, as a run does by default. BM_ConvertJobPeakMemory reports the peak
// memory of the job that converts a table of 1 000 000 records.
#include <benchmark/benchmark.h>

#include <malloc.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "BenchFolder.h"
#include "convert/ConvertParadox.h"
#include "pxwriter/EmissionTable.h"

namespace {

using namespace vez;
using Clock = std::chrono::steady_clock;

constexpr int kProjects = 16;
constexpr int kRecords = 50000;

std::string Project(int k) { return "project" + std::to_string(k / 10) + std::to_string(k % 10); }

// CPU seconds of this process and of its children that ended.
double CpuSeconds() {
  double seconds = 0;
  for (int who : {RUSAGE_SELF, RUSAGE_CHILDREN}) {
    rusage u{};
    getrusage(who, &u);
    seconds += static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
               static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) * 1e-6;
  }
  return seconds;
}

// Removes what a run made: the libraries and the logs.
void Clean(const std::string& root) {
  for (int k = 0; k < kProjects; ++k) std::filesystem::remove(root + Project(k) + "/emis.abs");
  for (const auto& e : std::filesystem::recursive_directory_iterator(root))
    if (e.path().filename() == "Convert.log") std::filesystem::remove(e.path());
}

struct Run {
  double wall = 0, cpu = 0;
  long peakKB = 0;
  bool complete = true;
};

Run Convert(const std::string& root, int jobs) {
  Clean(root);
  malloc_trim(0);  // a job's process starts with what this one holds
  TConvertOptions options;
  options.Jobs = jobs;
  TConversionSummary summary;
  Run run;
  const double cpu = CpuSeconds();
  const auto start = Clock::now();
  ConvertParadoxFiles(root, true, false, nullptr, &summary, options);
  run.wall = std::chrono::duration<double>(Clock::now() - start).count();
  run.cpu = CpuSeconds() - cpu;
  for (const auto& t : summary.Tables) {
    run.peakKB = std::max<long>(run.peakKB, static_cast<long>(t.PeakMemoryKB));
    run.complete = run.complete && t.Complete && t.RecordsWritten == kRecords;
  }
  run.complete = run.complete && summary.Tables.size() == kProjects;
  return run;
}

void BM_ConvertJobs(benchmark::State& state) {
  bench::BenchFolder folder;
  for (int k = 0; k < kProjects; ++k) {
    std::filesystem::create_directory(folder.Dir() + Project(k));
    pxw::EmissionLibraryTable(kRecords, 7 + static_cast<std::uint32_t>(k)).Write(folder.Dir() + Project(k) + "/emis.db");
  }
  for (auto _ : state) {
    double load = 0;
    getloadavg(&load, 1);
    const Run one = Convert(folder.Dir(), 1);
    const Run two = Convert(folder.Dir(), 2);
    if (!one.complete || !two.complete) state.SkipWithError("a table was not converted completely");
    state.SetIterationTime(two.wall);
    state.counters["wall_s_1"] = one.wall;
    state.counters["wall_s_2"] = two.wall;
    state.counters["wall_ratio"] = two.wall / one.wall;
    state.counters["cpu_s_1"] = one.cpu;
    state.counters["cpu_s_2"] = two.cpu;
    state.counters["job_peak_rss_mb"] = static_cast<double>(two.peakKB) / 1024.0;
    state.counters["load_before"] = load;
  }
}
BENCHMARK(BM_ConvertJobs)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

// The peak resident memory of the job that converts a table of 1 000 000 records (about 400 MB of Paradox data):
// records stream through, so a job's memory does not grow with its table.
void BM_ConvertJobPeakMemory(benchmark::State& state) {
  const int records = static_cast<int>(state.range(0));
  bench::BenchFolder folder;
  pxw::EmissionLibraryTable(records).Write(folder.Dir() + "emis.db");
  for (auto _ : state) {
    std::filesystem::remove(folder.Dir() + "emis.abs");
    malloc_trim(0);
    TConvertOptions options;
    options.Jobs = 2;
    TConversionSummary summary;
    const auto start = Clock::now();
    ConvertParadoxFiles(folder.Dir(), false, false, nullptr, &summary, options);
    state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
    if (summary.Tables.size() != 1 || summary.Tables[0].RecordsWritten != records)
      state.SkipWithError("the table was not converted completely");
    else
      state.counters["job_peak_rss_mb"] = static_cast<double>(summary.Tables[0].PeakMemoryKB) / 1024.0;
  }
}
BENCHMARK(BM_ConvertJobPeakMemory)->Arg(1000000)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

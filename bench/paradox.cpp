// Reading a 100 000-record emission-like Paradox table, against a plain walk of the same file's blocks and
// records that only copies every field's bytes (the I/O and walking cost without decoding).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <ctime>
#include <functional>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

#include "import/SMParadox.h"
#include "pxwriter/EmissionTable.h"

namespace {

constexpr int kRecords = 100000;

const std::string& TablePath() {
  static const std::string path = [] {
    const auto dir = std::filesystem::temp_directory_path() / "vez-bench-paradox";
    std::filesystem::create_directories(dir);
    const std::string p = (dir / "emission.db").string();
    pxw::EmissionTable(kRecords).Write(p);
    return p;
  }();
  return path;
}

unsigned U16(const unsigned char* p) { return p[0] | (p[1] << 8); }

// Walks the block chain and copies each field of each record into a buffer; returns the bytes copied.
std::size_t PlainWalk(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  unsigned char header[0x78 + 2 * 256];
  in.read(reinterpret_cast<char*>(header), sizeof header);
  const unsigned recordSize = U16(header), headerSize = U16(header + 2), blockSize = header[5] * 1024u;
  const unsigned fieldCount = U16(header + 0x21);
  std::vector<unsigned> sizes(fieldCount);
  for (unsigned i = 0; i < fieldCount; ++i) sizes[i] = header[0x78 + 2 * i + 1];
  std::vector<unsigned char> block(blockSize), buffer(recordSize);
  std::size_t copied = 0;
  unsigned next = U16(header + 0x0E);
  while (next != 0) {
    in.seekg(static_cast<std::streamoff>(headerSize) + static_cast<std::streamoff>(next - 1) * blockSize);
    in.read(reinterpret_cast<char*>(block.data()), blockSize);
    if (!in) break;
    const unsigned last = U16(block.data() + 4);
    if (last < blockSize)
      for (unsigned off = 0; off <= last; off += recordSize) {
        unsigned at = 0;
        for (unsigned i = 0; i < fieldCount; ++i) {
          std::memcpy(buffer.data() + at, block.data() + 6 + off + at, sizes[i]);
          at += sizes[i];
        }
        copied += at;
        benchmark::DoNotOptimize(buffer.data());
      }
    next = U16(block.data());
  }
  return copied;
}

// CPU time of this thread (user and system), so that other work on a shared machine does not count.
double ThreadSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

double Seconds(const std::function<void()>& f) {
  const double t0 = ThreadSeconds();
  f();
  return ThreadSeconds() - t0;
}

// The reference measured in this run: the best of several plain walks.
double ReferenceSeconds() {
  static const double best = [] {
    double b = 1e9;
    for (int i = 0; i < 10; ++i) b = std::min(b, Seconds([] { benchmark::DoNotOptimize(PlainWalk(TablePath())); }));
    return b;
  }();
  return best;
}

void BM_PlainWalk(benchmark::State& state) {
  const std::string& path = TablePath();
  double total = 0;
  for (auto _ : state) total += Seconds([&] { benchmark::DoNotOptimize(PlainWalk(path)); });
  state.counters["records"] = kRecords;
  state.counters["ratio"] = total / static_cast<double>(state.iterations()) / ReferenceSeconds();
}

// The reader decoding every cell into a variant handed to the caller's cell event.
void BM_ReaderCellEvents(benchmark::State& state) {
  const std::string& path = TablePath();
  double total = 0;
  std::int64_t cells = 0;
  for (auto _ : state) {
    total += Seconds([&] {
      vez::TDBParadox reader;
      reader.StepLoading = false;
      reader.OnCellValue = [&cells](vez::TCustomSpreadSheetFile&, std::int32_t, std::int32_t, std::int32_t,
                                    std::int32_t, const vez::Variant& v, vez::TAlignment) {
        cells += !v.IsNull();
      };
      reader.LoadFromFile(path);
    });
  }
  benchmark::DoNotOptimize(cells);
  state.counters["records"] = kRecords;
  state.counters["ratio"] = total / static_cast<double>(state.iterations()) / ReferenceSeconds();
}

// The reader filling the in-memory workbook through the default handlers.
void BM_ReaderWorkbook(benchmark::State& state) {
  const std::string& path = TablePath();
  double total = 0;
  for (auto _ : state) {
    total += Seconds([&] {
      vez::TDBParadox reader;
      reader.StepLoading = false;
      reader.LoadFromFile(path);
      benchmark::DoNotOptimize(reader.Sheets()[0].Cells.Count());
    });
  }
  state.counters["records"] = kRecords;
  state.counters["ratio"] = total / static_cast<double>(state.iterations()) / ReferenceSeconds();
}

// The ratio counters compare thread CPU times with the best plain walk of this run.
BENCHMARK(BM_PlainWalk)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReaderCellEvents)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReaderWorkbook)->Unit(benchmark::kMillisecond);

}  // namespace

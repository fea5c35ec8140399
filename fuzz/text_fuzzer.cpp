// libFuzzer target of the delimited-text reader: the input is a whole text file, read from memory once with the
// separator detected and once split at ';'. The text is also read from a file in chunks of 7 bytes, which must
// give the same cells, records, separator and refusal as reading it from memory.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "core/Exceptions.h"
#include "import/sheet/SheetReader.h"

namespace {

// The cells of a reading and how it ended.
struct Reading : vez::detail::SheetSink {
  std::vector<std::tuple<std::uint32_t, std::uint32_t, std::string>> cells;
  std::string refusal;
  std::int32_t records = -1;
  char separator = 0;
  void Cell(std::uint32_t row, std::uint32_t col, std::string text) override {
    cells.emplace_back(row, col, std::move(text));
  }
  bool Same(const Reading& o) const {
    return cells == o.cells && refusal == o.refusal && records == o.records && separator == o.separator;
  }
};

template <typename Read>
Reading ReadWith(Read read) {
  Reading r;
  try {
    const vez::detail::TextSheetInfo info = read(r);
    r.records = info.Records;
    r.separator = info.Separator;
  } catch (const vez::Exception& e) {
    r.refusal = e.what();
  }
  return r;
}

// A file of this process's own for the chunked reading, removed when the process ends.
struct Scratch {
  std::string path = (std::filesystem::temp_directory_path() / ("fuzz_text." + std::to_string(::getpid())))
                         .string();
  ~Scratch() { std::remove(path.c_str()); }
};
const std::string& ScratchFile() {
  static const Scratch scratch;
  return scratch.path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const vez::detail::SheetLimits limits;
  std::ofstream(ScratchFile(), std::ios::binary | std::ios::trunc)
      .write(bytes.data(), static_cast<std::streamsize>(size));
  for (const char separator : {'\0', ';'}) {
    const Reading whole =
        ReadWith([&](Reading& r) { return vez::detail::ReadTextSheet(bytes, 1252, separator, r, limits); });
    const Reading chunked = ReadWith(
        [&](Reading& r) { return vez::detail::ReadTextFile(ScratchFile(), 1252, separator, r, limits, 7); });
    if (!whole.Same(chunked)) {
      std::fprintf(stderr, "The text read in chunks differs from the text read whole (%s / %s)\n",
                   whole.refusal.c_str(), chunked.refusal.c_str());
      std::abort();
    }
  }
  return 0;
}

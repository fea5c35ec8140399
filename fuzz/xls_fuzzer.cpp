// libFuzzer target of the .xls reader (compound document and BIFF records): the input is a whole file, read
// from memory with small limits so that one input does bounded work; the first worksheet, then the second sheet
// (a chosen sheet that is empty makes it look into the others), the first through a sink that keeps the shared
// strings itself. The text reader has its own target (fuzz_text).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "core/Exceptions.h"
#include "import/sheet/SheetReader.h"

namespace {

struct CountingSink : vez::detail::SheetSink {
  std::size_t bytes = 0;
  void Cell(std::uint32_t, std::uint32_t, std::string text) override { bytes += text.size(); }
};

// A sink that keeps the shared strings itself, as the grid loader does: the entries must come numbered in order,
// and a cell may only name one that came.
struct KeepingSink : CountingSink {
  std::vector<std::string> texts;
  bool KeepsSharedStrings() const override { return true; }
  void SharedStringsAhead(std::uint32_t count) override { texts.reserve(count); }
  void SharedString(std::uint32_t index, std::string_view text) override {
    if (index != texts.size()) std::abort();
    texts.emplace_back(text);
  }
  std::string_view KeptSharedString(std::uint32_t index) const override {
    if (index >= texts.size()) std::abort();
    return texts[index];
  }
  void SharedCell(std::uint32_t, std::uint32_t, std::uint32_t index, std::string_view text) override {
    if (index >= texts.size() || !text.empty() || texts[index].empty()) std::abort();
    bytes += texts[index].size();
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  vez::detail::SheetLimits limits;
  limits.MaxSharedStrings = 1u << 16;
  CountingSink counting;
  KeepingSink keeping;
  for (const char* sheet : {"", "2"}) {
    vez::detail::SheetChoice choice;
    choice.Sheet = sheet;
    vez::detail::SheetSink& sink = *sheet == 0 ? static_cast<vez::detail::SheetSink&>(keeping) : counting;
    try {
      vez::detail::ReadXlsSheet(bytes, sink, choice, limits);
    } catch (const vez::Exception&) {
    }
  }
  return 0;
}

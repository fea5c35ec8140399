// libFuzzer target of the .xls reader (compound document and BIFF records): the input is a whole file, read
// from memory with small limits so that one input does bounded work; the first worksheet, then the second sheet
// (a chosen sheet that is empty makes it look into the others). The text reader has its own target (fuzz_text).
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/Exceptions.h"
#include "import/sheet/SheetReader.h"

namespace {

struct CountingSink : vez::detail::SheetSink {
  std::size_t bytes = 0;
  void Cell(std::uint32_t, std::uint32_t, std::string text) override { bytes += text.size(); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  vez::detail::SheetLimits limits;
  limits.MaxSharedStrings = 1u << 16;
  CountingSink sink;
  for (const char* sheet : {"", "2"}) {
    vez::detail::SheetChoice choice;
    choice.Sheet = sheet;
    try {
      vez::detail::ReadXlsSheet(bytes, sink, choice, limits);
    } catch (const vez::Exception&) {
    }
  }
  return 0;
}

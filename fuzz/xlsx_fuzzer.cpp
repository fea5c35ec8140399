// libFuzzer target of the .xlsx reader: the input is the whole package, read from memory with small limits
// so that one input does bounded work; the first worksheet, then the second sheet (a chosen sheet that is
// empty makes it look into the others).
#include <cstddef>
#include <cstdint>
#include <string>

#include "core/Exceptions.h"
#include "import/sheet/SheetReader.h"

namespace {

struct CountingSink : vez::detail::SheetSink {
  std::size_t bytes = 0;
  void Cell(std::uint32_t, std::uint32_t, std::string text) override { bytes += text.size(); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  vez::detail::SheetLimits limits;
  limits.MaxEntryBytes = 4u << 20;
  CountingSink sink;
  for (const char* sheet : {"", "2"}) {
    vez::detail::SheetChoice choice;
    choice.Sheet = sheet;
    try {
      vez::detail::ReadXlsxSheet(data, size, sink, choice, limits);
    } catch (const vez::Exception&) {
    }
  }
  return 0;
}

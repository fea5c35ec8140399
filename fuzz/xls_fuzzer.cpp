// libFuzzer target of the .xls reader (compound document and BIFF records) and of the text reader: the input
// is a whole file, read from memory with small limits so that one input does bounded work.
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
  try {
    vez::detail::ReadXlsSheet0(bytes, sink, limits);
  } catch (const vez::Exception&) {
  }
  try {
    vez::detail::ReadTextSheet(bytes, 1252, sink, limits);
  } catch (const vez::Exception&) {
  }
  return 0;
}

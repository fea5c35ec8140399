// libFuzzer target of the .xlsx reader: the input is the whole package, read from memory with small limits
// so that one input does bounded work.
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
  try {
    vez::detail::ReadXlsxSheet0(data, size, sink, limits);
  } catch (const vez::Exception&) {
  }
  return 0;
}

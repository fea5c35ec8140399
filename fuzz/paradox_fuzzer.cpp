// Feeds arbitrary ".db" and ".mb" bytes to the Paradox reader from memory: every input must end in a
// vez::Exception or a clean load, with no sanitizer report and bounded work.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "core/Exceptions.h"
#include "import/SMParadox.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4) return 0;
  std::size_t dbSize = data[0] | (data[1] << 8) | (data[2] << 16) | (static_cast<std::size_t>(data[3]) << 24);
  if (dbSize > size - 4) dbSize = size - 4;
  std::istringstream db(std::string(reinterpret_cast<const char*>(data) + 4, dbSize));
  std::istringstream mb(std::string(reinterpret_cast<const char*>(data) + 4 + dbSize, size - 4 - dbSize));
  for (int pass = 0; pass < 2; ++pass) {
    vez::TDBParadox reader;
    reader.BlobStream = &mb;
    reader.RawText = pass == 1;
    reader.StepLoading = false;
    if (pass == 1) {
      // Step loading with the caller's own cell handler and a load range.
      reader.StepLoading = true;
      reader.OnCellValue = [](vez::TCustomSpreadSheetFile&, std::int32_t, std::int32_t, std::int32_t, std::int32_t,
                              const vez::Variant& v, vez::TAlignment) { (void)v.AsString(); };
      vez::TSMRange range;
      range.FirstRow = 2;
      range.LastRow = 40;
      reader.SetLoadRange(range);
    }
    try {
      db.clear();
      db.seekg(0);
      reader.LoadFromStream(db);
      if (reader.StepLoading)
        for (std::int32_t i = 0; i < reader.RecordCount() && !reader.ChainEnded(); ++i) reader.LoadRecord(i);
      if (pass == 0 && reader.Sheets().Count() > 0) {
        const auto& cells = reader.Sheets()[0].Cells;
        if (static_cast<std::int64_t>(cells.RowCount) * cells.ColCount < 100000) (void)reader.Sheets()[0].PlainText().size();
      }
    } catch (const vez::Exception&) {
    }
  }
  return 0;
}

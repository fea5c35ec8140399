// Feeds arbitrary ".db" and ".mb" bytes to the Paradox reader from memory: every input must end in a
// vez::Exception or a clean load, with no sanitizer report and bounded work.
//
// Four passes per input: a whole load into the workbook; step loading with a load range and raw text; the input
// as it stands with the password of the encrypted test table (mutations of that table reach the decryption);
// and the input made encrypted (the checksum of a known password written at 0x25), so that every input goes
// through the built-in decryption of data blocks and ".mb" windows.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "core/Exceptions.h"
#include "import/paradox/ParadoxEncryption.h"
#include "import/SMParadox.h"

namespace {

void Load(const std::string& dbBytes, const std::string& mbBytes, int pass) {
  std::istringstream db(dbBytes);
  std::istringstream mb(mbBytes);
  vez::TDBParadox reader;
  reader.BlobStream = &mb;
  reader.RawText = pass == 1;
  reader.StepLoading = pass == 1;
  if (pass == 1) {
    // Step loading with the caller's own cell handler and a load range.
    reader.OnCellValue = [](vez::TCustomSpreadSheetFile&, std::int32_t, std::int32_t, std::int32_t, std::int32_t,
                            const vez::Variant& v, vez::TAlignment) { (void)v.AsString(); };
    vez::TSMRange range;
    range.FirstRow = 2;
    range.LastRow = 40;
    reader.SetLoadRange(range);
  }
  if (pass == 2) reader.Password = "vez-secret";
  if (pass == 3) reader.Password = "fuzz";
  try {
    reader.LoadFromStream(db);
    if (reader.StepLoading)
      for (std::int32_t i = 0; i < reader.RecordCount() && !reader.ChainEnded(); ++i) reader.LoadRecord(i);
    if (pass != 1 && reader.Sheets().Count() > 0) {
      const auto& cells = reader.Sheets()[0].Cells;
      if (static_cast<std::int64_t>(cells.RowCount) * cells.ColCount < 100000) (void)reader.Sheets()[0].PlainText().size();
    }
    for (const std::string& w : reader.Warnings()) (void)w.size();
  } catch (const vez::Exception&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4) return 0;
  std::size_t dbSize = data[0] | (data[1] << 8) | (data[2] << 16) | (static_cast<std::size_t>(data[3]) << 24);
  if (dbSize > size - 4) dbSize = size - 4;
  std::string db(reinterpret_cast<const char*>(data) + 4, dbSize);
  const std::string mb(reinterpret_cast<const char*>(data) + 4 + dbSize, size - 4 - dbSize);
  for (int pass = 0; pass < 3; ++pass) Load(db, mb, pass);
  if (db.size() >= 0x29) {
    const std::uint32_t checksum = vez::ParadoxPasswordChecksum("fuzz");
    for (int k = 0; k < 4; ++k) db[0x25 + static_cast<std::size_t>(k)] = static_cast<char>((checksum >> (8 * k)) & 0xFF);
    Load(db, mb, 3);
  }
  return 0;
}

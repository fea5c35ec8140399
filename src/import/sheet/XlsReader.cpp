// The .xls reader: FreeXL opens the workbook (BIFF2 to BIFF8), we walk sheet 0 cell by cell.
#include <freexl.h>

#include <cstring>
#include <fstream>
#include <memory>

#include "core/Exceptions.h"
#include "core/FormatSettings.h"
#include "import/sheet/SheetReader.h"

namespace vez::detail {

namespace {

struct FreeXlCloser {
  void operator()(const void* handle) const { freexl_close(handle); }
};
using FreeXlHandle = std::unique_ptr<const void, FreeXlCloser>;

void Check(int rc, const char* what) {
  if (rc != FREEXL_OK) throw Exception(Format("Not a readable Excel workbook (%s failed with code %d)", what, rc));
}

// FreeXL gives dates as "YYYY-MM-DD", date-times as "YYYY-MM-DD HH:MM:SS" and times as "HH:MM:SS".
std::string DateCellText(const char* text, int type) {
  double value = 0;
  std::string iso = text != nullptr ? text : "";
  if (type == FREEXL_CELL_DATETIME && iso.size() > 10) iso[10] = 'T';
  if (type == FREEXL_CELL_TIME) iso = "1899-12-30T" + iso;
  if (!TryISOToDateTime(iso, value)) return text != nullptr ? text : "";
  if (type == FREEXL_CELL_DATE) return FormatDateTime("ddddd", value);
  if (type == FREEXL_CELL_TIME) return FormatDateTime("tt", value);
  return FormatDateTime("ddddd tt", value);
}

std::uint32_t U32(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

// Checks a compound-document header against the file's length before FreeXL reads it: every FAT sector the
// header lists and the first directory sector must lie inside the file. (FreeXL does not free all it holds
// when it meets the end of a truncated file.)
void CheckCompoundHeader(const std::string& fileName) {
  std::ifstream in(fileName, std::ios::binary | std::ios::ate);
  if (!in) return;  // FreeXL reports the missing file
  const auto size = static_cast<std::uint64_t>(in.tellg());
  unsigned char h[512];
  in.seekg(0);
  if (!in.read(reinterpret_cast<char*>(h), sizeof h)) return;
  static const unsigned char kMagic[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
  if (std::memcmp(h, kMagic, 8) != 0) return;
  const unsigned shift = static_cast<unsigned>(h[30]) | static_cast<unsigned>(h[31]) << 8;
  if (shift < 7 || shift > 16) throw Exception("Not a readable Excel workbook (bad sector size)");
  const std::uint64_t sector = 1ull << shift;
  const std::uint32_t fatSectors = U32(h + 44);
  auto inside = [&](std::uint32_t id) { return id >= 0xFFFFFFFAu || 512 + (static_cast<std::uint64_t>(id) + 1) * sector <= size; };
  for (std::uint32_t i = 0; i < fatSectors && i < 109; ++i)
    if (!inside(U32(h + 76 + 4 * i))) throw Exception("Not a readable Excel workbook (the file is cut short)");
  if (!inside(U32(h + 48))) throw Exception("Not a readable Excel workbook (the file is cut short)");
}

}  // namespace

std::int32_t ReadXlsSheet0(const std::string& fileName, SheetSink& sink) {
  CheckCompoundHeader(fileName);
  const void* raw = nullptr;
  const int rc = freexl_open(fileName.c_str(), &raw);
  FreeXlHandle handle(raw);
  Check(rc, "opening");
  unsigned int biff = 0;
  Check(freexl_get_info(handle.get(), FREEXL_BIFF_VERSION, &biff), "reading the version");
  unsigned int sheets = 0;
  Check(freexl_get_info(handle.get(), FREEXL_BIFF_SHEET_COUNT, &sheets), "counting the sheets");
  if (sheets == 0) throw Exception("The workbook has no worksheet");
  Check(freexl_select_active_worksheet(handle.get(), 0), "selecting sheet 0");
  unsigned int rows = 0;
  unsigned short cols = 0;
  Check(freexl_worksheet_dimensions(handle.get(), &rows, &cols), "reading the dimensions");
  for (unsigned int r = 0; r < rows; ++r) {
    for (unsigned short c = 0; c < cols; ++c) {
      FreeXL_CellValue cell{};
      Check(freexl_get_cell_value(handle.get(), r, c, &cell), "reading a cell");
      std::string text;
      switch (cell.type) {
        case FREEXL_CELL_INT: text = IntToStr(cell.value.int_value); break;
        case FREEXL_CELL_DOUBLE: text = FloatToStrShortest(cell.value.double_value); break;
        case FREEXL_CELL_TEXT:
        case FREEXL_CELL_SST_TEXT: text = cell.value.text_value != nullptr ? cell.value.text_value : ""; break;
        case FREEXL_CELL_DATE:
        case FREEXL_CELL_DATETIME:
        case FREEXL_CELL_TIME: text = DateCellText(cell.value.text_value, cell.type); break;
        default: continue;
      }
      if (!text.empty()) sink.Cell(r, c, std::move(text));
    }
  }
  switch (biff) {
    case FREEXL_BIFF_VER_2: return 2;
    case FREEXL_BIFF_VER_3: return 3;
    case FREEXL_BIFF_VER_4: return 4;
    case FREEXL_BIFF_VER_5: return 5;
    case FREEXL_BIFF_VER_8: return 6;
    default: return 0;
  }
}

}  // namespace vez::detail

// Readers of the first worksheet of a spreadsheet file, as cell texts.
//
// Both readers hand every cell that holds a value to a SheetSink, with its 0-based row and column in the
// sheet, as text: numbers in the shortest form that reads back to the same double (process decimal
// separator), dates and times in the process short date / long time format, booleans as "True"/"False",
// error values as their code ("#DIV/0!"). Cells without value are not reported. Every failure throws
// vez::Exception with a message saying what is wrong with the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vez::detail {

class SheetSink {
public:
  virtual ~SheetSink() = default;
  virtual void Cell(std::uint32_t row, std::uint32_t col, std::string text) = 0;
};

// Bounds on what an .xlsx file may make the reader do.
struct XlsxLimits {
  std::uint64_t MaxEntryBytes = 512ull << 20;  // uncompressed size of one zip entry
  std::uint32_t MaxRow = 1048576;              // the format's own limits (1-based)
  std::uint32_t MaxCol = 16384;
};

// The file-format versions the import names: 2 .. 6 for BIFF2 .. BIFF8 (6 = Excel 97), 7 for Office Open XML.
inline constexpr std::int32_t kVersionXlsx = 7;

// Reads sheet 0 of an .xls file through FreeXL; returns the format version (2 .. 6).
std::int32_t ReadXlsSheet0(const std::string& fileName, SheetSink& sink);

// Reads sheet 0 of an .xlsx file (a file, or bytes in memory).
void ReadXlsxSheet0(const std::string& fileName, SheetSink& sink, const XlsxLimits& limits = {});
void ReadXlsxSheet0(const void* data, std::size_t size, SheetSink& sink, const XlsxLimits& limits = {});

// The text of a spreadsheet date serial (days since 30 December 1899 in the 1900 date system, with that
// system's phantom 29 February 1900 below serial 61) in the process formats.
std::string SerialDateText(double serial, bool date1904);

}  // namespace vez::detail

// Readers of the first worksheet of a spreadsheet file, as cell texts, and what they share.
//
// Both readers hand every cell that holds a value to a SheetSink, with its 0-based row and column in the
// sheet, as text: numbers in the shortest form that reads back to the same double (process decimal
// separator), dates and times in the process short date / long time format, elapsed times ("[h]:mm:ss") as
// hours:minutes:seconds with the hours running past 24, Booleans as "True"/"False", error values as their code
// ("#DIV/0!"). Cells without value (blank cells, empty strings) are not reported. Every failure throws
// vez::Exception with a message saying what is wrong with the file; no input makes a reader allocate beyond
// what SheetLimits allow or what the file's own bytes can hold.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vez::detail {

class SheetSink {
public:
  virtual ~SheetSink() = default;
  virtual void Cell(std::uint32_t row, std::uint32_t col, std::string text) = 0;
};

// Bounds on what a file may make a reader do.
struct SheetLimits {
  std::uint64_t MaxEntryBytes = 512ull << 20;   // uncompressed size of one zip entry (.xlsx)
  std::uint32_t MaxRow = 1048576;               // the formats' own limits (1-based)
  std::uint32_t MaxCol = 16384;
  std::uint32_t MaxSharedStrings = 1u << 24;    // entries of the shared string table
  std::uint32_t MaxCellChars = 32767;           // UTF-16 code units of one cell's text, as spreadsheet programs count
};

// The file-format versions the import names: 2 .. 6 for BIFF2 .. BIFF8 (6 = Excel 97), 7 for Office Open XML.
inline constexpr std::int32_t kVersionXlsx = 7;

// Reads sheet 0 of an .xls workbook: a compound document holding a "Workbook" or "Book" stream, or a raw
// BIFF2 .. BIFF5 stream. Returns the format version (2 .. 6).
std::int32_t ReadXlsSheet0(std::string_view bytes, SheetSink& sink, const SheetLimits& limits = {});

// Reads sheet 0 of an .xlsx file (a file, or bytes in memory).
void ReadXlsxSheet0(const std::string& fileName, SheetSink& sink, const SheetLimits& limits = {});
void ReadXlsxSheet0(const void* data, std::size_t size, SheetSink& sink, const SheetLimits& limits = {});

// What a file's content says it is. A compound document or raw BIFF stream is Xls, a zip archive Xlsx (the
// .xlsx reader refuses archives without workbook), anything else Text (the text reader refuses binary bytes).
enum class SheetFileKind { Xls, Xlsx, Text };
SheetFileKind DetectSheetFile(std::string_view bytes);

// Reads a tab-separated text file: UTF-8 (with or without byte order mark), UTF-16 with byte order mark, or
// else bytes in `codePage`; lines end in LF, CR LF or CR. Every non-empty field is a cell (row = line, col =
// field, 0-based). Returns the number of lines.
std::int32_t ReadTextSheet(std::string_view bytes, int codePage, SheetSink& sink, const SheetLimits& limits = {});

// ---- shared by the readers ----

// How a number format shows a number.
enum class NumberKind : std::uint8_t { Number, Date, Elapsed };

// The kind of a format code ("yyyy-mm-dd", "[h]:mm:ss", "0.00"): its first section decides; date letters
// (y, m, d, h, s) outside quotes, escapes and brackets make a date unless number placeholders (0, #, ?)
// outnumber them; "[h]", "[m]" or "[s]" make an elapsed time.
NumberKind ClassifyFormatCode(std::string_view code);
// The kind of a built-in format number of BIFF5 and later and of Office Open XML (14 .. 22, 27 .. 36, 45 .. 47,
// 50 .. 58 are dates and times, 46 elapsed).
NumberKind BuiltinFormatKind(std::uint32_t id);

// The text of a number shown by a format of that kind: a date serial (days since 30 December 1899 in the 1900
// date system, with that system's phantom 29 February 1900 below serial 61; since 1 January 1904 in the 1904
// system) as a date when it is whole, a time of day between 0 and 1, else both; a negative serial as a number; an
// elapsed time as [-]hh:mm:ss; other numbers in the shortest form.
std::string NumberText(double value, NumberKind kind, bool date1904);
std::string SerialDateText(double serial, bool date1904);

// Strings as a spreadsheet holds them: one buffer, so that a million short strings cost little more than their
// bytes.
class StringTable {
public:
  void Add(std::string_view text);
  std::size_t Size() const { return ends_.size(); }
  std::string_view operator[](std::size_t i) const {
    const std::size_t begin = i == 0 ? 0 : ends_[i - 1];
    return std::string_view(text_).substr(begin, ends_[i] - begin);
  }

private:
  std::string text_;
  std::vector<std::uint32_t> ends_;
};

// UTF-16 code units of UTF-8 text (characters beyond the Basic Multilingual Plane count two).
std::size_t Utf16Units(std::string_view utf8);
// Appends UTF-16LE code units as UTF-8; a lone surrogate becomes U+FFFD. `pending` carries a high surrogate
// from one call to the next (0 when none); pass nullptr when the units are complete.
void AppendUtf16(std::string& out, const unsigned char* p, std::size_t units, char16_t* pending = nullptr);
// Appends Latin-1 bytes (BIFF8's compressed strings) as UTF-8.
void AppendLatin1(std::string& out, const unsigned char* p, std::size_t count);

}  // namespace vez::detail

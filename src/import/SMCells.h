// The spreadsheet cell model that every table reader of the suite fills.
//
// A reader derives from TSpreadSheetFile. While it decodes a file it reports what it finds (sheets, dimensions,
// column widths, cell values) through the On* events. Events the caller leaves unset get default handlers that
// store everything in an in-memory workbook: TSpreadSheets owns sheets, a sheet owns its sparse grid of rows
// (TSpreadSheetCells), a row owns its cells (TSpreadSheetCols). Sheet, row and column numbers are 0-based; the
// load range (TSMRange) is 1-based.
//
// Cell values are vez::Variant. Captions are UTF-8 text.
//
// Choices of this implementation:
// - Events are std::function objects; Sender is the reader itself.
// - SortByColumn and ClearSort sort stably (rows that compare equal keep their order) and keep no process-wide
//   state, so sorts of different sheets may run in parallel.
// - Currency values (BCDToCurr) are 64-bit integers of ten-thousandths.
// - Nothing here is thread-safe; one reader and its workbook belong to one thread at a time.
#pragma once

#include <array>
#include <cstdint>
#include <exception>
#include <functional>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/Variant.h"

namespace vez {

enum TSMIRowStatus : std::uint8_t { rsNormal, rsDeleted, rsError };

// A set of row statuses.
class TSMIRowStatuses {
public:
  TSMIRowStatuses() = default;
  TSMIRowStatuses(std::initializer_list<TSMIRowStatus> items) {
    for (auto s : items) Include(s);
  }
  void Include(TSMIRowStatus s) { bits_ |= static_cast<std::uint8_t>(1u << s); }
  void Exclude(TSMIRowStatus s) { bits_ &= static_cast<std::uint8_t>(~(1u << s)); }
  bool Contains(TSMIRowStatus s) const { return (bits_ >> s) & 1u; }
  friend bool operator==(TSMIRowStatuses a, TSMIRowStatuses b) { return a.bits_ == b.bits_; }

private:
  std::uint8_t bits_ = 0;
};

enum TSMIColumnNameKind : std::uint8_t { nkAlphabet, nkFieldName };

// Horizontal alignment of a cell.
enum TAlignment : std::uint8_t { taLeftJustify = 0, taRightJustify = 1, taCenter = 2 };

// A 1-based block of rows and columns to load.
struct TSMRange {
  std::int32_t FirstRow = 1;
  std::int32_t LastRow = 2147483647;
  std::int32_t FirstCol = 1;
  std::int32_t LastCol = 2147483647;
  void Assign(const TSMRange& source) { *this = source; }
};

// 17 bytes of packed decimal as a Paradox table stores it (see SMBCDToCurr).
using TSMIBCD = std::array<std::uint8_t, 17>;

// A packed decimal: digit count, sign (bit 7) and decimal places (low 6 bits), then two digits per byte.
struct TBCD {
  std::uint8_t Precision = 0;
  std::uint8_t SignSpecialPlaces = 0;
  std::array<std::uint8_t, 32> Fraction{};
};

// The header of a record of a binary spreadsheet stream (type and length), passed to OnRecord.
struct TBIFFRecordHeader {
  std::uint16_t RecType = 0;
  std::uint16_t Size = 0;
};

struct TSMICell {
  Variant Value;
  TAlignment Alignment = taLeftJustify;
  std::int32_t FormatIndex = 0;
  void Assign(const TSMICell& source) { *this = source; }
};

// The cells of one row, indexed by column; entries may be empty.
class TSpreadSheetCols {
public:
  std::int32_t Count() const { return static_cast<std::int32_t>(cells_.size()); }
  // The cell at column i, or nullptr for an empty entry or an index outside the list.
  const TSMICell* Cell(std::int32_t i) const;
  TSMICell* Cell(std::int32_t i);
  // Grows the list up to i, creates the cell when missing and copies `cell` into it. i must be >= 0.
  TSMICell& SetCell(std::int32_t i, const TSMICell& cell);
  // The cell at column i, created (empty value) when missing. i must be >= 0.
  TSMICell& Ensure(std::int32_t i);
  // Room for n entries without reallocation.
  void Reserve(std::int32_t n) {
    if (n > 0) cells_.reserve(static_cast<std::size_t>(n));
  }

private:
  std::vector<std::optional<TSMICell>> cells_;
};

struct TSpreadSheetRow {
  std::int32_t Index = 0;
  TSMIRowStatus Status = rsNormal;
  bool RowFlag = true;
  std::int32_t OrigIndex = 0;
  TSpreadSheetCols Cols;
};

// The sparse grid of one sheet.
class TSpreadSheetCells {
public:
  std::int32_t DimCols = 0;
  std::int32_t DimRows = 0;
  std::int32_t ColCount = 0;
  std::int32_t RowCount = 0;
  bool AutoExtent = true;

  // Number of rows in the list (not RowCount).
  std::int32_t Count() const { return static_cast<std::int32_t>(rows_.size()); }
  // Row i, or nullptr outside the list.
  TSpreadSheetRow* Row(std::int32_t i);
  const TSpreadSheetRow* Row(std::int32_t i) const;

  // Appends rows until index `row` exists (each new row's Index and OrigIndex is its position); returns row.
  // Throws EListError for a negative row.
  std::int32_t AddRow(std::int32_t row);
  // Frees row i and deletes it from the list; EListError outside the list.
  void RemoveRow(std::int32_t i);
  // Frees all rows and zeroes DimCols, DimRows, ColCount and RowCount.
  void Clear();

  // The stored value, or Null when the row or cell does not exist.
  Variant GetValue(std::int32_t col, std::int32_t row) const;
  // Stores a value; a Null or Empty value stores nothing. Throws EListError for a negative row or column.
  void SetValue(std::int32_t col, std::int32_t row, const Variant& value, TAlignment alignment,
                std::int32_t formatIndex);

  // Reorders the rows by their cells in column `col`: missing cells first, then ascending values
  // (Variant::Compare); Descending reverses every non-equal comparison.
  void SortByColumn(std::int32_t col, bool descending);
  // Sorts the rows by Index, highest first.
  void ClearSort();

private:
  std::vector<std::unique_ptr<TSpreadSheetRow>> rows_;
};

class TSpreadSheet {
public:
  TSpreadSheetCells Cells;
  std::string Caption;
  std::vector<std::int32_t> ColWidths;

  // The sheet as tab-separated text: rows 0..RowCount and columns 0..ColCount (both inclusive), every cell
  // preceded by a tab, every row ended by CR LF; Booleans as "True"/"False", other values by their text form.
  std::string PlainText() const;
};

// The owning list of the sheets of a workbook.
class TSpreadSheets {
public:
  std::int32_t Count() const { return static_cast<std::int32_t>(sheets_.size()); }
  // Sheet i; EListError outside the list.
  TSpreadSheet& operator[](std::int32_t i);
  const TSpreadSheet& operator[](std::int32_t i) const;

  // Appends a sheet captioned "Sheet" + its 1-based number; returns its index.
  std::int32_t Add();
  // Sheet i, creating it and every sheet before it when missing; a negative i counts as 0.
  TSpreadSheet& Spreadsheet(std::int32_t i);
  void Remove(std::int32_t i);
  void Clear();
  // The first sheet whose caption equals `name` exactly, or nullptr / -1.
  TSpreadSheet* SheetByName(const std::string& name);
  std::int32_t SheetIndexByName(const std::string& name) const;

private:
  std::vector<std::unique_ptr<TSpreadSheet>> sheets_;
};

class TCustomSpreadSheetFile;

using TOnColumnWidth = std::function<void(TCustomSpreadSheetFile& sender, std::int32_t sheetNo,
                                          std::int32_t columnNo, std::int32_t width)>;
using TOnRowHeight = std::function<void(TCustomSpreadSheetFile& sender, std::int32_t sheetNo, std::int32_t rowNo,
                                        std::int32_t height)>;
using TOnDimensions = std::function<void(TCustomSpreadSheetFile& sender, std::int32_t sheetNo,
                                         std::int32_t firstRow, std::int32_t lastRow, std::int32_t firstColumn,
                                         std::int32_t lastColumn)>;
using TOnCellValue = std::function<void(TCustomSpreadSheetFile& sender, std::int32_t sheetNo, std::int32_t row,
                                        std::int32_t column, std::int32_t formatIndex, const Variant& value,
                                        TAlignment alignment)>;
using TOnGetCellValue = std::function<void(TCustomSpreadSheetFile& sender, std::int32_t sheetNo,
                                           std::int32_t row, std::int32_t column, Variant& value)>;
using TOnSheet = std::function<void(TCustomSpreadSheetFile& sender, const std::string& caption, std::int32_t index,
                                    bool& skip)>;
using TOnRecord = std::function<void(TCustomSpreadSheetFile& sender, const TBIFFRecordHeader& header,
                                     const std::vector<std::uint8_t>& data)>;
using TErrorParseRecord = std::function<void(TCustomSpreadSheetFile& sender, const std::exception& error,
                                             bool& abort)>;
using TOnLoadProgress = std::function<void(TCustomSpreadSheetFile& sender, std::int32_t position,
                                           std::int32_t totalSize)>;
using TProgressProc = std::function<void(std::int32_t position, std::int32_t total)>;

class TCustomSpreadSheetFile {
public:
  TCustomSpreadSheetFile() = default;
  virtual ~TCustomSpreadSheetFile() = default;
  TCustomSpreadSheetFile(const TCustomSpreadSheetFile&) = delete;
  TCustomSpreadSheetFile& operator=(const TCustomSpreadSheetFile&) = delete;

  std::string FileName;
  bool LoadNULLs = false;
  TOnColumnWidth OnColumnWidth;
  TOnRowHeight OnRowHeight;
  TOnDimensions OnDimensions;
  TOnCellValue OnCellValue;
  TOnGetCellValue OnGetCellValue;
  TOnSheet OnSheet;
  TOnRecord OnRecord;
  TErrorParseRecord OnErrorProcess;

  std::int32_t SheetIndexToLoad = -1;  // -1: all sheets
  bool StepLoading = false;

  virtual bool IsEncrypted() { return false; }
  const TSMRange& LoadRange() const { return loadRange_; }
  void SetLoadRange(const TSMRange& range) { loadRange_.Assign(range); }

private:
  TSMRange loadRange_;
};

class TSpreadSheetFile : public TCustomSpreadSheetFile {
public:
  TSpreadSheetFile() = default;

  TSMIColumnNameKind NameKind = nkAlphabet;
  TSMIRowStatuses LoadRowStatutes{rsNormal};
  TOnLoadProgress OnLoadProgress;
  bool ParseBLOB = true;
  TProgressProc ProgressProc;
  std::int32_t CurrentRecord = 0;

  TSpreadSheets& Sheets() { return sheets_; }
  const TSpreadSheets& Sheets() const { return sheets_; }

  // Empties Sheets and installs the default handler for each of OnDimensions, OnCellValue, OnGetCellValue,
  // OnSheet and OnColumnWidth that is unset.
  virtual void ApplyEvents();
  // Value := empty text; readers with BLOBs have their own routine.
  virtual void ReadBLOBValue(std::int32_t a, std::int32_t b, std::string& value);
  // Throws "File is not defined." for a blank name and "File is not exists." for a missing file; otherwise sets
  // FileName and applies the events. Readers call this first, then open and read the file.
  virtual void LoadFromFile(const std::string& fileName);
  // Applies the events. Readers call this first, then read the stream.
  virtual void LoadFromStream(std::istream& stream);
  virtual void BeforeLoad() { CurrentRecord = -1; }
  virtual void AfterLoad() {}
  virtual void LoadRecord(std::int32_t index) { CurrentRecord = index; }

  void UpdateProgress(std::int32_t position, std::int32_t total);
  // Sets the status of an existing row below the sheet's RowCount; otherwise nothing.
  void SetRowStatus(std::int32_t sheetNo, std::int32_t row, TSMIRowStatus status);

  // The default handlers (public so that a caller's own handler can chain to them).
  void DefaultDimensions(std::int32_t sheetNo, std::int32_t firstRow, std::int32_t lastRow,
                         std::int32_t firstColumn, std::int32_t lastColumn);
  void DefaultCellValue(std::int32_t sheetNo, std::int32_t row, std::int32_t column, std::int32_t formatIndex,
                        const Variant& value, TAlignment alignment);
  void DefaultGetCellValue(std::int32_t sheetNo, std::int32_t row, std::int32_t column, Variant& value);
  void DefaultSheet(const std::string& caption, std::int32_t index, bool& skip);
  void DefaultColumnWidth(std::int32_t sheetNo, std::int32_t columnNo, std::int32_t width);

private:
  TSpreadSheets sheets_;
};

// True when x is a NaN (all exponent bits set, non-zero fraction); false for infinities and finite values.
bool IsNan(double x);
// 0-based index of a column name of letters (A = 0, IV = 255), or -1 when it is not letters or exceeds maxCols.
// The empty name gives 0 when maxCols >= 1.
std::int32_t GetSpreadSheetColID(const std::string& name, std::int32_t maxCols);
// Letters of the 1-based column number n (1 -> A, 27 -> AA); n <= 0 gives "".
std::string GetSpreadSheetColByID(std::int32_t n);
// Calendar date (as a date-time) of a Julian day number. Throws EConvertError outside years 1..9999.
double Julian2DMY(std::int32_t j);
// Julian day number of d's date minus 0.5 plus its time of day as a fraction.
double DMY2Julian(double d);
// Packed decimal to currency (ten-thousandths). False for a digit count of 0 (value unchanged), a digit
// nibble above 9, or a result outside 64 bits. Halves of a ten-thousandth round to even.
bool BCDToCurr(const TBCD& bcd, std::int64_t& value);
// The 17-byte Paradox BCD with `digits` digits to a double: byte 0 holds sign (bit 7 set = positive, bit 6 set
// and bit 7 clear = negative, digits inverted) and scale (low 6 bits). False when the digit text does not
// convert as a whole (nibbles above 9); value is then untouched.
bool SMBCDToCurr(const TSMIBCD& bcd, std::int32_t digits, double& value);

}  // namespace vez

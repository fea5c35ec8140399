// XLS_ASCII_Import: loads a sheet of a spreadsheet (".xls", ".xlsx") or a delimited text file (tab, comma or
// semicolon) into a grid of texts, and shows a window of its rows in a second, visible grid.
//
// DataGrid holds the whole file: row 0 the column letters, column 0 left for row labels, file cell (column c,
// row r), both 0-based, at grid cell (c + 1, r + 1). The view grid shows data rows MinRow .. MaxRow (1-based
// grid rows) with the letters on top and the row numbers on the left. A cell's marker (the grid's object
// slot) below zero draws it white with black text.
//
// Our choices:
// - The content decides how a file is read, not its name: a compound document holding a workbook stream, or a
//   raw BIFF stream, is an .xls workbook (BIFF2 to BIFF8, our reader); a zip package holding a workbook is an
//   .xlsx workbook (.xlsm, .xltx ... alike; our reader on libzip and expat). The file type names the version
//   ("Excel 2.1" .. "Excel 97", "Excel 2007"). Any other zip (an OpenDocument file), a compound document
//   without workbook (or an encrypted package) and binary content are refused; what remains is text.
// - Text files: UTF-8 (with or without byte order mark), UTF-16 LE or BE with byte order mark, otherwise the
//   code page TextCodePage when the caller gives one; without it such a file is refused, naming the line and
//   byte offset of its first byte that is no UTF-8. Pure ASCII is UTF-8. Every text in the grid is valid UTF-8.
//   A NUL inside a cell is refused with its line and column; content with more such control bytes is "not a
//   text file".
// - Records and quoting: records end in LF, CR LF or CR, and each record is one grid row. Fields are split at
//   the separator; a field that starts with a quote runs to its closing quote, a doubled quote inside it is
//   one quote, and separators and line ends inside the quotes belong to the field (so a quoted line break
//   does not start a row). Text after a closing quote is kept as it stands ("a"b gives ab), as spreadsheet
//   programs read it; a quote inside an unquoted field is an ordinary character. A quote that opens a field
//   and is never closed is refused with its line and column, rather than taking the rest of the file into
//   one cell. Messages count lines as grid rows (records).
// - The separator: TextSeparator when the caller gives one ('\t', ',' or ';'; any other is refused), else
//   judged from the first 20 non-blank records as detail::DetectSeparator describes: the separator (tab, ';'
//   or ',') that splits all of them but a tenth into the same number of fields, the larger number winning,
//   ties in the order tab, ';', ','. A comma stands aside when the fields of a consistent tab or ';' split
//   hold commas mostly inside numbers: in "70,1;80,2" the comma is the decimal comma of a file separated by
//   ';'. When no separator gives a consistent count, one that splits nearly every record is taken; when none
//   splits, tab (each line one cell in column A). Separator() tells which one was used.
// - Workbooks: Sheet chooses the sheet, by name (exactly as written, then without regard to letter case) or,
//   when no sheet is called so, by number from 1 in the order of the tabs; empty Sheet loads the first
//   worksheet (a chart sheet in front is passed over). An unknown sheet is refused with the list of the
//   sheets; a sheet without any cell (chosen or the first; a chart sheet among them) is refused as empty,
//   naming the sheets that hold data, so that an import never runs on nothing because of an empty first
//   sheet or a wrong choice. SheetNames() lists every sheet in tab
//   order (BIFF2 .. BIFF4 worksheet files: one sheet "Sheet1"; a sheet without name is "Sheet<n>"), and
//   ListSheetNames gives the same list without reading a cell. Sheet is not used for text files, nor
//   TextSeparator for workbooks.
// - The used range always starts at the sheet's A1: a sheet whose first used cell is C5 gives empty grid
//   columns A, B and rows 1 to 4, so the letters in row 0 are the sheet's own and every used row is loaded.
// - Headers beyond two letters: columns past ZZ (grid column 703 on) are named like the sheet names them
//   ("AAA", "AAB", ...), which continues the two-letter scheme without a gap.
// - The view grid is a window onto DataGrid (TStringGrid::SetWindow), not a copy, so SetTextRC sets the data
//   cell and the view shows it; on a row outside the view (before MinRow or after MaxRow) nothing else shows.
// - DoImportShared loads nothing: it shows the rows another loader has read (the import dialog's header
//   rows come from the same file as its data rows, so the file is read and held once), and takes over its
//   file type, separator, sheet choice and sheet names; StreamRows then walks the rows it shares.
// - Memory follows the cells present, not the extent: a sheet with one cell at A1048576 holds one cell. A
//   file with more than MaxCells cells (kMaxGridCells unless the caller gives fewer), a text longer than 32767
//   characters in one cell, or a text line of more than 16384 columns is refused with an error.
// - A workbook's shared string is kept once however many cells show it. What the grid holds is bounded by its
//   text (MaxTextBytes, 1024 MB unless the caller gives more or less): each cell's own text in bytes (a number
//   cell, kept as its double, 8) and kGridCellBytes for its place, each shared string once, and kGridRowBytes for each row. The count is
//   checked as every cell is added, so a file that would take more is refused while it is read, and a loader's
//   memory stays within a small multiple of its text limit whatever the file claims. Loaders that draw on one
//   TGridTextBudget (the open import dialogs of a server) share its limit besides their own, and give their
//   part back when their grid is gone.
// - A cell whose record is damaged (a text that its record cuts short) is loaded with the text that is there and
//   the reader's message (CellDamage), for the import to fail that line with its line and column.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "import/sheet/TextGrid.h"

namespace vez {

inline constexpr std::int64_t kMaxGridCells = 20'000'000;
inline constexpr std::int64_t kGridCellBytes = 48;
inline constexpr std::int64_t kGridRowBytes = 64;
inline constexpr std::int64_t kDefaultMaxGridTextMB = 1024;

// The text that several loaders hold together, within one limit in bytes (thread-safe).
class TGridTextBudget {
public:
  explicit TGridTextBudget(std::int64_t limitBytes) : limit_(limitBytes) {}
  // Takes `bytes` from the budget; false (and nothing taken) when they would pass the limit.
  bool Take(std::int64_t bytes);
  void Give(std::int64_t bytes) { used_.fetch_sub(bytes); }
  std::int64_t Limit() const { return limit_; }
  std::int64_t Used() const { return used_.load(); }

private:
  const std::int64_t limit_;
  std::atomic<std::int64_t> used_{0};
};

// The header text of grid column `col` (1 = "A", 26 = "Z", 27 = "AA").
std::string GridColumnName(std::int32_t col);

// The sheet names of a workbook file in tab order, read from its workbook part or globals alone (no cell is
// loaded), as TXLSASCIIImport::SheetNames gives them after loading; empty for a text file. Errors as DoImport's.
std::vector<std::string> ListSheetNames(const std::string& fileName);

class TXLSASCIIImport {
public:
  TXLSASCIIImport();
  ~TXLSASCIIImport();
  TXLSASCIIImport(const TXLSASCIIImport&) = delete;
  TXLSASCIIImport& operator=(const TXLSASCIIImport&) = delete;

  // Loads FileName into DataGrid, installs the draw handler on Grid (which becomes the view; not owned, and
  // not touched after this object is gone) and shows all rows. File system and reader errors pass to the caller.
  void DoImport(TStringGrid& Grid, const std::string& FileName);
  // As DoImport, with the rows (and file type, separator and sheets) that Loaded holds; both then share them.
  void DoImportShared(TStringGrid& Grid, TXLSASCIIImport& Loaded);

  std::string GetTextRC(std::int32_t Col, std::int32_t Row) const { return DataGrid().Cells(Col, Row); }
  void SetTextRC(std::int32_t Col, std::int32_t Row, const std::string& Text);
  std::int32_t GetLastRow() const { return dataGrid_->RowCount() - 1; }
  std::int32_t GetLastCol() const { return dataGrid_->ColCount() - 1; }

  std::int32_t MinRow() const { return minRow_; }
  std::int32_t MaxRow() const { return maxRow_; }
  void SetMinRow(std::int32_t N);
  void SetMaxRow(std::int32_t N);
  // Grows DataGrid so that cell (Col, Row) exists.
  void ColRowCheck(std::int32_t Col, std::int32_t Row);

  const std::string& FileType() const { return fileType_; }
  // The code page of text files that are neither UTF-8 nor marked by a byte order mark; 0: none is given, and
  // such a file is refused with the place of its first byte that is no UTF-8 (never read in a guessed code page).
  std::int32_t TextCodePage = 0;
  // Text files: the field separator '\t', ',' or ';'; 0 detects it from the first lines.
  char TextSeparator = 0;
  // Workbooks: the sheet to load, by name (any letter case) or by number from 1; empty: the first sheet.
  std::string Sheet;
  // The most text the grid may hold, in bytes (see above), and the budget it is also drawn from (may be null).
  std::int64_t MaxTextBytes = kDefaultMaxGridTextMB << 20;
  std::shared_ptr<TGridTextBudget> TextBudget;
  // The most cells the grid may hold: a file with more is refused while it is read.
  std::int64_t MaxCells = kMaxGridCells;
  // After loading: what the grid's text counts, and the reader's message for a damaged cell (nullptr: sound).
  std::int64_t TextBytes() const;
  const std::string* CellDamage(std::int32_t Col, std::int32_t Row) const;
  // After loading: the separator a text file was read with (0 for a workbook), the workbook's sheet names
  // in order (empty for text), and the name of the sheet loaded (empty for text).
  char Separator() const { return separator_; }
  // The encoding a text file was read in ("ASCII" only when it is ASCII throughout); empty for a workbook.
  const std::string& TextEncoding() const { return textEncoding_; }
  const std::vector<std::string>& SheetNames() const { return sheetNames_; }
  const std::string& SheetName() const { return sheetName_; }
  // Reading a file while it is used, for a program that stores its lines and shows no grid: with KeepRows >= 0
  // a load keeps the cells of the first KeepRows rows only (the header lines), and StreamRows(First, Last, Visit)
  // calls Visit(r) for each grid row r from First to Last in order, with that row's cells in DataGrid while
  // Visit runs (they are dropped afterwards), and stops early when Visit answers false. Memory is then that of a
  // row, however long the file. A text file is read once for its rows: the load stops reading once the header
  // lines are in, so the grid's extent is that of the rows read so far (ExtentKnown() false until the file has
  // been read to its end; RowBound() is then a bound on its last row from a count of its line ends), and
  // StreamRows reads the file from its start, growing the extent as the rows come, and on past Last to the end
  // for the file's extent unless Visit stops it. ReadExtent() reads the extent at once (a reading of its own),
  // for what needs it before the rows. A workbook (.xls, .xlsx) is loaded whole all the same, and StreamRows
  // walks its grid.
  std::int32_t KeepRows = -1;
  void StreamRows(std::int32_t First, std::int32_t Last, const std::function<bool(std::int32_t)>& Visit);
  bool ExtentKnown() const { return extentKnown_; }
  void ReadExtent();
  std::int32_t RowBound() const { return extentKnown_ ? GetLastRow() : std::max(GetLastRow(), rowBound_); }

  const TStringGrid& DataGrid() const { return *dataGrid_; }
  TStringGrid& DataGrid() { return *dataGrid_; }
  TStringGrid* ViewGrid() const { return viewGrid_; }

  // The draw handler installed on the view grid.
  void GridDrawCell(TStringGrid& grid, std::int32_t Col, std::int32_t Row, const TRect& Rect);

  struct LoadState;  // what a load counted and found (defined with the loader)

private:
  void SetMinMaxRow();
  void Attach(TStringGrid& Grid);
  void Load(const std::string& fileName);

  std::shared_ptr<TStringGrid> dataGrid_ = std::make_shared<TStringGrid>(2, 2);
  TStringGrid* viewGrid_ = nullptr;
  std::int32_t minRow_ = 1;
  std::int32_t maxRow_ = 1;
  std::string fileType_;
  char separator_ = 0;
  std::string textEncoding_;
  std::string fileName_;
  bool streamable_ = false;  // the file's rows are read while they are used (text)
  bool extentKnown_ = true;  // the grid's extent is the file's
  std::int32_t rowBound_ = 0;  // while not: a bound on the file's last row
  std::vector<std::string> sheetNames_;
  std::string sheetName_;
  std::shared_ptr<LoadState> state_;  // the grid's text count and damaged cells, shared with DoImportShared
  std::shared_ptr<int> alive_ = std::make_shared<int>(0);  // watched by the installed draw handler
};

}  // namespace vez

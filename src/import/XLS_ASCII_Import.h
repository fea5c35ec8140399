// XLS_ASCII_Import: loads a spreadsheet (".xls", ".xlsx") or tab-separated text file into a grid of texts,
// and shows a window of its rows in a second, visible grid.
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
//   ANSI code page TextCodePage (1252 unless the caller sets another); line ends LF, CR LF or CR; fields split
//   at every tab, without quoting. Every text in the grid is valid UTF-8. A NUL inside a cell is refused with
//   its line and column; content with more such control bytes is "not a text file".
// - The used range always starts at the sheet's A1: a sheet whose first used cell is C5 gives empty grid
//   columns A, B and rows 1 to 4, so the letters in row 0 are the sheet's own and every used row is loaded.
// - Headers beyond two letters: columns past ZZ (grid column 703 on) are named like the sheet names them
//   ("AAA", "AAB", ...), which continues the two-letter scheme without a gap.
// - The view grid is a window onto DataGrid (TStringGrid::SetWindow), not a copy, so SetTextRC sets the data
//   cell and the view shows it; on a row outside the view (before MinRow or after MaxRow) nothing else shows.
// - DoImportShared loads nothing: it shows the rows another loader has read (the import dialog's header
//   rows come from the same file as its data rows, so the file is read and held once).
// - Memory follows the cells present, not the extent: a sheet with one cell at A1048576 holds one cell. A
//   file with more than kMaxGridCells cells, a text longer than 32767 characters in one cell, or a text line
//   of more than 16384 columns is refused with an error.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "import/sheet/TextGrid.h"

namespace vez {

inline constexpr std::int64_t kMaxGridCells = 20'000'000;

// The header text of grid column `col` (1 = "A", 26 = "Z", 27 = "AA").
std::string GridColumnName(std::int32_t col);

class TXLSASCIIImport {
public:
  TXLSASCIIImport();
  ~TXLSASCIIImport();
  TXLSASCIIImport(const TXLSASCIIImport&) = delete;
  TXLSASCIIImport& operator=(const TXLSASCIIImport&) = delete;

  // Loads FileName into DataGrid, installs the draw handler on Grid (which becomes the view; not owned, and
  // not touched after this object is gone) and shows all rows. File system and reader errors pass to the caller.
  void DoImport(TStringGrid& Grid, const std::string& FileName);
  // As DoImport, with the rows (and file type) that Loaded holds; both then share them.
  void DoImportShared(TStringGrid& Grid, TXLSASCIIImport& Loaded);

  const std::string& GetTextRC(std::int32_t Col, std::int32_t Row) const { return DataGrid().Cells(Col, Row); }
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
  // The code page of text files that are neither UTF-8 nor marked by a byte order mark.
  std::int32_t TextCodePage = 1252;
  const TStringGrid& DataGrid() const { return *dataGrid_; }
  TStringGrid& DataGrid() { return *dataGrid_; }
  TStringGrid* ViewGrid() const { return viewGrid_; }

  // The draw handler installed on the view grid.
  void GridDrawCell(TStringGrid& grid, std::int32_t Col, std::int32_t Row, const TRect& Rect);

private:
  void SetMinMaxRow();
  void Attach(TStringGrid& Grid);
  void Load(const std::string& fileName);
  void LoadText(std::string_view bytes);

  std::shared_ptr<TStringGrid> dataGrid_ = std::make_shared<TStringGrid>(2, 2);
  TStringGrid* viewGrid_ = nullptr;
  std::int32_t minRow_ = 1;
  std::int32_t maxRow_ = 1;
  std::string fileType_;
  std::shared_ptr<int> alive_ = std::make_shared<int>(0);  // watched by the installed draw handler
};

}  // namespace vez

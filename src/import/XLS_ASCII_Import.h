// XLS_ASCII_Import: loads a spreadsheet (".xls", ".xlsx") or tab-separated text file into a grid of texts,
// and shows a window of its rows in a second, visible grid.
//
// DataGrid holds the whole file: row 0 the column letters, column 0 left for row labels, file cell (column c,
// row r), both 0-based, at grid cell (c + 1, r + 1). The view grid shows data rows MinRow .. MaxRow (1-based
// grid rows) with the letters on top and the row numbers on the left. A cell's marker (the grid's object
// slot) below zero draws it white with black text.
//
// Our choices:
// - Readers: ".xls" (BIFF2 to BIFF8) through FreeXL, ".xlsx" through our reader on libzip and expat; the
//   file type names the version ("Excel 2.1" .. "Excel 97", "Excel 2007"). Any other extension is read as
//   tab-separated text, as bytes (UTF-8 stays UTF-8); a carriage return before the line feed is dropped.
// - The used range always starts at the sheet's A1: a sheet whose first used cell is C5 gives empty grid
//   columns A, B and rows 1 to 4, so the letters in row 0 are the sheet's own and every used row is loaded.
// - Headers beyond two letters: columns past ZZ (grid column 703 on) are named like the sheet names them
//   ("AAA", "AAB", ...), which continues the two-letter scheme without a gap.
// - The view grid is a window onto DataGrid (TStringGrid::SetWindow), not a copy, so SetTextRC sets the data
//   cell and the view shows it; on a row outside the view (before MinRow or after MaxRow) nothing else shows.
// - DoImportShared loads nothing: it shows the rows another loader has read (the import dialog's header
//   rows come from the same file as its data rows, so the file is read and held once).
// - A file whose grid would exceed kMaxGridCells cells (rows x columns) is refused with an error, so a small
//   hostile file cannot make the loader allocate without bound.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "import/sheet/TextGrid.h"

namespace vez {

inline constexpr std::int64_t kMaxGridCells = 40'000'000;

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
  const TStringGrid& DataGrid() const { return *dataGrid_; }
  TStringGrid& DataGrid() { return *dataGrid_; }
  TStringGrid* ViewGrid() const { return viewGrid_; }

  // The draw handler installed on the view grid.
  void GridDrawCell(TStringGrid& grid, std::int32_t Col, std::int32_t Row, const TRect& Rect);

private:
  void SetMinMaxRow();
  void Attach(TStringGrid& Grid);
  void LoadText(const std::string& fileName);
  void LoadSpreadsheet(const std::string& fileName, bool xlsx);

  std::shared_ptr<TStringGrid> dataGrid_ = std::make_shared<TStringGrid>(2, 2);
  TStringGrid* viewGrid_ = nullptr;
  std::int32_t minRow_ = 1;
  std::int32_t maxRow_ = 1;
  std::string fileType_;
  std::shared_ptr<int> alive_ = std::make_shared<int>(0);  // watched by the installed draw handler
};

}  // namespace vez

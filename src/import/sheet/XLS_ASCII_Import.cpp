#include "import/XLS_ASCII_Import.h"

#include <algorithm>
#include <fstream>
#include <iterator>

#include "core/Exceptions.h"
#include "core/FormatSettings.h"
#include "import/sheet/SheetReader.h"

namespace vez {

std::string GridColumnName(std::int32_t col) {
  std::string name;
  for (std::int64_t k = col; k > 0; k = (k - 1) / 26) name.insert(name.begin(), static_cast<char>('A' + (k - 1) % 26));
  return name;
}

namespace {

const char* FileTypeName(std::int32_t version) {
  switch (version) {
    case 1: return "???";
    case 2: return "Excel 2.1";
    case 3: return "Excel 3.0";
    case 4: return "Excel 4.0";
    case 5: return "Excel 5.0";
    case 6: return "Excel 97";
    case 7: return "Excel 2007";
    default: return nullptr;
  }
}

// Places cells at (c + 1, r + 1), growing the grid as they come.
class GridSink : public detail::SheetSink {
public:
  explicit GridSink(TStringGrid& grid) : grid_(grid) {}
  void Cell(std::uint32_t row, std::uint32_t col, std::string text) override {
    if (++cells_ > kMaxGridCells)
      throw Exception(Format("The file holds more than %d cells", static_cast<long long>(kMaxGridCells)));
    const std::int64_t needCols = static_cast<std::int64_t>(col) + 2;
    const std::int64_t needRows = static_cast<std::int64_t>(row) + 2;
    if (needCols > grid_.ColCount()) grid_.SetColCount(static_cast<std::int32_t>(needCols));
    if (needRows > grid_.RowCount()) grid_.SetRowCount(static_cast<std::int32_t>(needRows));
    grid_.SetCells(static_cast<std::int32_t>(col) + 1, static_cast<std::int32_t>(row) + 1, std::move(text));
  }

private:
  TStringGrid& grid_;
  std::int64_t cells_ = 0;
};

std::string ReadWholeFile(const std::string& fileName) {
  std::ifstream in(fileName, std::ios::binary);
  if (!in) throw EInOutError("Cannot open file \"" + fileName + "\"");
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) throw EInOutError("Cannot read file \"" + fileName + "\"");
  return bytes;
}

}  // namespace

TXLSASCIIImport::TXLSASCIIImport() = default;
TXLSASCIIImport::~TXLSASCIIImport() = default;

void TXLSASCIIImport::Attach(TStringGrid& Grid) {
  viewGrid_ = &Grid;
  viewGrid_->SetWindow(nullptr, 1);
  // The handler does nothing once this loader is gone.
  viewGrid_->OnDrawCell = [this, alive = std::weak_ptr<int>(alive_)](TStringGrid& g, std::int32_t c,
                                                                      std::int32_t r, const TRect& rect) {
    if (!alive.expired()) GridDrawCell(g, c, r, rect);
  };
}

void TXLSASCIIImport::DoImportShared(TStringGrid& Grid, TXLSASCIIImport& Loaded) {
  Attach(Grid);
  dataGrid_ = Loaded.dataGrid_;
  fileType_ = Loaded.fileType_;
  minRow_ = 1;
  maxRow_ = GetLastRow();
  SetMinMaxRow();
}

void TXLSASCIIImport::DoImport(TStringGrid& Grid, const std::string& FileName) {
  Attach(Grid);
  dataGrid_ = std::make_shared<TStringGrid>(2, 2);
  Load(FileName);
  minRow_ = 1;
  maxRow_ = GetLastRow();
  SetMinMaxRow();
}

void TXLSASCIIImport::Load(const std::string& fileName) {
  const std::string bytes = ReadWholeFile(fileName);
  GridSink sink(*dataGrid_);
  std::int32_t version = detail::kVersionXlsx;
  switch (detail::DetectSheetFile(bytes)) {
    case detail::SheetFileKind::Xls: version = detail::ReadXlsSheet0(bytes, sink); break;
    case detail::SheetFileKind::Xlsx: detail::ReadXlsxSheet0(bytes.data(), bytes.size(), sink); break;
    case detail::SheetFileKind::Text:
      fileType_ = "ASCII";
      dataGrid_->SetRowCount(std::max(dataGrid_->RowCount(), detail::ReadTextSheet(bytes, TextCodePage, sink) + 1));
      return;
  }
  if (const char* name = FileTypeName(version)) fileType_ = name;
}

void TXLSASCIIImport::SetTextRC(std::int32_t Col, std::int32_t Row, const std::string& Text) {
  dataGrid_->SetCells(Col, Row, Text);  // the view is a window onto the data
}

void TXLSASCIIImport::SetMinRow(std::int32_t N) {
  minRow_ = N;
  SetMinMaxRow();
}

void TXLSASCIIImport::SetMaxRow(std::int32_t N) {
  maxRow_ = N;
  SetMinMaxRow();
}

void TXLSASCIIImport::ColRowCheck(std::int32_t Col, std::int32_t Row) {
  if (dataGrid_->ColCount() < Col + 1) dataGrid_->SetColCount(Col + 1);
  if (dataGrid_->RowCount() < Row + 1) dataGrid_->SetRowCount(Row + 1);
}

void TXLSASCIIImport::SetMinMaxRow() {
  const std::int32_t cols = dataGrid_->ColCount();
  for (std::int32_t j = 1; j < cols; ++j) dataGrid_->SetCells(j, 0, GridColumnName(j));
  if (viewGrid_ == nullptr) return;
  TStringGrid& view = *viewGrid_;
  view.SetColCount(cols);
  if (maxRow_ >= minRow_) {
    view.SetWindow(dataGrid_, minRow_);
    view.SetRowCount(maxRow_ - minRow_ + 2);
  } else {
    view.SetRowCount(2);
    view.SetWindow(nullptr, 1);
    for (std::int32_t j = 1; j < cols; ++j) {
      view.SetCells(j, 1, {});
      view.SetObjects(j, 1, 0);
    }
  }
  for (std::int32_t j = 1; j < cols; ++j) view.SetCells(j, 0, GridColumnName(j));
  view.NumberRows(minRow_);
}

void TXLSASCIIImport::GridDrawCell(TStringGrid& grid, std::int32_t Col, std::int32_t Row, const TRect& Rect) {
  TGridCanvas* canvas = grid.Canvas;
  if (canvas == nullptr) return;
  const std::string& text = grid.Cells(Col, Row);
  if (Col > 0 && Row > 0) {
    if (grid.Objects(Col, Row) < 0) {
      canvas->SetBrushColor(clWhite);
      canvas->SetFontColor(clBlack);
    } else {
      if (canvas->BrushColor() == clBlack) canvas->SetBrushColor(clWhite);
      const std::int32_t height = canvas->TextHeight("Åj") + 2;
      if (grid.RowHeights(Row) < height) grid.SetRowHeights(Row, height);
    }
    canvas->FillRect(Rect);
    canvas->TextRect(Rect, Rect.Left + 2, Rect.Top + 2, text);
  } else {
    canvas->SetBrushColor(grid.FixedColor);
    canvas->SetFontColor(clBlack);
    canvas->FillRect(Rect);
    const std::int32_t x = Rect.Left + Rect.Width() / 2 - canvas->TextWidth(text) / 2;
    canvas->TextRect(Rect, x, Rect.Top + 2, text);
  }
}

}  // namespace vez

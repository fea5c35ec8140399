#include "import/sheet/TextGrid.h"

#include <algorithm>

#include "core/Exceptions.h"
#include "core/FormatSettings.h"

namespace vez {

namespace {
const std::string& EmptyText() {
  static const std::string empty;
  return empty;
}
}  // namespace

TStringGrid::TStringGrid(std::int32_t cols, std::int32_t rows) {
  SetColCount(cols);
  SetRowCount(rows);
}

namespace {
std::uint64_t MarkerKey(std::int32_t col, std::int32_t row) {
  return (static_cast<std::uint64_t>(static_cast<std::uint32_t>(row)) << 32) | static_cast<std::uint32_t>(col);
}
}  // namespace

void TStringGrid::DropMarkersOutside() {
  std::erase_if(markers_, [this](const auto& entry) {
    const auto col = static_cast<std::size_t>(entry.first & 0xffffffffu);
    const auto row = static_cast<std::size_t>(entry.first >> 32);
    return row >= rows_.size() || col >= rows_[row].size();
  });
}

void TStringGrid::SetColCount(std::int32_t count) {
  count = std::max<std::int32_t>(count, 0);
  const bool shrinks = count < colCount_;
  colCount_ = count;
  for (std::size_t i = 0; i < rows_.size(); ++i) rows_[i].resize(RowWidth(i));
  colWidths_.resize(static_cast<std::size_t>(count), DefaultColWidth);
  if (shrinks) DropMarkersOutside();
}

void TStringGrid::SetRowCount(std::int32_t count) {
  count = std::max<std::int32_t>(count, 0);
  const std::size_t old = rows_.size();
  rowCount_ = count;
  rows_.resize(static_cast<std::size_t>(count));
  for (std::size_t i = old; i < rows_.size(); ++i) rows_[i].resize(RowWidth(i));
  rowHeights_.resize(static_cast<std::size_t>(count), DefaultRowHeight);
  if (rows_.size() < old) DropMarkersOutside();
}

void TStringGrid::SetWindow(std::shared_ptr<TStringGrid> source, std::int32_t firstRow) {
  source_ = std::move(source);
  firstRow_ = firstRow;
  for (std::size_t i = 0; i < rows_.size(); ++i) {
    rows_[i].resize(RowWidth(i));
    rows_[i].shrink_to_fit();
  }
  DropMarkersOutside();
}

std::size_t TStringGrid::RowWidth(std::size_t row) const {
  const auto cols = static_cast<std::size_t>(colCount_);
  return source_ != nullptr && row > 0 ? std::min<std::size_t>(cols, 1) : cols;
}

std::string& TStringGrid::At(std::int32_t col, std::int32_t row) {
  if (col < 0 || row < 0 || col >= colCount_ || row >= rowCount_)
    throw EListError(Format("Grid index out of bounds (%d, %d)", col, row));
  if (source_ != nullptr && col > 0 && row > 0) return source_->At(col, row - 1 + firstRow_);
  return rows_[static_cast<std::size_t>(row)][static_cast<std::size_t>(col)];
}

const std::string& TStringGrid::Cells(std::int32_t col, std::int32_t row) const {
  if (col < 0 || row < 0 || col >= colCount_ || row >= rowCount_) return EmptyText();
  if (source_ != nullptr && col > 0 && row > 0) return source_->Cells(col, row - 1 + firstRow_);
  return rows_[static_cast<std::size_t>(row)][static_cast<std::size_t>(col)];
}

void TStringGrid::SetCells(std::int32_t col, std::int32_t row, std::string text) { At(col, row) = std::move(text); }

std::int32_t TStringGrid::Objects(std::int32_t col, std::int32_t row) const {
  if (col < 0 || row < 0 || col >= colCount_ || row >= rowCount_) return 0;
  if (source_ != nullptr && col > 0 && row > 0) return source_->Objects(col, row - 1 + firstRow_);
  const auto it = markers_.find(MarkerKey(col, row));
  return it == markers_.end() ? 0 : it->second;
}

void TStringGrid::SetObjects(std::int32_t col, std::int32_t row, std::int32_t marker) {
  At(col, row);  // the bounds check
  if (source_ != nullptr && col > 0 && row > 0) {
    source_->SetObjects(col, row - 1 + firstRow_, marker);
  } else if (marker == 0) {
    markers_.erase(MarkerKey(col, row));
  } else {
    markers_[MarkerKey(col, row)] = marker;
  }
}

std::int32_t TStringGrid::ColWidths(std::int32_t col) const {
  return col >= 0 && col < colCount_ ? colWidths_[static_cast<std::size_t>(col)] : DefaultColWidth;
}
void TStringGrid::SetColWidths(std::int32_t col, std::int32_t width) {
  if (col >= 0 && col < colCount_) colWidths_[static_cast<std::size_t>(col)] = width;
}
std::int32_t TStringGrid::RowHeights(std::int32_t row) const {
  return row >= 0 && row < rowCount_ ? rowHeights_[static_cast<std::size_t>(row)] : DefaultRowHeight;
}
void TStringGrid::SetRowHeights(std::int32_t row, std::int32_t height) {
  if (row >= 0 && row < rowCount_) rowHeights_[static_cast<std::size_t>(row)] = height;
}

TRect TStringGrid::CellRect(std::int32_t col, std::int32_t row) const {
  TRect r;
  for (std::int32_t c = 0; c < col; ++c) r.Left += ColWidths(c) + 1;
  for (std::int32_t i = 0; i < row; ++i) r.Top += RowHeights(i) + 1;
  r.Right = r.Left + ColWidths(col);
  r.Bottom = r.Top + RowHeights(row);
  return r;
}

void TStringGrid::DrawCell(std::int32_t col, std::int32_t row) {
  if (OnDrawCell && Canvas != nullptr) OnDrawCell(*this, col, row, CellRect(col, row));
}

}  // namespace vez

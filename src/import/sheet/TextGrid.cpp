#include "import/sheet/TextGrid.h"

#include <algorithm>
#include <iterator>

#include "core/Exceptions.h"
#include "core/FormatSettings.h"

namespace vez {

namespace {
const std::string& EmptyText() {
  static const std::string empty;
  return empty;
}
std::uint64_t MarkerKey(std::int32_t col, std::int32_t row) {
  return (static_cast<std::uint64_t>(static_cast<std::uint32_t>(row)) << 32) | static_cast<std::uint32_t>(col);
}
}  // namespace

TStringGrid::TStringGrid(std::int32_t cols, std::int32_t rows) {
  SetColCount(cols);
  SetRowCount(rows);
}

void TStringGrid::DropOutside() {
  cachedIndex_ = -1;
  for (auto it = rows_.begin(); it != rows_.end();) {
    const bool window = source_ != nullptr && it->first > 0;
    std::erase_if(it->second, [&](const Cell& cell) { return cell.Col >= colCount_ || (window && cell.Col > 0); });
    it = it->first >= rowCount_ || it->second.empty() ? rows_.erase(it) : std::next(it);
  }
  std::erase_if(markers_, [this](const auto& entry) {
    const auto col = static_cast<std::int32_t>(entry.first & 0xffffffffu);
    const auto row = static_cast<std::int32_t>(entry.first >> 32);
    return row >= rowCount_ || col >= colCount_ || !Own(col, row);
  });
  std::erase_if(rowHeights_, [this](const auto& entry) { return entry.first >= rowCount_; });
}

void TStringGrid::SetColCount(std::int32_t count) {
  count = std::max<std::int32_t>(count, 0);
  const bool shrinks = count < colCount_;
  colCount_ = count;
  colWidths_.resize(static_cast<std::size_t>(count), DefaultColWidth);
  if (shrinks) DropOutside();
}

void TStringGrid::SetRowCount(std::int32_t count) {
  count = std::max<std::int32_t>(count, 0);
  const bool shrinks = count < rowCount_;
  rowCount_ = count;
  if (shrinks) DropOutside();
}

void TStringGrid::SetWindow(std::shared_ptr<TStringGrid> source, std::int32_t firstRow) {
  source_ = std::move(source);
  firstRow_ = firstRow;
  DropOutside();
}

void TStringGrid::NumberRows(std::int32_t first) {
  firstNumber_ = first;
  numbers_.clear();
  cachedIndex_ = -1;
  for (auto it = rows_.begin(); it != rows_.end();) {
    if (it->first > 0) std::erase_if(it->second, [](const Cell& cell) { return cell.Col == 0; });
    it = it->second.empty() ? rows_.erase(it) : std::next(it);
  }
}

std::size_t TStringGrid::StoredCells() const {
  std::size_t n = 0;
  for (const auto& [index, row] : rows_) n += row.size();
  return n;
}

const TStringGrid::Row* TStringGrid::RowAt(std::int32_t row) const {
  if (row != cachedIndex_) {
    const auto it = rows_.find(row);
    cachedRow_ = it == rows_.end() ? nullptr : &it->second;
    cachedIndex_ = row;
  }
  return cachedRow_;
}

const std::string* TStringGrid::Find(std::int32_t col, std::int32_t row) const {
  const Row* found = RowAt(row);
  if (found == nullptr) return nullptr;
  const Row& cells = *found;
  const auto text = [this](const Cell& cell) { return cell.Shared < 0 ? &cell.Text : &shared_[static_cast<std::size_t>(cell.Shared)]; };
  // Rows are mostly dense from their first column: try the direct position first.
  const std::int64_t direct = static_cast<std::int64_t>(col) - (cells.empty() ? 0 : cells.front().Col);
  if (direct >= 0 && direct < static_cast<std::int64_t>(cells.size()) &&
      cells[static_cast<std::size_t>(direct)].Col == col)
    return text(cells[static_cast<std::size_t>(direct)]);
  const auto cell = std::lower_bound(cells.begin(), cells.end(), col, [](const Cell& c, std::int32_t k) { return c.Col < k; });
  return cell != cells.end() && cell->Col == col ? text(*cell) : nullptr;
}

TStringGrid::Cell& TStringGrid::At(std::int32_t col, std::int32_t row) {
  if (col < 0 || row < 0 || col >= colCount_ || row >= rowCount_)
    throw EListError(Format("Grid index out of bounds (%d, %d)", col, row));
  if (!Own(col, row)) return source_->At(col, row - 1 + firstRow_);
  // The row is this grid's own (At is not const), so the cached row may be written.
  Row* found = const_cast<Row*>(RowAt(row));
  if (found == nullptr) {
    found = &rows_[row];
    // A sheet's rows are mostly alike: a new row makes room for as many cells as the row written last holds.
    found->reserve(widthHint_);
    cachedRow_ = found;
  }
  Row& cells = *found;
  if (cells.empty() || cells.back().Col < col) {
    Cell& cell = cells.emplace_back(Cell{col, -1, {}});
    widthHint_ = cells.size();
    return cell;
  }
  const auto cell = std::lower_bound(cells.begin(), cells.end(), col, [](const Cell& c, std::int32_t k) { return c.Col < k; });
  if (cell != cells.end() && cell->Col == col) return *cell;
  return *cells.insert(cell, Cell{col, -1, {}});
}

const std::string& TStringGrid::Cells(std::int32_t col, std::int32_t row) const {
  if (col < 0 || row < 0 || col >= colCount_ || row >= rowCount_) return EmptyText();
  if (!Own(col, row)) return source_->Cells(col, row - 1 + firstRow_);
  if (const std::string* text = Find(col, row)) return *text;
  if (col == 0 && row > 0 && firstNumber_ != 0) {
    auto [it, added] = numbers_.try_emplace(row);
    if (added) it->second = IntToStr(static_cast<std::int64_t>(firstNumber_) + row - 1);
    return it->second;
  }
  return EmptyText();
}

void TStringGrid::SetCells(std::int32_t col, std::int32_t row, std::string text) {
  Cell& cell = At(col, row);
  cell.Shared = -1;
  cell.Text = std::move(text);
}

std::int32_t TStringGrid::AddSharedText(std::string text) {
  if (source_ != nullptr) throw EListError("A window keeps no shared texts");
  shared_.push_back(std::move(text));
  return static_cast<std::int32_t>(shared_.size() - 1);
}

void TStringGrid::SetSharedCell(std::int32_t col, std::int32_t row, std::int32_t shared) {
  if (shared < 0 || static_cast<std::size_t>(shared) >= shared_.size())
    throw EListError(Format("No shared text %d", shared));
  if (!Own(col, row)) throw EListError("A window's cells show their source's texts");
  Cell& cell = At(col, row);
  cell.Shared = shared;
  std::string().swap(cell.Text);
}

void TStringGrid::ClearRow(std::int32_t row) {
  if (rows_.erase(row) > 0) {
    cachedIndex_ = -1;
    cachedRow_ = nullptr;
  }
}

std::int32_t TStringGrid::Objects(std::int32_t col, std::int32_t row) const {
  if (col < 0 || row < 0 || col >= colCount_ || row >= rowCount_) return 0;
  if (!Own(col, row)) return source_->Objects(col, row - 1 + firstRow_);
  const auto it = markers_.find(MarkerKey(col, row));
  return it == markers_.end() ? 0 : it->second;
}

void TStringGrid::SetObjects(std::int32_t col, std::int32_t row, std::int32_t marker) {
  if (col < 0 || row < 0 || col >= colCount_ || row >= rowCount_)
    throw EListError(Format("Grid index out of bounds (%d, %d)", col, row));
  if (!Own(col, row)) {
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
  const auto it = rowHeights_.find(row);
  return it != rowHeights_.end() ? it->second : DefaultRowHeight;
}
void TStringGrid::SetRowHeights(std::int32_t row, std::int32_t height) {
  if (row < 0 || row >= rowCount_) return;
  if (height == DefaultRowHeight) rowHeights_.erase(row);
  else rowHeights_[row] = height;
}

TRect TStringGrid::CellRect(std::int32_t col, std::int32_t row) const {
  TRect r;
  for (std::int32_t c = 0; c < col; ++c) r.Left += ColWidths(c) + 1;
  r.Top = row * (DefaultRowHeight + 1);
  for (const auto& [i, height] : rowHeights_)
    if (i < row) r.Top += height - DefaultRowHeight;
  r.Right = r.Left + ColWidths(col);
  r.Bottom = r.Top + RowHeights(row);
  return r;
}

void TStringGrid::DrawCell(std::int32_t col, std::int32_t row) {
  if (OnDrawCell && Canvas != nullptr) OnDrawCell(*this, col, row, CellRect(col, row));
}

}  // namespace vez

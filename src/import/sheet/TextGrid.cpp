#include "import/sheet/TextGrid.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <iterator>

#include "core/Exceptions.h"
#include "core/FormatSettings.h"

namespace vez {

namespace {
std::uint64_t MarkerKey(std::int32_t col, std::int32_t row) {
  return (static_cast<std::uint64_t>(static_cast<std::uint32_t>(row)) << 32) | static_cast<std::uint32_t>(col);
}

// A slot's kind is in its top 16 bits: a NaN's exponent and quiet bit, and a tag no stored number carries.
constexpr std::uint64_t kExponent = 0x7FF0'0000'0000'0000ull;
constexpr std::uint64_t kEmpty = 0x7FF9ull << 48;
constexpr std::uint64_t kTextTag = 0x7FFAull;
constexpr std::uint64_t kSharedTag = 0x7FFBull;
bool IsNumber(std::uint64_t v) { return (v & kExponent) != kExponent; }
bool IsText(std::uint64_t v) { return v >> 48 == kTextTag; }
bool IsShared(std::uint64_t v) { return v >> 48 == kSharedTag; }

// A gap of up to this many columns in a dense row is held as empty slots; a larger one makes the row sparse.
constexpr std::int64_t kMaxGap = 4;
// The text store's blocks grow from 4 KiB to 1 MiB; a longer text has a block of its own.
constexpr std::size_t kFirstBlock = 4096, kLastBlock = 1u << 20;
constexpr std::size_t kLength = sizeof(std::uint32_t);
}  // namespace

TStringGrid::TStringGrid(std::int32_t cols, std::int32_t rows) {
  SetColCount(cols);
  SetRowCount(rows);
}

template <class Pred>
bool TStringGrid::Prune(Row& cells, Pred drop) {
  auto& v = cells.Values;
  if (cells.Cols.empty()) {
    for (std::size_t i = 0; i < v.size(); ++i)
      if (v[i] != kEmpty && drop(cells.First + static_cast<std::int32_t>(i))) {
        const Value old = v[i];
        v[i] = kEmpty;
        Release(old);
      }
    while (!v.empty() && v.back() == kEmpty) v.pop_back();
    std::size_t lead = 0;
    while (lead < v.size() && v[lead] == kEmpty) ++lead;
    v.erase(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(lead));
    cells.First += static_cast<std::int32_t>(lead);
    return !v.empty();
  }
  std::size_t kept = 0;
  for (std::size_t i = 0; i < v.size(); ++i) {
    if (drop(cells.Cols[i])) {
      const Value old = v[i];
      v[i] = kEmpty;
      Release(old);
    } else {
      v[kept] = v[i];
      cells.Cols[kept++] = cells.Cols[i];
    }
  }
  v.resize(kept);
  cells.Cols.resize(kept);
  return kept > 0;
}

void TStringGrid::DropOutside() {
  cachedIndex_ = -1;
  for (auto it = rows_.begin(); it != rows_.end();) {
    const bool window = source_ != nullptr && it->first > 0;
    const bool keep = it->first < rowCount_ &&
                      Prune(it->second, [&](std::int32_t col) { return col >= colCount_ || (window && col > 0); });
    it = keep ? std::next(it) : rows_.erase(it);
  }
  std::erase_if(markers_, [this](const auto& entry) {
    const auto col = static_cast<std::int32_t>(entry.first & 0xffffffffu);
    const auto row = static_cast<std::int32_t>(entry.first >> 32);
    return row >= rowCount_ || col >= colCount_ || !Own(col, row);
  });
  std::erase_if(rowHeights_, [this](const auto& entry) { return entry.first >= rowCount_; });
  CompactIfWasteful();
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
  cachedIndex_ = -1;
  for (auto it = rows_.begin(); it != rows_.end();)
    it = it->first == 0 || Prune(it->second, [](std::int32_t col) { return col == 0; }) ? std::next(it) : rows_.erase(it);
  CompactIfWasteful();
}

std::size_t TStringGrid::StoredCells() const {
  std::size_t n = 0;
  for (const auto& [index, row] : rows_) n += static_cast<std::size_t>(std::count_if(row.Values.begin(), row.Values.end(), [](Value v) { return v != kEmpty; }));
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

const TStringGrid::Value* TStringGrid::Find(std::int32_t col, std::int32_t row) const {
  const Row* found = RowAt(row);
  if (found == nullptr) return nullptr;
  const Row& cells = *found;
  const Value* v = nullptr;
  if (cells.Cols.empty()) {
    const std::int64_t i = static_cast<std::int64_t>(col) - cells.First;
    if (i >= 0 && i < static_cast<std::int64_t>(cells.Values.size())) v = &cells.Values[static_cast<std::size_t>(i)];
  } else {
    const auto at = std::lower_bound(cells.Cols.begin(), cells.Cols.end(), col);
    if (at != cells.Cols.end() && *at == col) v = &cells.Values[static_cast<std::size_t>(at - cells.Cols.begin())];
  }
  return v != nullptr && *v != kEmpty ? v : nullptr;
}

TStringGrid::Value& TStringGrid::At(std::int32_t col, std::int32_t row) {
  if (col < 0 || row < 0 || col >= colCount_ || row >= rowCount_)
    throw EListError(Format("Grid index out of bounds (%d, %d)", col, row));
  if (!Own(col, row)) return source_->At(col, row - 1 + firstRow_);
  // The row is this grid's own (At is not const), so the cached row may be written.
  Row* found = const_cast<Row*>(RowAt(row));
  if (found == nullptr) {
    found = &rows_[row];
    // A sheet's rows are mostly alike: a new row makes room for as many cells as the row written last holds.
    found->Values.reserve(widthHint_);
    found->First = col;
    cachedRow_ = found;
  }
  Row& cells = *found;
  auto& v = cells.Values;
  if (cells.Cols.empty()) {
    const std::int64_t end = static_cast<std::int64_t>(cells.First) + static_cast<std::int64_t>(v.size());
    if (v.empty()) cells.First = col;
    if (v.empty() || (col >= end && col - end <= kMaxGap)) {
      v.resize(static_cast<std::size_t>(col - cells.First) + 1, kEmpty);
      widthHint_ = v.size();
      return v.back();
    }
    if (col >= cells.First && col < end) return v[static_cast<std::size_t>(col - cells.First)];
    if (col < cells.First && cells.First - col - 1 <= kMaxGap) {
      v.insert(v.begin(), static_cast<std::size_t>(cells.First - col), kEmpty);
      cells.First = col;
      return v.front();
    }
    // The gap is larger: the row keeps its columns from now on (its empty slots go).
    std::size_t kept = 0;
    for (std::size_t i = 0; i < v.size(); ++i)
      if (v[i] != kEmpty) {
        cells.Cols.push_back(cells.First + static_cast<std::int32_t>(i));
        v[kept++] = v[i];
      }
    v.resize(kept);
  }
  auto& cols = cells.Cols;
  if (cols.empty() || cols.back() < col) {
    cols.push_back(col);
    v.push_back(kEmpty);
    return v.back();
  }
  const auto at = std::lower_bound(cols.begin(), cols.end(), col);
  const auto i = at - cols.begin();
  if (at != cols.end() && *at == col) return v[static_cast<std::size_t>(i)];
  cols.insert(at, col);
  return *v.insert(v.begin() + i, kEmpty);
}

TStringGrid::Value TStringGrid::StoreText(std::string_view text) {
  if (text.size() > UINT32_MAX - kLength) throw EListError("A cell's text is too long");
  if (blocks_.size() >= (std::size_t{1} << 24)) throw EListError("The grid's text store is full");
  const std::size_t need = kLength + text.size();
  std::size_t block = 0, pos = 0;
  if (need > kLastBlock) {
    blocks_.push_back(std::make_unique_for_overwrite<char[]>(need));
    block = blocks_.size() - 1;
  } else {
    if (fill_ >= blocks_.size() || blockUsed_ + need > blockSize_) {
      blockSize_ = blockSize_ == 0 ? kFirstBlock : std::min(blockSize_ * 2, kLastBlock);
      while (blockSize_ < need) blockSize_ *= 2;  // need is at most kLastBlock here
      blocks_.push_back(std::make_unique_for_overwrite<char[]>(blockSize_));
      fill_ = blocks_.size() - 1;
      blockUsed_ = 0;
    }
    block = fill_;
    pos = blockUsed_;
    blockUsed_ += need;
  }
  char* at = blocks_[block].get() + pos;
  const auto length = static_cast<std::uint32_t>(text.size());
  std::memcpy(at, &length, kLength);
  if (!text.empty()) std::memcpy(at + kLength, text.data(), text.size());
  liveText_ += need;
  return kTextTag << 48 | static_cast<std::uint64_t>(block) << 24 | pos;
}

std::string_view TStringGrid::TextAt(Value v) const {
  if (IsShared(v)) return shared_[static_cast<std::size_t>(v & 0xFFFF'FFFF'FFFFull)];
  const char* at = blocks_[static_cast<std::size_t>((v >> 24) & 0xFF'FFFF)].get() + (v & 0xFF'FFFF);
  std::uint32_t length = 0;
  std::memcpy(&length, at, kLength);
  return {at + kLength, length};
}

void TStringGrid::Release(Value v) {
  if (!IsText(v)) return;
  const std::size_t size = kLength + TextAt(v).size();
  liveText_ -= size;
  garbage_ += size;
}

void TStringGrid::CompactIfWasteful() {
  if (garbage_ > kLastBlock && garbage_ > liveText_) Compact();
}

void TStringGrid::Compact() {
  std::vector<std::unique_ptr<char[]>> old;
  old.swap(blocks_);
  const auto oldText = [&](Value v) {
    const char* at = old[static_cast<std::size_t>((v >> 24) & 0xFF'FFFF)].get() + (v & 0xFF'FFFF);
    std::uint32_t length = 0;
    std::memcpy(&length, at, kLength);
    return std::string_view(at + kLength, length);
  };
  // The next block (twice this) has the size of the last: a grid that streams its rows compacts again and again,
  // and would otherwise grow its blocks from the smallest each time.
  blockSize_ /= 2;
  blockUsed_ = 0;
  fill_ = SIZE_MAX;
  liveText_ = garbage_ = 0;
  for (auto& [index, row] : rows_)
    for (Value& v : row.Values)
      if (IsText(v)) v = StoreText(oldText(v));
}

std::string TStringGrid::Cells(std::int32_t col, std::int32_t row) const {
  if (col < 0 || row < 0 || col >= colCount_ || row >= rowCount_) return {};
  if (!Own(col, row)) return source_->Cells(col, row - 1 + firstRow_);
  if (const Value* v = Find(col, row)) {
    if (!IsNumber(*v)) return std::string(TextAt(*v));
    return FloatToStrShortest(std::bit_cast<double>(*v));
  }
  if (col == 0 && row > 0 && firstNumber_ != 0) return IntToStr(static_cast<std::int64_t>(firstNumber_) + row - 1);
  return {};
}

bool TStringGrid::CellNumber(std::int32_t col, std::int32_t row, double& value) const {
  if (col < 0 || row < 0 || col >= colCount_ || row >= rowCount_) return false;
  if (!Own(col, row)) return source_->CellNumber(col, row - 1 + firstRow_, value);
  const Value* v = Find(col, row);
  if (v == nullptr || !IsNumber(*v)) return false;
  value = std::bit_cast<double>(*v);
  return true;
}

std::string_view TStringGrid::CellText(std::int32_t col, std::int32_t row) const {
  if (col < 0 || row < 0 || col >= colCount_ || row >= rowCount_) return {};
  if (!Own(col, row)) return source_->CellText(col, row - 1 + firstRow_);
  const Value* v = Find(col, row);
  return v == nullptr || IsNumber(*v) ? std::string_view() : TextAt(*v);
}

void TStringGrid::SetCells(std::int32_t col, std::int32_t row, std::string_view text) {
  if (col > 0 && row > 0 && col < colCount_ && row < rowCount_ && !Own(col, row))
    return source_->SetCells(col, row - 1 + firstRow_, text);
  Value& cell = At(col, row);
  // The new text is stored before the old is given up: `text` may be a cell of this grid.
  const Value old = cell;
  cell = StoreText(text);
  Release(old);
  CompactIfWasteful();
}

void TStringGrid::SetNumber(std::int32_t col, std::int32_t row, double value) {
  if (!std::isfinite(value)) return SetCells(col, row, FloatToStrShortest(value));
  if (col > 0 && row > 0 && col < colCount_ && row < rowCount_ && !Own(col, row))
    return source_->SetNumber(col, row - 1 + firstRow_, value);
  Value& cell = At(col, row);
  const Value old = cell;
  cell = std::bit_cast<Value>(value == 0 ? 0.0 : value);
  Release(old);
  CompactIfWasteful();
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
  Value& cell = At(col, row);
  const Value old = cell;
  cell = kSharedTag << 48 | static_cast<std::uint64_t>(shared);
  Release(old);
  CompactIfWasteful();
}

void TStringGrid::ClearRow(std::int32_t row) {
  const auto it = rows_.find(row);
  if (it == rows_.end()) return;
  const Row gone = std::move(it->second);
  rows_.erase(it);
  cachedIndex_ = -1;
  cachedRow_ = nullptr;
  for (const Value v : gone.Values) Release(v);
  CompactIfWasteful();
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

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
std::uint64_t CellKey(std::int32_t col, std::int32_t row) {
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
// The slots of a run of rows: 512 KiB (a run is split or grown by copying at most this).
constexpr std::size_t kRunSlots = std::size_t{1} << 16;
// The text store's blocks grow from 4 KiB to 1 MiB; a longer text has a block of its own.
constexpr std::size_t kFirstBlock = 4096, kLastBlock = 1u << 20;
// A text's length before its bytes: one byte below 255, else 255 and four bytes.
constexpr unsigned char kLongText = 255;
std::size_t LengthBytes(std::size_t length) { return length < kLongText ? 1 : 1 + sizeof(std::uint32_t); }
std::string_view StoredText(const char* at) {
  const auto first = static_cast<unsigned char>(*at);
  if (first < kLongText) return {at + 1, first};
  std::uint32_t length = 0;
  std::memcpy(&length, at + 1, sizeof length);
  return {at + 1 + sizeof length, length};
}
// A shared text's header: one byte, length * 4 + state below kShortShared bytes, else kShortShared * 4 + state and
// four bytes of length. The state: shown by a cell once (kShown); given up, its bytes garbage (kGone); given up
// and its bytes gone, a header of length 0 that only keeps the numbers of the texts after it (kHollow).
constexpr unsigned kShown = 1, kGone = 2, kHollow = 3, kStateBits = 3;
constexpr std::size_t kShortShared = 63;
std::size_t SharedHeader(std::size_t length) { return length < kShortShared ? 1 : 1 + sizeof(std::uint32_t); }
struct SharedEntry {
  std::string_view Text;
  unsigned State = 0;
  std::size_t Size = 0;  // header and text
};
SharedEntry ReadShared(const char* at) {
  const auto first = static_cast<unsigned char>(*at);
  std::size_t length = first >> 2;
  if (length == kShortShared) {
    std::uint32_t longer = 0;
    std::memcpy(&longer, at + 1, sizeof longer);
    length = longer;
  }
  const std::size_t header = SharedHeader(length);
  return {{at + header, length}, first & kStateBits, header + length};
}
// The places of every sharedStride_-th shared text kept at most (128 KiB): with more texts the stride doubles.
constexpr std::size_t kCheckpoints = std::size_t{1} << 14;
}  // namespace

TStringGrid::TStringGrid(std::int32_t cols, std::int32_t rows) {
  SetColCount(cols);
  SetRowCount(rows);
}

template <class Pred>
void TStringGrid::DropCells(std::int32_t from, std::int32_t to, Pred drop) {
  cachedRun_ = nullptr;
  auto it = runs_.upper_bound(from);
  if (it != runs_.begin()) --it;  // the run that may hold `from`
  while (it != runs_.end() && it->first < to) {
    const std::int32_t key = it->first;
    Run& run = it->second;
    auto& v = run.Values;
    if (!run.Cols.empty()) {
      std::size_t kept = 0;
      for (std::size_t i = 0; i < v.size(); ++i) {
        if (key >= from && drop(run.Cols[i], key)) {
          Release(v[i]);
        } else {
          v[kept] = v[i];
          run.Cols[kept++] = run.Cols[i];
        }
      }
      v.resize(kept);
      run.Cols.resize(kept);
      it = kept > 0 ? std::next(it) : runs_.erase(it);
      continue;
    }
    const std::size_t width = run.Width();
    const std::int32_t end = std::min<std::int32_t>(key + run.Rows, to);
    for (std::int32_t r = std::max(key, from); r < end; ++r) {
      Value* cells = v.data() + static_cast<std::size_t>(r - key) * width;
      for (std::size_t i = 0; i < width; ++i)
        if (cells[i] != kEmpty && drop(run.First + static_cast<std::int32_t>(i), r)) {
          Release(cells[i]);
          cells[i] = kEmpty;
        }
    }
    // Rows left without cells at the run's end go (a run without cells with them); a single row keeps no empty
    // slots at its ends.
    while (run.Rows > 0 && std::all_of(v.end() - static_cast<std::ptrdiff_t>(width), v.end(), [](Value c) { return c == kEmpty; })) {
      v.resize(v.size() - width);
      --run.Rows;
    }
    if (run.Rows == 1) {
      while (!v.empty() && v.back() == kEmpty) v.pop_back();
      std::size_t lead = 0;
      while (lead < v.size() && v[lead] == kEmpty) ++lead;
      v.erase(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(lead));
      run.First += static_cast<std::int32_t>(lead);
    }
    it = run.Rows > 0 && !v.empty() ? std::next(it) : runs_.erase(it);
  }
  for (auto o = outside_.lower_bound(CellKey(0, from)); o != outside_.end() && static_cast<std::int64_t>(o->first >> 32) < to;) {
    if (drop(static_cast<std::int32_t>(o->first & 0xffffffffu), static_cast<std::int32_t>(o->first >> 32))) {
      Release(o->second);
      o = outside_.erase(o);
    } else {
      ++o;
    }
  }
  CompactIfWasteful();
}

void TStringGrid::DropOutside() {
  DropCells(0, INT32_MAX, [this](std::int32_t col, std::int32_t row) {
    return row >= rowCount_ || col >= colCount_ || !Own(col, row);
  });
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
  DropCells(1, INT32_MAX, [](std::int32_t col, std::int32_t) { return col == 0; });
}

std::size_t TStringGrid::StoredCells() const {
  const auto stored = [](Value v) { return v != kEmpty; };
  std::size_t n = static_cast<std::size_t>(std::count_if(outside_.begin(), outside_.end(), [&](const auto& o) { return stored(o.second); }));
  for (const auto& [key, run] : runs_) n += static_cast<std::size_t>(std::count_if(run.Values.begin(), run.Values.end(), stored));
  return n;
}

std::size_t TStringGrid::Slots() const {
  std::size_t n = outside_.size();
  for (const auto& [key, run] : runs_) n += run.Values.size();
  return n;
}

TStringGrid::Run* TStringGrid::RunOf(std::int32_t row, std::int32_t& key) const {
  if (cachedRun_ == nullptr || row < cachedKey_ || row - cachedKey_ >= cachedRun_->Rows) {
    ++runLookups_;
    auto it = runs_.upper_bound(row);
    if (it == runs_.begin()) return nullptr;
    --it;
    if (row - it->first >= it->second.Rows) return nullptr;
    cachedKey_ = it->first;
    // The grid's own runs: At (not const) writes through this.
    cachedRun_ = const_cast<Run*>(&it->second);
  }
  key = cachedKey_;
  return cachedRun_;
}

const TStringGrid::Value* TStringGrid::Find(std::int32_t col, std::int32_t row) const {
  std::int32_t key = 0;
  const Value* v = nullptr;
  if (const Run* run = RunOf(row, key)) {
    if (run->Cols.empty()) {
      const std::size_t width = run->Width();
      if (col >= run->First && static_cast<std::size_t>(col - run->First) < width)
        v = &run->Values[static_cast<std::size_t>(row - key) * width + static_cast<std::size_t>(col - run->First)];
    } else {
      const auto at = std::lower_bound(run->Cols.begin(), run->Cols.end(), col);
      if (at != run->Cols.end() && *at == col) v = &run->Values[static_cast<std::size_t>(at - run->Cols.begin())];
    }
  }
  if ((v == nullptr || *v == kEmpty) && !outside_.empty()) {
    const auto o = outside_.find(CellKey(col, row));
    v = o == outside_.end() ? nullptr : &o->second;
  }
  return v != nullptr && *v != kEmpty ? v : nullptr;
}

TStringGrid::Run& TStringGrid::DetachLast(Runs::iterator it) {
  Run& run = it->second;
  const std::size_t width = run.Width();
  const std::int32_t row = it->first + run.Rows - 1;
  const auto start = run.Values.end() - static_cast<std::ptrdiff_t>(width);
  auto begin = start, end = run.Values.end();
  while (begin != end && *begin == kEmpty) ++begin;
  while (end != begin && end[-1] == kEmpty) --end;
  Run alone;
  alone.First = run.First + static_cast<std::int32_t>(begin - start);
  alone.Values.assign(begin, end);
  run.Values.erase(start, run.Values.end());
  --run.Rows;
  cachedRun_ = nullptr;
  return runs_.emplace_hint(std::next(it), row, std::move(alone))->second;
}

void TStringGrid::Settle() {
  std::int32_t key = 0;
  const Run* run = lastRow_ >= 0 ? RunOf(lastRow_, key) : nullptr;
  if (run == nullptr || !run->Cols.empty()) return;
  const auto it = runs_.find(key);
  if (run->Rows > 1) {
    // The run's last row joined it when it began: it stays when its cells leave no more than a few of the
    // run's columns empty at its ends.
    if (lastRow_ - key != run->Rows - 1) return;
    const std::size_t width = run->Width();
    const Value* cells = run->Values.data() + run->Values.size() - width;
    std::size_t lead = 0, trail = 0;
    while (lead < width && cells[lead] == kEmpty) ++lead;
    while (trail < width - lead && cells[width - 1 - trail] == kEmpty) ++trail;
    if (lead < width && lead + trail <= static_cast<std::size_t>(kMaxGap)) return;
    if (DetachLast(it).Values.empty()) runs_.erase(lastRow_);
    return;
  }
  // A single row joins the run (or single row) just above it when its cells lie in that run's columns and
  // leave no more than a few of them empty: the run then holds the row's slots and nothing else for it.
  if (it == runs_.begin() || run->Values.empty()) return;
  const auto above = std::prev(it);
  Run& into = above->second;
  const std::size_t width = into.Width(), size = run->Values.size();
  if (!into.Cols.empty() || key - above->first != into.Rows || run->First < into.First ||
      static_cast<std::size_t>(run->First - into.First) + size > width || width - size > static_cast<std::size_t>(kMaxGap) ||
      into.Values.size() + width > kRunSlots)
    return;
  const std::size_t at = into.Values.size() + static_cast<std::size_t>(run->First - into.First);
  into.Values.resize(into.Values.size() + width, kEmpty);
  std::copy(run->Values.begin(), run->Values.end(), into.Values.begin() + static_cast<std::ptrdiff_t>(at));
  into.Span = width;
  ++into.Rows;
  runs_.erase(it);
  cachedRun_ = nullptr;
}

TStringGrid::Value& TStringGrid::At(std::int32_t col, std::int32_t row) {
  if (col < 0 || row < 0 || col >= colCount_ || row >= rowCount_)
    throw EListError(Format("Grid index out of bounds (%d, %d)", col, row));
  if (!Own(col, row)) return source_->At(col, row - 1 + firstRow_);
  if (row != lastRow_) {
    Settle();
    lastRow_ = row;
  }
  if (!outside_.empty())
    if (const auto o = outside_.find(CellKey(col, row)); o != outside_.end()) return o->second;
  std::int32_t key = 0;
  Run* run = RunOf(row, key);
  if (run == nullptr) {
    const auto next = runs_.lower_bound(row);
    if (next != runs_.begin()) {
      // A sheet's rows are mostly alike: the row below a run joins it when its first cell falls in the run's
      // columns (Settle takes it out again when its cells leave them mostly empty).
      const auto above = std::prev(next);
      Run& into = above->second;
      const std::size_t width = into.Width();
      if (into.Rows > 1 && row - above->first == into.Rows && col >= into.First &&
          static_cast<std::size_t>(col - into.First) < width && into.Values.size() + width <= kRunSlots) {
        into.Values.resize(into.Values.size() + width, kEmpty);
        ++into.Rows;
        cachedKey_ = above->first;
        cachedRun_ = &into;
        return into.Values[into.Values.size() - width + static_cast<std::size_t>(col - into.First)];
      }
    }
    run = &runs_.emplace_hint(next, row, Run{})->second;
    // A new row makes room for as many cells as the row written last holds.
    run->Values.reserve(widthHint_);
    run->First = col;
    key = row;
    cachedKey_ = row;
    cachedRun_ = run;
  }
  if (run->Rows > 1) {
    const std::size_t width = run->Width();
    if (col >= run->First && static_cast<std::size_t>(col - run->First) < width)
      return run->Values[static_cast<std::size_t>(row - key) * width + static_cast<std::size_t>(col - run->First)];
    // A cell beyond the run's columns: the run's last row (the row being read, as a rule) leaves the run;
    // another row keeps the cell apart.
    if (row - key != run->Rows - 1) return outside_.try_emplace(CellKey(col, row), kEmpty).first->second;
    run = &DetachLast(runs_.find(key));
    cachedKey_ = row;
    cachedRun_ = run;
  }
  Run& cells = *run;
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
  if (text.size() > UINT32_MAX - LengthBytes(UINT32_MAX)) throw EListError("A cell's text is too long");
  if (blocks_.size() >= (std::size_t{1} << 24)) throw EListError("The grid's text store is full");
  const std::size_t need = LengthBytes(text.size()) + text.size();
  std::size_t block = 0, pos = 0;
  if (need > kLastBlock) {
    blocks_.push_back(std::make_unique_for_overwrite<char[]>(need));
    blockBytes_ += need;
    block = blocks_.size() - 1;
  } else {
    if (fill_ >= blocks_.size() || blockUsed_ + need > blockSize_) {
      blockSize_ = blockSize_ == 0 ? kFirstBlock : std::min(blockSize_ * 2, kLastBlock);
      while (blockSize_ < need) blockSize_ *= 2;  // need is at most kLastBlock here
      blocks_.push_back(std::make_unique_for_overwrite<char[]>(blockSize_));
      blockBytes_ += blockSize_;
      fill_ = blocks_.size() - 1;
      blockUsed_ = 0;
    }
    block = fill_;
    pos = blockUsed_;
    blockUsed_ += need;
  }
  char* at = blocks_[block].get() + pos;
  const auto length = static_cast<std::uint32_t>(text.size());
  if (length < kLongText) {
    *at++ = static_cast<char>(length);
  } else {
    *at++ = static_cast<char>(kLongText);
    std::memcpy(at, &length, sizeof length);
    at += sizeof length;
  }
  if (!text.empty()) std::memcpy(at, text.data(), text.size());
  liveText_ += need;
  return kTextTag << 48 | static_cast<std::uint64_t>(block) << 24 | pos;
}

std::string_view TStringGrid::TextAt(Value v) const {
  if (IsShared(v)) return ReadShared(SharedAt(SharedPlace(static_cast<std::size_t>(v & 0xFFFF'FFFF'FFFFull)))).Text;
  const char* at = blocks_[static_cast<std::size_t>((v >> 24) & 0xFF'FFFF)].get() + (v & 0xFF'FFFF);
  return StoredText(at);
}

void TStringGrid::Release(Value v) {
  if (!IsText(v)) return;
  const std::size_t length = TextAt(v).size();
  const std::size_t size = LengthBytes(length) + length;
  liveText_ -= size;
  garbage_ += size;
}

void TStringGrid::CompactIfWasteful() {
  if (garbage_ > kLastBlock && garbage_ > liveText_) Compact();
}

void TStringGrid::Compact() {
  std::vector<std::unique_ptr<char[]>> old;
  old.swap(blocks_);
  blockBytes_ = 0;
  const auto oldText = [&](Value v) {
    const char* at = old[static_cast<std::size_t>((v >> 24) & 0xFF'FFFF)].get() + (v & 0xFF'FFFF);
    return StoredText(at);
  };
  // The next block (twice this) has the size of the last: a grid that streams its rows compacts again and again,
  // and would otherwise grow its blocks from the smallest each time.
  blockSize_ /= 2;
  blockUsed_ = 0;
  fill_ = SIZE_MAX;
  liveText_ = garbage_ = 0;
  const auto restore = [&](Value& v) {
    if (IsText(v)) v = StoreText(oldText(v));
  };
  for (auto& [key, run] : runs_) std::for_each(run.Values.begin(), run.Values.end(), restore);
  for (auto& [key, v] : outside_) restore(v);
  // The shared texts keep their blocks unless some were given up.
  if (sharedGarbage_ > 0) CompactShared();
  liveText_ += sharedText_;
}

std::uint64_t TStringGrid::NextShared(const std::vector<SharedBlock>& blocks, std::uint64_t place) {
  const std::size_t block = place >> 32;
  const std::size_t next = (place & 0xFFFF'FFFFu) + ReadShared(blocks[block].Bytes.get() + (place & 0xFFFF'FFFFu)).Size;
  return next < blocks[block].Used ? (place & ~std::uint64_t{0xFFFF'FFFFu}) | next : static_cast<std::uint64_t>(block + 1) << 32;
}

std::uint64_t TStringGrid::SharedRoom(std::size_t need) {
  if (sharedBlocks_.empty() || sharedBlocks_.back().Used + need > sharedBlocks_.back().Size) {
    if (sharedBlocks_.size() >= (std::size_t{1} << 24)) throw EListError("The grid's text store is full");
    // As the text store's blocks: growing from 4 KiB to 1 MiB, a longer text in a block of its own.
    std::size_t size = need;
    if (need <= kLastBlock) {
      size = sharedBlocks_.empty() ? kFirstBlock : std::min(sharedBlocks_.back().Size * 2, kLastBlock);
      while (size < need) size *= 2;
    }
    sharedBlocks_.push_back({std::make_unique_for_overwrite<char[]>(size), size, 0});
  }
  SharedBlock& block = sharedBlocks_.back();
  const std::uint64_t place = static_cast<std::uint64_t>(sharedBlocks_.size() - 1) << 32 | block.Used;
  block.Used += need;
  return place;
}

void TStringGrid::PlaceShared(std::string_view text, unsigned state) {
  const std::size_t header = SharedHeader(text.size());
  const std::uint64_t place = SharedRoom(header + text.size());
  char* at = SharedAt(place);
  const auto length = static_cast<std::uint32_t>(text.size());
  *at = static_cast<char>((header == 1 ? length : kShortShared) << 2 | state);
  if (header > 1) std::memcpy(at + 1, &length, sizeof length);
  if (!text.empty()) std::memcpy(at + header, text.data(), text.size());
  if (sharedCount_ % sharedStride_ == 0) {
    if (checkpoints_.size() == kCheckpoints) {  // every other checkpoint goes
      for (std::size_t i = 0; i < kCheckpoints / 2; ++i) checkpoints_[i] = checkpoints_[2 * i];
      checkpoints_.resize(kCheckpoints / 2);
      sharedStride_ *= 2;
    }
    checkpoints_.push_back(place);
  }
  ++sharedCount_;
}

std::uint64_t TStringGrid::SharedPlace(std::size_t number) const {
  std::size_t at = number / sharedStride_ * sharedStride_;
  std::uint64_t place = checkpoints_[number / sharedStride_];
  if (walkNumber_ <= number && walkNumber_ > at) at = walkNumber_, place = walkPlace_;
  while (at < number) {  // block by block: the steps inside one read only its bytes
    const SharedBlock& block = sharedBlocks_[place >> 32];
    const char* bytes = block.Bytes.get();
    std::size_t pos = place & 0xFFFF'FFFFu;
    for (; at < number && pos < block.Used; ++at) pos += ReadShared(bytes + pos).Size;
    place = pos < block.Used ? (place & ~std::uint64_t{0xFFFF'FFFFu}) | pos : ((place >> 32) + 1) << 32;
  }
  walkNumber_ = number;
  walkPlace_ = place;
  return place;
}

std::uint64_t TStringGrid::LiveShared(std::int32_t shared) const {
  if (shared >= 0 && static_cast<std::size_t>(shared) < sharedCount_) {
    const std::uint64_t place = SharedPlace(static_cast<std::size_t>(shared));
    if ((ReadShared(SharedAt(place)).State & kGone) == 0) return place;
  }
  throw EListError(Format("No shared text %d", shared));
}

void TStringGrid::CompactShared() {
  std::vector<SharedBlock> old;
  old.swap(sharedBlocks_);
  checkpoints_.clear();
  const std::size_t count = sharedCount_;
  sharedCount_ = 0;
  std::uint64_t place = 0;
  for (std::size_t i = 0; i < count; ++i, place = NextShared(old, place)) {
    const SharedEntry e = ReadShared(old[place >> 32].Bytes.get() + (place & 0xFFFF'FFFFu));
    if ((e.State & kGone) != 0) PlaceShared({}, kHollow);
    else PlaceShared(e.Text, e.State);
  }
  sharedGarbage_ = 0;
  walkNumber_ = SIZE_MAX;
  ++sharedCompactions_;
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

std::int32_t TStringGrid::AddSharedText(std::string_view text) {
  if (source_ != nullptr) throw EListError("A window keeps no shared texts");
  if (sharedCount_ >= static_cast<std::size_t>(INT32_MAX)) throw EListError("The grid's shared texts are full");
  if (text.size() > UINT32_MAX - SharedHeader(UINT32_MAX)) throw EListError("A cell's text is too long");
  PlaceShared(text, 0);
  const std::size_t size = SharedHeader(text.size()) + text.size();
  liveText_ += size;
  sharedText_ += size;
  ++sharedLive_;
  return static_cast<std::int32_t>(sharedCount_ - 1);
}

void TStringGrid::ReserveSharedTexts(std::size_t count) {
  checkpoints_.reserve(std::min(kCheckpoints, checkpoints_.size() + count / sharedStride_ + 1));
}

std::string_view TStringGrid::SharedText(std::int32_t shared) const { return ReadShared(SharedAt(LiveShared(shared))).Text; }

std::size_t TStringGrid::SharedTextBytes() const {
  std::size_t bytes = 0;
  for (const SharedBlock& block : sharedBlocks_) bytes += block.Size;
  return bytes;
}

bool TStringGrid::SharedTextShown(std::int32_t shared) const {
  return (ReadShared(SharedAt(LiveShared(shared))).State & kShown) != 0;
}

void TStringGrid::DropUnusedShared(std::int32_t from) {
  if (from < 0 || static_cast<std::size_t>(from) >= sharedCount_) return;
  const auto first = static_cast<std::size_t>(from);
  // The texts from `first` on are marked shown when a cell shows them (a text that a cell shows has been shown,
  // so the mark of those kept stays as it was).
  std::uint64_t place = SharedPlace(first);
  for (std::size_t i = first; i < sharedCount_; ++i, place = NextShared(sharedBlocks_, place))
    if ((*SharedAt(place) & kGone) == 0) *SharedAt(place) = static_cast<char>(*SharedAt(place) & ~kShown);
  const auto mark = [&](Value v) {
    if (IsShared(v) && (v & 0xFFFF'FFFF'FFFFull) >= first) {
      char* at = SharedAt(SharedPlace(static_cast<std::size_t>(v & 0xFFFF'FFFF'FFFFull)));
      *at = static_cast<char>(*at | kShown);
    }
  };
  for (const auto& [key, run] : runs_) std::for_each(run.Values.begin(), run.Values.end(), mark);
  for (const auto& [key, v] : outside_) mark(v);
  // Those not marked are given up. The texts given up at the end go (with those given up before), their numbers
  // free again: `kept` the numbers up to the last text kept, `end` the place after it, `tail` the bytes after it.
  std::size_t kept = 0, tail = 0;
  std::uint64_t end = 0;
  place = 0;
  for (std::size_t i = 0; i < sharedCount_; ++i) {
    char* at = SharedAt(place);
    const SharedEntry e = ReadShared(at);
    if (i >= first && (e.State & (kShown | kGone)) == 0) {
      *at = static_cast<char>(*at | kGone);
      liveText_ -= e.Size;
      sharedText_ -= e.Size;
      garbage_ += e.Size;
      sharedGarbage_ += e.Size;
      --sharedLive_;
    }
    place = NextShared(sharedBlocks_, place);
    if ((ReadShared(at).State & kGone) == 0) {
      kept = i + 1;
      end = place;
      tail = 0;
    } else if (ReadShared(at).State != kHollow) {
      tail += e.Size;  // garbage
    }
  }
  if (kept < sharedCount_) {
    garbage_ -= tail;
    sharedGarbage_ -= tail;
    // `end` is in the block it names, or at the start of the block after the last one kept.
    sharedBlocks_.resize((end >> 32) + ((end & 0xFFFF'FFFFu) != 0 ? 1 : 0));
    if ((end & 0xFFFF'FFFFu) != 0) sharedBlocks_.back().Used = end & 0xFFFF'FFFFu;
    sharedCount_ = kept;
    if (kept == 0) sharedStride_ = 1;
    checkpoints_.resize((kept + sharedStride_ - 1) / sharedStride_);
    walkNumber_ = SIZE_MAX;
  }
  CompactIfWasteful();
}

void TStringGrid::SetSharedCell(std::int32_t col, std::int32_t row, std::int32_t shared) {
  const std::uint64_t place = LiveShared(shared);
  if (!Own(col, row)) throw EListError("A window's cells show their source's texts");
  Value& cell = At(col, row);
  const Value old = cell;
  cell = kSharedTag << 48 | static_cast<std::uint64_t>(shared);
  char* at = SharedAt(place);
  *at = static_cast<char>(*at | kShown);
  Release(old);
  CompactIfWasteful();
}

void TStringGrid::ClearRow(std::int32_t row) {
  if (row < 0 || row >= rowCount_) return;
  DropCells(row, row + 1, [](std::int32_t, std::int32_t) { return true; });
}

std::int32_t TStringGrid::Objects(std::int32_t col, std::int32_t row) const {
  if (col < 0 || row < 0 || col >= colCount_ || row >= rowCount_) return 0;
  if (!Own(col, row)) return source_->Objects(col, row - 1 + firstRow_);
  const auto it = markers_.find(CellKey(col, row));
  return it == markers_.end() ? 0 : it->second;
}

void TStringGrid::SetObjects(std::int32_t col, std::int32_t row, std::int32_t marker) {
  if (col < 0 || row < 0 || col >= colCount_ || row >= rowCount_)
    throw EListError(Format("Grid index out of bounds (%d, %d)", col, row));
  if (!Own(col, row)) {
    source_->SetObjects(col, row - 1 + firstRow_, marker);
  } else if (marker == 0) {
    markers_.erase(CellKey(col, row));
  } else {
    markers_[CellKey(col, row)] = marker;
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

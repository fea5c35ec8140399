// The cursor of the dataset layer: open and close, the position among the ordered keys with its read-ahead page,
// navigation (First, Last, Next, Prior, MoveBy, bookmarks), and the states browse, edit and insert with Post,
// Cancel and Delete. The concrete table (TableCursor.cpp, TableWrites.cpp) loads the keys, reads the pages and
// stores the records.
#include <algorithm>

#include "core/CaseFold.h"
#include "core/FormatSettings.h"
#include "librarydb/Absmain.h"
#include "librarydb/internal/KeyWindows.h"

namespace vez {
namespace {

// After a move: the end in the direction of travel is reached when the move went past it; the other end is left.
void SetEnds(bool forward, bool pastEnd, bool& bof, bool& eof) {
  (forward ? bof : eof) = false;
  (forward ? eof : bof) = pastEnd;
}

constexpr std::size_t kPageSize = 256;  // records read ahead per query; no lock is held between queries
constexpr std::size_t kJumpKeys = 64;   // keys of a window at a far position: about a page on screen
// Appends at the end of the order add their keys to the window; past this many it keeps only its last page, so
// that a long run of appends (a conversion, an import) holds the same memory at a million records as at ten.
constexpr std::size_t kMostAppendedKeys = 2 * detail::kWholeKeys;
constexpr std::size_t kEndKeys = 8;     // keys of a window at an end: a far move often follows at once
// The start of a page that holds nothing: its rows stay, for the room of their values.
constexpr std::size_t kNoPage = static_cast<std::size_t>(-1);

}  // namespace

TDataSet::~TDataSet() = default;

void TDataSet::CheckActive() const {
  if (state_ == TDataSetState::dsInactive) {
    throw EDatabaseError(Format("%s: cannot perform this operation on a closed dataset", DisplayName()));
  }
}

void TDataSet::CheckWritable() const {
  if (IsReadOnly()) {
    throw EDatabaseError(Format("%s: cannot modify a read-only dataset", DisplayName()));
  }
}

// Navigation posts a record being edited or inserted, as the dataset layer always has.
void TDataSet::CheckBrowseable() {
  CheckActive();
  if (state_ == TDataSetState::dsEdit || state_ == TDataSetState::dsInsert) Post();
}

void TDataSet::Open() {
  if (Active()) return;
  std::vector<ColumnInfo> columns = DoOpen();
  fields_.clear();
  fieldIndex_.clear();
  exactIndex_.clear();
  required_.clear();
  for (std::size_t i = 0; i < columns.size(); ++i) {
    ColumnInfo& c = columns[i];
    fieldIndex_.emplace(FoldCase(c.Name), static_cast<int>(i));
    exactIndex_.emplace(c.Name, static_cast<int>(i));
    if (c.Required && c.DataType != ftAutoInc) required_.push_back(i);
    fields_.push_back(std::unique_ptr<TField>(
        new TField(*this, static_cast<int>(i), std::move(c.Name), c.DataType, c.Size, c.Required)));
  }
  state_ = TDataSetState::dsBrowse;
  try {
    First();
  } catch (...) {
    Close();
    throw;
  }
}

void TDataSet::Close() {
  if (!Active()) return;
  state_ = TDataSetState::dsInactive;
  std::vector<std::int64_t>().swap(keys_);  // a closed table keeps no memory of a large one
  keysValid_ = false;
  std::vector<Row>().swap(page_);
  ClearCurrent();
  buffer_.clear();
  fields_.clear();
  fieldIndex_.clear();
  exactIndex_.clear();
  eof_ = bof_ = true;
  DoClose();
}

void TDataSet::SetActive(bool active) {
  if (active) Open();
  else Close();
}

void TDataSet::ClearCurrent() {
  current_ = Row{};
  hasCurrent_ = false;
  posValid_ = false;
}

void TDataSet::ResetCursor() {
  keysValid_ = false;
  pageStart_ = kNoPage;
}

void TDataSet::LoadKeys(KeysWanted wanted, std::int64_t at, std::size_t count) {
  KeyWindow window;
  DoLoadKeys(wanted, at, count, window);
  TakeKeys(window);
}

void TDataSet::TakeKeys(KeyWindow& window) {
  keys_.swap(window.Keys);
  keysWhole_ = window.Whole;
  keysStart_ = window.Whole ? 0 : window.Start;
  keysAtStart_ = window.Whole || window.AtStart;
  keysAtEnd_ = window.Whole || window.AtEnd;
  if (!keys_.empty()) {
    windowFront_ = keys_.front();
    windowBack_ = keys_.back();
  }
  keysValid_ = true;
  pageStart_ = kNoPage;
  posValid_ = false;
}

// Drops the window's keys before its last page (the cursor is on the last key): the keys before it are then
// read from the table as a walk back reaches them, as in any large table.
void TDataSet::KeepLastKeys() {
  const std::size_t drop = keys_.size() - kPageSize;
  keys_.erase(keys_.begin(), keys_.begin() + static_cast<std::ptrdiff_t>(drop));
  if (keysStart_ >= 0) keysStart_ += static_cast<std::int64_t>(drop);
  keysWhole_ = keysAtStart_ = false;
  windowFront_ = keys_.front();
  pos_ -= drop;
  pageStart_ = kNoPage;
}

// Replaces the window by the keys after (forward) or before it; False, with the window kept, at the end (start)
// of the order and always when every key is held.
bool TDataSet::TurnWindow(bool forward) {
  if (keysWhole_ || (forward ? keysAtEnd_ : keysAtStart_)) return false;
  KeyWindow window;
  // A small window grows to a page on screen, then to the read-ahead of a walk.
  DoLoadKeys(forward ? KeysWanted::After : KeysWanted::Before, forward ? windowBack_ : windowFront_,
             keys_.size() < kJumpKeys ? kJumpKeys : kPageSize, window);
  if (window.Keys.empty()) {
    (forward ? keysAtEnd_ : keysAtStart_) = true;
    return false;
  }
  const std::int64_t start = keysStart_;
  const auto held = static_cast<std::int64_t>(keys_.size());
  TakeKeys(window);
  if (forward) keysStart_ = start >= 0 ? start + held : -1;
  else if (!keysAtStart_) keysStart_ = start >= 0 ? start - static_cast<std::int64_t>(keys_.size()) : -1;
  else keysStart_ = 0;
  return true;
}

void TDataSet::EnsureKeys() {
  if (!keysValid_) {
    if (hasCurrent_) LoadKeys(KeysWanted::Around, current_.Key, kPageSize);
    else LoadKeys(KeysWanted::First, 0, kPageSize);
  }
  for (int attempt = 0; hasCurrent_ && !posValid_ && attempt < 2; ++attempt) {
    const auto it = std::find(keys_.begin(), keys_.end(), current_.Key);
    if (it != keys_.end()) {
      pos_ = static_cast<std::size_t>(it - keys_.begin());
      posValid_ = true;
    } else if (!keysWhole_ && attempt == 0) {
      LoadKeys(KeysWanted::Around, current_.Key, kPageSize);  // a record found by key, outside the window
    } else {
      break;
    }
  }
}

// Makes the record at `pos` current, skipping records deleted meanwhile in the direction of travel; a fetch
// reads up to a page of records in that direction.
bool TDataSet::LoadAt(std::size_t pos, bool forward) {
  constexpr std::size_t ahead = kPageSize;
  for (;;) {
    if (pos >= keys_.size()) {
      if (!forward || !TurnWindow(true)) return false;
      pos = 0;
      continue;
    }
    const bool inPage = pageStart_ != kNoPage && pos >= pageStart_ && pos - pageStart_ < page_.size();
    if (inPage) {
      Row& row = page_[pos - pageStart_];
      if (row.Key == 0) {  // deleted by someone else
        keys_.erase(keys_.begin() + static_cast<std::ptrdiff_t>(pos));
        page_.erase(page_.begin() + static_cast<std::ptrdiff_t>(pos - pageStart_));
        if (forward) continue;
        if (pos == 0) {
          if (!TurnWindow(false)) return false;
          pos = keys_.size() - 1;
          continue;
        }
        --pos;
        continue;
      }
      if (row.Read) {
        // Reading ahead moves the record out of the page (going back fetches it again); the page row keeps the
        // values of the record before, which the next fetch overwrites in place.
        current_.Key = row.Key;
        current_.Values.swap(row.Values);
        row.Read = false;
        hasCurrent_ = true;
        pos_ = pos;
        posValid_ = true;
        return true;
      }
    }
    std::size_t start = pos;
    std::size_t count = 0;
    if (forward) {
      count = std::min(ahead, keys_.size() - pos);
    } else {
      start = pos + 1 >= ahead ? pos + 1 - ahead : 0;
      count = pos + 1 - start;
    }
    page_.resize(count);
    for (Row& row : page_) row.Key = 0;
    pageStart_ = kNoPage;  // until the fetch has succeeded
    DoFetch(keys_.data() + start, count, page_);
    for (Row& row : page_) row.Read = row.Key != 0;
    pageStart_ = start;
  }
}

void TDataSet::First() {
  CheckBrowseable();
  ClearCurrent();
  LoadKeys(KeysWanted::First, 0, kEndKeys);
  if (!LoadAt(0, true)) {
    ClearCurrent();
    bof_ = eof_ = true;
    return;
  }
  bof_ = true;
  eof_ = false;
}

void TDataSet::Last() {
  CheckBrowseable();
  ClearCurrent();
  LoadKeys(KeysWanted::Last, 0, kEndKeys);
  if (keys_.empty() || !LoadAt(keys_.size() - 1, false)) {
    ClearCurrent();
    bof_ = eof_ = true;
    return;
  }
  bof_ = false;
  eof_ = true;
}

void TDataSet::Next() {
  CheckBrowseable();
  if (eof_) return;
  EnsureKeys();
  if (!hasCurrent_ || !posValid_) {
    eof_ = true;
    return;
  }
  if (!LoadAt(pos_ + 1, true)) {
    eof_ = true;
    return;
  }
  bof_ = false;
}

void TDataSet::Prior() {
  CheckBrowseable();
  if (bof_) return;
  EnsureKeys();
  bool moved = false;
  if (hasCurrent_ && posValid_) {
    if (pos_ > 0) moved = LoadAt(pos_ - 1, false);
    else if (TurnWindow(false)) moved = LoadAt(keys_.size() - 1, false);
  }
  if (!moved) {
    bof_ = true;
    return;
  }
  eof_ = false;
}

bool TDataSet::IsEmpty() {
  CheckActive();
  if (state_ == TDataSetState::dsInsert) return false;
  return DoRecordCount() == 0;
}

std::int32_t TDataSet::RecordCount() {
  CheckActive();
  return DoRecordCount();
}

void TDataSet::Refresh() {
  CheckBrowseable();
  keysValid_ = false;
  pageStart_ = kNoPage;
  EnsureKeys();
  if (hasCurrent_ && posValid_) {
    const std::size_t pos = pos_;
    hasCurrent_ = false;
    if (LoadAt(pos, true)) return;
  }
  First();
}

std::int32_t TDataSet::MoveBy(std::int32_t Distance) {
  CheckBrowseable();
  if (Distance == 0) return 0;
  EnsureKeys();
  if (!hasCurrent_ || !posValid_ || (Distance > 0 ? eof_ : bof_)) {
    if (Distance > 0) eof_ = true;
    else bof_ = true;
    return 0;
  }
  if (!keysWhole_) return MoveInWindows(Distance);
  const auto from = static_cast<std::int64_t>(pos_);
  const std::int64_t last = static_cast<std::int64_t>(keys_.size()) - 1;
  const std::int64_t want = std::clamp(from + Distance, std::int64_t{0}, last);
  const bool forward = Distance > 0;
  // Records deleted meanwhile are skipped in the direction of travel; past an end the cursor stays there.
  if (!LoadAt(static_cast<std::size_t>(want), forward) &&
      !(keys_.empty() ? false : LoadAt(forward ? keys_.size() - 1 : 0, !forward))) {
    ClearCurrent();
    bof_ = eof_ = true;
    return 0;
  }
  const bool pastEnd = forward ? from + Distance > last : from + Distance < 0;
  SetEnds(forward, pastEnd, bof_, eof_);
  return static_cast<std::int32_t>(static_cast<std::int64_t>(pos_) - from);
}

// MoveBy in a large table: inside the window as in a small one; beyond it from a known position straight to the
// target (the table finds it on the index), else window by window.
std::int32_t TDataSet::MoveInWindows(std::int32_t distance) {
  const bool forward = distance > 0;
  auto target = static_cast<std::int64_t>(pos_) + distance;
  std::int64_t moved = distance;
  const bool inside = target >= 0 && target < static_cast<std::int64_t>(keys_.size());
  const bool jump = !inside && keysStart_ >= 0;
  if (jump) {
    const std::int64_t from = keysStart_ + static_cast<std::int64_t>(pos_);
    LoadKeys(KeysWanted::From, from + distance, kJumpKeys);
    moved = keysStart_ - from;
    target = 0;
  } else if (!inside) {
    while (target >= static_cast<std::int64_t>(keys_.size())) {
      const auto held = static_cast<std::int64_t>(keys_.size());
      if (!TurnWindow(true)) {
        moved -= target - (held - 1);
        target = held - 1;
        break;
      }
      target -= held;
    }
    while (target < 0) {
      if (!TurnWindow(false)) {
        moved -= target;
        target = 0;
        break;
      }
      target += static_cast<std::int64_t>(keys_.size());
    }
  }
  const bool pastEnd = moved != distance;
  // After a jump the table has read the window's records with its keys: the page takes them.
  if (keys_.empty() || (!LoadAt(static_cast<std::size_t>(target), forward) &&
                        !LoadAt(forward ? keys_.size() - 1 : 0, !forward))) {
    ClearCurrent();
    bof_ = eof_ = true;
    return 0;
  }
  SetEnds(forward, pastEnd, bof_, eof_);
  return static_cast<std::int32_t>(moved);
}

TDataSet::TBookmark TDataSet::GetBookmark() const {
  const bool onRecord = state_ == TDataSetState::dsBrowse || state_ == TDataSetState::dsEdit;
  return onRecord && hasCurrent_ ? current_.Key : 0;
}

bool TDataSet::GotoBookmark(TBookmark Bookmark) {
  CheckBrowseable();
  if (Bookmark == 0) return false;
  std::vector<Row> rows(1);  // one row with key 0, as DoFetch expects
  DoFetch(&Bookmark, 1, rows);
  if (rows.front().Key != Bookmark) return false;
  PositionOn(rows.front());
  return true;
}

void TDataSet::Append() {
  CheckBrowseable();
  CheckWritable();
  buffer_.resize(fields_.size());
  for (Variant& value : buffer_) value.SetNull();
  state_ = TDataSetState::dsInsert;
}

void TDataSet::Insert() { Append(); }

void TDataSet::Edit() {
  CheckActive();
  if (state_ == TDataSetState::dsEdit || state_ == TDataSetState::dsInsert) return;
  CheckWritable();
  if (!hasCurrent_) {
    Append();
    return;
  }
  buffer_ = current_.Values;
  state_ = TDataSetState::dsEdit;
}

void TDataSet::Post() {
  CheckActive();
  if (state_ != TDataSetState::dsEdit && state_ != TDataSetState::dsInsert) return;
  CheckWritable();
  for (const std::size_t i : required_) {
    if (buffer_[i].IsClear()) throw EDatabaseError(Format("Field '%s' must have a value", fields_[i]->FieldName()));
  }
  // The posted values become the current record; the buffer keeps the old record's room for the next one.
  if (state_ == TDataSetState::dsInsert) {
    const std::int64_t key = DoInsert(buffer_);
    current_.Key = key;
    current_.Values.swap(buffer_);
    hasCurrent_ = true;
    if (InsertionOrder() && keysValid_ && keysAtEnd_) {
      keys_.push_back(key);
      windowBack_ = key;
      pos_ = keys_.size() - 1;
      posValid_ = true;
      if (keys_.size() > kMostAppendedKeys) KeepLastKeys();
    } else {
      keysValid_ = false;
      posValid_ = false;
    }
  } else {
    DoUpdate(current_.Key, buffer_);
    current_.Values.swap(buffer_);
    pageStart_ = kNoPage;
    if (!InsertionOrder()) {
      keysValid_ = false;
      posValid_ = false;
    }
  }
  state_ = TDataSetState::dsBrowse;
  bof_ = eof_ = false;
}

void TDataSet::Cancel() {
  CheckActive();
  // The current record was never touched: edits went to the buffer.
  buffer_.clear();
  state_ = TDataSetState::dsBrowse;
}

void TDataSet::Delete() {
  CheckActive();
  if (state_ == TDataSetState::dsInsert) {
    Cancel();
    return;
  }
  if (state_ == TDataSetState::dsEdit) Cancel();
  CheckWritable();
  if (!hasCurrent_) {
    throw EDatabaseError(Format("%s: cannot perform this operation on an empty dataset", DisplayName()));
  }
  DoDelete(current_.Key);
  EnsureKeys();
  pageStart_ = kNoPage;
  if (!posValid_) {
    First();
    return;
  }
  const std::size_t pos = pos_;
  keys_.erase(keys_.begin() + static_cast<std::ptrdiff_t>(pos));
  hasCurrent_ = false;
  posValid_ = false;
  if (LoadAt(pos, true)) {
    bof_ = eof_ = false;
  } else if ((!keys_.empty() || TurnWindow(false)) && LoadAt(keys_.size() - 1, false)) {
    eof_ = true;
    bof_ = false;
  } else {
    ClearCurrent();
    bof_ = eof_ = true;
  }
}

void TDataSet::PositionOn(Row& row) {
  current_.Key = row.Key;
  current_.Values.swap(row.Values);
  hasCurrent_ = true;
  posValid_ = false;
  bof_ = eof_ = false;
}
}  // namespace vez

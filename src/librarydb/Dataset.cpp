// The dataset layer: field and index definitions, fields, the cursor and the BLOB stream.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "core/CaseFold.h"
#include "core/FormatSettings.h"
#include "librarydb/Absmain.h"

namespace vez {
namespace {

constexpr std::size_t kPageSize = 256;  // records read ahead per query; no lock is held between queries

const char* const kFieldTypeNames[] = {
    "ftUnknown", "ftString",  "ftSmallint", "ftInteger",     "ftWord",      "ftBoolean",   "ftFloat",
    "ftCurrency", "ftBCD",    "ftDate",     "ftTime",        "ftDateTime",  "ftBytes",     "ftVarBytes",
    "ftAutoInc", "ftBlob",    "ftMemo",     "ftGraphic",     "ftFmtMemo",   "ftParadoxOle", "ftDBaseOle",
    "ftTypedBinary", "ftCursor", "ftFixedChar", "ftWideString", "ftLargeint",
};

bool IsTextType(TFieldType t) { return t == ftString || t == ftFixedChar || t == ftWideString; }
bool IsBytesType(TFieldType t) {
  return t == ftMemo || t == ftFmtMemo || t == ftBlob || t == ftGraphic || t == ftParadoxOle ||
         t == ftDBaseOle || t == ftTypedBinary || t == ftBytes || t == ftVarBytes;
}
bool IsIntegerType(TFieldType t) {
  return t == ftSmallint || t == ftInteger || t == ftWord || t == ftAutoInc || t == ftLargeint;
}
bool IsFloatType(TFieldType t) { return t == ftFloat || t == ftCurrency || t == ftBCD; }

// Cuts UTF-8 text after `size` characters (0: no limit).
std::string CutToSize(std::string text, std::int32_t size) {
  if (size <= 0) return text;
  std::size_t chars = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
      if (chars == static_cast<std::size_t>(size)) {
        text.resize(i);
        break;
      }
      ++chars;
    }
  }
  return text;
}

bool ParseBoolean(std::string_view text, bool& value) {
  const std::string t = UpperCase(Trim(text));
  if (t == "TRUE" || t == "T" || t == "YES" || t == "Y" || t == "1") {
    value = true;
    return true;
  }
  if (t == "FALSE" || t == "F" || t == "NO" || t == "N" || t == "0") {
    value = false;
    return true;
  }
  return false;
}

double DatePart(TFieldType type, double value) {
  if (type == ftDate) return std::trunc(value);
  if (type == ftTime) return std::fabs(value - std::trunc(value));
  return value;
}

const Variant& NullValue() {
  static const Variant null = Variant::Null();
  return null;
}

}  // namespace

const char* FieldTypeName(TFieldType type) {
  const auto index = static_cast<std::size_t>(type);
  if (type < ftUnknown || index >= std::size(kFieldTypeNames)) return kFieldTypeNames[0];
  return kFieldTypeNames[index];
}

TFieldType AdvancedFieldTypeToFieldType(std::int32_t engineTypeCode) {
  switch (engineTypeCode) {
    case aftString: return ftString;
    case aftSmallInt: return ftSmallint;
    case aftInteger: return ftInteger;
    case aftWord: return ftWord;
    case aftAutoInc: return ftAutoInc;
    case aftDouble: return ftFloat;
    case aftBoolean: return ftBoolean;
    case aftDateTime: return ftDateTime;
    case aftBlob: return ftBlob;
    case aftGraphic: return ftGraphic;
    case aftMemo: return ftMemo;
    default: return ftUnknown;
  }
}

// ---- definitions ----

namespace {

template <class Items>
int IndexOfName(const Items& items, std::string_view name) {
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (SameTextFolded(items[i].Name, name)) return static_cast<int>(i);
  }
  return -1;
}

template <class Items>
const auto& ItemAt(const Items& items, int index) {
  if (index < 0 || static_cast<std::size_t>(index) >= items.size()) {
    throw EListError(Format("List index out of bounds (%d)", index));
  }
  return items[static_cast<std::size_t>(index)];
}

void CheckNewName(std::string_view kind, std::string_view name, bool duplicate) {
  if (Trim(name).empty()) throw EDatabaseError(Format("%s name must not be empty", kind));
  if (duplicate) throw EDatabaseError(Format("Duplicate %s name '%s'", LowerCase(kind), name));
}

}  // namespace

void TFieldDefs::Add(std::string_view name, TFieldType dataType, std::int32_t size, bool required) {
  CheckNewName("Field", name, IndexOf(name) >= 0);
  if (dataType <= ftUnknown || dataType > ftLargeint || dataType == ftCursor) {
    throw EDatabaseError(Format("Field '%s' has an unsupported type (%d)", name, static_cast<int>(dataType)));
  }
  if (size < 0) throw EDatabaseError(Format("Field '%s' has a negative size", name));
  items_.push_back(TFieldDef{std::string(name), dataType, size, required});
}

const TFieldDef& TFieldDefs::Items(int index) const { return ItemAt(items_, index); }
int TFieldDefs::IndexOf(std::string_view name) const { return IndexOfName(items_, name); }

void TABSAdvFieldDefs::Add(std::string_view name, std::int32_t dataType, std::int32_t size, bool required,
                           std::int32_t compressionAlgorithm, std::int32_t compressionLevel) {
  CheckNewName("Field", name, IndexOf(name) >= 0);
  if (AdvancedFieldTypeToFieldType(dataType) == ftUnknown) {
    throw EDatabaseError(Format("Field '%s' has an unknown engine type code %d", name, dataType));
  }
  if (size < 0) throw EDatabaseError(Format("Field '%s' has a negative size", name));
  items_.push_back(
      TABSAdvFieldDef{std::string(name), dataType, size, required, compressionAlgorithm, compressionLevel});
}

const TABSAdvFieldDef& TABSAdvFieldDefs::Items(int index) const { return ItemAt(items_, index); }
int TABSAdvFieldDefs::IndexOf(std::string_view name) const { return IndexOfName(items_, name); }

void TIndexDefs::Add(std::string_view name, std::string_view fields, TIndexOptions options) {
  CheckNewName("Index", name, IndexOf(name) >= 0);
  if (Trim(fields).empty()) throw EDatabaseError(Format("Index '%s' has no fields", name));
  if ((options & ixPrimary) != 0) {
    for (const TIndexDef& def : items_) {
      if ((def.Options & ixPrimary) != 0) {
        throw EDatabaseError(Format("Index '%s': the table has a primary index already ('%s')", name, def.Name));
      }
    }
  }
  items_.push_back(TIndexDef{std::string(name), std::string(fields), options});
}

const TIndexDef& TIndexDefs::Items(int index) const { return ItemAt(items_, index); }
int TIndexDefs::IndexOf(std::string_view name) const { return IndexOfName(items_, name); }

// ---- fields ----

TField::TField(TDataSet& owner, int index, std::string name, TFieldType dataType, std::int32_t size, bool required)
    : owner_(&owner), index_(index), name_(std::move(name)), dataType_(dataType), size_(size), required_(required),
      kind_(Kind::Other), lowest_(std::numeric_limits<std::int64_t>::min()),
      highest_(std::numeric_limits<std::int64_t>::max()) {
  if (IsTextType(dataType)) kind_ = Kind::Text;
  else if (IsBytesType(dataType)) kind_ = Kind::Bytes;
  else if (dataType == ftBoolean) kind_ = Kind::Boolean;
  else if (IsIntegerType(dataType)) kind_ = Kind::Integer;
  else if (IsFloatType(dataType)) kind_ = Kind::Float;
  else if (dataType == ftDate) kind_ = Kind::Date;
  else if (dataType == ftTime) kind_ = Kind::Time;
  else if (dataType == ftDateTime) kind_ = Kind::DateTime;
  switch (dataType) {
    case ftSmallint: lowest_ = -32768; highest_ = 32767; break;
    case ftWord: lowest_ = 0; highest_ = 65535; break;
    case ftInteger:
    case ftAutoInc:
      lowest_ = std::numeric_limits<std::int32_t>::min();
      highest_ = std::numeric_limits<std::int32_t>::max();
      break;
    default: break;
  }
}

void TField::CheckRange(std::int64_t value) const {
  if (value < lowest_ || value > highest_) {
    throw EDatabaseError(Format("%d is not a valid value for field '%s'. The allowed range is %d to %d", value,
                                name_, lowest_, highest_));
  }
}

const Variant& TField::Current() const {
  const TDataSet& ds = *owner_;
  const auto i = static_cast<std::size_t>(index_);
  if (ds.state_ == TDataSetState::dsInsert || ds.state_ == TDataSetState::dsEdit) return ds.buffer_[i];
  if (ds.hasCurrent_ && i < ds.current_.Values.size()) return ds.current_.Values[i];
  return NullValue();
}

void TField::Store(Variant value) {
  TDataSet& ds = *owner_;
  if (ds.state_ != TDataSetState::dsInsert && ds.state_ != TDataSetState::dsEdit) {
    throw EDatabaseError(Format("Field '%s': dataset not in edit or insert mode", name_));
  }
  ds.buffer_[static_cast<std::size_t>(index_)] = std::move(value);
}

Variant TField::Value() const {
  const Variant& v = Current();
  return v.IsClear() ? Variant::Null() : v;
}

bool TField::IsNull() const { return Current().IsClear(); }

bool TField::AsBoolean() const {
  const Variant& v = Current();
  if (v.IsClear()) return false;
  if (v.Type() == VarType::String) {
    bool b = false;
    if (!ParseBoolean(v.RawString(), b)) {
      throw EConvertError(Format("'%s' is not a valid boolean value for field '%s'", v.RawString(), name_));
    }
    return b;
  }
  return v.AsBoolean();
}

double TField::AsDateTime() const {
  const Variant& v = Current();
  return v.IsClear() ? 0.0 : v.AsDateTime();
}

double TField::AsFloat() const {
  const Variant& v = Current();
  if (v.IsClear()) return 0.0;
  if (v.Type() == VarType::Double) return v.RawDouble();
  return v.AsFloat();
}

std::int32_t TField::AsInteger() const {
  const std::int64_t value = AsLargeInt();
  if (value < std::numeric_limits<std::int32_t>::min() || value > std::numeric_limits<std::int32_t>::max()) {
    throw EConvertError(Format("Value %d of field '%s' is out of the range of an integer", value, name_));
  }
  return static_cast<std::int32_t>(value);
}

std::int64_t TField::AsLargeInt() const {
  const Variant& v = Current();
  if (v.IsClear()) return 0;
  if (v.Type() == VarType::Integer) return v.RawInteger();
  return v.AsInteger();
}

std::string TField::AsString() const {
  const Variant& v = Current();
  if (v.IsClear()) return {};
  switch (v.Type()) {
    case VarType::String: return v.RawString();
    case VarType::DateTime:
      if (dataType_ == ftDate) return DateToStr(v.RawDateTime());
      if (dataType_ == ftTime) return TimeToStr(v.RawDateTime());
      return DateTimeToStr(v.RawDateTime());
    default: return v.AsString();
  }
}

// The typed setters store a value of the field's own kind as it is; other values take the general way.
void TField::SetValue(const Variant& value) { Store(owner_->NormalizeForField(*this, value)); }
void TField::SetAsBoolean(bool value) {
  if (kind_ == Kind::Boolean) Store(Variant(value));
  else SetValue(Variant(value));
}
void TField::SetAsDateTime(double value) {
  if (kind_ == Kind::DateTime) Store(Variant::FromDateTime(value));
  else SetValue(Variant::FromDateTime(value));
}
void TField::SetAsFloat(double value) {
  if (kind_ == Kind::Float) Store(Variant(value));
  else SetValue(Variant(value));
}
void TField::SetAsInteger(std::int32_t value) { SetAsLargeInt(value); }
void TField::SetAsLargeInt(std::int64_t value) {
  if (kind_ != Kind::Integer) {
    SetValue(Variant(static_cast<long long>(value)));
    return;
  }
  CheckRange(value);
  Store(Variant(static_cast<long long>(value)));
}
void TField::Clear() { Store(Variant::Null()); }

void TField::SetAsString(std::string_view value) {
  if (kind_ == Kind::Text) {
    Store(Variant(CutToSize(std::string(value), size_)));
    return;
  }
  if (kind_ == Kind::Bytes) {
    Store(Variant(value));
    return;
  }
  if (Trim(value).empty()) {
    Store(Variant::Null());
    return;
  }
  switch (kind_) {
    case Kind::Boolean: {
      bool b = false;
      if (!ParseBoolean(value, b)) {
        throw EConvertError(Format("'%s' is not a valid boolean value for field '%s'", value, name_));
      }
      Store(Variant(b));
      return;
    }
    case Kind::Integer: SetAsLargeInt(StrToInt64(Trim(value))); return;
    case Kind::Float: Store(Variant(StrToFloat(Trim(value)))); return;
    case Kind::Date: SetValue(Variant::FromDateTime(StrToDate(Trim(value)))); return;
    case Kind::Time: SetValue(Variant::FromDateTime(StrToTime(Trim(value)))); return;
    default: SetValue(Variant::FromDateTime(StrToDateTime(Trim(value)))); return;
  }
}

// ---- dataset ----

TDataSet::~TDataSet() = default;

Variant TDataSet::NormalizeForField(const TField& field, const Variant& value) const {
  if (value.IsClear()) return Variant::Null();
  switch (field.kind_) {
    case TField::Kind::Text: return Variant(CutToSize(value.AsString(), field.Size()));
    case TField::Kind::Bytes: return value.Type() == VarType::String ? value : Variant(value.AsString());
    case TField::Kind::Boolean:
      if (value.Type() == VarType::String) {
        bool b = false;
        if (!ParseBoolean(value.RawString(), b)) {
          throw EConvertError(
              Format("'%s' is not a valid boolean value for field '%s'", value.RawString(), field.FieldName()));
        }
        return Variant(b);
      }
      return Variant(value.AsBoolean());
    case TField::Kind::Integer: {
      const std::int64_t i = value.Type() == VarType::Integer ? value.RawInteger() : value.AsInteger();
      field.CheckRange(i);
      return Variant(static_cast<long long>(i));
    }
    case TField::Kind::Float: return Variant(value.Type() == VarType::Double ? value.RawDouble() : value.AsFloat());
    case TField::Kind::Date:
    case TField::Kind::Time:
    case TField::Kind::DateTime: {
      const TFieldType type = field.DataType();
      double d = 0;
      if (value.Type() == VarType::String) {
        const std::string text = Trim(value.RawString());
        if (type == ftDate) d = StrToDate(text);
        else if (type == ftTime) d = StrToTime(text);
        else d = StrToDateTime(text);
      } else {
        d = value.AsDateTime();
      }
      return Variant::FromDateTime(DatePart(type, d));
    }
    case TField::Kind::Other: break;
  }
  return value;
}

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
  page_.clear();
}

void TDataSet::EnsureKeys() {
  if (!keysValid_) {
    keys_ = DoLoadKeys();
    keysValid_ = true;
    page_.clear();
    posValid_ = false;
  }
  if (hasCurrent_ && !posValid_) {
    const auto it = std::find(keys_.begin(), keys_.end(), current_.Key);
    if (it != keys_.end()) {
      pos_ = static_cast<std::size_t>(it - keys_.begin());
      posValid_ = true;
    }
  }
}

// Makes the record at `pos` current, skipping records deleted meanwhile in the direction of travel.
bool TDataSet::LoadAt(std::size_t pos, bool forward) {
  for (;;) {
    if (pos >= keys_.size()) return false;
    const bool inPage = pos >= pageStart_ && pos < pageStart_ + page_.size();
    if (inPage) {
      Row& row = page_[pos - pageStart_];
      if (row.Key == 0) {  // deleted by someone else
        keys_.erase(keys_.begin() + static_cast<std::ptrdiff_t>(pos));
        page_.erase(page_.begin() + static_cast<std::ptrdiff_t>(pos - pageStart_));
        if (forward) continue;
        if (pos == 0) return false;
        --pos;
        continue;
      }
      if (!row.Values.empty() || fields_.empty()) {
        // Reading ahead moves the record out of the page (going back fetches it again); the page row keeps the
        // room of the record before for the next fetch.
        current_.Key = row.Key;
        current_.Values.swap(row.Values);
        row.Values.clear();
        hasCurrent_ = true;
        pos_ = pos;
        posValid_ = true;
        return true;
      }
    }
    std::size_t start = pos;
    std::size_t count = 0;
    if (forward) {
      count = std::min(kPageSize, keys_.size() - pos);
    } else {
      start = pos + 1 >= kPageSize ? pos + 1 - kPageSize : 0;
      count = pos + 1 - start;
    }
    page_.resize(count);
    for (Row& row : page_) {
      row.Key = 0;
      row.Values.clear();
    }
    DoFetch(keys_.data() + start, count, page_);
    pageStart_ = start;
  }
}

void TDataSet::First() {
  CheckBrowseable();
  keysValid_ = false;
  ClearCurrent();
  EnsureKeys();
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
  keysValid_ = false;
  ClearCurrent();
  EnsureKeys();
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
  if (!hasCurrent_ || !posValid_ || pos_ == 0 || !LoadAt(pos_ - 1, false)) {
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
  page_.clear();
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
  if (forward) {
    bof_ = false;
    eof_ = pastEnd;
  } else {
    eof_ = false;
    bof_ = pastEnd;
  }
  return static_cast<std::int32_t>(static_cast<std::int64_t>(pos_) - from);
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
  PositionOn(std::move(rows.front()));
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
    if (InsertionOrder() && keysValid_) {
      keys_.push_back(key);
      pos_ = keys_.size() - 1;
      posValid_ = true;
    } else {
      keysValid_ = false;
      posValid_ = false;
    }
  } else {
    DoUpdate(current_.Key, buffer_);
    current_.Values.swap(buffer_);
    page_.clear();
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
  page_.clear();
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
  } else if (!keys_.empty() && LoadAt(keys_.size() - 1, false)) {
    eof_ = true;
    bof_ = false;
  } else {
    ClearCurrent();
    bof_ = eof_ = true;
  }
}

void TDataSet::PositionOn(Row row) {
  current_ = std::move(row);
  hasCurrent_ = true;
  posValid_ = false;
  bof_ = eof_ = false;
}

TField& TDataSet::Fields(int index) {
  if (index < 0 || static_cast<std::size_t>(index) >= fields_.size()) {
    throw EListError(Format("List index out of bounds (%d)", index));
  }
  return *fields_[static_cast<std::size_t>(index)];
}

TField* TDataSet::FindField(std::string_view name) {
  // Callers mostly spell a name as the table stores it: that look-up needs no folded copy of the name.
  if (const auto exact = exactIndex_.find(name); exact != exactIndex_.end())
    return fields_[static_cast<std::size_t>(exact->second)].get();
  const auto it = fieldIndex_.find(FoldCase(name));
  return it == fieldIndex_.end() ? nullptr : fields_[static_cast<std::size_t>(it->second)].get();
}

TField& TDataSet::FieldByName(std::string_view name) {
  TField* field = FindField(name);
  if (field == nullptr) throw EDatabaseError(Format("Field '%s' not found", name));
  return *field;
}

// ---- BLOB stream ----

TABSBLOBStream::TABSBLOBStream(TField& field, TBlobStreamMode mode) : field_(field), mode_(mode) {
  if (mode_ == TBlobStreamMode::bmWrite) {
    field_.SetValue(Variant(std::string()));
  } else {
    content_ = field_.AsString();
  }
}

std::size_t TABSBLOBStream::Read(void* buffer, std::size_t count) {
  if (position_ >= content_.size()) return 0;
  const std::size_t n = std::min(count, content_.size() - position_);
  std::memcpy(buffer, content_.data() + position_, n);
  position_ += n;
  return n;
}

std::size_t TABSBLOBStream::Write(const void* buffer, std::size_t count) {
  if (mode_ == TBlobStreamMode::bmRead) {
    throw EDatabaseError(Format("Field '%s': the BLOB stream is open for reading only", field_.FieldName()));
  }
  if (position_ + count > content_.size()) content_.resize(position_ + count);
  if (count > 0) std::memcpy(content_.data() + position_, buffer, count);
  position_ += count;
  field_.SetValue(Variant(content_));
  return count;
}

void TABSBLOBStream::Seek(std::int64_t position) {
  if (position < 0) throw EDatabaseError("BLOB stream: negative position");
  position_ = static_cast<std::size_t>(position);
}

void TABSBLOBStream::Truncate() {
  if (mode_ == TBlobStreamMode::bmRead) {
    throw EDatabaseError(Format("Field '%s': the BLOB stream is open for reading only", field_.FieldName()));
  }
  if (position_ < content_.size()) content_.resize(position_);
  field_.SetValue(Variant(content_));
}

}  // namespace vez

// Field access: the field types and the field and index definitions, TField (a column of an open dataset: its
// kind, range and the conversions of its getters and setters), the normal form a value takes for its field, the
// look-up of fields by name and the BLOB stream. The cursor that holds the current record is in Dataset.cpp.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "core/CaseFold.h"
#include "core/FormatSettings.h"
#include "librarydb/Absmain.h"

namespace vez {
namespace {

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

const Variant& TField::NullVariant() {
  static const Variant null = Variant::Null();
  return null;
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

bool TField::ConvertToBoolean(const Variant& v) const {
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

double TField::ConvertToFloat(const Variant& v) const { return v.IsClear() ? 0.0 : v.AsFloat(); }

void TField::IntegerOutOfRange(std::int64_t value) const {
  throw EConvertError(Format("Value %d of field '%s' is out of the range of an integer", value, name_));
}

std::int64_t TField::ConvertToLargeInt(const Variant& v) const { return v.IsClear() ? 0 : v.AsInteger(); }

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

// ---- a value in the form of its field ----

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

// ---- fields by name ----

void TDataSet::FieldIndexError(int index) { throw EListError(Format("List index out of bounds (%d)", index)); }

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

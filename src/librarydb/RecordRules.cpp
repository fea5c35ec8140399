#include "librarydb/RecordRules.h"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "core/CaseFold.h"
#include "librarydb/Absmain.h"
#include "librarydb/Defaults.h"
#include "librarydb/ElementBands.h"
#include "librarydb/layouts/DefaultRows.h"

namespace vez {

namespace {

using Kind = TField::Kind;

// The kind of value a person gives a field: the engine keeps memos as bytes, but a memo holds text.
Kind KindOf(const TField& field) { return field.DataType() == ftMemo ? Kind::Text : field.ValueKind(); }

[[noreturn]] void Refuse(TValueFault fault, const TField& field, std::string_view what) {
  throw EFieldValueError(fault, field.FieldName(), fmt::format("The field \"{}\" {}", field.FieldName(), what));
}

// A number as a person writes it: whole numbers without a decimal point, others as the shortest text.
std::string NumberText(double v) {
  if (v == std::trunc(v) && std::fabs(v) < 1e15) return fmt::format("{}", static_cast<long long>(v));
  return fmt::format("{}", v);
}

std::string ValueText(const Variant& v) {
  switch (v.Type()) {
    case VarType::Boolean: return v.RawBool() ? "True" : "False";
    case VarType::Integer: return fmt::format("{}", v.RawInteger());
    case VarType::Double: return NumberText(v.RawDouble());
    case VarType::String: return "\"" + v.RawString() + "\"";
    case VarType::DateTime: return DateTimeToISO(v.RawDateTime());
    default: return "no value";
  }
}

std::string Utf8Prefix(std::string_view text, std::size_t chars) {
  std::size_t n = 0;
  for (std::size_t i = 0; i < text.size(); ++i)
    if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80 && n++ == chars) return std::string(text.substr(0, i));
  return std::string(text);
}

// The first control character of a text (U+0000..U+001F, U+007F..U+009F) and its position in characters.
bool FindControl(std::string_view text, std::uint32_t& code, std::size_t& position) {
  std::size_t chars = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto b = static_cast<unsigned char>(text[i]);
    if ((b & 0xC0) == 0x80) continue;
    ++chars;
    std::uint32_t c = b;
    if (b == 0xC2 && i + 1 < text.size()) c = static_cast<unsigned char>(text[i + 1]);  // U+0080..U+00BF
    if (c < 0x20 || (c >= 0x7F && c <= 0x9F && (b == 0x7F || b == 0xC2))) {
      code = c;
      position = chars;
      return true;
    }
  }
  return false;
}

bool IsInfinityOrNaNText(std::string_view text) {
  std::string t = Trim(text);
  if (!t.empty() && (t[0] == '+' || t[0] == '-')) t.erase(0, 1);
  return SameText(t, "nan") || SameText(t, "inf") || SameText(t, "infinity");
}

// RFC 4648 Base64 with or without padding; false for any other character.
bool DecodeBase64(std::string_view text, std::string& out) {
  std::uint32_t buffer = 0;
  int bits = 0;
  std::size_t padding = 0;
  for (const char c : text) {
    int v = -1;
    if (c >= 'A' && c <= 'Z') v = c - 'A';
    else if (c >= 'a' && c <= 'z') v = c - 'a' + 26;
    else if (c >= '0' && c <= '9') v = c - '0' + 52;
    else if (c == '+') v = 62;
    else if (c == '/') v = 63;
    else if (c == '=' && ++padding <= 2) continue;
    if (v < 0 || padding > 0) return false;
    buffer = (buffer << 6) | static_cast<std::uint32_t>(v);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out += static_cast<char>((buffer >> bits) & 0xFF);
    }
  }
  // Leftover bits must be padding zeros of a whole group: 2 or 4 of them, never 6.
  return bits < 6 && (buffer & ((1u << bits) - 1)) == 0;
}

// What a field of a kind takes, for the messages.
std::string_view Takes(Kind kind) {
  switch (kind) {
    case Kind::Text: return "a text";
    case Kind::Integer: return "a whole number";
    case Kind::Float: return "a number";
    case Kind::Boolean: return "True or False";
    case Kind::Date:
    case Kind::Time:
    case Kind::DateTime: return "a date and time";
    case Kind::Bytes: return "bytes";
    case Kind::Other: break;
  }
  return "no value here";
}

// The text without the characters <= ' ' at either end, as Trim has it, without a copy.
std::string_view TrimView(std::string_view text) {
  std::size_t b = 0, e = text.size();
  while (b < e && static_cast<unsigned char>(text[b]) <= ' ') ++b;
  while (e > b && static_cast<unsigned char>(text[e - 1]) <= ' ') --e;
  return text.substr(b, e - b);
}

// A text read as a value of the field's kind, or a refusal.
Variant ParseText(const TField& field, std::string_view text, const FormatSettings& settings) {
  const std::string_view t = TrimView(text);
  switch (KindOf(field)) {
    case Kind::Integer: {
      std::int64_t i = 0;
      if (TryStrToInt64(t, i) && t.find('$') == std::string::npos) return Variant(static_cast<long long>(i));
      double d = 0;
      if (TryStrToFloat(t, d, settings) && std::isfinite(d)) {
        if (d != std::trunc(d)) return Variant(d);  // refused as a fraction
        if (std::fabs(d) < 9.2e18) return Variant(static_cast<long long>(d));
        Refuse(TValueFault::OutOfRange, field,
               fmt::format("takes a whole number from {} to {}, not {}", field.Lowest(), field.Highest(), t));
      }
      // Digits alone beyond 64 bits are a number out of range, not a wrong text.
      const std::size_t sign = !t.empty() && (t[0] == '+' || t[0] == '-') ? 1 : 0;
      if (t.size() > sign && t.find_first_not_of("0123456789", sign) == std::string::npos)
        Refuse(TValueFault::OutOfRange, field,
               fmt::format("takes a whole number from {} to {}, not {}", field.Lowest(), field.Highest(), t));
      if (IsInfinityOrNaNText(t)) return Variant(std::numeric_limits<double>::quiet_NaN());
      Refuse(TValueFault::NotConvertible, field, fmt::format("takes a whole number, not \"{}\"", std::string(text)));
    }
    case Kind::Float: {
      double d = 0;
      if (TryStrToFloat(t, d, settings)) return Variant(d);
      if (IsInfinityOrNaNText(t)) return Variant(std::numeric_limits<double>::quiet_NaN());
      Refuse(TValueFault::NotConvertible, field, fmt::format("takes a number, not \"{}\"", std::string(text)));
    }
    case Kind::Boolean: {
      if (SameText(t, "True") || t == "1" || SameText(t, "yes")) return Variant(true);
      if (SameText(t, "False") || t == "0" || SameText(t, "no")) return Variant(false);
      Refuse(TValueFault::NotConvertible, field, fmt::format("takes True or False, not \"{}\"", std::string(text)));
    }
    case Kind::Date:
    case Kind::Time:
    case Kind::DateTime: {
      double d = 0;
      if (TryISOToDateTime(t, d) || TryStrToDateTime(t, d, settings)) return Variant::FromDateTime(d);
      Refuse(TValueFault::NotConvertible, field,
             fmt::format("takes a date and time such as 2024-05-31 14:30:00, not \"{}\"", std::string(text)));
    }
    default: return Variant(std::string(text));
  }
}

}  // namespace

std::optional<double> NoValueNumber(std::int32_t LibType, std::string_view FieldName) {
  bool found = false;
  std::optional<double> out;
  detail::ForEachDefault(detail::FindDefaultRows(LibType, found),
                         [&](const detail::DefaultRow& row, const detail::Assignment& column, std::string_view name) {
                           if (row.source == detail::Source::Constant && column.value.kind == detail::ConstantKind::Integer &&
                               column.value.integer == -199 && SameText(name, FieldName))
                             out = kNoValue;
                         });
  return out;
}

// The band fields of an element library and the four fields that follow from them.
struct TRecordWriter::Bands {
  int values[31] = {};  // field index of "Values<n>", n = 1..30
  int terz = -1, lower = -1, upper = -1, komplett = -1;
};

TRecordWriter::TRecordWriter(TABSTable& Table, std::int32_t LibType)
    : table_(Table), settings_(GlobalFormatSettings()) {
  if (HasNewRecordDefaults(LibType)) defaults_ = std::make_unique<TNewRecordDefaults>(Table, LibType);
  const int count = Table.FieldCount();
  set_.assign(static_cast<std::size_t>(count), false);
  noValue_.resize(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) {
    TField& f = Table.Fields(i);
    if (f.ValueKind() == Kind::Float || f.ValueKind() == Kind::Integer)
      noValue_[static_cast<std::size_t>(i)] = NoValueNumber(LibType, f.FieldName());
    if (f.DataType() == ftAutoInc) autoInc_ = i;
  }
  if (TField* f = Table.FindField("LastChangeDateTime"); f != nullptr && f->ValueKind() == Kind::DateTime)
    lastChange_ = f->Index();

  const TIndexDefs& indexes = Table.IndexDefs();
  if (const int en = indexes.IndexOf("EN"); en >= 0 && (indexes[en].Options & ixUnique) != 0) {
    nameUnique_ = true;
    std::string_view fields = indexes[en].Fields;
    while (!fields.empty()) {
      const std::size_t end = std::min(fields.find(';'), fields.size());
      if (TField* f = Table.FindField(Trim(fields.substr(0, end))); f != nullptr && f->ValueKind() == Kind::Text)
        nameFields_.push_back(f->Index());
      fields.remove_prefix(std::min(end + 1, fields.size()));
    }
  }

  if (HasElementBands(LibType)) {
    auto b = std::make_unique<Bands>();
    bool all = true;
    for (int n = 1; n <= 30 && all; ++n) {
      TField* f = Table.FindField("Values" + std::to_string(n));
      all = f != nullptr;
      if (all) b->values[n] = f->Index();
    }
    const auto index = [&](const char* name) {
      TField* f = Table.FindField(name);
      all = all && f != nullptr;
      return f != nullptr ? f->Index() : -1;
    };
    b->terz = index("Terz");
    b->lower = index("Lower");
    b->upper = index("Upper");
    b->komplett = index("Komplett");
    if (all) bands_ = std::move(b);
  }
}

TRecordWriter::~TRecordWriter() = default;

TField& TRecordWriter::At(int Field) const { return table_.Fields(Field); }

void TRecordWriter::Append(double Now) {
  table_.Append();
  Begin(Now);
}

void TRecordWriter::Edit() {
  table_.Edit();
  Begin(vez::Now());
}

void TRecordWriter::Begin(double Now) {
  isNew_ = table_.State() == TDataSetState::dsInsert;
  beginNow_ = Now;
  if (isNew_ && defaults_) defaults_->Apply(Now, setByCaller_);
  std::fill(set_.begin(), set_.end(), false);
}

void TRecordWriter::SetsInEveryNewRecord(const std::vector<int>& Fields) {
  setByCaller_.assign(set_.size(), false);
  callerFields_.clear();
  for (const int i : Fields) {
    At(i);  // a field of the table
    if (!setByCaller_[static_cast<std::size_t>(i)]) callerFields_.push_back(i);
    setByCaller_[static_cast<std::size_t>(i)] = true;
  }
}

// The defaults a new record went without for fields the caller promised to set and did not.
void TRecordWriter::ApplyMissedDefaults() {
  if (!isNew_ || !defaults_ || callerFields_.empty()) return;
  std::vector<bool> others;
  for (const int i : callerFields_) {
    if (IsSet(i)) continue;
    if (others.empty()) others.assign(set_.size(), true);
    others[static_cast<std::size_t>(i)] = false;
  }
  if (!others.empty()) defaults_->Apply(beginNow_, others);
}

int TRecordWriter::FieldIndex(std::string_view Name) const {
  if (TField* f = table_.FindField(Name)) return f->Index();
  throw EFieldValueError(TValueFault::UnknownField, std::string(Name),
                         fmt::format("The library has no field \"{}\"", Name));
}

void TRecordWriter::Set(int Field, const Variant& Value, bool Truncate) {
  TField& field = At(Field);
  const Kind kind = KindOf(field);
  set_[static_cast<std::size_t>(Field)] = true;
  if (Value.IsClear()) {
    if (const auto& none = noValue_[static_cast<std::size_t>(Field)]) field.SetAsFloat(*none);
    else field.Clear();
    return;
  }
  const VarType type = Value.Type();
  if (type == VarType::String && kind != Kind::Text && kind != Kind::Bytes && kind != Kind::Other)
    return SetText(Field, Value.RawString(), Truncate);
  const auto wrong = [&] {
    Refuse(TValueFault::WrongKind, field, fmt::format("takes {}, not {}", Takes(kind), ValueText(Value)));
  };
  const auto finite = [&](double d) {
    if (!std::isfinite(d)) Refuse(TValueFault::NotFinite, field, "takes a finite number, not NaN or an infinity");
  };
  switch (kind) {
    case Kind::Text: {
      if (type != VarType::String) wrong();
      const std::string& text = Value.RawString();
      const bool sized = field.Size() > 0 && field.DataType() != ftMemo && field.DataType() != ftFmtMemo;
      if (sized && Utf8Length(text) > static_cast<std::size_t>(field.Size())) {
        if (!Truncate)
          Refuse(TValueFault::TooLong, field,
                 fmt::format("holds at most {} characters, the text has {}", field.Size(), Utf8Length(text)));
        field.SetAsString(Utf8Prefix(text, static_cast<std::size_t>(field.Size())));
        return;
      }
      field.SetAsString(text);
      return;
    }
    case Kind::Integer: {
      std::int64_t i = 0;
      if (type == VarType::Integer) {
        i = Value.RawInteger();
      } else if (type == VarType::Double) {
        const double d = Value.RawDouble();
        finite(d);
        if (d != std::trunc(d)) wrong();
        if (!(std::fabs(d) < 9.2e18))
          Refuse(TValueFault::OutOfRange, field,
                 fmt::format("takes a whole number from {} to {}, not {}", field.Lowest(), field.Highest(), NumberText(d)));
        i = static_cast<std::int64_t>(d);
      } else {
        wrong();
      }
      if (i < field.Lowest() || i > field.Highest())
        Refuse(TValueFault::OutOfRange, field,
               fmt::format("takes a whole number from {} to {}, not {}", field.Lowest(), field.Highest(), i));
      field.SetAsLargeInt(i);
      return;
    }
    case Kind::Float: {
      if (type != VarType::Integer && type != VarType::Double) wrong();
      const double d = type == VarType::Integer ? static_cast<double>(Value.RawInteger()) : Value.RawDouble();
      finite(d);
      field.SetAsFloat(d);
      return;
    }
    case Kind::Boolean:
      if (type != VarType::Boolean) wrong();
      field.SetAsBoolean(Value.RawBool());
      return;
    case Kind::Date:
    case Kind::Time:
    case Kind::DateTime:
      if (type != VarType::DateTime) wrong();
      field.SetValue(Value);
      return;
    case Kind::Bytes:
      if (type != VarType::String) wrong();
      field.SetValue(Value);
      return;
    case Kind::Other: break;
  }
  Refuse(TValueFault::NotEditable, field, "cannot be changed here");
}

void TRecordWriter::SetText(int Field, std::string_view Text, bool Truncate) {
  TField& field = At(Field);
  switch (KindOf(field)) {
    case Kind::Text: return Set(Field, Variant(Text), Truncate);
    case Kind::Bytes: {
      // Bytes as people and files carry them: in Base64, the form the dumps and exports write.
      if (Trim(Text).empty()) return Set(Field, Variant::Null());
      std::string bytes;
      if (!DecodeBase64(Trim(Text), bytes))
        Refuse(TValueFault::NotConvertible, field, fmt::format("takes bytes in Base64, not \"{}\"", std::string(Text)));
      return Set(Field, Variant(std::move(bytes)));
    }
    case Kind::Other: Refuse(TValueFault::NotEditable, field, "cannot be given as text");
    default: break;
  }
  if (TrimView(Text).empty()) return Set(Field, Variant::Null());
  Set(Field, ParseText(field, Text, settings_), Truncate);
}

void TRecordWriter::Clear(int Field) {
  set_[static_cast<std::size_t>(Field)] = true;
  At(Field).Clear();
}

void TRecordWriter::SetWholeNumber(int Field, std::string_view Digits) {
  std::int64_t i = 0;
  if (TryStrToInt64(Digits, i)) return Set(Field, Variant(static_cast<long long>(i)));
  TField& field = At(Field);
  switch (KindOf(field)) {
    case Kind::Integer:
      Refuse(TValueFault::OutOfRange, field,
             fmt::format("takes a whole number from {} to {}, not {}", field.Lowest(), field.Highest(), Digits));
    case Kind::Float: {
      double d = 0;
      if (TryStrToFloat(Digits, d, FormatSettings{}) && std::isfinite(d)) return Set(Field, Variant(d));
      Refuse(TValueFault::OutOfRange, field, fmt::format("takes a number of at most 1.8e308, not {}", Digits));
    }
    default: Refuse(TValueFault::WrongKind, field, fmt::format("takes {}, not {}", Takes(KindOf(field)), Digits));
  }
}

void TRecordWriter::CheckNames() {
  if (nameFields_.empty()) return;
  const bool touched = isNew_ || std::any_of(nameFields_.begin(), nameFields_.end(), [&](int i) { return IsSet(i); });
  if (!touched) return;
  TField& name = At(nameFields_.front());
  if (TrimView(name.AsString()).empty()) Refuse(TValueFault::Empty, name, "must not be empty");
  for (const int i : nameFields_) {
    TField& f = At(i);
    std::uint32_t code = 0;
    std::size_t at = 0;
    if (FindControl(f.AsString(), code, at))
      Refuse(TValueFault::ControlCharacter, f,
             fmt::format("must not contain control characters (U+{:04X} at character {})", code, at));
  }
}

void TRecordWriter::DeriveBands() {
  if (!bands_) return;
  const Bands& b = *bands_;
  bool bandSet = false;
  for (int n = 1; n <= 30; ++n) bandSet = bandSet || IsSet(b.values[n]);
  if (!isNew_ && !bandSet) return;
  int present[30];
  std::size_t count = 0;
  for (int n = 1; n <= 30; ++n) {
    const TField& f = At(b.values[n]);
    if (!f.IsNull() && f.AsFloat() != kNoValue) present[count++] = n;
  }
  // Without a present band the record keeps its kind and range, and is not complete.
  std::optional<bool> terz;
  if (IsSet(b.terz) || count == 0) terz = At(b.terz).AsBoolean();
  std::optional<std::pair<std::int32_t, std::int32_t>> range;
  if (IsSet(b.lower) || IsSet(b.upper) || count == 0)
    range = std::pair(static_cast<std::int32_t>(At(b.lower).AsLargeInt()), static_cast<std::int32_t>(At(b.upper).AsLargeInt()));
  const TElementBandRange r = BandRangeOf(std::span<const int>(present, count), terz, range);
  if (!IsSet(b.terz)) At(b.terz).SetAsBoolean(r.Terz);
  if (!range) {
    At(b.lower).SetAsLargeInt(r.Lower);
    At(b.upper).SetAsLargeInt(r.Upper);
  }
  if (!IsSet(b.komplett)) At(b.komplett).SetAsBoolean(r.Complete);
}

void TRecordWriter::Post(double Now) {
  try {
    ApplyMissedDefaults();
    CheckNames();
    DeriveBands();
    if (lastChange_ >= 0 && !IsSet(lastChange_)) At(lastChange_).SetAsDateTime(Now);
    table_.Post();
  } catch (...) {
    Cancel();
    throw;
  }
  number_.reset();
  if (autoInc_ >= 0) number_ = At(autoInc_).AsLargeInt();
}

void TRecordWriter::Cancel() {
  if (table_.State() == TDataSetState::dsInsert || table_.State() == TDataSetState::dsEdit) table_.Cancel();
}

}  // namespace vez

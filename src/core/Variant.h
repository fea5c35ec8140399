// Variant: the value of a table field or a spreadsheet cell.
//
// A variant is Empty (never assigned), Null (assigned "no value"), a Boolean, a 64-bit Integer, a Double, a
// DateTime or a String. A DateTime is the number of days since 30 December 1899, the fraction being the time
// of day (0.5 is noon), as the suite's date-time values have always been. Strings are bytes: UTF-8 text, or raw
// bytes for BLOB contents.
//
// Text form (AsString): Boolean "True"/"False"; Null and Empty as empty text; integers in decimal; doubles in
// the shortest form that reads back to the same value, with the process decimal separator; date-times through
// DateTimeToStr with the process format settings.
//
// Conversions that cannot be done throw EConvertError. Compare() is a total order for sorting: Empty < Null <
// numbers (Boolean, Integer, Double and DateTime compared by their numeric value; NaN after all other numbers)
// < strings (compared by bytes).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

namespace vez {

enum class VarType { Empty, Null, Boolean, Integer, Double, DateTime, String };

// A value that does not own its text: what a reader of many values hands out without copying them, valid as long
// as what it was read from. It takes the types of a Variant: a Boolean as 0 or 1 in `integer`, a DateTime in days
// in `number`, the bytes of a String in `text`.
struct VariantView {
  VarType type = VarType::Null;
  std::int64_t integer = 0;
  double number = 0;
  std::string_view text;
};

// The display name of a variant type ("Empty", "Null", "Boolean", "Int64", "Double", "Date", "String").
const char* VarTypeName(VarType type);

class Variant {
public:
  Variant() = default;
  Variant(bool value) : value_(value) {}
  Variant(int value) : value_(static_cast<std::int64_t>(value)) {}
  Variant(unsigned value) : value_(static_cast<std::int64_t>(value)) {}
  Variant(long value) : value_(static_cast<std::int64_t>(value)) {}
  Variant(long long value) : value_(static_cast<std::int64_t>(value)) {}
  Variant(unsigned long value) : value_(static_cast<std::int64_t>(value)) {}
  Variant(double value) : value_(value) {}
  Variant(float value) : value_(static_cast<double>(value)) {}
  Variant(std::string value) : value_(std::move(value)) {}
  Variant(std::string_view value) : value_(std::string(value)) {}
  Variant(const char* value) : value_(std::string(value)) {}

  static Variant Null() { Variant v; v.value_ = NullTag{}; return v; }
  // Makes the variant Null in place (cheaper than assigning Null()).
  void SetNull() { value_.emplace<NullTag>(); }
  static Variant FromDateTime(double days) { Variant v; v.value_ = DateTimeValue{days}; return v; }

  // Setters in place: a variant that already holds a value of the type is overwritten without a temporary, and
  // one that holds a text keeps its room for the next text (readers that decode record after record into the
  // same variants allocate nothing for texts that fit).
  void SetBool(bool value) { Set(value); }
  void SetInteger(std::int64_t value) { Set(value); }
  void SetDouble(double value) { Set(value); }
  void SetDateTime(double days) { Set(DateTimeValue{days}); }
  void SetString(std::string_view text) {
    if (auto* s = std::get_if<std::string>(&value_)) s->assign(text);
    else value_.emplace<std::string>(text);
  }
  // Takes the value of a view (its text copied), in place as the setters above.
  void Assign(const VariantView& view) {
    switch (view.type) {
      case VarType::Empty: value_.emplace<EmptyTag>(); return;
      case VarType::Null: SetNull(); return;
      case VarType::Boolean: SetBool(view.integer != 0); return;
      case VarType::Integer: SetInteger(view.integer); return;
      case VarType::Double: SetDouble(view.number); return;
      case VarType::DateTime: SetDateTime(view.number); return;
      case VarType::String: SetString(view.text); return;
    }
  }
  // The value as a view; its text lives as long as this variant is unchanged.
  VariantView View() const;

  VarType Type() const { return static_cast<VarType>(value_.index()); }
  bool IsEmpty() const { return Type() == VarType::Empty; }
  bool IsNull() const { return Type() == VarType::Null; }
  // Empty or Null: the value a field without content reports.
  bool IsClear() const { return IsEmpty() || IsNull(); }
  bool IsNumeric() const;  // Boolean, Integer, Double or DateTime

  // Conversions. Strings are parsed with the process format settings; Empty converts to 0/False/"" while Null
  // cannot be converted to a number, Boolean or date (EConvertError), as in the original platform.
  bool AsBoolean() const;
  std::int64_t AsInteger() const;  // doubles are rounded half to even, as the platform rounds
  double AsFloat() const;
  double AsDateTime() const;
  std::string AsString() const;

  // Direct access without conversion; undefined unless Type() matches.
  bool RawBool() const { return std::get<bool>(value_); }
  std::int64_t RawInteger() const { return std::get<std::int64_t>(value_); }
  double RawDouble() const { return std::get<double>(value_); }
  double RawDateTime() const { return std::get<DateTimeValue>(value_).days; }
  const std::string& RawString() const { return std::get<std::string>(value_); }

  // Total order: negative, zero or positive.
  static int Compare(const Variant& a, const Variant& b);
  friend bool operator==(const Variant& a, const Variant& b) { return Compare(a, b) == 0; }
  friend bool operator<(const Variant& a, const Variant& b) { return Compare(a, b) < 0; }

private:
  struct NullTag {};
  struct EmptyTag {};
  struct DateTimeValue { double days; };
  [[noreturn]] void CannotConvert(VarType to) const;
  template <class T>
  void Set(T value) {
    if (auto* p = std::get_if<T>(&value_)) *p = value;
    else value_.emplace<T>(value);
  }

  // Order matches VarType.
  std::variant<EmptyTag, NullTag, bool, std::int64_t, double, DateTimeValue, std::string> value_;
};

}  // namespace vez

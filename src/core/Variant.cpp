#include "core/Variant.h"

#include <cmath>
#include <limits>

#include "core/Exceptions.h"
#include "core/FormatSettings.h"

namespace vez {

const char* VarTypeName(VarType type) {
  switch (type) {
    case VarType::Empty: return "Empty";
    case VarType::Null: return "Null";
    case VarType::Boolean: return "Boolean";
    case VarType::Integer: return "Int64";
    case VarType::Double: return "Double";
    case VarType::DateTime: return "Date";
    case VarType::String: return "String";
  }
  return "Unknown";
}

void Variant::CannotConvert(VarType to) const {
  throw EConvertError(Format("Could not convert variant of type (%s) into type (%s)", VarTypeName(Type()),
                             VarTypeName(to)));
}

VariantView Variant::View() const {
  VariantView view;
  view.type = Type();
  switch (view.type) {
    case VarType::Boolean: view.integer = RawBool() ? 1 : 0; break;
    case VarType::Integer: view.integer = RawInteger(); break;
    case VarType::Double: view.number = RawDouble(); break;
    case VarType::DateTime: view.number = RawDateTime(); break;
    case VarType::String: view.text = RawString(); break;
    default: break;
  }
  return view;
}

bool Variant::IsNumeric() const {
  switch (Type()) {
    case VarType::Boolean:
    case VarType::Integer:
    case VarType::Double:
    case VarType::DateTime:
      return true;
    default:
      return false;
  }
}

bool Variant::AsBoolean() const {
  switch (Type()) {
    case VarType::Empty: return false;
    case VarType::Boolean: return RawBool();
    case VarType::Integer: return RawInteger() != 0;
    case VarType::Double: return RawDouble() != 0.0;
    case VarType::DateTime: return RawDateTime() != 0.0;
    case VarType::String: {
      const std::string& s = RawString();
      if (SameText(Trim(s), "True")) return true;
      if (SameText(Trim(s), "False")) return false;
      double d;
      if (TryStrToFloat(s, d)) return d != 0.0;
      throw EConvertError(Format("Could not convert variant of type (String) into type (Boolean)"));
    }
    default:
      CannotConvert(VarType::Boolean);
  }
}

std::int64_t Variant::AsInteger() const {
  switch (Type()) {
    case VarType::Empty: return 0;
    case VarType::Boolean: return RawBool() ? -1 : 0;  // the platform's True is all bits set
    case VarType::Integer: return RawInteger();
    case VarType::Double:
    case VarType::DateTime: {
      std::int64_t v;
      if (!TryRoundToInt64(Type() == VarType::Double ? RawDouble() : RawDateTime(), v)) CannotConvert(VarType::Integer);
      return v;
    }
    case VarType::String: {
      std::int64_t v;
      if (TryStrToInt64(RawString(), v)) return v;
      double d;
      if (TryStrToFloat(RawString(), d) && TryRoundToInt64(d, v)) return v;
      CannotConvert(VarType::Integer);
    }
    default:
      CannotConvert(VarType::Integer);
  }
}

double Variant::AsFloat() const {
  switch (Type()) {
    case VarType::Empty: return 0.0;
    case VarType::Boolean: return RawBool() ? -1.0 : 0.0;
    case VarType::Integer: return static_cast<double>(RawInteger());
    case VarType::Double: return RawDouble();
    case VarType::DateTime: return RawDateTime();
    case VarType::String: {
      double d;
      if (TryStrToFloat(RawString(), d)) return d;
      CannotConvert(VarType::Double);
    }
    default:
      CannotConvert(VarType::Double);
  }
}

double Variant::AsDateTime() const {
  switch (Type()) {
    case VarType::String: {
      double d;
      if (TryStrToDateTime(RawString(), d, GlobalFormatSettings())) return d;
      CannotConvert(VarType::DateTime);
    }
    case VarType::Null:
      CannotConvert(VarType::DateTime);
    default:
      return AsFloat();
  }
}

std::string Variant::AsString() const {
  switch (Type()) {
    case VarType::Empty:
    case VarType::Null: return std::string();
    case VarType::Boolean: return RawBool() ? "True" : "False";
    case VarType::Integer: return std::to_string(RawInteger());
    case VarType::Double: return FloatToStrShortest(RawDouble());
    case VarType::DateTime: return DateTimeToStr(RawDateTime());
    case VarType::String: return RawString();
  }
  return std::string();
}

namespace {
// Rank of the kinds in the total order.
int Rank(VarType t) {
  switch (t) {
    case VarType::Empty: return 0;
    case VarType::Null: return 1;
    case VarType::String: return 3;
    default: return 2;  // numbers
  }
}
double NumberOf(const Variant& v) {
  switch (v.Type()) {
    case VarType::Boolean: return v.RawBool() ? 1.0 : 0.0;
    case VarType::Integer: return static_cast<double>(v.RawInteger());
    case VarType::Double: return v.RawDouble();
    default: return v.RawDateTime();
  }
}
}  // namespace

int Variant::Compare(const Variant& a, const Variant& b) {
  const int ra = Rank(a.Type()), rb = Rank(b.Type());
  if (ra != rb) return ra < rb ? -1 : 1;
  if (ra == 3) {
    const int c = a.RawString().compare(b.RawString());
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
  }
  if (ra != 2) return 0;
  if (a.Type() == VarType::Integer && b.Type() == VarType::Integer) {
    return a.RawInteger() < b.RawInteger() ? -1 : (a.RawInteger() > b.RawInteger() ? 1 : 0);
  }
  const double x = NumberOf(a), y = NumberOf(b);
  const bool nx = std::isnan(x), ny = std::isnan(y);
  if (nx || ny) return nx == ny ? 0 : (nx ? 1 : -1);
  return x < y ? -1 : (x > y ? 1 : 0);
}

}  // namespace vez

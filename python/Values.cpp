#include "Bindings.h"

#include <datetime.h>

#include <cmath>
#include <filesystem>

#include "core/Exceptions.h"
#include "core/FormatSettings.h"
#include "output/ValueText.h"

namespace vez::python {

namespace {

bool DateTimeApiReady() {
  if (PyDateTimeAPI == nullptr) PyDateTime_IMPORT;
  return PyDateTimeAPI != nullptr;
}

}  // namespace

PyKind PyKindOfField(TFieldType type) {
  switch (ValueStyleOf(type)) {
    case ValueStyle::Integer: return PyKind::Integer;
    case ValueStyle::Float: return PyKind::Float;
    case ValueStyle::Boolean: return PyKind::Boolean;
    case ValueStyle::Binary: return PyKind::Bytes;
    case ValueStyle::DateTime: return type == ftDate ? PyKind::Date : type == ftTime ? PyKind::Time : PyKind::DateTime;
    case ValueStyle::Text: break;
  }
  return type == ftFmtMemo ? PyKind::Bytes : PyKind::Text;
}

PyObject* TextObject(std::string_view bytes) {
  PyObject* text = PyUnicode_DecodeUTF8(bytes.data(), static_cast<Py_ssize_t>(bytes.size()), nullptr);
  if (text != nullptr) return text;
  PyErr_Clear();
  const std::string mapped = Utf8OrLatin1(bytes);
  return PyUnicode_DecodeUTF8(mapped.data(), static_cast<Py_ssize_t>(mapped.size()), nullptr);
}

PyObject* DateTimeObject(double dateTime, PyKind kind) {
  if (!DateTimeApiReady()) return nullptr;
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, msec = 0;
  DecodeTime(dateTime, hour, minute, second, msec);
  if (kind == PyKind::Time) return PyTime_FromTime(hour, minute, second, msec * 1000);
  if (std::isfinite(dateTime) && std::fabs(dateTime) < 3.0e6) DecodeDate(dateTime, year, month, day);
  if (year < 1 || year > 9999) return TextObject(DateTimeToISO(dateTime));
  if (kind == PyKind::Date) return PyDate_FromDate(year, month, day);
  return PyDateTime_FromDateAndTime(year, month, day, hour, minute, second, msec * 1000);
}

PyObject* VariantObject(const Variant& v, PyKind kind) {
  switch (v.Type()) {
    case VarType::Empty:
    case VarType::Null: Py_RETURN_NONE;
    case VarType::Boolean: return PyBool_FromLong(v.RawBool() ? 1 : 0);
    case VarType::Integer:
      if (kind == PyKind::Boolean) return PyBool_FromLong(v.RawInteger() != 0 ? 1 : 0);
      if (kind == PyKind::Float) return PyFloat_FromDouble(static_cast<double>(v.RawInteger()));
      return PyLong_FromLongLong(v.RawInteger());
    case VarType::Double:
      if (kind == PyKind::Integer) return PyLong_FromLongLong(v.AsInteger());
      return PyFloat_FromDouble(v.RawDouble());
    case VarType::DateTime:
      return DateTimeObject(v.RawDateTime(), kind == PyKind::Date || kind == PyKind::Time ? kind : PyKind::DateTime);
    case VarType::String: {
      const std::string& s = v.RawString();
      if (kind == PyKind::Bytes) return PyBytes_FromStringAndSize(s.data(), static_cast<Py_ssize_t>(s.size()));
      return TextObject(s);
    }
  }
  Py_RETURN_NONE;
}

Variant ToVariant(const py::handle& value) {
  PyObject* o = value.ptr();
  if (o == Py_None) return Variant::Null();
  if (PyBool_Check(o)) return Variant(o == Py_True);
  if (PyLong_Check(o)) return Variant(value.cast<long long>());
  if (PyFloat_Check(o)) return Variant(PyFloat_AsDouble(o));
  if (PyUnicode_Check(o)) return Variant(value.cast<std::string>());
  if (PyBytes_Check(o) || PyByteArray_Check(o)) return Variant(std::string(py::bytes(value.cast<py::bytes>())));
  if (DateTimeApiReady()) {
    if (PyDateTime_Check(o)) {
      return Variant::FromDateTime(
          EncodeDate(PyDateTime_GET_YEAR(o), PyDateTime_GET_MONTH(o), PyDateTime_GET_DAY(o)) +
          EncodeTime(PyDateTime_DATE_GET_HOUR(o), PyDateTime_DATE_GET_MINUTE(o), PyDateTime_DATE_GET_SECOND(o),
                     PyDateTime_DATE_GET_MICROSECOND(o) / 1000));
    }
    if (PyDate_Check(o))
      return Variant::FromDateTime(EncodeDate(PyDateTime_GET_YEAR(o), PyDateTime_GET_MONTH(o), PyDateTime_GET_DAY(o)));
    if (PyTime_Check(o)) {
      return Variant::FromDateTime(EncodeTime(PyDateTime_TIME_GET_HOUR(o), PyDateTime_TIME_GET_MINUTE(o),
                                              PyDateTime_TIME_GET_SECOND(o), PyDateTime_TIME_GET_MICROSECOND(o) / 1000));
    }
  }
  if (PyObject_HasAttrString(o, "item") && PyObject_HasAttrString(o, "dtype")) return ToVariant(value.attr("item")());
  throw py::type_error("a field value must be None, bool, int, float, str, bytes, date, time or datetime, not " +
                       std::string(Py_TYPE(o)->tp_name));
}

void CheckFile(const std::string& path) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) throw EInOutError("no such file: '" + path + "'");
}

py::object DataFrame(const py::list& records, const py::list& columns) {
  py::object pandas = py::module_::import("pandas");
  return pandas.attr("DataFrame").attr("from_records")(records, py::arg("columns") = columns);
}

bool HaveNumpy() {
  static const bool have = [] {
    try {
      py::module_::import("numpy");
      return true;
    } catch (const py::error_already_set&) {
      return false;
    }
  }();
  return have;
}

}  // namespace vez::python

#include "Bindings.h"

#include <datetime.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <stdexcept>

#include "core/Exceptions.h"
#include "core/FormatSettings.h"
#include "librarydb/RecordRules.h"
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
  if (PyLong_Check(o)) {
    int overflow = 0;
    const long long v = PyLong_AsLongLongAndOverflow(o, &overflow);
    if (overflow != 0) throw std::overflow_error(py::repr(value).cast<std::string>() + " does not fit into 64 bits");
    return Variant(v);
  }
  if (PyFloat_Check(o)) return Variant(PyFloat_AsDouble(o));
  if (PyUnicode_Check(o)) return Variant(Utf8(value));
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

std::string PathArg(const py::handle& path) {
  py::object fs = py::reinterpret_steal<py::object>(PyOS_FSPath(path.ptr()));
  if (!fs) throw py::error_already_set();
  if (PyUnicode_Check(fs.ptr())) fs = py::reinterpret_steal<py::object>(PyUnicode_EncodeFSDefault(fs.ptr()));
  if (!fs) throw py::error_already_set();
  char* data = nullptr;
  Py_ssize_t size = 0;
  if (PyBytes_AsStringAndSize(fs.ptr(), &data, &size) != 0) throw py::error_already_set();
  if (std::string_view(data, static_cast<std::size_t>(size)).find('\0') != std::string_view::npos)
    throw py::value_error("a path must not contain a NUL character");
  return std::string(data, static_cast<std::size_t>(size));
}

py::object PathObject(const std::string& path) {
  PyObject* text = PyUnicode_DecodeFSDefaultAndSize(path.data(), static_cast<Py_ssize_t>(path.size()));
  if (text == nullptr) throw py::error_already_set();
  return py::reinterpret_steal<py::object>(text);
}

void RaiseOSError(int error, const std::string& path) {
  PyObject* cls = error == ENOENT                      ? NoSuchFileErrorClass()
                  : error == EACCES || error == EPERM ? AccessDeniedErrorClass()
                                                       : InOutErrorClass();
  const py::object exception =
      py::reinterpret_borrow<py::object>(cls)(error, std::strerror(error), PathObject(path));
  PyErr_SetObject(cls, exception.ptr());
  throw py::error_already_set();
}

void CheckFile(const std::string& path, bool write) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) RaiseOSError(errno, path);
  if (S_ISDIR(st.st_mode)) RaiseOSError(EISDIR, path);
  if (::access(path.c_str(), write ? R_OK | W_OK : R_OK) != 0) RaiseOSError(errno, path);
}

void CheckFolder(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) RaiseOSError(errno, path);
  if (!S_ISDIR(st.st_mode)) RaiseOSError(ENOTDIR, path);
}

std::string Utf8(const py::handle& text) {
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(text.ptr(), &size);
  if (data == nullptr) throw py::error_already_set();  // a lone surrogate: UnicodeEncodeError, a ValueError
  return std::string(data, static_cast<std::size_t>(size));
}

namespace {

// pandas' markers of a missing value: NaT (a datetime that is no date) and NA.
bool IsMissingMarker(PyObject* o) {
  const std::string_view name = Py_TYPE(o)->tp_name;
  return name == "NaTType" || name == "NAType";
}

}  // namespace

void SetFieldValue(TRecordWriter& writer, int field, const py::handle& value, bool truncate) {
  PyObject* o = value.ptr();
  if (o == Py_None || IsMissingMarker(o)) return writer.Set(field, Variant::Null());
  if (PyBool_Check(o)) return writer.Set(field, Variant(o == Py_True));
  if (PyLong_Check(o)) {
    int overflow = 0;
    const long long v = PyLong_AsLongLongAndOverflow(o, &overflow);
    if (v == -1 && PyErr_Occurred()) throw py::error_already_set();
    if (overflow != 0) return writer.SetWholeNumber(field, py::str(value).cast<std::string>());
    return writer.Set(field, Variant(v));
  }
  if (PyFloat_Check(o)) {
    const double d = PyFloat_AsDouble(o);
    // NaN is how pandas writes "no value".
    return writer.Set(field, std::isnan(d) ? Variant::Null() : Variant(d));
  }
  if (PyUnicode_Check(o)) return writer.Set(field, Variant(Utf8(value)), truncate);
  // numpy scalars arrive as their Python values.
  if (PyObject_HasAttrString(o, "item") && PyObject_HasAttrString(o, "dtype"))
    return SetFieldValue(writer, field, value.attr("item")(), truncate);
  writer.Set(field, ToVariant(value), truncate);
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

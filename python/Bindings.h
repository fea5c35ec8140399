// The parts of the Python module veziru: each source registers its functions and classes on the module, and
// the helpers here turn library values into Python objects and back.
//
// Values: Null -> None, Boolean -> bool, integers -> int, floats -> float, text -> str, binary values and
// formatted memos -> bytes, dates -> datetime.date, times -> datetime.time, date-times -> datetime.datetime
// (to the millisecond). Text whose bytes are not valid UTF-8 keeps each such byte as the character of the same
// number, as the JSON of `vezi dump` does. A date outside the years 1..9999 stays the ISO text the library
// prints. Failures of the library arrive as veziru.Error and its subclasses, carrying the library's message.
#pragma once

#include <Python.h>
#include <pybind11/pybind11.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/Variant.h"
#include "librarydb/Absmain.h"

namespace vez::python {

namespace py = pybind11;

// How a column's values become Python objects.
enum class PyKind { Text, Bytes, Integer, Float, Boolean, Date, Time, DateTime };

PyKind PyKindOfField(TFieldType type);

// New references; nullptr with a Python error set on failure.
PyObject* TextObject(std::string_view bytes);
PyObject* DateTimeObject(double dateTime, PyKind kind);
PyObject* VariantObject(const Variant& value, PyKind kind);
// TextObject as an owned object.
py::object TextObjectOf(const std::string& text);

// A Python value as a library value (None, bool, int, float, str, bytes, date, time, datetime).
Variant ToVariant(const py::handle& value);

// The exception classes of the module.
PyObject* ErrorClass();
PyObject* InOutErrorClass();

// Raises veziru.InOutError when the path is not a regular file.
void CheckFile(const std::string& path);

// A library type from Python: a code (int) or a constant name (str); nullopt when there is no such type.
std::optional<std::int32_t> LibTypeArg(const py::handle& type);

// Imports pandas and makes a DataFrame of records (a list of dicts) with the given column order.
py::object DataFrame(const py::list& records, const py::list& columns);
// Whether numpy can be imported; then values become numpy arrays.
bool HaveNumpy();

void RegisterLibrary(py::module_& m);
void RegisterParadox(py::module_& m);
void RegisterConvert(py::module_& m);
void RegisterAcoustics(py::module_& m);
void RegisterSheet(py::module_& m);

}  // namespace vez::python

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
#include <exception>
#include <optional>
#include <string>
#include <string_view>

#include "core/Variant.h"
#include "librarydb/Absmain.h"
#include "librarydb/RecordRules.h"

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

// A str as UTF-8; a str that is no Unicode text (a lone surrogate) raises UnicodeEncodeError.
std::string Utf8(const py::handle& text);

// Sets a field of the record being written from a Python value, under the record rules every front end shares
// (librarydb/RecordRules.h): None, NaN (pandas' "no value"), NaT and NA store no value; bool, int, float, str,
// bytes, date, time, datetime and numpy scalars go to the rules as they are; an int beyond 64 bits is refused
// as out of range. Refusals are EFieldValueError, which the module raises as ValueError (OverflowError for a
// whole number out of range, veziru.ConvertError for a text that is no value of the field's kind).
void SetFieldValue(TRecordWriter& writer, int field, const py::handle& value, bool truncate);

// Sets the Python error of a library exception (veziru.Error and its kinds, ValueError, OverflowError) and
// answers true; false for other exceptions. The module's exception translator is this function.
bool SetLibraryError(std::exception_ptr error);
// Adds a note (Python 3.11's add_note) to the Python error that is set.
void AddNote(const std::string& note);

// The exception classes of the module.
PyObject* ErrorClass();
PyObject* InOutErrorClass();
// veziru.NoSuchFileError (also a FileNotFoundError) and veziru.AccessDeniedError (also a PermissionError),
// both veziru.InOutError.
PyObject* NoSuchFileErrorClass();
PyObject* AccessDeniedErrorClass();

// A path argument (str, bytes or os.PathLike) as the file system's bytes.
std::string PathArg(const py::handle& path);
// A path as str, bytes that are not UTF-8 as surrogate escapes (os.fsdecode).
py::object PathObject(const std::string& path);

// Raises the OSError of an errno for a path: NoSuchFileError for ENOENT, AccessDeniedError for EACCES and
// EPERM, InOutError otherwise; errno, strerror and filename are set as OSError sets them.
[[noreturn]] void RaiseOSError(int error, const std::string& path);
// Raises RaiseOSError's errors unless the path is a regular file that can be read (and, with write, written).
void CheckFile(const std::string& path, bool write = false);
// Raises RaiseOSError's errors unless the path is a folder.
void CheckFolder(const std::string& path);

// A library type from Python: a code (int) or a constant name (str); ValueError (the library's message) when
// there is no such type.
std::int32_t LibTypeArg(const py::handle& type);

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

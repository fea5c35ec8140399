// The Python module veziru: libraries, Paradox tables, the conversion and the acoustic routines of VEZiru0.
#include <string>

#include "Bindings.h"
#include "core/Exceptions.h"
#include "librarydb/RecordRules.h"
#include "core/Version.h"

namespace vez::python {

namespace {

PyObject* g_error = nullptr;
PyObject* g_databaseError = nullptr;
PyObject* g_convertError = nullptr;
PyObject* g_inOutError = nullptr;
PyObject* g_noSuchFileError = nullptr;
PyObject* g_accessDeniedError = nullptr;

PyObject* NewError(py::module_& m, const char* name, PyObject* bases, const char* doc) {
  const std::string full = std::string("veziru.") + name;
  PyObject* cls = PyErr_NewExceptionWithDoc(full.c_str(), doc, bases, nullptr);
  if (cls == nullptr) throw py::error_already_set();
  m.add_object(name, py::handle(cls));  // the module keeps a reference; the class lives as long as it
  return cls;
}

}  // namespace

PyObject* ErrorClass() { return g_error; }
PyObject* InOutErrorClass() { return g_inOutError; }
PyObject* NoSuchFileErrorClass() { return g_noSuchFileError; }
PyObject* AccessDeniedErrorClass() { return g_accessDeniedError; }

namespace {

// Sets the Python error with a message whose bytes need not be UTF-8 (they are decoded as the records are).
void SetError(PyObject* type, const char* message) {
  PyObject* text = TextObject(message);
  if (text == nullptr) return;
  PyErr_SetObject(type, text);
  Py_DECREF(text);
}

}  // namespace

bool SetLibraryError(std::exception_ptr p) {
  try {
    if (p) std::rethrow_exception(p);
  } catch (const vez::EFieldValueError& e) {
    const vez::TValueFault fault = e.Fault();
    SetError(fault == vez::TValueFault::NotConvertible ? g_convertError
             : fault == vez::TValueFault::OutOfRange  ? PyExc_OverflowError
                                                       : PyExc_ValueError,
             e.what());
    return true;
  } catch (const vez::EParameterError& e) {
    SetError(PyExc_ValueError, e.what());
    return true;
  } catch (const vez::EDatabaseError& e) {
    SetError(g_databaseError, e.what());
    return true;
  } catch (const vez::EConvertError& e) {
    SetError(g_convertError, e.what());
    return true;
  } catch (const vez::EInOutError& e) {
    SetError(g_inOutError, e.what());
    return true;
  } catch (const vez::Exception& e) {
    SetError(g_error, e.what());
    return true;
  } catch (...) {
  }
  return false;
}

void AddNote(const std::string& note) {
  PyObject *type = nullptr, *value = nullptr, *traceback = nullptr;
  PyErr_Fetch(&type, &value, &traceback);
  PyErr_NormalizeException(&type, &value, &traceback);
  if (value != nullptr) {
    PyObject* done = PyObject_CallMethod(value, "add_note", "s", note.c_str());
    if (done == nullptr) PyErr_Clear();  // an interpreter without notes: the error stays as it is
    Py_XDECREF(done);
  }
  PyErr_Restore(type, value, traceback);
}

}  // namespace vez::python

PYBIND11_MODULE(veziru, m) {
  using namespace vez::python;
  m.doc() =
      "VEZiru0 from Python: acoustic and meteorological libraries, Paradox tables, the conversion of old "
      "libraries, frequency bands, weighting, level arithmetic and the TNM emission model.";
  g_error = NewError(m, "Error", PyExc_Exception, "A failure of the library; str(e) is its message.");
  g_databaseError = NewError(m, "DatabaseError", g_error, "A failure of the table engine.");
  g_convertError = NewError(m, "ConvertError", g_error, "A value that cannot be converted to its field's type.");
  {
    py::tuple bases = py::make_tuple(py::handle(g_error), py::handle(PyExc_OSError));
    g_inOutError = NewError(m, "InOutError", bases.ptr(), "A file that cannot be found, read or written.");
  }
  {
    py::tuple bases = py::make_tuple(py::handle(g_inOutError), py::handle(PyExc_FileNotFoundError));
    g_noSuchFileError = NewError(m, "NoSuchFileError", bases.ptr(), "A file or folder that does not exist.");
  }
  {
    py::tuple bases = py::make_tuple(py::handle(g_inOutError), py::handle(PyExc_PermissionError));
    g_accessDeniedError = NewError(m, "AccessDeniedError", bases.ptr(), "A file that may not be read or written.");
  }
  py::register_exception_translator([](std::exception_ptr p) {
    if (!SetLibraryError(p) && p) std::rethrow_exception(p);
  });
  m.attr("__version__") = vez::kVersionString;
  RegisterLibrary(m);
  RegisterParadox(m);
  RegisterConvert(m);
  RegisterAcoustics(m);
  RegisterSheet(m);
}

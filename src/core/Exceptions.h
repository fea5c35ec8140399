// The exception classes of the library.
//
// Operations that cannot continue throw vez::Exception (or a class derived from it) carrying the exact message
// text the user sees. Queries and predicates never throw; they answer False, 0, -1 or an error code.
#pragma once

#include <stdexcept>
#include <string>

namespace vez {

// The general exception class: a message text and nothing else.
class Exception : public std::runtime_error {
public:
  explicit Exception(const std::string& message) : std::runtime_error(message) {}
  // The message text, exactly as given.
  std::string Message() const { return what(); }
};

// A failure of the table engine: a file that is not a library, a lock, a key violation, an unknown field.
class EDatabaseError : public Exception {
public:
  using Exception::Exception;
};

// A value that cannot be converted: text to number or date, a variant into another type.
class EConvertError : public Exception {
public:
  using Exception::Exception;
};

// A failing file operation (open, read, write, delete).
class EInOutError : public Exception {
public:
  using Exception::Exception;
};

// Arithmetic failures of the numerical routines.
class EMathError : public Exception {
public:
  using Exception::Exception;
};

class EZeroDivide : public EMathError {
public:
  using EMathError::EMathError;
};

class EOverflow : public EMathError {
public:
  using EMathError::EMathError;
};

// A parameter a person gave that is out of its range or names nothing known (a speed of 400 km/h, a weighting
// "E"): the front ends answer it as a wrong request (Python's ValueError, HTTP 400).
class EParameterError : public Exception {
public:
  using Exception::Exception;
};

// A file to be written exists and was not to be replaced: each front end says how to replace it (`--overwrite`,
// the browser's "Replace" question, HTTP 409).
class EFileExists : public Exception {
public:
  using Exception::Exception;
};

// An index outside the bounds of a list or array.
class EListError : public Exception {
public:
  using Exception::Exception;
};

}  // namespace vez

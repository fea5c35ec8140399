// Libraries from Python: open and create, fields and indexes, records as dicts, pandas, and changes inside
// transactions.
//
// Reading: we read a library's table with one SQLite statement of our own, on a read-only connection, in
// chunks of rows in key order. Each chunk is read into a C++ buffer with the interpreter lock released, then
// turned into dicts; between chunks no lock on the file is held (the next chunk starts after the last key), as
// with the engine's own cursor. While a transaction of the library object is open, reading goes through the
// engine's cursor instead, so that the records changed inside it are seen.
//
// Changes: append, edit and delete go through the engine (new records receive the defaults of their library
// type first). Each is on disk when it returns, unless a transaction groups them: `with lib.transaction():`
// commits when the block ends normally and rolls back when an exception leaves it.
#include <pybind11/stl.h>
#include <sqlite3.h>

#include <atomic>
#include <limits>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "Bindings.h"
#include "core/CaseFold.h"
#include "core/Exceptions.h"
#include "core/FormatSettings.h"
#include "librarydb/Defaults.h"
#include "librarydb/Layouts.h"
#include "librarydb/OVLibConst.h"
#include "output/ValueText.h"

namespace vez::python {

namespace {

namespace fs = std::filesystem;

constexpr int kChunkRows = 2048;

py::handle g_fieldType;  // collections.namedtuple Field, owned by the module
py::handle g_indexType;  // collections.namedtuple Index

struct SqliteCloser {
  void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
struct StatementFinalizer {
  void operator()(sqlite3_stmt* stmt) const { sqlite3_finalize(stmt); }
};

std::string QuoteName(std::string_view name) {
  std::string out = "\"";
  for (char c : name) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

// One column value as read by SQLite: its storage class and value; text and BLOB bytes sit in the chunk's
// arena.
struct Cell {
  int storage = SQLITE_NULL;
  std::int64_t integer = 0;
  double real = 0;
  std::size_t offset = 0;
  std::size_t length = 0;
};

struct Chunk {
  std::vector<Cell> cells;  // rows * columns
  std::string arena;
  int rows = 0;
  std::int64_t lastKey = 0;
};

struct Column {
  std::string name;
  std::string type;
  std::int32_t size = 0;
  bool required = false;
  TFieldType fieldType = ftUnknown;
  PyKind kind = PyKind::Text;
};

std::atomic<int> g_aliasCounter{0};

class Library {
public:
  Library(const std::string& path, bool readOnly) : path_(path), readOnly_(readOnly) {
    CheckFile(path);
    const std::string alias = "veziru_py_" + std::to_string(++g_aliasCounter);
    database_.SetDatabaseName(alias);
    database_.SetDatabaseFileName(path);
    database_.SetReadOnly(readOnly);
    const std::string fileName = fs::path(path).filename().string();
    for (const std::string& name : database_.GetTablesList())
      if (SameText(name, fileName)) tableName_ = name;
    if (tableName_.empty()) throw EDatabaseError("'" + path + "' holds no table named '" + fileName + "'");
    table_.SetDatabaseName(alias);
    table_.SetTableName(tableName_);
    table_.SetReadOnly(readOnly);
    table_.Open();
    const bool advanced = table_.AdvFieldDefs().Count() > 0;
    for (int i = 0; i < table_.FieldCount(); ++i) {
      const TField& f = table_.Fields(i);
      Column c;
      c.name = f.FieldName();
      c.size = f.Size();
      c.required = f.Required();
      c.fieldType = f.DataType();
      c.kind = PyKindOfField(f.DataType());
      const int adv = advanced ? table_.AdvFieldDefs().IndexOf(f.FieldName()) : -1;
      c.type = adv >= 0 ? EngineTypeLabel(table_.AdvFieldDefs()[adv].DataType) : FieldTypeName(f.DataType());
      columns_.push_back(std::move(c));
    }
    for (const Column& c : columns_) {
      PyObject* key = TextObject(c.name);
      if (key == nullptr) throw py::error_already_set();
      PyUnicode_InternInPlace(&key);
      interned_.push_back(py::reinterpret_steal<py::object>(key));
    }
    libType_ = GetLibType(ExtractFileName(path));
  }

  ~Library() { Close(); }

  void Close() noexcept {
    std::lock_guard<std::mutex> lock(mutex_);
    statement_.reset();
    raw_.reset();
    try {
      if (database_.InTransaction()) database_.Rollback();
      table_.Close();
      database_.Close();
    } catch (...) {
      // Closing never loses data here: posted records are on disk, an open transaction is rolled back.
    }
    closed_ = true;
  }

  void CheckOpen() const {
    if (closed_) throw Exception("the library '" + path_ + "' is closed");
  }

  const std::string& Path() const { return path_; }
  std::int32_t LibType() const { return libType_; }
  const std::vector<Column>& Columns() const { return columns_; }
  TABSTable& Table() {
    CheckOpen();
    return table_;
  }
  TABSDatabase& Database() {
    CheckOpen();
    return database_;
  }
  bool ReadOnly() const { return readOnly_; }

  py::list Fields() const {
    py::list out;
    for (const Column& c : columns_) out.append(py::handle(g_fieldType)(c.name, c.type, c.size, c.required));
    return out;
  }

  py::list Indexes() const {
    py::list out;
    const TIndexDefs& defs = table_.IndexDefs();
    for (int i = 0; i < defs.Count(); ++i) {
      py::list fields;
      for (const std::string& f : SplitFields(defs[i].Fields)) fields.append(py::str(f));
      py::list words;
      const std::string text = IndexOptionsText(defs[i].Options);
      if (text != "none")
        for (const std::string& w : SplitFields(text, ',')) words.append(py::str(w));
      out.append(py::handle(g_indexType)(defs[i].Name, py::tuple(fields), py::tuple(words)));
    }
    return out;
  }

  std::int32_t Count() {
    CheckOpen();
    return table_.RecordCount();
  }

  // The fast reader is usable: no transaction of ours is open, and our own connection opened.
  bool FastPath() {
    CheckOpen();
    if (database_.InTransaction()) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    if (statement_) return true;
    if (fastFailed_) return false;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path_.c_str(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK) {
      sqlite3_close_v2(db);
      fastFailed_ = true;
      return false;
    }
    raw_.reset(db);
    sqlite3_busy_timeout(db, 5000);
    // The row key under a name no field has.
    std::string key;
    for (const char* candidate : {"rowid", "_rowid_", "oid"}) {
      bool taken = false;
      for (const Column& c : columns_) taken = taken || SameText(c.name, candidate);
      if (!taken) {
        key = candidate;
        break;
      }
    }
    std::string sql = "SELECT " + key;
    for (const Column& c : columns_) sql += ", " + QuoteName(c.name);
    sql += " FROM " + QuoteName(tableName_) + " WHERE " + key + " > ?1 ORDER BY " + key + " LIMIT ?2";
    sqlite3_stmt* stmt = nullptr;
    if (key.empty() || sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
      sqlite3_finalize(stmt);
      raw_.reset();
      fastFailed_ = true;
      return false;
    }
    statement_.reset(stmt);
    return true;
  }

  // Reads up to kChunkRows rows after the key into the chunk; runs without the interpreter lock.
  void ReadChunk(std::int64_t afterKey, Chunk& chunk) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!statement_) throw Exception("the library '" + path_ + "' is closed");
    sqlite3_stmt* stmt = statement_.get();
    const int columns = static_cast<int>(columns_.size());
    chunk.cells.clear();
    chunk.arena.clear();
    chunk.rows = 0;
    sqlite3_bind_int64(stmt, 1, afterKey);
    sqlite3_bind_int(stmt, 2, kChunkRows);
    int rc = SQLITE_OK;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
      chunk.lastKey = sqlite3_column_int64(stmt, 0);
      for (int i = 1; i <= columns; ++i) {
        Cell cell;
        cell.storage = sqlite3_column_type(stmt, i);
        switch (cell.storage) {
          case SQLITE_INTEGER: cell.integer = sqlite3_column_int64(stmt, i); break;
          case SQLITE_FLOAT: cell.real = sqlite3_column_double(stmt, i); break;
          case SQLITE_TEXT:
          case SQLITE_BLOB: {
            const void* data = cell.storage == SQLITE_TEXT ? static_cast<const void*>(sqlite3_column_text(stmt, i))
                                                           : sqlite3_column_blob(stmt, i);
            cell.length = static_cast<std::size_t>(sqlite3_column_bytes(stmt, i));
            cell.offset = chunk.arena.size();
            if (cell.length > 0) chunk.arena.append(static_cast<const char*>(data), cell.length);
            break;
          }
          default: break;
        }
        chunk.cells.push_back(cell);
      }
      ++chunk.rows;
    }
    const std::string message = rc == SQLITE_DONE ? std::string() : sqlite3_errmsg(raw_.get());
    sqlite3_reset(stmt);
    if (rc != SQLITE_DONE) throw EDatabaseError("Cannot read \"" + path_ + "\": " + message);
  }

  // A dict per row of the chunk, appended to `out`.
  void AppendRecords(const Chunk& chunk, py::list& out) const {
    const std::size_t columns = columns_.size();
    for (int r = 0; r < chunk.rows; ++r) {
      py::object record = py::reinterpret_steal<py::object>(PyDict_New());
      if (!record) throw py::error_already_set();
      for (std::size_t i = 0; i < columns; ++i) {
        PyObject* value = CellObject(chunk.cells[static_cast<std::size_t>(r) * columns + i], chunk.arena, columns_[i].kind);
        if (value == nullptr) throw py::error_already_set();
        const int failed = PyDict_SetItem(record.ptr(), interned_[i].ptr(), value);
        Py_DECREF(value);
        if (failed != 0) throw py::error_already_set();
      }
      if (PyList_Append(out.ptr(), record.ptr()) != 0) throw py::error_already_set();
    }
  }

  // Every record through the engine's cursor (used inside a transaction).
  py::list EngineRecords() {
    CheckOpen();
    py::list out;
    TABSTable& t = table_;
    for (t.First(); !t.Eof(); t.Next()) {
      py::dict record;
      for (std::size_t i = 0; i < columns_.size(); ++i) {
        PyObject* value = VariantObject(t.Fields(static_cast<int>(i)).Value(), columns_[i].kind);
        if (value == nullptr) throw py::error_already_set();
        PyDict_SetItem(record.ptr(), interned_[i].ptr(), value);
        Py_DECREF(value);
      }
      out.append(record);
    }
    return out;
  }

  py::list Records() {
    if (!FastPath()) return EngineRecords();
    py::list out;
    Chunk chunk;
    std::int64_t after = std::numeric_limits<std::int64_t>::min();
    for (;;) {
      {
        py::gil_scoped_release release;
        ReadChunk(after, chunk);
      }
      AppendRecords(chunk, out);
      if (chunk.rows < kChunkRows) break;
      after = chunk.lastKey;
    }
    return out;
  }

  py::list Names() const {
    py::list out;
    for (const py::object& key : interned_) out.append(key);
    return out;
  }

  // Moves the engine's cursor onto the record at a position (0-based, iteration order).
  void MoveTo(std::int64_t position) {
    TABSTable& t = Table();
    const std::int32_t count = t.RecordCount();
    if (position < 0) position += count;
    if (position < 0 || position >= count)
      throw py::index_error("record position " + std::to_string(position) + " is outside 0.." +
                            std::to_string(count - 1));
    t.First();
    for (std::int64_t i = 0; i < position && !t.Eof(); ++i) t.Next();
  }

  void SetValues(const py::dict& values) {
    TABSTable& t = Table();
    for (const auto& [key, value] : values) {
      const std::string name = py::str(key);
      t.FieldByName(name).SetValue(ToVariant(value));
    }
  }

  // Posts the record being edited; a failure drops the change and reaches the caller.
  template <typename Fn>
  void Change(Fn&& fill) {
    TABSTable& t = Table();
    try {
      fill();
      t.Post();
    } catch (...) {
      if (t.State() == TDataSetState::dsInsert || t.State() == TDataSetState::dsEdit) t.Cancel();
      throw;
    }
  }

  void Append(const py::dict& values) {
    Change([&] {
      TABSTable& t = Table();
      t.Append();
      if (libType_ >= 0 && HasNewRecordDefaults(libType_)) OnNewRecord(t, libType_, false);
      SetValues(values);
    });
  }

  void Edit(std::int64_t position, const py::dict& values) {
    MoveTo(position);
    Change([&] {
      Table().Edit();
      SetValues(values);
    });
  }

  void Delete(std::int64_t position) {
    MoveTo(position);
    Table().Delete();
  }

private:
  static std::vector<std::string> SplitFields(const std::string& text, char separator = ';') {
    std::vector<std::string> out;
    std::size_t start = 0;
    for (;;) {
      const std::size_t end = text.find(separator, start);
      out.push_back(Trim(text.substr(start, end == std::string::npos ? std::string::npos : end - start)));
      if (end == std::string::npos) return out;
      start = end + 1;
    }
  }

  static PyObject* CellObject(const Cell& cell, const std::string& arena, PyKind kind) {
    switch (cell.storage) {
      case SQLITE_NULL: Py_RETURN_NONE;
      case SQLITE_INTEGER:
        if (kind == PyKind::Boolean) return PyBool_FromLong(cell.integer != 0 ? 1 : 0);
        if (kind == PyKind::Float) return PyFloat_FromDouble(static_cast<double>(cell.integer));
        return PyLong_FromLongLong(cell.integer);
      case SQLITE_FLOAT:
        if (kind == PyKind::Integer) return PyLong_FromLongLong(static_cast<long long>(cell.real));
        return PyFloat_FromDouble(cell.real);
      default: break;
    }
    const std::string_view bytes(arena.data() + cell.offset, cell.length);
    if (kind == PyKind::Bytes) return PyBytes_FromStringAndSize(bytes.data(), static_cast<Py_ssize_t>(bytes.size()));
    if (kind == PyKind::Date || kind == PyKind::Time || kind == PyKind::DateTime) {
      double dateTime = 0;
      if (TryISOToDateTime(bytes, dateTime)) return DateTimeObject(dateTime, kind);
    }
    if (cell.storage == SQLITE_TEXT)
      return PyUnicode_DecodeUTF8(bytes.data(), static_cast<Py_ssize_t>(bytes.size()), "replace");
    return TextObject(bytes);
  }

  std::string path_;
  bool readOnly_;
  bool closed_ = false;
  TABSDatabase database_;
  TABSTable table_;
  std::string tableName_;
  std::int32_t libType_ = -1;
  std::vector<Column> columns_;
  std::vector<py::object> interned_;
  std::mutex mutex_;
  std::unique_ptr<sqlite3, SqliteCloser> raw_;
  std::unique_ptr<sqlite3_stmt, StatementFinalizer> statement_;
  bool fastFailed_ = false;
};

// Iteration over the records: chunk by chunk through the fast reader, or over the engine's records.
class RecordIterator {
public:
  explicit RecordIterator(Library& lib, py::object owner) : lib_(lib), owner_(std::move(owner)) {
    if (!lib_.FastPath()) {
      buffered_ = lib_.EngineRecords();
      done_ = true;
    }
  }

  py::object Next() {
    if (index_ >= static_cast<std::size_t>(py::len(buffered_))) {
      if (done_) throw py::stop_iteration();
      lib_.CheckOpen();
      {
        py::gil_scoped_release release;
        lib_.ReadChunk(after_, chunk_);
      }
      buffered_ = py::list();
      lib_.AppendRecords(chunk_, buffered_);
      index_ = 0;
      after_ = chunk_.lastKey;
      done_ = chunk_.rows < kChunkRows;
      if (chunk_.rows == 0) throw py::stop_iteration();
    }
    return buffered_[index_++];
  }

private:
  Library& lib_;
  py::object owner_;  // keeps the library alive
  Chunk chunk_;
  py::list buffered_;
  std::size_t index_ = 0;
  std::int64_t after_ = std::numeric_limits<std::int64_t>::min();
  bool done_ = false;
};

class Transaction {
public:
  explicit Transaction(Library& lib, py::object owner) : lib_(lib), owner_(std::move(owner)) {}
  void Enter() { lib_.Database().StartTransaction(); }
  bool Exit(const py::object& type, const py::object&, const py::object&) {
    TABSDatabase& db = lib_.Database();
    if (!db.InTransaction()) return false;
    if (type.is_none()) {
      try {
        db.Commit();
      } catch (...) {
        if (db.InTransaction()) db.Rollback();
        throw;
      }
    } else {
      db.Rollback();
    }
    return false;  // an exception passes on
  }

private:
  Library& lib_;
  py::object owner_;
};

std::string CreateLibraryFile(const py::handle& typeArg, const std::string& folder, bool withDefaults) {
  const std::optional<std::int32_t> code = LibTypeArg(typeArg);
  if (!code) {
    throw py::value_error("unknown library type '" + py::str(typeArg).cast<std::string>() +
                          "' (give a code 0 to 103 or a constant name such as ltEmis)");
  }
  return vez::CreateLibraryFile(*code, folder, withDefaults);
}

py::object LibTypeOf(const std::string& name) {
  const std::string bare = ExtractFileName(name);
  std::int32_t code = GetLibType(bare);
  if (code < 0) {
    // An old Paradox name answers the type of the library it is converted to.
    static const std::pair<const char*, const char*> kMap[] = {
        {".run", ".runx"}, {".sdb", ".sdbx"}, {".db", ".abs"}, {".tdb", ".tabs"}};
    for (const auto& [from, to] : kMap)
      if (SameText(ExtractFileExt(bare), from)) code = GetLibType(ChangeFileExt(bare, to));
  }
  if (code < 0) return py::none();
  return py::int_(code);
}

}  // namespace

// A library type from Python: a code (int) or a constant name (str).
std::optional<std::int32_t> LibTypeArg(const py::handle& type) {
  if (PyLong_Check(type.ptr()) && !PyBool_Check(type.ptr())) {
    const long long code = type.cast<long long>();
    if (code >= 0 && code < kLibTypeCount && LibTypeConstantName(static_cast<std::int32_t>(code)) != nullptr)
      return static_cast<std::int32_t>(code);
    return std::nullopt;
  }
  if (!PyUnicode_Check(type.ptr())) throw py::type_error("a library type is a code (int) or a constant name (str)");
  return ParseLibType(type.cast<std::string>());
}

void RegisterLibrary(py::module_& m) {
  py::object namedtuple = py::module_::import("collections").attr("namedtuple");
  py::object field = namedtuple("Field", py::make_tuple("name", "type", "size", "required"), py::arg("module") = "veziru");
  py::object index = namedtuple("Index", py::make_tuple("name", "fields", "options"), py::arg("module") = "veziru");
  m.attr("Field") = field;
  m.attr("Index") = index;
  g_fieldType = field;
  g_indexType = index;

  py::class_<RecordIterator>(m, "RecordIterator")
      .def("__iter__", [](py::object self) { return self; })
      .def("__next__", &RecordIterator::Next);

  py::class_<Transaction>(m, "Transaction", "A transaction of a library, as a context manager.")
      .def("__enter__", [](py::object self) {
        self.cast<Transaction&>().Enter();
        return self;
      })
      .def("__exit__", &Transaction::Exit);

  py::class_<Library>(m, "Library", "A library file: one table of records.")
      .def_property_readonly("path", &Library::Path, "The file.")
      .def_property_readonly("type", [](const Library& l) -> py::object {
        return l.LibType() < 0 ? py::object(py::none()) : py::object(py::int_(l.LibType()));
      }, "The library type code of the file name, None when the name is no library's.")
      .def_property_readonly("type_name", [](const Library& l) -> py::object {
        const char* name = l.LibType() < 0 ? nullptr : LibTypeConstantName(l.LibType());
        return name ? py::object(py::str(name)) : py::object(py::none());
      }, "The constant name of the library type (\"ltEmis\"), None when the name is no library's.")
      .def_property_readonly("fields", &Library::Fields, "Field(name, type, size, required) of every field.")
      .def_property_readonly("indexes", &Library::Indexes, "Index(name, fields, options) of every index.")
      .def_property_readonly("read_only", &Library::ReadOnly)
      .def("__len__", &Library::Count)
      .def("__iter__", [](py::object self) { return RecordIterator(self.cast<Library&>(), self); },
           "The records as dicts, in the order they were added.")
      .def("to_records", &Library::Records, "Every record as a dict, in a list.")
      .def("to_pandas", [](Library& l) { return DataFrame(l.Records(), l.Names()); },
           "The records as a pandas DataFrame (needs pandas).")
      .def("transaction", [](py::object self) { return Transaction(self.cast<Library&>(), self); },
           "with lib.transaction(): commits at the end of the block, rolls back when an exception leaves it.")
      .def("append", &Library::Append, py::arg("values") = py::dict(),
           "Adds a record: the defaults of the library type, then the given field values.")
      .def("edit", &Library::Edit, py::arg("position"), py::arg("values"),
           "Changes fields of the record at a position (0-based, iteration order).")
      .def("delete", &Library::Delete, py::arg("position"), "Deletes the record at a position.")
      .def("close", &Library::Close, "Closes the file; an open transaction is rolled back.")
      .def("__enter__", [](py::object self) { return self; })
      .def("__exit__", [](Library& l, const py::object&, const py::object&, const py::object&) {
        l.Close();
        return false;
      })
      .def("__repr__", [](const Library& l) {
        return "<veziru.Library '" + l.Path() + "', " + std::to_string(l.Columns().size()) + " fields>";
      });

  m.def("open_library", [](const std::string& path, bool readOnly) { return std::make_unique<Library>(path, readOnly); },
        py::arg("path"), py::arg("read_only") = false, "Opens a library file.");
  m.def("create_library", [](const py::handle& type, const std::string& folder, bool withDefaults) {
        return std::make_unique<Library>(CreateLibraryFile(type, folder, withDefaults), false);
      }, py::arg("type"), py::arg("folder"), py::arg("with_defaults") = false,
      "Creates an empty library of a type (code or constant name such as \"ltEmis\") with its layout in an\n"
      "existing folder, under the type's file name; with_defaults adds one record of the new-record defaults.\n"
      "An existing file is never replaced.");
  m.def("lib_type", &LibTypeOf, py::arg("name"),
        "The library type code of a file name (an old Paradox name gives the type it is converted to), or None.");
  m.def("lib_type_name", [](std::int32_t code) -> py::object {
        const char* name = LibTypeConstantName(code);
        return name ? py::object(py::str(name)) : py::object(py::none());
      }, py::arg("code"), "The constant name of a library type code (\"ltEmis\" for 0), or None.");
  m.def("lib_name", [](std::int32_t code) -> py::object {
        const std::string name = LibName(code);
        return name.empty() ? py::object(py::none()) : py::object(py::str(name));
      }, py::arg("code"), "The file name (or pattern) of a library type, or None.");
}

}  // namespace vez::python

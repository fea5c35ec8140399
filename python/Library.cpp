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
#include <pybind11/numpy.h>
#include <pybind11/stl.h>
#include <sqlite3.h>

#include <atomic>
#include <limits>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "Bindings.h"
#include "core/CaseFold.h"
#include "core/Exceptions.h"
#include "core/FormatSettings.h"
#include "librarydb/Defaults.h"
#include "librarydb/Layouts.h"
#include "librarydb/LibraryFile.h"
#include "librarydb/OVLibConst.h"
#include "librarydb/RecordRules.h"
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

// Milliseconds since 1970 of a date-time (days since 30 December 1899), and the span pandas' datetime64[ns]
// holds (1677-09-22 to 2262-04-11, with a margin).
constexpr double kUnixEpochDays = 25569.0;
constexpr std::int64_t kPandasLimitMs = 9'200'000'000'000'000 / 1'000'000;

// One column of a DataFrame, filled cell by cell.
struct ColumnBuilder {
  PyKind kind = PyKind::Text;
  std::vector<double> reals;         // Float, Integer with a missing value
  std::vector<std::int64_t> whole;   // Integer, DateTime (ms), Boolean (0/1)
  std::vector<PyObject*> objects;    // owned references: Text, Bytes, Date, Time, and fallbacks
  std::size_t rows = 0;
  bool missing = false;              // a NULL was seen
  bool asObjects = false;            // the values are kept as objects from now on
  std::unordered_map<std::string, PyObject*> texts;  // borrowed from `objects`: equal texts share one str

  ColumnBuilder() = default;
  ColumnBuilder(const ColumnBuilder&) = delete;
  ColumnBuilder& operator=(const ColumnBuilder&) = delete;
  ColumnBuilder(ColumnBuilder&& other) noexcept { *this = std::move(other); }
  ColumnBuilder& operator=(ColumnBuilder&& other) noexcept {
    Release();
    kind = other.kind;
    reals = std::move(other.reals);
    nulls = std::move(other.nulls);
    whole = std::move(other.whole);
    objects = std::move(other.objects);
    rows = other.rows;
    missing = other.missing;
    asObjects = other.asObjects;
    texts = std::move(other.texts);
    other.objects.clear();
    return *this;
  }
  ~ColumnBuilder() { Release(); }
  void Release() {
    for (PyObject* o : objects) Py_XDECREF(o);
    objects.clear();
  }

  bool Numeric() const {
    return !asObjects && (kind == PyKind::Integer || kind == PyKind::Float || kind == PyKind::Boolean ||
                          kind == PyKind::DateTime);
  }
  // Takes one cell; a value the column's array cannot hold turns the column into objects.
  void Add(const Cell& cell, const std::string& arena);
  // The column's values as a numpy array; the builder is empty afterwards.
  py::object Array();

private:
  bool Null(std::size_t row) const;
  void SwitchToObjects();
  std::vector<bool> nulls;  // per row, as far as a NULL was seen
};

constexpr std::size_t kSharedTexts = 4096;

PyObject* CellObject(const Cell& cell, const std::string& arena, PyKind kind);

class Library {
public:
  // The file is found whatever the letter case of the name; a library copied to another name opens its one table.
  Library(const std::string& path, bool readOnly) : path_(ResolveFileName(path)), readOnly_(readOnly) {
    CheckFile(path_, !readOnly);
    const std::string alias = "veziru_py_" + std::to_string(++g_aliasCounter);
    database_.SetDatabaseName(alias);
    database_.SetDatabaseFileName(path_);
    database_.SetReadOnly(readOnly);
    table_.SetDatabaseName(alias);
    table_.SetTableName(fs::path(path_).filename().string());
    table_.SetReadOnly(readOnly);
    table_.Open();
    tableName_ = table_.TableNameInFile();
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
    libType_ = LibTypeOfFile(path_);  // the name's, else the type the file records
    if (libType_ < 0) libType_ = GetLibType(tableName_);  // a copy under a name of the user's
  }

  ~Library() { Close(); }

  void Close() noexcept {
    std::lock_guard<std::mutex> lock(mutex_);
    writer_.reset();
    statement_.reset();
    rangeStatement_.reset();
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
    for (std::size_t i = 0; i < columns_.size(); ++i) {
      const Column& c = columns_[i];
      out.append(py::handle(g_fieldType)(interned_[i], c.type, c.size, c.required));
    }
    return out;
  }

  py::list Indexes() const {
    py::list out;
    const TIndexDefs& defs = table_.IndexDefs();
    for (int i = 0; i < defs.Count(); ++i) {
      py::list fields;
      for (const std::string& f : SplitFields(defs[i].Fields)) fields.append(TextObjectOf(f));
      py::list words;
      const std::string text = IndexOptionsText(defs[i].Options);
      if (text != "none")
        for (const std::string& w : SplitFields(text, ',')) words.append(py::str(w));
      out.append(py::handle(g_indexType)(TextObjectOf(defs[i].Name), py::tuple(fields), py::tuple(words)));
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
    key_ = key;
    selectSql_ = "SELECT " + key;
    for (const Column& c : columns_) selectSql_ += ", " + QuoteName(c.name);
    selectSql_ += " FROM " + QuoteName(tableName_);
    const std::string sql = selectSql_ + " WHERE " + key + " > ?1 ORDER BY " + key + " LIMIT ?2";
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
    sqlite3_bind_int64(statement_.get(), 1, afterKey);
    sqlite3_bind_int(statement_.get(), 2, kChunkRows);
    Step(statement_.get(), chunk);
  }

  // Runs a bound statement (first column the row key, then the fields) into the chunk and resets it.
  void Step(sqlite3_stmt* stmt, Chunk& chunk) {
    const int columns = static_cast<int>(columns_.size());
    chunk.cells.clear();
    chunk.arena.clear();
    chunk.rows = 0;
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

  // Reads `count` rows from the row key `firstKey` on (key order) into the chunk; runs without the interpreter
  // lock.
  void ReadRange(std::int64_t firstKey, std::int64_t count, Chunk& chunk) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!rangeStatement_) {
      const std::string sql = selectSql_ + " WHERE " + key_ + " >= ?2 ORDER BY " + key_ + " LIMIT ?1";
      sqlite3_stmt* stmt = nullptr;
      if (sqlite3_prepare_v2(raw_.get(), sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
        sqlite3_finalize(stmt);
        throw EDatabaseError("Cannot read \"" + path_ + "\": " + sqlite3_errmsg(raw_.get()));
      }
      rangeStatement_.reset(stmt);
    }
    sqlite3_bind_int64(rangeStatement_.get(), 1, count);
    sqlite3_bind_int64(rangeStatement_.get(), 2, firstKey);
    Step(rangeStatement_.get(), chunk);
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

  // The records as a pandas DataFrame, built column by column: whole numbers as int64 (float64 with NaN when a
  // value is missing), numbers as float64, Booleans as bool (objects with None when a value is missing),
  // date-times as datetime64 (objects when one lies outside pandas' range), everything else as objects. Equal
  // texts of a column share one str object. Inside a transaction the engine's records are used instead.
  py::object Frame() {
    py::object pandas = py::module_::import("pandas");
    if (!FastPath()) return DataFrame(EngineRecords(), Names());
    const std::size_t columns = columns_.size();
    std::vector<ColumnBuilder> builders(columns);
    for (std::size_t i = 0; i < columns; ++i) builders[i].kind = columns_[i].kind;
    Chunk chunk;
    std::int64_t after = std::numeric_limits<std::int64_t>::min();
    for (;;) {
      {
        py::gil_scoped_release release;
        ReadChunk(after, chunk);
      }
      for (int r = 0; r < chunk.rows; ++r)
        for (std::size_t i = 0; i < columns; ++i)
          builders[i].Add(chunk.cells[static_cast<std::size_t>(r) * columns + i], chunk.arena);
      if (chunk.rows < kChunkRows) break;
      after = chunk.lastKey;
    }
    py::dict data;
    for (std::size_t i = 0; i < columns; ++i) {
      data[interned_[i]] = builders[i].Array();
      builders[i] = ColumnBuilder();  // its memory goes before the next column's array is made
    }
    return pandas.attr("DataFrame")(data, py::arg("columns") = Names(), py::arg("copy") = false);
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
    t.MoveBy(static_cast<std::int32_t>(position));  // found on the index, without reading the records between
  }

  // The writer of records under the record rules, bound to the open table on first use.
  TRecordWriter& Writer() {
    if (!writer_) writer_ = std::make_unique<TRecordWriter>(Table(), libType_);
    return *writer_;
  }

  void SetValues(const py::dict& values, bool truncate) {
    TRecordWriter& w = Writer();
    for (const auto& [key, value] : values) {
      if (!PyUnicode_Check(key.ptr()))
        throw py::type_error("field names are str, not " + std::string(Py_TYPE(key.ptr())->tp_name));
      SetFieldValue(w, w.FieldIndex(Utf8(key)), value, truncate);
    }
  }

  // Sets the values of the record being written and posts it; a failure drops the change and reaches the
  // caller.
  void Store(const py::dict& values, bool truncate) {
    TRecordWriter& w = Writer();
    try {
      SetValues(values, truncate);
    } catch (...) {
      w.Cancel();
      throw;
    }
    w.Post(Now());
  }

  // The new record's number ("Eintrag"), or its position in a library without numbers.
  py::int_ Append(const py::dict& values, bool truncate) {
    TRecordWriter& w = Writer();
    w.Append(Now());
    Store(values, truncate);
    if (w.Number()) return py::int_(*w.Number());
    return py::int_(Count() - 1);
  }

  // The rows of a pandas DataFrame (or any object with `columns` and `itertuples`) as new records in one
  // transaction under the record rules: all are stored or none. The numbers of the new records, in order.
  py::list AppendFrame(const py::object& frame, bool truncate) {
    if (!py::hasattr(frame, "columns") || !py::hasattr(frame, "itertuples"))
      throw py::type_error("append_frame takes a pandas DataFrame, not " + std::string(Py_TYPE(frame.ptr())->tp_name));
    TRecordWriter& w = Writer();
    std::vector<int> fields;
    for (const py::handle column : frame.attr("columns")) {
      if (!PyUnicode_Check(column.ptr()))
        throw py::type_error("the columns of the frame are field names (str), not " + py::repr(column).cast<std::string>());
      fields.push_back(w.FieldIndex(Utf8(column)));
    }
    TABSDatabase& db = Database();
    const bool own = !db.InTransaction();
    if (own) db.StartTransaction();
    py::list numbers;
    std::int64_t row = 0;
    // Inside the caller's transaction the rows before the refused one stay in it, for the caller to commit or
    // roll back.
    const auto note = [&] {
      AddNote("in the frame's row at position " + std::to_string(row) +
              (own ? "; nothing of the frame was stored"
                   : "; the rows before it are in the open transaction, which decides whether they are kept"));
    };
    try {
      for (const py::handle values : frame.attr("itertuples")(py::arg("index") = false, py::arg("name") = py::none())) {
        w.Append(Now());
        std::size_t i = 0;
        try {
          for (const py::handle value : values) SetFieldValue(w, fields.at(i++), value, truncate);
        } catch (...) {
          w.Cancel();
          throw;
        }
        w.Post(Now());
        numbers.append(w.Number() ? py::int_(*w.Number()) : py::int_(Count() - 1));
        ++row;
      }
      if (own) db.Commit();
    } catch (py::error_already_set& e) {
      if (own && db.InTransaction()) db.Rollback();
      e.restore();
      note();
      throw py::error_already_set();
    } catch (...) {
      if (own && db.InTransaction()) db.Rollback();
      if (!SetLibraryError(std::current_exception())) throw;
      note();
      throw py::error_already_set();
    }
    return numbers;
  }

  void Edit(const py::handle& position, const py::dict& values, bool truncate) {
    MoveTo(Position(position));
    Writer().Edit();
    Store(values, truncate);
  }

  void Delete(const py::handle& position) {
    MoveTo(Position(position));
    Table().Delete();
  }

  // A record position for edit and delete: an int from 0 to len - 1. Negative positions are refused rather
  // than counted from the end, so that a position computed wrongly never changes another record.
  std::int64_t Position(const py::handle& position) {
    if (PyBool_Check(position.ptr()) || !PyIndex_Check(position.ptr()))
      throw py::type_error("a record position is an int, not " + std::string(Py_TYPE(position.ptr())->tp_name));
    const Py_ssize_t p = PyNumber_AsSsize_t(position.ptr(), PyExc_IndexError);
    if (p == -1 && PyErr_Occurred()) throw py::error_already_set();
    const std::int32_t count = Count();
    if (p < 0 || p >= count) {
      throw py::index_error("record position " + std::to_string(p) + " is outside 0.." + std::to_string(count - 1) +
                            (p < 0 ? " (lib[-1] reads from the end; edit and delete take positions from 0)" : ""));
    }
    return p;
  }

  // lib[i]: the record at position i, counted from the end when negative, as a list counts.
  py::object Item(std::int64_t index) {
    const std::int32_t count = Count();
    const std::int64_t p = index < 0 ? index + count : index;
    if (p < 0 || p >= count)
      throw py::index_error("record index " + std::to_string(index) + " is outside the " + std::to_string(count) +
                            " records");
    py::list one = Range(p, 1);
    if (py::len(one) == 0) throw py::index_error("record index " + std::to_string(index) + " is outside the records");
    return one[0];
  }

  // Up to `count` records from position `first`, as dicts.
  py::list Range(std::int64_t first, std::int64_t count) {
    py::list out;
    if (count <= 0) return out;
    if (!FastPath()) {
      MoveTo(first);
      TABSTable& t = table_;
      for (std::int64_t i = 0; i < count && !t.Eof(); ++i, t.Next()) {
        py::dict record;
        for (std::size_t c = 0; c < columns_.size(); ++c) {
          PyObject* value = VariantObject(t.Fields(static_cast<int>(c)).Value(), columns_[c].kind);
          if (value == nullptr) throw py::error_already_set();
          PyDict_SetItem(record.ptr(), interned_[c].ptr(), value);
          Py_DECREF(value);
        }
        out.append(record);
      }
      return out;
    }
    // The engine finds the row key at the position (in insertion order, as the reader reads); the reader reads
    // from there.
    TABSTable& t = table_;
    t.First();
    if (t.Eof() || t.MoveBy(static_cast<std::int32_t>(first)) != first) return out;
    const std::int64_t firstKey = t.GetBookmark();
    Chunk chunk;
    {
      py::gil_scoped_release release;
      ReadRange(firstKey, count, chunk);
    }
    AppendRecords(chunk, out);
    return out;
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
  std::unique_ptr<sqlite3_stmt, StatementFinalizer> rangeStatement_;
  std::string key_, selectSql_;
  bool fastFailed_ = false;
  std::unique_ptr<TRecordWriter> writer_;  // after table_: goes first
};

// The object of a cell, as the records give it.
PyObject* CellObject(const Cell& cell, const std::string& arena, PyKind kind) {
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
  return TextObject(bytes);
}

void ColumnBuilder::Add(const Cell& cell, const std::string& arena) {
  ++rows;
  if (Numeric()) {
    const bool null = cell.storage == SQLITE_NULL;
    bool ok = true;
    switch (kind) {
      case PyKind::Integer:
        if (cell.storage == SQLITE_INTEGER) whole.push_back(cell.integer);
        else if (cell.storage == SQLITE_FLOAT) whole.push_back(static_cast<long long>(cell.real));
        else if (null) whole.push_back(0);
        else ok = false;
        break;
      case PyKind::Float:
        if (cell.storage == SQLITE_FLOAT) reals.push_back(cell.real);
        else if (cell.storage == SQLITE_INTEGER) reals.push_back(static_cast<double>(cell.integer));
        else if (null) reals.push_back(std::numeric_limits<double>::quiet_NaN());
        else ok = false;
        break;
      case PyKind::Boolean:
        if (cell.storage == SQLITE_INTEGER) whole.push_back(cell.integer != 0);
        else if (null) whole.push_back(0);
        else ok = false;
        break;
      default: {  // DateTime, stored as ISO text
        double dateTime = 0;
        if (null) {
          whole.push_back(std::numeric_limits<std::int64_t>::min());  // NaT
        } else if (cell.storage == SQLITE_TEXT &&
                   TryISOToDateTime(std::string_view(arena.data() + cell.offset, cell.length), dateTime) &&
                   std::fabs(dateTime - kUnixEpochDays) * 86400000.0 < static_cast<double>(kPandasLimitMs)) {
          whole.push_back(std::llround((dateTime - kUnixEpochDays) * 86400000.0));
        } else {
          ok = false;
        }
      }
    }
    if (ok) {
      if (null) {
        if (nulls.size() < rows) nulls.resize(rows, false);
        nulls[rows - 1] = true;
        missing = true;
      }
      return;
    }
    --rows;
    SwitchToObjects();
    ++rows;
  }
  if (kind == PyKind::Text && cell.storage == SQLITE_TEXT && texts.size() < kSharedTexts) {
    std::string text(arena.data() + cell.offset, cell.length);
    const auto found = texts.find(text);
    if (found != texts.end()) {
      Py_INCREF(found->second);
      objects.push_back(found->second);
      return;
    }
    PyObject* object = CellObject(cell, arena, kind);
    if (object == nullptr) throw py::error_already_set();
    objects.push_back(object);
    texts.emplace(std::move(text), object);
    return;
  }
  PyObject* object = CellObject(cell, arena, kind);
  if (object == nullptr) throw py::error_already_set();
  objects.push_back(object);
}

bool ColumnBuilder::Null(std::size_t row) const { return row < nulls.size() && nulls[row]; }

void ColumnBuilder::SwitchToObjects() {
  for (std::size_t row = 0; row < rows; ++row) {
    PyObject* object = nullptr;
    if (Null(row)) {
      object = Py_NewRef(Py_None);
    } else {
      switch (kind) {
        case PyKind::Integer: object = PyLong_FromLongLong(whole[row]); break;
        case PyKind::Float: object = PyFloat_FromDouble(reals[row]); break;
        case PyKind::Boolean: object = PyBool_FromLong(whole[row] != 0 ? 1 : 0); break;
        default:
          object = DateTimeObject(static_cast<double>(whole[row]) / 86400000.0 + kUnixEpochDays, PyKind::DateTime);
      }
    }
    if (object == nullptr) throw py::error_already_set();
    objects.push_back(object);
  }
  whole = {};
  reals = {};
  asObjects = true;
}

py::object ColumnBuilder::Array() {
  if (kind == PyKind::Boolean && missing && !asObjects) SwitchToObjects();  // None among the Booleans
  if (asObjects || !Numeric()) {
    py::array out(py::dtype("O"), std::vector<py::ssize_t>{static_cast<py::ssize_t>(objects.size())});
    auto** slots = static_cast<PyObject**>(out.mutable_data());
    for (std::size_t i = 0; i < objects.size(); ++i) {
      Py_XDECREF(slots[i]);
      slots[i] = objects[i];  // the array takes our reference
    }
    objects.clear();
    texts.clear();
    return out;
  }
  const auto n = static_cast<py::ssize_t>(rows);
  switch (kind) {
    case PyKind::Float: {
      py::array_t<double> out(n);
      std::copy(reals.begin(), reals.end(), out.mutable_data());
      return out;
    }
    case PyKind::Integer: {
      if (!missing) {
        py::array_t<std::int64_t> out(n);
        std::copy(whole.begin(), whole.end(), out.mutable_data());
        return out;
      }
      py::array_t<double> out(n);  // a missing whole number is NaN, as pandas shows it
      double* data = out.mutable_data();
      for (std::size_t i = 0; i < rows; ++i)
        data[i] = Null(i) ? std::numeric_limits<double>::quiet_NaN() : static_cast<double>(whole[i]);
      return out;
    }
    case PyKind::Boolean: {
      py::array_t<bool> out(n);
      bool* data = out.mutable_data();
      for (std::size_t i = 0; i < rows; ++i) data[i] = whole[i] != 0;
      return out;
    }
    default: {
      py::array_t<std::int64_t> out(n);
      std::copy(whole.begin(), whole.end(), out.mutable_data());
      return out.attr("view")("datetime64[ms]");
    }
  }
}

// Iteration over the records: chunk by chunk through the fast reader, or over the engine's records. Every step
// asks whether the library is still open, so that a closed library's iterator raises at once instead of giving
// the records it still holds in its buffer.
class RecordIterator {
public:
  explicit RecordIterator(Library& lib, py::object owner) : lib_(lib), owner_(std::move(owner)) {
    lib_.CheckOpen();
    if (!lib_.FastPath()) {
      buffered_ = lib_.EngineRecords();
      done_ = true;
    }
  }

  py::object Next() {
    lib_.CheckOpen();
    if (index_ >= static_cast<std::size_t>(py::len(buffered_))) {
      if (done_) throw py::stop_iteration();
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

std::string CreateLibraryFile(const py::handle& typeArg, const std::string& folder, bool withDefaults,
                              const std::string& fileName) {
  return vez::CreateLibraryFile(LibTypeArg(typeArg), folder, withDefaults, "New", fileName);
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
std::int32_t LibTypeArg(const py::handle& type) {
  const bool isCode = PyLong_Check(type.ptr()) && !PyBool_Check(type.ptr());
  if (!isCode && !PyUnicode_Check(type.ptr())) throw py::type_error("a library type is a code (int) or a constant name (str)");
  return LibTypeOfWord(py::str(type).cast<std::string>());
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
      .def_property_readonly("path", [](const Library& l) { return PathObject(l.Path()); }, "The file.")
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
      .def("to_pandas", &Library::Frame,
           "The records as a pandas DataFrame (needs pandas).")
      .def("transaction", [](py::object self) { return Transaction(self.cast<Library&>(), self); },
           "with lib.transaction(): commits at the end of the block, rolls back when an exception leaves it.")
      .def("__getitem__", [](Library& l, const py::object& index) -> py::object {
        if (PySlice_Check(index.ptr())) {
          py::ssize_t start = 0, stop = 0, step = 0, length = 0;
          if (!index.cast<py::slice>().compute(l.Count(), &start, &stop, &step, &length)) throw py::error_already_set();
          if (step == 1) return l.Range(start, length);
          py::list out;
          for (py::ssize_t i = 0; i < length; ++i) out.append(l.Item(start + i * step));
          return out;
        }
        if (PyBool_Check(index.ptr()) || !PyIndex_Check(index.ptr()))
          throw py::type_error("library indices are ints or slices, not " + std::string(Py_TYPE(index.ptr())->tp_name));
        const Py_ssize_t i = PyNumber_AsSsize_t(index.ptr(), PyExc_IndexError);  // as a list: IndexError
        if (i == -1 && PyErr_Occurred()) throw py::error_already_set();
        return l.Item(i);
      }, py::arg("index"), "lib[i]: the record at position i (from the end when negative); lib[a:b]: a list.")
      .def("append", &Library::Append, py::arg("values") = py::dict(), py::arg("truncate") = false,
           "Adds a record: the defaults of the library type, then the given field values, under the record rules\n"
           "of every front end. Returns the new record's number (its Eintrag), or its position in a library whose\n"
           "records have no numbers.")
      .def("append_frame", &Library::AppendFrame, py::arg("frame"), py::arg("truncate") = false,
           "Adds the rows of a pandas DataFrame whose columns are field names, in one transaction, under the\n"
           "record rules of append (NaN, None and NaT store no value). All rows are stored or none; returns the\n"
           "numbers of the new records.")
      .def("edit", &Library::Edit, py::arg("position"), py::arg("values"), py::arg("truncate") = false,
           "Changes fields of the record at a position (0-based, iteration order).")
      .def("delete", &Library::Delete, py::arg("position"), "Deletes the record at a position.")
      .def("close", &Library::Close, "Closes the file; an open transaction is rolled back.")
      .def("__enter__", [](py::object self) { return self; })
      .def("__exit__", [](Library& l, const py::object&, const py::object&, const py::object&) {
        l.Close();
        return false;
      })
      .def("__repr__", [](const Library& l) {
        return "<veziru.Library " + py::repr(PathObject(l.Path())).cast<std::string>() + ", " +
               std::to_string(l.Columns().size()) + " fields>";
      });

  m.def("append_frame", [](Library& lib, const py::object& frame, bool truncate) { return lib.AppendFrame(frame, truncate); },
        py::arg("library"), py::arg("frame"), py::arg("truncate") = false,
        "veziru.append_frame(lib, df) is lib.append_frame(df): the rows of a DataFrame as new records, in one\n"
        "transaction; returns their numbers.");
  m.def("open_library", [](const py::object& path, bool readOnly) {
        return std::make_unique<Library>(PathArg(path), readOnly);
      }, py::arg("path"), py::arg("read_only") = false,
      "Opens a library file (str or os.PathLike). A missing file raises NoSuchFileError (a FileNotFoundError),\n"
      "one that cannot be read, or written without read_only, AccessDeniedError (a PermissionError).");
  m.def("create_library", [](const py::handle& type, const py::object& folderArg, bool withDefaults,
                              const std::optional<std::string>& fileName) {
        const std::string folder = PathArg(folderArg);
        CheckFolder(folder);
        return std::make_unique<Library>(CreateLibraryFile(type, folder, withDefaults, fileName.value_or("")), false);
      }, py::arg("type"), py::arg("folder"), py::arg("with_defaults") = false, py::arg("file_name") = py::none(),
      "Creates an empty library of a type (code or constant name such as \"ltEmis\") with its layout in an\n"
      "existing folder, under the type's file name or file_name (a name of your own, which the library records\n"
      "its type in); with_defaults adds one record of the new-record defaults. An existing file is never replaced.");
  m.def("lib_type", [](const py::object& name) { return LibTypeOf(PathArg(name)); }, py::arg("name"),
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

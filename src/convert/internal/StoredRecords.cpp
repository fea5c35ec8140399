#include "convert/internal/StoredRecords.h"

#include <sqlite3.h>

#include <cmath>
#include <cstring>
#include <memory>

#include "core/FormatSettings.h"

namespace vez::detail {

namespace {

// Leaves the reading when the file is not as this reader follows it.
struct NotFollowed {};

void Check(bool ok) {
  if (!ok) throw NotFollowed{};
}

std::uint32_t Big16(const std::uint8_t* p) { return (std::uint32_t{p[0]} << 8) | p[1]; }
std::uint32_t Big32(const std::uint8_t* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}

// A variable-length integer of the file format (1 to 9 bytes, big-endian, 7 bits a byte and 8 in the ninth);
// `end` bounds the bytes it may take.
std::uint64_t Varint(const std::uint8_t*& p, const std::uint8_t* end) {
  std::uint64_t v = 0;
  for (int i = 0; i < 8; ++i) {
    Check(p < end);
    const std::uint8_t b = *p++;
    v = (v << 7) | (b & 0x7F);
    if ((b & 0x80) == 0) return v;
  }
  Check(p < end);
  return (v << 8) | *p++;
}

struct CloseDb {
  void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
struct Finalize {
  void operator()(sqlite3_stmt* st) const { sqlite3_finalize(st); }
};
using Statement = std::unique_ptr<sqlite3_stmt, Finalize>;

Statement Prepare(sqlite3* db, const std::string& sql) {
  sqlite3_stmt* st = nullptr;
  Check(sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) == SQLITE_OK);
  return Statement(st);
}

std::string Text(sqlite3_stmt* st, int col) {
  const auto* t = reinterpret_cast<const char*>(sqlite3_column_text(st, col));
  return t ? std::string(t, static_cast<std::size_t>(sqlite3_column_bytes(st, col))) : std::string();
}

// The pages of the file, read through SQLite's handle: leaf pages from a window of consecutive pages (a table's
// leaves mostly follow each other), other pages copied out whole.
class Pages {
public:
  static constexpr std::uint32_t kWindow = 32;

  Pages(sqlite3_file* file, std::uint32_t pageSize, std::uint32_t pageCount)
      : file_(file), pageSize_(pageSize), pageCount_(pageCount), window_(std::size_t{kWindow} * pageSize) {}

  std::uint32_t PageSize() const { return pageSize_; }

  // Page `number` (1-based), valid until the next call.
  const std::uint8_t* Get(std::uint32_t number) {
    Check(number >= 1 && number <= pageCount_);
    if (number < first_ || number >= first_ + count_) {
      count_ = std::min(kWindow, pageCount_ - number + 1);
      first_ = number;
      Read(window_.data(), count_ * pageSize_, number);
    }
    return window_.data() + std::size_t{number - first_} * pageSize_;
  }
  // Page `number` into `out`.
  void Copy(std::uint32_t number, std::vector<std::uint8_t>& out) {
    Check(number >= 1 && number <= pageCount_);
    out.resize(pageSize_);
    if (number >= first_ && number < first_ + count_) {
      std::memcpy(out.data(), window_.data() + std::size_t{number - first_} * pageSize_, pageSize_);
    } else {
      Read(out.data(), pageSize_, number);
    }
  }

private:
  void Read(std::uint8_t* into, std::uint32_t bytes, std::uint32_t number) {
    const int rc = file_->pMethods->xRead(file_, into, static_cast<int>(bytes),
                                          static_cast<sqlite3_int64>(number - 1) * pageSize_);
    Check(rc == SQLITE_OK);
  }

  sqlite3_file* file_;
  std::uint32_t pageSize_, pageCount_;
  std::vector<std::uint8_t> window_;
  std::uint32_t first_ = 0, count_ = 0;
};

// What a record's value becomes, decided per wanted column.
enum class Kind { Integer, Boolean, Number, Date, Bytes };

Kind KindOf(TFieldType type) {
  switch (type) {
    case ftSmallint:
    case ftInteger:
    case ftWord:
    case ftAutoInc:
    case ftLargeint: return Kind::Integer;
    case ftBoolean: return Kind::Boolean;
    case ftFloat:
    case ftCurrency:
    case ftBCD: return Kind::Number;
    case ftDate:
    case ftTime:
    case ftDateTime: return Kind::Date;
    default: return Kind::Bytes;
  }
}

class TableReader {
public:
  TableReader(Pages& pages, std::uint32_t usable, std::vector<int> columns, std::vector<Kind> kinds, int rowidColumn,
              const std::function<bool(const std::vector<VariantView>&, bool)>& each)
      : pages_(pages), usable_(usable), columns_(std::move(columns)), kinds_(std::move(kinds)),
        rowidColumn_(rowidColumn), each_(each), values_(columns_.size()) {
    for (std::size_t i = 0; i < columns_.size(); ++i) {
      if (columns_[i] == rowidColumn_) continue;
      const std::size_t c = static_cast<std::size_t>(columns_[i]);
      if (wanted_.size() <= c) wanted_.resize(c + 1, -1);
      wanted_[c] = static_cast<int>(i);
    }
  }

  // Reads the b-tree of root page `page`; False when `each` stopped it.
  bool Tree(std::uint32_t page, int depth) {
    Check(depth < 20);
    std::vector<std::uint8_t> copy;
    const std::uint8_t* p = pages_.Get(page);
    const std::uint32_t header = page == 1 ? 100 : 0;
    const std::uint8_t type = p[header];
    if (type == 0x0D) return Leaf(p, header);
    Check(type == 0x05);  // an interior page of a table b-tree
    pages_.Copy(page, copy);
    p = copy.data();
    const std::uint32_t cells = Big16(p + header + 3);
    Check(header + 12 + cells * 2 <= pages_.PageSize());
    for (std::uint32_t i = 0; i < cells; ++i) {
      const std::uint32_t at = Big16(p + header + 12 + i * 2);
      Check(at + 4 <= usable_);
      if (!Tree(Big32(p + at), depth + 1)) return false;
    }
    return Tree(Big32(p + header + 8), depth + 1);
  }

private:
  bool Leaf(const std::uint8_t* p, std::uint32_t header) {
    const std::uint32_t cells = Big16(p + header + 3);
    Check(header + 8 + cells * 2 <= pages_.PageSize());
    // The window may move while overflow pages are read: the cell pointers are taken first.
    cellOffsets_.resize(cells);
    for (std::uint32_t i = 0; i < cells; ++i) cellOffsets_[i] = Big16(p + header + 8 + i * 2);
    page_.assign(p, p + usable_);
    for (std::uint32_t i = 0; i < cells; ++i) {
      const std::uint32_t at = cellOffsets_[i];
      Check(at < usable_);
      const std::uint8_t* c = page_.data() + at;
      const std::uint8_t* end = page_.data() + usable_;
      const std::uint64_t size = Varint(c, end);
      const auto rowid = static_cast<std::int64_t>(Varint(c, end));
      Check(size <= 0x7FFFFFFF);
      const std::uint8_t* record = Payload(c, end, static_cast<std::uint32_t>(size));
      if (!Record(record, record + size, rowid)) return false;
    }
    return true;
  }

  // The payload of a cell whose local part starts at `c`: in place when it is all local, else gathered with its
  // overflow pages.
  const std::uint8_t* Payload(const std::uint8_t* c, const std::uint8_t* end, std::uint32_t size) {
    const std::uint32_t most = usable_ - 35;
    if (size <= most) {
      Check(c + size <= end);
      return c;
    }
    const std::uint32_t least = ((usable_ - 12) * 32 / 255) - 23;
    std::uint32_t local = least + (size - least) % (usable_ - 4);
    if (local > most) local = least;
    Check(c + local + 4 <= end);
    payload_.assign(c, c + local);
    std::uint32_t next = Big32(c + local);
    while (payload_.size() < size) {
      const std::uint8_t* o = pages_.Get(next);
      const std::size_t take = std::min<std::size_t>(size - payload_.size(), usable_ - 4);
      payload_.insert(payload_.end(), o + 4, o + 4 + take);
      next = Big32(o);
    }
    return payload_.data();
  }

  // One record: hands the wanted values to `each`.
  bool Record(const std::uint8_t* record, const std::uint8_t* end, std::int64_t rowid) {
    const std::uint8_t* h = record;
    const std::uint64_t headerSize = Varint(h, end);
    Check(headerSize <= static_cast<std::uint64_t>(end - record));
    const std::uint8_t* headerEnd = record + headerSize;
    const std::uint8_t* body = headerEnd;
    bool understood = true;
    std::size_t found = 0;
    const int* wanted = wanted_.data();
    for (std::size_t col = 0, columns = wanted_.size(); col < columns && h < headerEnd; ++col) {
      // Stops early for a record written before its table had the column.
      std::uint64_t serial = *h;
      if (serial < 0x80) {
        ++h;
      } else {
        serial = Varint(h, headerEnd);
      }
      const std::uint64_t length = serial >= 12 ? (serial - 12) >> 1 : kLengths[serial];
      Check(serial != 10 && serial != 11 && length <= static_cast<std::uint64_t>(end - body));
      if (wanted[col] >= 0) {
        const auto i = static_cast<std::size_t>(wanted[col]);
        understood = Value(serial, body, static_cast<std::size_t>(length), kinds_[i], values_[i]) && understood;
        ++found;
      }
      body += length;
    }
    if (rowidColumn_ >= 0) {
      for (std::size_t i = 0; i < columns_.size(); ++i) {
        if (columns_[i] != rowidColumn_) continue;
        understood = kinds_[i] == Kind::Integer && understood;
        values_[i] = VariantView{VarType::Integer, rowid, 0, {}};
        ++found;
      }
    }
    return each_(values_, understood && found == columns_.size());
  }

  // A value as the engine reads it from its field type; False for a value stored in another form.
  static bool Value(std::uint64_t serial, const std::uint8_t* p, std::size_t length, Kind kind, VariantView& out) {
    out.text = {};
    out.integer = 0;
    out.number = 0;
    if (serial == 0) {
      out.type = VarType::Null;
      return true;
    }
    if (serial >= 12) {
      const std::string_view bytes(reinterpret_cast<const char*>(p), length);
      const bool text = (serial & 1) != 0;
      if (kind == Kind::Bytes) {
        out.type = VarType::String;
        out.text = bytes;
        return true;
      }
      if (kind != Kind::Date || !text) return false;
      if (TryISOToDateTime(bytes, out.number)) {
        out.type = VarType::DateTime;
      } else {
        out.type = VarType::String;
        out.text = bytes;
      }
      return true;
    }
    double real = 0;
    std::int64_t integer = 0;
    const bool isReal = serial == 7;
    if (isReal) {
      std::uint64_t bits = 0;
      for (int i = 0; i < 8; ++i) bits = (bits << 8) | p[i];
      std::memcpy(&real, &bits, 8);
      if (std::isnan(real)) {  // SQLite reads a stored NaN as NULL
        out.type = VarType::Null;
        return true;
      }
    } else if (serial == 8 || serial == 9) {
      integer = serial == 9 ? 1 : 0;
    } else {
      integer = static_cast<std::int8_t>(p[0]);  // sign-extended from the first byte
      for (std::size_t i = 1; i < length; ++i)
        integer = static_cast<std::int64_t>((static_cast<std::uint64_t>(integer) << 8) | p[i]);
    }
    switch (kind) {
      case Kind::Integer:
        if (isReal) return false;
        out.type = VarType::Integer;
        out.integer = integer;
        return true;
      case Kind::Boolean:
        if (isReal) return false;
        out.type = VarType::Boolean;
        out.integer = integer != 0 ? 1 : 0;
        return true;
      case Kind::Number:
      case Kind::Date:
        out.type = kind == Kind::Number ? VarType::Double : VarType::DateTime;
        out.number = isReal ? real : static_cast<double>(integer);
        return true;
      case Kind::Bytes: return false;
    }
    return false;
  }

  static constexpr std::uint64_t kLengths[12] = {0, 1, 2, 3, 4, 6, 8, 8, 0, 0, 0, 0};

  Pages& pages_;
  std::uint32_t usable_;
  std::vector<int> columns_;  // the table column of each wanted value
  std::vector<Kind> kinds_;
  int rowidColumn_;           // the column that is the row id (INTEGER PRIMARY KEY), -1 for none
  const std::function<bool(const std::vector<VariantView>&, bool)>& each_;
  std::vector<VariantView> values_;
  std::vector<int> wanted_;   // per table column: the index of its wanted value, -1 when not wanted
  std::vector<std::uint32_t> cellOffsets_;
  std::vector<std::uint8_t> page_;
  std::vector<std::uint8_t> payload_;
};

}  // namespace

bool ReadStoredRecords(const std::string& file, const std::string& table, const std::vector<std::string>& fields,
                       const std::vector<TFieldType>& types,
                       const std::function<bool(const std::vector<VariantView>& values, bool understood)>& each) {
  sqlite3* raw = nullptr;
  const int opened = sqlite3_open_v2(file.c_str(), &raw, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr);
  std::unique_ptr<sqlite3, CloseDb> db(raw);
  if (opened != SQLITE_OK) return false;
  // The read transaction holds SQLite's shared lock on the file until the pages are read.
  if (sqlite3_exec(raw, "BEGIN", nullptr, nullptr, nullptr) != SQLITE_OK) return false;
  try {
    // The table of that name, or the only table of the file (as the engine finds it: a library file under a
    // passing name holds its table under the library's name).
    Statement find =
        Prepare(raw, "SELECT name, rootpage FROM sqlite_master WHERE type='table' AND name=?1 COLLATE NOCASE");
    sqlite3_bind_text(find.get(), 1, table.data(), static_cast<int>(table.size()), SQLITE_STATIC);
    if (sqlite3_step(find.get()) != SQLITE_ROW) {
      find = Prepare(raw, "SELECT name, rootpage, count(*) OVER () FROM sqlite_master WHERE type='table' AND "
                          "name NOT LIKE 'sqlite!_%' ESCAPE '!' AND name NOT LIKE 'vez$%'");
      Check(sqlite3_step(find.get()) == SQLITE_ROW && sqlite3_column_int(find.get(), 2) == 1);
    }
    const std::string stored = Text(find.get(), 0);
    const auto root = static_cast<std::uint32_t>(sqlite3_column_int64(find.get(), 1));
    find.reset();
    // The table's columns in the order of its records.
    std::string quoted = "\"";
    for (char ch : stored) quoted += ch == '"' ? std::string("\"\"") : std::string(1, ch);
    Statement info = Prepare(raw, "PRAGMA table_xinfo(" + quoted + "\")");
    std::vector<std::string> names;
    int primaryKeys = 0, rowidColumn = -1;
    while (sqlite3_step(info.get()) == SQLITE_ROW) {
      Check(sqlite3_column_int(info.get(), 6) == 0);  // no generated or hidden columns
      if (sqlite3_column_int(info.get(), 5) != 0) {
        ++primaryKeys;
        if (SameText(Text(info.get(), 2), "INTEGER")) rowidColumn = static_cast<int>(names.size());
      }
      names.push_back(Text(info.get(), 1));
    }
    info.reset();
    if (primaryKeys != 1) rowidColumn = -1;
    Check(primaryKeys <= 1 && !names.empty());
    std::vector<int> columns;
    std::vector<Kind> kinds;
    for (std::size_t i = 0; i < fields.size(); ++i) {
      int column = -1;
      for (std::size_t c = 0; c < names.size() && column < 0; ++c)
        if (names[c] == fields[i]) column = static_cast<int>(c);
      for (std::size_t c = 0; c < names.size() && column < 0; ++c)
        if (SameText(names[c], fields[i])) column = static_cast<int>(c);
      Check(column >= 0);
      columns.push_back(column);
      kinds.push_back(KindOf(types[i]));
    }
    // The file header: page size, reserved bytes, a rollback journal (not WAL) and UTF-8 texts.
    sqlite3_file* handle = nullptr;
    Check(sqlite3_file_control(raw, "main", SQLITE_FCNTL_FILE_POINTER, &handle) == SQLITE_OK && handle &&
          handle->pMethods);
    std::uint8_t head[100];
    Check(handle->pMethods->xRead(handle, head, sizeof head, 0) == SQLITE_OK);
    Check(std::memcmp(head, "SQLite format 3", 16) == 0 && head[18] == 1 && head[19] == 1 && Big32(head + 56) == 1);
    const std::uint32_t pageSize = Big16(head + 16) == 1 ? 65536 : Big16(head + 16);
    Check(pageSize >= 512 && (pageSize & (pageSize - 1)) == 0 && pageSize > head[20] + 480u);
    sqlite3_int64 fileSize = 0;
    Check(handle->pMethods->xFileSize(handle, &fileSize) == SQLITE_OK);
    Pages pages(handle, pageSize, static_cast<std::uint32_t>(fileSize / pageSize));
    TableReader reader(pages, pageSize - head[20], columns, kinds, rowidColumn, each);
    reader.Tree(root, 0);
  } catch (const NotFollowed&) {
    sqlite3_exec(raw, "ROLLBACK", nullptr, nullptr, nullptr);
    return false;
  } catch (...) {
    sqlite3_exec(raw, "ROLLBACK", nullptr, nullptr, nullptr);
    throw;
  }
  sqlite3_exec(raw, "ROLLBACK", nullptr, nullptr, nullptr);
  return true;
}

}  // namespace vez::detail

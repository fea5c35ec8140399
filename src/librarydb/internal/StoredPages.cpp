// Records read from the pages of a library file (see internal/StoredPages.h).
#include "librarydb/internal/StoredPages.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <memory>
#include <string_view>

#include "core/FormatSettings.h"
#include "librarydb/internal/Sqlite.h"

namespace vez::detail {

namespace {

// Leaves the walk when the file is not as this reader follows it.
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

// The byte lengths of the serial types below 12 (10 and 11 are reserved); an array whose index the checked builds
// bound (_GLIBCXX_ASSERTIONS).
constexpr std::array<std::uint64_t, 12> kLengths{0, 1, 2, 3, 4, 6, 8, 8, 0, 0, 0, 0};

// A value as the engine reads it from its field type; False for a value stored in another form.
bool Value(std::uint64_t serial, const std::uint8_t* p, std::size_t length, StoredKind kind, VariantView& out) {
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
    if (kind == StoredKind::Bytes) {
      out.type = VarType::String;
      out.text = bytes;
      return true;
    }
    if (kind != StoredKind::Date || !text) return false;
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
    case StoredKind::Integer:
      if (isReal) return false;
      out.type = VarType::Integer;
      out.integer = integer;
      return true;
    case StoredKind::Boolean:
      if (isReal) return false;
      out.type = VarType::Boolean;
      out.integer = integer != 0 ? 1 : 0;
      return true;
    case StoredKind::Number:
    case StoredKind::Date:
      out.type = kind == StoredKind::Number ? VarType::Double : VarType::DateTime;
      out.number = isReal ? real : static_cast<double>(integer);
      return true;
    case StoredKind::Bytes: return false;
  }
  return false;
}

}  // namespace

StoredKind StoredKindOf(TFieldType type) {
  switch (type) {
    case ftSmallint:
    case ftInteger:
    case ftWord:
    case ftAutoInc:
    case ftLargeint: return StoredKind::Integer;
    case ftBoolean: return StoredKind::Boolean;
    case ftFloat:
    case ftCurrency:
    case ftBCD: return StoredKind::Number;
    case ftDate:
    case ftTime:
    case ftDateTime: return StoredKind::Date;
    default: return StoredKind::Bytes;
  }
}

bool ReadStoredColumns(sqlite3* db, const std::string& table, std::vector<std::string>& names, int& rowidColumn) {
  names.clear();
  rowidColumn = -1;
  sqlite3_stmt* info = nullptr;
  if (sqlite3_prepare_v2(db, ("PRAGMA table_xinfo(" + QuoteIdent(table) + ")").c_str(), -1, &info, nullptr) != SQLITE_OK)
    return false;
  const std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> finalize(info, sqlite3_finalize);
  int primaryKeys = 0;
  while (sqlite3_step(info) == SQLITE_ROW) {
    if (sqlite3_column_int(info, 6) != 0) return false;  // a generated or hidden column
    const auto* type = reinterpret_cast<const char*>(sqlite3_column_text(info, 2));
    if (sqlite3_column_int(info, 5) != 0 && ++primaryKeys == 1 && type != nullptr && SameText(type, "INTEGER"))
      rowidColumn = static_cast<int>(names.size());
    const auto* name = reinterpret_cast<const char*>(sqlite3_column_text(info, 1));
    names.emplace_back(name != nullptr ? name : "");
  }
  return primaryKeys <= 1 && !names.empty();
}

bool ReadStoredFile(sqlite3* db, StoredFile& out) {
  sqlite3_file* handle = nullptr;
  if (sqlite3_file_control(db, "main", SQLITE_FCNTL_FILE_POINTER, &handle) != SQLITE_OK || handle == nullptr ||
      handle->pMethods == nullptr)
    return false;
  std::uint8_t head[100];
  if (handle->pMethods->xRead(handle, head, sizeof head, 0) != SQLITE_OK) return false;
  // A rollback journal (format versions 1, not WAL) and UTF-8 texts.
  if (std::memcmp(head, "SQLite format 3", 16) != 0 || head[18] != 1 || head[19] != 1 || Big32(head + 56) != 1)
    return false;
  const std::uint32_t pageSize = Big16(head + 16) == 1 ? 65536 : Big16(head + 16);
  if (pageSize < 512 || (pageSize & (pageSize - 1)) != 0 || pageSize <= head[20] + 480u) return false;
  sqlite3_int64 fileSize = 0;
  if (handle->pMethods->xFileSize(handle, &fileSize) != SQLITE_OK || fileSize < 0) return false;
  out.handle = handle;
  out.pageSize = pageSize;
  out.usable = pageSize - head[20];
  out.pageCount = static_cast<std::uint32_t>(std::min<sqlite3_int64>(fileSize / pageSize, 0xFFFFFFFF));
  out.changeCounter = Big32(head + 24);
  out.schemaCookie = Big32(head + 40);
  return true;
}

// One walk: the b-tree pages from the root down, the leaves' cells, the overflow pages of long records.
class StoredTable::Reader {
public:
  static constexpr std::uint32_t kWindow = 32;  // pages read at once (a table's leaves mostly follow each other)

  Reader(StoredTable& table, const StoredFile& file, const std::int64_t* after, const Each& each)
      : t_(table), file_(file), after_(after), each_(each), values_(table.columns_.size()) {
    for (std::size_t i = 0; i < t_.columns_.size(); ++i) {
      if (t_.columns_[i] == t_.rowidColumn_) continue;
      const auto c = static_cast<std::size_t>(t_.columns_[i]);
      if (wanted_.size() <= c) wanted_.resize(c + 1, -1);
      wanted_[c] = static_cast<int>(i);
    }
    // The row id's column holds NULL in the record (SQLite keeps the value as the row id); a value there means
    // the column is no alias of the row id after all.
    if (t_.rowidColumn_ >= 0) {
      const auto c = static_cast<std::size_t>(t_.rowidColumn_);
      if (wanted_.size() <= c) wanted_.resize(c + 1, -1);
      wanted_[c] = kRowidAlias;
    }
  }

  // Walks the b-tree of `page`; False when `each` stopped the walk.
  bool Tree(std::uint32_t page, int depth) {
    // A valid b-tree visits a page once: a damaged one that points back up ends here, as does one too deep. Page 1
    // is the schema's root: no table's tree holds it, so a tree that points at it is damaged too (SQL reads it).
    Check(page >= 2 && depth < 20 && ++visited_ <= file_.pageCount);
    // A leaf comes from the window of pages (the next leaves mostly follow it); an interior page is read alone
    // (and kept while its children are read), so that the window stays where the leaves are from walk to walk.
    if (copies_.size() <= static_cast<std::size_t>(depth)) copies_.resize(static_cast<std::size_t>(depth) + 1);
    std::vector<std::uint8_t>& copy = copies_[static_cast<std::size_t>(depth)];
    const std::uint8_t* p = nullptr;
    if (InWindow(page)) {
      p = Get(page);
    } else {
      copy.resize(file_.pageSize);
      ReadPages(copy.data(), page, 1);
      p = copy.data();
    }
    const std::uint8_t type = p[0];
    // SQLite refuses a page that claims more cells than the smallest ones (6 bytes with their pointers) could fill;
    // so does this reader (SQL, which the records then come through, refuses them too). The cell pointers then lie
    // within the page's usable bytes at every page size (ReadStoredFile: at least 481, a reserve below 256), for
    // 12 + (pageSize - 8) / 3 stays below both.
    Check(Big16(p + 3) <= (file_.pageSize - 8) / 6);
    if (type == 0x0D) return Leaf(Get(page));
    Check(type == 0x05);  // an interior page of a table b-tree
    if (p != copy.data()) copy.assign(p, p + file_.pageSize);
    p = copy.data();
    const std::uint32_t cells = Big16(p + 3);
    const std::uint8_t* end = p + file_.usable;
    for (std::uint32_t i = 0; i < cells; ++i) {
      const std::uint32_t at = Big16(p + 12 + i * 2);
      Check(at + 4 <= file_.usable);
      // The child holds the row ids up to the cell's key: passed over when they all lie at or before `after`.
      if (after_ != nullptr) {
        const std::uint8_t* k = p + at + 4;
        if (static_cast<std::int64_t>(Varint(k, end)) <= *after_) continue;
      }
      if (!Tree(Big32(p + at), depth + 1)) return false;
    }
    return Tree(Big32(p + 8), depth + 1);
  }

private:
  bool InWindow(std::uint32_t number) const { return number >= t_.first_ && number - t_.first_ < t_.count_; }

  // Pages [number, number + count) into `into`.
  void ReadPages(std::uint8_t* into, std::uint32_t number, std::uint32_t count) {
    Check(number >= 1 && number <= file_.pageCount && count <= file_.pageCount - number + 1);
    const int rc = file_.handle->pMethods->xRead(file_.handle, into, static_cast<int>(count * file_.pageSize),
                                                 static_cast<sqlite3_int64>(number - 1) * file_.pageSize);
    Check(rc == SQLITE_OK);
  }

  // Page `number` (1-based) from the window, which moves to start at it when it is not there; valid until the
  // next call.
  const std::uint8_t* Get(std::uint32_t number) {
    if (!InWindow(number)) {
      Check(number >= 1 && number <= file_.pageCount);
      t_.count_ = 0;  // until the read succeeded
      const std::uint32_t count = std::min(kWindow, file_.pageCount - number + 1);
      t_.window_.resize(std::size_t{kWindow} * file_.pageSize);
      ReadPages(t_.window_.data(), number, count);
      t_.first_ = number;
      t_.count_ = count;
    }
    return t_.window_.data() + std::size_t{number - t_.first_} * file_.pageSize;
  }

  bool Leaf(const std::uint8_t* p) {
    const std::uint32_t cells = Big16(p + 3);
    // The window may move while overflow pages are read: the page is copied first.
    page_.assign(p, p + file_.usable);
    p = page_.data();
    const std::uint8_t* end = p + file_.usable;
    for (std::uint32_t i = 0; i < cells; ++i) {
      const std::uint32_t at = Big16(p + 8 + i * 2);
      Check(at < file_.usable);
      const std::uint8_t* c = p + at;
      const std::uint64_t size = Varint(c, end);
      const auto rowid = static_cast<std::int64_t>(Varint(c, end));
      if (after_ != nullptr && rowid <= *after_) continue;
      Check(size <= 0x7FFFFFFF && size <= std::uint64_t{file_.pageCount} * file_.usable);
      const std::uint8_t* record = Payload(c, end, static_cast<std::uint32_t>(size));
      if (!Record(record, record + size, rowid)) return false;
    }
    return true;
  }

  // The payload of a cell whose local part starts at `c`: in place when it is all local, else gathered with its
  // overflow pages.
  const std::uint8_t* Payload(const std::uint8_t* c, const std::uint8_t* end, std::uint32_t size) {
    const std::uint32_t usable = file_.usable;
    const std::uint32_t most = usable - 35;
    if (size <= most) {
      Check(c + size <= end);
      return c;
    }
    const std::uint32_t least = ((usable - 12) * 32 / 255) - 23;
    std::uint32_t local = least + (size - least) % (usable - 4);
    if (local > most) local = least;
    Check(c + local + 4 <= end);
    payload_.assign(c, c + local);
    std::uint32_t next = Big32(c + local);
    while (payload_.size() < size) {
      const std::uint8_t* o = Get(next);
      const std::size_t take = std::min<std::size_t>(size - payload_.size(), usable - 4);
      payload_.insert(payload_.end(), o + 4, o + 4 + take);
      next = Big32(o);
    }
    return payload_.data();
  }

  // One record: hands the values asked for to `each`.
  bool Record(const std::uint8_t* record, const std::uint8_t* end, std::int64_t rowid) {
    const std::uint8_t* h = record;
    const std::uint64_t headerSize = Varint(h, end);
    Check(headerSize <= static_cast<std::uint64_t>(end - record));
    const std::uint8_t* headerEnd = record + headerSize;
    const std::uint8_t* body = headerEnd;
    bool understood = true;
    std::size_t found = 0;
    const int* wanted = wanted_.data();
    const std::vector<StoredKind>& kinds = t_.kinds_;
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
        understood = Value(serial, body, static_cast<std::size_t>(length), kinds[i], values_[i]) && understood;
        ++found;
      } else if (wanted[col] == kRowidAlias && serial != 0) {
        understood = false;
      }
      body += length;
    }
    // A header read to its end gives the length of every value: they fill the record exactly, or SQL refuses it.
    Check(h < headerEnd || body == end);
    if (t_.rowidColumn_ >= 0) {
      for (std::size_t i = 0; i < t_.columns_.size(); ++i) {
        if (t_.columns_[i] != t_.rowidColumn_) continue;
        understood = kinds[i] == StoredKind::Integer && understood;
        values_[i] = VariantView{VarType::Integer, rowid, 0, {}};
        ++found;
      }
    }
    return each_(rowid, values_, understood && found == t_.columns_.size());
  }

  static constexpr int kRowidAlias = -2;

  StoredTable& t_;
  const StoredFile& file_;
  const std::int64_t* after_;
  const Each& each_;
  std::vector<VariantView> values_;
  std::vector<int> wanted_;  // per record column: the index of its value asked for, -1 when not asked for,
                             // kRowidAlias for the row id's column
  std::uint32_t visited_ = 0;  // b-tree pages visited by this walk
  std::vector<std::vector<std::uint8_t>> copies_;  // the interior page of each depth
  std::vector<std::uint8_t> page_;
  std::vector<std::uint8_t> payload_;
};

StoredTable::StoredTable(std::uint32_t root, std::vector<int> columns, std::vector<StoredKind> kinds, int rowidColumn)
    : root_(root), columns_(std::move(columns)), kinds_(std::move(kinds)), rowidColumn_(rowidColumn) {}

StoredTable::~StoredTable() = default;

bool StoredTable::Walk(const StoredFile& file, const std::int64_t* after, const Each& each) {
  if (file.handle != kept_.handle || file.pageSize != kept_.pageSize || file.pageCount != kept_.pageCount ||
      file.changeCounter != kept_.changeCounter)
    count_ = 0;
  kept_ = file;
  try {
    Reader reader(*this, file, after, each);
    reader.Tree(root_, 0);
  } catch (const NotFollowed&) {
    return false;
  }
  return true;
}

}  // namespace vez::detail

// Absmain: the table engine of the libraries, and the dataset layer it is used through.
//
// A library is one table in one single-file SQLite database. TABSDatabase names the file (and gives it an
// alias that tables find it by); TABSTable is a dataset over one table of that file: a cursor with a current
// record, the states browse, insert and edit, and one TField per column. Field and index definitions are given
// before CreateTable and are recorded in the file, so a reopened table reports exactly what it was created
// with. The file stays readable by any SQLite tool: values are stored in SQLite's natural types, dates and
// times as ISO-8601 text; docs/LIBRARY_FORMAT.md describes the layout.
//
// Choices of this engine:
// - Connections: a database object opens its file when the first of its tables opens (or for the length of
//   one call such as CreateTable or GetTablesList) and closes it when the last one closes; KeepConnection
//   keeps it open instead. Every posted record is on disk when Post returns (rollback journal, full sync);
//   StartTransaction/Commit/Rollback group many changes, all or nothing: a transaction that SQLite abandons
//   after a failed write (a full disk) refuses every later write until it is rolled back, and a failed commit
//   leaves the file as it was (see StartTransaction). A writer waits LockWaitSeconds (default 5) for a
//   lock held by another program before failing.
// - Cursor: the order of the current index (none: insertion order) is fixed when the cursor starts over
//   (Open, First, Last, SetIndexName, Refresh); records are read ahead in pages and no read lock is held
//   between calls, so other programs can commit while a table is open. Records other programs add become
//   visible when the cursor starts over; records they delete are skipped. A large table (row keys beyond
//   8192) is walked in windows of keys taken by key from the index, and MoveBy over a long distance finds
//   its position on the index without reading the records between: there a record another program adds
//   ahead of the cursor is also seen when the cursor reaches it.
// - Insert stores like Append (SQLite keeps no physical order); the new record takes its place in the order
//   of the current index.
// - A primary index is unique, except in run tables ("*.runx"), whose primary index allows duplicates; a
//   unique case-insensitive index uses SQLite's NOCASE collation, which folds ASCII letters only ("Ä" and
//   "ä" are different keys).
// - Null: a field without value reads as Null; AsInteger/AsFloat/AsDateTime give 0, AsBoolean False and
//   AsString "" for it.
// - Objects are not thread-safe; use one database object (and its tables) per thread.
// - File names ignore letter case, as on the old platform: opening, creating, renaming and deleting a library
//   take the file of the exact name first, else the one file of the folder whose name differs only in case;
//   two such files are an error naming both. A rename that changes only the case of the name works.
// - One table per file: a library file holds one table, which bears the file's name. CreateTable in a file that
//   holds another table is an error naming both. A table is found by its name without regard to letter case;
//   in a file whose one table bears another name (a library file the user copied to a new name) that table
//   stands for every name, so the copy opens as the library it is.
// - Field names compare without regard to case, non-ASCII letters included ("GRÖßE" finds "Größe").
// - Records are reached by SQLite's row key under the name "rowid", or "_rowid_" / "oid" when a field bears
//   that name; a table with fields of all three names cannot be created.
// - Auto-increment numbers continue after the highest number in the table, also when another SQLite client
//   inserted records without moving the counter.
// - TEXT columns hold valid UTF-8 only: a value for a text field whose bytes are not UTF-8 is stored as a BLOB
//   value; formatted memos are BLOB columns.
// - A reader that finds the hot journal of an interrupted write rolls it back when the file is writable and
//   says that it must be rolled back otherwise. The file's permission bits bind everybody, the superuser too.
//
// Every failure raises EDatabaseError (a conversion of a field value EConvertError) with a message naming
// the file, table, field or index concerned.
#pragma once

#include <cstdint>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/Exceptions.h"
#include "core/StringList.h"
#include "core/Variant.h"

namespace vez {

// SQLite ended a running transaction on its own after a failed write (a full disk, an I/O error), or its commit
// failed: nothing of the transaction is stored. Raised by the failing write or commit and by every write that
// follows until the transaction is rolled back.
class ETransactionLost : public EDatabaseError {
public:
  using EDatabaseError::EDatabaseError;
};

// ---- field and index definitions ----

// The classic field types of the dataset layer, in the platform's order.
enum TFieldType : std::int32_t {
  ftUnknown,
  ftString,
  ftSmallint,
  ftInteger,
  ftWord,
  ftBoolean,
  ftFloat,
  ftCurrency,
  ftBCD,
  ftDate,
  ftTime,
  ftDateTime,
  ftBytes,
  ftVarBytes,
  ftAutoInc,
  ftBlob,
  ftMemo,
  ftGraphic,
  ftFmtMemo,
  ftParadoxOle,
  ftDBaseOle,
  ftTypedBinary,
  ftCursor,
  ftFixedChar,
  ftWideString,
  ftLargeint,
};

// The name of a field type as written in code ("ftString"); "ftUnknown" for values outside the enumeration.
const char* FieldTypeName(TFieldType type);

// Engine type codes of advanced field definitions.
inline constexpr std::int32_t aftString = 2;     // text of at most Size characters
inline constexpr std::int32_t aftSmallInt = 6;   // 16-bit signed integer
inline constexpr std::int32_t aftInteger = 7;    // 32-bit signed integer
inline constexpr std::int32_t aftWord = 10;      // 16-bit unsigned integer
inline constexpr std::int32_t aftAutoInc = 12;   // auto-increment integer
inline constexpr std::int32_t aftDouble = 21;    // double-precision number
inline constexpr std::int32_t aftBoolean = 23;   // Boolean
inline constexpr std::int32_t aftDateTime = 27;  // date and time
inline constexpr std::int32_t aftBlob = 31;      // binary
inline constexpr std::int32_t aftGraphic = 32;   // picture
inline constexpr std::int32_t aftMemo = 33;      // text of any length

// The classic type that stores an engine type code; ftUnknown for a code the engine does not know.
TFieldType AdvancedFieldTypeToFieldType(std::int32_t engineTypeCode);

// Index options, a bit set: primary (bit 0), unique (bit 1), descending (bit 2), case-insensitive (bit 3).
// Descending is recorded but the cursor always runs ascending.
using TIndexOptions = std::uint8_t;
inline constexpr TIndexOptions ixPrimary = 1u << 0;
inline constexpr TIndexOptions ixUnique = 1u << 1;
inline constexpr TIndexOptions ixDescending = 1u << 2;
inline constexpr TIndexOptions ixCaseInsensitive = 1u << 3;

struct TFieldDef {
  std::string Name;
  TFieldType DataType = ftUnknown;
  std::int32_t Size = 0;
  bool Required = false;
};

// Field definitions of the dataset layer. Names are unique without regard to case.
class TFieldDefs {
public:
  // Adds a definition; an empty name, a duplicate name or ftUnknown raise EDatabaseError.
  void Add(std::string_view name, TFieldType dataType, std::int32_t size = 0, bool required = false);
  void Clear() { items_.clear(); }
  int Count() const { return static_cast<int>(items_.size()); }
  // Items(i) for 0 <= i < Count(); other indices raise EListError.
  const TFieldDef& Items(int index) const;
  const TFieldDef& operator[](int index) const { return Items(index); }
  // Position of the field of that name (any case), -1 when missing.
  int IndexOf(std::string_view name) const;

private:
  std::vector<TFieldDef> items_;
};

struct TABSAdvFieldDef {
  std::string Name;
  std::int32_t DataType = 0;  // engine type code (aft...)
  std::int32_t Size = 0;
  bool Required = false;
  std::int32_t CompressionAlgorithm = 0;  // recorded; SQLite stores the value uncompressed
  std::int32_t CompressionLevel = 0;
};

// The engine's own field definitions, by engine type code. A table created with any advanced definition
// uses these and ignores its classic ones.
class TABSAdvFieldDefs {
public:
  // Adds a definition; an empty or duplicate name or an unknown type code raise EDatabaseError.
  void Add(std::string_view name, std::int32_t dataType, std::int32_t size = 0, bool required = false,
           std::int32_t compressionAlgorithm = 0, std::int32_t compressionLevel = 0);
  void Clear() { items_.clear(); }
  int Count() const { return static_cast<int>(items_.size()); }
  const TABSAdvFieldDef& Items(int index) const;
  const TABSAdvFieldDef& operator[](int index) const { return Items(index); }
  int IndexOf(std::string_view name) const;

private:
  std::vector<TABSAdvFieldDef> items_;
};

struct TIndexDef {
  std::string Name;
  std::string Fields;  // ";"-separated field names
  TIndexOptions Options = 0;
};

class TIndexDefs {
public:
  // Adds a definition; an empty or duplicate name (any case), an empty field list or a second primary index
  // raise EDatabaseError. Whether the fields exist is checked by CreateTable.
  void Add(std::string_view name, std::string_view fields, TIndexOptions options);
  void Clear() { items_.clear(); }
  int Count() const { return static_cast<int>(items_.size()); }
  const TIndexDef& Items(int index) const;
  const TIndexDef& operator[](int index) const { return Items(index); }
  int IndexOf(std::string_view name) const;

private:
  std::vector<TIndexDef> items_;
};

// ---- database ----

// The file a library file name stands for: the name itself when that file exists, else the one file of its
// folder whose name differs from it only in letter case (the old platform's file names ignored case); two such
// files raise EDatabaseError naming both; with none the name as given.
std::string ResolveFileName(const std::string& fileName);

namespace detail {
class Connection;
struct TableProbe;
}
class TABSTable;

class TABSDatabase {
public:
  TABSDatabase();
  ~TABSDatabase();
  TABSDatabase(const TABSDatabase&) = delete;
  TABSDatabase& operator=(const TABSDatabase&) = delete;

  // The file; changing it closes the database (and its open tables) first.
  void SetDatabaseFileName(std::string fileName);
  const std::string& DatabaseFileName() const { return fileName_; }
  // The alias tables find this database by (with their SessionName). An alias used by another live database
  // object raises EDatabaseError.
  void SetDatabaseName(std::string alias);
  const std::string& DatabaseName() const { return alias_; }
  void SetSessionName(std::string session);
  const std::string& SessionName() const { return session_; }

  // A read-only database opens its file for reading only; its tables refuse every change.
  void SetReadOnly(bool readOnly);
  bool ReadOnly() const { return readOnly_; }
  // Keep the file open while no table is open (default False).
  void SetKeepConnection(bool keep);
  bool KeepConnection() const { return keepConnection_; }
  // Shared use by several programs. SQLite always allows it; the switch is recorded and reported.
  void SetMultiUser(bool multiUser) { multiUser_ = multiUser; }
  bool MultiUser() const { return multiUser_; }
  // How long a writer waits for a lock another program holds, in seconds (default 5; 0 fails at once).
  void SetLockWaitSeconds(std::int32_t seconds);
  std::int32_t LockWaitSeconds() const { return lockWaitSeconds_; }

  // Opens the file (it must exist); Close closes every open table of the database and the file.
  void Open();
  void Close();
  bool Connected() const;

  bool GetExists() const;  // the file exists
  // Makes a new library file with no table; an existing file raises EDatabaseError.
  void CreateDatabase();
  // Closes and removes the file.
  void DeleteDatabase();
  // Closes the database and moves the file to newFileName (a full path), which becomes the file name.
  void RenameDatabase(const std::string& newFileName);
  // The names of the user tables in the file (the engine's bookkeeping tables are never listed).
  void GetTablesList(StringList& list);
  std::vector<std::string> GetTablesList();

  // Groups changes: nothing is on disk before Commit, Rollback undoes all of it. A failed Post inside a
  // transaction fails that record only, unless SQLite ended the whole transaction (a full disk, an I/O error):
  // then that Post and every write after it raise ETransactionLost until Rollback, so nothing written later can
  // reach the file on its own. A Commit that fails rolls the transaction back, ends it and raises
  // ETransactionLost: the file is as it was before StartTransaction.
  void StartTransaction();
  void Commit();
  void Rollback();
  bool InTransaction() const;

  // A run of reads that sees one state of the file: from StartReading to StopReading (calls may nest) the reads
  // of the database's tables see the file as it was at StartReading, and the file's lock is taken once for all
  // of them instead of once per query. Another program's commit waits until StopReading (up to its lock wait),
  // so the run should be short: one answer, one page. A write inside the run ends the shared view first and is
  // stored as it would be outside it; inside a transaction the calls change nothing.
  void StartReading();
  void StopReading() noexcept;

  // The database a table with this session and alias binds to; nullptr when there is none.
  static TABSDatabase* FindDatabase(std::string_view session, std::string_view alias);

private:
  friend class TABSTable;
  detail::Connection& Acquire();  // opens the file if needed
  void Release();                 // closes it when nothing needs it any more
  void AttachTable(TABSTable* table);
  void DetachTable(TABSTable* table);
  void Register();
  void Unregister();
  void Rebind(std::string session, std::string alias);

  std::string fileName_;
  std::string alias_;
  std::string session_ = "DEFAULT";
  bool readOnly_ = false;
  bool keepConnection_ = false;
  bool multiUser_ = false;
  std::int32_t lockWaitSeconds_ = 5;
  std::unique_ptr<detail::Connection> connection_;
  std::vector<TABSTable*> openTables_;
  int users_ = 0;  // calls, transactions and open tables that need the connection
  bool explicitOpen_ = false;
};

// A transaction for the length of a scope: started by the constructor, rolled back by the destructor unless
// Commit ran. The destructor never throws, so a failure that passes through leaves nothing written.
class TABSTransaction {
public:
  explicit TABSTransaction(TABSDatabase& db) : db_(db) { db_.StartTransaction(); }
  ~TABSTransaction() {
    if (!active_) return;
    try {
      db_.Rollback();
    } catch (...) {
    }
  }
  TABSTransaction(const TABSTransaction&) = delete;
  TABSTransaction& operator=(const TABSTransaction&) = delete;
  void Commit() {
    db_.Commit();
    active_ = false;
  }

private:
  TABSDatabase& db_;
  bool active_ = true;
};

// StartReading for the length of a scope; the destructor calls StopReading.
class TABSReadScope {
public:
  explicit TABSReadScope(TABSDatabase& db) : db_(db) { db_.StartReading(); }
  ~TABSReadScope() { db_.StopReading(); }
  TABSReadScope(const TABSReadScope&) = delete;
  TABSReadScope& operator=(const TABSReadScope&) = delete;

private:
  TABSDatabase& db_;
};

// ---- dataset ----

enum class TDataSetState { dsInactive, dsBrowse, dsEdit, dsInsert };

class TDataSet;

// One column of an open dataset. Getters of a field without value give Null, 0, False or "".
class TField {
public:
  // What a value of the field is normalised to, decided once from its type: the setters and the dataset
  // switch on it instead of asking the type's family each time.
  enum class Kind : std::uint8_t { Text, Bytes, Boolean, Integer, Float, Date, Time, DateTime, Other };
  Kind ValueKind() const { return kind_; }
  const std::string& FieldName() const { return name_; }
  TFieldType DataType() const { return dataType_; }
  std::int32_t Size() const { return size_; }
  bool Required() const { return required_; }
  int Index() const { return index_; }
  // The range of a whole-number field.
  std::int64_t Lowest() const { return lowest_; }
  std::int64_t Highest() const { return highest_; }

  Variant Value() const;  // Null when without value
  bool IsNull() const;
  // Inline for a value of the field's own kind (what a reader of every record mostly meets); the others convert.
  bool AsBoolean() const;
  double AsDateTime() const;
  double AsFloat() const;
  std::int32_t AsInteger() const;
  std::int64_t AsLargeInt() const;
  std::string AsString() const;  // dates and numbers in the process format settings; BLOBs as bytes
  std::string Text() const { return AsString(); }

  // Setters need the dataset in edit or insert state. Text values are parsed with the process format
  // settings; strings are cut to Size characters; integers outside the field's range raise EDatabaseError.
  void SetValue(const Variant& value);
  void SetAsBoolean(bool value);
  void SetAsDateTime(double value);
  void SetAsFloat(double value);
  void SetAsInteger(std::int32_t value);
  void SetAsLargeInt(std::int64_t value);
  void SetAsString(std::string_view value);
  void SetText(std::string_view value) { SetAsString(value); }
  void Clear();

private:
  friend class TDataSet;
  friend class TNewRecordDefaults;  // stores values it read back from the field before
  TField(TDataSet& owner, int index, std::string name, TFieldType dataType, std::int32_t size, bool required);
  const Variant& Current() const;
  static const Variant& NullVariant();
  bool ConvertToBoolean(const Variant& v) const;
  double ConvertToFloat(const Variant& v) const;
  std::int64_t ConvertToLargeInt(const Variant& v) const;
  [[noreturn]] void IntegerOutOfRange(std::int64_t value) const;
  void Store(Variant value);
  void CheckRange(std::int64_t value) const;

  TDataSet* owner_;
  int index_;
  std::string name_;
  TFieldType dataType_;
  std::int32_t size_;
  bool required_;
  Kind kind_;
  std::int64_t lowest_, highest_;  // the range of an integer field
};

// The cursor of a table: open/close, navigation, editing and field access. TABSTable is the one concrete kind.
class TDataSet {
public:
  virtual ~TDataSet();
  TDataSet(const TDataSet&) = delete;
  TDataSet& operator=(const TDataSet&) = delete;

  void Open();
  void Close();
  bool Active() const { return state_ != TDataSetState::dsInactive; }
  bool GetActive() const { return Active(); }
  void SetActive(bool active);
  TDataSetState State() const { return state_; }

  void First();
  void Last();
  void Next();
  void Prior();
  bool Eof() const { return eof_; }
  bool Bof() const { return bof_; }
  bool IsEmpty();
  // Number of records in the table.
  std::int32_t RecordCount();
  // Starts the cursor over on the current record, seeing what other programs have posted.
  void Refresh();
  // Moves Distance records forward (backward when negative) without reading the records passed over; stops
  // on the last (first) record with Eof (Bof) set. Gives the number of records moved, negative backward.
  std::int32_t MoveBy(std::int32_t Distance);
  // A bookmark names the current record (the engine's row key; 0 when there is none, as for a record being
  // inserted); GotoBookmark makes that record current again in any index order, and gives False with the
  // cursor unchanged when the record is gone.
  using TBookmark = std::int64_t;
  TBookmark GetBookmark() const;
  bool GotoBookmark(TBookmark Bookmark);

  // New record at the end (Append) or at the cursor (Insert); both store the same way.
  void Append();
  void Insert();
  // Edit of the current record; in insert or edit state nothing changes; on an empty dataset it starts a new
  // record, as Append.
  void Edit();
  void Post();
  void Cancel();
  // Deletes the current record; in insert state drops the new record.
  void Delete();

  int FieldCount() const { return static_cast<int>(fields_.size()); }
  // The field at `index`; an index out of range raises EListError. Inline: readers call it for every value.
  TField& Fields(int index) {
    if (static_cast<std::size_t>(index) >= fields_.size()) FieldIndexError(index);  // a negative one too
    return *fields_[static_cast<std::size_t>(index)];
  }
  // The field of that name (any case); an unknown name raises EDatabaseError "Field 'X' not found".
  TField& FieldByName(std::string_view name);
  TField* FindField(std::string_view name);

protected:
  TDataSet() = default;

  struct ColumnInfo {
    std::string Name;
    TFieldType DataType = ftUnknown;
    std::int32_t Size = 0;
    bool Required = false;
  };
  // The columns of the table; the concrete dataset opens its storage here.
  virtual std::vector<ColumnInfo> DoOpen() = 0;
  virtual void DoClose() = 0;
  // The record keys of the cursor's order: all of them in a small table, else a window of them.
  struct KeyWindow {
    std::vector<std::int64_t> Keys;
    std::int64_t Start = -1;  // the position of Keys[0] in the order; -1 when not known
    bool Whole = false;       // Keys holds every key of the order
    bool AtStart = false;     // no key comes before Keys[0]
    bool AtEnd = false;       // no key comes after Keys.back()
  };
  enum class KeysWanted { First, Last, From, After, Before, Around };
  // First, Last: the first (last) `count` keys, or every key of a small table (Whole). From: the keys from
  // position `at`, clamped to the positions there are. After, Before: the keys after (before) the key `at` of
  // the window given last. Around: the keys around the record of key `at` (as First when it is gone). At most
  // `count` keys, fewer only where the order ends.
  virtual void DoLoadKeys(KeysWanted wanted, std::int64_t at, std::size_t count, KeyWindow& window) = 0;
  // Reads the records of the given keys into rows[0..count), which come with key 0 and may hold the values of
  // earlier records: a record is read into them in place, keeping their room. A missing key leaves its row with
  // key 0 (deleted).
  struct Row {
    std::int64_t Key = 0;
    std::vector<Variant> Values;
    bool Read = false;  // a row of the read-ahead page: Values hold the record of Key (not yet taken by the cursor)
  };
  virtual void DoFetch(const std::int64_t* keys, std::size_t count, std::vector<Row>& rows) = 0;
  virtual std::int32_t DoRecordCount() = 0;
  // Stores the record; returns its key. `values` may be changed (auto-increment numbers).
  virtual std::int64_t DoInsert(std::vector<Variant>& values) = 0;
  virtual void DoUpdate(std::int64_t key, std::vector<Variant>& values) = 0;
  virtual void DoDelete(std::int64_t key) = 0;
  virtual bool IsReadOnly() const = 0;
  virtual std::string DisplayName() const = 0;
  // Whether the order of the cursor is insertion order, so a new record goes to the end.
  virtual bool InsertionOrder() const = 0;

  // Makes `row` the current record (used by key look-ups of the concrete dataset); `row` is left with the values
  // of the record current before, whose room the next look-up can fill.
  void PositionOn(Row& row);
  void CheckBrowseable();
  void CheckActive() const;
  Variant NormalizeForField(const TField& field, const Variant& value) const;
  void ResetCursor();

private:
  friend class TField;
  [[noreturn]] static void FieldIndexError(int index);
  void EnsureKeys();
  void LoadKeys(KeysWanted wanted, std::int64_t at, std::size_t count);
  void TakeKeys(KeyWindow& window);
  bool TurnWindow(bool forward);
  void KeepLastKeys();
  std::int32_t MoveInWindows(std::int32_t distance);
  bool LoadAt(std::size_t pos, bool forward);
  void CheckWritable() const;
  void ClearCurrent();

  TDataSetState state_ = TDataSetState::dsInactive;
  std::vector<std::unique_ptr<TField>> fields_;
  std::vector<std::size_t> required_;  // fields that Post checks for a value (required, not auto-increment)
  std::map<std::string, int, std::less<>> exactIndex_;  // name as stored -> index (the common, cheap look-up)
  std::map<std::string, int, std::less<>> fieldIndex_;  // case-folded name -> index

  std::vector<std::int64_t> keys_;  // every key of the order, or a window of them (see KeyWindow)
  bool keysValid_ = false;
  std::int64_t keysStart_ = 0;   // the position of keys_[0]; -1 when not known
  bool keysWhole_ = true;
  bool keysAtStart_ = true;
  bool keysAtEnd_ = true;
  std::int64_t windowFront_ = 0;  // the first and last keys of the window as it was given, which the table
  std::int64_t windowBack_ = 0;   // turns the window at
  std::size_t pos_ = 0;  // position of the current record in keys_, when keysValid_ and posValid_
  bool posValid_ = false;
  std::vector<Row> page_;        // its rows keep their room from page to page
  std::size_t pageStart_ = 0;    // the position of page_[0] in keys_; kNoPage when the page holds nothing
  Row current_;
  bool hasCurrent_ = false;
  std::vector<Variant> buffer_;  // the record being edited or inserted
  bool eof_ = true;
  bool bof_ = true;
};

// The value a field reads: the record being edited or inserted, else the current record (Null without one).
// Inline: every getter of every value reads through it.
inline const Variant& TField::Current() const {
  const TDataSet& ds = *owner_;
  const auto i = static_cast<std::size_t>(index_);
  static_assert(TDataSetState::dsInsert > TDataSetState::dsEdit && TDataSetState::dsEdit > TDataSetState::dsBrowse);
  if (ds.state_ >= TDataSetState::dsEdit) return ds.buffer_[i];
  if (ds.hasCurrent_ && i < ds.current_.Values.size()) return ds.current_.Values[i];
  return NullVariant();
}

inline bool TField::AsBoolean() const {
  const Variant& v = Current();
  return v.Type() == VarType::Boolean ? v.RawBool() : ConvertToBoolean(v);
}

inline double TField::AsFloat() const {
  const Variant& v = Current();
  return v.Type() == VarType::Double ? v.RawDouble() : ConvertToFloat(v);
}

inline std::int64_t TField::AsLargeInt() const {
  const Variant& v = Current();
  return v.Type() == VarType::Integer ? v.RawInteger() : ConvertToLargeInt(v);
}

inline std::int32_t TField::AsInteger() const {
  const std::int64_t value = AsLargeInt();
  if (value < std::numeric_limits<std::int32_t>::min() || value > std::numeric_limits<std::int32_t>::max())
    IntegerOutOfRange(value);
  return static_cast<std::int32_t>(value);
}

// A table of a library file.
class TABSTable : public TDataSet {
public:
  TABSTable();
  ~TABSTable() override;

  void SetSessionName(std::string session);
  const std::string& SessionName() const { return session_; }
  // The alias of the database (TABSDatabase::DatabaseName) this table belongs to.
  void SetDatabaseName(std::string alias);
  const std::string& DatabaseName() const { return alias_; }
  void SetTableName(std::string name);
  const std::string& TableName() const { return tableName_; }
  // The name the open table bears in its file (see "one table per file" above); TableName while closed.
  const std::string& TableNameInFile() const;
  void SetReadOnly(bool readOnly);
  bool ReadOnly() const { return readOnly_; }
  // The database the table is bound to (by session and alias); EDatabaseError when there is none.
  TABSDatabase& Database() const;

  TFieldDefs& FieldDefs() { return fieldDefs_; }
  const TFieldDefs& FieldDefs() const { return fieldDefs_; }
  TABSAdvFieldDefs& AdvFieldDefs() { return advFieldDefs_; }
  const TABSAdvFieldDefs& AdvFieldDefs() const { return advFieldDefs_; }
  TIndexDefs& IndexDefs() { return indexDefs_; }
  const TIndexDefs& IndexDefs() const { return indexDefs_; }

  // Creates the table from the advanced definitions when there are any, else from the classic ones, with its
  // indexes; the file must exist. An existing table of that name raises EDatabaseError.
  void CreateTable();
  bool GetTableExists();
  bool Exists() { return GetTableExists(); }
  // Gives the closed table a new name inside its file.
  void RenameTable(const std::string& newName);
  // Removes the closed table from its file.
  void DeleteTable();
  // Reads the field and index definitions of the table from its file (Open does so as well).
  void ReadDefinitions();

  // The index that orders the cursor and that FindKey searches ("" = none, insertion order). Setting it on
  // an open table starts the cursor over on the first record.
  void SetIndexName(std::string_view indexName);
  const std::string& IndexName() const { return indexName_; }
  std::string GetIndexName() const { return indexName_; }
  // Looks for the first record whose leading index fields equal `keys` (converted to the fields' types);
  // True and positioned there, or False with the cursor unchanged. Needs a current index.
  bool FindKey(const std::vector<Variant>& keys);

  // Reads every record of the table in the order records were added, only the fields named (any case), and hands
  // their values, in that order, to `each` (False stops the scan): for readers of whole tables that need a few
  // fields fast. The values are views into the row read, in the forms a field gives (Variant::Assign keeps one),
  // valid only during the call of `each`: nothing is copied or allocated per record. Works on a closed table
  // (nothing of the cursor is built) and leaves an open one's cursor alone.
  void ScanRecords(const std::vector<std::string>& fields,
                   const std::function<bool(const std::vector<VariantView>&)>& each);

  struct Impl;  // the open table's statements and column layout; internal to the engine

private:
  std::vector<ColumnInfo> DoOpen() override;
  void DoClose() override;
  void DoLoadKeys(KeysWanted wanted, std::int64_t at, std::size_t count, KeyWindow& window) override;
  void DoFetch(const std::int64_t* keys, std::size_t count, std::vector<Row>& rows) override;
  std::int32_t DoRecordCount() override;
  std::int64_t DoInsert(std::vector<Variant>& values) override;
  void DoUpdate(std::int64_t key, std::vector<Variant>& values) override;
  void DoDelete(std::int64_t key) override;
  bool IsReadOnly() const override;
  std::string DisplayName() const override;
  bool InsertionOrder() const override { return indexName_.empty(); }


  std::string session_ = "DEFAULT";
  std::string alias_;
  std::string tableName_;
  bool readOnly_ = false;
  std::string indexName_;
  TFieldDefs fieldDefs_;
  TABSAdvFieldDefs advFieldDefs_;
  TIndexDefs indexDefs_;
  std::unique_ptr<Impl> impl_;  // the open table's statements and column layout
  TABSDatabase* database_ = nullptr;  // while open
  friend struct detail::TableProbe;  // the engine's tests look at the open table's state
};

enum class TBlobStreamMode { bmRead, bmWrite, bmReadWrite };

// A stream over the content of a BLOB or memo field. In write mode the content is replaced by what is
// written; writes reach the field at once (the record still needs Post).
class TABSBLOBStream {
public:
  TABSBLOBStream(TField& field, TBlobStreamMode mode);
  std::size_t Read(void* buffer, std::size_t count);
  std::size_t Write(const void* buffer, std::size_t count);
  std::size_t Write(std::string_view bytes) { return Write(bytes.data(), bytes.size()); }
  std::int64_t Size() const { return static_cast<std::int64_t>(content_.size()); }
  std::int64_t Position() const { return static_cast<std::int64_t>(position_); }
  void Seek(std::int64_t position);
  // Cuts the content at the current position.
  void Truncate();

private:
  TField& field_;
  TBlobStreamMode mode_;
  std::string content_;
  std::size_t position_ = 0;
};

}  // namespace vez

#include "convert/ConvertParadox.h"

#include <algorithm>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <atomic>
#include <cmath>
#include <functional>
#include <memory>
#include <optional>
#include <random>

#include "core/CaseFold.h"
#include "core/Exceptions.h"
#include "core/FormatSettings.h"
#include "core/TextEncoding.h"
#include "import/SMParadox.h"
#include "librarydb/Absmain.h"
#include "librarydb/Defaults.h"
#include "librarydb/Layouts.h"
#include "librarydb/OVLibConst.h"
#include "convert/internal/StoredRecords.h"
#include "convert/internal/Walk.h"

namespace vez {

namespace fs = std::filesystem;
using detail::ErrorLine;
using detail::IsErrorLine;
using detail::kConvertingLine;

namespace {

// Message texts of the conversion.
constexpr const char* kFieldMissingLine = "Field not found \"%s\"";
constexpr const char* kUnknownType = "Unknown Database Type";
constexpr const char* kNoDefinitions = "Error: Neither Field- nor Index definitions";
constexpr const char* kUnknownFieldType = "Unknown FieldType";
constexpr const char* kExistsLine = "Library exists already: \"%s\" (%d records), not converted again";
constexpr const char* kTextCutLine = "Text cut to the field size: %d values";
constexpr const char* kShortTable = "Only %d of the %d records that the header counts were found";
constexpr const char* kDroppedLine = "Fields not in the library hold values: %s (non-empty cells: %d)";
constexpr const char* kDifferencesLine = "%d values in the library differ from the table";
constexpr const char* kDifferenceLine = "Record %d, field \"%s\": %s in the table, %s in the library";
constexpr const char* kMissingRecordLine = "Record %d and the records after it are missing in the library";
constexpr const char* kInterruptedTableLine = "Interrupted: nothing of this table was written";

// The day number of the date this library was built (__DATE__ is "Mmm dd yyyy").
Date BuildDate() {
  static const char* const months = "JanFebMarAprMayJunJulAugSepOctNovDec";
  const std::string d = __DATE__;
  const int month = static_cast<int>(std::string(months).find(d.substr(0, 3)) / 3) + 1;
  const int day = std::atoi(d.substr(4, 2).c_str());
  const int year = std::atoi(d.substr(7, 4).c_str());
  return DMYtoDate(day, month, year);
}

Date& ProgramDateRef() {
  static Date date = BuildDate();
  return date;
}

// The column type of a Paradox field type for tables without a layout of their own.
bool ColumnTypeOf(std::int32_t paradoxType, std::int32_t paradoxSize, TFieldType& type, std::int32_t& size) {
  size = 0;
  switch (paradoxType) {
    case 1: type = ftString; size = std::max(paradoxSize, 0); return true;
    case 2: type = ftDate; return true;
    case 3: type = ftSmallint; return true;
    case 4: type = ftInteger; return true;
    case 5: type = ftCurrency; return true;
    case 6: type = ftFloat; return true;
    case 9: type = ftBoolean; return true;
    case 12: type = ftMemo; return true;
    case 13: type = ftBlob; return true;
    case 14: type = ftFmtMemo; return true;
    case 15: type = ftParadoxOle; return true;
    case 16: type = ftGraphic; return true;
    case 20: type = ftTime; return true;
    case 21: type = ftDateTime; return true;
    case 22: type = ftAutoInc; return true;
    case 23: type = ftBCD; return true;
    case 24: type = ftBytes; return true;
    default: return false;
  }
}

}  // namespace

void TConvertLog::Add(const std::string& line) {
  lines_.Add(line);
  if (view_) view_->LogLine(line);
}

void SetProgramDate(Date programDate) { ProgramDateRef() = programDate; }
Date ProgramDate() { return ProgramDateRef(); }

const char* OutcomeText(TTableOutcome outcome) {
  switch (outcome) {
    case TTableOutcome::Converted: return "converted";
    case TTableOutcome::Incomplete: return "incomplete";
    case TTableOutcome::Failed: return "failed";
    case TTableOutcome::Skipped: return "skipped because the library exists";
    case TTableOutcome::NoRecords: return "no records";
    case TTableOutcome::NoLibraryType: return "no library type";
    case TTableOutcome::Encrypted: return "encrypted";
    case TTableOutcome::Unreadable: return "unreadable";
    case TTableOutcome::Interrupted: return "interrupted";
  }
  return "failed";
}

namespace {

// The stage a table's conversion failed in decides its outcome.
enum class Stage { Reading, Writing };

// Leaves a table's loops when the run is interrupted.
struct Interruption {};

void CheckInterrupted(const TConvertOptions& options) {
  if (options.Interrupted && options.Interrupted()) throw Interruption{};
}

// A folder of its own under the system's temporary folder, for the scratch library of a dry run; removed with
// its content.
class ScratchFolder {
public:
  ScratchFolder() {
    std::random_device random;
    do {
      path_ = fs::temp_directory_path() / ("vez-dry-run-" + std::to_string(random()));
    } while (!fs::create_directory(path_));
  }
  ~ScratchFolder() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  std::string Dir() const { return path_.string() + "/"; }

private:
  fs::path path_;
};

// A Paradox table read record by record (step loading): each record's cells, Null where the reader gave none.
class RecordStream {
public:
  explicit RecordStream(const std::string& password) {
    reader_.StepLoading = true;
    reader_.Password = password;
    reader_.OnDimensions = [](TCustomSpreadSheetFile&, std::int32_t, std::int32_t, std::int32_t, std::int32_t,
                              std::int32_t) {};
    reader_.OnColumnWidth = [](TCustomSpreadSheetFile&, std::int32_t, std::int32_t, std::int32_t) {};
    reader_.OnCellValue = [this](TCustomSpreadSheetFile&, std::int32_t, std::int32_t, std::int32_t column,
                                 std::int32_t, const Variant& value, TAlignment) {
      if (column >= 0 && static_cast<std::size_t>(column) < cells_.size()) {
        cells_[static_cast<std::size_t>(column)] = value;
        delivered_[static_cast<std::size_t>(column)] = true;
      }
    };
  }
  void Load(const std::string& file) {
    reader_.LoadFromFile(file);
    cells_.assign(reader_.Fields().size(), Variant::Null());
    delivered_.assign(reader_.Fields().size(), false);
  }
  // Reads record `row` (rows in ascending order); False when the block chain ended before it.
  bool Next(std::int32_t row) {
    std::fill(delivered_.begin(), delivered_.end(), false);
    const std::int32_t walked = reader_.RecordsRead();
    reader_.LoadRecord(row);
    return reader_.RecordsRead() != walked;
  }
  const Variant& Cell(std::size_t i) const { return delivered_[i] ? cells_[i] : null_; }
  TDBParadox& Reader() { return reader_; }
  std::int32_t Records() const { return std::max(reader_.RecordCount(), 0); }

private:
  TDBParadox reader_;
  std::vector<Variant> cells_;
  std::vector<bool> delivered_;
  const Variant null_ = Variant::Null();
};

// ---- verification ----

bool IsEmptyCell(const Variant& v) { return v.IsClear() || (v.Type() == VarType::String && v.RawString().empty()); }

// A date-time to the millisecond, the precision the library stores.
std::int64_t Milliseconds(double days) { return std::llround(days * 86400000.0); }

// Two values of which neither is text.
bool SameScalar(const Variant& a, const Variant& b) {
  if (a.Type() == VarType::DateTime || b.Type() == VarType::DateTime) {
    return Milliseconds(a.AsDateTime()) == Milliseconds(b.AsDateTime());
  }
  if (a.Type() == VarType::Boolean && b.Type() == VarType::Boolean) return a.RawBool() == b.RawBool();
  if (a.Type() == VarType::Boolean || b.Type() == VarType::Boolean) {
    const bool flag = a.Type() == VarType::Boolean ? a.RawBool() : b.RawBool();
    const Variant& number = a.Type() == VarType::Boolean ? b : a;
    return number.AsFloat() == (flag ? 1.0 : 0.0);
  }
  if (a.Type() == VarType::Integer && b.Type() == VarType::Integer) return a.RawInteger() == b.RawInteger();
  return a.AsFloat() == b.AsFloat();
}

// Whether the library holds a table's cell: texts and bytes exactly; a text and a value of another kind (a text
// field filled from a number, or the other way round) by the text read as that kind.
bool SameCell(const Variant& cell, const Variant& stored) {
  if (stored.IsClear()) return false;
  const bool cellText = cell.Type() == VarType::String, storedText = stored.Type() == VarType::String;
  if (cellText && storedText) return cell.RawString() == stored.RawString();
  try {
    if (cellText || storedText) {
      const Variant& text = cellText ? cell : stored;
      const Variant& other = cellText ? stored : cell;
      Variant read;
      switch (other.Type()) {
        case VarType::DateTime: read = Variant::FromDateTime(text.AsDateTime()); break;
        case VarType::Boolean: read = Variant(text.AsBoolean()); break;
        default: read = Variant(text.AsFloat()); break;
      }
      return SameScalar(read, other);
    }
    return SameScalar(cell, stored);
  } catch (const std::exception&) {
    return false;  // the text does not read as the other value's kind
  }
}

// A value as the report shows it.
std::string CellText(const Variant& v) {
  if (v.IsClear()) return "empty";
  if (v.Type() != VarType::String) return v.Type() == VarType::DateTime ? DateTimeToISO(v.RawDateTime()) : v.AsString();
  const std::string& s = v.RawString();
  if (!IsValidUtf8(s)) return Format("%d bytes", s.size());
  const std::size_t length = Utf8Length(s);
  if (length <= 40) return "\"" + s + "\"";
  std::size_t end = 0;
  for (std::size_t chars = 0; end < s.size(); ++end) {
    if ((static_cast<unsigned char>(s[end]) & 0xC0) != 0x80 && chars++ == 40) break;
  }
  return Format("\"%s...\" (%d characters)", s.substr(0, end), length);
}

// A 128-bit digest of a record's values in a canonical form, so that equal digests mean cells that SameCell finds
// equal: texts and bytes exactly, numbers by value whatever their type (Booleans as 0 and 1), dates to the
// millisecond; an empty text and no value alike. Each value is one step of two lanes (its kind and field, and a
// word of it), a text one more step per 8 bytes. Every step is a bijection of each lane's state and of the word
// taken, so records that differ in one value always have different digests.
class Digest {
public:
  // A value of the table, as the reader gave it.
  void Add(std::uint16_t field, const Variant& v) {
    switch (v.Type()) {
      case VarType::String: return Text(field, v.RawString());
      case VarType::Integer: return Integer(field, v.RawInteger());
      case VarType::Double: return Number(field, v.RawDouble());
      case VarType::Boolean: return Number(field, v.RawBool() ? 1.0 : 0.0);
      case VarType::DateTime: return DateTime(field, v.RawDateTime());
      default: return Step(Tagged('e', field), 0);
    }
  }
  // The same canonical form from a view (a value the library's scan hands out without copying it).
  void Add(std::uint16_t field, const VariantView& v) {
    switch (v.type) {
      case VarType::String: return Text(field, v.text);
      case VarType::Integer: return Integer(field, v.integer);
      case VarType::Double: return Number(field, v.number);
      case VarType::Boolean: return Number(field, v.integer != 0 ? 1.0 : 0.0);
      case VarType::DateTime: return DateTime(field, v.number);
      default: return Step(Tagged('e', field), 0);
    }
  }
  bool operator==(const Digest& o) const { return a_ == o.a_ && b_ == o.b_; }

private:
  static std::uint64_t Tagged(char tag, std::uint16_t field) {
    return (static_cast<std::uint64_t>(static_cast<unsigned char>(tag)) << 16) | field;
  }
  void Text(std::uint16_t field, std::string_view text) {
    if (text.empty()) return Step(Tagged('e', field), 0);
    Step(Tagged('s', field), text.size());
    std::size_t i = 0;
    for (; i + 8 <= text.size(); i += 8) {
      std::uint64_t w;
      std::memcpy(&w, text.data() + i, 8);
      Step(0, w);
    }
    if (i == text.size()) return;
    std::uint64_t tail = 0;
    std::memcpy(&tail, text.data() + i, text.size() - i);
    Step(0, tail);
  }
  void Integer(std::uint16_t field, std::int64_t i) {
    if (i >= -(std::int64_t{1} << 53) && i <= (std::int64_t{1} << 53)) return Number(field, static_cast<double>(i));
    Step(Tagged('i', field), static_cast<std::uint64_t>(i));
  }
  void DateTime(std::uint16_t field, double days) {
    Step(Tagged('d', field), static_cast<std::uint64_t>(Milliseconds(days)));
  }
  void Number(std::uint16_t field, double d) {
    if (d == 0) d = 0.0;  // -0 and 0 are one number
    std::uint64_t bits;
    std::memcpy(&bits, &d, 8);
    Step(Tagged('n', field), bits);
  }
  void Step(std::uint64_t tag, std::uint64_t w) {
    a_ = (a_ ^ w) * 0x100000001b3ull + tag;
    a_ ^= a_ >> 29;
    b_ = ((b_ + w) * 0x9E3779B97F4A7C15ull) ^ tag;
    b_ = (b_ << 31) | (b_ >> 33);
  }
  std::uint64_t a_ = 14695981039346656037ull;
  std::uint64_t b_ = 0x6a09e667f3bcc909ull;
};

// The digests of the records written, in the order written, in an unnamed temporary file: the memory of a
// conversion does not grow with its table.
class DigestFile {
public:
  DigestFile() : file_(std::tmpfile()) {
    if (!file_) throw EInOutError(std::string("Cannot make a temporary file: ") + std::strerror(errno));
  }
  ~DigestFile() { std::fclose(file_); }
  DigestFile(const DigestFile&) = delete;
  DigestFile& operator=(const DigestFile&) = delete;
  void Write(const Digest& d) {
    if (std::fwrite(&d, sizeof d, 1, file_) != 1) throw EInOutError("Cannot write a temporary file");
    ++count_;
  }
  void Rewind() { std::rewind(file_); }
  bool Read(Digest& d) { return std::fread(&d, sizeof d, 1, file_) == 1; }
  std::int64_t Count() const { return count_; }

private:
  std::FILE* file_;
  std::int64_t count_ = 0;
};

// The fields of a Paradox table that have a field of the same name in the (closed) library table: their indexes.
std::vector<std::size_t> MatchFields(const std::vector<TParadoxField>& fields, TABSTable& library) {
  library.ReadDefinitions();
  std::vector<std::size_t> matched;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (library.FieldDefs().IndexOf(fields[i].Name) >= 0) matched.push_back(i);
  }
  return matched;
}

// Reads the library back from its file, only the fields that took the table's values, and compares each record's
// digest with the digest of the cells written into it. True when every record is there and equal; otherwise (or
// when a value is stored in a form the file reader leaves to the engine) the detailed comparison (VerifyLibrary)
// tells what differs.
bool SameDigests(const std::string& libraryFile, const std::vector<TParadoxField>& fields, DigestFile& digests,
                 const TConvertOptions& options) {
  TMyTable lib(libraryFile, true);
  TABSTable& library = lib.Table();
  const auto matched = MatchFields(fields, library);
  std::vector<std::string> columns;
  std::vector<TFieldType> types;
  for (std::size_t i : matched) {
    const TFieldDef& def = library.FieldDefs()[library.FieldDefs().IndexOf(fields[i].Name)];
    columns.push_back(def.Name);
    types.push_back(def.DataType);
  }
  digests.Rewind();
  std::int64_t records = 0;
  bool same = true;
  auto compare = [&](const std::vector<VariantView>& values, bool understood) {
    if (++records % 1000 == 0) CheckInterrupted(options);
    Digest stored, found;
    for (std::size_t j = 0; j < matched.size(); ++j) found.Add(static_cast<std::uint16_t>(matched[j]), values[j]);
    same = understood && digests.Read(stored) && stored == found;
    return same;
  };
  const bool read =
      detail::ReadStoredRecords(lib.Database().DatabaseFileName(), library.TableName(), columns, types, compare);
  return read && same && records == digests.Count();
}

std::atomic<std::int64_t> tablesComparedCellByCell{0};  // see detail::TablesComparedCellByCell

// Reads the library back and compares it with the Paradox table, read anew: record r of the table with the r-th
// record of the library in the order records were added, each non-empty cell with the library field of the same
// name. The table's records the library refused (`rejected`, their indexes in ascending order) were not added:
// they are passed over, so that the records after them meet their own. Fills the verification members of `r`.
void VerifyLibrary(const std::string& libraryFile, TConvertedTable& r, const TConvertOptions& options,
                   const std::vector<std::int32_t>& rejected = {}) {
  RecordStream table(options.Password);
  table.Load(r.Source);
  TMyTable lib(libraryFile, true);
  TABSTable& library = lib.Table();
  const auto& fields = table.Reader().Fields();
  const auto matched = MatchFields(fields, library);
  std::vector<std::string> columns;
  std::vector<bool> inLibrary(fields.size(), false);
  for (std::size_t i : matched) {
    columns.push_back(fields[i].Name);
    inLibrary[i] = true;
  }
  std::vector<std::int32_t> dropped(fields.size(), 0);
  auto differs = [&](std::int32_t row, const std::string& field, std::string tableValue, std::string libraryValue) {
    ++r.Differences;
    if (r.FirstDifferences.size() < kMaxReportedDifferences)
      r.FirstDifferences.push_back({row + 1, field, std::move(tableValue), std::move(libraryValue)});
  };
  // Reads the next record of the table and counts its values that have no field in the library.
  std::int32_t row = 0;
  auto next = [&] {
    for (;; ++row) {
      if (row >= table.Records() || !table.Next(row)) return false;
      if (row % 1000 == 999) CheckInterrupted(options);
      if (!std::binary_search(rejected.begin(), rejected.end(), row)) break;
    }
    for (std::size_t i = 0; i < fields.size(); ++i)
      if (!inLibrary[i] && !IsEmptyCell(table.Cell(i))) ++dropped[i];
    return true;
  };
  bool tableEnded = false;
  Variant stored;  // the library's value compared, in place
  library.ScanRecords(columns, [&](const std::vector<VariantView>& values) {
    if (!next()) {
      tableEnded = true;  // records the library holds beyond the table's are no loss
      return false;
    }
    for (std::size_t j = 0; j < matched.size(); ++j) {
      const Variant& cell = table.Cell(matched[j]);
      if (IsEmptyCell(cell)) continue;
      stored.Assign(values[j]);
      if (!SameCell(cell, stored)) differs(row, fields[matched[j]].Name, CellText(cell), CellText(stored));
    }
    ++row;
    return true;
  });
  if (!tableEnded && next()) {
    differs(row, "", "a record", "missing");
    for (++row; next(); ++row) {
    }
  }
  for (std::size_t i = 0; i < fields.size(); ++i)
    if (dropped[i] > 0) r.DroppedFields.push_back({fields[i].Name, dropped[i]});
  r.Verified = true;
}

// The log lines and the reason of a verification that found something.
std::vector<std::string> VerificationLines(const TConvertedTable& r) {
  std::vector<std::string> lines;
  if (!r.DroppedFields.empty()) {
    std::string names;
    std::int64_t values = 0;
    for (const auto& d : r.DroppedFields) {
      names += (names.empty() ? "" : ", ") + d.Name;
      values += d.Values;
    }
    lines.push_back(Format(kDroppedLine, names, values));
  }
  if (r.Differences > 0) lines.push_back(Format(kDifferencesLine, r.Differences));
  for (const auto& d : r.FirstDifferences) {
    lines.push_back(d.Field.empty() ? Format(kMissingRecordLine, d.Record)
                                    : Format(kDifferenceLine, d.Record, d.Field, d.TableValue, d.LibraryValue));
  }
  return lines;
}

// ---- the library before the conversion ----

enum class LibraryState { Missing, Leftover, Empty, Filled };

// What the library file holds: nothing (Missing), no table at all (Leftover: a creation that was interrupted),
// its table without or with records. Read through the engine alone, so that nothing is ever deleted here; a file
// that is no database raises.
LibraryState InspectLibrary(const std::string& file, const std::string& tableName, std::int32_t& records) {
  static std::atomic<std::uint64_t> next{1};
  const std::string alias = "convert-inspect-" + std::to_string(next.fetch_add(1));
  TABSDatabase db;
  db.SetDatabaseName(alias);
  db.SetDatabaseFileName(file);
  db.SetReadOnly(true);
  if (!db.GetExists()) return LibraryState::Missing;
  if (db.GetTablesList().empty()) return LibraryState::Leftover;
  TABSTable table;
  table.SetDatabaseName(alias);
  table.SetTableName(tableName);
  table.SetReadOnly(true);
  table.Open();
  records = table.RecordCount();
  return records > 0 ? LibraryState::Filled : LibraryState::Empty;
}

// Gives a new library table its fields and indexes: the layout of its type, or one field per Paradox field with
// the indexes of its type. False (and logged) when the type has neither.
bool DefineLibrary(TABSTable& table, std::int32_t libType, const std::vector<TParadoxField>& fields,
                   const std::function<void(const std::string&)>& log) {
  if (SetFieldIndexDefs(table, libType, false)) return true;
  table.FieldDefs().Clear();
  for (const auto& f : fields) {
    TFieldType type;
    std::int32_t size;
    if (!ColumnTypeOf(f.FieldType, f.Size, type, size)) throw Exception(kUnknownFieldType);
    table.FieldDefs().Add(f.Name, type, size, false);
  }
  if (SetIndexDefs(table, libType, false)) return true;
  log(kNoDefinitions);
  return false;
}

// Appends every record of the table to the open library table in one transaction: the defaults of the type,
// then the cells of the fields the library has. Logs each table, its missing fields and its errors; the records
// the library refused go into `rejected`.
void FillLibrary(RecordStream& source, TMyTable& lib, TConvertedTable& r, const TConvertOptions& options,
                 TConversionView* View, Stage& stage, const std::function<void(const std::string&)>& log,
                 DigestFile& digests, std::vector<std::int32_t>& dropped, std::vector<std::int32_t>& rejected) {
  TABSTable& table = lib.Table();
  table.Open();
  const auto& fields = source.Reader().Fields();
  dropped.assign(fields.size(), 0);
  std::vector<TField*> targets(fields.size(), nullptr);
  std::vector<bool> cutCheck(fields.size(), false);
  for (std::size_t i = 0; i < fields.size(); ++i) {
    targets[i] = table.FindField(fields[i].Name);
    if (!targets[i]) {
      log(Format(kFieldMissingLine, fields[i].Name));
    } else {
      cutCheck[i] = targets[i]->DataType() == ftString && targets[i]->Size() > 0;
    }
  }
  const std::int32_t before = table.RecordCount();
  TNewRecordDefaults defaults(table, r.LibType);
  TABSTransaction transaction(lib.Database());
  for (std::int32_t row = 0; row < r.RecordsInHeader; ++row) {
    CheckInterrupted(options);
    stage = Stage::Reading;
    const bool read = source.Next(row);
    stage = Stage::Writing;
    if (!read) break;  // the block chain ended early
    ++r.RecordsRead;
    table.Append();
    defaults.Apply(Now());  // a failure here ends this table
    for (std::size_t i = 0; i < fields.size(); ++i) {
      if (!targets[i]) continue;
      const Variant& value = source.Cell(i);
      try {
        if (cutCheck[i] && value.Type() == VarType::String &&
            Utf8Length(value.RawString()) > static_cast<std::size_t>(targets[i]->Size()))
          ++r.TextCut;
        targets[i]->SetValue(value);
      } catch (const std::exception& e) {
        ++r.Rejected;
        log(ErrorLine(e.what()));
      }
    }
    try {
      table.Post();
      if (options.Verify) {
        Digest digest;
        for (std::size_t i = 0; i < fields.size(); ++i) {
          if (targets[i]) digest.Add(static_cast<std::uint16_t>(i), source.Cell(i));
          else if (!IsEmptyCell(source.Cell(i))) ++dropped[i];
        }
        digests.Write(digest);
      }
    } catch (const ETransactionLost&) {
      throw;  // nothing of the table will be stored: the whole table fails
    } catch (const std::exception& e) {
      log(ErrorLine(e.what()));
      table.Delete();
      rejected.push_back(row);
    }
    if (View && ((row + 1) % 1000 == 0 || row + 1 == r.RecordsInHeader))
      View->RecordProgress(row + 1, r.RecordsInHeader);
  }
  transaction.Commit();
  // The figures come from the library after its commit.
  r.RecordsWritten = table.RecordCount() - before;
  table.Close();
}

}  // namespace

bool ParadoxToABS(TConvertLog* Memo, TConversionView* View, const std::string& SrcDir, const std::string& DestDir,
                  const std::string& ParadoxName, const std::string& DestName, TConvertedTable* report,
                  const std::string& password) {
  TConvertOptions options;
  options.Password = password;
  return ParadoxToABS(Memo, View, SrcDir, DestDir, ParadoxName, DestName, report, options);
}

bool ParadoxToABS(TConvertLog* Memo, TConversionView* View, const std::string& SrcDir, const std::string& DestDir,
                  const std::string& ParadoxName, const std::string& DestName, TConvertedTable* report,
                  const TConvertOptions& options) {
  TConvertedTable local;
  TConvertedTable& r = report ? *report : local;
  r = TConvertedTable{};
  r.Source = SrcDir + ParadoxName;
  r.Target = DestDir + DestName;
  const std::function<void(const std::string&)> log = [&](const std::string& line) {
    if (IsErrorLine(line)) ++r.Errors;
    if (Memo) Memo->Add(line);
  };
  auto finish = [&](TTableOutcome outcome, std::string reason) {
    r.Outcome = outcome;
    r.Reason = std::move(reason);
  };
  log(Format(kConvertingLine, r.Source));
  if (View) {
    View->SetFileText(ParadoxName);
    View->ProcessMessages();
  }
  r.LibType = GetLibType(DestName);
  if (r.LibType < 0) {
    log(kUnknownType);
    finish(TTableOutcome::NoLibraryType, OutcomeText(TTableOutcome::NoLibraryType));
    return false;
  }

  bool result = false;
  Stage stage = Stage::Reading;
  RecordStream source(options.Password);
  // Declared in this order, so that the passing file goes before the library object and the scratch folder last.
  std::unique_ptr<ScratchFolder> scratch;
  std::unique_ptr<TMyTable> lib;
  std::unique_ptr<TNewLibraryFile> newFile;
  LibraryState state = LibraryState::Missing;
  try {
    source.Load(r.Source);
    r.RecordsInHeader = source.Records();
    stage = Stage::Writing;
    state = InspectLibrary(r.Target, DestName, r.LibraryRecords);
    if (state == LibraryState::Filled) {
      // A library that holds records is never filled a second time; it is only compared with its table.
      result = true;
      log(Format(kExistsLine, r.Target, r.LibraryRecords));
      if (options.Verify) VerifyLibrary(r.Target, r, options);
    } else if (r.RecordsInHeader == 0) {
      result = state == LibraryState::Empty;
      finish(TTableOutcome::NoRecords, OutcomeText(TTableOutcome::NoRecords));
    } else {
      if (options.DryRun) scratch = std::make_unique<ScratchFolder>();
      if (state == LibraryState::Empty) {
        // An empty library (an earlier run was interrupted, or it was made empty) is filled; a dry run fills a copy.
        std::string file = r.Target;
        if (scratch) {
          file = scratch->Dir() + DestName;
          fs::copy_file(ResolveFileName(r.Target), file);
        }
        lib = std::make_unique<TMyTable>(file, false, false);
      } else {
        if (state == LibraryState::Leftover && !scratch) TMyTable(r.Target, false, false).Close();  // removes it
        lib = std::make_unique<TMyTable>(r.Target, false, false);
        newFile = std::make_unique<TNewLibraryFile>(*lib, scratch ? scratch->Dir() : std::string());
        if (DefineLibrary(lib->Table(), r.LibType, source.Reader().Fields(), log)) lib->CreateDBTable();
      }
      if (!lib->Exists()) {
        finish(TTableOutcome::Failed, "no field or index definitions");
      } else {
        DigestFile digests;
        std::vector<std::int32_t> dropped, rejected;
        FillLibrary(source, *lib, r, options, View, stage, log, digests, dropped, rejected);
        if (r.TextCut > 0) log(Format(kTextCutLine, r.TextCut));
        if (r.RecordsRead < r.RecordsInHeader) log(ErrorLine(Format(kShortTable, r.RecordsRead, r.RecordsInHeader)));
        if (r.RecordsWritten > 0 && options.Verify) {
          // The fast comparison by digests; what differs is then named by the comparison cell by cell.
          const std::string file = newFile ? newFile->PassingFileName() : lib->Database().DatabaseFileName();
          if (SameDigests(file, source.Reader().Fields(), digests, options)) {
            r.Verified = true;
            const auto& fields = source.Reader().Fields();
            for (std::size_t i = 0; i < fields.size(); ++i)
              if (dropped[i] > 0) r.DroppedFields.push_back({fields[i].Name, dropped[i]});
          } else {
            ++tablesComparedCellByCell;
            VerifyLibrary(file, r, options, rejected);
          }
        }
        if (r.RecordsWritten == 0) {
          finish(TTableOutcome::Failed, Format("0 of %d records written", r.RecordsInHeader));
        } else {
          if (newFile && !scratch) newFile->Publish();
          result = true;
        }
      }
      if (state == LibraryState::Empty) result = true;
    }
    for (const std::string& line : VerificationLines(r)) log(ErrorLine(line));
    if (r.Reason.empty()) {
      // Converted, or what keeps the table: missing records, then what the verification found.
      std::vector<std::string> why;
      const std::int32_t inLibrary = state == LibraryState::Filled ? r.LibraryRecords : r.RecordsWritten;
      if (inLibrary < r.RecordsInHeader) {
        why.push_back(state == LibraryState::Filled
                          ? Format("the library holds %d of its %d records", inLibrary, r.RecordsInHeader)
                          : Format("%d of %d records written", inLibrary, r.RecordsInHeader));
      }
      const std::vector<std::string> found = VerificationLines(r);
      why.insert(why.end(), found.begin(), found.end());
      if (r.Rejected > 0 && r.Differences == 0) why.push_back(Format("%d values refused by the library", r.Rejected));
      if (!options.Verify) why.push_back("not verified");
      std::string reason;
      for (const auto& w : why) reason += (reason.empty() ? "" : "; ") + w;
      const TTableOutcome done = state == LibraryState::Filled ? TTableOutcome::Skipped
                                 : why.empty() || (!options.Verify && why.size() == 1)
                                     ? TTableOutcome::Converted
                                     : TTableOutcome::Incomplete;
      finish(done, reason);
      r.Complete = options.Verify && why.empty();
    }
  } catch (const Interruption&) {
    log(kInterruptedTableLine);
    r.RecordsWritten = 0;
    finish(TTableOutcome::Interrupted, "interrupted: nothing of it was written");
    result = state == LibraryState::Filled || state == LibraryState::Empty;
  } catch (const std::exception& e) {
    log(ErrorLine(e.what()));
    r.RecordsWritten = 0;
    if (stage == Stage::Reading) {
      const bool encrypted = source.Reader().IsEncrypted();
      finish(encrypted ? TTableOutcome::Encrypted : TTableOutcome::Unreadable,
             encrypted ? "encrypted" : std::string("unreadable: ") + e.what());
    } else {
      finish(TTableOutcome::Failed, std::string("failed: ") + e.what());
    }
    // A new library of this table goes with its passing file; an existing one stays as it was.
    result = state == LibraryState::Filled || state == LibraryState::Empty;
  }
  try {
    newFile.reset();
    lib.reset();
  } catch (const std::exception& e) {
    log(ErrorLine(e.what()));
  }
  r.Converted = result;
  return result;
}

std::int64_t detail::TablesComparedCellByCell() { return tablesComparedCellByCell; }

}  // namespace vez

// vezi libtype, create, info and dump: library files from the command line.
//
// libtype  NAME...                 library type code and constant name of file names (folders are ignored);
//                                  exit 1 when a name is not a library file. Old Paradox names (emis.db,
//                                  X.run, X.sdb, X.tdb) answer the type of the library they are converted to.
// create   TYPE FOLDER             an empty library of a type (code or constant name) with its layout;
//                                  --with-defaults appends one record holding the new-record defaults.
// info     LIBRARY                 type, table, fields, indexes and record count.
// dump     LIBRARY                 the records as CSV (default) or JSON, optionally only the first N.
//
// Exit codes: 0 done, 1 the work failed (missing file or folder, engine error, a Paradox table whose blocks hold
// fewer records than its header promises), 2 bad arguments (unknown option, bad type name or number, bad
// --limit or --code-page). info and dump choose the reader by the file's content: a Paradox table (whatever its
// extension: ".db", ".run", ".sdb", ".tdb") goes through the Paradox reader and its dump format, a Paradox index
// or ".mb" companion is named as such, every other file goes to the table engine. Paradox tables take
// --password (encrypted tables) and --code-page (text stored in another code page than the header says); the
// reader's warnings (damaged BLOBs, missing records) go to stderr. Dumps stream record by record.
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "Commands.h"
#include "Conventions.h"
#include "core/Exceptions.h"
#include "core/FormatSettings.h"
#include "core/TextEncoding.h"
#include "acoustics/Bands.h"
#include "emission/SpectrumReport.h"
#include "librarydb/Defaults.h"
#include "librarydb/ElementBands.h"
#include "librarydb/Layouts.h"
#include "librarydb/LibraryFile.h"
#include "import/paradox/ParadoxDump.h"
#include "import/SMParadox.h"
#include "librarydb/OVLibConst.h"
#include "output/JsonWriter.h"
#include "output/ValueText.h"

namespace vezi {
namespace {

namespace fs = std::filesystem;
using vez::Variant;

// ---- library type names ----

using vez::LibTypeConstantName;


std::string TypeDescription(std::int32_t code) {
  const char* name = LibTypeConstantName(code);
  if (name == nullptr) return "-";
  return std::to_string(code) + " " + name;
}

// ---- value formatting ----

using vez::ValueStyle;
using vez::CsvField;
using vez::JsonValue;
using vez::PlainText;
using vez::ParadoxColumnType;

// ---- table sources ----

struct ColumnDescription {
  std::string name;
  std::string type;  // label of the table's family: "ftString" ... or "text" ...
  std::int32_t size = 0;
  bool required = false;
  ValueStyle style = ValueStyle::Text;
};

struct IndexDescription {
  std::string name;
  std::string fields;
  std::string options;
};

// What info and dump read from a table file. One kind of source per file format.
class TableSource {
public:
  virtual ~TableSource() = default;
  virtual std::string Format() const = 0;     // "classic library", "advanced library", ...
  virtual std::string TableName() const = 0;
  virtual const std::vector<ColumnDescription>& Columns() const = 0;
  virtual std::vector<IndexDescription> Indexes() const = 0;
  virtual std::int64_t RecordCount() = 0;
  // Reads the next record into `values` (one per column); False at the end.
  virtual bool Next(std::vector<Variant>& values) = 0;
};

// A library file read through the table engine. The database and table objects are used directly, not
// through TMyTable, whose closing deletes a database file without tables: reading must never remove a file.
class LibrarySource : public TableSource {
public:
  explicit LibrarySource(const std::string& path) {
    static int counter = 0;
    const std::string alias = "vezi_" + std::to_string(++counter);
    database_.SetDatabaseName(alias);
    database_.SetDatabaseFileName(path);
    database_.SetReadOnly(true);
    table_.SetDatabaseName(alias);
    table_.SetTableName(fs::path(path).filename().string());
    table_.SetReadOnly(true);
    table_.Open();  // the table of the file's name, or the one table of a copied library
    tableName_ = table_.TableNameInFile();
    advanced_ = table_.AdvFieldDefs().Count() > 0;
    for (int i = 0; i < table_.FieldCount(); ++i) {
      const vez::TField& f = table_.Fields(i);
      ColumnDescription column;
      column.name = f.FieldName();
      column.size = f.Size();
      column.required = f.Required();
      column.style = vez::ValueStyleOf(f.DataType());
      const int adv = advanced_ ? table_.AdvFieldDefs().IndexOf(f.FieldName()) : -1;
      column.type = adv >= 0 ? vez::EngineTypeLabel(table_.AdvFieldDefs()[adv].DataType) : vez::FieldTypeName(f.DataType());
      columns_.push_back(std::move(column));
    }
    table_.First();
  }
  ~LibrarySource() override {
    try {
      table_.Close();
      database_.Close();
    } catch (...) {
      // Closing a read-only table has nothing to lose; the objects release their handles regardless.
    }
  }

  std::string Format() const override { return advanced_ ? "advanced" : "classic"; }
  std::string TableName() const override { return tableName_; }
  const std::vector<ColumnDescription>& Columns() const override { return columns_; }
  std::vector<IndexDescription> Indexes() const override {
    std::vector<IndexDescription> out;
    const vez::TIndexDefs& defs = table_.IndexDefs();
    for (int i = 0; i < defs.Count(); ++i) out.push_back({defs[i].Name, defs[i].Fields, vez::IndexOptionsText(defs[i].Options)});
    return out;
  }
  std::int64_t RecordCount() override { return table_.RecordCount(); }
  bool Next(std::vector<Variant>& values) override {
    if (table_.Eof()) return false;
    values.clear();
    for (int i = 0; i < table_.FieldCount(); ++i) values.push_back(table_.Fields(i).Value());
    table_.Next();
    return true;
  }

private:
  vez::TABSDatabase database_;
  vez::TABSTable table_;
  std::string tableName_;
  bool advanced_ = false;
  std::vector<ColumnDescription> columns_;
};

// The file a name stands for, found whatever the letter case of the name, as every library look-up does.
std::string ExistingFile(const std::string& given) {
  const std::string path = vez::ResolveFileName(given);
  std::error_code ec;
  if (!fs::is_regular_file(path, ec)) throw vez::Exception("no such file: '" + given + "'");
  return path;
}

// A Paradox table is read by the Paradox reader; an index or ".mb" companion is refused with what it is.
bool IsParadoxTable(const std::string& path) {
  const vez::TParadoxFileKind kind = vez::IdentifyParadoxFile(path);
  if (kind == vez::TParadoxFileKind::Index || kind == vez::TParadoxFileKind::Blob) vez::RequireParadoxTable(path);
  return kind == vez::TParadoxFileKind::Table;
}

struct ParadoxOptions {
  std::string password;
  int codePage = 0;
  bool rawText = false;
  vez::ParadoxReadOptions Read() const {
    vez::ParadoxReadOptions o;
    o.RawText = rawText;
    o.Password = password;
    o.CodePage = codePage;
    return o;
  }
};

// The reader's warnings on stderr; exit 1 when the table's blocks hold fewer records than its header promises.
void ReportParadoxRead(const vez::ParadoxReadResult& r) {
  for (const std::string& w : r.Warnings) std::cerr << "vezi: warning: " << w << '\n';
  if (r.WarningCount > static_cast<std::int64_t>(r.Warnings.size()))
    std::cerr << "vezi: warning: " << (r.WarningCount - static_cast<std::int64_t>(r.Warnings.size()))
              << " more warnings not shown\n";
  SetExitCode(r.RecordsMissing ? kExitError : kExitOk);
}

std::unique_ptr<TableSource> OpenLibrarySource(const std::string& path) {
  return std::make_unique<LibrarySource>(ExistingFile(path));
}

// A Paradox table read record by record by the Paradox reader (step loading: one block and one record's cells in
// memory), offered like a library table: its records in block-chain order, values as the reader reports them.
class ParadoxSource : public TableSource {
public:
  ParadoxSource(const std::string& path, const ParadoxOptions& options) {
    const vez::ParadoxReadOptions o = options.Read();
    reader_.RawText = o.RawText;
    reader_.Password = o.Password;
    reader_.SourceCodePage = o.CodePage;
    reader_.OnDimensions = [](vez::TCustomSpreadSheetFile&, std::int32_t, std::int32_t, std::int32_t, std::int32_t,
                              std::int32_t) {};
    reader_.OnCellValue = [this](vez::TCustomSpreadSheetFile&, std::int32_t, std::int32_t, std::int32_t column,
                                 std::int32_t, const Variant& value, vez::TAlignment) {
      if (column >= 0 && static_cast<std::size_t>(column) < current_.size()) current_[static_cast<std::size_t>(column)] = value;
    };
    reader_.StepLoading = true;
    reader_.LoadFromFile(path);
    tableName_ = fs::path(path).filename().string();
    for (const auto& f : reader_.Fields()) {
      ColumnDescription column;
      column.name = f.Name;
      column.type = vez::TDBParadox::GetStrFieldType(f.FieldType);
      column.size = f.Size;
      column.style = vez::ValueStyleOf(ParadoxColumnType(f.FieldType));
      columns_.push_back(std::move(column));
    }
  }
  std::string Format() const override { return "Paradox"; }
  std::string TableName() const override { return tableName_; }
  const std::vector<ColumnDescription>& Columns() const override { return columns_; }
  std::vector<IndexDescription> Indexes() const override { return {}; }
  std::int64_t RecordCount() override { return reader_.RecordCount(); }
  bool Next(std::vector<Variant>& values) override {
    if (row_ >= reader_.RecordCount() || reader_.ChainEnded()) return false;
    current_.assign(columns_.size(), Variant::Null());
    reader_.LoadRecord(row_++);
    values.swap(current_);
    return true;
  }
  vez::ParadoxReadResult Result() const {
    vez::ParadoxReadResult r;
    r.RecordsPromised = reader_.RecordCount();
    r.RecordsRead = reader_.RecordsRead();
    r.RecordsMissing = reader_.RecordsMissing();
    r.Warnings = reader_.Warnings();
    r.WarningCount = reader_.WarningCount();
    return r;
  }

private:
  vez::TDBParadox reader_;
  std::string tableName_;
  std::vector<ColumnDescription> columns_;
  std::vector<Variant> current_;
  std::int32_t row_ = 0;
};

// The extension a converted Paradox table gets: ".run" -> ".runx", ".sdb" -> ".sdbx", ".db" -> ".abs",
// ".tdb" -> ".tabs"; "" for any other extension.
std::string ConvertedExtension(const std::string& ext) {
  static const std::pair<const char*, const char*> kMap[] = {
      {".run", ".runx"}, {".sdb", ".sdbx"}, {".db", ".abs"}, {".tdb", ".tabs"}};
  for (const auto& [from, to] : kMap)
    if (vez::SameText(ext, from)) return to;
  return std::string();
}

// The library type a Paradox table becomes when converted: its name with the library extension.
std::int32_t ParadoxLibType(const std::string& path) {
  std::string ext = ConvertedExtension(vez::ExtractFileExt(path));
  if (ext.empty()) ext = ".abs";
  return vez::GetLibType(vez::ChangeFileExt(vez::ExtractFileName(path), ext));
}

// ---- commands ----

void RunLibType(const std::vector<std::string>& names) {
  bool allKnown = true;
  for (const std::string& name : names) {
    const std::string bare = vez::ExtractFileName(name);
    std::int32_t code = vez::GetLibType(bare);
    // An old Paradox name answers the type of the library it is converted to.
    if (code < 0) {
      const std::string ext = ConvertedExtension(vez::ExtractFileExt(bare));
      if (!ext.empty()) code = vez::GetLibType(vez::ChangeFileExt(bare, ext));
    }
    if (code < 0) {
      std::cout << name << ": not a library file\n";
      allKnown = false;
    } else {
      std::cout << name << ": " << TypeDescription(code) << '\n';
    }
  }
  SetExitCode(allKnown ? kExitOk : kExitError);
}

// Required fields the defaults leave without value: text gets the element name, numbers 0, Booleans False.
void RunCreate(const std::string& typeText, const std::string& folder, bool withDefaults,
               const std::string& elementName, const std::string& fileName) {
  std::cout << vez::CreateLibraryFile(vez::LibTypeOfWord(typeText), folder, withDefaults, elementName, fileName) << '\n';
  SetExitCode(kExitOk);
}

void RunParadoxInfo(const std::string& path, const ParadoxOptions& options) {
  vez::ParadoxReadResult result;
  const std::string description = vez::DescribeParadoxTable(path, options.Read(), &result);
  const std::int32_t code = ParadoxLibType(path);
  std::cout << "File: " << path << '\n';
  std::cout << "Type: " << (code < 0 ? std::string("- (not a library file name)") : TypeDescription(code)) << '\n';
  std::cout << "Layout: Paradox\n";
  std::cout << description;
  if (!description.empty() && description.back() != '\n') std::cout << '\n';
  std::cout.flush();
  ReportParadoxRead(result);
}

void RunInfo(const std::string& given, const ParadoxOptions& options) {
  const std::string path = ExistingFile(given);
  if (IsParadoxTable(path)) return RunParadoxInfo(path, options);
  const std::unique_ptr<TableSource> source = OpenLibrarySource(path);
  const std::int32_t code = vez::LibTypeOfFile(path);  // the name's, or the one the file records
  std::cout << "File: " << path << '\n';
  std::cout << "Type: " << (code < 0 ? std::string("- (not a library file name)") : TypeDescription(code)) << '\n';
  std::cout << "Table: " << source->TableName() << '\n';
  std::cout << "Layout: " << source->Format() << '\n';
  const auto& columns = source->Columns();
  std::size_t nameWidth = 4, typeWidth = 4;
  for (const auto& c : columns) {
    nameWidth = std::max(nameWidth, c.name.size());
    typeWidth = std::max(typeWidth, c.type.size());
  }
  // Element libraries name the band each "Values<n>" field holds (see `vezi bands`).
  const bool bands = vez::HasElementBands(code);
  std::cout << "Fields: " << columns.size() << '\n';
  std::cout << fmt::format("  {:>4}  {:<{}}  {:<{}}  {:>5}  {:<8}{}\n", "#", "Name", nameWidth, "Type", typeWidth,
                           "Size", "Required", bands ? "  Band" : "");
  for (std::size_t i = 0; i < columns.size(); ++i) {
    const auto& c = columns[i];
    std::string band;
    if (const int n = bands ? vez::BandOfValuesField(c.name) : -1; n == 0) {
      band = "single value";
    } else if (n > 0) {
      band = vez::BandCentreText(vez::terzen[n]) + " Hz" + (n % 3 == 2 ? fmt::format(", octave {}", (n + 1) / 3) : "");
    }
    const std::string line = fmt::format("  {:>4}  {:<{}}  {:<{}}  {:>5}  {:<8}  {}", i + 1, c.name, nameWidth, c.type,
                                         typeWidth, c.size, c.required ? "yes" : "no", band);
    std::cout << vez::TrimRight(line) << '\n';
  }
  const auto indexes = source->Indexes();
  std::cout << "Indexes: " << indexes.size() << '\n';
  for (const auto& ix : indexes) std::cout << "  " << ix.name << "  " << ix.fields << "  " << ix.options << '\n';
  std::cout << "Records: " << source->RecordCount() << '\n';
  SetExitCode(kExitOk);
}

// The reference cell format of the Paradox reader, for comparison with reference dumps.
void RunParadoxCells(const std::string& path, const ParadoxOptions& options) {
  vez::ParadoxReadResult result;
  vez::DumpParadoxTable(path, vez::ParadoxDumpFormat::Cells, std::cout, options.Read(), &result);
  std::cout.flush();
  ReportParadoxRead(result);
}

void RunDump(const std::string& given, const std::string& format, std::int64_t limit,
             const ParadoxOptions& options) {
  const std::string path = ExistingFile(given);
  const bool paradox = IsParadoxTable(path);
  if (!paradox && (format == "cells" || options.rawText || !options.password.empty() || options.codePage != 0))
    throw vez::Exception("--format cells, --raw-text, --password and --code-page are for Paradox tables only");
  if (paradox && format == "cells") return RunParadoxCells(path, options);
  std::unique_ptr<TableSource> source;
  ParadoxSource* paradoxSource = nullptr;
  if (paradox) {
    auto p = std::make_unique<ParadoxSource>(path, options);
    paradoxSource = p.get();
    source = std::move(p);
  } else {
    source = OpenLibrarySource(path);
  }
  const auto& columns = source->Columns();
  std::vector<Variant> values;
  std::int64_t written = 0;
  std::ostream& out = std::cout;
  if (format == "csv") {
    for (std::size_t i = 0; i < columns.size(); ++i) out << (i ? "," : "") << CsvField(columns[i].name);
    out << '\n';
    while ((limit < 0 || written < limit) && source->Next(values)) {
      for (std::size_t i = 0; i < columns.size(); ++i) {
        if (i) out << ',';
        if (const auto text = PlainText(values[i], columns[i].style)) out << CsvField(*text);
      }
      out << '\n';
      ++written;
    }
  } else {
    vez::JsonWriter json(out);
    json.BeginArray(true);
    while ((limit < 0 || written < limit) && source->Next(values)) {
      json.BeginObject();
      for (std::size_t i = 0; i < columns.size(); ++i) json.Key(columns[i].name).Raw(JsonValue(values[i], columns[i].style));
      json.EndObject();
      ++written;
    }
    json.EndArray();
    out << '\n';
  }
  out.flush();
  if (paradoxSource) ReportParadoxRead(paradoxSource->Result());
  else SetExitCode(kExitOk);
}

// Runs a command that reads a table; running out of memory becomes a message naming the file.
template <typename Fn>
void GuardMemory(const std::string& path, Fn&& fn) {
  try {
    fn();
  } catch (const std::bad_alloc&) {
    throw vez::Exception(path + ": not enough memory to read the table");
  }
}

// --limit: decimal digits only (no sign, blanks, fraction or hexadecimal), at most 18 of them; -1 when not given.
std::int64_t ParseLimit(const std::string& text, bool given) {
  if (!given) return -1;
  const bool digits = !text.empty() && text.size() <= 18 &&
                      std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
  if (!digits)
    throw CLI::ValidationError("--limit", "'" + text + "' is not a number of records (a whole number, 0 or more)");
  return std::stoll(text);
}

// --code-page: a code page this system can convert.
void CheckCodePage(int codePage) {
  if (codePage != 0) vez::CodePageOfNumber(codePage);
}

void AddParadoxOptions(CLI::App* cmd, const std::shared_ptr<ParadoxOptions>& options) {
  cmd->add_option("--password", options->password, "Paradox tables: the password of an encrypted table");
  cmd->add_option("--code-page", options->codePage,
                  "Paradox tables: read the text in this code page instead of the one the header gives")
      ->check(Range(1, 65535));
}

}  // namespace

void RegisterLibraryCommands(CLI::App& app) {
  {
    auto* cmd = app.add_subcommand("libtype", "Print the library type code and constant name of file names");
    auto names = std::make_shared<std::vector<std::string>>();
    cmd->add_option("NAME", *names, "File names (a folder in front is ignored)")->required();
    cmd->footer("Exit code 1 when a name is not a library file.\n");
    cmd->callback([names] { RunLibType(*names); });
  }
  {
    auto* cmd = app.add_subcommand("create", "Create an empty library of a type, with its table layout");
    auto type = std::make_shared<std::string>();
    auto folder = std::make_shared<std::string>();
    auto withDefaults = std::make_shared<bool>(false);
    auto name = std::make_shared<std::string>("New");
    auto file = std::make_shared<std::string>();
    cmd->add_option("TYPE", *type, "Library type: code (0 to 103) or constant name such as ltEmis")->required();
    cmd->add_option("FOLDER", *folder, "Existing folder to create the library file in")->required();
    cmd->add_flag("--with-defaults", *withDefaults, "Append one record holding the new-record defaults");
    cmd->add_option("--name", *name,
                    "With --with-defaults: text for required fields the defaults leave empty (default \"New\")");
    cmd->add_option("--file", *file, "A file name of your own for the library (it records its type)")->type_name("NAME");
    cmd->footer("The file gets the library's file name (for example emis.abs), or the --file name, which the library\n"
                "records its type in; an existing file is never replaced.\n");
    cmd->callback([=] { RunCreate(*type, *folder, *withDefaults, *name, *file); });
  }
  {
    auto* cmd = app.add_subcommand("info", "Print the type, table, fields, indexes and record count of a library");
    auto path = std::make_shared<std::string>();
    auto options = std::make_shared<ParadoxOptions>();
    cmd->add_option("LIBRARY", *path, "Library file, or a Paradox table (.db, .run, .sdb, .tdb)")->required();
    AddParadoxOptions(cmd, options);
    cmd->footer("Paradox tables: exit code 1 when the blocks hold fewer records than the header promises.\n");
    cmd->callback([path, options] {
      CheckCodePage(options->codePage);
      GuardMemory(*path, [&] { RunInfo(*path, *options); });
    });
  }
  {
    auto* cmd = app.add_subcommand("dump", "Print the records of a library or a Paradox table as CSV or JSON");
    auto path = std::make_shared<std::string>();
    auto format = std::make_shared<std::string>("csv");
    auto limitText = std::make_shared<std::string>();
    auto options = std::make_shared<ParadoxOptions>();
    cmd->add_option("LIBRARY", *path, "Library file, or a Paradox table (.db, .run, .sdb, .tdb)")->required();
    cmd->add_option("--format", *format, "Output format: csv (default), json, or cells (Paradox tables)")
        ->check(CLI::IsMember({"csv", "json", "cells"}));
    cmd->add_option("--limit", *limitText, "Print at most N records (a whole number, 0 or more)")->type_name("N");
    cmd->add_flag("--raw-text", options->rawText,
                  "Paradox tables: keep text in the table's code page instead of UTF-8");
    AddParadoxOptions(cmd, options);
    cmd->footer(
        "CSV: a header row of field names, RFC 4180 quoting, NULL as an empty field. JSON: an array of objects,\n"
        "NULL as null. Both: dates and times in ISO 8601, BLOBs in base64, numbers with '.' as decimal point,\n"
        "for libraries and Paradox tables alike. cells: the Paradox reader's reference cell format.\n"
        "Paradox tables: warnings (damaged BLOBs, missing records) go to stderr; exit code 1 when the blocks hold\n"
        "fewer records than the header promises.\n");
    cmd->callback([=] {
      CheckCodePage(options->codePage);
      const std::int64_t limit = ParseLimit(*limitText, cmd->count("--limit") > 0);
      if (*format == "cells" && limit >= 0)
        throw CLI::ValidationError("--limit", "--limit is not available with --format cells");
      GuardMemory(*path, [&] { RunDump(*path, *format, limit, *options); });
    });
  }
}

}  // namespace vezi

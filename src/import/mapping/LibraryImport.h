// LibraryImport: one run of the column-mapping import into a library table, for the command line, the Python
// module and other programs without a dialog.
//
// The run loads the file with the import dialog (TExcelImportForm), links columns and fixed texts to the
// fields of the library table (the caller's mapping first, then auto link from the header rows for the
// columns and fields still free), and stores every line: a new record is first filled with the defaults of its
// library type (OnNewRecord), names are checked on the library's name index with CheckNameTwice (the answers
// come from the caller's TImportDialogs), and each linked value is converted to its field's type with the
// process format settings.
//
// Our choices:
// - The name index is the library's index "EN" (element name), and the name the first field of it; a library
//   without that index takes every line as a new record.
// - The library file is created with the layout of its type when it is missing; its type is the one given,
//   or the one its file name tells.
// - The fields offered are the table's fields except auto-increment and binary ones; memo fields take
//   several links (their texts are joined by line breaks), every other field one.
// - The lines are the file's: StartLine and StopLine are not bound to the dialog's spin boxes. A start past the
//   last line imports nothing (LastLine < FirstLine in the result) and creates no library.
// - The whole run is one transaction. A line whose value does not convert, or whose record the engine
//   refuses, fails alone and is reported with its line, column and field; the others are stored. A run that
//   is cancelled (the name question answered Cancel) or interrupted (Options::Interrupted) or a dry run
//   stores nothing, and a library file the run created is removed again.
// - Every line is stored through the record rules (TRecordWriter, librarydb/RecordRules.h), as the other front
//   ends store records: each linked cell is read as a value of its field's kind with the run's format settings
//   (a number with DecimalSeparator), names are checked, an element library's "Terz", "Lower", "Upper" and
//   "Komplett" follow from the band values the record holds unless they are linked or fixed, and
//   "LastChangeDateTime" is the time of the import unless it is linked. A value the rules refuse fails its line
//   with the rules' message.
// - An empty cell of a linked column stores the empty text in a text field and an empty field in any other of a
//   new record (an empty band is "no value", so a record with an empty band cell is not complete), and leaves
//   the field of an overwritten record as it is; so a file that `vezi export` wrote imports back as the library
//   it came from. A cell of only blanks is text in a
//   text field and empty in any other. A line whose linked cells are all blank is skipped and counted
//   (EmptyLines), neither stored nor failed. A value that does not convert is never stored as zero.
// - Every field can be linked: a binary field takes its bytes in Base64, an auto-increment field ("Eintrag")
//   the record's number (a line whose number another record has fails with the engine's message).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <string_view>
#include <vector>

#include "import/EImport1.h"
#include "import/XLS_ASCII_Import.h"

namespace vez {

// A link of an import: a column (its letter) or a fixed text into a field (its name).
struct TImportLink {
  std::string Field;
  std::string Column;  // empty for a fixed text
  std::string Text;    // the fixed text
};

// A mapping: what an import is told, saved as JSON to be used again for next month's file (`vezi import
// --save-mapping`/`--mapping`, the browser's "Save links"/"Load links", Python's mapping=):
//   {"links": [{"field": "ElementName", "column": "A"}, {"field": "Kommentar", "text": "survey 2026"}],
//    "start": 2, "stop": null, "sheet": "Spectra", "separator": ";", "decimal_separator": ",", "code_page": 1252}
// "separator" is "tab", "," or ";"; members left out (or null) are not given. An unknown member, a link without
// a field or with both a column and a text, and values of the wrong kind are refused with what is wrong. A link
// naming a column the file lacks or a field the library lacks is refused when the import starts, naming both.
struct TImportMapping {
  std::vector<TImportLink> Links;
  std::int32_t StartLine = 0;  // 0: not given
  std::int32_t StopLine = 0;
  std::string Sheet;
  char Separator = 0;
  char DecimalSeparator = 0;
  std::int32_t CodePage = 0;
};
struct TLibraryImportOptions {
  std::string FileName;     // spreadsheet or tab-separated text file
  std::string LibraryFile;  // full path of the library file
  std::int32_t LibType = -1;  // -1: from the library's file name
  std::vector<std::pair<std::string, std::string>> Maps;   // field -> column letter
  std::vector<std::pair<std::string, std::string>> Fixes;  // field -> fixed text
  std::string Sheet;        // workbooks: the sheet by name or number from 1; empty: the first
  char Separator = 0;       // text files: '\t', ',' or ';'; 0: detected from the first lines
  bool AutoLink = false;
  std::int32_t StartLine = 2;  // first data line (1-based); the lines above are the header
  std::int32_t StopLine = 0;   // last data line; 0 = to the end
  bool DryRun = false;
  std::int32_t TextCodePage = 0;  // text files that are neither UTF-8 nor marked by a byte order mark; 0: none
                                  // given (such a file is refused, naming its first byte that is no UTF-8)
  std::int64_t TextLimitMB = kDefaultMaxGridTextMB;  // the most text the loaded file may hold (see XLS_ASCII_Import.h)
  std::shared_ptr<TGridTextBudget> TextBudget;       // drawn on besides the limit (a server's imports); may be null
  char DecimalSeparator = 0;         // of the numbers in the file; 0: ',' in a ';'-separated file, else the
                                     // process format settings
  std::function<bool()> Interrupted;                              // asked once per line
  std::function<void(std::int32_t done, std::int32_t total)> Progress;  // after every line
};

struct TImportRowError {
  std::int32_t Line = 0;
  std::string Column;  // letter, or "" for a fixed text or a record error
  std::string Field;
  std::string Message;
};

// What Auto Link did: the links it made (as the link list shows them) and the columns with a header text it
// could not link ("E (Colour)").
struct TAutoLinkReport {
  std::vector<std::string> Linked;
  std::vector<std::string> Unlinked;
};
// "Auto Link linked 3 columns: ElementName <- A, ...; no field for E (Colour)", or that it linked nothing.
std::string AutoLinkText(const TAutoLinkReport& Report);

struct TLibraryImportResult {
  std::int32_t LibType = -1;
  std::string FileType;
  std::string TextEncoding;  // of a text file: "ASCII" only when it is ASCII throughout
  bool Created = false;      // the library file was made by this run
  bool Committed = false;    // the changes are in the library
  bool Cancelled = false;    // the name question was answered Cancel
  bool Interrupted = false;
  bool Refused = false;      // the dialog's Start refused the links or lines (its message was shown)
  std::int32_t FirstLine = 0, LastLine = 0;  // LastLine < FirstLine: no line to import
  std::int32_t FileLines = 0;                // the last line of the file
  std::int32_t Added = 0, Overwritten = 0, Skipped = 0, Failed = 0;
  std::int32_t EmptyLines = 0;  // lines whose linked cells are all empty
  std::vector<std::string> Links;  // GetLinkStr of each link
  std::vector<TImportLink> LinkList;  // the same links by field name
  TAutoLinkReport AutoLink;        // with Options.AutoLink
  char Separator = 0;              // what the file was read with (text files)
  char DecimalSeparator = 0;
  std::string Sheet;               // the sheet read (workbooks)
  std::vector<TImportRowError> Errors;
  std::string Error;  // why the run could not start, for a report written all the same (set by the caller)
};

// The file type as a summary shows it: the workbook's version, "ASCII" for a text file that is ASCII
// throughout, else "text, " and the encoding it was read in ("text, UTF-8", "text, code page 1252").
std::string ShownFileType(const TLibraryImportResult& r);

// Runs the import. Setup errors (file cannot be opened, unknown type, field or column, no link) throw
// vez::Exception before the library is touched, EParameterError for a file that is a folder ("\"x\" is not a
// file"); errors of single lines are in the result. A new library's missing folders are made with it.
TLibraryImportResult ImportIntoLibrary(const TLibraryImportOptions& Options, TImportDialogs& Dialogs);

// The same run for a front end whose user works the import dialog: the constructor loads the file into Form()
// and offers the library's fields (setup errors throw, nothing is touched); the user links columns and sets the
// lines in Form() (Maps, Fixes, AutoLink, StartLine and StopLine of the options are not used); Run is the
// dialog's "Start Import": when the dialog refuses the links or lines its message goes to the dialogs, the
// result says Refused and Run may be called again; otherwise the lines are stored as ImportIntoLibrary stores
// them, once.
class TExcelImportForm;
class TLibraryImport {
public:
  TLibraryImport(const TLibraryImportOptions& Options, TImportDialogs& Dialogs);
  ~TLibraryImport();
  TLibraryImport(const TLibraryImport&) = delete;
  TLibraryImport& operator=(const TLibraryImport&) = delete;

  TExcelImportForm& Form();
  // The dialog's "Auto Link" as the import runs it (see TAutoLinkReport).
  TAutoLinkReport AutoLink();
  // The dialog's links and lines as a mapping ("Save links"), and a mapping's links and lines made the dialog's
  // ("Load links": the links it had are cleared first). The file's own options (sheet, separators, code page)
  // are those the dialog was opened with.
  TImportMapping Mapping();
  void LoadMapping(const TImportMapping& Mapping);
  TLibraryImportResult Run();

  class Impl;

private:
  std::unique_ptr<Impl> impl_;
};

// The report of a run as JSON, members in name order: added, auto_link {linked, unlinked}, cancelled,
// committed, created, decimal_separator, dry_run, empty_lines, error, errors [{column, field, line, message}],
// failed, file, file_lines, file_type, first_line, interrupted, last_line, library, library_type,
// library_type_name, links, overwritten, separator ("tab", "," or ";" for text), sheet, skipped.
void WriteImportReport(std::ostream& out, const TLibraryImportResult& Result, const TLibraryImportOptions& Options);

// Mappings as JSON, read and written; see TImportMapping.
std::string ImportMappingJson(const TImportMapping& Mapping);
TImportMapping ParseImportMapping(std::string_view Json);
TImportMapping ReadImportMapping(const std::string& FileName);
// Writes the mapping to a new file, or replaces an existing one only with Overwrite; the file appears complete.
void WriteImportMapping(const std::string& FileName, const TImportMapping& Mapping, bool Overwrite);
// The mapping of a run as it was made: its links (also those Auto Link made), lines, sheet and separators.
TImportMapping MappingOfRun(const TLibraryImportOptions& Options, const TLibraryImportResult& Result);
// Gives the options what the mapping holds (its links, lines, sheet, separators, code page); a field the options
// link already keeps the options' link.
void ApplyImportMapping(TLibraryImportOptions& Options, const TImportMapping& Mapping);

// What the name question is answered with where no one can be asked.
enum class TOnExists { Overwrite, Skip, Rename };

// The import's windows for a program without a window system: the name question answered by a fixed choice
// (Rename gives "Name (2)", "Name (3)", ... until a name is free), messages kept in Messages.
class TAnsweringDialogs : public TImportDialogs {
public:
  explicit TAnsweringDialogs(TOnExists answer) : answer_(answer) {}
  void ShowMessage(const std::string& text) override { Messages.push_back(text); }
  std::string InputBox(const std::string& caption, const std::string& prompt, const std::string& defaultText) override;
  void ShowNameExists(TFormNameExists& form) override;
  std::vector<std::string> Messages;

private:
  TOnExists answer_;
};

// "Name" -> "Name (2)", "Name (2)" -> "Name (3)".
std::string NextFreeName(const std::string& name);

// The import's option words as every front end takes them, each with the one message (EParameterError) for a word
// it does not know: the field separator "tab" (or a tab), "," or ";"; the decimal separator "." or ","; the
// answer to a name that exists "ask" (no answer: the question is asked), "overwrite", "skip" or "rename".
char SeparatorOfWord(std::string_view word);
char DecimalSeparatorOfWord(std::string_view word);
std::optional<TOnExists> OnExistsOfWord(std::string_view word);
// The most text the loaded file may hold, in MB from 1 to 2^30, as every front end takes it, with the one
// message (EParameterError) for a number out of range. (A code page: CodePageOfNumber in core/TextEncoding.h.)
std::int64_t TextLimitOfNumber(std::int64_t mb);

}  // namespace vez

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
// - An element library (emission, absorption, transmission, attenuation) whose band fields "Values<n>" are
//   linked gets "Lower", "Upper", "Terz" and "Komplett" as fixed texts that match those fields
//   (BandFieldsFor, librarydb/ElementBands.h): octave centres alone make an octave record, anything else a
//   third-octave one, complete when no band inside the range is missing. A field the caller links or fixes
//   keeps the caller's value. The derived texts appear among the result's Links.
// - A cell of only blanks counts as empty. An empty cell leaves its field as it is: the type's default in a
//   new record, the old value in an overwritten one. A line whose linked cells are all empty is skipped and
//   counted (EmptyLines), neither stored nor failed. A value that does not convert is never stored as zero.
// - Integers accept an integral number text ("12", "12.0"; "2.5" is refused); Booleans "True"/"False" (the
//   wizard texts), "1"/"0", "yes"/"no" in any case; dates the process short date (with or without long time)
//   or ISO 8601.
#pragma once

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "import/EImport1.h"

namespace vez {

struct TLibraryImportOptions {
  std::string FileName;     // spreadsheet or tab-separated text file
  std::string LibraryFile;  // full path of the library file
  std::int32_t LibType = -1;  // -1: from the library's file name
  std::vector<std::pair<std::string, std::string>> Maps;   // field -> column letter
  std::vector<std::pair<std::string, std::string>> Fixes;  // field -> fixed text
  bool AutoLink = false;
  std::int32_t StartLine = 2;  // first data line (1-based); the lines above are the header
  std::int32_t StopLine = 0;   // last data line; 0 = to the end
  bool DryRun = false;
  std::int32_t TextCodePage = 1252;  // text files that are neither UTF-8 nor marked by a byte order mark
  std::function<bool()> Interrupted;                              // asked once per line
  std::function<void(std::int32_t done, std::int32_t total)> Progress;  // after every line
};

struct TImportRowError {
  std::int32_t Line = 0;
  std::string Column;  // letter, or "" for a fixed text or a record error
  std::string Field;
  std::string Message;
};

struct TLibraryImportResult {
  std::int32_t LibType = -1;
  std::string FileType;
  bool Created = false;      // the library file was made by this run
  bool Committed = false;    // the changes are in the library
  bool Cancelled = false;    // the name question was answered Cancel
  bool Interrupted = false;
  std::int32_t FirstLine = 0, LastLine = 0;  // LastLine < FirstLine: no line to import
  std::int32_t FileLines = 0;                // the last line of the file
  std::int32_t Added = 0, Overwritten = 0, Skipped = 0, Failed = 0;
  std::int32_t EmptyLines = 0;  // lines whose linked cells are all empty
  std::vector<std::string> Links;  // GetLinkStr of each link
  std::vector<TImportRowError> Errors;
  std::string Error;  // why the run could not start, for a report written all the same (set by the caller)
};

// Runs the import. Setup errors (file cannot be opened, unknown type, field or column, no link) throw
// vez::Exception before the library is touched; errors of single lines are in the result.
TLibraryImportResult ImportIntoLibrary(const TLibraryImportOptions& Options, TImportDialogs& Dialogs);

// The report of a run as JSON, members in name order: added, cancelled, committed, created, dry_run,
// empty_lines, error, errors [{column, field, line, message}], failed, file, file_type, file_lines,
// first_line, interrupted, last_line, library, library_type, library_type_name, links, overwritten, skipped.
void WriteImportReport(std::ostream& out, const TLibraryImportResult& Result, const TLibraryImportOptions& Options);

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

}  // namespace vez

// The export of a library's records to a spreadsheet or text file, for editing them where people edit tables;
// `vezi import FILE --into LIBRARY --auto-link` of an exported file gives the library back, since every column is
// headed by the name of its field (but for what a format cannot hold, below: an empty text and an empty field
// are one empty cell; a workbook keeps 16 significant digits and shows dates to the second).
//
// The file's extension (any letter case) chooses the format:
// - .xlsx: one worksheet named like the library's table, written by libxlsxwriter in its constant-memory mode
//   (one row in memory at a time). Numbers are numeric cells, Booleans Boolean cells, dates and times date cells
//   (the library's day numbers are the workbook's serials; "yyyy-mm-dd hh:mm:ss", a date field "yyyy-mm-dd", a
//   time field "hh:mm:ss"), texts inline strings. libxlsxwriter writes 16 significant digits; a number that
//   needs 17 gets them all once the workbook is complete (its sheet is copied once more with the full texts), so
//   every double reads back as it was. A whole number beyond 2^53, which no number cell holds, is written rounded
//   and counted (TExportResult::NumbersRounded). A date a workbook cannot show (before
//   1 January 1900, after 9999) is written as ISO 8601 text. A text longer than a cell holds (32767 UTF-16 units) is
//   refused, naming record and field; so is a sheet beyond 1048575 records.
// - .csv: comma-separated, RFC 4180 quoting, CR LF line ends, UTF-8 with a byte order mark (as spreadsheet
//   programs write "CSV UTF-8").
// - .txt: tab-separated, quoted as CSV is where a text holds a tab, a double quote or a line break, LF line ends,
//   UTF-8 without byte order mark.
// In the text formats numbers are the shortest text that reads back to the same double, with '.' (whole numbers
// without decimals), Booleans "True"/"False", dates and times ISO 8601: "yyyy-mm-ddThh:nn:ss.zzz", a date field
// "yyyy-mm-dd", a time field "hh:nn:ss.zzz".
// In every format: one header row of the field names, then one row per record in the order the records were
// added; binary fields (BLOB, graphic) in Base64, as `vezi dump` prints them; text bytes that are not UTF-8 as
// the characters of the same numbers (ValueText.h); an empty field (NULL) and an empty text as an empty cell.
//
// The file appears complete or not at all: it is written under a passing name in the target's folder
// (".<name>.<pid>-<n>.part", locked while its writer lives, removed by the next export to the same name when its
// writer was killed), synchronised to disk, and then renamed to its name. Without Overwrite an existing file is
// refused before anything is read, and the rename never replaces a file another program made meanwhile; with
// Overwrite the old file is replaced by the rename, so it stays whole until the new one is. A failure or an
// interrupt removes the passing file.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace vez {

struct TExportOptions {
  // Field names (any letter case) in this order; empty: every field in the table's order.
  std::vector<std::string> Fields;
  // Only records whose name (the first field of the unique index "EN") holds this text, in any letter case;
  // empty: every record.
  std::string WhereName;
  // Replace an existing file; otherwise an existing file is refused.
  bool Overwrite = false;
  // Records read of all, now and then and once at the end.
  std::function<void(std::int64_t done, std::int64_t total)> Progress;
  // Asked now and then; true stops the export and leaves no file.
  std::function<bool()> Interrupted;
};

struct TExportResult {
  std::int64_t Records = 0;         // records written
  std::string Format;               // "xlsx", "csv" or "txt"
  bool Interrupted = false;         // stopped by Interrupted: no file was written
  std::int64_t NumbersRounded = 0;  // .xlsx: whole numbers beyond 2^53, which a number cell cannot hold
};

// Writes the records of LibraryFile (opened read-only, found whatever the letter case of its name) to OutFile.
// Refusals: EParameterError for an extension other than .xlsx, .csv and .txt, for a field given twice and for
// OutFile in a folder that does not exist ("The export's folder does not exist");
// vez::Exception for an existing OutFile without Overwrite ("'out.xlsx' exists; give --overwrite to replace
// it"), an unknown field ("The library has no field "Colour" (its fields: ...)"), WhereName in a library without
// names, a value the format cannot hold and a file that cannot be written; EInOutError for a missing library.
TExportResult ExportLibrary(const std::string& LibraryFile, const std::string& OutFile, const TExportOptions& Options);

// The field names of a --fields text: split at commas outside parentheses and brackets (a comma inside them
// belongs to the name, as in "A(FTNo,PTAvg)"), blanks around trimmed.
std::vector<std::string> SplitFieldList(const std::string& Text);

}  // namespace vez

// Readers of one sheet of a spreadsheet file, as cell texts, and what they share.
//
// The readers hand every cell that holds a value to a SheetSink, with its 0-based row and column in the
// sheet, as text: numbers shown as numbers (no date or time format) as their value (SheetSink::Number; a sink
// that takes text gets the shortest form that reads back to the same double, process decimal separator), dates and times in the process short date / long time format, elapsed times ("[h]:mm:ss") as
// hours:minutes:seconds with the hours running past 24, Booleans as "True"/"False", error values as their code
// ("#DIV/0!"). Cells without value (blank cells, empty strings) are not reported. Every failure throws
// vez::Exception with a message saying what is wrong with the file; no input makes a reader allocate beyond
// what SheetLimits allow or what the file's own bytes can hold.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "core/Exceptions.h"

namespace vez::detail {

// What a sink throws to end a reading for a reason of its own (a limit of what it may hold): the readers pass
// it on as it is, since it says nothing about the file's structure.
class ESinkRefusal : public Exception {
public:
  using Exception::Exception;
};

class SheetSink {
public:
  virtual ~SheetSink() = default;
  virtual void Cell(std::uint32_t row, std::uint32_t col, std::string text) = 0;
  // A cell holding a finite number that no date or time format shows. By default the cell gets its text (the
  // shortest that reads back to the same double, with the process decimal separator).
  virtual void Number(std::uint32_t row, std::uint32_t col, double value);
  // A cell that shows entry `index` of the workbook's shared strings, whose text is `text` (valid during the
  // reading; empty when the sink keeps the entries itself, see KeepsSharedStrings). A sink that keeps cells keeps
  // each entry once; by default the cell gets a copy of its own.
  virtual void SharedCell(std::uint32_t row, std::uint32_t col, std::uint32_t index, std::string_view text) {
    (void)index;
    Cell(row, col, std::string(text));
  }
  // True when the sink keeps the workbook's shared strings itself: the readers then hand each entry to
  // SharedString as they read the table (before the cells, entries numbered from 0 in order) and keep no text
  // of them, so that a text lives once during the reading; a cell that shows an entry makes them ask the sink for
  // the entry's text (KeptSharedString) before it hands the cell on.
  virtual bool KeepsSharedStrings() const { return false; }
  // Before the entries: about how many there will be (the table's own count, bounded), so that a sink keeps
  // room for them at once instead of growing step by step.
  virtual void SharedStringsAhead(std::uint32_t count) { (void)count; }
  virtual void SharedString(std::uint32_t index, std::string_view text) { (void)index, (void)text; }
  // The text of an entry handed to SharedString, valid until the sink changes (a sink that keeps the entries
  // answers for each of them).
  virtual std::string_view KeptSharedString(std::uint32_t index) const {
    (void)index;
    return {};
  }
  // The cell just handed on is damaged (its text is cut short, say): `message` says how. The reading goes on;
  // a sink that keeps cells keeps the message with the cell, so that what uses the cell can fail there.
  virtual void CellDamaged(std::uint32_t row, std::uint32_t col, std::string message) {
    (void)row, (void)col, (void)message;
  }
  // Asked by the text reader after each piece of text (about a chunk's worth): true ends the reading there, with
  // the records read so far counted (the record cut off by the end of the piece among them).
  virtual bool Enough() const { return false; }
};

// Shared-string entries a sink is told to keep room for ahead, at most (a damaged count cannot ask for more).
inline constexpr std::uint32_t kSharedStringsAhead = 1u << 20;

// Bounds on what a file may make a reader do.
struct SheetLimits {
  std::uint64_t MaxEntryBytes = 512ull << 20;   // uncompressed size of one zip entry (.xlsx)
  std::uint32_t MaxRow = 1048576;               // the formats' own limits (1-based)
  std::uint32_t MaxCol = 16384;
  std::uint32_t MaxSharedStrings = 1u << 24;    // entries of the shared string table
  std::uint32_t MaxCellChars = 32767;           // UTF-16 code units of one cell's text, as spreadsheet programs count
};

// The file-format versions the import names: 2 .. 6 for BIFF2 .. BIFF8 (6 = Excel 97), 7 for Office Open XML.
inline constexpr std::int32_t kVersionXlsx = 7;

// The sheet a workbook reader reads, and the workbook's sheets as the reader found them.
struct SheetChoice {
  // In: the sheet by name (exact, then without regard to letter case), or by number from 1 when no sheet bears
  // the text as name; empty: the first worksheet (chart sheets and the like are passed over). A named or
  // numbered sheet without any cell is refused, naming the sheets that hold data.
  std::string Sheet;
  // Out: every sheet in tab order, worksheets, chart sheets and macro sheets alike (an old worksheet file holds
  // one sheet; a sheet without name is called "Sheet<n>", n its place from 1); and the place of the sheet read.
  std::vector<std::string> Names;
  std::size_t Index = 0;
};

// Reads one sheet of an .xls workbook: a compound document holding a "Workbook" or "Book" stream, or a raw
// BIFF2 .. BIFF5 stream. Returns the format version (2 .. 6).
std::int32_t ReadXlsSheet(std::string_view bytes, SheetSink& sink, SheetChoice& choice, const SheetLimits& limits = {});
// The same from a file: a compound document's workbook stream is read from the file a window of `windowBytes` at
// a time (a record, or a record and its continuations, longer than that is read whole), so that neither the
// file nor the stream is ever held whole. A file that cannot be opened or read throws EInOutError.
inline constexpr std::size_t kXlsWindowBytes = 256 * 1024;
std::int32_t ReadXlsFile(const std::string& fileName, SheetSink& sink, SheetChoice& choice, const SheetLimits& limits = {},
                         std::size_t windowBytes = kXlsWindowBytes);
// The sheet names of an .xls workbook, from its globals alone (no cell and no shared string is read).
std::vector<std::string> XlsFileSheetNames(const std::string& fileName, const SheetLimits& limits = {});

// Reads one sheet of an .xlsx file (a file, or bytes in memory).
void ReadXlsxSheet(const std::string& fileName, SheetSink& sink, SheetChoice& choice, const SheetLimits& limits = {});
void ReadXlsxSheet(const void* data, std::size_t size, SheetSink& sink, SheetChoice& choice,
                   const SheetLimits& limits = {});
// The sheet names of an .xlsx file, from its workbook part alone (no cell is read).
std::vector<std::string> XlsxSheetNames(const std::string& fileName, const SheetLimits& limits = {});
std::vector<std::string> XlsxSheetNames(const void* data, std::size_t size, const SheetLimits& limits = {});

// The first worksheet, as ReadXlsSheet and ReadXlsxSheet read it without a choice.
std::int32_t ReadXlsSheet0(std::string_view bytes, SheetSink& sink, const SheetLimits& limits = {});
void ReadXlsxSheet0(const std::string& fileName, SheetSink& sink, const SheetLimits& limits = {});
void ReadXlsxSheet0(const void* data, std::size_t size, SheetSink& sink, const SheetLimits& limits = {});

// What a file's content says it is. A compound document or raw BIFF stream is Xls, a zip archive Xlsx (the
// .xlsx reader refuses archives without workbook), anything else Text (the text reader refuses binary bytes).
enum class SheetFileKind { Xls, Xlsx, Text };
SheetFileKind DetectSheetFile(std::string_view bytes);

// What the text reader found: the number of records (grid rows) and the separator it split them at.
struct TextSheetInfo {
  std::int32_t Records = 0;
  char Separator = '\t';
  std::string Encoding;  // "ASCII", "UTF-8", "UTF-16LE", "UTF-16BE" or "code page N"
  std::uint64_t BytesRead = 0;  // read from the source over every pass (each pass from its start)
};

// Reads delimited text: UTF-8 (with or without byte order mark), UTF-16 with byte order mark, or else bytes in
// `codePage`; with `codePage` 0 (none given) text that is not UTF-8 throughout is refused, naming the byte
// offset and line of its first sequence that is no UTF-8. Records end in LF, CR LF or CR; fields are split at `separator` ('\t', ',' or ';'; 0: the one
// DetectSeparator finds). A field that starts with a quote runs to the closing quote, and a doubled quote
// inside it is one quote, so separators and line ends inside quotes belong to the field; text after the
// closing quote is kept as it stands, and a quote inside an unquoted field is an ordinary character. Every
// non-empty field is a cell (row = record, col = field, 0-based); messages name the record as "Line n".
TextSheetInfo ReadTextSheet(std::string_view bytes, int codePage, char separator, SheetSink& sink,
                            const SheetLimits& limits = {});

// Reads a text file as ReadTextSheet reads its bytes (the same cells, refusals, messages and separator), but from
// the file in chunks of `chunkBytes`, so that memory follows the chunk and not the file: besides the chunk it
// holds one cell's text (up to the cell limit: the rest of a longer one is only looked through), a multi-byte
// character cut at a chunk's end, and while the separator is detected, the text of the first records (at most
// 4 MiB, in ReadTextSheet alike: records that run past it are judged from what it holds). The file is read from
// its start for the encoding (the first 8 KiB; without byte order mark then all of it, since a file that is not
// UTF-8 throughout is in `codePage` as a whole), for the separator sample when `separator` is 0, and for the
// records; the first reading to the end fixes the file's size for the later ones. A file that cannot be read
// twice (a pipe, a device) is read whole into memory.
inline constexpr std::size_t kTextChunkBytes = 1u << 20;
TextSheetInfo ReadTextFile(const std::string& fileName, int codePage, char separator, SheetSink& sink,
                           const SheetLimits& limits = {}, std::size_t chunkBytes = kTextChunkBytes);

// The separator of delimited UTF-8 text, judged from its first records (at most kSniffRecords non-blank ones):
// for each of tab, ';' and ',' the fields of every record are counted with the quoting rules above; a
// separator is consistent when one count above 1 holds for all sampled records but a tenth of them (one of
// three to nineteen; none of one or two). Among the consistent separators the larger count wins, ties in the
// order tab, ';', ','; but ',' stands aside when another consistent separator's fields hold commas mostly
// as decimal commas ("70,1;80,2" is two fields split at ';'). No consistent separator: tab (one column).
inline constexpr int kSniffRecords = 20;
char DetectSeparator(std::string_view text);
// Refuses a separator other than 0 (detect), tab, ',' and ';'.
void CheckTextSeparator(char separator);

// ---- shared by the readers ----

// The place in `names` of the sheet that `wanted` names (see SheetChoice::Sheet); an unknown sheet is refused
// with the list of the sheets.
std::size_t FindSheet(const std::vector<std::string>& names, std::string_view wanted);
// Gives every sheet without a name its name "Sheet<n>".
void NameUnnamedSheets(std::vector<std::string>& names);
// Refuses the chosen sheet `index` as empty, naming the sheets for which `holdsData` says true.
[[noreturn]] void RefuseEmptySheet(const std::vector<std::string>& names, std::size_t index,
                                   const std::function<bool(std::size_t)>& holdsData);

// Passes a worksheet's cells on and counts them (the .xlsx reader's: it hands the shared strings to the sink
// itself, and tells of no damaged cell).
class CountingSink : public SheetSink {
public:
  explicit CountingSink(SheetSink& next) : next_(next) {}
  void Cell(std::uint32_t row, std::uint32_t col, std::string text) override {
    ++Count;
    next_.Cell(row, col, std::move(text));
  }
  void Number(std::uint32_t row, std::uint32_t col, double value) override {
    ++Count;
    next_.Number(row, col, value);
  }
  void SharedCell(std::uint32_t row, std::uint32_t col, std::uint32_t index, std::string_view text) override {
    ++Count;
    next_.SharedCell(row, col, index, text);
  }
  std::uint64_t Count = 0;

private:
  SheetSink& next_;
};

// Answers whether a sheet holds a cell by stopping its reader at the first one: ProbeSink throws FirstCellFound
// (no std::exception, so no handler of failures takes it for one), and the probing reader catches it.
struct FirstCellFound {};
class ProbeSink : public SheetSink {
public:
  void Cell(std::uint32_t, std::uint32_t, std::string) override { throw FirstCellFound{}; }
  void Number(std::uint32_t, std::uint32_t, double) override { throw FirstCellFound{}; }
  void SharedCell(std::uint32_t, std::uint32_t, std::uint32_t, std::string_view) override { throw FirstCellFound{}; }
};

// How a number format shows a number.
enum class NumberKind : std::uint8_t { Number, Date, Elapsed };

// The kind of a format code ("yyyy-mm-dd", "[h]:mm:ss", "0.00"): its first section decides; date letters
// (y, m, d, h, s) outside quotes, escapes and brackets make a date unless number placeholders (0, #, ?)
// outnumber them; "[h]", "[m]" or "[s]" make an elapsed time.
NumberKind ClassifyFormatCode(std::string_view code);
// The kind of a built-in format number of BIFF5 and later and of Office Open XML (14 .. 22, 27 .. 36, 45 .. 47,
// 50 .. 58 are dates and times, 46 elapsed).
NumberKind BuiltinFormatKind(std::uint32_t id);

// The text of a number shown by a format of that kind: a date serial (days since 30 December 1899 in the 1900
// date system, with that system's phantom 29 February 1900 below serial 61; since 1 January 1904 in the 1904
// system) as a date when it is whole, a time of day between 0 and 1, else both; a negative serial as a number; an
// elapsed time as [-]hh:mm:ss; other numbers in the shortest form.
std::string NumberText(double value, NumberKind kind, bool date1904);
std::string SerialDateText(double serial, bool date1904);

// Strings as a spreadsheet holds them: one buffer, so that a million short strings cost little more than their
// bytes.
class StringTable {
public:
  void Add(std::string_view text);
  // Gives back the room that growing left unused, once the table is complete (before the cells are read).
  void Shrink() {
    text_.shrink_to_fit();
    ends_.shrink_to_fit();
  }
  std::size_t Size() const { return ends_.size(); }
  std::string_view operator[](std::size_t i) const {
    const std::size_t begin = i == 0 ? 0 : ends_[i - 1];
    return std::string_view(text_).substr(begin, ends_[i] - begin);
  }

private:
  std::string text_;
  std::vector<std::uint32_t> ends_;
};

// UTF-16 code units of UTF-8 text (characters beyond the Basic Multilingual Plane count two).
std::size_t Utf16Units(std::string_view utf8);
// Appends UTF-16LE code units as UTF-8; a lone surrogate becomes U+FFFD. `pending` carries a high surrogate
// from one call to the next (0 when none); pass nullptr when the units are complete.
void AppendUtf16(std::string& out, const unsigned char* p, std::size_t units, char16_t* pending = nullptr);
// Appends Latin-1 bytes (BIFF8's compressed strings) as UTF-8.
void AppendLatin1(std::string& out, const unsigned char* p, std::size_t count);

}  // namespace vez::detail

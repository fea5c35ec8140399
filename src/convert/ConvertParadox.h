// Conversion of old Paradox libraries into library files of the table engine.
//
// ParadoxToABS converts one Paradox table (".db", ".run", ".sdb" or ".tdb" with its ".mb") into the library file
// whose name decides its library type (emis.db -> emis.abs, X.run -> X.runx, RREC0001.tdb -> RREC0001.tabs).
// ConvertParadoxFiles converts every table of a folder (and, when asked, of its subfolders) in four passes, writes
// the log "Convert.log" in the start folder and can delete the converted Paradox files with their companions.
//
// What the conversion shows a person goes through TConversionView: the form's two labels, its pending-message
// pump, message boxes and the busy cursor, plus progress notices that a terminal or a window can show. The log
// lines collect in TConvParadox::Memo1 and reach "Convert.log" once, at the end of a run; several runs append to
// the same log.
//
// Safety: each table is filled inside one engine transaction that is committed when the table is done, so a run
// that is killed leaves no half-filled table behind (the records appear together at commit) and is bounded by
// reading and writing rather than by a disk sync per record; a record whose Post fails is dropped alone. A failed
// read or commit rolls the whole table back. The figures of a table are taken after its commit.
//
// Our choices beyond the plain conversion, so that runs on real folders lose and duplicate nothing:
// - Verification: after its commit every library is read back and compared with its Paradox table, read a second
//   time, record by record and cell by cell, by the field names the conversion matched: numbers as stored (an
//   integer equals the same number as a double; 1.5 stored as 2 differs), texts after the code-page conversion,
//   memo and BLOB bytes and dates (to the millisecond) exactly. A table is complete, and may be deleted, only
//   when every record and every non-empty cell arrived: a field that has values but no field in the library,
//   a value the library refused, a text cut to its field's size or any other difference makes it incomplete.
//   The log, the table's report and the summary name the fields and the first differing cells. The comparison
//   runs in one pass: a digest of each record's cells is kept while the table is converted (so the table is not
//   read twice), and the library's records are read from its file's pages after the commit (what is on disk,
//   not what was sent) and digested alike; only when a digest differs, or a value is stored in a form the file
//   reader leaves to the engine, are the table and the library compared again cell by cell to name what differs.
// - New libraries appear only complete: a library is made under a passing name (TNewLibraryFile) and takes its
//   name after its commit; a table of which no record could be written leaves no library.
// - Re-runs: an existing library is never deleted or replaced. One that holds records is not converted again
//   (the log says so in one line) but verified against its table, so a second run with DeleteOld deletes exactly
//   the tables whose every cell is in their library; an empty one (an earlier run was interrupted, or it was
//   made empty) is filled and verified. A file of the library's name that holds no table is a leftover of an
//   interrupted creation and is replaced; one that is no database at all is left as it is and the table kept.
// - Deletion: DeleteOld deletes a Paradox table only when it is complete (see Verification): not after a failed
//   Post, a failed commit, an encrypted or unreadable table, a table with no records, nor one whose blocks hold
//   fewer records than its header promises. The log says why a table is kept; the summary lists every file that
//   was deleted.
// - A table none of whose fields is in the library's layout is converted as every other one: its records are
//   appended with the defaults of their type, and it is kept as incomplete.
// - Dry run (TConvertOptions::DryRun): every table is converted into a scratch library in the system's temporary
//   folder and verified there; nothing is written in the folder, no log is appended and nothing is deleted. The
//   report then tells per table what a real run would do, whether it could be deleted included.
// - Interruption (TConvertOptions::Interrupted, asked once per record): the current table is rolled back (a new
//   library of it is removed), no further table is converted, nothing is deleted, and the log, written as
//   usual, says that the run was interrupted.
// - Names: the pass masks, the never-converted names, the delete list and the companion files are matched
//   without regard to letter case (non-ASCII letters too), as the old platform's file system did.
// - Folders: the passes take the files of a folder only. A subfolder whose name matches a pass mask ("dir.db") is
//   no table; the old platform listed it and its load failed with an error line, we pass it over without a line
//   (and walk into it in a recursive run).
// - Memory: records stream from the reader's step loading straight into the library, one record at a time, so
//   no cell model is built and the peak memory does not grow with the table.
// - Text cut to a field's size is counted per table and logged in one line.
// - Two runs on one folder do not fill the same table: a run holds an exclusive lock (flock) on its start folder
//   for its whole length and on each subfolder while it converts it; a second run waits and then finds the
//   libraries the first one made.
// - A password (TConvertOptions::Password) is handed to the reader of every table; an encrypted table that cannot
//   be read is logged, kept and counted as not converted, and the run goes on.
// - Jobs (TConvertOptions::Jobs): with more than one, tables are converted that many at a time, each in a process
//   of its own forked from the caller, within a folder and across the folders of a run (ConvertParadoxFolders).
//   Processes rather than threads, because a table's conversion owns all it touches, the process-wide format
//   and date settings included, so nothing is shared that could race; a job that crashes on a damaged file or is
//   killed takes only its own table with it (the summary names it with the signal, the other tables go on, and a
//   re-run completes it); and each job's memory is its own (TConvertedTable::PeakMemoryKB). Each table keeps
//   every rule above: its folder is locked while any of its tables converts, the re-run skip, verification and
//   deletion are per table as before. The log of a folder reads as a run with one job writes it: the lines of
//   a table together, tables in the order of the passes; only the times differ. With one job (the default)
//   tables convert one after the other in the calling process. A job is forked: call it from a process whose
//   other threads do not hold locks the conversion needs (the vezi tool and the Python module qualify).
//
// Choices of this system: folder entries are taken in name order (case-insensitive, then by bytes), as the
// original file system listed them; symbolic links to folders are not followed in a recursive run (they could
// loop); the log's lines end with "\n"; the folder line of the view names each folder as its tables come (the
// start folder, then each subfolder), not only the start folder, so that a long recursive run shows where it is;
// the five never-converted tables (TmpRun.db, Attrib.db, Thumbs.db, AtWall.db, AtCalc.db) are listed for deletion
// under the name they have on disk ("attrib.DB"), which is the file a person then finds or misses. The program date in the log's header line is set by the calling program
// with SetProgramDate (a day number of UserDate); until then it is the date this library was built.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/StringList.h"
#include "util/UserDate.h"

namespace vez {

// How the conversion of one table ended.
enum class TTableOutcome {
  Converted,      // every record and every non-empty cell is in the library (verified)
  Incomplete,     // records or values are missing or differ in the library
  Failed,         // no record was written (all posts failed, failed commit, no definitions, no known field type)
  Skipped,        // the library existed already with records (and was verified against the table)
  NoRecords,      // the Paradox table holds no records
  NoLibraryType,  // the new name has no library type
  Encrypted,      // encrypted, and no valid password
  Unreadable,     // the Paradox file cannot be read
  Interrupted,    // the run was interrupted while this table was converted: nothing of it was written
};

// The short text of an outcome ("converted", "incomplete", "failed", "skipped because the library exists",
// "no records", "no library type", "encrypted", "unreadable", "interrupted").
const char* OutcomeText(TTableOutcome outcome);

// A field of the Paradox table that holds values but has no field in the library.
struct TDroppedField {
  std::string Name;
  std::int32_t Values = 0;  // its non-empty cells
};

// A cell whose value the library does not hold as the Paradox table does.
struct TCellDifference {
  std::int32_t Record = 0;   // 1-based, in the table's order
  std::string Field;
  std::string TableValue;    // as text: "empty", a number, a quoted text (cut after 40 characters), "N bytes"
  std::string LibraryValue;  // likewise; "missing" for a record the library lacks
};

inline constexpr std::size_t kMaxReportedDifferences = 5;

// What happened to one table.
struct TConvertedTable {
  std::string Source;   // full path of the Paradox file
  std::string Target;   // full path of the library file
  std::int32_t LibType = -1;
  std::int32_t RecordsInHeader = 0;  // records the Paradox header counts
  std::int32_t RecordsRead = 0;      // records read from the block chain
  std::int32_t RecordsWritten = 0;   // records in the library after the commit
  std::int32_t LibraryRecords = 0;   // records the library held before (a skipped table)
  std::int32_t TextCut = 0;          // text values cut to their field's size
  std::int32_t Rejected = 0;         // values the library refused (an error line each)
  std::int32_t Errors = 0;  // error lines logged for this table
  bool Converted = false;   // the library table existed afterwards (ParadoxToABS gave True)
  TTableOutcome Outcome = TTableOutcome::Failed;
  bool Verified = false;    // the library was read back and compared with the table
  std::vector<TDroppedField> DroppedFields;
  std::int32_t Differences = 0;                   // cells that differ (dropped fields not counted)
  std::vector<TCellDifference> FirstDifferences;  // the first kMaxReportedDifferences of them
  bool Complete = false;    // verified: every record and non-empty cell is in the library; it may be deleted
  std::string Reason;       // why the table is kept, when it is not Complete
  std::int64_t PeakMemoryKB = 0;  // the peak resident memory of the table's process (0: converted in the caller's)
};

// How a conversion runs.
struct TConvertOptions {
  std::string Password;  // for encrypted tables
  // Read every library back and compare it with its table. Without it no table counts as complete (nothing is
  // deleted); it is switched off only to measure what it costs.
  bool Verify = true;
  // Convert into scratch libraries in the system's temporary folder: nothing is written in the folder.
  bool DryRun = false;
  // Asked once per record; when it gives true the run stops (the current table is rolled back). With several
  // jobs it is asked by the calling process between events, and the running jobs are told to stop (SIGTERM; a
  // job rolls its table back on SIGTERM and SIGINT alike).
  std::function<bool()> Interrupted;
  // Tables converted at once, each in a process of its own (see "Jobs" above); 1 converts them one after the
  // other in the calling process.
  std::int32_t Jobs = 1;
};

// How far a whole run is: tables finished and running of all tables of the run, records read so far over every
// table, and the seconds since the run started (records per second: Records / Seconds).
struct TRunProgress {
  std::int32_t TablesDone = 0;
  std::int32_t TablesRunning = 0;
  std::int32_t TablesTotal = 0;
  std::int64_t Records = 0;
  double Seconds = 0;
};

// The user interface of a conversion. Every operation has an empty default, so a caller implements what it shows.
class TConversionView {
public:
  virtual ~TConversionView() = default;
  // The form appears (with its caption) and disappears.
  virtual void Show(const std::string& caption) { (void)caption; }
  virtual void Hide() {}
  // Label1: the folder line; Label2: the file being converted.
  virtual void SetFolderText(const std::string& text) { (void)text; }
  virtual void SetFileText(const std::string& text) { (void)text; }
  // Gives the interface a chance to process pending messages (called once per table).
  virtual void ProcessMessages() {}
  // A message box.
  virtual void ShowMessage(const std::string& text) { (void)text; }
  // The hourglass cursor on (True) and off.
  virtual void SetBusy(bool busy) { (void)busy; }
  // Every line as it is added to the log.
  virtual void LogLine(const std::string& line) { (void)line; }
  // Progress: the number of candidate tables of the whole run (known before the first table), the start of
  // table `index` (1-based) of `total`, records done of a table, and the end of a table.
  virtual void RunStarted(std::int32_t totalTables) { (void)totalTables; }
  virtual void TableStarted(std::int32_t index, std::int32_t total, const std::string& source) {
    (void)index, (void)total, (void)source;
  }
  virtual void RecordProgress(std::int32_t done, std::int32_t total) { (void)done, (void)total; }
  virtual void TableFinished(const TConvertedTable& table) { (void)table; }
  // The whole run, at the start and end of every table and every 1000 records of each; with several jobs, the
  // progress notices above are given per table in the calling process: TableStarted when a table's job starts
  // (with JobStarted and the job's process id), RecordProgress not at all, TableFinished in the order of the log.
  virtual void RunProgress(const TRunProgress& progress) { (void)progress; }
  virtual void JobStarted(const std::string& source, int processId) { (void)source, (void)processId; }
};

// The log lines of a conversion (the form's memo). Lines added here also reach the view's LogLine.
class TConvertLog {
public:
  explicit TConvertLog(TConversionView* view = nullptr) : view_(view) {}
  void Add(const std::string& line);
  const StringList& Lines() const { return lines_; }
  StringList& Lines() { return lines_; }
  // All lines, each followed by "\n".
  std::string Text() const { return lines_.Text(); }

private:
  StringList lines_;
  TConversionView* view_;
};

// The day number shown as program date in the log's header line (process-wide, set by the calling program).
void SetProgramDate(Date programDate);
Date ProgramDate();

// Converts SrcDir + ParadoxName into the library DestDir + DestName. Memo receives the log lines and View shows
// the file name (its Label2); either may be null. SrcDir and DestDir end with a path separator. True when the
// library table exists after the attempt (records may still have failed). `report`, when given, receives the
// figures of this table, its verification included. The conversion of one table is self-contained: its log
// lines go to Memo in one piece and everything else to `report`.
bool ParadoxToABS(TConvertLog* Memo, TConversionView* View, const std::string& SrcDir, const std::string& DestDir,
                  const std::string& ParadoxName, const std::string& DestName, TConvertedTable* report,
                  const TConvertOptions& options);
// As above; `password` is handed to the reader (TDBParadox::Password).
bool ParadoxToABS(TConvertLog* Memo, TConversionView* View, const std::string& SrcDir, const std::string& DestDir,
                  const std::string& ParadoxName, const std::string& DestName, TConvertedTable* report = nullptr,
                  const std::string& password = std::string());

// The conversion run behind the progress form.
class TConvParadox {
public:
  static constexpr const char* Caption = "Converting Paradox Tables";

  explicit TConvParadox(TConversionView* view = nullptr);

  bool Recursive = false;
  bool DeleteOld = false;
  TConvertOptions Options;
  std::string Folder;     // with a trailing path separator
  StringList DeleteList;  // full paths, compared without regard to case
  TConvertLog Memo1;
  std::vector<TConvertedTable> Tables;  // every table handled, in order

  ~TConvParadox();
  TConvParadox(const TConvParadox&) = delete;
  TConvParadox& operator=(const TConvParadox&) = delete;

  // Converts the tables of one folder (ending with a path separator) and, when Recursive, of its subfolders,
  // Options.Jobs at a time.
  void ConvertLibs(const std::string& Folder, bool Recursive);

  TConversionView* View() const { return view_; }
  // Whether the run was interrupted (TConvertOptions::Interrupted).
  bool Interrupted() const { return interrupted_; }
  // Tables of the run not reached because it was interrupted.
  std::int32_t TablesNotReached() const { return interrupted_ ? std::max(totalTables_ - tableIndex_, 0) : 0; }

  struct Plan;  // the folders and tables of the walk, in the order the log takes them

private:
  friend struct TConversionRun;
  TConversionView* view_;
  std::unique_ptr<Plan> plan_;
  bool interrupted_ = false;
  std::int32_t totalTables_ = 0;
  std::int32_t tableIndex_ = 0;
};

// The result of a whole run, for callers that report it.
struct TConversionSummary {
  std::vector<TConvertedTable> Tables;
  std::string LogFile;      // "Convert.log" in the start folder (not written by a dry run)
  std::int32_t ErrorLines = 0;  // lines of the log that report an error
  std::string ErrorText;    // the walk-error text, when the walk failed
  std::string LogError;     // why "Convert.log" could not be written ("" when it was)
  std::vector<std::string> Deleted;  // the files DeleteOld deleted (tables and companions), in order
  bool DryRun = false;
  bool Interrupted = false;  // the run was interrupted: the tables after the last one listed were not converted
};

// Converts every convertible Paradox table of Folder; always gives True when it returns.
bool ConvertParadoxFiles(const std::string& Folder, bool Recursive, bool DeleteOld);
bool ConvertParadoxFiles(const std::string& Folder, bool Recursive, bool DeleteOld, TConversionView* view,
                         TConversionSummary* summary, const TConvertOptions& options);
bool ConvertParadoxFiles(const std::string& Folder, bool Recursive, bool DeleteOld, TConversionView* view,
                         TConversionSummary* summary, const std::string& password = std::string());

// Converts the folders of one run, each as ConvertParadoxFiles does (its own lock, log, delete list and summary),
// their tables options.Jobs at a time across all of them. `summaries`, when given, receives one summary per
// folder, in the order given. A folder given twice (the same folder by another path) is converted once.
void ConvertParadoxFolders(const std::vector<std::string>& folders, bool Recursive, bool DeleteOld,
                           TConversionView* view, std::vector<TConversionSummary>* summaries,
                           const TConvertOptions& options);
// What a run would do with the files of a folder, for front ends that list them.
// The library name a Paradox table gets ("emis.db" -> "emis.abs", "X.run" -> "X.runx", "R.tdb" -> "R.tabs");
// "" for a name that no pass takes.
std::string ConvertedFileName(const std::string& ParadoxName);
// Whether a run leaves the table out and deletes it with DeleteOld ("Thumbs.db", "TmpRun.db", ...).
bool NeverConverted(const std::string& ParadoxName);
// The companion files of a Paradox table that are deleted with it, as they are named in its folder.
std::vector<std::string> CompanionFiles(const std::string& TablePath);

namespace detail {
// The tables this process has compared with their libraries cell by cell because the comparison by digests did
// not find them equal. A table whose library holds it whole is among them only when the digests cannot tell:
// a cell stored as a value of another kind (the text "False" in a flag field, say; a digest takes a text as a
// text), or stored in a form the file reader leaves to the engine. Otherwise it would only cost time.
std::int64_t TablesComparedCellByCell();
}  // namespace detail

}  // namespace vez

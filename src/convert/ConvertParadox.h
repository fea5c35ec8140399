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
// - Re-runs: a table whose library exists already and holds records is not converted again (the log says so in
//   one line); with DeleteOld its Paradox file is deleted when the library holds at least as many records as
//   the Paradox header counts, and kept otherwise.
// - Deletion: DeleteOld deletes a Paradox table only when every one of its records is in the library: not after a
//   failed Post, a failed commit, an encrypted or unreadable table, a table with no records, nor one whose
//   blocks hold fewer records than its header promises. The log says why a table is kept.
// - Names: the pass masks, the never-converted names, the delete list and the companion files are matched
//   without regard to letter case (non-ASCII letters too), as the old platform's file system did.
// - Memory: records stream from the reader's step loading straight into the library, one record at a time, so
//   no cell model is built and the peak memory does not grow with the table.
// - Text cut to a field's size is counted per table and logged in one line.
// - Two runs on one folder do not fill the same table: a run holds an exclusive lock (flock) on its start folder
//   for its whole length and on each subfolder while it converts it; a second run waits and then finds the
//   libraries the first one made.
// - A password (TConvParadox::Password) is handed to the reader of every table; an encrypted table that cannot
//   be read is logged, kept and counted as not converted, and the run goes on.
//
// Choices of this system: folder entries are taken in name order (case-insensitive, then by bytes), as the
// original file system listed them; symbolic links to folders are not followed in a recursive run (they could
// loop); the log's lines end with "\n". The program date in the log's header line is set by the calling program
// with SetProgramDate (a day number of UserDate); until then it is the date this library was built.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/StringList.h"
#include "util/UserDate.h"

namespace vez {

// How the conversion of one table ended.
enum class TTableOutcome {
  Converted,        // every record is in the library
  Incomplete,       // some records are missing (failed posts, a short block chain)
  Failed,           // no record was written (all posts failed, failed commit, no definitions, no known field type)
  Skipped,          // the library existed already with records
  NoRecords,        // the Paradox table holds no records
  NoLibraryType,    // the new name has no library type
  Encrypted,        // encrypted, and no valid password
  Unreadable,       // the Paradox file cannot be read
  NoFieldInLayout,  // none of its fields is in the library's layout
};

// The short text of an outcome ("converted", "incomplete", "failed", "skipped because the library exists",
// "no records", "no library type", "encrypted", "unreadable", "no field in the layout").
const char* OutcomeText(TTableOutcome outcome);

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
  std::int32_t Errors = 0;  // error lines logged for this table
  bool Converted = false;   // the library table existed afterwards (ParadoxToABS gave True)
  TTableOutcome Outcome = TTableOutcome::Failed;
  bool Complete = false;    // every record of the Paradox table is in the library: it may be deleted
  std::string Reason;       // why the table is kept, when it is not Complete
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
// figures of this table.
// `password` is handed to the reader (TDBParadox::Password).
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
  std::string Password;   // for encrypted tables
  std::string Folder;     // with a trailing path separator
  StringList DeleteList;  // full paths, compared without regard to case
  TConvertLog Memo1;
  std::vector<TConvertedTable> Tables;  // every table handled, in order

  // Converts the tables of one folder (ending with a path separator) and, when Recursive, of its subfolders.
  void ConvertLibs(const std::string& Folder, bool Recursive);

  TConversionView* View() const { return view_; }

private:
  void CountTables(const std::string& folder, bool recursive);
  TConversionView* view_;
  std::int32_t totalTables_ = 0;
  std::int32_t tableIndex_ = 0;
};

// The result of a whole run, for callers that report it.
struct TConversionSummary {
  std::vector<TConvertedTable> Tables;
  std::string LogFile;      // "Convert.log" in the start folder
  std::int32_t ErrorLines = 0;  // lines of the log that report an error
  std::string ErrorText;    // the walk-error text, when the walk failed
  std::string LogError;     // why "Convert.log" could not be written ("" when it was)
};

// Converts every convertible Paradox table of Folder; always gives True when it returns.
bool ConvertParadoxFiles(const std::string& Folder, bool Recursive, bool DeleteOld);
bool ConvertParadoxFiles(const std::string& Folder, bool Recursive, bool DeleteOld, TConversionView* view,
                         TConversionSummary* summary, const std::string& password = std::string());

// What a run would do with the files of a folder, for front ends that list them.
// The library name a Paradox table gets ("emis.db" -> "emis.abs", "X.run" -> "X.runx", "R.tdb" -> "R.tabs");
// "" for a name that no pass takes.
std::string ConvertedFileName(const std::string& ParadoxName);
// Whether a run leaves the table out and deletes it with DeleteOld ("Thumbs.db", "TmpRun.db", ...).
bool NeverConverted(const std::string& ParadoxName);
// The companion files of a Paradox table that are deleted with it, as they are named in its folder.
std::vector<std::string> CompanionFiles(const std::string& TablePath);

}  // namespace vez

#include "convert/ConvertParadox.h"

#include <algorithm>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>

#include "core/CaseFold.h"
#include "core/Exceptions.h"
#include "core/FileMask.h"
#include "core/FormatSettings.h"
#include "import/SMParadox.h"
#include "librarydb/Absmain.h"
#include "librarydb/Defaults.h"
#include "librarydb/Layouts.h"
#include "librarydb/OVLibConst.h"
#include "settings/IniConsts.h"

namespace vez {

namespace fs = std::filesystem;

namespace {

// Message texts of the conversion.
constexpr const char* kConvertingLine = "Converting: \"%s\"";
constexpr const char* kFieldMissingLine = "Field not found \"%s\"";
constexpr const char* kUnknownType = "Unknown Database Type";
constexpr const char* kNoDefinitions = "Error: Neither Field- nor Index definitions";
constexpr const char* kUnknownFieldType = "Unknown FieldType";
constexpr const char* kFolderLine = "Converting Folder \"%s\"";
constexpr const char* kDeletingLine = "Deleting \"%s\"";
constexpr const char* kExistsLine = "Library exists already: \"%s\" (%d records), not converted again";
constexpr const char* kTextCutLine = "Text cut to the field size: %d values";
constexpr const char* kShortTable = "Only %d of the %d records that the header counts were found";
constexpr const char* kNoFieldInLayout = "None of the fields is in the library's layout";
constexpr const char* kKeepingLine = "Keeping \"%s\": %s";

std::string ErrorLine(const std::string& message) { return "Error: \"" + message + "\""; }

// A log line that reports an error (counted for the caller's summary). A table whose name has no library type
// is not an error: it is simply no library and stays as it is.
bool IsErrorLine(const std::string& line) { return line.rfind("Error:", 0) == 0; }

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

struct DirEntry {
  std::string Name;
  bool IsDirectory = false;
  bool IsLink = false;
};

// The entries of a folder in name order (case-insensitive, then by bytes).
std::vector<DirEntry> ListFolder(const std::string& folder) {
  std::vector<DirEntry> entries;
  for (const auto& e : fs::directory_iterator(fs::path(folder))) {
    std::error_code ec;
    DirEntry d;
    d.Name = e.path().filename().string();
    d.IsLink = e.is_symlink(ec);
    d.IsDirectory = e.is_directory(ec);
    entries.push_back(std::move(d));
  }
  std::sort(entries.begin(), entries.end(), [](const DirEntry& a, const DirEntry& b) {
    const int c = CompareText(a.Name, b.Name);
    return c != 0 ? c < 0 : a.Name < b.Name;
  });
  return entries;
}

struct Pass {
  const char* Mask;
  const char* NewExtension;
  bool SkipListed;
};
constexpr Pass kPasses[] = {
    {"*.run", ".runx", false},
    {"*.sdb", ".sdbx", false},
    {"*.db", ".abs", true},
    {"*.tdb", ".tabs", false},
};

constexpr const char* kNeverConverted[] = {"TmpRun.db", "Attrib.db", "Thumbs.db", "AtWall.db", "AtCalc.db"};

// Companion files of a Paradox table, deleted with it.
std::vector<std::string> CompanionExtensions() {
  std::vector<std::string> exts = {".mb", ".px", ".val"};
  for (char d = '0'; d <= '9'; ++d)
    for (const char* stem : {".xg", ".yg", ".x0", ".y0"}) exts.push_back(std::string(stem) + d);
  return exts;
}

// Deletes a Paradox table and its companions, each found in any letter case ("EMIS.DB" with "EMIS.MB",
// "emis.Px"); a missing file is skipped.
void DeleteTableFiles(const std::string& path) {
  const fs::path p(path);
  const std::string stem = p.stem().string();
  std::vector<std::string> wanted = {FoldCase(p.filename().string())};
  for (const auto& ext : CompanionExtensions()) wanted.push_back(FoldCase(stem + ext));
  std::error_code ec;
  std::vector<fs::path> victims;
  for (fs::directory_iterator it(p.parent_path(), ec), end; !ec && it != end; it.increment(ec)) {
    if (std::find(wanted.begin(), wanted.end(), FoldCase(it->path().filename().string())) != wanted.end())
      victims.push_back(it->path());
  }
  for (const auto& v : victims) fs::remove(v, ec);
}

// An exclusive lock on a folder's conversion, held while the object lives. Another run waits for it.
class FolderLock {
public:
  explicit FolderLock(const std::string& folder) {
    fd_ = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd_ < 0) return;  // the walk reports a folder it cannot open
    while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
    }
  }
  ~FolderLock() {
    if (fd_ >= 0) ::close(fd_);  // closing releases the lock
  }
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;

private:
  int fd_ = -1;
};

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
    case TTableOutcome::NoFieldInLayout: return "no field in the layout";
  }
  return "failed";
}

namespace {

// The stage a table's conversion failed in decides its outcome.
enum class Stage { Reading, Writing };

}  // namespace

bool ParadoxToABS(TConvertLog* Memo, TConversionView* View, const std::string& SrcDir, const std::string& DestDir,
                  const std::string& ParadoxName, const std::string& DestName, TConvertedTable* report,
                  const std::string& password) {
  TConvertedTable local;
  TConvertedTable& r = report ? *report : local;
  r = TConvertedTable{};
  r.Source = SrcDir + ParadoxName;
  r.Target = DestDir + DestName;
  auto log = [&](const std::string& line) {
    if (IsErrorLine(line)) ++r.Errors;
    if (Memo) Memo->Add(line);
  };
  auto finish = [&](TTableOutcome outcome, std::string reason) {
    r.Outcome = outcome;
    r.Complete = outcome == TTableOutcome::Converted ||
                 (outcome == TTableOutcome::Skipped && r.LibraryRecords >= r.RecordsInHeader);
    r.Reason = r.Complete ? std::string() : std::move(reason);
  };

  bool result = false;
  auto reader = std::make_unique<TDBParadox>();
  // Records stream through the reader's step loading: each record's cells land in `cells`, nothing is kept.
  reader->StepLoading = true;
  reader->Password = password;
  std::vector<Variant> cells;
  std::vector<bool> delivered;
  reader->OnDimensions = [](TCustomSpreadSheetFile&, std::int32_t, std::int32_t, std::int32_t, std::int32_t,
                            std::int32_t) {};
  reader->OnColumnWidth = [](TCustomSpreadSheetFile&, std::int32_t, std::int32_t, std::int32_t) {};
  reader->OnCellValue = [&](TCustomSpreadSheetFile&, std::int32_t, std::int32_t, std::int32_t column, std::int32_t,
                            const Variant& value, TAlignment) {
    if (column >= 0 && static_cast<std::size_t>(column) < cells.size()) {
      cells[static_cast<std::size_t>(column)] = value;
      delivered[static_cast<std::size_t>(column)] = true;
    }
  };
  log(Format(kConvertingLine, SrcDir + ParadoxName));
  if (View) {
    View->SetFileText(ParadoxName);
    View->ProcessMessages();
  }
  auto lib = std::make_unique<TMyTable>(DestDir + DestName, false, false);
  const std::int32_t libType = GetLibType(DestName);
  r.LibType = libType;
  if (libType < 0) {
    log(kUnknownType);
    finish(TTableOutcome::NoLibraryType, OutcomeText(TTableOutcome::NoLibraryType));
  } else {
    Stage stage = Stage::Reading;
    bool created = false;
    try {
      reader->LoadFromFile(SrcDir + ParadoxName);
      r.RecordsInHeader = std::max(reader->RecordCount(), 0);
      stage = Stage::Writing;
      TABSTable& table = lib->Table();
      const auto& fields = reader->Fields();
      cells.assign(fields.size(), Variant::Null());
      delivered.assign(fields.size(), false);
      bool existed = lib->Exists();
      if (existed) {
        // A library left by an earlier run that holds records is not filled a second time.
        table.Open();
        r.LibraryRecords = table.RecordCount();
        table.Close();
        if (r.LibraryRecords > 0) {
          result = true;
          r.Converted = true;
          log(Format(kExistsLine, DestDir + DestName, r.LibraryRecords));
          finish(TTableOutcome::Skipped,
                 Format("the library holds %d of its %d records", r.LibraryRecords, r.RecordsInHeader));
          reader.reset();
          lib.reset();
          return true;
        }
      }
      if (r.RecordsInHeader > 0 && !existed) {
        if (SetFieldIndexDefs(table, libType, false)) {
          lib->CreateDBTable();
          created = true;
        } else {
          table.FieldDefs().Clear();
          for (const auto& f : fields) {
            TFieldType type;
            std::int32_t size;
            if (!ColumnTypeOf(f.FieldType, f.Size, type, size)) throw Exception(kUnknownFieldType);
            table.FieldDefs().Add(f.Name, type, size, false);
          }
          if (SetIndexDefs(table, libType, false)) {
            lib->CreateDBTable();
            created = true;
          } else {
            log(kNoDefinitions);
          }
        }
      }
      if (r.RecordsInHeader == 0) {
        result = lib->Exists();
        r.Converted = result;
        finish(TTableOutcome::NoRecords, OutcomeText(TTableOutcome::NoRecords));
      } else if (!lib->Exists()) {
        finish(TTableOutcome::Failed, "no field or index definitions");
      } else {
        result = true;
        table.Open();
        std::vector<TField*> targets(fields.size(), nullptr);
        std::vector<bool> cutCheck(fields.size(), false);
        bool anyTarget = false;
        for (std::size_t i = 0; i < fields.size(); ++i) {
          targets[i] = table.FindField(fields[i].Name);
          if (!targets[i]) {
            log(Format(kFieldMissingLine, fields[i].Name));
          } else {
            anyTarget = true;
            cutCheck[i] = targets[i]->DataType() == ftString && targets[i]->Size() > 0;
          }
        }
        if (!anyTarget) {
          // Records of defaults alone would carry nothing of the table: none is written.
          log(ErrorLine(kNoFieldInLayout));
          table.Close();
          if (created) table.DeleteTable();
          result = lib->Exists();
          finish(TTableOutcome::NoFieldInLayout, OutcomeText(TTableOutcome::NoFieldInLayout));
        } else {
          const std::int32_t before = table.RecordCount();
          TNewRecordDefaults defaults(table, libType);
          TABSTransaction transaction(lib->Database());
          for (std::int32_t row = 0; row < r.RecordsInHeader; ++row) {
            std::fill(delivered.begin(), delivered.end(), false);
            const std::int32_t walked = reader->RecordsRead();
            stage = Stage::Reading;
            reader->LoadRecord(row);
            stage = Stage::Writing;
            if (reader->RecordsRead() == walked) break;  // the block chain ended early
            ++r.RecordsRead;
            table.Append();
            defaults.Apply(Now());  // a failure here ends this table
            for (std::size_t i = 0; i < fields.size(); ++i) {
              if (!targets[i]) continue;
              const Variant& value = delivered[i] ? cells[i] : Variant::Null();
              try {
                if (cutCheck[i] && value.Type() == VarType::String &&
                    Utf8Length(value.RawString()) > static_cast<std::size_t>(targets[i]->Size()))
                  ++r.TextCut;
                targets[i]->SetValue(value);
              } catch (const std::exception& e) {
                log(ErrorLine(e.what()));
              }
            }
            try {
              table.Post();
            } catch (const std::exception& e) {
              log(ErrorLine(e.what()));
              table.Delete();
            }
            if (View && ((row + 1) % 1000 == 0 || row + 1 == r.RecordsInHeader))
              View->RecordProgress(row + 1, r.RecordsInHeader);
          }
          transaction.Commit();
          // The figures come from the library after its commit.
          r.RecordsWritten = table.RecordCount() - before;
          table.Close();
          if (r.TextCut > 0) log(Format(kTextCutLine, r.TextCut));
          if (r.RecordsRead < r.RecordsInHeader) {
            log(ErrorLine(Format(kShortTable, r.RecordsRead, r.RecordsInHeader)));
          }
          if (r.RecordsWritten == 0) {
            finish(TTableOutcome::Failed, Format("0 of %d records written", r.RecordsInHeader));
          } else if (r.RecordsWritten < r.RecordsInHeader) {
            finish(TTableOutcome::Incomplete,
                   Format("%d of %d records written", r.RecordsWritten, r.RecordsInHeader));
          } else {
            finish(TTableOutcome::Converted, std::string());
          }
        }
      }
    } catch (const std::exception& e) {
      log(ErrorLine(e.what()));
      r.RecordsWritten = 0;
      if (stage == Stage::Reading) {
        const bool encrypted = reader->IsEncrypted();
        finish(encrypted ? TTableOutcome::Encrypted : TTableOutcome::Unreadable,
               encrypted ? "encrypted" : std::string("unreadable: ") + e.what());
      } else {
        finish(TTableOutcome::Failed, std::string("failed: ") + e.what());
      }
      try {
        // A table this run made and left empty goes again, with its file.
        TABSTable& table = lib->Table();
        table.Close();
        if (created && lib->Exists()) {
          table.Open();
          const bool empty = table.RecordCount() == 0;
          table.Close();
          if (empty) table.DeleteTable();
        }
        result = lib->Exists();
      } catch (const std::exception&) {
        result = false;
      }
    }
  }
  try {
    lib.reset();  // closes the library; a file without a table is removed
  } catch (const std::exception& e) {
    log(ErrorLine(e.what()));
  }
  reader.reset();
  r.Converted = result;
  return result;
}

TConvParadox::TConvParadox(TConversionView* view) : DeleteList(), Memo1(view), view_(view) {
  DeleteList.SetCaseSensitive(false);
}

void TConvParadox::CountTables(const std::string& folder, bool recursive) {
  std::error_code ec;
  std::vector<DirEntry> entries;
  try {
    entries = ListFolder(folder);
  } catch (const std::exception&) {
    return;  // the walk itself reports the folder's failure
  }
  for (const auto& e : entries) {
    for (const Pass& p : kPasses) {
      if (!MatchesMask(e.Name, p.Mask)) continue;
      const bool neverConverted = std::any_of(std::begin(kNeverConverted), std::end(kNeverConverted),
                                              [&](const char* n) { return SameTextFolded(n, e.Name); });
      if (!(p.SkipListed && neverConverted)) ++totalTables_;
    }
  }
  if (!recursive) return;
  for (const auto& e : entries)
    if (e.IsDirectory && !e.IsLink) CountTables(folder + e.Name + "/", recursive);
}

void TConvParadox::ConvertLibs(const std::string& folder, bool recursive) {
  if (tableIndex_ == 0 && totalTables_ == 0) {
    CountTables(folder, recursive);
    if (view_) view_->RunStarted(totalTables_);
  }
  std::vector<DirEntry> entries;
  {
    // The start folder is locked by the run itself; a subfolder while it is converted.
    std::unique_ptr<FolderLock> lock;
    if (folder != Folder) lock = std::make_unique<FolderLock>(folder);
    Memo1.Add(Format(kFolderLine, folder));
    if (view_) view_->SetFolderText(Format(kFolderLine, folder));

    entries = ListFolder(folder);
    // The never-converted tables go on the delete list under the name they have on disk, in whatever case.
    for (const char* name : kNeverConverted) {
      const auto found = std::find_if(entries.begin(), entries.end(), [&](const DirEntry& e) {
        return !e.IsDirectory && SameTextFolded(name, e.Name);
      });
      DeleteList.Add(folder + (found != entries.end() ? found->Name : std::string(name)));
    }
    // Names that differ only in letter case would meet in one library: such tables are left alone.
    std::map<std::string, std::vector<std::string>> byFolded;
    for (const auto& e : entries)
      if (!e.IsDirectory) byFolded[FoldCase(e.Name)].push_back(e.Name);
    for (const Pass& pass : kPasses) {
      for (const auto& e : entries) {
        if (e.IsDirectory || !MatchesMask(e.Name, pass.Mask)) continue;
        const std::string source = folder + e.Name;
        if (pass.SkipListed && DeleteList.IndexOf(source) >= 0) continue;
        ++tableIndex_;
        if (view_) view_->TableStarted(tableIndex_, std::max(totalTables_, tableIndex_), source);
        TConvertedTable report;
        const std::string target = ChangeFileExt(e.Name, pass.NewExtension);
        const auto& twins = byFolded[FoldCase(e.Name)];
        const auto& targetTwins = byFolded[FoldCase(target)];
        try {
          if (twins.size() > 1) {
            Memo1.Add(Format(kConvertingLine, source));
            throw Exception(Format("\"%s\" and \"%s\" differ only in letter case", folder + twins[0],
                                   folder + twins[1]));
          }
          if (targetTwins.size() > 1) {
            Memo1.Add(Format(kConvertingLine, source));
            throw Exception(Format("\"%s\" and \"%s\" differ only in letter case", folder + targetTwins[0],
                                   folder + targetTwins[1]));
          }
          ParadoxToABS(&Memo1, view_, folder, folder, e.Name, target, &report, Password);
        } catch (const std::exception& ex) {
          Memo1.Add(ErrorLine(ex.what()));
          ++report.Errors;
          report.Source = source;
          report.Target = folder + target;
          report.Outcome = TTableOutcome::Failed;
          report.Complete = false;
          report.Reason = ex.what();
        }
        if (report.Complete) {
          DeleteList.Add(source);
        } else if (DeleteOld && report.Outcome != TTableOutcome::NoLibraryType) {
          Memo1.Add(Format(kKeepingLine, source, report.Reason));
        }
        Tables.push_back(report);
        if (view_) view_->TableFinished(report);
      }
    }
  }
  if (!recursive) return;
  for (const auto& e : entries)
    if (e.IsDirectory && !e.IsLink && e.Name != "." && e.Name != "..") ConvertLibs(folder + e.Name + "/", recursive);
}

bool ConvertParadoxFiles(const std::string& Folder, bool Recursive, bool DeleteOld) {
  return ConvertParadoxFiles(Folder, Recursive, DeleteOld, nullptr, nullptr);
}

bool ConvertParadoxFiles(const std::string& Folder, bool Recursive, bool DeleteOld, TConversionView* view,
                         TConversionSummary* summary, const std::string& password) {
  TConvParadox form(view);
  form.Recursive = Recursive;
  form.DeleteOld = DeleteOld;
  form.Password = password;
  form.Folder = IncludeTrailingPathDelimiter(Folder);
  // One run at a time per folder, deletion included.
  const FolderLock lock(form.Folder);
  if (view) {
    view->Show(TConvParadox::Caption);
    view->SetFolderText(Format(kFolderLine, form.Folder));
    view->SetFileText("");
    view->SetBusy(true);
  }
  const std::string separator(75, '-');
  std::string errorText;
  try {
    std::int32_t d, m, y;
    DateToDMY(ProgramDate(), d, m, y);
    double programDate = 0;
    const std::string dateText = TryEncodeDate(y, m, d, programDate) ? DateToStr(programDate) : std::string();
    form.Memo1.Add(DateTimeToStr(Now()) + " " + ProductName() + " " + VersionKey() + "/" + dateText + ": " +
                   TConvParadox::Caption);
    form.Memo1.Add(separator);
    form.ConvertLibs(form.Folder, form.Recursive);
    form.Memo1.Add(separator);
  } catch (const std::exception& e) {
    errorText = std::string("Error: ") + e.what();
    form.Memo1.Add(errorText);
    form.Memo1.Add(separator);
    form.DeleteOld = false;
  }
  if (form.DeleteOld) {
    for (int i = 0; i < form.DeleteList.Count(); ++i) {
      const std::string& entry = form.DeleteList[i];
      form.Memo1.Add(Format(kDeletingLine, entry));
      DeleteTableFiles(entry);
    }
    form.Memo1.Add(separator);
  }
  const std::string logFile = form.Folder + "Convert.log";
  std::string logError;
  {
    errno = 0;
    std::ofstream out(logFile, std::ios::binary | std::ios::app);
    if (!out) {
      logError = errno != 0 ? std::strerror(errno) : "the file cannot be opened";
      if (view) view->ShowMessage("Error writing to " + logFile + "\r\n" + logError);
    } else {
      out << form.Memo1.Text() << '\n';
      out.close();
      if (!out) logError = "the log could not be written completely";
    }
  }
  if (!errorText.empty() && view) view->ShowMessage(errorText);
  if (view) {
    view->SetBusy(false);
    view->Hide();
  }
  if (summary) {
    summary->Tables = form.Tables;
    summary->LogFile = logFile;
    summary->ErrorText = errorText;
    summary->LogError = logError;
    summary->ErrorLines = 0;
    for (const auto& item : form.Memo1.Lines())
      if (IsErrorLine(item.Text)) ++summary->ErrorLines;
  }
  return true;
}

std::string ConvertedFileName(const std::string& ParadoxName) {
  for (const Pass& pass : kPasses)
    if (MatchesMask(ParadoxName, pass.Mask)) return ChangeFileExt(ParadoxName, pass.NewExtension);
  return {};
}

bool NeverConverted(const std::string& ParadoxName) {
  return std::any_of(std::begin(kNeverConverted), std::end(kNeverConverted),
                     [&](const char* n) { return SameTextFolded(n, ParadoxName); });
}

std::vector<std::string> CompanionFiles(const std::string& TablePath) {
  const fs::path p(TablePath);
  std::vector<std::string> wanted;
  for (const auto& ext : CompanionExtensions()) wanted.push_back(FoldCase(p.stem().string() + ext));
  std::vector<std::string> found;
  std::error_code ec;
  for (fs::directory_iterator it(p.parent_path(), ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (std::find(wanted.begin(), wanted.end(), FoldCase(name)) != wanted.end()) found.push_back(name);
  }
  std::sort(found.begin(), found.end());
  return found;
}

}  // namespace vez
